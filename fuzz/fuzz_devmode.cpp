// Device-mode blocks from any application: the four requests on arbitrary
// input and output blocks, and the dump scanner of `qx748 devmode show`.
//
// Input: one byte of choices, the input block (its buffer exactly as long
// as its dwSize says, 12..576), the output block (576), the public device
// mode's bytes; the whole input is also scanned as a device-mode dump.
#include <cstring>
#include <string>

#include "fuzz/fuzz_common.h"
#include "tools/qx748/devmode_scan.h"
#include "uiplugin/settings/devmode_fields.h"
#include "uiplugin/settings/le_bytes.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using namespace qx;
using qx::fuzz::Exact;

constexpr size_t kRec = kPrivateDevModeSize;
constexpr size_t kPublicBytes = 220;  // DEVMODEW without driver extra

bool HeaderIsOurs(const uint8_t *r) {
    return LoadU32(r + pdm::kSize) == 576 && LoadU32(r + pdm::kSignature) == 0x4E43504C &&
           LoadU32(r + pdm::kVersion) == 1;
}

bool InSettings(const FieldInfo &f) { return f.offset >= pdm::kSettings && f.offset < pdm::kPreviewImagePath; }

bool IsHeaderByte(size_t i) { return i < pdm::kSettings; }

bool ValidUtf8(const std::string &s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

void CheckConvert(const uint8_t *in, const uint8_t *out0, const uint8_t *out) {
    QX_FUZZ_CHECK(LoadU32(out + pdm::kSize) == 576 && LoadU32(out + pdm::kVersion) == 1);
    const uint32_t inSig = LoadU32(in + pdm::kSignature);
    if (inSig == LoadU32(out0 + pdm::kSignature)) {
        uint32_t n = LoadU32(in + pdm::kSize);
        if (LoadU32(out0 + pdm::kSize) < n) n = LoadU32(out0 + pdm::kSize);
        if (n > kRec) n = kRec;
        for (size_t i = 0; i < kRec; ++i) {
            if (i < 4 || (i >= 8 && i < 12)) continue;  // dwSize, dwVersion rewritten
            QX_FUZZ_CHECK(out[i] == (i < n ? in[i] : out0[i]));
        }
    } else {
        QX_FUZZ_CHECK(HeaderIsOurs(out));
        for (size_t i = pdm::kSettings; i < pdm::kPreviewImagePath; ++i) QX_FUZZ_CHECK(out[i] == 0);
        QX_FUZZ_CHECK(std::memcmp(out + pdm::kPreviewImagePath, out0 + pdm::kPreviewImagePath,
                                  kRec - pdm::kPreviewImagePath) == 0);
    }
}

// The merge's result: our header, every ranged setting in range (kept when
// it was, its default when not), everything else as the conversion left it.
void CheckValidated(const uint8_t *converted, const uint8_t *merged) {
    QX_FUZZ_CHECK(HeaderIsOurs(merged));
    for (size_t i = 0; i < kPrivateDevModeFieldCount; ++i) {
        const FieldInfo &f = kPrivateDevModeFields[i];
        if (f.type == FieldType::Utf16Path || IsHeaderByte(f.offset)) continue;
        if (!InSettings(f) || !f.ranged) {
            QX_FUZZ_CHECK(std::memcmp(merged + f.offset, converted + f.offset, f.width) == 0);
            continue;
        }
        QX_FUZZ_CHECK(FieldIsValid(merged, f));
        const bool wasValid = FieldIsValid(converted, f);
        QX_FUZZ_CHECK(ReadFieldValue(merged, f) == (wasValid ? ReadFieldValue(converted, f) : f.defaultValue));
    }
    QX_FUZZ_CHECK(std::memcmp(merged + pdm::kPreviewImagePath, converted + pdm::kPreviewImagePath,
                              kRec - pdm::kPreviewImagePath) == 0);
}

void Requests(const uint8_t *data, size_t size) {
    qx::fuzz::Reader r(data, size);
    const uint8_t choice = r.Byte();
    const uint8_t *inBytes;
    const size_t inAvail = r.Take(kRec, &inBytes);
    const uint8_t *outBytes;
    const size_t outAvail = r.Take(kRec, &outBytes);
    const uint8_t *pubBytes;
    const size_t pubAvail = r.Take(kPublicBytes, &pubBytes);

    // The input block's buffer is as long as its own dwSize claims (the
    // header is always there); the output block is ours, 576 bytes.
    auto in576 = Exact(inBytes, inAvail, kRec);
    uint32_t inLen = LoadU32(in576.get() + pdm::kSize);
    if (inLen < 12) inLen = 12;
    if (inLen > kRec) inLen = kRec;
    auto in = Exact(inBytes, inAvail, inLen);
    auto out0 = Exact(outBytes, outAvail, kRec);
    if (choice & 1) {
        // Often the output holds a defaulted block, as the driver hands it.
        WritePrivateDevModeDefaults(out0.get());
        if (choice & 2) StoreU32(in.get() + pdm::kSignature, kPrivateDevModeSignature);
    }
    // For the checks: the input as far as it exists, zeros beyond.
    auto inView = Exact(in.get(), inLen, kRec);

    // Convert.
    auto converted = Exact(out0.get(), kRec, kRec);
    DevModeRequest req;
    req.privateIn = in.get();
    req.privateOut = converted.get();
    QX_FUZZ_CHECK(RunDevModeRequest(kDevModeConvert, req));
    CheckConvert(inView.get(), out0.get(), converted.get());

    // Merge = convert, then validate; validation is idempotent.
    auto merged = Exact(out0.get(), kRec, kRec);
    req.privateOut = merged.get();
    QX_FUZZ_CHECK(RunDevModeRequest(kDevModeMerge, req));
    CheckValidated(converted.get(), merged.get());
    auto again = Exact(merged.get(), kRec, kRec);
    QX_FUZZ_CHECK(ValidatePrivateDevMode(again.get()));
    QX_FUZZ_CHECK(std::memcmp(again.get(), merged.get(), kRec) == 0);
    QX_FUZZ_CHECK(ReadPrivateDevMode(merged.get()).dwSize == kPrivateDevModeSize);

    // Validation alone on the output as handed in.
    auto validated = Exact(out0.get(), kRec, kRec);
    QX_FUZZ_CHECK(ValidatePrivateDevMode(validated.get()));
    auto headerFixed = Exact(out0.get(), kRec, kRec);
    std::memcpy(headerFixed.get(), merged.get(), pdm::kSettings);
    CheckValidated(headerFixed.get(), validated.get());

    // One block as both input and output.
    auto same = Exact(in.get(), inLen, kRec);
    auto sameBefore = Exact(same.get(), kRec, kRec);
    QX_FUZZ_CHECK(ConvertPrivateDevMode(same.get(), same.get()));
    QX_FUZZ_CHECK(std::memcmp(same.get() + 12, sameBefore.get() + 12, kRec - 12) == 0);

    // A null block on either side writes nothing; merge still validates a
    // non-null output.
    auto untouched = Exact(out0.get(), kRec, kRec);
    QX_FUZZ_CHECK(!ConvertPrivateDevMode(nullptr, untouched.get()));
    QX_FUZZ_CHECK(!ConvertPrivateDevMode(in.get(), nullptr));
    QX_FUZZ_CHECK(std::memcmp(untouched.get(), out0.get(), kRec) == 0);
    DevModeRequest nullIn;
    nullIn.privateOut = untouched.get();
    QX_FUZZ_CHECK(RunDevModeRequest(kDevModeMerge, nullIn));
    QX_FUZZ_CHECK(std::memcmp(untouched.get(), validated.get(), kRec) == 0);

    // Default: only its own words of the private block, and orientation and
    // perhaps the paper of the public one.
    auto defaulted = Exact(out0.get(), kRec, kRec);
    auto pub0 = Exact(pubBytes, pubAvail, kPublicBytes);
    auto pub = Exact(pub0.get(), kPublicBytes, kPublicBytes);
    DevModeRequest def;
    def.privateOut = defaulted.get();
    def.publicDMIn = pub.get();
    QX_FUZZ_CHECK(RunDevModeRequest(kDevModeDefault, def));
    const PrivateDevMode full = DefaultPrivateDevMode();
    uint8_t fullBytes[kRec];
    WritePrivateDevMode(full, fullBytes);
    for (size_t i = 0; i < kRec; ++i) {
        const size_t s = i - pdm::kSettings;
        const bool written = i < pdm::kSettings || i >= pdm::kAppliedFlag ||
                             (i >= pdm::kSettings && s >= 16 && s < 26) || (i >= pdm::kSettings && s >= 28 && s < 40);
        QX_FUZZ_CHECK(defaulted[i] == (written ? fullBytes[i] : out0[i]));
    }
    QX_FUZZ_CHECK(LoadI16(pub.get() + kDmOrientationOffset) == kDmOrientLandscape);
    const int16_t paper0 = LoadI16(pub0.get() + kDmPaperSizeOffset);
    const bool server = LoadU16(pub0.get()) == u'\\';
    QX_FUZZ_CHECK(LoadI16(pub.get() + kDmPaperSizeOffset) == (paper0 >= 256 && !server ? kDmPaperA4 : paper0));
    for (size_t i = 0; i < kPublicBytes; ++i)
        if (i < kDmOrientationOffset || i >= kDmPaperSizeOffset + 2) QX_FUZZ_CHECK(pub[i] == pub0[i]);

    // Size and unknown codes touch nothing.
    auto quiet = Exact(out0.get(), kRec, kRec);
    DevModeRequest sz;
    sz.privateIn = in.get();
    sz.privateOut = quiet.get();
    sz.publicDMIn = pub.get();
    QX_FUZZ_CHECK(RunDevModeRequest(kDevModeSize, sz) && sz.bufSize == kRec);
    const uint32_t code = 5 + choice;
    QX_FUZZ_CHECK(!RunDevModeRequest(code == 0 ? 0 : code, sz));
    QX_FUZZ_CHECK(!RunDevModeRequest(0, sz));
    QX_FUZZ_CHECK(std::memcmp(quiet.get(), out0.get(), kRec) == 0);
}

void Scanner(const uint8_t *data, size_t size) {
    auto dump = Exact(data, size, size);
    qx::cli::DumpScan scan;
    const qx::cli::DumpScanResult result = qx::cli::ScanDevModeDump(dump.get(), size, scan);
    if (size < kRec) {
        QX_FUZZ_CHECK(result == qx::cli::DumpScanResult::kTooShort);
        return;
    }
    auto isHeader = [&](size_t off) {
        return LoadU32(dump.get() + off) == 576 && LoadU32(dump.get() + off + 4) == 0x4E43504C;
    };
    if (size == kRec) {
        QX_FUZZ_CHECK(result == qx::cli::DumpScanResult::kFound && scan.bare && scan.offset == 0);
    } else if (result == qx::cli::DumpScanResult::kNoBlock) {
        for (size_t off = 0; off + kRec <= size; ++off) QX_FUZZ_CHECK(!isHeader(off));
        return;
    } else {
        QX_FUZZ_CHECK(result == qx::cli::DumpScanResult::kFound && !scan.bare);
        QX_FUZZ_CHECK(scan.offset + kRec <= size && isHeader(scan.offset));
        for (size_t off = 0; off < scan.offset; ++off) QX_FUZZ_CHECK(!isHeader(off));
        size_t prev = scan.offset;
        for (size_t o : scan.others) {
            QX_FUZZ_CHECK(o > prev && o + kRec <= size && isHeader(o));
            for (size_t off = prev + 1; off < o; ++off) QX_FUZZ_CHECK(!isHeader(off));
            prev = o;
        }
        for (size_t off = prev + 1; off + kRec <= size; ++off) QX_FUZZ_CHECK(!isHeader(off));
    }
    // What `show` prints of the block found.
    const uint8_t *record = dump.get() + scan.offset;
    for (size_t i = 0; i < kPrivateDevModeFieldCount; ++i) {
        const FieldInfo &f = kPrivateDevModeFields[i];
        const bool valid = FieldIsValid(record, f);
        if (f.type != FieldType::Utf16Path) {
            const int64_t v = ReadFieldValue(record, f);
            if (f.ranged) QX_FUZZ_CHECK(valid == (v >= f.min && v <= f.max));
        }
        QX_FUZZ_CHECK(!FieldRangeText(f).empty());
    }
    const std::string path = PreviewPathUtf8(record);
    QX_FUZZ_CHECK(ValidUtf8(path) && path.size() <= 3 * kPreviewPathChars);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Requests(data, size);
    Scanner(data, size);
    return 0;
}
