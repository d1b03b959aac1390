// qx748 correct: applies to a whole 24-bit bitmap what the preview applies to
// its pixels, with settings from the defaults, a .COL file and --set.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/qx748/cli.h"
#include "uiplugin/correction/bmp_image.h"
#include "uiplugin/correction/col_file.h"
#include "uiplugin/correction/image_correction.h"
#include "uiplugin/settings/devmode_fields.h"
#include "uiplugin/settings/le_bytes.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using qx::cli::Error;

const char kCorrectHelp[] =
    "usage: qx748 correct [--settings FILE.COL] [--set NAME=VALUE ...] IN.bmp OUT.bmp\n"
    "\n"
    "Corrects the whole picture exactly as the Color correction preview corrects\n"
    "its pixels: the unsharp mask when unsharpMask is 1, then the sharpness\n"
    "filter with the tone lookup when sharpness AND 7 is not 0 and the picture is\n"
    "at least 3 x 3, else the tone lookup alone. No cut-out, no stretching.\n"
    "\n"
    "Settings start from the defaults, then take the .COL file's block (its\n"
    "values limited to the page's slider ranges, as loading it on the page\n"
    "does), then each --set in order. NAME is a CorrectionSettings field\n"
    "(brightness, contrast, saturation, cyanRed, magentaGreen, yellowBlue,\n"
    "sharpness, unsharpMask, unsharpAmount, unsharpRadius, unsharpThreshold,\n"
    "resize, naturalColor, orderId, orderIdEnabled, reserved); VALUE is an\n"
    "integer within the field's valid range.\n"
    "\n"
    "IN is an uncompressed 24-bit BMP, bottom-up or top-down, with an\n"
    "information header of 40 bytes or more. OUT gets 54-byte headers, the same\n"
    "width, height and row order. Errors exit with status 2; OUT is then not\n"
    "written (it is replaced through a temporary file only on success).\n";

constexpr size_t kSettingsBegin = qx::pdm::kSettings;
constexpr size_t kSettingsEnd = qx::pdm::kSettings + sizeof(qx::CorrectionSettings);

const qx::FieldInfo *FindSettingsField(const std::string &name) {
    for (size_t i = 0; i < qx::kPrivateDevModeFieldCount; ++i) {
        const qx::FieldInfo &f = qx::kPrivateDevModeFields[i];
        if (f.offset >= kSettingsBegin && f.offset < kSettingsEnd && name == f.name) return &f;
    }
    return nullptr;
}

int64_t ParseInteger(const std::string &text, const std::string &what) {
    if (text.empty()) throw Error(what + ": missing value");
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0') throw Error(what + ": '" + text + "' is not an integer");
    return v;
}

// --set NAME=VALUE on the 40-byte block, checked against the field's range
// (or, for fields without one, its width).
void ApplySet(const std::string &assignment, unsigned char *block) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos) throw Error("--set " + assignment + ": expected NAME=VALUE");
    const std::string name = assignment.substr(0, eq);
    const qx::FieldInfo *field = FindSettingsField(name);
    if (field == nullptr) throw Error("--set: unknown setting '" + name + "' (see qx748 correct --help)");
    const int64_t value = ParseInteger(assignment.substr(eq + 1), "--set " + name);
    int64_t min = 0, max = 0;
    if (field->ranged) {
        min = field->min, max = field->max;
    } else if (field->type == qx::FieldType::I32) {
        min = INT32_MIN, max = INT32_MAX;
    } else if (field->type == qx::FieldType::I16) {
        min = INT16_MIN, max = INT16_MAX;
    } else {
        min = 0, max = field->width == 2 ? UINT16_MAX : UINT32_MAX;
    }
    if (value < min || value > max)
        throw Error("--set " + name + ": " + std::to_string(value) + " is outside " + std::to_string(min) + ".." +
                    std::to_string(max));
    unsigned char *p = block + (field->offset - kSettingsBegin);
    if (field->width == 4)
        qx::StoreU32(p, static_cast<uint32_t>(value));
    else
        qx::StoreU16(p, static_cast<uint16_t>(value));
}

