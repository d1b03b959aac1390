// 100,000 OEMDM_MERGE requests of random input blocks through the real
// QX748UI.dll, as the driver would make them over a long session: every
// result must validate, and the process must end with the handles, GDI and
// USER objects and memory it started with.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tests/frame/plugin_library.h"
// After the platform headers that plugin_library.h brings in.
#include <psapi.h>
#include "tests/support/heap_busy.h"
#include "uiplugin/settings/devmode_fields.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using qxtest::PluginLibrary;

constexpr size_t kRecord = qx::kPrivateDevModeSize;
constexpr int kMerges = 100000;
constexpr int kMergesPerObject = 1000;  // the host makes a new plug-in object now and then
// Heap and commit may move by a page or two (the C runtime's own blocks).
constexpr int64_t kMemoryTolerance = 256 * 1024;

struct Figures {
    DWORD gdi = 0;
    DWORD user = 0;
    DWORD handles = 0;
    int64_t privateBytes = 0;  // PrivateUsage
    int64_t pagefile = 0;      // PagefileUsage (commit)
    int64_t workingSet = 0;
    int64_t heapBusy = -1;     // bytes in busy blocks of all the process's heaps, -1 when not walkable
};

Figures Measure() {
    Figures f;
    HANDLE self = GetCurrentProcess();
    f.gdi = GetGuiResources(self, GR_GDIOBJECTS);
    f.user = GetGuiResources(self, GR_USEROBJECTS);
    if (!GetProcessHandleCount(self, &f.handles)) f.handles = 0;
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&pmc), sizeof pmc)) {
        f.privateBytes = static_cast<int64_t>(pmc.PrivateUsage);
        f.pagefile = static_cast<int64_t>(pmc.PagefileUsage);
        f.workingSet = static_cast<int64_t>(pmc.WorkingSetSize);
    }
    f.heapBusy = qxtest::HeapBusyBytes();
    return f;
}

// Which counters this platform keeps: each is checked by making one object
// of its kind and seeing the count move (Wine leaves some at 0).
struct Counters {
    bool gdi = false, user = false, handles = false, privateBytes = false, pagefile = false, heap = false;
};

Counters Probe() {
    Counters c;
    HANDLE self = GetCurrentProcess();
    const DWORD gdi0 = GetGuiResources(self, GR_GDIOBJECTS);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    c.gdi = GetGuiResources(self, GR_GDIOBJECTS) > gdi0;
    DeleteObject(brush);
    const DWORD user0 = GetGuiResources(self, GR_USEROBJECTS);
    HMENU menu = CreatePopupMenu();
    c.user = GetGuiResources(self, GR_USEROBJECTS) > user0;
    DestroyMenu(menu);
    DWORD h0 = 0, h1 = 0;
    GetProcessHandleCount(self, &h0);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    GetProcessHandleCount(self, &h1);
    c.handles = h1 > h0;
    CloseHandle(event);
    const Figures f = Measure();
    c.privateBytes = f.privateBytes > 0;
    c.pagefile = f.pagefile > 0;
    c.heap = f.heapBusy >= 0;
    return c;
}

void Print(const char *when, const Figures &f, const Counters &c) {
    auto mark = [](bool kept) { return kept ? "" : " (not kept here)"; };
    std::printf("%-7s GDI objects %lu%s, USER objects %lu%s, handles %lu%s, private bytes %lld%s, "
                "commit %lld%s, working set %lld, heap busy bytes %lld%s\n",
                when, static_cast<unsigned long>(f.gdi), mark(c.gdi), static_cast<unsigned long>(f.user),
                mark(c.user), static_cast<unsigned long>(f.handles), mark(c.handles),
                static_cast<long long>(f.privateBytes), mark(c.privateBytes), static_cast<long long>(f.pagefile),
                mark(c.pagefile), static_cast<long long>(f.workingSet), static_cast<long long>(f.heapBusy),
                mark(c.heap));
}

// xorshift64*: the same blocks on every run.
struct Random {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint64_t Next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1Dull;
    }
    void Fill(unsigned char *p, size_t n) {
        for (size_t i = 0; i < n; i += 8) {
            const uint64_t v = Next();
            std::memcpy(p + i, &v, n - i < 8 ? n - i : 8);
        }
    }
};

void Store32(unsigned char *p, uint32_t v) { std::memcpy(p, &v, 4); }

