// qx748 preview, run as a program on files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/preview/bmp_builder.h"
#include "tests/support/cli_command.h"
#include "uiplugin/correction/picture/col_file.h"
#include "uiplugin/correction/engine/image_correction.h"

namespace fs = std::filesystem;

namespace {

using qxtest::Bytes;
using qxtest::BmpShape;

struct Result {
    int status;
    std::string err;
};

class PreviewCli : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qx748-preview-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string &name) const { return (dir_ / name).string(); }

    Result Qx(const std::string &args) const {
        const std::string errFile = Path("stderr.txt");
        const std::string cmd = Qx748Command() + " preview " + args + " >/dev/null 2>" + errFile;
        const int raw = std::system(cmd.c_str());
        const Bytes err = qxtest::ReadWholeFile(errFile);
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(err.begin(), err.end())};
    }

    fs::path dir_;
};

// Pixels of a written 54-byte-header file, with its stored width and height.
struct Written {
    int32_t width = 0, height = 0;
    Bytes pixels;
};
Written ReadOut(const std::string &path) {
    const Bytes b = qxtest::ReadWholeFile(path);
    Written w;
    if (b.size() < 54) return w;
    std::memcpy(&w.width, b.data() + 18, 4);
    std::memcpy(&w.height, b.data() + 22, 4);
    w.pixels.assign(b.begin() + 54, b.end());
    return w;
}

qx::CorrectionSettings WithDefaults() {
    qx::CorrectionSettings s{};
    s.unsharpAmount = 5;
    s.unsharpRadius = 10;
    s.unsharpThreshold = 5;
    return s;
}

Bytes Corrected(Bytes px, const qx::CorrectionSettings &s, int32_t w, int32_t rows) {
    qx::CorrectPicture(s, px.data(), w, rows, qxtest::StrideOf(w));
    return px;
}

Bytes BuiltinPixels() {
    const Bytes bmp = qxtest::ReadWholeFile(QX_BUILTIN_PREVIEW_BMP);
    return Bytes(bmp.begin() + 54, bmp.end());
}