int16_t Limit(int16_t v, int16_t lo, int16_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// What the page's controls make of a loaded block: each slider clamps its
// value to its range, the check box reads back 1 or 0.
qx::CorrectionSettings AsTheControlsShowIt(qx::CorrectionSettings s) {
    for (int16_t *v : {&s.brightness, &s.contrast, &s.saturation, &s.cyanRed, &s.magentaGreen, &s.yellowBlue,
                       &s.resize})
        *v = Limit(*v, -10, 10);
    if (s.sharpness > 7) s.sharpness = 7;
    s.unsharpMask = s.unsharpMask == 1 ? 1 : 0;
    s.unsharpAmount = Limit(s.unsharpAmount, 0, 12);
    s.unsharpRadius = Limit(s.unsharpRadius, 1, 30);
    s.unsharpThreshold = Limit(s.unsharpThreshold, 0, 20);
    return s;
}

struct Arguments {
    std::string settingsFile;
    std::vector<std::string> sets;
    std::vector<std::string> files;
};

Arguments Parse(int argc, char **argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        auto value = [&](const char *option) {
            if (i + 1 >= argc) throw Error(std::string(option) + " needs a value");
            return std::string(argv[++i]);
        };
        if (word == "--settings") {
            if (!a.settingsFile.empty()) throw Error("--settings given twice");
            a.settingsFile = value("--settings");
        } else if (word == "--set") {
            a.sets.push_back(value("--set"));
        } else if (word.size() > 1 && word[0] == '-') {
            throw Error("unknown option " + word + " (see qx748 correct --help)");
        } else {
            a.files.push_back(word);
        }
    }
    if (a.files.size() != 2) throw Error("expected IN.bmp and OUT.bmp (see qx748 correct --help)");
    return a;
}

}  // namespace

int RunCorrectCommand(int argc, char **argv) {
    if (qx::cli::WantsHelp(argc, argv)) {
        std::fputs(kCorrectHelp, stdout);
        return 0;
    }
    const Arguments args = Parse(argc, argv);
    const std::string &in = args.files[0];
    const std::string &out = args.files[1];

    unsigned char block[sizeof(qx::CorrectionSettings)];
    qx::WriteCorrectionSettings(qx::DefaultPrivateDevMode().settings, block);
    if (!args.settingsFile.empty()) {
        const std::vector<unsigned char> col = qx::cli::ReadFile(args.settingsFile);
        qx::CorrectionSettings loaded;
        const qx::ColError e = qx::DecodeColorCorrectionFile(col.data(), col.size(), &loaded);
        if (e != qx::ColError::kNone) throw Error(args.settingsFile + ": " + qx::DescribeColError(e));
        qx::WriteCorrectionSettings(AsTheControlsShowIt(loaded), block);
    }
    for (const std::string &s : args.sets) ApplySet(s, block);
    const qx::CorrectionSettings settings = qx::ReadCorrectionSettings(block);

    const std::vector<unsigned char> file = qx::cli::ReadFile(in);
    qx::BmpImage image;
    const qx::BmpError e = qx::DecodeBmp(file.data(), file.size(), &image);
    if (e != qx::BmpError::kNone) throw Error(in + ": " + qx::DescribeBmpError(e));
    // Rows are corrected in stored order, top-down pictures included.
    if (!qx::CorrectPicture(settings, image.pixels.data(), image.width, image.rows(), image.stride))
        throw Error(in + ": not enough memory to correct the picture");
    std::vector<unsigned char> result;
    if (!qx::EncodeBmp(image, &result)) throw Error(out + ": picture too large for a BMP file");
    qx::cli::WriteFileReplacing(out, result);
    return 0;
}
