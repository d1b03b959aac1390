// .COL files chosen by the user: the decoder, the writer on what it read,
// and the CLI's settings resolution (.COL as the page's controls show it,
// then --set words) feeding the corrections of a small picture.
//
// Input: the file's bytes; after the 44th, lines of NAME=VALUE that are
// passed as --set (at most four).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "tools/qx748/cli.h"
#include "tools/qx748/settings_args.h"
#include "uiplugin/correction/picture/col_file.h"
#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/settings/le_bytes.h"

namespace {

using namespace qx;
using qx::fuzz::Exact;

std::string TempPath() {
    static const std::string path = [] {
        const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/qx748-fuzz-col-" + std::to_string(getpid()) + ".col";
    }();
    return path;
}

bool Same(const CorrectionSettings &a, const CorrectionSettings &b) {
    uint8_t x[40], y[40];
    WriteCorrectionSettings(a, x);
    WriteCorrectionSettings(b, y);
    return std::memcmp(x, y, 40) == 0;
}

// A 9 x 5 picture (stride 28) from fixed bytes, corrected with `s`.
void Correct(const CorrectionSettings &s, bool expectOk) {
    uint8_t pixels[28 * 5];
    for (size_t i = 0; i < sizeof pixels; ++i) pixels[i] = static_cast<uint8_t>(i * 37 + 11);
    const bool ok = CorrectPicture(s, pixels, 9, 5, 28);
    if (expectOk) QX_FUZZ_CHECK(ok);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto file = Exact(data, size, size);
    CorrectionSettings decoded{};
    const ColError e = DecodeColorCorrectionFile(file.get(), size, &decoded);
    QX_FUZZ_CHECK(DescribeColError(e) != nullptr);
    const bool header = size >= 4 && LoadU16(file.get()) == 44 && LoadU16(file.get() + 2) == 100;
    if (size < 4) QX_FUZZ_CHECK(e == ColError::kTooShort);
    else if (!header) QX_FUZZ_CHECK(e == ColError::kWrongHeader);
    else QX_FUZZ_CHECK(e == (size < 44 ? ColError::kTooShort : ColError::kNone));

    if (e == ColError::kNone) {
        CorrectionSettings expected = ReadCorrectionSettings(file.get() + 4);
        expected.reserved = 0;
        QX_FUZZ_CHECK(Same(decoded, expected));
        const auto written = EncodeColorCorrectionFile(decoded);
        for (size_t i = 0; i < 44; ++i) QX_FUZZ_CHECK(written[i] == (i == 18 || i == 19 ? 0 : file[i]));
        CorrectionSettings back{};
        QX_FUZZ_CHECK(DecodeColorCorrectionFile(written.data(), written.size(), &back) == ColError::kNone);
        QX_FUZZ_CHECK(Same(back, decoded));
        // The stored values as they are, out of range or not: the
        // corrections must stay inside their buffers (they may decline).
        Correct(decoded, false);
    }

    // qx748 --settings FILE.COL [--set ...].
    cli::SettingsArgs args;
    args.settingsFile = TempPath();
    if (size > 44) {
        std::string rest(reinterpret_cast<const char *>(file.get() + 44), size - 44);
        size_t start = 0;
        while (args.sets.size() < 4 && start <= rest.size()) {
            size_t nl = rest.find('\n', start);
            if (nl == std::string::npos) nl = rest.size();
            std::string word = rest.substr(start, nl - start);
            if (word.find('\0') == std::string::npos) args.sets.push_back(word);
            start = nl + 1;
        }
    }
    std::FILE *f = std::fopen(args.settingsFile.c_str(), "wb");
    QX_FUZZ_CHECK(f != nullptr);
    QX_FUZZ_CHECK(std::fwrite(file.get(), 1, size, f) == size);
    std::fclose(f);
    bool resolved = false;
    CorrectionSettings s{};
    try {
        s = cli::ResolveSettings(args, "correct");
        resolved = true;
    } catch (const cli::Error &) {
    }
    std::remove(args.settingsFile.c_str());
    if (e != ColError::kNone) QX_FUZZ_CHECK(!resolved);
    if (!resolved) return 0;
    // Whatever the file held, the settings the corrections read are in range.
    for (int16_t v : {s.brightness, s.contrast, s.saturation, s.cyanRed, s.magentaGreen, s.yellowBlue, s.resize})
        QX_FUZZ_CHECK(v >= -10 && v <= 10);
    QX_FUZZ_CHECK(s.sharpness <= 7);
    QX_FUZZ_CHECK(s.unsharpAmount >= 0 && s.unsharpAmount <= 12);
    QX_FUZZ_CHECK(s.unsharpRadius >= 1 && s.unsharpRadius <= 30);
    QX_FUZZ_CHECK(s.unsharpThreshold >= 0 && s.unsharpThreshold <= 20);
    if (args.sets.empty()) QX_FUZZ_CHECK(s.unsharpMask == 0 || s.unsharpMask == 1);
    Correct(s, true);
    return 0;
}
