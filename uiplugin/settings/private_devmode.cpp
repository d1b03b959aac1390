// The private device-mode block and its four requests, on raw bytes.
#include "uiplugin/settings/private_devmode.h"

#include <cstring>

#include "uiplugin/settings/devmode_fields.h"
#include "uiplugin/settings/le_bytes.h"

namespace qx {

const CorrectionSettings ConversionDefaults{};

namespace {

using Bytes = unsigned char *;
using ConstBytes = const unsigned char *;

void WriteHeader(Bytes r) {
    StoreU32(r + pdm::kSize, kPrivateDevModeSize);
    StoreU32(r + pdm::kSignature, kPrivateDevModeSignature);
    StoreU32(r + pdm::kVersion, kPrivateDevModeVersion);
}

}  // namespace

CorrectionSettings ReadCorrectionSettings(const void *bytes40) {
    auto b = static_cast<ConstBytes>(bytes40);
    CorrectionSettings s;
    s.brightness = LoadI16(b + offsetof(CorrectionSettings, brightness));
    s.contrast = LoadI16(b + offsetof(CorrectionSettings, contrast));
    s.saturation = LoadI16(b + offsetof(CorrectionSettings, saturation));
    s.cyanRed = LoadI16(b + offsetof(CorrectionSettings, cyanRed));
    s.magentaGreen = LoadI16(b + offsetof(CorrectionSettings, magentaGreen));
    s.yellowBlue = LoadI16(b + offsetof(CorrectionSettings, yellowBlue));
    s.sharpness = LoadU16(b + offsetof(CorrectionSettings, sharpness));
    s.reserved = LoadU16(b + offsetof(CorrectionSettings, reserved));
    s.unsharpMask = LoadI32(b + offsetof(CorrectionSettings, unsharpMask));
    s.unsharpAmount = LoadI16(b + offsetof(CorrectionSettings, unsharpAmount));
    s.unsharpRadius = LoadI16(b + offsetof(CorrectionSettings, unsharpRadius));
    s.unsharpThreshold = LoadI16(b + offsetof(CorrectionSettings, unsharpThreshold));
    s.resize = LoadI16(b + offsetof(CorrectionSettings, resize));
    s.naturalColor = LoadI32(b + offsetof(CorrectionSettings, naturalColor));
    s.orderId = LoadI32(b + offsetof(CorrectionSettings, orderId));
    s.orderIdEnabled = LoadI32(b + offsetof(CorrectionSettings, orderIdEnabled));
    return s;
}

void WriteCorrectionSettings(const CorrectionSettings &s, void *bytes40) {
    auto b = static_cast<Bytes>(bytes40);
    StoreI16(b + offsetof(CorrectionSettings, brightness), s.brightness);
    StoreI16(b + offsetof(CorrectionSettings, contrast), s.contrast);
    StoreI16(b + offsetof(CorrectionSettings, saturation), s.saturation);
    StoreI16(b + offsetof(CorrectionSettings, cyanRed), s.cyanRed);
    StoreI16(b + offsetof(CorrectionSettings, magentaGreen), s.magentaGreen);
    StoreI16(b + offsetof(CorrectionSettings, yellowBlue), s.yellowBlue);
    StoreU16(b + offsetof(CorrectionSettings, sharpness), s.sharpness);
    StoreU16(b + offsetof(CorrectionSettings, reserved), s.reserved);
    StoreI32(b + offsetof(CorrectionSettings, unsharpMask), s.unsharpMask);
    StoreI16(b + offsetof(CorrectionSettings, unsharpAmount), s.unsharpAmount);
    StoreI16(b + offsetof(CorrectionSettings, unsharpRadius), s.unsharpRadius);
    StoreI16(b + offsetof(CorrectionSettings, unsharpThreshold), s.unsharpThreshold);
    StoreI16(b + offsetof(CorrectionSettings, resize), s.resize);
    StoreI32(b + offsetof(CorrectionSettings, naturalColor), s.naturalColor);
    StoreI32(b + offsetof(CorrectionSettings, orderId), s.orderId);
    StoreI32(b + offsetof(CorrectionSettings, orderIdEnabled), s.orderIdEnabled);
}

PrivateDevMode ReadPrivateDevMode(const void *bytes576) {
    auto b = static_cast<ConstBytes>(bytes576);
    PrivateDevMode r;
    r.dwSize = LoadU32(b + pdm::kSize);
    r.dwSignature = LoadU32(b + pdm::kSignature);
    r.dwVersion = LoadU32(b + pdm::kVersion);
    r.settings = ReadCorrectionSettings(b + pdm::kSettings);
    for (size_t i = 0; i < kPreviewPathChars; ++i)
        r.previewImagePath[i] = static_cast<char16_t>(LoadU16(b + pdm::kPreviewImagePath + 2 * i));
    r.appliedFlag = LoadU32(b + pdm::kAppliedFlag);
    return r;
}

void WritePrivateDevMode(const PrivateDevMode &r, void *bytes576) {
    auto b = static_cast<Bytes>(bytes576);
    StoreU32(b + pdm::kSize, r.dwSize);
    StoreU32(b + pdm::kSignature, r.dwSignature);
    StoreU32(b + pdm::kVersion, r.dwVersion);
    WriteCorrectionSettings(r.settings, b + pdm::kSettings);
    for (size_t i = 0; i < kPreviewPathChars; ++i)
        StoreU16(b + pdm::kPreviewImagePath + 2 * i, static_cast<uint16_t>(r.previewImagePath[i]));
    StoreU32(b + pdm::kAppliedFlag, r.appliedFlag);
}

PrivateDevMode DefaultPrivateDevMode() {
    unsigned char bytes[kPrivateDevModeSize] = {};
    WritePrivateDevModeDefaults(bytes);
    return ReadPrivateDevMode(bytes);
}

void WritePrivateDevModeDefaults(void *record576) {
    auto r = static_cast<Bytes>(record576);
    // Only these words: the sliders' fields, reserved, resize and the path
    // keep whatever the driver's buffer held.
    StoreI32(r + pdm::kSetting(offsetof(CorrectionSettings, unsharpMask)), 0);
    StoreI32(r + pdm::kSetting(offsetof(CorrectionSettings, naturalColor)), 0);
    StoreI32(r + pdm::kSetting(offsetof(CorrectionSettings, orderId)), 0);
    StoreI32(r + pdm::kSetting(offsetof(CorrectionSettings, orderIdEnabled)), 0);
    WriteHeader(r);
    StoreI16(r + pdm::kSetting(offsetof(CorrectionSettings, unsharpAmount)), 5);
    StoreI16(r + pdm::kSetting(offsetof(CorrectionSettings, unsharpRadius)), 10);
    StoreI16(r + pdm::kSetting(offsetof(CorrectionSettings, unsharpThreshold)), 5);
    StoreU32(r + pdm::kAppliedFlag, 1);
}

void WritePublicDevModeDefaults(void *publicDevMode) {
    auto dm = static_cast<Bytes>(publicDevMode);
    StoreI16(dm + kDmOrientationOffset, kDmOrientLandscape);
    // A device name beginning with a backslash (a connection to a server's
    // printer) keeps its driver-defined paper.
    const bool serverName = LoadU16(dm + kDmDeviceNameOffset) == u'\\';
    if (LoadI16(dm + kDmPaperSizeOffset) >= kDmPaperUser && !serverName)
        StoreI16(dm + kDmPaperSizeOffset, kDmPaperA4);
}

bool ConvertPrivateDevMode(const void *in, void *out) {
    if (in == nullptr || out == nullptr) return false;
    auto src = static_cast<ConstBytes>(in);
    auto dst = static_cast<Bytes>(out);
    if (LoadU32(src + pdm::kSignature) == LoadU32(dst + pdm::kSignature)) {
        uint32_t n = LoadU32(src + pdm::kSize);
        const uint32_t outSize = LoadU32(dst + pdm::kSize);
        if (outSize < n) n = outSize;
        // Neither dwSize may take the copy past our own record.
        if (n > kPrivateDevModeSize) n = kPrivateDevModeSize;
        std::memmove(dst, src, n);
        StoreU32(dst + pdm::kSize, kPrivateDevModeSize);
        StoreU32(dst + pdm::kVersion, kPrivateDevModeVersion);
    } else {
        WriteHeader(dst);
        WriteCorrectionSettings(ConversionDefaults, dst + pdm::kSettings);
    }
    return true;
}

bool ValidatePrivateDevMode(void *record) {
    if (record == nullptr) return false;
    auto r = static_cast<Bytes>(record);
    WriteHeader(r);
    for (size_t i = 0; i < kPrivateDevModeFieldCount; ++i) {
        const FieldInfo &f = kPrivateDevModeFields[i];
        const bool inSettings = f.offset >= pdm::kSettings && f.offset < pdm::kPreviewImagePath;
        if (!inSettings || !f.ranged) continue;
        const int64_t v = ReadFieldValue(r, f);
        if (v >= f.min && v <= f.max) continue;
        // Every replacement is the field's default.
        if (f.width == 2)
            StoreU16(r + f.offset, static_cast<uint16_t>(f.defaultValue));
        else
            StoreU32(r + f.offset, static_cast<uint32_t>(f.defaultValue));
    }
    return true;
}

bool RunDevModeRequest(uint32_t code, DevModeRequest &request) {
    switch (code) {
    case kDevModeSize:
        request.bufSize = kPrivateDevModeSize;
        return true;
    case kDevModeDefault:
        // The host always passes both records; a null one is skipped
        // rather than written through.
        if (request.privateOut != nullptr) WritePrivateDevModeDefaults(request.privateOut);
        if (request.publicDMIn != nullptr) WritePublicDevModeDefaults(request.publicDMIn);
        return true;
    case kDevModeConvert:
        ConvertPrivateDevMode(request.privateIn, request.privateOut);
        return true;
    case kDevModeMerge:
        ConvertPrivateDevMode(request.privateIn, request.privateOut);
        ValidatePrivateDevMode(request.privateOut);
        return true;
    default:
        return false;
    }
}

std::optional<size_t> FindPrivateDevMode(const void *data, size_t size, size_t from) {
    auto b = static_cast<ConstBytes>(data);
    if (b == nullptr || size < kPrivateDevModeSize) return std::nullopt;
    for (size_t off = from; off <= size - kPrivateDevModeSize; ++off) {
        if (LoadU32(b + off + pdm::kSize) == kPrivateDevModeSize &&
            LoadU32(b + off + pdm::kSignature) == kPrivateDevModeSignature)
            return off;
    }
    return std::nullopt;
}

}  // namespace qx
