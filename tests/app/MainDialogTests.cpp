#include "app/WavelarkPlayerDlg.h"
#include "res/resource.h"
#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <richedit.h>

#include <string>
#include <vector>

namespace
{
using PlayerDialog = Drivable<CWavelarkPlayerDlg>;

const wchar_t kAboutCaption[] = L"バージョン情報 WavelarkPlayerLite";

struct ControlRow
{
    int id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style; // without WS_CHILD | WS_VISIBLE, which every control has
    RECT dialogUnits;
};

// Template 102, in creation (and tab) order.
const ControlRow kControls[] = {
    {IDC_PLAY, L"Button", L"再生", BS_DEFPUSHBUTTON | WS_TABSTOP, {65, 64, 26, 16}},
    {IDC_STOP, L"Button", L"停止", BS_PUSHBUTTON, {95, 64, 25, 16}},
    {IDC_FREQ_EDIT, L"RichEdit20A", L"", ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, {7, 18, 32, 14}},
    {IDC_SPIN, L"msctls_updown32", L"", UDS_ARROWKEYS, {38, 18, 10, 13}},
    {IDC_RADIO_AM, L"Button", L"AM", BS_AUTORADIOBUTTON | WS_GROUP, {7, 34, 26, 10}},
    {IDC_RADIO_FM, L"Button", L"FM", BS_AUTORADIOBUTTON, {7, 45, 25, 10}},
    {IDC_STATIC, L"Static", L"Tune", SS_LEFT | WS_GROUP, {7, 7, 51, 10}},
};

struct TemplateItem
{
    int id;
    std::wstring className;
    std::wstring text;
    DWORD style;
    RECT dialogUnits;
};

// Reads a string or ordinal field of an extended dialog template; advances `cursor`.
std::wstring ReadField(const WORD*& cursor)
{
    if (*cursor == 0xFFFF)
    {
        const WORD ordinal = cursor[1];
        cursor += 2;
        return ordinal == 0x0080 ? L"Button" : ordinal == 0x0082 ? L"Static" : L"#" + std::to_wstring(ordinal);
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(cursor));
    cursor += text.size() + 1;
    return text;
}

// The controls of an extended dialog template resource, in template order.
std::vector<TemplateItem> ReadTemplate(int id)
{
    HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5)); // RT_DIALOG
    const BYTE* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, resource)));
    if (!bytes)
        return {};
    const WORD itemCount = *reinterpret_cast<const WORD*>(bytes + 16);
    const WORD* cursor = reinterpret_cast<const WORD*>(bytes + 26);
    ReadField(cursor); // menu
    ReadField(cursor); // class
    ReadField(cursor); // caption
    cursor += 3;       // point size, weight, italic and charset
    ReadField(cursor); // typeface
    std::vector<TemplateItem> items;
    for (WORD i = 0; i < itemCount; ++i)
    {
        const BYTE* item =
            reinterpret_cast<const BYTE*>((reinterpret_cast<UINT_PTR>(cursor) + 3) & ~static_cast<UINT_PTR>(3));
        const DWORD style = *reinterpret_cast<const DWORD*>(item + 8);
        const short* position = reinterpret_cast<const short*>(item + 12);
        const int controlId = static_cast<int>(*reinterpret_cast<const DWORD*>(item + 20));
        cursor = reinterpret_cast<const WORD*>(item + 24);
        std::wstring className = ReadField(cursor);
        std::wstring text = ReadField(cursor);
        cursor += 1 + *cursor / sizeof(WORD); // creation data
        items.push_back({controlId, className, text, style, {position[0], position[1], position[2], position[3]}});
    }
    return items;
}

TEST(MainDialog, Template102HoldsEveryControlWithItsStyleAndPlace)
{
    const std::vector<TemplateItem> items = ReadTemplate(IDD_WAVELARKPLAYER_DIALOG);
    ASSERT_EQ(std::size(kControls), items.size());
    for (size_t i = 0; i < items.size(); ++i)
    {
        const ControlRow& row = kControls[i];
        SCOPED_TRACE(row.id);
        EXPECT_EQ(row.id, items[i].id);
        EXPECT_EQ(0, ::lstrcmpiW(row.className, items[i].className.c_str())); // class names ignore case
        EXPECT_EQ(row.text, items[i].text);
        EXPECT_EQ(row.style | WS_CHILD | WS_VISIBLE, items[i].style);
        EXPECT_EQ(row.dialogUnits.left, items[i].dialogUnits.left);
        EXPECT_EQ(row.dialogUnits.top, items[i].dialogUnits.top);
        EXPECT_EQ(row.dialogUnits.right, items[i].dialogUnits.right);
        EXPECT_EQ(row.dialogUnits.bottom, items[i].dialogUnits.bottom);
    }
}

