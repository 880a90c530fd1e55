#include "app/WavelarkPlayerDlg.h"
#include "framework/OsCalls.h"
#include "res/resource.h"
#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <richedit.h>

#include <deque>
#include <string>
#include <vector>

namespace
{
// Template 102 in creation (and tab) order, as the user sees it.
const struct
{
    int id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style; // without WS_CHILD | WS_VISIBLE, which every control has
    RECT dialogUnits;
} kControls[] = {
    {IDC_PLAY, L"Button", L"再生", BS_DEFPUSHBUTTON | WS_TABSTOP, {65, 64, 26, 16}},
    {IDC_STOP, L"Button", L"停止", BS_PUSHBUTTON, {95, 64, 25, 16}},
    {IDC_FREQ_EDIT, L"RichEdit20A", L"", ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, {7, 18, 32, 14}},
    {IDC_SPIN, L"msctls_updown32", L"", UDS_ARROWKEYS, {38, 18, 10, 13}},
    {IDC_RADIO_AM, L"Button", L"AM", BS_AUTORADIOBUTTON | WS_GROUP, {7, 34, 26, 10}},
    {IDC_RADIO_FM, L"Button", L"FM", BS_AUTORADIOBUTTON, {7, 45, 25, 10}},
    {IDC_STATIC, L"Static", L"Tune", SS_LEFT | WS_GROUP, {7, 7, 51, 10}},
};

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, ARRAYSIZE(name));
    return name;
}

TEST(MainDialog, ShowsEveryControlInTabOrderWhereTheTemplatePlacesItAndStartsOnAm)
{
    CWavelarkPlayerDlg dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 EXPECT_EQ(L"WavelarkPlayerLite", WindowText(window));
                 EXPECT_TRUE(::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
                 const DWORD frame =
                     WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
                 EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
                           ::GetWindowLongW(window, GWL_STYLE) & frame);
                 HWND control = ::GetWindow(window, GW_CHILD);
                 for (const auto& row : kControls)
                 {
                     SCOPED_TRACE(row.id);
                     ASSERT_NE(nullptr, control);
                     EXPECT_EQ(row.id, static_cast<short>(::GetDlgCtrlID(control)));
                     EXPECT_EQ(0, ::lstrcmpiW(row.className, ClassOf(control).c_str()));
                     EXPECT_EQ(row.text, WindowText(control));
                     // The rich edit trades its border for an edge, and the group's tab stop moves.
                     const DWORD platformBits = WS_BORDER | WS_TABSTOP;
                     EXPECT_EQ((row.style | WS_CHILD | WS_VISIBLE) & ~platformBits,
                               ::GetWindowLongW(control, GWL_STYLE) & ~platformBits);
                     // The dialog manager converts position and size separately.
                     RECT expected = row.dialogUnits, actual;
                     ::MapDialogRect(window, &expected);
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

                 // Play first, the edit, then the checked radio button as the group's tab stop.
                 HWND play = ::GetDlgItem(window, IDC_PLAY), edit = ::GetDlgItem(window, IDC_FREQ_EDIT);
                 HWND am = ::GetDlgItem(window, IDC_RADIO_AM);
                 EXPECT_EQ(play, ::GetFocus());
                 EXPECT_EQ(edit, ::GetNextDlgTabItem(window, play, FALSE));
                 EXPECT_EQ(am, ::GetNextDlgTabItem(window, edit, FALSE));
                 EXPECT_EQ(play, ::GetNextDlgTabItem(window, am, FALSE));
                 EXPECT_EQ(BST_CHECKED, ::SendMessageW(am, BM_GETCHECK, 0, 0));

                 const DWORD mask = static_cast<DWORD>(::SendMessageW(edit, EM_GETEVENTMASK, 0, 0));
                 EXPECT_EQ(0x430000u, mask & (0x430000u | ENM_CHANGE));
                 CHARFORMATW format = {};
                 format.cbSize = sizeof(format);
                 ::SendMessageW(edit, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
                 EXPECT_STREQ(L"ＭＳ ゴシック", format.szFaceName);
                 // A sixth character typed into a full edit changes nothing.
                 ::SetFocus(edit);
                 for (int i = 0; i < 7; ++i)
                     ::PostMessageW(edit, WM_CHAR, '1' + i, 1);
                 EXPECT_FALSE(WaitUntil([&] { return WindowText(edit).size() > 5; }, 500));
                 EXPECT_EQ(L"12345", WindowText(edit));

                 const auto big = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
                 EXPECT_NE(nullptr, big);
                 EXPECT_EQ(big, reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0)));
                 EXPECT_EQ(reinterpret_cast<LRESULT>(big), ::SendMessageW(window, WM_QUERYDRAGICON, 0, 0));
             });
}

