// qx748 correct: applies to a whole 24-bit bitmap what the preview applies to
// its pixels, with settings from the defaults, a .COL file and --set.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/qx748/cli.h"
#include "tools/qx748/settings_args.h"
#include "uiplugin/correction/picture/bmp_image.h"
#include "uiplugin/correction/engine/correct_bands.h"
#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using qx::cli::Error;

const char kCorrectHelp[] =
    "usage: qx748 correct [--settings FILE.COL] [--set NAME=VALUE ...] [--threads N]\n"
    "                     IN.bmp OUT.bmp\n"
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
    "--threads N corrects the picture in bands of rows on N threads (1..1024;\n"
    "default: one per processor). The bytes written are the same for every N.\n"
    "\n"
    "IN is an uncompressed 24-bit BMP, bottom-up or top-down, with an\n"
    "information header of 40 bytes or more. OUT gets 54-byte headers, the same\n"
    "width, height and row order. Errors exit with status 2; OUT is then not\n"
    "written (it is replaced through a temporary file only on success).\n";

struct Arguments {
    qx::cli::SettingsArgs settings;
    std::vector<std::string> files;
    int threads = 0;  // 0: one per processor
};

constexpr long kMaxThreads = 1024;

int ParseThreads(const std::string &text) {
    errno = 0;
    char *end = nullptr;
    const long v = text.empty() ? 0 : std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || end == nullptr || *end != '\0' || v < 1 || v > kMaxThreads)
        throw Error("--threads: '" + text + "' is not a thread count (1.." + std::to_string(kMaxThreads) + ")");
    return static_cast<int>(v);
}

Arguments Parse(int argc, char **argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        if (qx::cli::TakeSettingsOption(argc, argv, i, a.settings)) continue;
        const std::string word = argv[i];
        if (word == "--threads") {
            if (i + 1 >= argc) throw Error("--threads needs a value");
            if (a.threads != 0) throw Error("--threads given twice");
            a.threads = ParseThreads(argv[++i]);
            continue;
        }
        if (word.size() > 1 && word[0] == '-') {
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

    const qx::CorrectionSettings settings = qx::cli::ResolveSettings(args.settings, "correct");

    const std::vector<unsigned char> file = qx::cli::ReadFile(in);
    qx::BmpImage image;
    const qx::BmpError e = qx::DecodeBmp(file.data(), file.size(), &image);
    if (e != qx::BmpError::kNone) throw Error(in + ": " + qx::DescribeBmpError(e));
    // Rows are corrected in stored order, top-down pictures included.
    const int threads = args.threads != 0 ? args.threads : qx::DefaultCorrectionThreads();
    if (!qx::CorrectPictureThreaded(settings, image.pixels.data(), image.width, image.rows(), image.stride,
                                    threads))
        throw Error(in + ": not enough memory to correct the picture");
    std::vector<unsigned char> result;
    if (!qx::EncodeBmp(image, &result)) throw Error(out + ": picture too large for a BMP file");
    qx::cli::WriteFileReplacing(out, result);
    return 0;
}
