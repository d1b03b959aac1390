// One preview repaint without GDI (open and load the file, cut out, correct)
// on real files, side by side in one run: a 192 x 192 file, a 6000 x 4000
// file (72 MB) and, as the baseline, the same large file loaded the literal
// way (all pixel data into one stride x height block, then the cut-out).
// The files are written into a temporary folder at the start.
//
//   preview_bench [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/correction/picture/preview_picture.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A 24-bit bottom-up file with noisy gradient pixels, written row by row.
bool WritePicture(const std::string &path, int32_t w, int32_t h) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const uint64_t stride = (static_cast<uint64_t>(w) * 3 + 3) & ~uint64_t{3};
    uint8_t head[54] = {'B', 'M'};
    Put32(head + 2, static_cast<uint32_t>(54 + stride * static_cast<uint64_t>(h)));
    Put32(head + 10, 54);
    Put32(head + 14, 40);
    Put32(head + 18, static_cast<uint32_t>(w));
    Put32(head + 22, static_cast<uint32_t>(h));
    head[26] = 1;
    head[28] = 24;
    bool ok = std::fwrite(head, 1, sizeof head, f) == sizeof head;
    std::mt19937 rng(static_cast<uint32_t>(w));
    Bytes row(stride, 0);
    for (int32_t y = 0; y < h && ok; ++y) {
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] = static_cast<uint8_t>((x * 255 / w + y * 128 / h + 60 * c) + rng() % 17);
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    return std::fclose(f) == 0 && ok;
}

// The paint as built: positioned reads of the 192 rows a cut-out takes.
void Repaint(const std::string &path, const qx::CorrectionSettings &s, uint8_t *scratch) {
    qx::StdioFileSource file(path.c_str());
    qx::PreviewImage image;
    if (qx::LoadPictureFile(file, scratch, image) != qx::PictureFault::None) std::abort();
    const int32_t rows = image.height < 0 ? -image.height : image.height;
    qx::CorrectPicture(s, image.pixels.data(), image.width, rows, image.stride);
    benchmark::DoNotOptimize(image.pixels.data());
}

uint32_t Get32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The literal load of a cut-out: header area into a block of its own, the
// pixel data (declared size less two) into one stride x height block, the
// centre rows copied into the scratch, then into the picture.
void LiteralRepaint(const std::string &path, const qx::CorrectionSettings &s, uint8_t *scratch) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) std::abort();
    uint8_t fh[14];
    if (std::fread(fh, 1, 14, f) != 14) std::abort();
    const uint32_t bfSize = Get32(fh + 2), bfOffBits = Get32(fh + 10);
    Bytes header(bfOffBits - 14);
    if (std::fread(header.data(), 1, header.size(), f) != header.size()) std::abort();
    const int32_t w = static_cast<int32_t>(Get32(header.data() + 4));
    const int32_t h = static_cast<int32_t>(Get32(header.data() + 8));
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
    std::unique_ptr<uint8_t[]> block(new uint8_t[stride * static_cast<size_t>(h)]);
    const size_t got = std::fread(block.get(), 1, bfSize - bfOffBits - 2, f);
    benchmark::DoNotOptimize(got);
    std::fclose(f);
    for (int i = 0; i < 192; ++i)
        std::memcpy(scratch + i * 576, block.get() + static_cast<size_t>(h / 2 - 96 + i) * stride + 3 * (w / 2 - 96),
                    576);
    Bytes pixels(scratch, scratch + qx::kPreviewPixelBytes);
    qx::CorrectPicture(s, pixels.data(), 192, 192, 576);
    benchmark::DoNotOptimize(pixels.data());
}

class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds, cpuSeconds;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs)
            if (r.iterations > 0 && !r.error_occurred)
            {
                seconds[r.benchmark_name()] = r.GetAdjustedRealTime() / 1e3;  // reported in ms
                cpuSeconds[r.benchmark_name()] = r.GetAdjustedCPUTime() / 1e3;
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char **argv) {
    char tmpl[] = "/tmp/qx748-preview-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    const std::string dir = tmpl;
    const std::string small = dir + "/192x192.bmp", large = dir + "/6000x4000.bmp";
    if (!WritePicture(small, 192, 192) || !WritePicture(large, 6000, 4000)) {
        std::fprintf(stderr, "preview_bench: cannot write the pictures into %s\n", dir.c_str());
        return 1;
    }

    const qx::CorrectionSettings defaults = qx::DefaultPrivateDevMode().settings;
    qx::CorrectionSettings worst = defaults;
    worst.unsharpMask = 1;
    worst.unsharpRadius = 29;
    worst.unsharpAmount = 12;
    worst.unsharpThreshold = 0;
    worst.sharpness = 7;

    static uint8_t scratch[qx::kPreviewScratchSize];
    // The literal load's first read brings the whole file into the page
    // cache, as the file system would after any earlier paint.
    LiteralRepaint(large, defaults, scratch);

    benchmark::RegisterBenchmark("repaint/192x192", [&](benchmark::State &st) {
        for (auto _ : st) Repaint(small, defaults, scratch);
    })->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("repaint/6000x4000", [&](benchmark::State &st) {
        for (auto _ : st) Repaint(large, defaults, scratch);
    })->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("literal/6000x4000", [&](benchmark::State &st) {
        for (auto _ : st) LiteralRepaint(large, defaults, scratch);
    })->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("worst/192x192", [&](benchmark::State &st) {
        for (auto _ : st) Repaint(small, worst, scratch);
    })->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Collector c;
    benchmark::RunSpecifiedBenchmarks(&c);
    benchmark::Shutdown();
    std::remove(small.c_str());
    std::remove(large.c_str());
    rmdir(dir.c_str());

    // Medians of the repetitions, by wall clock and by processor time (the
    // machine may be busy with other work, which only the first includes).
    for (const auto *times : {&c.seconds, &c.cpuSeconds}) {
        auto ms = [&](const char *name) {
            const auto it = times->find(std::string(name) + "/repeats:7_median");
            return it == times->end() ? 0.0 : it->second * 1e3;
        };
        const double s192 = ms("repaint/192x192"), s6000 = ms("repaint/6000x4000"),
                     lit = ms("literal/6000x4000"), worstMs = ms("worst/192x192");
        std::printf("\n%s: repaint 192x192 %.3f ms, 6000x4000 %.3f ms, literal 6000x4000 %.3f ms, "
                    "worst 192x192 %.3f ms\n",
                    times == &c.seconds ? "wall" : "cpu", s192, s6000, lit, worstMs);
        if (s192 <= 0 || s6000 <= 0 || worstMs <= 0) continue;
        std::printf("  6000x4000 / 192x192   %6.2fx  (target <= 1.5x)\n", s6000 / s192);
        std::printf("  literal / 6000x4000   %6.1fx  (target >= 20x)\n", lit / s6000);
        std::printf("  worst 192x192 / 16 ms %6.3f   (target well below 1)\n", worstMs / 16.0);
    }
    return 0;
}
