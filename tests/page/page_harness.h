#pragma once
// A real property sheet around the real Color correction page of the built
// QX748UI.dll, with the common property sheet function played by the test,
// the messages the page sends its sheet recorded, and modal dialogs (message
// boxes, file dialogs) answered by a WH_CBT hook.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "uiplugin/frame/oem_contract.h"

namespace qxpage {

// A modal dialog as the hook saw it when it was about to be activated.
struct SeenDialog {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::wstring caption;
    std::vector<std::wstring> texts;    // static texts (a message box's message)
    std::vector<std::wstring> filters;  // file type list of a file dialog
    bool isFileDialog = false;
    bool readOnlyChecked = false;
};

// What to do with the next modal dialog: answer it, given what was seen.
// File dialogs: type `fileName` and press OK, or cancel when it is empty.
struct Answer {
    std::wstring fileName;
    int button = IDOK;  // for message boxes
};

struct SetResultCall {
    HANDLE sheet;
    LPARAM page;
    LPARAM result;
};

class PageSheet {
public:
    // `privateDevMode` (576 bytes) is the record the page edits.
    explicit PageSheet(unsigned char *privateDevMode);
    ~PageSheet();
    bool ok() const { return page_ != nullptr; }

    HWND sheet() const { return sheet_; }
    HWND page() const { return page_; }
    HANDLE pageHandle() const { return reinterpret_cast<HANDLE>(added_); }
    HWND item(int id) const { return GetDlgItem(page_, id); }
    std::wstring text(int id) const;

    // A user's actions.
    void moveSlider(int id, int position);
    void click(int id);
    void showOtherPage();
    void showColorPage();
    void apply();
    void pump();

    // PSM_CHANGED / PSM_UNCHANGED reaching the sheet for the page, in order.
    std::vector<UINT> changes;
    std::vector<SetResultCall> setResults;

    // Modal dialogs: answers are taken in order; every dialog seen is kept.
    static std::deque<Answer> answers;
    static std::vector<SeenDialog> seen;

private:
    static LONG_PTR CALLBACK ComPropSheet(HANDLE sheet, UINT function, LPARAM lParam1, LPARAM lParam2);
    static LRESULT CALLBACK CallWndHook(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK AnswerTimer(HWND, UINT, UINT_PTR timer, DWORD);
    static HWND pending;  // the modal dialog waiting for its answer
    static PageSheet *current;

    IPrintOemUI *plugin_ = nullptr;
    HANDLE heap_ = nullptr;
    OEMUIPSPARAM sheetParam_ = {};
    LONG_PTR added_ = 0;
    HPROPSHEETPAGE otherPage_ = nullptr;
    HWND sheet_ = nullptr;
    HWND page_ = nullptr;
    HHOOK callWnd_ = nullptr;
    HHOOK cbt_ = nullptr;
    std::vector<WORD> blankTemplate_;
};

}  // namespace qxpage
