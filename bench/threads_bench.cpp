// The correction of a 6000 x 4000 picture at the slowest settings (unsharp
// radius 29, amount 12, threshold 0, sharpness 7): the single pass on one
// thread against the bands on every core, in the same run, and the peak
// memory the banded correction takes beside the picture.
//
//   threads_bench [--repeats N] [--threads N]
//
// Each time is the minimum of N repeats (default 3) on a fresh copy of the
// picture. Memory is measured on the first banded run, before any timing
// has left freed blocks behind: the peak of the bytes allocated through
// operator new (every allocation of the correction goes through it) and
// the rise of the resident set's high-water mark (thread stacks included)
// where /proc lets us reset it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "tests/correction/picture.h"
#include "uiplugin/correction/engine/correct_bands.h"
#include "uiplugin/correction/engine/image_correction.h"

// Counting allocator: each block carries its size in a 16-byte header, which
// keeps malloc's alignment.
namespace {
std::atomic<long long> gLive{0};
std::atomic<long long> gPeak{0};

void *CountedAlloc(size_t size) {
    void *p = std::malloc(size + 16);
    if (p == nullptr) return nullptr;
    *static_cast<size_t *>(p) = size;
    const long long live = gLive.fetch_add(static_cast<long long>(size)) + static_cast<long long>(size);
    long long peak = gPeak.load();
    while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char *>(p) + 16;
}

void CountedFree(void *p) {
    if (p == nullptr) return;
    char *block = static_cast<char *>(p) - 16;
    gLive.fetch_sub(static_cast<long long>(*reinterpret_cast<size_t *>(block)));
    std::free(block);
}
}  // namespace

void *operator new(size_t size) {
    if (void *p = CountedAlloc(size)) return p;
    throw std::bad_alloc();
}
void *operator new[](size_t size) { return operator new(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return CountedAlloc(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return CountedAlloc(size); }
void operator delete(void *p) noexcept { CountedFree(p); }
void operator delete[](void *p) noexcept { CountedFree(p); }
void operator delete(void *p, size_t) noexcept { CountedFree(p); }
void operator delete[](void *p, size_t) noexcept { CountedFree(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { CountedFree(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { CountedFree(p); }

namespace {

using Clock = std::chrono::steady_clock;

// A field of /proc/self/status in kB, -1 when it cannot be read.
long long StatusKb(const char *field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(f, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atoll(line.c_str() + n + 1);
    return -1;
}

// Resets VmHWM to the current resident set (Linux 4.0 and later).
bool ResetHighWaterMark() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
    f.flush();
    return static_cast<bool>(f);
}

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
}

struct Times {
    double wall, cpu;
};

// Wall-clock and processor time (all threads) of one call.
template <typename Fn>
Times Measure(Fn &&fn) {
    const double c0 = CpuMs();
    const auto t0 = Clock::now();
    fn();
    return {std::chrono::duration<double, std::milli>(Clock::now() - t0).count(), CpuMs() - c0};
}

int IntArg(const char *text, const char *what) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < 1 || v > 1024) {
        std::fprintf(stderr, "threads_bench: %s: '%s' is not 1..1024\n", what, text);
        std::exit(2);
    }
    return static_cast<int>(v);
}

}  // namespace

int main(int argc, char **argv) {
    int repeats = 3;
    int threads = qx::DefaultCorrectionThreads();
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if ((word == "--repeats" || word == "--threads") && i + 1 < argc) {
            (word == "--repeats" ? repeats : threads) = IntArg(argv[++i], word.c_str());
        } else {
            std::fprintf(stderr, "usage: threads_bench [--repeats N] [--threads N]\n");
            return 2;
        }
    }

    const int32_t width = 6000, height = 4000;
    qx::CorrectionSettings settings = qx::testing::DefaultSettings();
    settings.unsharpMask = 1;
    settings.unsharpRadius = 29;
    settings.unsharpAmount = 12;
    settings.unsharpThreshold = 0;
    settings.sharpness = 7;

    const qx::testing::Picture input = qx::testing::RandomPicture(width, height, 2026);
    const double pixelBytes = static_cast<double>(input.bytes.size());
    qx::testing::Picture work = input;
    qx::testing::Picture single, banded;
    bool ok = true;

    // Memory first, on a clean heap; the picture is resident already.
    const bool hwm = ResetHighWaterMark();
    const long long rssBefore = StatusKb("VmRSS");
    gPeak.store(gLive.load());
    const long long liveBefore = gLive.load();
    ok = qx::CorrectPictureThreaded(settings, work.data(), width, height, work.stride, threads) && ok;
    const double heapPeak = static_cast<double>(gPeak.load() - liveBefore);
    const long long hwmAfter = StatusKb("VmHWM");
    const double rssRise = hwm && rssBefore >= 0 && hwmAfter >= 0 ? 1024.0 * static_cast<double>(hwmAfter - rssBefore) : -1;
    banded = work;

    Times one{1e300, 1e300}, all{1e300, 1e300};
    bool equal = true;
    auto keepBest = [](Times &best, Times t) {
        if (t.wall < best.wall) best = t;
    };
    for (int r = 0; r < repeats; ++r) {
        work.bytes = input.bytes;
        keepBest(one, Measure([&] { ok = qx::CorrectPicture(settings, work.data(), width, height, work.stride) && ok; }));
        if (r == 0) single = work;
        equal = equal && work.bytes == single.bytes;
        work.bytes = input.bytes;
        keepBest(all, Measure([&] {
                     ok = qx::CorrectPictureThreaded(settings, work.data(), width, height, work.stride, threads) && ok;
                 }));
        equal = equal && work.bytes == single.bytes;
    }
    const double oneMs = one.wall, allMs = all.wall;
    equal = equal && banded.bytes == single.bytes;
    if (!ok) {
        std::fprintf(stderr, "threads_bench: a correction reported failure\n");
        return 1;
    }

    const double mb = 1e6;
    std::printf("# unsharp radius 29, amount 12, threshold 0, sharpness 7; %d threads; minimum of %d\n", threads,
                repeats);
    std::printf("case  one thread ms  all cores ms  ratio  bytes  peak memory\n");
    std::printf("threads/6000x4000  %.0f  %.0f  %.2fx  %s  ", oneMs, allMs, oneMs / allMs, equal ? "equal" : "differ");
    std::printf("%.1f MB = %.2f x pixel bytes (picture %.1f MB + correction heap %.1f MB", (pixelBytes + heapPeak) / mb,
                (pixelBytes + heapPeak) / pixelBytes, pixelBytes / mb, heapPeak / mb);
    if (rssRise >= 0)
        std::printf(", resident +%.1f MB)\n", rssRise / mb);
    else
        std::printf(", resident rise not measurable here)\n");
    // Processor time of the same runs: near equal when the bands add little
    // work; a wall ratio far below the thread count with it means the
    // machine was busy with other work.
    std::printf("# processor time: one thread %.0f ms, all cores %.0f ms\n", one.cpu, all.cpu);
    return equal ? 0 : 1;
}
