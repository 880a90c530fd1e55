#include "app/WavelarkPlayerDlg.h"
#include "framework/OsCalls.h"
#include "framework/Unique.h"
#include "res/resource.h"
#include "support/ModalDriver.h"
#include "support/ScopedOsCall.h"

#include <gtest/gtest.h>

#include <richedit.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace
{
// The DPI the run was started at (tests/app/dialog_scales.sh), 96 without one.
const int kRunDpi = std::getenv("WAVELARK_DPI") ? std::atoi(std::getenv("WAVELARK_DPI")) : 96;

// Width of `text` in `font`, or in `window`'s own.
int TextWidth(HWND window, const wchar_t* text, HFONT font = nullptr)
{
    HDC dc = ::GetDC(window);
    const HGDIOBJ old =
        ::SelectObject(dc, font ? font : reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)));
    SIZE size = {};
    ::GetTextExtentPoint32W(dc, text, ::lstrlenW(text), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    return size.cx;
}

// A machine without a HID device: the dialog as it shows without a receiver, whatever the
// test's machine has attached.
HDEVINFO WINAPI NoDevices(const GUID*, PCSTR, HWND, DWORD)
{
    ::SetLastError(ERROR_INVALID_DATA);
    return INVALID_HANDLE_VALUE;
}

class MainDialog : public ::testing::Test
{
  protected:
    // Runs a fresh dialog, driven by `drive` once it shows.
    INT_PTR Run(const std::function<void(HWND)>& drive) { return RunModal(m_dialog, drive); }

    ScopedOsCall m_noReceiver{&OsCalls::SetupDiGetClassDevsA, &NoDevices};
    CWavelarkPlayerDlg m_dialog;
};

