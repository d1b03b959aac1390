// The Color correction page driven from the keyboard alone: real key
// events (SendInput) to a real property sheet in the foreground.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/frame/plugin_library.h"
#include "tests/page/page_harness.h"
#include "tests/support/key_input.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using qxpage::PageSheet;

constexpr size_t kSettings = 12;
constexpr int kApplyButton = 0x3021;

// Every visible control that takes the focus, in reading order: the
// preview's buttons, then the right column top to bottom.
const std::vector<int> kTabOrder = {1011, 1014, 1012, 1013, 1004, 1005, 1007, 1010,
                                    1030, 1008, 1006, 1009, 1028, 1022, 1023, 1024};

int16_t StoredField(const unsigned char *record, size_t offset) {
    return static_cast<int16_t>(record[kSettings + offset] | record[kSettings + offset + 1] << 8);
}

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(qxtest::PluginLibrary::Get().loaded());
        std::memset(record, 0, sizeof record);
        qx::WritePrivateDevModeDefaults(record);
        sheet = std::make_unique<PageSheet>(record);
        ASSERT_TRUE(sheet->ok());
        SetForegroundWindow(sheet->sheet());
        SetActiveWindow(sheet->sheet());
        sheet->pump();
        ASSERT_EQ(sheet->sheet(), GetForegroundWindow()) << "key events would go elsewhere";
    }

    // Input and posted messages only: a paint the key asked for stays
    // pending, so the test can see what was invalidated.
    void PumpInput() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
            if (PropSheet_IsDialogMessage(sheet->sheet(), &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    void Press(WORD vk, bool shift = false) {
        qxtest::StrokeKey(vk, shift);
        PumpInput();
    }
    // Focuses a page control with the keyboard, from wherever the focus is.
    void TabTo(int id) {
        for (int i = 0; i < 40 && GetFocus() != sheet->item(id); ++i) Press(VK_TAB);
        ASSERT_EQ(sheet->item(id), GetFocus()) << "Tab never reached " << id;
    }
    int Position(int id) { return static_cast<int>(SendMessageW(sheet->item(id), TBM_GETPOS, 0, 0)); }
    bool PreviewPending() {
        RECT dirty{};
        return GetUpdateRect(sheet->page(), &dirty, FALSE) && dirty.left <= 5 && dirty.top <= 5 &&
               dirty.right >= 197 && dirty.bottom >= 197;
    }
    bool ApplyEnabled() { return IsWindowEnabled(GetDlgItem(sheet->sheet(), kApplyButton)) != FALSE; }
    bool Closed() { return PropSheet_GetCurrentPageHwnd(sheet->sheet()) == nullptr; }

    // The page's controls as the focus met them over one cycle of `vk`.
    std::vector<int> FocusCycle(bool shift) {
        std::vector<int> met;
        HWND start = GetFocus();
        for (int i = 0; i < 60; ++i) {
            Press(VK_TAB, shift);
            HWND focus = GetFocus();
            if (focus == start) break;
            if (focus != nullptr && GetParent(focus) == sheet->page()) met.push_back(GetDlgCtrlID(focus));
        }
        return met;
    }

    unsigned char record[576];
    std::unique_ptr<PageSheet> sheet;
};

TEST_F(Keyboard, TabAndShiftTabVisitEveryVisibleControlInReadingOrder) {
    SetFocus(PropSheet_GetTabControl(sheet->sheet()));
    PumpInput();
    EXPECT_EQ(kTabOrder, FocusCycle(false));
    std::vector<int> backwards(kTabOrder.rbegin(), kTabOrder.rend());
    EXPECT_EQ(backwards, FocusCycle(true));
}

TEST_F(Keyboard, SliderKeysMoveTheSliderWithReadoutPreviewAndApply) {
    struct Case {
        int slider, readout;
        WORD key;
        int from;
        int expected;
        const wchar_t *text;
    };
    const Case cases[] = {
        {1004, 1015, VK_RIGHT, 0, 1, L"1"},       {1004, 1015, VK_LEFT, 0, -1, L"-1"},
        {1004, 1015, VK_DOWN, 0, 1, L"1"},        {1004, 1015, VK_UP, 0, -1, L"-1"},
        {1005, 1016, VK_END, 0, 10, L"10"},       {1005, 1016, VK_HOME, 0, -10, L"-10"},
        {1010, 1018, VK_END, 0, 7, L"7"},         {1022, 1025, VK_HOME, 5, 0, L"25"},
        {1023, 1026, VK_RIGHT, 10, 11, L"1.1"},   {1023, 1026, VK_HOME, 10, 1, L"0.1"},
        {1024, 1027, VK_END, 5, 20, L"20"},       {1030, 1031, VK_HOME, 0, -10, L"90"},
        {1008, 1019, VK_LEFT, 0, -1, L"-1"},      {1006, 1020, VK_END, 0, 10, L"10"},
        {1009, 1021, VK_HOME, 0, -10, L"-10"},    {1007, 1017, VK_RIGHT, 0, 1, L"1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "slider " << c.slider << " key " << c.key);
        sheet->moveSlider(c.slider, c.from);
        TabTo(c.slider);
        sheet->pump();  // paints what is pending
        sheet->changes.clear();
        Press(c.key);
        EXPECT_EQ(c.expected, Position(c.slider));
        EXPECT_EQ(c.text, sheet->text(c.readout));
        EXPECT_TRUE(PreviewPending()) << "the preview was not asked to repaint";
        ASSERT_FALSE(sheet->changes.empty());
        EXPECT_EQ(static_cast<UINT>(PSM_CHANGED), sheet->changes.back());
        EXPECT_TRUE(ApplyEnabled());
        sheet->moveSlider(c.slider, c.from);  // back to the stored value
        EXPECT_EQ(static_cast<UINT>(PSM_UNCHANGED), sheet->changes.back());
    }
}

TEST_F(Keyboard, PageKeysMoveByThePageSize) {
    TabTo(1004);
    const int page = static_cast<int>(SendMessageW(sheet->item(1004), TBM_GETPAGESIZE, 0, 0));
    ASSERT_GT(page, 1);
    Press(VK_NEXT);
    EXPECT_EQ(std::min(page, 10), Position(1004));
    EXPECT_EQ(std::to_wstring(std::min(page, 10)), sheet->text(1015));
    Press(VK_PRIOR);
    Press(VK_PRIOR);
    EXPECT_EQ(std::max(-page, -10), Position(1004));
    EXPECT_EQ(std::to_wstring(std::max(-page, -10)), sheet->text(1015));
    EXPECT_EQ(static_cast<UINT>(PSM_CHANGED), sheet->changes.back());
}

TEST_F(Keyboard, SpaceTogglesUnsharpMaskAndRepaintsThePreview) {
    TabTo(1028);
    for (UINT expected : {BST_CHECKED, BST_UNCHECKED}) {
        sheet->pump();
        Press(VK_SPACE);
        EXPECT_EQ(expected, IsDlgButtonChecked(sheet->page(), 1028));
        EXPECT_TRUE(PreviewPending());
    }
}

TEST_F(Keyboard, EnterRightAfterOpeningIsOk) {
    // The sheet focuses the page's first control, Select file: Enter must
    // still be OK, not that button.
    ASSERT_EQ(sheet->item(1011), GetFocus());
    PageSheet::answers.push_back({L""});
    Press(VK_RETURN);
    sheet->pump();
    PageSheet::answers.clear();
    EXPECT_TRUE(PageSheet::seen.empty()) << "a dialog opened";
    EXPECT_TRUE(Closed());
    EXPECT_EQ(1u, sheet->setResults.size());
}

TEST_F(Keyboard, EnterIsOkAndKeepsTheKeyedValue) {
    TabTo(1007);
    Press(VK_END);
    Press(VK_RETURN);
    sheet->pump();
    EXPECT_TRUE(Closed()) << "Enter did not close the sheet";
    ASSERT_EQ(1u, sheet->setResults.size());
    EXPECT_EQ(CPSUI_OK, sheet->setResults[0].result);
    EXPECT_EQ(10, StoredField(record, 4));  // saturation
}

TEST_F(Keyboard, EscapeIsCancelAndKeepsTheRecord) {
    const std::vector<unsigned char> before(record, record + sizeof record);
    TabTo(1007);
    Press(VK_END);
    Press(VK_ESCAPE);
    sheet->pump();
    EXPECT_TRUE(Closed()) << "Esc did not close the sheet";
    EXPECT_TRUE(sheet->setResults.empty());
    EXPECT_EQ(before, std::vector<unsigned char>(record, record + sizeof record));
}

}  // namespace