TEST_F(PreviewCli, WithoutAPictureWritesTheBuiltinPhotographCorrected) {
    const Result r = Qx("--set brightness=3 --set sharpness=4 --set unsharpMask=1 " + Path("out.bmp"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    qx::CorrectionSettings s = WithDefaults();
    s.brightness = 3;
    s.sharpness = 4;
    s.unsharpMask = 1;
    const Written out = ReadOut(Path("out.bmp"));
    EXPECT_EQ(out.width, 192);
    EXPECT_EQ(out.height, 192);
    EXPECT_EQ(out.pixels, Corrected(BuiltinPixels(), s, 192, 192));
}

TEST_F(PreviewCli, LargePictureGivesItsCentreKeepingTopDownRows) {
    BmpShape shape;
    shape.width = 640;
    shape.height = -480;
    const Bytes file = qxtest::BuildBmp(shape);
    ASSERT_TRUE(qxtest::WriteFile(Path("in.bmp"), file));
    qx::CorrectionSettings s = WithDefaults();
    s.contrast = -2;
    ASSERT_TRUE(qxtest::WriteFile(Path("s.col"), [&] {
        const auto col = qx::EncodeColorCorrectionFile(s);
        return Bytes(col.begin(), col.end());
    }()));
    const Result r = Qx("--settings " + Path("s.col") + " --picture " + Path("in.bmp") + " " + Path("out.bmp"));
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes centre(576 * 192);
    for (size_t i = 0; i < 192; ++i) std::memcpy(&centre[i * 576], &file[54 + (144 + i) * 1920 + 224 * 3], 576);
    const Written out = ReadOut(Path("out.bmp"));
    EXPECT_EQ(out.width, 192);
    EXPECT_EQ(out.height, -192);
    EXPECT_EQ(out.pixels, Corrected(centre, s, 192, 192));
}

TEST_F(PreviewCli, PictureWithASideOf192OrLessIsWrittenWhole) {
    BmpShape shape;
    shape.width = 1000;
    shape.height = 100;
    const Bytes file = qxtest::BuildBmp(shape);
    ASSERT_TRUE(qxtest::WriteFile(Path("in.bmp"), file));
    const Result r = Qx("--set saturation=5 --picture " + Path("in.bmp") + " " + Path("out.bmp"));
    ASSERT_EQ(r.status, 0) << r.err;
    qx::CorrectionSettings s = WithDefaults();
    s.saturation = 5;
    const Written out = ReadOut(Path("out.bmp"));
    EXPECT_EQ(out.width, 1000);
    EXPECT_EQ(out.height, 100);
    EXPECT_EQ(out.pixels, Corrected(Bytes(file.begin() + 54, file.end()), s, 1000, 100));
}

TEST_F(PreviewCli, UnusablePictureFallsBackSayingWhyAndStillSucceeds) {
    BmpShape eightBit;
    eightBit.bitCount = 8;
    ASSERT_TRUE(qxtest::WriteFile(Path("8bit.bmp"), qxtest::BuildBmp(eightBit)));
    const struct {
        std::string file, why;
    } cases[] = {{"8bit.bmp", "not 24 bits"}, {"missing.bmp", "cannot be opened"}};
    for (const auto &c : cases) {
        const Result r = Qx("--picture " + Path(c.file) + " " + Path("out.bmp"));
        EXPECT_EQ(r.status, 0) << c.file;
        EXPECT_NE(r.err.find("fell back to the built-in picture"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
        EXPECT_EQ(ReadOut(Path("out.bmp")).pixels, Corrected(BuiltinPixels(), WithDefaults(), 192, 192));
    }
}

TEST_F(PreviewCli, BadArgumentsFailWithoutWriting) {
    for (const std::string args : {"--set sharpness=8", "--set nosuch=1", "--picture", "", "--side 0", "--side -288",
                                   "--side abc", "--side 288x", "--side 1921", "--side 191", "--side 99999999999",
                                   "--side 288 --side 384", "--side"}) {
        const Result r = Qx(args + (args.empty() || args == "--picture" || args == "--side" ? "" : " " + Path("out.bmp")));
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_FALSE(fs::exists(Path("out.bmp"))) << args;
    }
}

TEST_F(PreviewCli, ASideTheBuiltinPhotographServesFromTheSizeItUses) {
    const struct {
        int side, from, out;
    } cases[] = {{288, 288, 288}, {250, 288, 250}, {384, 384, 384}, {480, 384, 384}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.side);
        const Result r = Qx("--side " + std::to_string(c.side) + " --set sharpness=5 " + Path("out.bmp"));
        ASSERT_EQ(r.status, 0) << r.err;
        const Bytes bmp =
            qxtest::ReadWholeFile(std::string(QX_RESOURCES_DIR) + "/builtin-preview-" + std::to_string(c.from) + ".bmp");
        ASSERT_GT(bmp.size(), 54u);
        const uint64_t fromStride = qxtest::StrideOf(c.from), stride = qxtest::StrideOf(c.out);
        Bytes centre(stride * static_cast<uint64_t>(c.out), 0);
        const int first = c.from / 2 - c.out / 2;
        for (int y = 0; y < c.out; ++y)
            std::memcpy(&centre[y * stride], &bmp[54 + (first + y) * fromStride + first * 3], 3 * c.out);
        qx::CorrectionSettings s = WithDefaults();
        s.sharpness = 5;
        const Written out = ReadOut(Path("out.bmp"));
        EXPECT_EQ(out.width, c.out);
        EXPECT_EQ(out.height, c.out);
        EXPECT_EQ(out.pixels, Corrected(centre, s, c.out, c.out));
    }
}

TEST_F(PreviewCli, ASideItCannotServeIsNamedInTheMessage) {
    ASSERT_TRUE(qxtest::WriteFile(Path("out.bmp"), Bytes{1, 2, 3}));
    for (const std::string side : {"0", "-5", "abc", "2000"}) {
        const Result r = Qx("--side " + side + " " + Path("out.bmp"));
        EXPECT_EQ(r.status, 2) << side;
        EXPECT_NE(r.err.find("--side " + side + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("192 to 1920"), std::string::npos) << r.err;
        EXPECT_EQ(qxtest::ReadWholeFile(Path("out.bmp")), (Bytes{1, 2, 3})) << "the output file was touched";
    }
}

}  // namespace
