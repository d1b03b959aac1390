// The vector operations of the baseline set of this build (SSE2 on x86, NEON
// on AArch64) on the values where instruction sets part ways: saturation,
// shift counts beyond the lane, truncation out of range, signed compares,
// operand order, lane order. The expected values are SSE2's; every set must
// give them for the kernels to give the same bytes.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "uiplugin/correction/engine/correction_kernels.h"
#include "uiplugin/correction/engine/simd_traits.h"

namespace {

using qx::detail::Simd;

// One register from 16 bytes of lanes, and back.
template <class V>
typename V::I Make(const void *lanes) {
    return V::Load(lanes);
}
template <class T, class V>
void Lanes(typename V::I v, T *out) {
    unsigned char bytes[16];
    V::Store(bytes, v);
    std::memcpy(out, bytes, 16);
}

template <class V>
void CheckNarrowing() {
    const int32_t a[4] = {70000, -70000, 32767, -32768}, b[4] = {32768, -1, 0, 255};
    int16_t packed[8];
    Lanes<int16_t, V>(V::Packs32(Make<V>(a), Make<V>(b)), packed);
    const int16_t wantPacked[8] = {32767, -32768, 32767, -32768, 32767, -1, 0, 255};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(wantPacked[i], packed[i]) << "Packs32 lane " << i;

    const int16_t c[8] = {-1, 256, 255, 0, -32768, 32767, 128, 1}, d[8] = {300, -300, 17, 0, 1, 2, 3, 4};
    uint8_t bytes[16];
    Lanes<uint8_t, V>(V::Packus16(Make<V>(c), Make<V>(d)), bytes);
    const uint8_t wantBytes[16] = {0, 255, 255, 0, 0, 255, 128, 1, 255, 0, 17, 0, 1, 2, 3, 4};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(wantBytes[i], bytes[i]) << "Packus16 lane " << i;

    unsigned char narrow[8];
    V::StoreNarrow16(narrow, Make<V>(c));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(wantBytes[i], narrow[i]) << "StoreNarrow16 lane " << i;
}

template <class V>
void CheckShiftCounts() {
    const int16_t x[8] = {-32768, -1, 1, 32767, -300, 300, -7, 7};
    // psraw: the count is unsigned, and from 16 on every bit is the sign.
    const int counts[] = {0, 3, 7, 15, 16, 40, -1, 255, INT_MIN};
    for (int count : counts) {
        int16_t got[8];
        Lanes<int16_t, V>(V::Sra16(Make<V>(x), V::Count(count)), got);
        for (int i = 0; i < 8; ++i) {
            const int want = count < 0 || count > 15 ? (x[i] < 0 ? -1 : 0) : x[i] >> count;
            EXPECT_EQ(want, got[i]) << "Sra16 count " << count << " lane " << i;
        }
    }
    const int16_t m[8] = {300, -3, 8192, -1, 0, 255, -32768, 2};
    const int16_t w[8] = {300, 20000, 8, 1, 5, 255, 2, -16385};
    int16_t mul[8], shl[8];
    Lanes<int16_t, V>(V::Mullo16(Make<V>(m), Make<V>(w)), mul);
    Lanes<int16_t, V>(V::Shl3x16(Make<V>(m)), shl);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(static_cast<int16_t>(static_cast<uint16_t>(m[i] * w[i])), mul[i]) << "Mullo16 lane " << i;
        EXPECT_EQ(static_cast<int16_t>(static_cast<uint16_t>(m[i] * 8)), shl[i]) << "Shl3x16 lane " << i;
    }
}

template <class V>
void CheckTruncation() {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        double in;
        int32_t want;
    } cases[] = {
        {255.9, 255},           {-0.5, 0},           {-1.5, -1},          {2147483647.9, INT32_MAX},
        {2147483648.0, INT32_MIN}, {-2147483648.9, INT32_MIN}, {-2147483649.0, INT32_MIN}, {-2147483647.5, -2147483647},
        {nan, INT32_MIN},       {inf, INT32_MIN},    {-inf, INT32_MIN},   {1e300, INT32_MIN},
    };
    constexpr int kCases = sizeof(cases) / sizeof(cases[0]);
    static_assert(kCases % 4 == 0, "four lanes a step");
    for (int i = 0; i < kCases; i += 4) {
        const double a[2] = {cases[i].in, cases[i + 1].in}, b[2] = {cases[i + 2].in, cases[i + 3].in};
        int32_t got[4];
        Lanes<int32_t, V>(V::Trunc2(V::LoadD(a), V::LoadD(b)), got);
        for (int j = 0; j < 4; ++j) EXPECT_EQ(cases[i + j].want, got[j]) << "Trunc2 of " << cases[i + j].in;
    }
}

