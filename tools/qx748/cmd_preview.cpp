// qx748 preview: the picture the Color correction preview shows, written
// out as it stands after the corrections and before the stretch.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/qx748/cli.h"
#include "tools/qx748/settings_args.h"
#include "uiplugin/correction/picture/bmp_image.h"
#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/correction/picture/preview_picture.h"

// The resource file of bitmap 141, embedded at build time.
extern const unsigned char kBuiltinPreviewBmp[];
extern const size_t kBuiltinPreviewBmpSize;

namespace {

using qx::cli::Error;

const char kPreviewHelp[] =
    "usage: qx748 preview [--settings FILE.COL] [--set NAME=VALUE ...] [--picture IN.bmp] OUT.bmp\n"
    "\n"
    "Writes, as a 24-bit BMP, the picture that the Color correction preview\n"
    "corrects before stretching it to 192 x 192: IN's centre 192 x 192 when\n"
    "both its sides exceed 192, else IN whole; without --picture the built-in\n"
    "photograph. Rows keep their stored order (a top-down IN gives a top-down\n"
    "OUT). When IN cannot be used the preview shows the built-in photograph;\n"
    "so does this command, saying why on stderr, and it still exits with 0.\n"
    "\n"
    "Settings are taken as by 'qx748 correct' (see qx748 correct --help):\n"
    "the defaults, then the .COL file's block as the page's controls show it,\n"
    "then each --set NAME=VALUE in order. Other errors exit with status 2 and\n"
    "leave OUT as it was.\n";

struct Arguments {
    qx::cli::SettingsArgs settings;
    std::string picture;
    std::vector<std::string> files;
};

Arguments Parse(int argc, char **argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (qx::cli::TakeSettingsOption(argc, argv, i, a.settings)) continue;
        if (word == "--picture") {
            if (i + 1 >= argc) throw Error("--picture needs a value");
            if (!a.picture.empty()) throw Error("--picture given twice");
            a.picture = argv[++i];
        } else if (word.size() > 1 && word[0] == '-') {
            throw Error("unknown option " + word + " (see qx748 preview --help)");
        } else {
            a.files.push_back(word);
        }
    }
    if (a.files.size() != 1) throw Error("expected one OUT.bmp (see qx748 preview --help)");
    return a;
}

// The file as a paint loads it; a fault when the preview would fall back.
qx::PictureFault LoadPicture(const std::string &path, qx::PreviewImage &image) {
    qx::StdioFileSource file(path.c_str());
    if (!file.IsOpen()) return qx::PictureFault::NoFile;
    std::vector<uint8_t> scratch(qx::kPreviewScratchSize);
    return qx::LoadPictureFile(file, scratch.data(), image);
}

}  // namespace

int RunPreviewCommand(int argc, char **argv) {
    if (qx::cli::WantsHelp(argc, argv)) {
        std::fputs(kPreviewHelp, stdout);
        return 0;
    }
    const Arguments args = Parse(argc, argv);
    const qx::CorrectionSettings settings = qx::cli::ResolveSettings(args.settings, "preview");

    qx::PreviewImage image;
    bool loaded = false;
    if (!args.picture.empty()) {
        const qx::PictureFault fault = LoadPicture(args.picture, image);
        loaded = fault == qx::PictureFault::None;
        if (!loaded)
            std::fprintf(stderr, "qx748 preview: %s: %s; fell back to the built-in picture\n", args.picture.c_str(),
                         qx::DescribePictureFault(fault));
    }
    if (!loaded && !qx::LoadBuiltinPicture(kBuiltinPreviewBmp, kBuiltinPreviewBmpSize, image))
        throw Error("the built-in picture embedded in this program is damaged");

    const int32_t rows = image.height < 0 ? -image.height : image.height;
    if (!qx::CorrectPicture(settings, image.pixels.data(), image.width, rows, image.stride))
        std::fprintf(stderr, "qx748 preview: not enough memory for a step of the corrections; "
                             "written as the preview would draw it\n");

    qx::BmpImage out;
    out.width = image.width;
    out.height = image.height;
    out.stride = image.stride;
    out.pixels = std::move(image.pixels);
    std::vector<unsigned char> bytes;
    if (!qx::EncodeBmp(out, &bytes)) throw Error(args.files[0] + ": picture too large for a BMP file");
    qx::cli::WriteFileReplacing(args.files[0], bytes);
    return 0;
}