// Laid out at the run's DPI: the font's size, the caption beside the icon and three caption
// buttons, every control's whole text in view, the tab order, AM checked, the edit's limit and
// font, made again on a new DPI.
TEST_F(MainDialog, LaysOutTheTemplateAtTheRunsDpi)
{
    Run(
        [&](HWND window)
        {
            LOGFONTW font = {};
            ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)), sizeof(font), &font);
            RECT size = {0, 0, 127, 87}, client = {};
            ::MapDialogRect(window, &size);
            ::GetClientRect(window, &client);
            EXPECT_EQ(std::make_tuple(-::MulDiv(9, kRunDpi, 72), size.right, size.bottom),
                      std::make_tuple(font.lfHeight, client.right, client.bottom))
                << "font height, client width, client height";
            NONCLIENTMETRICSW metrics = {};
            metrics.cbSize = sizeof(metrics);
            ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
            UniqueGdiObject captionFont(::CreateFontIndirectW(&metrics.lfCaptionFont));
            EXPECT_LE(TextWidth(window, L"WavelarkPlayerLite", static_cast<HFONT>(captionFont.Get())) +
                          ::GetSystemMetrics(SM_CXSMICON) + 3 * ::GetSystemMetrics(SM_CXSIZE),
                      client.right)
                << "the caption, its icon and buttons fit";
            // Every control's whole text in view: a radio button's beside its box, a push button's
            // inside its edges.
            std::vector<std::wstring> texts;
            for (HWND control = ::GetWindow(window, GW_CHILD); control; control = ::GetWindow(control, GW_HWNDNEXT))
            {
                wchar_t className[32] = {}, text[32] = {};
                ::GetClassNameW(control, className, 32);
                ::GetWindowTextW(control, text, 32);
                const bool radio = (::GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
                RECT place = {};
                ::GetWindowRect(control, &place);
                const int room = place.right - place.left -
                                 (::lstrcmpiW(className, L"Button") ? 0
                                  : radio                           ? ::GetSystemMetrics(SM_CXMENUCHECK)
                                                                    : 2 * ::GetSystemMetrics(SM_CXEDGE));
                texts.push_back(text);
                EXPECT_LE(TextWidth(control, text), room) << "the text of " << className;
            }
            EXPECT_EQ((std::vector<std::wstring>{L"再生", L"停止", L"", L"", L"AM", L"FM", L"Tune"}), texts)
                << "the controls' texts, in creation order";
            // Play first, the edit, then the checked radio button as the group's tab stop.
            HWND play = ::GetDlgItem(window, IDC_PLAY), edit = ::GetDlgItem(window, IDC_FREQ_EDIT);
            HWND am = ::GetDlgItem(window, IDC_RADIO_AM);
            EXPECT_EQ(std::make_tuple(play, edit, am, play),
                      std::make_tuple(::GetFocus(), ::GetNextDlgTabItem(window, play, FALSE),
                                      ::GetNextDlgTabItem(window, edit, FALSE), ::GetNextDlgTabItem(window, am, FALSE)))
                << "focus, then the tab stops after Play, the edit and AM";
            EXPECT_EQ(BST_CHECKED, ::SendMessageW(am, BM_GETCHECK, 0, 0)) << "AM checked";
            EXPECT_EQ(5, ::SendMessageW(edit, EM_GETLIMITTEXT, 0, 0)) << "the edit's limit";
            CHARFORMATW format = {};
            format.cbSize = sizeof(format);
            ::SendMessageW(edit, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
            EXPECT_EQ(std::make_pair(std::wstring(L"ＭＳ ゴシック"), 180L),
                      std::make_pair(std::wstring(format.szFaceName), format.yHeight))
                << "face and height: 9 points at every DPI";
            // Every width of frequency, right-aligned, whole inside the edit's border.
            ::GetClientRect(edit, &client);
            for (const std::wstring frequency : {L"88.0", L"107.9", L"1710"})
            {
                ::SetWindowTextW(edit, frequency.c_str());
                const LRESULT first = ::SendMessageW(edit, EM_POSFROMCHAR, 0, 0);
                const LRESULT end = ::SendMessageW(edit, EM_POSFROMCHAR, frequency.size(), 0);
                EXPECT_TRUE(static_cast<short>(LOWORD(first)) >= 0 && static_cast<short>(LOWORD(end)) <= client.right)
                    << frequency;
            }
            const LRESULT icon = ::SendMessageW(window, WM_GETICON, ICON_BIG, 0);
            EXPECT_EQ(std::make_tuple(true, icon, icon),
                      std::make_tuple(icon != 0, ::SendMessageW(window, WM_GETICON, ICON_SMALL, 0),
                                      ::SendMessageW(window, WM_QUERYDRAGICON, 0, 0)))
                << "a big icon, the small one and the drag icon the same";
            // Moved to a monitor of twice the DPI, the font is made again: twice the pixels.
            RECT place;
            ::GetWindowRect(window, &place); // where it is: the suggested place
            ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(2 * kRunDpi, 2 * kRunDpi),
                           reinterpret_cast<LPARAM>(&place));
            ::SendMessageW(edit, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
            EXPECT_EQ(360, format.yHeight) << "at twice the DPI";
        });
}

