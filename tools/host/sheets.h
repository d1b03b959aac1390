#pragma once
// The two property sheets as the platform's common property sheet UI runs
// them: option items through CommonUIProp, the plug-in's pages through
// DocumentPropertySheets / DevicePropertySheets and the host's own
// pfnComPropSheet, the real PropertySheetW, and the Apply callback.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/host/host_session.h"
#include "tools/host/transcript.h"

namespace qxhost {

enum class SheetShow {
    kInteractive,  // modal, on the screen, for a person to use
    kScripted,     // modeless, controls set by the host, then Apply and close
};

struct SheetRun {
    SheetShow show = SheetShow::kScripted;
    std::wstring screenshotDir;  // scripted only; empty: no pictures
};

// One sheet as the host keeps it. Its address is the sheet handle the
// plug-in is given.
struct HostSheet {
    const char *name = "";
    std::vector<HPROPSHEETPAGE> pages;
    std::vector<LPARAM> pageRecordParams;  // lParam of each added page record
    struct SetResult {
        LPARAM page, result;
    };
    std::vector<SetResult> setResults;
    HWND window = nullptr;
    int applies = 0;  // Applies that reached the common UI's callback
};

class SheetScenes {
public:
    SheetScenes(HostSession &session, Transcript &log) : session_(session), log_(log) {}
    void RunDocumentSheet(const SheetRun &run);
    void RunPrinterSheet(const SheetRun &run);
    // The document's PrivateDevMode, one field a line.
    void PrintRecord();

    // Used by the sheet window's subclass: an Apply went through.
    void OnApplied();

private:
    HostSession &session_;
    Transcript &log_;
    HostSheet *sheet_ = nullptr;        // the one open now
    OEMCUIPPARAM *commonUi_ = nullptr;  // its option-item parameters
    std::vector<OPTITEM> *items_ = nullptr;
};

}  // namespace qxhost