template <class V>
void CheckMasksAndOrder() {
    const int32_t a[4] = {-1, 5, INT32_MIN, 7}, b[4] = {1, 5, INT32_MAX, -8};
    int32_t gt[4];
    Lanes<int32_t, V>(V::Gt32(Make<V>(a), Make<V>(b)), gt);
    const int32_t wantGt[4] = {0, 0, 0, -1};  // signed: -1 > 1 is false
    for (int i = 0; i < 4; ++i) EXPECT_EQ(wantGt[i], gt[i]) << "Gt32 lane " << i;

    const int32_t mask[4] = {-1, 0, -1, 0}, v[4] = {11, 22, 33, 44};
    int32_t andNot[4];
    Lanes<int32_t, V>(V::AndNot(Make<V>(mask), Make<V>(v)), andNot);  // (~mask) & v
    const int32_t wantAndNot[4] = {0, 22, 0, 44};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(wantAndNot[i], andNot[i]) << "AndNot lane " << i;

    uint8_t seq[16];
    for (int i = 0; i < 16; ++i) seq[i] = static_cast<uint8_t>(200 + i);
    const typename V::I s = Make<V>(seq), zero = V::Zero();
    uint16_t lo[8], hi[8], widened[8];
    Lanes<uint16_t, V>(V::Unpack8Lo(s, zero), lo);
    Lanes<uint16_t, V>(V::Unpack8Hi(s, zero), hi);
    Lanes<uint16_t, V>(V::LoadWiden8(seq + 8), widened);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(200 + i, lo[i]) << "Unpack8Lo lane " << i;
        EXPECT_EQ(208 + i, hi[i]) << "Unpack8Hi lane " << i;
        EXPECT_EQ(208 + i, widened[i]) << "LoadWiden8 lane " << i;
    }
    const uint16_t words[8] = {1, 2, 3, 4, 65535, 6, 7, 8};
    int32_t lo32[4], hi32[4];
    Lanes<int32_t, V>(V::Unpack16Lo(Make<V>(words), zero), lo32);
    Lanes<int32_t, V>(V::Unpack16Hi(Make<V>(words), zero), hi32);
    const int32_t wantLo[4] = {1, 2, 3, 4}, wantHi[4] = {65535, 6, 7, 8};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(wantLo[i], lo32[i]) << "Unpack16Lo lane " << i;
        EXPECT_EQ(wantHi[i], hi32[i]) << "Unpack16Hi lane " << i;
    }
    const int32_t ints[4] = {1, -2, INT32_MIN, INT32_MAX};
    double dl[2], dh[2];
    const typename V::D l = V::ToDoublesLo(Make<V>(ints)), h = V::ToDoublesHi(Make<V>(ints));
    std::memcpy(dl, &l, sizeof dl);
    std::memcpy(dh, &h, sizeof dh);
    EXPECT_EQ(1.0, dl[0]);
    EXPECT_EQ(-2.0, dl[1]);
    EXPECT_EQ(-2147483648.0, dh[0]);
    EXPECT_EQ(2147483647.0, dh[1]);
}

template <class V>
void CheckAll() {
    CheckNarrowing<V>();
    CheckShiftCounts<V>();
    CheckTruncation<V>();
    CheckMasksAndOrder<V>();
}

TEST(SimdOps, BaselineSetMatchesSse2Semantics) {
#if defined(QX_NEON_KERNELS)
    CheckAll<qx::detail::Neon>();
#elif defined(__SSE2__)
    CheckAll<qx::detail::Sse2>();
#else
    GTEST_SKIP() << "no vector set in this build";
#endif
}

// A build for a vector processor that quietly fell back to the scalar set
// would pass every equality test while testing nothing of its own.
TEST(SimdOps, VectorBuildsChooseTheirSet) {
#if defined(__aarch64__) || defined(_M_ARM64)
#if !defined(QX_NEON_KERNELS)
    ADD_FAILURE() << "AArch64 build without the NEON kernels";
#endif
    EXPECT_EQ(Simd::kNeon, qx::detail::BestSimd());
    EXPECT_FALSE(qx::detail::SimdAvailable(Simd::kSse2));
#elif defined(__SSE2__)
    EXPECT_NE(Simd::kScalar, qx::detail::BestSimd());
    EXPECT_FALSE(qx::detail::SimdAvailable(Simd::kNeon));
#endif
}

}  // namespace
