// Color correction pages created, painted with the settings at their
// extremes and every kind of picture file (broken ones included), applied
// and destroyed: the process must end with the handles, GDI and USER
// objects and memory it started with.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/page/page_harness.h"
// After the platform headers.
#include <psapi.h>
#include "tests/support/heap_busy.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using qxpage::PageSheet;

// 400 pages by default, which keeps the test suite's run short (a page costs
// up to 0.8 s under Wine); QX_PAGE_ENDURANCE_PAGES=1000 asks for the long run.
int Pages() {
    wchar_t value[16] = {};
    if (GetEnvironmentVariableW(L"QX_PAGE_ENDURANCE_PAGES", value, 16) > 0) return _wtoi(value);
    return 400;
}
constexpr int64_t kMemoryTolerance = 512 * 1024;

// Wine answers 0 for the GDI/USER object counts, the handle count and
// PrivateUsage; two figures it does give: the value of a new kernel handle
// (the server hands out the lowest free slot, so leaked handles push it up)
// and the busy bytes of every heap of the process.
struct Figures {
    DWORD gdi, user, handles;
    int64_t privateBytes;
    uintptr_t nextHandle;
    int64_t heapBusy;
};

Figures Measure() {
    Figures f{};
    f.nextHandle = qxtest::NextKernelHandle();
    f.heapBusy = qxtest::HeapBusyBytes();
    f.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    f.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    GetProcessHandleCount(GetCurrentProcess(), &f.handles);
    PROCESS_MEMORY_COUNTERS_EX m = {};
    m.cb = sizeof m;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&m), sizeof m))
        f.privateBytes = static_cast<int64_t>(m.PrivateUsage);
    return f;
}

void Put(std::vector<unsigned char> &b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// A 24-bit file; `lie` breaks it in one of the ways the preview must survive.
std::vector<unsigned char> Picture(int w, int h, int lie) {
    const size_t stride = (3 * static_cast<size_t>(w < 0 ? -w : w) + 3) & ~size_t(3);
    const size_t rows = static_cast<size_t>(h < 0 ? -h : h);
    std::vector<unsigned char> b(54 + stride * rows);
    for (size_t i = 54; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 7);
    b[0] = 'B';
    b[1] = 'M';
    Put(b, 2, static_cast<uint32_t>(b.size()), 4);
    Put(b, 10, 54, 4);
    Put(b, 14, 40, 4);
    Put(b, 18, static_cast<uint32_t>(w), 4);
    Put(b, 22, static_cast<uint32_t>(h), 4);
    Put(b, 26, 1, 2);
    Put(b, 28, 24, 2);
    switch (lie) {
    case 1: b.resize(100); break;                   // pixel data cut short
    case 2: Put(b, 10, 0x7FFFFFFF, 4); break;       // pixels beyond the file
    case 3: Put(b, 22, 0x80000000u, 4); break;      // absurd height
    case 4: b.resize(20); break;                    // not even the headers
    default: break;
    }
    return b;
}

TEST(PageEndurance, HundredsOfPagesLeaveNothingBehind) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    const std::wstring dir = std::wstring(base) + L"qx748-endurance-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    struct File {
        std::wstring path;
        std::vector<unsigned char> bytes;
    } files[] = {
        {dir + L"small.bmp", Picture(192, 192, 0)}, {dir + L"cut.bmp", Picture(640, 480, 0)},
        {dir + L"topdown.bmp", Picture(300, -250, 0)}, {dir + L"wide.bmp", Picture(1000, 100, 0)},
        {dir + L"short.bmp", Picture(640, 480, 1)},  {dir + L"offset.bmp", Picture(64, 64, 2)},
        {dir + L"height.bmp", Picture(64, 64, 3)},   {dir + L"stub.bmp", Picture(64, 64, 4)},
        {dir + L"missing.bmp", {}},
    };
    for (const File &f : files) {
        if (f.bytes.empty()) continue;
        HANDLE h = CreateFileW(f.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD done = 0;
        WriteFile(h, f.bytes.data(), static_cast<DWORD>(f.bytes.size()), &done, nullptr);
        CloseHandle(h);
    }
    // Each slider at its low end, then its high end, the unsharp mask on.
    struct Extreme {
        int id, low, high;
    } extremes[] = {{1004, -10, 10}, {1005, -10, 10}, {1007, -10, 10}, {1008, -10, 10}, {1006, -10, 10},
                    {1009, -10, 10}, {1010, 0, 7},    {1022, 0, 12},   {1023, 1, 30},   {1024, 0, 20},
                    {1030, -10, 10}};

    auto runPage = [&](int i) {
        unsigned char record[576] = {};
        qx::WritePrivateDevModeDefaults(record);
        const File &f = files[i % (sizeof files / sizeof files[0])];
        std::memcpy(record + 52, f.path.c_str(), (f.path.size() + 1) * sizeof(wchar_t));
        PageSheet sheet(record);
        ASSERT_TRUE(sheet.ok());
        const bool high = (i / 2) % 2 == 1;
        for (const Extreme &e : extremes) SendMessageW(sheet.item(e.id), TBM_SETPOS, TRUE, high ? e.high : e.low);
        if (i % 3 == 0) SendMessageW(sheet.item(1028), BM_CLICK, 0, 0);
        sheet.moveSlider(1004, high ? 10 : -10);  // one real movement: repaint requested
        UpdateWindow(sheet.page());
        sheet.apply();
        ASSERT_EQ(1u, sheet.setResults.size());
    };

    // The first pages load what stays loaded (common controls, fonts, the
    // built-in picture's resource); measure after them.
    for (int i = 0; i < 20; ++i) runPage(i);
    const Figures before = Measure();
    const int pages = Pages();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < pages; ++i) {
        runPage(i);
        if (HasFatalFailure()) return;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Figures after = Measure();
    std::printf("pages: %d in %.1f s\n", pages, seconds);
    std::printf("GDI objects %lu -> %lu, USER objects %lu -> %lu, handles %lu -> %lu, private bytes %lld -> %lld\n",
                before.gdi, after.gdi, before.user, after.user, before.handles, after.handles,
                static_cast<long long>(before.privateBytes), static_cast<long long>(after.privateBytes));
    std::printf("next handle %#llx -> %#llx, heap busy bytes %lld -> %lld\n",
                static_cast<unsigned long long>(before.nextHandle), static_cast<unsigned long long>(after.nextHandle),
                static_cast<long long>(before.heapBusy), static_cast<long long>(after.heapBusy));
    EXPECT_EQ(before.gdi, after.gdi);
    EXPECT_EQ(before.user, after.user);
    EXPECT_EQ(before.handles, after.handles);
    EXPECT_LE(after.privateBytes - before.privateBytes, kMemoryTolerance);
    EXPECT_EQ(before.nextHandle, after.nextHandle);
    EXPECT_LE(after.heapBusy - before.heapBusy, kMemoryTolerance);
    for (const File &f : files) DeleteFileW(f.path.c_str());
    RemoveDirectoryW(dir.c_str());
}

}  // namespace