TEST(MainDialog, ShowsTheControlsInTabOrderWhereTheTemplatePlacesThem)
{
    PlayerDialog dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 EXPECT_EQ(L"WavelarkPlayerLite", WindowText(window));
                 EXPECT_TRUE(::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
                 const DWORD style = ::GetWindowLongW(window, GWL_STYLE);
                 EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
                           style &
                               (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

                 HWND control = ::GetWindow(window, GW_CHILD);
                 for (const ControlRow& row : kControls)
                 {
                     SCOPED_TRACE(row.id);
                     ASSERT_NE(nullptr, control);
                     EXPECT_EQ(row.id, static_cast<int>(static_cast<short>(::GetDlgCtrlID(control))));
                     EXPECT_EQ(row.className, ClassName(control));
                     EXPECT_EQ(row.text, WindowText(control));
                     // The dialog manager converts position and size separately.
                     RECT expected = row.dialogUnits;
                     ::MapDialogRect(window, &expected);
                     RECT actual;
                     ::GetWindowRect(control, &actual);
                     ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
                     EXPECT_EQ(expected.left, actual.left);
                     EXPECT_EQ(expected.top, actual.top);
                     if (row.id != IDC_SPIN) // the up-down control sizes itself
                     {
                         EXPECT_EQ(expected.right, actual.right - actual.left);
                         EXPECT_EQ(expected.bottom, actual.bottom - actual.top);
                     }
                     control = ::GetWindow(control, GW_HWNDNEXT);
                 }
                 EXPECT_EQ(nullptr, control) << "no control beyond the template's";

                 // Tab order: Play (focused first), the edit, then the checked radio button, which the
                 // platform makes the group's tab stop.
                 HWND play = ::GetDlgItem(window, IDC_PLAY);
                 HWND edit = ::GetDlgItem(window, IDC_FREQ_EDIT);
                 HWND am = ::GetDlgItem(window, IDC_RADIO_AM);
                 EXPECT_EQ(play, FocusedWindowOf(window));
                 EXPECT_EQ(edit, ::GetNextDlgTabItem(window, play, FALSE));
                 EXPECT_EQ(am, ::GetNextDlgTabItem(window, edit, FALSE));
                 EXPECT_EQ(play, ::GetNextDlgTabItem(window, am, FALSE));
             });
}

TEST(MainDialog, StartsWithAmCheckedAnEmptyFiveCharacterEditAndBothIcons)
{
    PlayerDialog dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 EXPECT_EQ(BST_CHECKED, ::SendDlgItemMessageW(window, IDC_RADIO_AM, BM_GETCHECK, 0, 0));
                 EXPECT_EQ(BST_UNCHECKED, ::SendDlgItemMessageW(window, IDC_RADIO_FM, BM_GETCHECK, 0, 0));
                 HWND edit = ::GetDlgItem(window, IDC_FREQ_EDIT);
                 EXPECT_EQ(L"", WindowText(edit));

                 const DWORD mask = static_cast<DWORD>(::SendMessageW(edit, EM_GETEVENTMASK, 0, 0));
                 EXPECT_EQ(0x430000u, mask & 0x430000u);
                 EXPECT_EQ(0u, mask & ENM_CHANGE);

                 // Typing a sixth character into a full edit changes nothing.
                 ::SendMessageW(edit, WM_SETFOCUS, 0, 0);
                 for (int i = 0; i < 7; ++i)
                     ::PostMessageW(edit, WM_CHAR, '1' + i, 1);
                 EXPECT_TRUE(WaitUntil([&] { return WindowText(edit).size() >= 5; }));
                 ::Sleep(100);
                 EXPECT_EQ(L"12345", WindowText(edit));

                 CHARFORMATW format = {};
                 format.cbSize = sizeof(format);
                 ::SendMessageW(edit, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
                 EXPECT_STREQ(L"ＭＳ ゴシック", format.szFaceName);

                 const auto big = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
                 const auto small = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
                 EXPECT_NE(nullptr, dialog.m_mainIcon);
                 EXPECT_EQ(dialog.m_mainIcon, big);
                 EXPECT_EQ(dialog.m_mainIcon, small);
                 EXPECT_NE(nullptr, dialog.m_trayIcon);
                 EXPECT_NE(dialog.m_mainIcon, dialog.m_trayIcon);
                 EXPECT_EQ(reinterpret_cast<LRESULT>(dialog.m_mainIcon),
                           ::SendMessageW(window, WM_QUERYDRAGICON, 0, 0));
             });
}

