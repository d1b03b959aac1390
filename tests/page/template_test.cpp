// Dialog templates 120 and 106 and the Color correction page's icons and
// strips as compiled into the real QX748UI.dll, read back from its resources.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/frame/plugin_library.h"

namespace {

struct Item {
    int32_t id;
    const wchar_t *cls;
    const wchar_t *text;  // "#n": a resource ordinal; null: not compared (set at run time)
    bool visible;
    short x, y, cx, cy;
};

const wchar_t TB[] = L"msctls_trackbar32";
const wchar_t BT[] = L"Button";
const wchar_t ED[] = L"Edit";
const wchar_t ST[] = L"Static";

// In template order, which is also the tab order.
const Item kItems[] = {
    {1011, BT, L"Select file", true, 6, 145, 124, 15},
    {1014, BT, L"Default settings", true, 6, 166, 124, 15},
    {1012, BT, L"Save configuration", true, 6, 188, 124, 15},
    {1013, BT, L"Load configuration", true, 6, 210, 124, 15},
    {1004, TB, L"", true, 216, 12, 91, 12},
    {1005, TB, L"", true, 216, 32, 91, 12},
    {1007, TB, L"", true, 216, 51, 92, 12},
    {1010, TB, L"", true, 216, 71, 92, 12},
    {1030, TB, L"", true, 216, 90, 91, 12},
    {1003, BT, L"Natural color", false, 144, 124, 205, 15},
    {1008, TB, L"", true, 197, 141, 92, 12},
    {1006, TB, L"", true, 198, 164, 92, 12},
    {1009, TB, L"", true, 198, 188, 92, 12},
    {1028, BT, L"Unsharp mask", true, 144, 221, 207, 14},
    {1022, TB, L"", true, 211, 238, 93, 12},
    {1023, TB, L"", true, 211, 253, 93, 12},
    {1024, TB, L"", true, 211, 268, 94, 12},
    {1032, ED, L"", false, 52, 251, 31, 14},
    {1033, L"msctls_updown32", L"", false, 81, 251, 11, 13},
    {-1, ST, L"Brightness", true, 143, 16, 44, 8},
    {-1, ST, L"Contrast", true, 143, 35, 44, 8},
    {-1, ST, L"Saturation", true, 143, 54, 44, 8},
    {-1, ST, L"Sharpness", true, 143, 74, 44, 8},
    {1035, ST, L"Cyan", true, 146, 143, 39, 8},
    {1037, ST, L"Magenta", true, 146, 165, 39, 8},
    {1039, ST, L"Yellow", true, 146, 189, 39, 8},
    {1041, ST, L"Red", true, 290, 141, 27, 8},
    {1042, ST, L"Green", true, 290, 166, 27, 8},
    {1043, ST, L"Blue", true, 290, 190, 27, 8},
    {1015, ED, L"", true, 308, 12, 18, 12},
    {1016, ED, L"", true, 308, 32, 18, 12},
    {1017, ED, L"", true, 308, 52, 18, 12},
    {1018, ED, L"", true, 308, 71, 18, 12},
    {1019, ED, L"", true, 326, 139, 18, 12},
    {1020, ED, L"", true, 326, 163, 18, 12},
    {1021, ED, L"", true, 326, 188, 18, 12},
    {1036, ST, L"Amount(%)", true, 146, 240, 65, 8},
    {1038, ST, L"Radius(pixel)", true, 146, 254, 65, 8},
    {1040, ST, L"Threshold(level)", true, 146, 270, 65, 9},
    {1025, ED, L"", true, 317, 236, 19, 12},
    {1026, ED, L"", true, 317, 250, 19, 12},
    {1027, ED, L"", true, 317, 266, 19, 12},
    {-1, BT, L"Correction", true, 141, 1, 211, 111},
    {-1, BT, L"Color balance", true, 141, 114, 211, 101},
    {-1, ST, L"#128", true, 191, 8, 20, 20},
    {-1, ST, L"#129", true, 191, 28, 20, 20},
    {-1, ST, L"#130", true, 191, 48, 20, 20},
    {-1, ST, L"#134", true, 191, 68, 20, 20},
    {-1, ST, L"#127", true, 200, 135, 87, 6},
    {-1, ST, L"#128", true, 201, 157, 87, 6},
    {-1, ST, L"#129", true, 201, 182, 87, 6},
    {-1, BT, L"", true, 142, 213, 211, 73},
    {-1, ST, L"#140", true, 192, 87, 20, 20},
    {1031, ED, L"", true, 307, 90, 19, 12},
    {-1, ST, L"Resize", true, 143, 94, 44, 8},
    {-1, BT, L"Order ID", false, 33, 241, 65, 31},
    {1034, BT, L"", false, 39, 252, 9, 11},
};

// Reads a dialog resource's fields in their stored order.
class Reader {
public:
    Reader(const unsigned char *p, size_t size) : base_(p), end_(p + size), p_(p) {}
    template <typename T>
    T get() {
        T v{};
        if (p_ + sizeof(T) <= end_) std::memcpy(&v, p_, sizeof(T));
        p_ += sizeof(T);
        return v;
    }
    // A string or a 0xFFFF-prefixed ordinal ("#n").
    std::wstring nameOrOrdinal() {
        uint16_t first = get<uint16_t>();
        if (first == 0xFFFF) return L"#" + std::to_wstring(get<uint16_t>());
        std::wstring s;
        while (first != 0 && p_ <= end_) {
            s += static_cast<wchar_t>(first);
            first = get<uint16_t>();
        }
        return s;
    }
    void alignDword() { p_ = base_ + ((p_ - base_ + 3) & ~size_t(3)); }
    void skip(size_t n) { p_ += n; }
    bool inside() const { return p_ <= end_; }

private:
    const unsigned char *base_, *end_, *p_;
};

// Class names compare without case (the resource compiler stores them in
// capitals); the predefined ones may be stored as ordinals.
std::wstring ClassName(const std::wstring &stored) {
    if (stored == L"#128") return BT;
    if (stored == L"#129") return ED;
    if (stored == L"#130") return ST;
    for (const wchar_t *known : {TB, BT, ED, ST, L"msctls_updown32"})
        if (_wcsicmp(known, stored.c_str()) == 0) return known;
    return stored;
}

const unsigned char *Resource(HMODULE module, const wchar_t *type, int id, size_t *size) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return nullptr;
    *size = SizeofResource(module, found);
    return static_cast<const unsigned char *>(LockResource(LoadResource(module, found)));
}

