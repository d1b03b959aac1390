#include "tools/host/transcript.h"

#include <cstdio>
#include <vector>

namespace qxhost {
namespace {

std::string VFormat(const char *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return "";
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    return std::string(buf.data(), static_cast<size_t>(n));
}

}  // namespace

void Transcript::Call(const char *call, const std::string &result, const std::string &detail) {
    ++callCount;
    std::printf("%3d  %-56s -> %s", callCount, call, result.c_str());
    if (!detail.empty()) std::printf(", %s", detail.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

void Transcript::Note(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::printf("       %s\n", VFormat(format, args).c_str());
    va_end(args);
    std::fflush(stdout);
}

void Transcript::Violation(const char *format, ...) {
    ++violationCount;
    va_list args;
    va_start(args, format);
    std::printf("       CONTRACT VIOLATION: %s\n", VFormat(format, args).c_str());
    va_end(args);
    std::fflush(stdout);
}

void Transcript::Section(const char *title) {
    std::printf("\n== %s\n", title);
    std::fflush(stdout);
}

std::string HresultText(HRESULT hr) {
    struct Name {
        HRESULT hr;
        const char *name;
    };
    static const Name names[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_FAIL, "E_FAIL"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
    };
    for (const Name &n : names)
        if (n.hr == hr) return n.name;
    return Format("0x%08lX", static_cast<unsigned long>(hr));
}

std::string Utf8(const wchar_t *text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return "";
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &s[0], n, nullptr, nullptr);
    s.resize(static_cast<size_t>(n) - 1);
    return s;
}

std::string Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = VFormat(format, args);
    va_end(args);
    return s;
}

}  // namespace qxhost
