// The native qx748 correct on generated files: results equal the direct
// forms applied to the same pixels; refusals exit 2 and leave OUT alone.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/correction/oracle.h"
#include "tests/correction/picture.h"
#include "tests/support/cli_command.h"
#include "uiplugin/correction/picture/bmp_image.h"
#include "uiplugin/correction/picture/col_file.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

class CorrectCommand : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qx748-correct-XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::string &name) const { return (dir_ / name).string(); }

    static void Write(const std::string &path, const Bytes &bytes) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    }
    static Bytes Read(const std::string &path) {
        std::ifstream f(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    }
    // Runs qx748 with the words; returns the exit status, stderr in *err.
    int Run(const std::string &words, std::string *err = nullptr) const {
        const std::string errFile = Path("stderr.txt");
        const std::string cmd = Qx748Command() + " " + words + " >/dev/null 2>'" + errFile + "'";
        const int status = std::system(cmd.c_str());
        if (err != nullptr) {
            const Bytes e = Read(errFile);
            err->assign(e.begin(), e.end());
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir_;
};

// A bitmap file of the picture; top-down when `topDown`, with an
// information header of `infoSize` bytes.
Bytes BmpOf(const qx::testing::Picture &p, bool topDown, uint32_t infoSize = 40) {
    qx::BmpImage image;
    image.width = p.width;
    image.height = topDown ? -p.height : p.height;
    image.stride = p.stride;
    image.pixels = p.bytes;
    Bytes file;
    EXPECT_TRUE(qx::EncodeBmp(image, &file));
    if (infoSize > 40) {
        file.insert(file.begin() + 54, infoSize - 40, 0);
        const uint32_t off = 14 + infoSize;
        file[10] = off & 0xFF, file[11] = (off >> 8) & 0xFF;
        file[14] = infoSize & 0xFF;
    }
    return file;
}

TEST_F(CorrectCommand, MatchesTheDirectFormsInStoredRowOrder) {
    qx::CorrectionSettings fromFile = qx::testing::DefaultSettings();
    fromFile.brightness = 40;  // the page's slider makes this 10
    fromFile.saturation = -3, fromFile.cyanRed = 4, fromFile.yellowBlue = -6;
    fromFile.unsharpRadius = 23, fromFile.unsharpAmount = 9, fromFile.unsharpThreshold = 1;
    const auto col = qx::EncodeColorCorrectionFile(fromFile);
    Write(Path("s.col"), Bytes(col.begin(), col.end()));

    qx::CorrectionSettings expectedSettings = fromFile;
    expectedSettings.brightness = 10;
    expectedSettings.contrast = 5;
    expectedSettings.unsharpMask = 1;
    expectedSettings.sharpness = 6;
    qx::ToneTable table;
    qx::BuildToneTable(expectedSettings, table);

    for (bool topDown : {false, true}) {
        const qx::testing::Picture input = qx::testing::RandomPicture(37, 23, topDown ? 5 : 6);
        Write(Path("in.bmp"), BmpOf(input, topDown, topDown ? 124 : 40));
        ASSERT_EQ(0, Run("correct --settings '" + Path("s.col") + "' --set contrast=5 --set unsharpMask=1 " +
                         "--set sharpness=6 '" + Path("in.bmp") + "' '" + Path("out.bmp") + "'"));
        qx::testing::Picture expected = input;
        qx::oracle::ApplyUnsharpMask(expectedSettings, 37, 23, expected.data());
        qx::oracle::ApplySharpnessFilter(expected.data(), 37, 23, expected.stride, 6, table);
        EXPECT_EQ(BmpOf(expected, topDown), Read(Path("out.bmp"))) << (topDown ? "top-down" : "bottom-up");
        EXPECT_FALSE(fs::exists(Path("out.bmp.qx748-tmp")));
    }
}

// Every thread count writes the bytes of the direct forms, at the widest
// fractional radius with the strongest sharpness, on a height that leaves
// bands of unequal height, short ones and ones with a middle part.
TEST_F(CorrectCommand, SameFileForEveryThreadCount) {
    const qx::testing::Picture input = qx::testing::RandomPicture(29, 301, 11);
    Write(Path("in.bmp"), BmpOf(input, false));
    qx::CorrectionSettings settings = qx::testing::DefaultSettings();
    settings.unsharpMask = 1, settings.unsharpRadius = 29, settings.unsharpAmount = 12;
    settings.unsharpThreshold = 0, settings.sharpness = 7;
    qx::ToneTable table;
    qx::BuildToneTable(settings, table);
    qx::testing::Picture expected = input;
    qx::oracle::ApplyUnsharpMask(settings, 29, 301, expected.data());
    qx::oracle::ApplySharpnessFilter(expected.data(), 29, 301, expected.stride, 7, table);
    const Bytes expectedFile = BmpOf(expected, false);
    const std::string sets = "--set unsharpMask=1 --set unsharpRadius=29 --set unsharpAmount=12 "
                             "--set unsharpThreshold=0 --set sharpness=7 ";
    for (const char *threads : {"", "--threads 1 ", "--threads 2 ", "--threads 3 ", "--threads 7 "}) {
        std::remove(Path("out.bmp").c_str());
        ASSERT_EQ(0, Run("correct " + sets + threads + "'" + Path("in.bmp") + "' '" + Path("out.bmp") + "'"))
            << threads;
        EXPECT_TRUE(expectedFile == Read(Path("out.bmp"))) << threads;
    }
}

TEST_F(CorrectCommand, DefaultsLeaveThePixels) {
    const Bytes in = BmpOf(qx::testing::RandomPicture(9, 4, 3), false);
    Write(Path("in.bmp"), in);
    ASSERT_EQ(0, Run("correct '" + Path("in.bmp") + "' '" + Path("out.bmp") + "'"));
    EXPECT_EQ(in, Read(Path("out.bmp")));
}

TEST_F(CorrectCommand, RefusalsExit2WithoutWritingOut) {
    const Bytes good = BmpOf(qx::testing::RandomPicture(6, 5, 2), false);
    Write(Path("good.bmp"), good);
    Bytes notBmp = good;
    notBmp[0] = 'X';
    Write(Path("notbmp.bmp"), notBmp);
    Write(Path("short.bmp"), Bytes(good.begin(), good.end() - 1));
    Bytes eightBit = good;
    eightBit[28] = 8;
    Write(Path("8bit.bmp"), eightBit);
    Bytes rle = good;
    rle[30] = 1;
    Write(Path("rle.bmp"), rle);
    Bytes huge = good;
    huge[21] = 0x10;  // width 0x10000006 overflows the 32-bit file size
    Write(Path("huge.bmp"), huge);
    auto colOk = qx::EncodeColorCorrectionFile(qx::testing::DefaultSettings());
    Bytes wrongWords(colOk.begin(), colOk.end());
    wrongWords[2] = 101;
    Write(Path("wrong.col"), wrongWords);
    Write(Path("short.col"), Bytes(colOk.begin(), colOk.begin() + 43));

    const std::string out = "'" + Path("out.bmp") + "'";
    const std::string good_ = "'" + Path("good.bmp") + "' ";
    const char *inputs[] = {"notbmp.bmp", "short.bmp", "8bit.bmp", "rle.bmp", "huge.bmp", "missing.bmp"};
    std::vector<std::string> commands;
    for (const char *in : inputs) commands.push_back("correct '" + Path(in) + "' " + out);
    for (const char *col : {"wrong.col", "short.col", "missing.col"})
        commands.push_back("correct --settings '" + Path(col) + "' " + good_ + out);
    for (const char *set : {"nosuch=1", "sharpness=8", "unsharpRadius=0", "brightness=ten", "brightness"})
        commands.push_back(std::string("correct --set ") + set + " " + good_ + out);
    commands.push_back("correct " + good_);
    commands.push_back("correct --frobnicate " + good_ + out);
    for (const char *threads : {"0", "-2", "two", "3x", "1025", "99999999999999999999", "''"})
        commands.push_back(std::string("correct --threads ") + threads + " " + good_ + out);
    commands.push_back("correct --threads 2 --threads 3 " + good_ + out);
    commands.push_back("correct " + good_ + out + " --threads");

    for (const std::string &c : commands) {
        std::string err;
        EXPECT_EQ(2, Run(c, &err)) << c;
        EXPECT_FALSE(fs::exists(Path("out.bmp"))) << c;
        EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << c << ": " << err;
        EXPECT_EQ(0u, err.rfind("qx748: ", 0)) << err;
    }
    // An existing OUT survives a refusal unchanged.
    Write(Path("out.bmp"), Bytes{1, 2, 3});
    EXPECT_EQ(2, Run("correct '" + Path("rle.bmp") + "' " + out));
    EXPECT_EQ((Bytes{1, 2, 3}), Read(Path("out.bmp")));
}

}  // namespace