// The system menu's last item opens the About box, modal, for its own command and Windows' own
// command bits only.
TEST_F(MainDialog, SystemMenuOpensTheAboutBoxModally)
{
    Run(
        [&](HWND window)
        {
            HMENU menu = ::GetSystemMenu(window, FALSE);
            const int last = ::GetMenuItemCount(menu) - 1;
            wchar_t text[128] = {};
            ::GetMenuStringW(menu, last, text, ARRAYSIZE(text), MF_BYPOSITION);
            EXPECT_STREQ(L"バージョン情報 WavelarkPlayer(&A)...", text);
            EXPECT_EQ(0x10u, ::GetMenuItemID(menu, last)) << "its command, which opens the box below";
            HWND edit = ::GetDlgItem(window, IDC_FREQ_EDIT);
            ::SetWindowTextW(edit, L"1710"); // room for the selections that show a posted message handled
            for (const auto& [id, opens] : {std::pair{16u, true}, {31u, true}, {32u, false}, {0u, false}})
            {
                SCOPED_TRACE(id);
                ::PostMessageW(window, WM_SYSCOMMAND, id, 0);
                // Once the command is handled, an About box it opened is there (its own loop
                // handles what was posted behind it).
                ASSERT_TRUE(WaitForPosted(edit));
                HWND about = opens ? WaitForDialog(L"バージョン情報 WavelarkPlayerLite", 5000)
                                   : ::FindWindowW(reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32770)),
                                                   L"バージョン情報 WavelarkPlayerLite");
                ASSERT_EQ(opens, about != nullptr) << "whether the About box opened";
                if (!about)
                    continue;
                EXPECT_NE(nullptr, ::FindWindowExW(about, nullptr, nullptr, L"WavelarkPlayer Version 1.1"));
                EXPECT_EQ(window, ::GetWindow(about, GW_OWNER)) << "its owner";
                EXPECT_FALSE(::IsWindowEnabled(window)) << "nothing of the main dialog works meanwhile";
                ::PostMessageW(about, WM_COMMAND, IDOK, 0);
                EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }));
                EXPECT_TRUE(::IsWindowEnabled(window)) << "the main dialog works again";
            }
        });
}

// OK reads the controls back; more than a user can type, put there by a program, is refused and
// leaves the dialog open with the focus on the edit.
TEST_F(MainDialog, OkReadsTheControlsBackAndRefusesWhatNoUserCanType)
{
    const INT_PTR result = Run(
        [&](HWND window)
        {
            HWND edit = ::GetDlgItem(window, IDC_FREQ_EDIT);
            ::SetWindowTextW(edit, L"123456");
            ::PostMessageW(window, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(WaitForPosted(edit)) << "OK was handled and the dialog stayed";
            EXPECT_EQ(edit, ::GetFocus()) << "the focus on the edit";
            ::SetWindowTextW(edit, L"90.0");
            ::CheckRadioButton(window, IDC_RADIO_AM, IDC_RADIO_FM, IDC_RADIO_FM);
            ::PostMessageW(window, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
        });
    EXPECT_EQ(std::make_tuple(static_cast<INT_PTR>(IDOK), 1, std::string("90.0")),
              std::make_tuple(result, m_dialog.m_band, std::string(m_dialog.m_editText.GetString())))
        << "result, band, edit text";
}

// The shell as the tray code sees it: every call recorded, answers scripted.
struct FakeShell
{
    static inline std::vector<std::pair<DWORD, NOTIFYICONDATAA>> calls;
    static inline std::vector<DWORD> failures; // the last errors of the next calls that fail, in turn
    static inline DWORD lastError = 0;
    static inline std::vector<DWORD> sleeps;
    static inline std::vector<std::wstring> messages;
    static inline std::vector<POINT> menus;

    static BOOL WINAPI NotifyIcon(DWORD message, PNOTIFYICONDATAA record)
    {
        calls.emplace_back(message, *record);
        lastError = failures.empty() ? 0 : failures.front();
        if (!failures.empty())
            failures.erase(failures.begin());
        return lastError == 0;
    }
    static DWORD WINAPI GetLastError() { return lastError; }
    static void WINAPI Sleep(DWORD milliseconds) { sleeps.push_back(milliseconds); }
    static int WINAPI MessageBoxW(HWND, LPCWSTR text, LPCWSTR, UINT type)
    {
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), type);
        return messages.emplace_back(text), IDOK;
    }
    static BOOL WINAPI GetCursorPos(LPPOINT point) { return *point = {300, 400}, TRUE; }
    static BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND, const RECT*)
    {
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, ID_TRAY_EXIT, text, 64, MF_BYCOMMAND);
        EXPECT_EQ(std::make_pair(0u, std::wstring(L"WavelarkPlayerの終了(&X)")),
                  std::make_pair(flags, std::wstring(text)));
        return menus.push_back({x, y}), FALSE; // nothing chosen
    }
};

