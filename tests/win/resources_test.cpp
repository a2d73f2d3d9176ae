// The resources as the program will find them: templates read back from the binary, menus and
// strings through the code page 936 functions, the pictures, and the manifest in effect.
#include "res/resource.h"
#include "tests/win/gui_support.h"
#include "win/dialog.h"
#include "win/handles.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Narrow(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

TEST(Resources, RunUnderCodePage936) {
    // Every text comparison below is made of code page 936 bytes.
    ASSERT_EQ(::GetACP(), 936u);
}

TEST(Resources, StringsAreTheStatusAndAboutTexts) {
    struct Case {
        UINT id;
        const char* text;
    };
    for (const Case& c : {Case{IDS_ABOUTBOX, "关于 Vantrel(&A)..."}, Case{IDS_STATUS, "状态"},
                          Case{IDS_COUNT, "统计"}}) {
        char buffer[128] = {};
        ::LoadStringA(::GetModuleHandleA(nullptr), c.id, buffer, sizeof(buffer));
        EXPECT_STREQ(buffer, c.text) << c.id;
    }
}

struct Item {
    const char* text;
    UINT id;  // 0 for a popup
};

std::vector<std::string> MenuItems(HMENU menu) {
    std::vector<std::string> out;
    const int count = ::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[128] = {};
        ::GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
        const HMENU sub = ::GetSubMenu(menu, i);
        std::string entry =
            std::string(text) + "=" +
            (sub != nullptr ? std::string("popup") : std::to_string(::GetMenuItemID(menu, i)));
        out.push_back(entry);
        if (sub != nullptr) {
            for (const std::string& inner : MenuItems(sub)) {
                out.push_back("  " + inner);
            }
        }
    }
    return out;
}

TEST(Resources, MenusHaveTheirTextsAndCommands) {
    struct Case {
        int id;
        std::vector<std::string> items;
    };
    const Case cases[] = {
        {IDR_MENU_MAIN,
         {"文件=popup", "  自动刷新=32790", "  导出...=32800", "  退出=32785", "工具=popup",
          "  特征码工具=32786", "  搜索行为...\tCtrl+Shift+F=32787", "  筛选进程...\tCtrl+L=32791",
          "  取消筛选=32792"}},
        {IDR_MENU_CONTEXT,
         {"托盘菜单=popup", "  显示=32771", "  退出=32772", "进程列表右键菜单=popup",
          "  刷新数据=32774", "  复制进程名=32777", "  复制MD5=32778", "  定位到目录=32781",
          "  查找(Ctrl+F)=32782"}},
    };
    for (const Case& c : cases) {
        win::Menu menu(::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(c.id)));
        ASSERT_TRUE(menu) << c.id;
        EXPECT_EQ(MenuItems(menu.Get()), c.items) << c.id;
    }
}

// A dialog template as stored (DLGTEMPLATEEX), read field by field.
struct TemplateItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::string windowClass;  // a name, or "#n" for a predefined class
    std::string title;
};
struct Template {
    DWORD style = 0;
    DWORD exStyle = 0;
    short cx = 0, cy = 0;
    std::string title;
    WORD pointSize = 0;
    std::string font;
    std::vector<TemplateItem> items;
};

class Reader {
  public:
    explicit Reader(const BYTE* p) : p_(p), start_(p) {}
    template <typename T>
    T Read() {
        T v;
        std::memcpy(&v, p_, sizeof(T));
        p_ += sizeof(T);
        return v;
    }
    std::string NameOrOrdinal() {
        const WORD first = Read<WORD>();
        if (first == 0) {
            return "";
        }
        if (first == 0xFFFF) {
            return "#" + std::to_string(Read<WORD>());
        }
        p_ -= sizeof(WORD);
        return Text();
    }
    std::string Text() {
        std::wstring w;
        for (WORD c = Read<WORD>(); c != 0; c = Read<WORD>()) {
            w.push_back(static_cast<wchar_t>(c));
        }
        return Narrow(w.c_str());
    }
    void AlignDword() {
        while ((p_ - start_) % 4 != 0) {
            ++p_;
        }
    }
    void Skip(std::size_t n) { p_ += n; }

  private:
    const BYTE* p_;
    const BYTE* start_;
};

Template LoadTemplate(int id) {
    const HMODULE module = ::GetModuleHandleA(nullptr);
    const HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    EXPECT_NE(found, nullptr) << id;
    Template t;
    if (found == nullptr) {
        return t;
    }
    Reader r(static_cast<const BYTE*>(::LockResource(::LoadResource(module, found))));
    EXPECT_EQ(r.Read<WORD>(), 1);       // version
    EXPECT_EQ(r.Read<WORD>(), 0xFFFF);  // extended template
    r.Read<DWORD>();                    // help id
    t.exStyle = r.Read<DWORD>();
    t.style = r.Read<DWORD>();
    const WORD count = r.Read<WORD>();
    r.Read<short>();
    r.Read<short>();
    t.cx = r.Read<short>();
    t.cy = r.Read<short>();
    r.NameOrOrdinal();  // menu
    r.NameOrOrdinal();  // class
    t.title = r.Text();
    if ((t.style & DS_SETFONT) != 0) {
        t.pointSize = r.Read<WORD>();
        r.Read<WORD>();
        r.Read<BYTE>();
        r.Read<BYTE>();
        t.font = r.Text();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword();
        TemplateItem item;
        r.Read<DWORD>();
        item.exStyle = r.Read<DWORD>();
        item.style = r.Read<DWORD>();
        item.x = r.Read<short>();
        item.y = r.Read<short>();
        item.cx = r.Read<short>();
        item.cy = r.Read<short>();
        item.id = r.Read<DWORD>();
        item.windowClass = r.NameOrOrdinal();
        item.title = r.NameOrOrdinal();
        r.Skip(r.Read<WORD>());
        t.items.push_back(item);
    }
    return t;
}

