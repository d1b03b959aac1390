#pragma once
// The correction benchmark's cases and pictures, and its closing table,
// shared by the Google Benchmark driver (native) and the driver with a
// timing loop of its own (Windows builds, run under Wine).
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/correction/oracle.h"
#include "tests/correction/picture.h"
#include "uiplugin/correction/engine/image_correction.h"

namespace qx::bench {

using qx::CorrectionSettings;
using qx::testing::Picture;

using Step = std::function<void(Picture &)>;

struct Case {
    std::string name;
    Step direct;
    Step ours;
};

inline CorrectionSettings Settings(int radius, int amount, int threshold, int sharpness) {
    CorrectionSettings s = qx::testing::UnsharpSettings(radius, amount, threshold);
    s.brightness = 2, s.contrast = 3, s.saturation = 4, s.cyanRed = -2, s.magentaGreen = 1, s.yellowBlue = 3;
    s.sharpness = static_cast<uint16_t>(sharpness);
    return s;
}

inline qx::ToneTable Table(const CorrectionSettings &s) {
    qx::ToneTable t;
    qx::BuildToneTable(s, t);
    return t;
}

inline std::vector<Case> Cases() {
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
inline Picture Photo(int side) {
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

constexpr int kSides[] = {192, 1000};

inline std::string RowName(const Case &c, int side) { return c.name + "/" + std::to_string(side); }

// Seconds per run of each form by row name; rows without both are left out.
struct Timings {
    std::map<std::string, double> direct, ours;
    std::map<std::string, bool> same;
};

inline void PrintTable(const std::vector<Case> &cases, const Timings &t) {
    std::printf("\n%-22s %12s %12s %10s %s\n", "case", "direct ms", "ours ms", "ratio", "bytes");
    for (const Case &c : cases)
        for (int side : kSides) {
            const std::string row = RowName(c, side);
            const auto d = t.direct.find(row);
            const auto o = t.ours.find(row);
            if (d == t.direct.end() || o == t.ours.end()) continue;
            const auto s = t.same.find(row);
            std::printf("%-22s %12.3f %12.3f %9.2fx %s\n", row.c_str(), d->second * 1e3, o->second * 1e3,
                        d->second / o->second, s != t.same.end() && s->second ? "equal" : "DIFFER");
        }
    std::printf("ratio = direct / ours\n");
}

}  // namespace qx::bench
