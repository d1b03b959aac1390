#pragma once
// The plug-in is called from its host's own code: the spooler, a printing
// application, the platform's sheets. No C++ exception may unwind into it
// (out of memory while a string is built, for one): every entry point,
// window and dialog procedure, sheet callback and COM method runs its body
// through Guarded, which answers the given fallback instead.
template <class Result, class Body>
Result Guarded(Result fallback, Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

template <class Body>
void GuardedCall(Body &&body) noexcept {
    try {
        body();
    } catch (...) {
    }
}
