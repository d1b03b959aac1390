#pragma once
// The plug-in's private device-mode block: a stored format that travels in
// every document's device mode and is read by the print-time components.
// Little-endian, fixed layout; the offsets below are binding.
#include <cstddef>
#include <cstdint>
#include <optional>

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

// Byte offsets of the record's words, for code that works on raw buffers.
namespace pdm {
constexpr size_t kSize = offsetof(PrivateDevMode, dwSize);
constexpr size_t kSignature = offsetof(PrivateDevMode, dwSignature);
constexpr size_t kVersion = offsetof(PrivateDevMode, dwVersion);
constexpr size_t kSettings = offsetof(PrivateDevMode, settings);
constexpr size_t kPreviewImagePath = offsetof(PrivateDevMode, previewImagePath);
constexpr size_t kAppliedFlag = offsetof(PrivateDevMode, appliedFlag);
constexpr size_t kSetting(size_t blockOffset) { return kSettings + blockOffset; }
}  // namespace pdm

// The only bytes of the public DEVMODEW that the defaults touch (offsets
// are the same on x86 and x64; the record has no pointers).
constexpr size_t kDmDeviceNameOffset = 0;  // first UTF-16 unit of dmDeviceName
constexpr size_t kDmOrientationOffset = 76;
constexpr size_t kDmPaperSizeOffset = 78;
constexpr int16_t kDmOrientLandscape = 2;
constexpr int16_t kDmPaperA4 = 9;
constexpr int16_t kDmPaperUser = 256;

// Device-mode request codes (the platform's OEMDM_* values).
constexpr uint32_t kDevModeSize = 1;
constexpr uint32_t kDevModeDefault = 2;
constexpr uint32_t kDevModeConvert = 3;
constexpr uint32_t kDevModeMerge = 4;

// Settings a foreign block is converted to: all 40 bytes zero (not the
// defaults: the unsharp values are 0 here, 5/10/5 in the default record).
extern const CorrectionSettings ConversionDefaults;

// Field-by-field codec between the stored bytes and the structs.
CorrectionSettings ReadCorrectionSettings(const void *bytes40);
void WriteCorrectionSettings(const CorrectionSettings &settings, void *bytes40);
PrivateDevMode ReadPrivateDevMode(const void *bytes576);
void WritePrivateDevMode(const PrivateDevMode &record, void *bytes576);

// The complete default record (what OEMDM_DEFAULT yields on a zero-filled block).
PrivateDevMode DefaultPrivateDevMode();

// OEMDM_DEFAULT on the private block: writes header, unsharp values, the
// three 32-bit switches and appliedFlag; every other byte keeps its value.
void WritePrivateDevModeDefaults(void *record576);
// OEMDM_DEFAULT on the public DEVMODEW bytes: landscape, and A4 instead of a
// driver-defined paper unless the device name begins with a backslash.
void WritePublicDevModeDefaults(void *publicDevMode);

// Takes the values of `in` into `out` when both carry the same signature
// (copying at most the smaller dwSize, never more than 576 bytes), else
// resets `out`'s header and settings to ConversionDefaults. False (nothing
// written) when either is null. `in` and `out` may be the same block.
bool ConvertPrivateDevMode(const void *in, void *out);
// Rewrites the header and replaces out-of-range settings by their defaults.
// False for null.
bool ValidatePrivateDevMode(void *record);

// One device-mode request on raw buffers owned by the caller. Any pointer
// may be null; a null record is skipped. bufSize is in/out (OEMDM_SIZE
// sets it). Returns false, touching nothing, for an unknown request code.
struct DevModeRequest {
    void *publicDMIn = nullptr;      // DEVMODEW bytes
    const void *privateIn = nullptr;  // PrivateDevMode to take values from
    void *privateOut = nullptr;       // PrivateDevMode to write
    uint32_t bufSize = 0;
};
bool RunDevModeRequest(uint32_t code, DevModeRequest &request);

// Finds a private block (dwSize 576, our signature) inside a larger dump,
// searching byte offsets from `from`; the whole block must fit.
std::optional<size_t> FindPrivateDevMode(const void *data, size_t size, size_t from = 0);

}  // namespace qx
