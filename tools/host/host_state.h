#pragma once
// The process and thread state a plug-in could change under its host: the
// host takes it before the plug-in runs and compares it afterwards, since
// a driver UI lives in every application that prints and the application
// lives with whatever is left changed.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/host/transcript.h"

namespace qxhost {

struct HostState {
    std::wstring workingFolder;
    UINT errorMode = 0;
    DWORD threadErrorMode = 0;
    int dpiAwareness = -2;  // the thread's; -2 where the platform cannot say
    LCID threadLocale = 0;
    std::string crtLocale;
    unsigned fpControl = 0;
    HRESULT apartmentResult = S_OK;  // the COM apartment of the thread
    int apartment = -1;

    static HostState Take();
};

// Logs one line with each difference; a difference is a violation.
void CheckStateKept(Transcript &log, const HostState &before, const char *when, bool withApartment);

}  // namespace qxhost
