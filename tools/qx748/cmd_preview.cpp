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

// The resource files of bitmaps 141 to 145, embedded at build time.
extern const unsigned char kBuiltinPreviewBmp[];
extern const size_t kBuiltinPreviewBmpSize;
extern const unsigned char kBuiltinPreview240Bmp[];
extern const size_t kBuiltinPreview240BmpSize;
extern const unsigned char kBuiltinPreview288Bmp[];
extern const size_t kBuiltinPreview288BmpSize;
extern const unsigned char kBuiltinPreview336Bmp[];
extern const size_t kBuiltinPreview336BmpSize;
extern const unsigned char kBuiltinPreview384Bmp[];
extern const size_t kBuiltinPreview384BmpSize;

namespace {

using qx::cli::Error;

const char kPreviewHelp[] =
    "usage: qx748 preview [--settings FILE.COL] [--set NAME=VALUE ...] [--picture IN.bmp] [--side N]\n"
    "                     OUT.bmp\n"
    "\n"
    "Writes, as a 24-bit BMP, the picture that the Color correction preview\n"
    "corrects before drawing it N x N pixels large (N is 192 at 96 DPI and\n"
    "192 x DPI / 96 above, 192 to 1920; default 192): IN's centre N x N when\n"
    "both its sides exceed N, else IN whole (the preview stretches it);\n"
    "without --picture the built-in photograph at the size N uses (192, 240,\n"
    "288, 336 or 384 square, the centre N x N of the next larger one, or the\n"
    "384 one for N above it). Rows keep their stored order (a top-down IN\n"
    "gives a top-down OUT). When IN cannot be used the preview shows the\n"
    "built-in photograph; so does this command, saying why on stderr, and it\n"
    "still exits with 0.\n"
    "\n"
    "Settings are taken as by 'qx748 correct' (see qx748 correct --help):\n"
    "the defaults, then the .COL file's block as the page's controls show it,\n"
    "then each --set NAME=VALUE in order. Other errors exit with status 2 and\n"
    "leave OUT as it was.\n";

struct Arguments {
    qx::cli::SettingsArgs settings;
    std::string picture;
    int32_t side = qx::kPreviewSide;
    bool sideGiven = false;
    std::vector<std::string> files;
};

// A side the preview is drawn at: a whole number from 192 to 1920.
int32_t ParseSide(const std::string &text) {
    const std::string range = std::to_string(qx::kPreviewSide) + " to " + std::to_string(qx::kLargestPreviewSide);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw Error("--side " + text + ": not a whole number of pixels (a side from " + range + ")");
    const long value = text.size() > 9 ? -1 : std::stol(text);
    if (value < qx::kPreviewSide || value > qx::kLargestPreviewSide)
        throw Error("--side " + text + ": the preview is drawn only at sides from " + range);
    return static_cast<int32_t>(value);
}

Arguments Parse(int argc, char **argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (qx::cli::TakeSettingsOption(argc, argv, i, a.settings)) continue;
        if (word == "--picture") {
            if (i + 1 >= argc) throw Error("--picture needs a value");
            if (!a.picture.empty()) throw Error("--picture given twice");
            a.picture = argv[++i];
        } else if (word == "--side") {
            if (i + 1 >= argc) throw Error("--side needs a value");
            if (a.sideGiven) throw Error("--side given twice");
            a.side = ParseSide(argv[++i]);
            a.sideGiven = true;
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
qx::PictureFault LoadPicture(const std::string &path, int32_t side, qx::PreviewImage &image) {
    qx::StdioFileSource file(path.c_str());
    if (!file.IsOpen()) return qx::PictureFault::NoFile;
    std::vector<uint8_t> scratch(qx::PreviewScratchBytes(side));
    return qx::LoadPictureFile(file, scratch.data(), image, side);
}

bool LoadBuiltin(int32_t side, qx::PreviewImage &image) {
    const struct {
        const unsigned char *bytes;
        size_t size;
    } files[] = {
        {kBuiltinPreviewBmp, kBuiltinPreviewBmpSize},       {kBuiltinPreview240Bmp, kBuiltinPreview240BmpSize},
        {kBuiltinPreview288Bmp, kBuiltinPreview288BmpSize}, {kBuiltinPreview336Bmp, kBuiltinPreview336BmpSize},
        {kBuiltinPreview384Bmp, kBuiltinPreview384BmpSize},
    };
    static_assert(sizeof files / sizeof files[0] == sizeof qx::kBuiltinSides / sizeof qx::kBuiltinSides[0],
                  "one file per side");
    if (side == qx::kPreviewSide) return qx::LoadBuiltinPicture(files[0].bytes, files[0].size, image);
    const int32_t n = qx::BuiltinSideFor(side);
    for (size_t i = 0; i < sizeof files / sizeof files[0]; ++i)
        if (qx::kBuiltinSides[i] == n) return qx::LoadBuiltinPictureAt(files[i].bytes, files[i].size, side, image);
    return false;
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
        const qx::PictureFault fault = LoadPicture(args.picture, args.side, image);
        loaded = fault == qx::PictureFault::None;
        if (!loaded)
            std::fprintf(stderr, "qx748 preview: %s: %s; fell back to the built-in picture\n", args.picture.c_str(),
                         qx::DescribePictureFault(fault));
    }
    if (!loaded && !LoadBuiltin(args.side, image))
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
