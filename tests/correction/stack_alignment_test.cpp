// The AVX2 kernels run from a thread whose stack is only 16-byte aligned,
// as Windows gives it: MinGW's g++ may lay out spilled 32-byte registers as
// if the frame were 32-byte aligned, so an aligned move there faults on every
// other call depth unless the build rules it out. Each kernel runs with the
// stack pointer at 0 and at 16 modulo 32 on the call (on x86 at every 4);
// a fault ends the thread with its code, which the test reports instead of
// the program dying.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/correction/oracle.h"
#include "tests/correction/picture.h"
#include "uiplugin/correction/engine/correction_kernels.h"
#include "uiplugin/correction/engine/image_correction.h"

// fn(arg) with the stack pointer at `offset` below a 32-byte boundary at the
// call instruction (on x64 a multiple of 16, so the ABI still holds).
extern "C" void QxCallShifted(void (*fn)(void *), void *arg, uintptr_t offset);
// An aligned 32-byte store to a stack slot that is 32-byte aligned exactly
// when QxCallShifted's offset is 0: what a faulty build would do.
extern "C" void QxAlignedSpill(void *);

#if defined(__x86_64__)
asm(".text\n"
    ".globl QxCallShifted\n"
    "QxCallShifted:\n"
    "  pushq %rbp\n"
    "  movq %rsp, %rbp\n"
    "  andq $-32, %rsp\n"
    "  subq %r8, %rsp\n"
    "  subq $32, %rsp\n"  // the callee's home space; keeps the offset
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  call *%rax\n"
    "  movq %rbp, %rsp\n"
    "  popq %rbp\n"
    "  ret\n"
    ".globl QxAlignedSpill\n"
    "QxAlignedSpill:\n"
    "  subq $64, %rsp\n"
    "  vmovdqa %ymm0, 8(%rsp)\n"
    "  addq $64, %rsp\n"
    "  vzeroupper\n"
    "  ret\n");
#else
asm(".text\n"
    ".globl _QxCallShifted\n"
    "_QxCallShifted:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  andl $-32, %esp\n"
    "  subl 16(%ebp), %esp\n"
    "  subl $28, %esp\n"  // with the argument pushed, the offset again
    "  pushl 12(%ebp)\n"
    "  call *8(%ebp)\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n"
    ".globl _QxAlignedSpill\n"
    "_QxAlignedSpill:\n"
    "  subl $64, %esp\n"
    "  vmovdqa %ymm0, 4(%esp)\n"
    "  addl $64, %esp\n"
    "  vzeroupper\n"
    "  ret\n");
#endif