// A random input block: often ours (so the copy path runs), with a dwSize
// anywhere from the bare header up, settings in and out of range.
void RandomInput(Random &rnd, unsigned char *in) {
    rnd.Fill(in, kRecord);
    const uint64_t pick = rnd.Next();
    if (pick % 4 != 0) Store32(in + qx::pdm::kSignature, qx::kPrivateDevModeSignature);
    switch ((pick >> 8) % 4) {
    case 0: Store32(in + qx::pdm::kSize, kRecord); break;
    case 1: Store32(in + qx::pdm::kSize, 12 + static_cast<uint32_t>((pick >> 16) % (kRecord - 12))); break;
    case 2: Store32(in + qx::pdm::kSize, 0xFFFFFFFFu); break;
    default: break;  // as random as the rest
    }
}

class DevModeEndurance : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.loaded()) << "cannot load " << QX748UI_PATH << " (error " << GetLastError() << ")";
    }
    PluginLibrary &lib = PluginLibrary::Get();
};

// One block of merges on a fresh plug-in object: the driver defaults the
// output, then merges the input into it. Counts the results that fail to
// validate.
int MergeBatch(PluginLibrary &lib, Random &rnd, int count, std::vector<unsigned char> &in,
               std::vector<unsigned char> &out, DEVMODEW &publicDm) {
    IPrintOemUI *plugin = lib.CreatePlugin();
    if (plugin == nullptr) return count;
    int bad = 0;
    for (int i = 0; i < count; ++i) {
        RandomInput(rnd, in.data());
        rnd.Fill(out.data(), kRecord);
        OEMDMPARAM param = {};
        param.cbSize = sizeof param;
        param.pPublicDMIn = &publicDm;
        param.pPublicDMOut = &publicDm;
        param.pOEMDMOut = out.data();
        param.cbBufSize = kRecord;
        if (plugin->DevMode(OEMDM_DEFAULT, &param) != S_OK) ++bad;
        param.pOEMDMIn = in.data();
        if (plugin->DevMode(OEMDM_MERGE, &param) != S_OK) {
            ++bad;
            continue;
        }
        bool valid = true;
        for (size_t f = 0; f < qx::kPrivateDevModeFieldCount; ++f) {
            const qx::FieldInfo &field = qx::kPrivateDevModeFields[f];
            if (field.type != qx::FieldType::Utf16Path) valid = qx::FieldIsValid(out.data(), field) && valid;
        }
        if (!valid) ++bad;
    }
    plugin->Release();
    return bad;
}

TEST_F(DevModeEndurance, HundredThousandMergesLeaveNothingBehind) {
    std::vector<unsigned char> in(kRecord), out(kRecord);
    DEVMODEW publicDm = {};
    publicDm.dmSize = sizeof publicDm;
    publicDm.dmPaperSize = 300;
    Random rnd;

    // Warm-up: the first calls may set up lasting state of their own (the
    // runtime's heap, COM's); only what grows after it counts.
    ASSERT_EQ(0, MergeBatch(lib, rnd, kMergesPerObject, in, out, publicDm));
    const Counters kept = Probe();
    const Figures before = Measure();

    const auto start = std::chrono::steady_clock::now();
    int bad = 0;
    for (int done = 0; done < kMerges; done += kMergesPerObject)
        bad += MergeBatch(lib, rnd, kMergesPerObject, in, out, publicDm);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Figures after = Measure();

    std::printf("%d merges (and as many defaults) on %d plug-in objects in %.2f s, %.0f merges/s\n", kMerges,
                kMerges / kMergesPerObject, seconds, kMerges / seconds);
    Print("before", before, kept);
    Print("after", after, kept);

    EXPECT_EQ(0, bad) << "merges that failed or left a block that does not validate";
    EXPECT_EQ(S_OK, lib.canUnloadNow()) << "objects or locks left behind";
    // Counters the platform does not keep read 0 both times; these hold then too.
    EXPECT_EQ(before.gdi, after.gdi);
    EXPECT_EQ(before.user, after.user);
    EXPECT_EQ(before.handles, after.handles);
    EXPECT_LE(after.privateBytes - before.privateBytes, kMemoryTolerance);
    EXPECT_LE(after.pagefile - before.pagefile, kMemoryTolerance);
    EXPECT_TRUE(kept.heap) << "the process heaps cannot be walked";
    EXPECT_LE(after.heapBusy - before.heapBusy, kMemoryTolerance);
}

}  // namespace
