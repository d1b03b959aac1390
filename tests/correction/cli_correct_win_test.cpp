// qx748.exe correct under Wine: every --threads count writes the picture the
// single pass makes in this process, and a bad count is refused. The
// program is started as a Windows process, on files in the temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/correction/picture.h"
#include "uiplugin/correction/bmp_image.h"
#include "uiplugin/correction/image_correction.h"

namespace {

using Bytes = std::vector<unsigned char>;

class CorrectExe : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, temp));
        dir_ = std::wstring(temp) + L"qx748-threads-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }
    void TearDown() override {
        for (const wchar_t *name : {L"in.bmp", L"out.bmp"}) DeleteFileW(Path(name).c_str());
        RemoveDirectoryW(dir_.c_str());
    }
    std::wstring Path(const wchar_t *name) const { return dir_ + L"\\" + name; }

    static void Write(const std::wstring &path, const Bytes &bytes) {
        std::ofstream(path.c_str(), std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    }
    static Bytes Read(const std::wstring &path) {
        std::ifstream f(path.c_str(), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    }
    // Runs qx748.exe with the words; its exit code, or -1 when it cannot start
    // or does not end within a minute.
    static int Run(const std::wstring &words) {
        const std::wstring exe = QX748_EXE;
        std::wstring line = L"\"" + exe + L"\" " + words;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return -1;
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &code)) {
            TerminateProcess(pi.hProcess, 1);
            code = static_cast<DWORD>(-1);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return static_cast<int>(code);
    }
    std::wstring Files() const { return L"\"" + Path(L"in.bmp") + L"\" \"" + Path(L"out.bmp") + L"\""; }

    std::wstring dir_;
};

Bytes BmpOf(const qx::testing::Picture &p) {
    qx::BmpImage image;
    image.width = p.width;
    image.height = p.height;
    image.stride = p.stride;
    image.pixels = p.bytes;
    Bytes file;
    EXPECT_TRUE(qx::EncodeBmp(image, &file));
    return file;
}

TEST_F(CorrectExe, EveryThreadCountWritesTheSinglePassPicture) {
    struct Case {
        int radius, amount, threshold, sharpness;
        int32_t width, height;
    };
    const Case kCases[] = {
        {29, 12, 0, 7, 29, 301},  // the slowest settings, bands of unequal height
        {30, 2, 4, 0, 17, 45},    // the widest integer box, room for 2 bands only
        {5, 5, 2, 3, 3, 3},       // the smallest picture the filter works on
    };
    uint32_t seed = 40;
    for (const Case &c : kCases) {
        qx::CorrectionSettings s = qx::testing::DefaultSettings();
        s.unsharpMask = 1, s.unsharpRadius = static_cast<int16_t>(c.radius);
        s.unsharpAmount = static_cast<int16_t>(c.amount), s.unsharpThreshold = static_cast<int16_t>(c.threshold);
        s.sharpness = static_cast<uint16_t>(c.sharpness);
        const qx::testing::Picture input = qx::testing::RandomPicture(c.width, c.height, seed++);
        Write(Path(L"in.bmp"), BmpOf(input));
        qx::testing::Picture expected = input;
        ASSERT_TRUE(qx::CorrectPicture(s, expected.data(), c.width, c.height, expected.stride));
        const Bytes expectedFile = BmpOf(expected);
        const std::wstring sets = L"correct --set unsharpMask=1 --set unsharpRadius=" + std::to_wstring(c.radius) +
                                  L" --set unsharpAmount=" + std::to_wstring(c.amount) +
                                  L" --set unsharpThreshold=" + std::to_wstring(c.threshold) +
                                  L" --set sharpness=" + std::to_wstring(c.sharpness) + L" ";
        for (const wchar_t *threads : {L"", L"--threads 1 ", L"--threads 2 ", L"--threads 3 ", L"--threads 7 "}) {
            DeleteFileW(Path(L"out.bmp").c_str());
            ASSERT_EQ(0, Run(sets + threads + Files())) << c.radius << " " << std::string(threads, threads + wcslen(threads));
            EXPECT_TRUE(expectedFile == Read(Path(L"out.bmp")))
                << "radius " << c.radius << ", " << std::string(threads, threads + wcslen(threads));
        }
    }
}

TEST_F(CorrectExe, BadThreadCountsExit2WithoutWritingOut) {
    Write(Path(L"in.bmp"), BmpOf(qx::testing::RandomPicture(6, 5, 2)));
    DeleteFileW(Path(L"out.bmp").c_str());
    for (const wchar_t *threads : {L"0", L"-1", L"1025", L"two"}) {
        EXPECT_EQ(2, Run(std::wstring(L"correct --threads ") + threads + L" " + Files()));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Path(L"out.bmp").c_str()));
    }
}

}  // namespace
