#pragma once
// Portable pieces of the Version page: the texts it shows and the command
// line of the link fallback. No platform headers; the page's Win32 code
// gathers the inputs and hands the results to the controls.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qx {

// Paths, file-time texts and link texts, terminator included.
constexpr std::size_t kVersionTextChars = 260;
// The fallback command line, terminator included.
constexpr std::size_t kCommandLineChars = 520;

// The local date and time of a file's last write; all zero when unknown.
struct FileDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};

// "%4d/%02d/%02d %02d:%02d"; a zero record gives "   0/00/00 00:00".
std::u16string FormatFileTimeText(const FileDateTime& time);

// The gamma table name field of "QX748.BIN".
constexpr std::uint32_t kGammaNameOffset = 5910;
constexpr std::size_t kGammaNameBytes = 128;
using GammaNameField = std::array<std::uint8_t, kGammaNameBytes>;

// The field as read: `count` bytes from `bytes` (a short file gives fewer),
// the bytes the file did not supply are zero.
GammaNameField GammaFieldFromRead(const std::uint8_t* bytes, std::size_t count);

// Bytes of the name: those before the field's first NUL, all 128 when it
// has none. (In an ANSI code page a NUL byte is never part of a multi-byte
// character, so cutting before the conversion gives the same text.)
std::size_t GammaNameLength(const GammaNameField& field);

// The registry may hand back a string without its terminator, with an odd
// byte count or with bytes after an embedded NUL. Gives the length of the
// string that `dataBytes` bytes of UTF-16LE data hold (up to the first NUL),
// or nothing when that string and a terminator do not fit in
// `capacityChars` characters.
std::optional<std::size_t> RegistryStringLength(const std::uint8_t* data, std::size_t dataBytes,
                                                std::size_t capacityChars);

// The command line that opens `link` through the registered HTML command:
// cut at a quoted "%1" (at its opening quote), else at a bare %1 (at the
// percent sign), else kept whole; then a space and the link, unquoted.
// Nothing when the result and its terminator exceed kCommandLineChars.
std::optional<std::u16string> BuildFallbackCommandLine(std::u16string_view registered,
                                                       std::u16string_view link);

}  // namespace qx