TEST(MainDialog, TheSystemMenusAboutItemAndCommandsSixteenToThirtyOneOpenTheAboutBoxModally)
{
    CWavelarkPlayerDlg dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 HMENU menu = ::GetSystemMenu(window, FALSE);
                 const int count = ::GetMenuItemCount(menu);
                 ASSERT_GE(count, 2);
                 wchar_t text[128] = {};
                 ::GetMenuStringW(menu, count - 1, text, ARRAYSIZE(text), MF_BYPOSITION);
                 EXPECT_STREQ(L"バージョン情報 WavelarkPlayer(&A)...", text);
                 EXPECT_EQ(0x10u, ::GetMenuItemID(menu, count - 1));
                 EXPECT_TRUE(::GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);
                 for (const auto& [id, opens] : {std::pair{16u, true}, {31u, true}, {32u, false}, {0u, false}})
                 {
                     SCOPED_TRACE(id);
                     ::PostMessageW(window, WM_SYSCOMMAND, id, 0);
                     HWND about = WaitForDialog(L"バージョン情報 WavelarkPlayerLite", opens ? 5000 : 300, window);
                     ASSERT_EQ(opens, about != nullptr);
                     if (!about)
                         continue;
                     bool hasVersionText = false;
                     for (HWND child = ::GetWindow(about, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
                         hasVersionText |= WindowText(child) == L"WavelarkPlayer Version 1.1";
                     EXPECT_TRUE(hasVersionText);
                     EXPECT_EQ(window, ::GetWindow(about, GW_OWNER));
                     EXPECT_FALSE(::IsWindowEnabled(window)) << "nothing of the main dialog works meanwhile";
                     ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                     EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }));
                     EXPECT_TRUE(::IsWindowEnabled(window));
                 }
             });
}

TEST(MainDialog, CloseAndEscapeCancelWhileOkReadsTheControlsBack)
{
    for (const char* how : {"close", "escape", "ok"})
    {
        SCOPED_TRACE(how);
        const std::string name = how;
        CWavelarkPlayerDlg dialog;
        const INT_PTR result = RunModal(dialog,
                                        [&](HWND window)
                                        {
                                            if (name == "close")
                                                ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
                                            else if (name == "escape")
                                                ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
                                            else
                                            {
                                                ::SetDlgItemTextW(window, IDC_FREQ_EDIT, L"90.0");
                                                ::CheckRadioButton(window, IDC_RADIO_AM, IDC_RADIO_FM, IDC_RADIO_FM);
                                                ::PostMessageW(window, WM_COMMAND, IDOK, 0);
                                            }
                                            EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
                                        });
        EXPECT_EQ(name == "ok" ? IDOK : IDCANCEL, result);
        if (name == "ok")
        {
            EXPECT_EQ(1, dialog.m_band);
            EXPECT_EQ(dialog.m_editText, "90.0");
        }
    }
}

// The shell as the tray code sees it: every call recorded, answers scripted.
struct FakeShell
{
    static inline std::vector<std::pair<DWORD, NOTIFYICONDATAA>> calls;
    static inline std::deque<DWORD> failures; // the last error of each failing call, in turn; 0: success
    static inline DWORD lastError = 0;
    static inline std::vector<DWORD> sleeps;
    static inline std::vector<std::wstring> messages;
    static inline std::vector<POINT> menus;

    static BOOL WINAPI NotifyIcon(DWORD message, PNOTIFYICONDATAA record)
    {
        calls.emplace_back(message, *record);
        lastError = failures.empty() ? 0 : failures.front();
        if (!failures.empty())
            failures.pop_front();
        return lastError == 0;
    }
    static DWORD WINAPI GetLastError() { return lastError; }
    static void WINAPI Sleep(DWORD milliseconds) { sleeps.push_back(milliseconds); }
    static int WINAPI MessageBoxW(HWND, LPCWSTR text, LPCWSTR, UINT type)
    {
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), type);
        messages.push_back(text);
        return IDOK;
    }
    static BOOL WINAPI GetCursorPos(LPPOINT point)
    {
        *point = {300, 400};
        return TRUE;
    }
    static BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND, const RECT*)
    {
        EXPECT_EQ(0u, flags);
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, ID_TRAY_EXIT, text, 64, MF_BYCOMMAND);
        EXPECT_STREQ(L"WavelarkPlayerの終了(&X)", text);
        menus.push_back({x, y});
        return FALSE; // nothing chosen
    }
};

