#pragma once
// The vector row kernels, once, over a traits type V of simd_traits.h
// (Sse2, Avx2, Neon). Each lane does exactly the scalar sequence of
// correction_kernels.h; the tails shorter than a vector step run the scalar
// lanes. Included by one file per instruction set, each built with its own
// flags; everything has internal linkage (see simd_traits.h).
//
// Loops over the eight blur accumulators are unrolled by pragma so that they
// live in registers at -O2 as well, not in a stack array; the helpers on
// vector values are inlined by force, since the x64 Windows convention
// passes each vector argument of an outlined call through memory.
#include "uiplugin/correction/engine/correction_kernels.h"
#include "uiplugin/correction/engine/simd_traits.h"

#define QX_VECTOR_INLINE inline __attribute__((always_inline))

namespace qx::detail {
namespace {

// Eight double registers of truncated values 0..255 to one register of bytes.
template <class V>
QX_VECTOR_INLINE typename V::I NarrowDoubles(const typename V::D (&a)[8]) {
    return V::Packus16(V::Packs32(V::Trunc2(a[0], a[1]), V::Trunc2(a[2], a[3])),
                       V::Packs32(V::Trunc2(a[4], a[5]), V::Trunc2(a[6], a[7])));
}

template <class V>
void BlurRowV(const double *const *cells, int cellCount, size_t count, double inv, unsigned char *out) {
    using D = typename V::D;
    const D scale = V::SetD(inv);
    size_t j = 0;
    for (; j + V::kBytes <= count; j += V::kBytes) {
        D a[8];
        const double *p = cells[0] + j;
#pragma GCC unroll 8
        for (int g = 0; g < 8; ++g) a[g] = V::LoadD(p + V::kDoubleBlock[g] * V::kDoubles);
        for (int c = 1; c < cellCount; ++c) {
            p = cells[c] + j;
            // The row's 14 streams of terms do not fit the first-level
            // cache and the loads share one instruction, which defeats the
            // hardware's stride prediction: fetch two steps ahead.
            V::Prefetch(p + 2 * V::kBytes);
            V::Prefetch(p + 2 * V::kBytes + 8);
#pragma GCC unroll 8
            for (int g = 0; g < 8; ++g) a[g] = V::AddD(a[g], V::LoadD(p + V::kDoubleBlock[g] * V::kDoubles));
        }
#pragma GCC unroll 8
        for (int g = 0; g < 8; ++g) a[g] = V::MulD(a[g], scale);
        V::Store(out + j, NarrowDoubles<V>(a));
    }
    BlurLanesScalar(cells, cellCount, j, count, inv, out);
}

// Lanes of pass 2 in 32 bits, the arithmetic in double precision as in
// UnsharpByte; the value is kept where |d| <= t.
template <class V>
QX_VECTOR_INLINE typename V::I Unsharp32(typename V::I o, typename V::I b, typename V::I t, typename V::I negT, typename V::D k) {
    const typename V::I d = V::Sub32(o, b);
    const typename V::I beyond = V::Or(V::Gt32(d, t), V::Gt32(negT, d));
    const typename V::I v = V::Trunc2(V::AddD(V::MulD(V::ToDoublesLo(d), k), V::ToDoublesLo(o)),
                                      V::AddD(V::MulD(V::ToDoublesHi(d), k), V::ToDoublesHi(o)));
    return V::Or(V::And(beyond, v), V::AndNot(beyond, o));
}

template <class V>
void UnsharpRowV(unsigned char *row, const unsigned char *blurred, size_t count, int t, double k) {
    using I = typename V::I;
    const I zero = V::Zero(), tv = V::Set32(t), negT = V::Set32(-t);
    const typename V::D kv = V::SetD(k);
    size_t j = 0;
    for (; j + V::kBytes <= count; j += V::kBytes) {
        const I o = V::Load(row + j), b = V::Load(blurred + j);
        const I oLo = V::Unpack8Lo(o, zero), oHi = V::Unpack8Hi(o, zero);
        const I bLo = V::Unpack8Lo(b, zero), bHi = V::Unpack8Hi(b, zero);
        const I r0 = Unsharp32<V>(V::Unpack16Lo(oLo, zero), V::Unpack16Lo(bLo, zero), tv, negT, kv);
        const I r1 = Unsharp32<V>(V::Unpack16Hi(oLo, zero), V::Unpack16Hi(bLo, zero), tv, negT, kv);
        const I r2 = Unsharp32<V>(V::Unpack16Lo(oHi, zero), V::Unpack16Lo(bHi, zero), tv, negT, kv);
        const I r3 = Unsharp32<V>(V::Unpack16Hi(oHi, zero), V::Unpack16Hi(bHi, zero), tv, negT, kv);
        V::Store(row + j, V::Packus16(V::Packs32(r0, r1), V::Packs32(r2, r3)));
    }
    UnsharpLanes(row, blurred, j, count, t, k);
}

template <class V>
void ColumnSumsV(const unsigned char *const *rows, int rowCount, size_t length, uint16_t *col) {
    using I = typename V::I;
    constexpr size_t kWords = V::kBytes / 2;
    size_t jj = 0;
    for (; jj + 2 * kWords <= length; jj += 2 * kWords) {
        I lo = V::Zero(), hi = V::Zero();
        for (int i = 0; i < rowCount; ++i) {
            lo = V::Add16(lo, V::LoadWiden8(rows[i] + jj));
            hi = V::Add16(hi, V::LoadWiden8(rows[i] + jj + kWords));
        }
        V::Store(col + jj, lo);
        V::Store(col + jj + kWords, hi);
    }
    ColumnSumLanes(rows, rowCount, jj, length, col);
}

// Sums of at most 7 x 7 bytes fit 16 bits (12495). Reads col up to
// count - 1 + 3 (width - 1), as the scalar lanes do.
template <class V>
void BoxRowV(const uint16_t *col, int width, size_t count, double inv, unsigned char *out) {
    using I = typename V::I;
    constexpr size_t kWords = V::kBytes / 2;
    const I zero = V::Zero();
    const typename V::D scale = V::SetD(inv);
    auto trunc = [&](I s32) { return V::Trunc2(V::MulD(V::ToDoublesLo(s32), scale), V::MulD(V::ToDoublesHi(s32), scale)); };
    size_t j = 0;
    for (; j + kWords <= count; j += kWords) {
        I s = V::Load(col + j);
        for (int i = 1; i < width; ++i) s = V::Add16(s, V::Load(col + j + 3 * static_cast<size_t>(i)));
        V::StoreNarrow16(out + j, V::Packs32(trunc(V::Unpack16Lo(s, zero)), trunc(V::Unpack16Hi(s, zero))));
    }
    BoxLanes(col, width, j, count, inv, out);
}

// Kernel values of the 16-bit lanes from centre values and neighbour sums.
template <class V, class C>
QX_VECTOR_INLINE typename V::I Sharpen16(typename V::I x, typename V::I n, typename V::I w1, C shift) {
    const typename V::I z = V::Sub16(V::Shl3x16(x), n);
    return V::Add16(x, V::Sra16(V::Mullo16(z, w1), shift));
}

// One vector step reads bytes q .. q + kBytes + 5 of each row, inside its
// 3 W bytes while q + kBytes <= count = 3 W - 6.
template <class V>
void SharpenRowV(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                 unsigned char *dst, size_t count, int w1, int shift) {
    using I = typename V::I;
    const I zero = V::Zero();
    const I weight = V::Set16(w1);
    const auto shiftBy = V::Count(shift);
    size_t q = 0;
    for (; q + V::kBytes <= count; q += V::kBytes) {
        I sumLo = zero, sumHi = zero;
        auto add = [&](const unsigned char *p) {
            const I v = V::Load(p);
            sumLo = V::Add16(sumLo, V::Unpack8Lo(v, zero));
            sumHi = V::Add16(sumHi, V::Unpack8Hi(v, zero));
        };
        add(prev + q), add(prev + q + 3), add(prev + q + 6);
        add(cur + q), add(cur + q + 6);
        add(next + q), add(next + q + 3), add(next + q + 6);
        const I x = V::Load(cur + q + 3);
        const I lo = Sharpen16<V>(V::Unpack8Lo(x, zero), sumLo, weight, shiftBy);
        const I hi = Sharpen16<V>(V::Unpack8Hi(x, zero), sumHi, weight, shiftBy);
        V::Store(dst + q, V::Packus16(lo, hi));
    }
    SharpenLanes(prev, cur, next, dst, q, count, w1, shift);
}

template <class V>
constexpr KernelSet MakeKernelSet() {
    return {BlurRowV<V>, UnsharpRowV<V>, ColumnSumsV<V>, BoxRowV<V>, SharpenRowV<V>};
}

}  // namespace
}  // namespace qx::detail
