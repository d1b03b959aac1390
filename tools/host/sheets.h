#pragma once
// The two property sheets as the platform's common property sheet UI runs
// them: option items through CommonUIProp, the plug-in's pages through
// DocumentPropertySheets / DevicePropertySheets, and the Apply callback.
// The sheet itself is either the host's own (its pfnComPropSheet, the real
// PropertySheetW) or the platform's CommonPropertySheetUIW, with the host as
// the driver UI's sheet callback.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/host/host_session.h"
#include "tools/host/transcript.h"

namespace qxhost {

enum class SheetShow {
    kInteractive,  // modal, on the screen, for a person to use
    kScripted,     // controls set by the host, then Apply and close
};

enum class SheetFrame {
    kHost,      // the host's own pfnComPropSheet and PropertySheetW
    kPlatform,  // compstui.dll's CommonPropertySheetUIW
};

enum class SheetKind { kDocument, kPrinter };

struct SheetRun {
    SheetShow show = SheetShow::kScripted;
    SheetFrame frame = SheetFrame::kHost;
    std::wstring screenshotDir;  // scripted only; empty: no pictures
};

// One sheet as the host keeps it. Under the host's own frame its address is
// the sheet handle the plug-in is given; under the platform's, the handle is
// the platform's and the host relays the plug-in's calls to it.
struct HostSheet {
    const char *name = "";
    std::vector<HPROPSHEETPAGE> pages;     // what each add call returned
    std::vector<LPARAM> pageRecordParams;  // lParam of each added page record
    struct SetResult {
        LPARAM page, result;
    };
    std::vector<SetResult> setResults;
    HWND window = nullptr;
    int applies = 0;  // Applies that reached the common UI's callback
    // The platform's sheet handle and function (platform frame only).
    HANDLE platformSheet = nullptr;
    LONG_PTR(CALLBACK *platformFunction)(HANDLE, UINT, LPARAM, LPARAM) = nullptr;
    LONG_PTR lastPageCount = -1;  // the last GET_PAGECOUNT answer the plug-in got
};

struct SheetPlan;
struct PlatformCall;

class SheetScenes {
public:
    SheetScenes(HostSession &session, Transcript &log) : session_(session), log_(log) {}
    void RunSheet(SheetKind kind, const SheetRun &run);
    // The document's PrivateDevMode, one field a line.
    void PrintRecord();

    // Used by the sheet window's subclass: an Apply went through.
    void OnApplied();
    // Used by the platform's sheet callback, one reason at a time.
    LONG OnPlatformReason(PlatformCall &call, PPROPSHEETUI_INFO info, LPARAM lParam);
    // Used by the scripted run's timer once the sheet window exists.
    void DriveSheet(PlatformCall &call);

private:
    bool CheckInit(const SheetPlan &plan, HostSheet &sheet, HANDLE heap, HRESULT hr, LONG_PTR result);
    void ScriptDocument(HWND window, HostSheet &sheet, const SheetRun &run, LPARAM &outcome);
    void RunHostFrame(const SheetPlan &plan, const SheetRun &run, HostSheet &sheet, void *sheetParam, HANDLE heap);
    void RunPlatformFrame(const SheetPlan &plan, const SheetRun &run, HostSheet &sheet, void *sheetParam,
                          HANDLE heap);

    HostSession &session_;
    Transcript &log_;
    HostSheet *sheet_ = nullptr;        // the one open now
    OEMCUIPPARAM *commonUi_ = nullptr;  // its option-item parameters
    std::vector<OPTITEM> *items_ = nullptr;
};

}  // namespace qxhost