// One DIALOGEX template as stored: its header and every item.
struct TemplateItem {
    uint32_t style;
    int16_t x, y, cx, cy;
    int32_t id;
    std::wstring cls, text;
};
struct Template {
    uint32_t style = 0;
    int16_t cx = 0, cy = 0;
    std::wstring caption, face;
    uint16_t points = 0;
    std::vector<TemplateItem> items;
};

// Reads template `id` from the plug-in; false when it is missing, not an
// extended template or runs past its resource.
bool ReadTemplate(int id, Template *t) {
    auto &lib = qxtest::PluginLibrary::Get();
    size_t size = 0;
    const unsigned char *data = lib.loaded() ? Resource(lib.module, RT_DIALOG, id, &size) : nullptr;
    if (data == nullptr) return false;
    Reader r(data, size);
    if (r.get<uint16_t>() != 1 || r.get<uint16_t>() != 0xFFFF) return false;  // extended template
    r.get<uint32_t>();
    r.get<uint32_t>();
    t->style = r.get<uint32_t>();
    const uint16_t count = r.get<uint16_t>();
    r.get<int16_t>();
    r.get<int16_t>();
    t->cx = r.get<int16_t>();
    t->cy = r.get<int16_t>();
    if (r.nameOrOrdinal() != L"" || r.nameOrOrdinal() != L"") return false;  // menu, class
    t->caption = r.nameOrOrdinal();
    t->points = r.get<uint16_t>();
    r.get<uint16_t>();
    r.get<uint16_t>();
    t->face = r.nameOrOrdinal();
    for (uint16_t i = 0; i < count; ++i) {
        TemplateItem item;
        r.alignDword();
        r.get<uint32_t>();
        r.get<uint32_t>();
        item.style = r.get<uint32_t>();
        item.x = r.get<int16_t>(), item.y = r.get<int16_t>(), item.cx = r.get<int16_t>(), item.cy = r.get<int16_t>();
        item.id = r.get<int32_t>();
        item.cls = ClassName(r.nameOrOrdinal());
        item.text = r.nameOrOrdinal();
        r.skip(r.get<uint16_t>());
        t->items.push_back(item);
    }
    return r.inside();
}