class Tray : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        FakeShell::calls.clear();
        FakeShell::failures.clear();
        FakeShell::sleeps.clear();
        FakeShell::messages.clear();
        FakeShell::menus.clear();
        OsCalls& os = Os();
        os.Shell_NotifyIconA = &FakeShell::NotifyIcon;
        os.GetLastError = &FakeShell::GetLastError;
        os.Sleep = &FakeShell::Sleep;
        os.MessageBoxW = &FakeShell::MessageBoxW;
        os.GetCursorPos = &FakeShell::GetCursorPos;
        os.TrackPopupMenu = &FakeShell::TrackPopupMenu;
    }
    void TearDown() override { Os() = m_saved; }

    // The shell calls `message` causes.
    static std::vector<DWORD> CallsOf(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        const size_t before = FakeShell::calls.size();
        ::SendMessageW(window, message, wParam, lParam);
        std::vector<DWORD> made;
        for (size_t i = before; i < FakeShell::calls.size(); ++i)
            made.push_back(FakeShell::calls[i].first);
        return made;
    }

    OsCalls m_saved = Os();
};

TEST_F(Tray, MinimiseHidesIntoTheTrayAndTheIconBringsTheWindowBack)
{
    CWavelarkPlayerDlg dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 EXPECT_EQ(std::vector<DWORD>{NIM_ADD}, CallsOf(window, WM_SYSCOMMAND, SC_MINIMIZE, 0));
                 EXPECT_FALSE(::IsWindowVisible(window));
                 const NOTIFYICONDATAA& added = FakeShell::calls.back().second;
                 EXPECT_EQ(static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE), added.cbSize);
                 EXPECT_EQ(window, added.hWnd);
                 EXPECT_EQ(0u, added.uID);
                 EXPECT_EQ(7u, added.uFlags);
                 EXPECT_EQ(0x8001u, added.uCallbackMessage);
                 EXPECT_NE(nullptr, added.hIcon);
                 EXPECT_NE(reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0)), added.hIcon);
                 EXPECT_STREQ("WavelarkPlayer", added.szTip);
                 // Button-up, double-click and middle-button messages do nothing by themselves.
                 for (LPARAM mouse : {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_MBUTTONDOWN, WM_RBUTTONUP})
                     EXPECT_TRUE(CallsOf(window, 0x8001, 0, mouse).empty()) << mouse;
                 EXPECT_FALSE(::IsWindowVisible(window));
                 EXPECT_EQ(std::vector<DWORD>{NIM_DELETE}, CallsOf(window, 0x8001, 0, WM_LBUTTONDOWN));
                 EXPECT_TRUE(::IsWindowVisible(window));
                 // A restarted shell gets the icon again, even while the window shows.
                 EXPECT_EQ(std::vector<DWORD>{NIM_ADD},
                           CallsOf(window, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0));
                 // The menu opens 25 pixels above the cursor.
                 EXPECT_TRUE(CallsOf(window, 0x8001, 0, WM_RBUTTONDOWN).empty());
                 ASSERT_EQ(1u, FakeShell::menus.size());
                 EXPECT_EQ(300, FakeShell::menus[0].x);
                 EXPECT_EQ(375, FakeShell::menus[0].y);
             });
    ASSERT_FALSE(FakeShell::calls.empty());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), FakeShell::calls.back().first) << "the icon goes with the window";
}

TEST_F(Tray, AShellTimeOutIsRetriedEverySecondWithAModifyFirstAndAnyOtherFailureCloses)
{
    CWavelarkPlayerDlg dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 FakeShell::failures = {ERROR_TIMEOUT, ERROR_TIMEOUT, ERROR_TIMEOUT, ERROR_TIMEOUT};
                 EXPECT_EQ((std::vector<DWORD>{NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_MODIFY, NIM_ADD}),
                           CallsOf(window, WM_SYSCOMMAND, SC_MINIMIZE, 0));
                 EXPECT_EQ((std::vector<DWORD>{1000, 1000}), FakeShell::sleeps);
                 EXPECT_TRUE(FakeShell::messages.empty());
                 EXPECT_EQ(std::vector<DWORD>{NIM_DELETE}, CallsOf(window, 0x8001, 0, WM_LBUTTONDOWN));

                 FakeShell::failures = {ERROR_ACCESS_DENIED};
                 FakeShell::sleeps.clear();
                 const std::vector<DWORD> calls = CallsOf(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
                 ASSERT_GE(calls.size(), 2u);
                 EXPECT_EQ(static_cast<DWORD>(NIM_ADD), calls[0]);
                 EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), calls[1]);
                 EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
             });
    EXPECT_EQ(std::vector<std::wstring>{L"通知領域にアイコンを登録できませんでした。"}, FakeShell::messages);
    EXPECT_TRUE(FakeShell::sleeps.empty());
}
} // namespace
