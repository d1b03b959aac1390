// Direct forms against the library on 192 x 192 and 1000 x 1000 pictures.
// Each case runs both in one program; the table at the end gives the ratio
// direct / ours of the mean time per run, and whether their bytes agree.
//
//   correction_bench [--benchmark_filter=...] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/correction_cases.h"

namespace {

using qx::bench::Case;
using qx::bench::Step;
using qx::testing::Picture;

void Measure(benchmark::State &state, const Picture &input, const Step &run) {
    Picture work = input;
    for (auto _ : state) {
        std::memcpy(work.data(), input.bytes.data(), input.bytes.size());
        run(work);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
}

// Keeps the mean real time per iteration of every run, by name.
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs)
            if (r.iterations > 0 && !r.error_occurred)
                seconds[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char **argv) {
    std::map<int, Picture> pictures;
    for (int side : qx::bench::kSides) pictures[side] = qx::bench::Photo(side);

    const std::vector<Case> cases = qx::bench::Cases();
    qx::bench::Timings timings;
    for (const Case &c : cases) {
        for (int side : qx::bench::kSides) {
            const std::string base = qx::bench::RowName(c, side);
            const Picture &input = pictures[side];
            Picture a = input, b = input;
            c.direct(a);
            c.ours(b);
            timings.same[base] = a.bytes == b.bytes;
            benchmark::RegisterBenchmark((base + "/direct").c_str(),
                                         [&input, &c](benchmark::State &st) { Measure(st, input, c.direct); })
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((base + "/ours").c_str(),
                                         [&input, &c](benchmark::State &st) { Measure(st, input, c.ours); })
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    for (const auto &[name, seconds] : collector.seconds) {
        const size_t slash = name.rfind('/');
        const std::string row = name.substr(0, slash), form = name.substr(slash + 1);
        (form == "direct" ? timings.direct : timings.ours)[row] = seconds;
    }
    qx::bench::PrintTable(cases, timings);
    return 0;
}