// The fields every item is held to, in template order.
void ExpectItem(const Item &want, const TemplateItem &got) {
    EXPECT_EQ(want.id, got.id);
    EXPECT_EQ(std::wstring(want.cls), got.cls);
    if (want.text != nullptr) {
        EXPECT_EQ(std::wstring(want.text), got.text);
    }
    EXPECT_EQ(want.visible, (got.style & WS_VISIBLE) != 0);
    EXPECT_EQ(want.x, got.x);
    EXPECT_EQ(want.y, got.y);
    EXPECT_EQ(want.cx, got.cx);
    EXPECT_EQ(want.cy, got.cy);
}

TEST(PageTemplate, Dialog120HasEveryItemInOrder) {
    Template t;
    ASSERT_TRUE(ReadTemplate(120, &t));
    const DWORD wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    EXPECT_EQ(wanted, t.style & wanted);
    EXPECT_EQ(358, t.cx);
    EXPECT_EQ(289, t.cy);
    EXPECT_EQ(L"Color correction", t.caption);
    EXPECT_EQ(8, t.points);
    EXPECT_EQ(L"MS Shell Dlg", t.face);
    ASSERT_EQ(sizeof kItems / sizeof kItems[0], t.items.size());

    for (size_t i = 0; i < t.items.size(); ++i) {
        const Item &want = kItems[i];
        const TemplateItem &got = t.items[i];
        const uint32_t itemStyle = got.style;
        const std::wstring &cls = got.cls;
        SCOPED_TRACE(testing::Message() << "item " << i << " id " << want.id);
        ExpectItem(want, got);
        if (cls == TB) {
            EXPECT_EQ(DWORD(TBS_HORZ | TBS_AUTOTICKS | WS_TABSTOP), itemStyle & (TBS_VERT | TBS_AUTOTICKS | WS_TABSTOP));
        }
        if (want.id >= 1015 && want.id <= 1031 && cls == ED) {
            EXPECT_EQ(DWORD(ES_RIGHT | ES_READONLY | WS_BORDER), itemStyle & (ES_RIGHT | ES_READONLY | WS_BORDER));
        }
        if (want.id == 1033) {
            EXPECT_EQ(DWORD(UDS_ARROWKEYS | UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_NOTHOUSANDS),
                      itemStyle & (UDS_ARROWKEYS | UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_NOTHOUSANDS));
        }
        if (want.id == 1003 || want.id == 1028) {
            EXPECT_TRUE(itemStyle & BS_PUSHLIKE);
        }
    }
}

