// The AVX2 kernel set. This file alone is built with -mavx2 and is entered
// only after the run-time check (SimdAvailable); the kernels it instantiates
// and everything they call have internal linkage, so no AVX2 code can reach
// other paths.
#include "uiplugin/correction/engine/simd_kernels.h"

#if !defined(__AVX2__)
#error "kernels_avx2.cpp must be built with -mavx2"
#endif

namespace qx::detail {

const KernelSet &Avx2Kernels() {
    static constexpr KernelSet set = MakeKernelSet<Avx2>();
    return set;
}

}  // namespace qx::detail
