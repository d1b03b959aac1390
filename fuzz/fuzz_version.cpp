// The Version page's inputs owned by others: the registry's HTML command
// and string values, the gamma name field of the data file, file times.
//
// Input: one byte choosing the part, then that part's bytes.
#include <cstring>
#include <string>

#include "fuzz/fuzz_common.h"
#include "uiplugin/version/version_core.h"

namespace {

using qx::fuzz::Exact;

std::u16string Units(const uint8_t *data, size_t size) {
    std::u16string s;
    for (size_t i = 0; i + 1 < size; i += 2) s.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    return s;
}

// The registered command (may hold anything, NULs included) and the link,
// split at the first U+FFFF.
void CommandLine(const uint8_t *data, size_t size) {
    const std::u16string all = Units(data, size);
    const size_t split = all.find(u'\xFFFF');
    const std::u16string registered = all.substr(0, split);
    const std::u16string link = split == std::u16string::npos ? std::u16string() : all.substr(split + 1);
    const auto line = qx::BuildFallbackCommandLine(registered, link);

    size_t cut = registered.find(u"\"%1\"");
    if (cut == std::u16string::npos) cut = registered.find(u"%1");
    const std::u16string kept = registered.substr(0, cut);
    const bool fits = kept.size() + 1 + link.size() + 1 <= qx::kCommandLineChars;
    QX_FUZZ_CHECK(line.has_value() == fits);
    if (line) {
        QX_FUZZ_CHECK(*line == kept + u' ' + link);
        QX_FUZZ_CHECK(line->size() < qx::kCommandLineChars);
    }
}

// A registry string of any byte count, in a buffer exactly that long.
void RegistryString(const uint8_t *data, size_t size) {
    if (size == 0) return;
    const size_t capacity = data[0];
    auto bytes = Exact(data + 1, size - 1, size - 1);
    const auto len = qx::RegistryStringLength(bytes.get(), size - 1, capacity);
    size_t n = 0;
    while (n < (size - 1) / 2 && (bytes[2 * n] | bytes[2 * n + 1]) != 0) ++n;
    QX_FUZZ_CHECK(len.has_value() == (n < capacity));
    if (len) QX_FUZZ_CHECK(*len == n);
}

// The gamma name: whatever a read of the field delivered (possibly short).
void GammaName(const uint8_t *data, size_t size) {
    auto bytes = Exact(data, size, size);
    const qx::GammaNameField field = qx::GammaFieldFromRead(size == 0 ? nullptr : bytes.get(), size);
    const size_t n = size < qx::kGammaNameBytes ? size : qx::kGammaNameBytes;
    QX_FUZZ_CHECK(std::memcmp(field.data(), bytes.get(), n) == 0);
    for (size_t i = n; i < qx::kGammaNameBytes; ++i) QX_FUZZ_CHECK(field[i] == 0);
    const size_t len = qx::GammaNameLength(field);
    QX_FUZZ_CHECK(len <= qx::kGammaNameBytes);
    for (size_t i = 0; i < len; ++i) QX_FUZZ_CHECK(field[i] != 0);
    if (len < qx::kGammaNameBytes) QX_FUZZ_CHECK(field[len] == 0);
}

// File times: any values, the platform's WORD fields included.
void FileTime(const uint8_t *data, size_t size) {
    qx::fuzz::Reader r(data, size);
    qx::FileDateTime t;
    const bool words = r.Byte() & 1;
    int *fields[] = {&t.year, &t.month, &t.day, &t.hour, &t.minute};
    for (int *f : fields) *f = words ? static_cast<int>(r.U16()) : static_cast<int>(r.U32());
    const std::u16string text = qx::FormatFileTimeText(t);
    QX_FUZZ_CHECK(!text.empty() && text.size() < qx::kVersionTextChars);
    char expect[80];
    std::snprintf(expect, sizeof expect, "%4d/%02d/%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
    QX_FUZZ_CHECK(text == std::u16string(expect, expect + std::strlen(expect)));
    if (t.year >= 0 && t.year <= 9999 && t.month >= 0 && t.month <= 99 && t.day >= 0 && t.day <= 99 &&
        t.hour >= 0 && t.hour <= 99 && t.minute >= 0 && t.minute <= 99)
        QX_FUZZ_CHECK(text.size() == 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    switch (data[0] % 4) {
    case 0: CommandLine(data + 1, size - 1); break;
    case 1: RegistryString(data + 1, size - 1); break;
    case 2: GammaName(data + 1, size - 1); break;
    case 3: FileTime(data + 1, size - 1); break;
    }
    return 0;
}
