// The correction benchmark with a timing loop of its own, for the Windows
// builds (Google Benchmark is not built for MinGW): the code of the shipped
// DLLs, run under Wine. Same cases and closing table as the native one; each
// time is the minimum over the repeats of the mean of a batch of runs, the
// direct form and ours alternating within each repeat so that both see the
// same machine.
//
//   correction_bench [--filter=REGEX] [--repeats=N] [--min-ms=MS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "bench/correction_cases.h"
#include "uiplugin/correction/engine/correction_kernels.h"

namespace {

using qx::bench::Case;
using qx::bench::Step;
using qx::testing::Picture;
using Clock = std::chrono::steady_clock;

volatile unsigned char g_sink;

// Mean seconds per run over `runs` runs, each on a fresh copy of the input.
double Batch(const Picture &input, Picture &work, const Step &run, int runs) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < runs; ++i) {
        std::memcpy(work.data(), input.bytes.data(), input.bytes.size());
        run(work);
        g_sink = work.bytes[work.bytes.size() / 2];
    }
    return std::chrono::duration<double>(Clock::now() - start).count() / runs;
}

bool Option(const char *arg, const char *name, std::string *value) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
    *value = arg + n + 1;
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    std::string filter = ".*", value;
    int repeats = 7;
    double minSeconds = 0.05;
    for (int i = 1; i < argc; ++i) {
        if (Option(argv[i], "--filter", &value)) filter = value;
        else if (Option(argv[i], "--repeats", &value)) repeats = std::atoi(value.c_str());
        else if (Option(argv[i], "--min-ms", &value)) minSeconds = std::atof(value.c_str()) / 1e3;
        else {
            std::fprintf(stderr, "usage: %s [--filter=REGEX] [--repeats=N] [--min-ms=MS]\n", argv[0]);
            return 2;
        }
    }
    if (repeats < 1) repeats = 1;
    std::regex pattern;
    try {
        pattern = std::regex(filter);
    } catch (const std::regex_error &) {
        std::fprintf(stderr, "correction_bench: bad --filter %s\n", filter.c_str());
        return 2;
    }

    const qx::detail::Simd simd = qx::detail::BestSimd();
    std::printf("kernels: %s; %s-bit build; each time the minimum of %d repeats of at least %.0f ms\n",
                simd == qx::detail::Simd::kAvx2   ? "avx2"
                : simd == qx::detail::Simd::kSse2 ? "sse2"
                : simd == qx::detail::Simd::kNeon ? "neon"
                                                  : "scalar",
                sizeof(void *) == 8 ? "64" : "32", repeats, minSeconds * 1e3);

    const std::vector<Case> cases = qx::bench::Cases();
    qx::bench::Timings timings;
    for (const Case &c : cases)
        for (int side : qx::bench::kSides) {
            const std::string row = qx::bench::RowName(c, side);
            if (!std::regex_search(row, pattern)) continue;
            const Picture input = qx::bench::Photo(side);
            Picture a = input, b = input;
            // The equality run doubles as warm-up and sets the batch sizes.
            const double d1 = Batch(input, a, c.direct, 1);
            const double o1 = Batch(input, b, c.ours, 1);
            a = input, b = input;
            c.direct(a);
            c.ours(b);
            timings.same[row] = a.bytes == b.bytes;
            const int dRuns = d1 >= minSeconds ? 1 : static_cast<int>(minSeconds / (d1 > 0 ? d1 : 1e-6)) + 1;
            const int oRuns = o1 >= minSeconds ? 1 : static_cast<int>(minSeconds / (o1 > 0 ? o1 : 1e-6)) + 1;
            double dMin = d1, oMin = o1;
            for (int r = 0; r < repeats; ++r) {
                const double d = Batch(input, a, c.direct, dRuns);
                const double o = Batch(input, b, c.ours, oRuns);
                if (d < dMin) dMin = d;
                if (o < oMin) oMin = o;
            }
            timings.direct[row] = dMin;
            timings.ours[row] = oMin;
            std::fprintf(stderr, "%s done\n", row.c_str());
        }
    qx::bench::PrintTable(cases, timings);
    return 0;
}
