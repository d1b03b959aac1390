#include "uiplugin/version/version_core.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qx {

std::u16string FormatFileTimeText(const FileDateTime& time) {
    // Every field is a platform WORD, so the longest text is well under the
    // page's 260 characters; the buffer only needs room for that.
    char text[64];
    int n = std::snprintf(text, sizeof text, "%4d/%02d/%02d %02d:%02d", time.year, time.month,
                          time.day, time.hour, time.minute);
    if (n < 0) return u"";
    std::size_t length = std::min(static_cast<std::size_t>(n), sizeof text - 1);
    return std::u16string(text, text + length);
}

GammaNameField GammaFieldFromRead(const std::uint8_t* bytes, std::size_t count) {
    GammaNameField field{};
    if (bytes != nullptr) std::memcpy(field.data(), bytes, std::min(count, field.size()));
    return field;
}

std::size_t GammaNameLength(const GammaNameField& field) {
    const void* nul = std::memchr(field.data(), 0, field.size());
    if (nul == nullptr) return field.size();
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - field.data());
}

std::optional<std::size_t> RegistryStringLength(const std::uint8_t* data, std::size_t dataBytes,
                                                std::size_t capacityChars) {
    std::size_t units = dataBytes / 2;  // a stray odd byte is no character
    std::size_t length = 0;
    while (length < units) {
        std::uint16_t unit = static_cast<std::uint16_t>(data[2 * length] | (data[2 * length + 1] << 8));
        if (unit == 0) break;
        ++length;
    }
    if (length >= capacityChars) return std::nullopt;
    return length;
}

std::optional<std::u16string> BuildFallbackCommandLine(std::u16string_view registered,
                                                       std::u16string_view link) {
    std::size_t cut = registered.find(u"\"%1\"");
    if (cut == std::u16string_view::npos) cut = registered.find(u"%1");
    std::u16string_view kept = registered.substr(0, cut);  // npos keeps it whole

    if (kept.size() + 1 + link.size() + 1 > kCommandLineChars) return std::nullopt;
    std::u16string line;
    line.reserve(kept.size() + 1 + link.size());
    line.append(kept);
    line.push_back(u' ');
    line.append(link);
    return line;
}

}  // namespace qx