// The shell calls that `message` causes.
std::vector<DWORD> CallsOf(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const size_t before = FakeShell::calls.size();
    ::SendMessageW(window, message, wParam, lParam);
    std::vector<DWORD> made;
    for (size_t i = before; i < FakeShell::calls.size(); ++i)
        made.push_back(FakeShell::calls[i].first);
    return made;
}

// Minimising hides the dialog into the tray and the icon brings it back; a shell that times out
// is asked again every second, a modify first; any other failure shows its message and closes.
TEST(Tray, MinimiseHidesIntoTheTrayAndTheIconBringsTheWindowBack)
{
    ScopedOsCall notifyIcon(&OsCalls::Shell_NotifyIconA, &FakeShell::NotifyIcon);
    ScopedOsCall lastError(&OsCalls::GetLastError, &FakeShell::GetLastError);
    ScopedOsCall sleep(&OsCalls::Sleep, &FakeShell::Sleep);
    ScopedOsCall messageBox(&OsCalls::MessageBoxW, &FakeShell::MessageBoxW);
    ScopedOsCall cursor(&OsCalls::GetCursorPos, &FakeShell::GetCursorPos);
    ScopedOsCall menu(&OsCalls::TrackPopupMenu, &FakeShell::TrackPopupMenu);
    CWavelarkPlayerDlg dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 EXPECT_EQ(std::vector<DWORD>{NIM_ADD}, CallsOf(window, WM_SYSCOMMAND, SC_MINIMIZE, 0));
                 EXPECT_FALSE(::IsWindowVisible(window));
                 const NOTIFYICONDATAA& added = FakeShell::calls.back().second;
                 EXPECT_EQ(std::make_tuple(static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE), window, 0u, 7u, 0x8001u,
                                           std::string("WavelarkPlayer")),
                           std::make_tuple(added.cbSize, added.hWnd, added.uID, added.uFlags, added.uCallbackMessage,
                                           std::string(added.szTip)));
                 EXPECT_EQ(std::vector<DWORD>{NIM_DELETE}, CallsOf(window, 0x8001, 0, WM_LBUTTONDOWN));
                 EXPECT_TRUE(::IsWindowVisible(window));
                 // A restarted shell gets the icon again, even while the window shows.
                 EXPECT_EQ(std::vector<DWORD>{NIM_ADD},
                           CallsOf(window, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0));
                 // The menu opens 25 pixels above the cursor at 96 DPI, more in proportion above it.
                 EXPECT_TRUE(CallsOf(window, 0x8001, 0, WM_RBUTTONDOWN).empty());
                 ASSERT_EQ(1u, FakeShell::menus.size());
                 EXPECT_EQ(std::make_pair(300L, 400L - ::MulDiv(25, kRunDpi, 96)),
                           std::make_pair(FakeShell::menus[0].x, FakeShell::menus[0].y));

                 FakeShell::failures = {ERROR_TIMEOUT, ERROR_TIMEOUT, ERROR_TIMEOUT, ERROR_TIMEOUT};
                 EXPECT_EQ((std::vector<DWORD>{NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_MODIFY, NIM_ADD}),
                           CallsOf(window, WM_SYSCOMMAND, SC_MINIMIZE, 0));
                 EXPECT_EQ((std::vector<DWORD>{1000, 1000}), FakeShell::sleeps);
                 EXPECT_EQ(std::vector<DWORD>{NIM_DELETE}, CallsOf(window, 0x8001, 0, WM_LBUTTONDOWN));
                 FakeShell::failures = {ERROR_ACCESS_DENIED};
                 std::vector<DWORD> calls = CallsOf(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
                 calls.resize(2);
                 EXPECT_EQ((std::vector<DWORD>{NIM_ADD, NIM_MODIFY}), calls);
                 EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
             });
    EXPECT_EQ(std::vector<std::wstring>{L"通知領域にアイコンを登録できませんでした。"}, FakeShell::messages);
    EXPECT_EQ((std::vector<DWORD>{1000, 1000}), FakeShell::sleeps) << "no more";
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), FakeShell::calls.back().first) << "the icon goes with the window";
}
} // namespace
