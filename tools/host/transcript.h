#pragma once
// The host's readable record of each call into the plug-in and what came
// back, and the tally of results the contract does not allow.
#include <windows.h>

#include <cstdarg>
#include <string>

namespace qxhost {

class Transcript {
public:
    // One numbered call line: what was called, what it returned, and details.
    void Call(const char *call, const std::string &result, const std::string &detail = "");
    // An indented line under the last call.
    void Note(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // A result the contract does not allow: printed and counted.
    void Violation(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // A section heading.
    void Section(const char *title);

    int violations() const { return violationCount; }

private:
    int callCount = 0;
    int violationCount = 0;
};

std::string HresultText(HRESULT hr);
std::string Utf8(const wchar_t *text);
std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qxhost