const std::string kButtonClass = "BUTTON";
const std::string kEditClass = "EDIT";
const std::string kStaticClass = "STATIC";

// Predefined classes may be stored by number or by name, in any letter case.
std::string ClassName(const std::string& stored) {
    if (stored == "#128") {
        return kButtonClass;
    }
    if (stored == "#129") {
        return kEditClass;
    }
    if (stored == "#130") {
        return kStaticClass;
    }
    std::string upper = stored;
    for (char& c : upper) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    return upper;
}
constexpr DWORD kItemId = 0xFFFFFFFF;  // IDC_STATIC as stored

TEST(Resources, MainWindowTemplate) {
    const Template t = LoadTemplate(IDD_VANTREL_DIALOG);
    EXPECT_EQ(t.style, 0x90CF0048u);
    EXPECT_EQ(t.exStyle, 0x00040010u);
    EXPECT_EQ(t.cx, 505);
    EXPECT_EQ(t.cy, 228);
    EXPECT_EQ(t.title, "Tesk行为分析V1.0");
    EXPECT_EQ(t.font, "MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 9);
    ASSERT_EQ(t.items.size(), 2u);
    const short places[2][4] = {{7, 7, 463, 132}, {7, 173, 220, 48}};
    for (int i = 0; i < 2; ++i) {
        const TemplateItem& item = t.items[static_cast<std::size_t>(i)];
        EXPECT_EQ(item.id, static_cast<DWORD>(IDC_TREE_LIST + i));
        EXPECT_EQ(ClassName(item.windowClass), "SYSLISTVIEW32");
        EXPECT_EQ(item.style, 0x50811801u);
        EXPECT_EQ(item.x, places[i][0]);
        EXPECT_EQ(item.y, places[i][1]);
        EXPECT_EQ(item.cx, places[i][2]);
        EXPECT_EQ(item.cy, places[i][3]);
    }
}

struct ExpectedItem {
    DWORD id;
    std::string windowClass;
    std::string title;
    short x, y, cx, cy;
    DWORD styleBits;   // must be set
    DWORD absentBits;  // must be clear
};

void ExpectItems(const Template& t, const std::vector<ExpectedItem>& expected) {
    ASSERT_EQ(t.items.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const TemplateItem& item = t.items[i];
        const ExpectedItem& e = expected[i];
        SCOPED_TRACE("item " + std::to_string(i));
        EXPECT_EQ(item.id, e.id);
        EXPECT_EQ(ClassName(item.windowClass), e.windowClass);
        EXPECT_EQ(item.title, e.title);
        EXPECT_EQ(item.x, e.x);
        EXPECT_EQ(item.y, e.y);
        if (e.cx != 0) {  // 0: the size is the picture's
            EXPECT_EQ(item.cx, e.cx);
            EXPECT_EQ(item.cy, e.cy);
        }
        EXPECT_EQ(item.style & e.styleBits, e.styleBits);
        EXPECT_EQ(item.style & e.absentBits, 0u);
    }
}

TEST(Resources, AboutTemplate) {
    const Template t = LoadTemplate(IDD_ABOUTBOX);
    EXPECT_EQ(t.style, 0x80C800C8u);
    EXPECT_EQ(t.cx, 170);
    EXPECT_EQ(t.cy, 62);
    EXPECT_EQ(t.title, "关于 Vantrel");
    EXPECT_EQ(t.pointSize, 9);
    ExpectItems(t, {{kItemId, kStaticClass, "#128", 14, 14, 0, 0, SS_ICON, 0},
                    {kItemId, kStaticClass, "Vantrel，1.0 版", 42, 14, 114, 8, 0, 0},
                    {IDOK, kButtonClass, "确定", 113, 41, 50, 14, BS_DEFPUSHBUTTON, 0}});
}

TEST(Resources, FindProcessTemplate) {
    const Template t = LoadTemplate(IDD_FIND_PROCESS);
    EXPECT_EQ(t.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    EXPECT_EQ(t.cx, 287);
    EXPECT_EQ(t.cy, 76);
    EXPECT_EQ(t.title, "查找进程");
    EXPECT_EQ(t.pointSize, 8);
    ExpectItems(
        t, {{IDOK, kButtonClass, "确定", 175, 53, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
            {IDCANCEL, kButtonClass, "取消", 230, 53, 50, 14, WS_TABSTOP, 0},
            {kItemId, kStaticClass, "请输入进程名：", 22, 14, 57, 8, WS_GROUP, 0},
            {IDC_FIND_TEXT, kEditClass, "", 22, 27, 242, 14,
             WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 0},
            {IDC_FIND_DOWN, kButtonClass, "向下", 22, 57, 32, 10, BS_AUTORADIOBUTTON, WS_TABSTOP},
            {IDC_FIND_UP, kButtonClass, "向上", 75, 57, 32, 10, BS_AUTORADIOBUTTON,
             WS_TABSTOP | WS_GROUP}});
}

TEST(Resources, FeatureCodeToolTemplate) {
    const Template t = LoadTemplate(IDD_HASH_TOOL);
    EXPECT_EQ(t.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    EXPECT_EQ(t.exStyle & WS_EX_ACCEPTFILES, static_cast<DWORD>(WS_EX_ACCEPTFILES));
    EXPECT_EQ(t.cx, 309);
    EXPECT_EQ(t.cy, 114);
    EXPECT_EQ(t.title, "特征码获取工具");
    EXPECT_EQ(t.pointSize, 8);
    ExpectItems(t, {{kItemId, kStaticClass, "请将PE结构的文件拖放到此处", 45, 31, 105, 8, 0, 0},
                    {IDC_FEATURE_CODE, kEditClass, "", 44, 43, 223, 14,
                     WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, ES_READONLY},
                    // The file whose code is shown, or why a file has none.
                    {IDC_FEATURE_FILE, kStaticClass, "", 44, 61, 223, 18,
                     SS_NOPREFIX | SS_PATHELLIPSIS, 0}});
}

TEST(Resources, EveryDialogCanBeCreated) {
    guitest::Host host(100, 100);
    for (int id : {IDD_ABOUTBOX, IDD_VANTREL_DIALOG, IDD_FIND_PROCESS, IDD_HASH_TOOL}) {
        win::Dialog dialog(id);
        EXPECT_TRUE(dialog.CreateModeless(host.Handle())) << id;
    }
}

TEST(Resources, BoxBitmapsAreGreenSignsOnAGreyTile) {
    struct Case {
        int id;
        bool plus;
    };
    for (const Case& c : {Case{IDB_MINUS, false}, Case{IDB_PLUS, true}}) {
        win::Bitmap bitmap(
            static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(c.id),
                                              IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        ASSERT_TRUE(bitmap) << c.id;
        DIBSECTION dib{};
        ASSERT_EQ(::GetObjectA(bitmap.Get(), sizeof(dib), &dib), static_cast<int>(sizeof(dib)));
        EXPECT_EQ(dib.dsBm.bmWidth, 16);
        EXPECT_EQ(dib.dsBm.bmHeight, 16);
        EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);
        win::MemoryDc dc(::CreateCompatibleDC(nullptr));
        win::SelectGuard selected(dc.Get(), bitmap.Get());
        const COLORREF tile = ::GetPixel(dc.Get(), 3, 3);
        EXPECT_GT(GetRValue(tile), 200);
        EXPECT_EQ(GetRValue(tile), GetGValue(tile));
        EXPECT_EQ(GetGValue(tile), GetBValue(tile));
        const COLORREF bar = ::GetPixel(dc.Get(), 5, 7);  // the horizontal stroke
        EXPECT_GT(GetGValue(bar), GetRValue(bar) + 80);
        EXPECT_GT(GetGValue(bar), GetBValue(bar) + 80);
        const COLORREF stem = ::GetPixel(dc.Get(), 7, 5);  // the vertical stroke, plus only
        EXPECT_EQ(stem == bar, c.plus) << c.id;
        EXPECT_EQ(stem == tile, !c.plus) << c.id;
    }
}

TEST(Resources, ProgramIconHasSmallAndLargeImages) {
    for (int size : {16, 32, 48}) {
        const HANDLE icon =
            ::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                         size, size, 0);
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(static_cast<HICON>(icon), &info));
        BITMAP colour{};
        ::GetObjectA(info.hbmColor, sizeof(colour), &colour);
        EXPECT_EQ(colour.bmWidth, size);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(static_cast<HICON>(icon));
    }
}

TEST(Resources, ManifestAsksForAdministratorDpiAwarenessAndCommonControls6) {
    const HMODULE module = ::GetModuleHandleA(nullptr);
    const HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr);
    const std::string text(static_cast<const char*>(::LockResource(::LoadResource(module, found))),
                           ::SizeofResource(module, found));
    EXPECT_NE(text.find("level=\"requireAdministrator\" uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(text.find(">true</dpiAware>"), std::string::npos);
    // In effect, not only written down:
    EXPECT_TRUE(::IsProcessDPIAware());
    // The common controls came from the side-by-side version 6 assembly, not the system folder.
    const HMODULE controls = ::GetModuleHandleA("comctl32.dll");
    ASSERT_NE(controls, nullptr);
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(controls, path, sizeof(path));
    ::CharLowerA(path);
    EXPECT_NE(std::string(path).find("common-controls_6595b64144ccf1df_6."), std::string::npos)
        << path;
}

}  // namespace
