#pragma once
// Field metadata of the PrivateDevMode: the single description of every
// field (name, place, width, signedness, valid range, default, meaning) that
// the validation, `qx748 devmode show` and the integration documentation use.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qx {

enum class FieldType : uint8_t {
    U32,
    I32,
    U16,
    I16,
    Utf16Path,  // 260 UTF-16 units, NUL-terminated
    Carried,    // 16 bits with no meaning of their own, never checked
};

struct FieldInfo {
    const char *name;
    uint32_t offset;  // within the record
    uint32_t width;   // bytes
    FieldType type;
    bool hex;     // shown in hexadecimal
    bool ranged;  // false: any value is valid
    int64_t min;
    int64_t max;
    bool hasDefault;       // the default record's value (path: 0 = empty)
    int64_t defaultValue;
    const char *meaning;
};

extern const FieldInfo kPrivateDevModeFields[];
extern const size_t kPrivateDevModeFieldCount;

// The field's value compared as its type says (sign-extended or not).
// Integer types only.
int64_t ReadFieldValue(const void *record576, const FieldInfo &field);
// Whether the field holds a valid value: integers against their range, the
// path must be terminated within its 260 units; Carried fields always are.
bool FieldIsValid(const void *record576, const FieldInfo &field);
// Valid range as text: "-10..10", "576", "0x4E43504C", "any", ...
std::string FieldRangeText(const FieldInfo &field);
// The preview path as UTF-8 (up to the terminator or the field's end;
// unpaired surrogates become U+FFFD).
std::string PreviewPathUtf8(const void *record576);

}  // namespace qx