namespace {

using qx::CorrectionSettings;
using qx::testing::UnsharpSettings;
using qx::detail::Simd;
using qx::testing::Picture;

struct Call {
    void (*fn)(void *);
    void *arg;
    uintptr_t offset;
};

DWORD g_worker = 0;

LONG CALLBACK EndFaultingWorker(EXCEPTION_POINTERS *info) {
    if (GetCurrentThreadId() == g_worker) ExitThread(info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

DWORD WINAPI Worker(void *p) {
    const Call *call = static_cast<const Call *>(p);
    QxCallShifted(call->fn, call->arg, call->offset);
    return 0;
}

// Runs fn(arg) on a new thread at the given offset; 0, or the code of the
// exception that ended it.
DWORD RunOnThread(void (*fn)(void *), void *arg, uintptr_t offset) {
    Call call{fn, arg, offset};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 1 << 20, Worker, &call, CREATE_SUSPENDED, &id);
    if (!thread) return GetLastError();
    g_worker = id;
    ResumeThread(thread);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    g_worker = 0;
    return code;
}

// The frames between the shifted call and the kernels are multiples of 16
// bytes, so the two offsets still give the kernels both alignments.
DWORD RunOnThread(std::function<void()> run, uintptr_t offset) {
    return RunOnThread([](void *p) { (*static_cast<std::function<void()> *>(p))(); }, &run, offset);
}

// x64 keeps 16-byte alignment at calls; 32-bit Windows promises only 4
// (code from other compilers calls in that way), so x86 runs those too.
#if defined(__x86_64__)
constexpr uintptr_t kOffsets[] = {0, 16};
#else
constexpr uintptr_t kOffsets[] = {0, 4, 8, 12, 16, 20, 24, 28};
#endif

// Whether to run: the Windows builds must have the AVX2 kernels; only a
// processor without AVX2 skips.
bool Avx2Runs() {
#if !defined(QX_HAVE_AVX2_KERNELS)
    ADD_FAILURE() << "this build has no AVX2 kernels";
    return false;
#else
    if (!__builtin_cpu_supports("avx2")) return false;
    EXPECT_TRUE(qx::detail::SimdAvailable(Simd::kAvx2)) << "the processor has AVX2 but the kernels are not offered";
    return qx::detail::SimdAvailable(Simd::kAvx2);
#endif
}

// The harness itself: the two offsets really give the two alignments, and a
// fault on the thread comes back as its code.
TEST(Avx2Kernels, HarnessCatchesAlignedSpillAtSixteen) {
    if (!Avx2Runs()) GTEST_SKIP() << "this processor has no AVX2; nothing to run";
    PVOID handler = AddVectoredExceptionHandler(1, EndFaultingWorker);
    ASSERT_NE(nullptr, handler);
    EXPECT_EQ(0u, RunOnThread(QxAlignedSpill, nullptr, 0));
    EXPECT_NE(0u, RunOnThread(QxAlignedSpill, nullptr, 16)) << "an aligned 32-byte store at 16 mod 32 did not fault";
    RemoveVectoredExceptionHandler(handler);
}

TEST(Avx2Kernels, RunOnStacksWithoutThirtyTwoByteAlignment) {
    if (!Avx2Runs()) GTEST_SKIP() << "this processor has no AVX2; nothing to run";
    PVOID handler = AddVectoredExceptionHandler(1, EndFaultingWorker);
    ASSERT_NE(nullptr, handler);
    qx::ToneTable table;
    qx::BuildToneTable(UnsharpSettings(29, 12, 0), table);
    const Picture input = qx::testing::RandomPicture(97, 41, 7);
    // The blur in doubles (fractional ring), the integer box, and the
    // sharpness filter: every kernel of the set.
    const struct {
        const char *name;
        int radius;
        int level;
    } cases[] = {{"unsharp r 29", 29, 0}, {"unsharp r 20", 20, 0}, {"sharpness 7", 0, 7}};
    for (const auto &c : cases) {
        Picture expected = input;
        if (c.radius)
            qx::oracle::ApplyUnsharpMask(UnsharpSettings(c.radius, 12, 0), input.width, input.height, expected.data());
        if (c.level)
            qx::oracle::ApplySharpnessFilter(expected.data(), input.width, input.height, input.stride, c.level, table);
        // SSE2 too: on x86 it meets the same 4-byte aligned callers.
        for (Simd simd : {Simd::kAvx2, Simd::kSse2})
            for (uintptr_t offset : kOffsets) {
                const char *set = simd == Simd::kAvx2 ? "avx2" : "sse2";
                Picture got = input;
                bool ok = false;
                const DWORD code = RunOnThread(
                    [&] {
                        ok = c.radius ? qx::detail::ApplyUnsharpMaskUsing(simd, UnsharpSettings(c.radius, 12, 0),
                                                                          got.width, got.height, got.data())
                                      : qx::detail::ApplySharpnessFilterUsing(simd, got.data(), got.width,
                                                                              got.height, got.stride, c.level, table);
                    },
                    offset);
                EXPECT_EQ(0u, code) << set << " " << c.name << ", stack at " << offset
                                    << " mod 32: ended by exception 0x" << std::hex << code;
                if (code != 0) continue;
                EXPECT_TRUE(ok) << set << " " << c.name;
                EXPECT_EQ(expected.bytes, got.bytes) << set << " " << c.name << ", stack at " << offset << " mod 32";
            }
    }
    RemoveVectoredExceptionHandler(handler);
}

}  // namespace