TEST(MainDialog, SystemMenuEndsWithASeparatorAndTheJapaneseAboutItem)
{
    PlayerDialog dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 HMENU menu = ::GetSystemMenu(window, FALSE);
                 ASSERT_NE(nullptr, menu);
                 const int count = ::GetMenuItemCount(menu);
                 ASSERT_GE(count, 2);
                 wchar_t text[128] = {};
                 ::GetMenuStringW(menu, count - 1, text, ARRAYSIZE(text), MF_BYPOSITION);
                 EXPECT_STREQ(L"バージョン情報 WavelarkPlayer(&A)...", text);
                 EXPECT_EQ(0x10u, ::GetMenuItemID(menu, count - 1));
                 EXPECT_TRUE(::GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);
             });
}

struct SysCommandCase
{
    UINT id;
    bool opensAbout;
};

const SysCommandCase kSysCommandCases[] = {{16, true}, {17, true}, {24, true}, {31, true}, {32, false}, {0, false}};

TEST(MainDialog, SystemCommandsSixteenToThirtyOneOpenTheAboutBoxModally)
{
    PlayerDialog dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 const DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
                 for (const SysCommandCase& c : kSysCommandCases)
                 {
                     SCOPED_TRACE(c.id);
                     ::PostMessageW(window, WM_SYSCOMMAND, c.id, 0);
                     HWND about = WaitForDialog(thread, kAboutCaption, c.opensAbout ? 5000 : 300, window);
                     ASSERT_EQ(c.opensAbout, about != nullptr);
                     if (!about)
                         continue;
                     EXPECT_EQ(L"OK", WindowText(::GetDlgItem(about, IDOK)));
                     bool hasVersionText = false;
                     for (HWND child = ::GetWindow(about, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
                         hasVersionText |= WindowText(child) == L"WavelarkPlayer Version 1.1";
                     EXPECT_TRUE(hasVersionText);
                     // Modal to the main dialog: nothing there can be used while it shows.
                     EXPECT_EQ(window, ::GetWindow(about, GW_OWNER));
                     EXPECT_FALSE(::IsWindowEnabled(window));
                     ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                     EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }));
                     EXPECT_TRUE(::IsWindowEnabled(window));
                 }
                 EXPECT_TRUE(::IsWindow(window));
             });
}

struct EndCase
{
    const char* name;
    INT_PTR expected;
};

const EndCase kEndCases[] = {{"close", IDCANCEL}, {"escape", IDCANCEL}, {"ok", IDOK}};

TEST(MainDialog, CloseAndEscapeCancelWhileOkReadsTheControlsBack)
{
    for (const EndCase& c : kEndCases)
    {
        SCOPED_TRACE(c.name);
        PlayerDialog dialog;
        const INT_PTR result =
            RunModal(dialog,
                     [&](HWND window)
                     {
                         const std::string name = c.name;
                         if (name == "close")
                         {
                             ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
                         }
                         else if (name == "escape")
                         {
                             ::PostMessageW(FocusedWindowOf(window), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
                         }
                         else
                         {
                             ::SetDlgItemTextW(window, IDC_FREQ_EDIT, L"90.0");
                             ::SendDlgItemMessageW(window, IDC_RADIO_AM, BM_SETCHECK, BST_UNCHECKED, 0);
                             ::SendDlgItemMessageW(window, IDC_RADIO_FM, BM_SETCHECK, BST_CHECKED, 0);
                             ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                         }
                         EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
                     });
        EXPECT_EQ(c.expected, result);
        if (c.expected == IDOK)
        {
            EXPECT_EQ(1, dialog.m_band);
            EXPECT_EQ(dialog.m_editText, "90.0");
        }
    }
}

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name)
{
    std::wstring path = std::wstring(L"\\StringFileInfo\\041104B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), path.c_str(), &value, &length) || !value)
        return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

TEST(VersionRecord, CarriesTheProductStrings)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, block.data()));

    const std::pair<const wchar_t*, const wchar_t*> expected[] = {
        {L"FileVersion", L"1.1.0.0"},
        {L"ProductVersion", L"1.1.0.0"},
        {L"FileDescription", L"WavelarkPlayerLite"},
        {L"ProductName", L"WavelarkPlayerLite"},
        {L"InternalName", L"WavelarkPlayer.exe"},
        {L"OriginalFilename", L"WavelarkPlayerLite.exe"},
    };
    for (const auto& [name, value] : expected)
    {
        SCOPED_TRACE(std::string(name, name + wcslen(name)));
        EXPECT_EQ(value, VersionString(block, name));
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(1, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(1, 1), fixed->dwProductVersionMS);
}
} // namespace