// Template 106, the Version page: every item a left-aligned static text.
const Item kVersionItems[] = {
    {-1, ST, nullptr, true, 29, 26, 144, 10},
    {-1, ST, L"", true, 27, 62, 160, 2},
    {-1, ST, L"Windows (R) 2000/XP", true, 29, 68, 79, 12},
    {1030, ST, L"Printer Driver", true, 29, 80, 157, 12},
    {-1, ST, L"QX748.GPD", true, 29, 98, 60, 12},
    {111, ST, L"", true, 89, 98, 64, 12},
    {-1, ST, L"QX748UI.DLL", true, 29, 110, 60, 12},
    {112, ST, L"", true, 89, 110, 64, 12},
    {-1, ST, L"QX748UD.DLL", true, 29, 122, 60, 12},
    {113, ST, L"", true, 89, 122, 64, 12},
    {-1, ST, L"QX748LM.DLL", true, 29, 134, 60, 12},
    {114, ST, L"", true, 89, 134, 64, 12},
    {1031, ST, L"Gamma Table", false, 29, 158, 60, 12},
    {115, ST, L"", true, 86, 158, 170, 23},
    {-1, ST, L"QX748 Imaging Systems", true, 29, 12, 152, 12},
    {1029, ST, L"https://qx748.test/", true, 59, 38, 110, 9},
    {1032, ST, L"mailto:info@qx748.test", true, 59, 50, 110, 9},
    {-1, ST, L"URL", true, 30, 38, 23, 10},
    {-1, ST, L"Mail", true, 30, 50, 23, 10},
    {-1, ST, L"QX748Print.dll", true, 29, 147, 60, 12},
    {116, ST, L"", true, 89, 147, 64, 12},
};

// The sheet makes room for a page in dialog units of its own font, 8-point
// MS Shell Dlg (and Windows in the page's font only for DS_SHELLFONT pages):
// the page is laid out in that same font, or its lower rows fall outside.
TEST(PageTemplate, Dialog106IsLaidOutInTheSheetsFont) {
    Template t;
    ASSERT_TRUE(ReadTemplate(106, &t));
    EXPECT_EQ(DWORD(WS_CHILD | WS_CAPTION | WS_DISABLED | DS_SHELLFONT),
              t.style & (WS_CHILD | WS_POPUP | WS_CAPTION | WS_DISABLED | DS_SHELLFONT));
    EXPECT_EQ(263, t.cx);
    EXPECT_EQ(188, t.cy);
    EXPECT_EQ(L"Version", t.caption);
    EXPECT_EQ(8, t.points);
    EXPECT_EQ(L"MS Shell Dlg", t.face);
    ASSERT_EQ(sizeof kVersionItems / sizeof kVersionItems[0], t.items.size());

    for (size_t i = 0; i < t.items.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "item " << i << " id " << kVersionItems[i].id);
        ExpectItem(kVersionItems[i], t.items[i]);
    }
}

TEST(PageTemplate, IconsAre32By32In16ColoursAndStripsAre130By8) {
    auto &lib = qxtest::PluginLibrary::Get();
    ASSERT_TRUE(lib.loaded());
    for (int id : {128, 129, 130, 134, 140}) {
        SCOPED_TRACE(id);
        size_t size = 0;
        const unsigned char *group = Resource(lib.module, RT_GROUP_ICON, id, &size);
        ASSERT_NE(nullptr, group);
        ASSERT_GE(size, 6u + 14u);
        uint16_t images;
        std::memcpy(&images, group + 4, 2);
        ASSERT_EQ(1, images);
        EXPECT_EQ(32, group[6]);      // width
        EXPECT_EQ(32, group[7]);      // height
        EXPECT_EQ(16, group[8]);      // colours
        uint16_t imageId;
        std::memcpy(&imageId, group + 6 + 12, 2);
        const unsigned char *image = Resource(lib.module, RT_ICON, imageId, &size);
        ASSERT_NE(nullptr, image);
        BITMAPINFOHEADER h;
        std::memcpy(&h, image, sizeof h);
        EXPECT_EQ(32, h.biWidth);
        EXPECT_EQ(64, h.biHeight);  // colour and mask
        EXPECT_EQ(4, h.biBitCount);
    }
    for (int id : {127, 128, 129}) {
        SCOPED_TRACE(id);
        size_t size = 0;
        const unsigned char *bitmap = Resource(lib.module, RT_BITMAP, id, &size);
        ASSERT_NE(nullptr, bitmap);
        BITMAPINFOHEADER h;
        std::memcpy(&h, bitmap, sizeof h);
        EXPECT_EQ(130, h.biWidth);
        EXPECT_EQ(8, h.biHeight);
        EXPECT_EQ(4, h.biBitCount);
    }
}

}  // namespace
