// The PrivateDevMode field table and the readers that interpret it.
#include "uiplugin/settings/devmode_fields.h"

#include <cstdio>

#include "uiplugin/settings/le_bytes.h"
#include "uiplugin/settings/private_devmode.h"

namespace qx {

namespace {

constexpr uint32_t Set(size_t blockOffset) { return static_cast<uint32_t>(pdm::kSetting(blockOffset)); }
#define QX_SETTING(member) Set(offsetof(CorrectionSettings, member))

constexpr int64_t kNone = 0;

}  // namespace

// name, offset, width, type, hex, ranged, min, max, hasDefault, default, meaning
const FieldInfo kPrivateDevModeFields[] = {
    {"dwSize", pdm::kSize, 4, FieldType::U32, false, true, 576, 576, true, 576, "size of the block in bytes"},
    {"dwSignature", pdm::kSignature, 4, FieldType::U32, true, true, kPrivateDevModeSignature,
     kPrivateDevModeSignature, true, kPrivateDevModeSignature, "plug-in signature, stored as the letters L, P, C, N"},
    {"dwVersion", pdm::kVersion, 4, FieldType::U32, false, true, 1, 1, true, 1, "layout version"},
    {"brightness", QX_SETTING(brightness), 2, FieldType::I16, false, true, -10, 10, true, 0, "brightness step"},
    {"contrast", QX_SETTING(contrast), 2, FieldType::I16, false, true, -10, 10, true, 0, "contrast step"},
    {"saturation", QX_SETTING(saturation), 2, FieldType::I16, false, true, -10, 10, true, 0, "saturation step"},
    {"cyanRed", QX_SETTING(cyanRed), 2, FieldType::I16, false, true, -10, 10, true, 0,
     "colour balance, cyan (negative) to red (positive)"},
    {"magentaGreen", QX_SETTING(magentaGreen), 2, FieldType::I16, false, true, -10, 10, true, 0,
     "colour balance, magenta (negative) to green (positive)"},
    {"yellowBlue", QX_SETTING(yellowBlue), 2, FieldType::I16, false, true, -10, 10, true, 0,
     "colour balance, yellow (negative) to blue (positive)"},
    {"sharpness", QX_SETTING(sharpness), 2, FieldType::U16, false, true, 0, 7, true, 0, "sharpness level, 0 = off"},
    {"reserved", QX_SETTING(reserved), 2, FieldType::Carried, true, false, kNone, kNone, false, kNone,
     "no meaning of its own; carried with the block"},
    {"unsharpMask", QX_SETTING(unsharpMask), 4, FieldType::I32, false, false, kNone, kNone, true, 0,
     "unsharp mask switch: 1 = on, any other value = off"},
    {"unsharpAmount", QX_SETTING(unsharpAmount), 2, FieldType::I16, false, true, 0, 12, true, 5,
     "unsharp strength index, amount x 25 + 25 percent"},
    {"unsharpRadius", QX_SETTING(unsharpRadius), 2, FieldType::I16, false, true, 1, 30, true, 10,
     "unsharp radius in tenths of a pixel"},
    {"unsharpThreshold", QX_SETTING(unsharpThreshold), 2, FieldType::I16, false, true, 0, 20, true, 5,
     "unsharp threshold in levels"},
    {"resize", QX_SETTING(resize), 2, FieldType::I16, false, true, -10, 10, true, 0,
     "size correction step, shown as resize + 100"},
    {"naturalColor", QX_SETTING(naturalColor), 4, FieldType::I32, false, false, kNone, kNone, true, 0,
     "natural colour switch, 0 or 1"},
    {"orderId", QX_SETTING(orderId), 4, FieldType::I32, false, true, 0, 1000, true, 0, "order identifier"},
    {"orderIdEnabled", QX_SETTING(orderIdEnabled), 4, FieldType::I32, false, false, kNone, kNone, true, 0,
     "order identifier switch, 0 or 1"},
    {"previewImagePath", pdm::kPreviewImagePath, 2 * kPreviewPathChars, FieldType::Utf16Path, false, true, 0,
     static_cast<int64_t>(kPreviewPathChars - 1), true, 0,
     "full path of the preview picture; empty = built-in picture"},
    {"appliedFlag", pdm::kAppliedFlag, 4, FieldType::U32, false, false, kNone, kNone, true, 1,
     "set to 1 when the document properties are applied"},
};
#undef QX_SETTING

const size_t kPrivateDevModeFieldCount = sizeof(kPrivateDevModeFields) / sizeof(kPrivateDevModeFields[0]);

int64_t ReadFieldValue(const void *record576, const FieldInfo &field) {
    auto p = static_cast<const unsigned char *>(record576) + field.offset;
    switch (field.type) {
    case FieldType::U32: return LoadU32(p);
    case FieldType::I32: return LoadI32(p);
    case FieldType::U16: return LoadU16(p);
    case FieldType::I16: return LoadI16(p);
    case FieldType::Carried: return LoadU16(p);
    case FieldType::Utf16Path: break;
    }
    return 0;
}

namespace {

// Units before the terminator, or kPreviewPathChars when there is none.
size_t PathLength(const unsigned char *path) {
    size_t n = 0;
    while (n < kPreviewPathChars && LoadU16(path + 2 * n) != 0) ++n;
    return n;
}

void AppendUtf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Number(const FieldInfo &field, int64_t v) {
    char buf[32];
    if (field.hex)
        std::snprintf(buf, sizeof buf, "0x%0*llX", static_cast<int>(field.width * 2), static_cast<unsigned long long>(v));
    else
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
    return buf;
}

}  // namespace

bool FieldIsValid(const void *record576, const FieldInfo &field) {
    if (field.type == FieldType::Utf16Path)
        return PathLength(static_cast<const unsigned char *>(record576) + field.offset) < kPreviewPathChars;
    if (!field.ranged) return true;
    const int64_t v = ReadFieldValue(record576, field);
    return v >= field.min && v <= field.max;
}

std::string FieldRangeText(const FieldInfo &field) {
    if (field.type == FieldType::Utf16Path) return "NUL-terminated, at most 259 characters";
    if (!field.ranged) return "any";
    if (field.min == field.max) return Number(field, field.min);
    return Number(field, field.min) + ".." + Number(field, field.max);
}

std::string PreviewPathUtf8(const void *record576) {
    auto path = static_cast<const unsigned char *>(record576) + pdm::kPreviewImagePath;
    const size_t n = PathLength(path);
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        uint32_t u = LoadU16(path + 2 * i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const uint32_t lo = LoadU16(path + 2 * (i + 1));
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}

}  // namespace qx
