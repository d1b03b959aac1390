#pragma once
// The plug-in's private device-mode block: a stored format that travels in
// every document's device mode and is read by the print-time components.
// Little-endian, fixed layout; the offsets below are binding.
#include <cstddef>
#include <cstdint>

namespace qx {

struct CorrectionSettings {
    int16_t brightness;        // -10..10, default 0
    int16_t contrast;          // -10..10
    int16_t saturation;        // -10..10
    int16_t cyanRed;           // -10..10
    int16_t magentaGreen;      // -10..10
    int16_t yellowBlue;        // -10..10
    uint16_t sharpness;        // 0..7
    uint16_t reserved;         // carried, never written by a control
    int32_t unsharpMask;       // 1 = on
    int16_t unsharpAmount;     // 0..12, default 5
    int16_t unsharpRadius;     // 1..30 tenths of a pixel, default 10
    int16_t unsharpThreshold;  // 0..20, default 5
    int16_t resize;            // -10..10
    int32_t naturalColor;      // 0 or 1
    int32_t orderId;           // 0..1000
    int32_t orderIdEnabled;    // 0 or 1
};
static_assert(sizeof(CorrectionSettings) == 40, "CorrectionSettings is 40 bytes");
static_assert(offsetof(CorrectionSettings, sharpness) == 12, "layout");
static_assert(offsetof(CorrectionSettings, reserved) == 14, "layout");
static_assert(offsetof(CorrectionSettings, unsharpMask) == 16, "layout");
static_assert(offsetof(CorrectionSettings, unsharpAmount) == 20, "layout");
static_assert(offsetof(CorrectionSettings, unsharpRadius) == 22, "layout");
static_assert(offsetof(CorrectionSettings, unsharpThreshold) == 24, "layout");
static_assert(offsetof(CorrectionSettings, resize) == 26, "layout");
static_assert(offsetof(CorrectionSettings, naturalColor) == 28, "layout");
static_assert(offsetof(CorrectionSettings, orderId) == 32, "layout");
static_assert(offsetof(CorrectionSettings, orderIdEnabled) == 36, "layout");

constexpr uint32_t kPrivateDevModeSize = 576;
constexpr uint32_t kPrivateDevModeSignature = 0x4E43504C;  // bytes "LPCN"
constexpr uint32_t kPrivateDevModeVersion = 1;
constexpr size_t kPreviewPathChars = 260;

struct PrivateDevMode {
    uint32_t dwSize;
    uint32_t dwSignature;
    uint32_t dwVersion;
    CorrectionSettings settings;
    char16_t previewImagePath[kPreviewPathChars];
    uint32_t appliedFlag;
};
static_assert(sizeof(PrivateDevMode) == 576, "PrivateDevMode is 576 bytes");
static_assert(offsetof(PrivateDevMode, settings) == 12, "layout");
static_assert(offsetof(PrivateDevMode, previewImagePath) == 52, "layout");
static_assert(offsetof(PrivateDevMode, appliedFlag) == 572, "layout");

}  // namespace qx
