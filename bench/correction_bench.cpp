// Direct forms against the library on 192 x 192 and 1000 x 1000 pictures.
// Each case runs both in one program; the table at the end gives the ratio
// direct / ours of the mean time per run, and whether their bytes agree.
//
//   correction_bench [--benchmark_filter=...] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/correction/oracle.h"
#include "tests/correction/picture.h"
#include "uiplugin/correction/image_correction.h"

namespace {

using qx::CorrectionSettings;
using qx::testing::Picture;

using Step = std::function<void(Picture &)>;

struct Case {
    std::string name;
    Step direct;
    Step ours;
};

CorrectionSettings Settings(int radius, int amount, int threshold, int sharpness) {
    CorrectionSettings s = qx::testing::DefaultSettings();
    s.brightness = 2, s.contrast = 3, s.saturation = 4, s.cyanRed = -2, s.magentaGreen = 1, s.yellowBlue = 3;
    s.unsharpMask = 1;
    s.unsharpRadius = static_cast<int16_t>(radius);
    s.unsharpAmount = static_cast<int16_t>(amount);
    s.unsharpThreshold = static_cast<int16_t>(threshold);
    s.sharpness = static_cast<uint16_t>(sharpness);
    return s;
}

qx::ToneTable Table(const CorrectionSettings &s) {
    qx::ToneTable t;
    qx::BuildToneTable(s, t);
    return t;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    const CorrectionSettings tone = Settings(10, 5, 5, 7);
    const qx::ToneTable table = Table(tone);
    cases.push_back({"lookup",
                     [table](Picture &p) {
                         for (int y = 0; y < p.height; ++y) qx::oracle::ApplyToneRow(p.row(y), p.width, table);
                     },
                     [table](Picture &p) {
                         for (int y = 0; y < p.height; ++y) qx::ApplyToneRow(p.row(y), p.width, table);
                     }});
    cases.push_back({"sharpness7",
                     [table](Picture &p) {
                         qx::oracle::ApplySharpnessFilter(p.data(), p.width, p.height, p.stride, 7, table);
                     },
                     [table](Picture &p) {
                         qx::ApplySharpnessFilter(p.data(), p.width, p.height, p.stride, 7, table);
                     }});
    for (int radius : {10, 15, 29, 30}) {
        const CorrectionSettings s = Settings(radius, 5, 5, 0);
        cases.push_back({"unsharp_r" + std::to_string(radius),
                         [s](Picture &p) { qx::oracle::ApplyUnsharpMask(s, p.width, p.height, p.data()); },
                         [s](Picture &p) { qx::ApplyUnsharpMask(s, p.width, p.height, p.data()); }});
    }
    // The largest window with a fractional ring, the strongest amount, no
    // threshold, then the strongest sharpness.
    const CorrectionSettings worst = Settings(29, 12, 0, 7);
    const qx::ToneTable worstTable = Table(worst);
    cases.push_back({"worst",
                     [worst, worstTable](Picture &p) {
                         qx::oracle::ApplyUnsharpMask(worst, p.width, p.height, p.data());
                         qx::oracle::ApplySharpnessFilter(p.data(), p.width, p.height, p.stride, 7, worstTable);
                     },
                     [worst](Picture &p) { qx::CorrectPicture(worst, p.data(), p.width, p.height, p.stride); }});
    return cases;
}

// A smooth gradient with noise and sharp-edged blocks, something like a
// photograph for the threshold tests.
Picture Photo(int side) {
    Picture p(side, side);
    std::mt19937 rng(static_cast<uint32_t>(side));
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            for (int c = 0; c < 3; ++c) {
                int v = (x * 255 / side + y * 128 / side + 60 * c) % 256 + static_cast<int>(rng() % 21) - 10;
                if ((x / 37 + y / 23) % 5 == 0) v = 255 - v;
                p.at(x, y, c) = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
    return p;
}

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
    const int sides[] = {192, 1000};
    std::map<int, Picture> pictures;
    for (int side : sides) pictures[side] = Photo(side);

    const std::vector<Case> cases = Cases();
    std::map<std::string, bool> same;
    for (const Case &c : cases) {
        for (int side : sides) {
            const std::string base = c.name + "/" + std::to_string(side);
            const Picture &input = pictures[side];
            Picture a = input, b = input;
            c.direct(a);
            c.ours(b);
            same[base] = a.bytes == b.bytes;
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

    std::printf("\n%-22s %12s %12s %10s %s\n", "case", "direct ms", "ours ms", "ratio", "bytes");
    for (const Case &c : cases)
        for (int side : sides) {
            const std::string base = c.name + "/" + std::to_string(side);
            const auto d = collector.seconds.find(base + "/direct");
            const auto o = collector.seconds.find(base + "/ours");
            if (d == collector.seconds.end() || o == collector.seconds.end()) continue;
            std::printf("%-22s %12.3f %12.3f %9.2fx %s\n", base.c_str(), d->second * 1e3, o->second * 1e3,
                        d->second / o->second, same[base] ? "equal" : "DIFFER");
        }
    std::printf("ratio = direct / ours\n");
    return 0;
}
