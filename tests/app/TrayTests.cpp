#include "app/WavelarkPlayerDlg.h"
#include "framework/OsCalls.h"
#include "res/resource.h"
#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace
{
using PlayerDialog = Drivable<CWavelarkPlayerDlg>;

struct ShellCall
{
    DWORD message;
    NOTIFYICONDATAA record;
};

// The shell as the tray code sees it: every call recorded, answers scripted.
struct FakeShell
{
    static inline std::vector<ShellCall> calls;
    static inline std::deque<std::pair<BOOL, DWORD>> answers; // (result, last error); empty: success
    static inline DWORD lastError = 0;
    static inline std::vector<DWORD> sleeps;
    static inline std::vector<std::wstring> messages;
    static inline std::vector<POINT> menus;

    static void Reset()
    {
        calls.clear();
        answers.clear();
        sleeps.clear();
        messages.clear();
        menus.clear();
    }
    static BOOL WINAPI NotifyIcon(DWORD message, PNOTIFYICONDATAA record)
    {
        calls.push_back({message, *record});
        if (answers.empty())
            return TRUE;
        const auto [result, error] = answers.front();
        answers.pop_front();
        lastError = error;
        return result;
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
        m_saved = Os();
        FakeShell::Reset();
        OsCalls& os = Os();
        os.Shell_NotifyIconA = &FakeShell::NotifyIcon;
        os.GetLastError = &FakeShell::GetLastError;
        os.Sleep = &FakeShell::Sleep;
        os.MessageBoxW = &FakeShell::MessageBoxW;
        os.GetCursorPos = &FakeShell::GetCursorPos;
        os.TrackPopupMenu = &FakeShell::TrackPopupMenu;
    }
    void TearDown() override { Os() = m_saved; }

    // The shell calls made while `action` ran on the driver's side.
    static std::vector<DWORD> CallsDuring(HWND window, const std::function<void()>& action)
    {
        size_t before = 0;
        RunOnDialogThread(window, [&] { before = FakeShell::calls.size(); });
        action();
        std::vector<DWORD> made;
        RunOnDialogThread(window,
                          [&]
                          {
                              for (size_t i = before; i < FakeShell::calls.size(); ++i)
                                  made.push_back(FakeShell::calls[i].message);
                          });
        return made;
    }

    OsCalls m_saved;
};

TEST_F(Tray, MinimiseHidesIntoTheTrayAndTheIconBringsTheWindowBack)
{
    PlayerDialog dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 EXPECT_EQ(std::vector<DWORD>{NIM_ADD},
                           CallsDuring(window, [&] { ::SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0); }));
                 EXPECT_FALSE(::IsWindowVisible(window));
                 RunOnDialogThread(window,
                                   [&]
                                   {
                                       const NOTIFYICONDATAA& added = FakeShell::calls.back().record;
                                       EXPECT_EQ(static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE), added.cbSize);
                                       EXPECT_EQ(window, added.hWnd);
                                       EXPECT_EQ(0u, added.uID);
                                       EXPECT_EQ(7u, added.uFlags);
                                       EXPECT_EQ(0x8001u, added.uCallbackMessage);
                                       EXPECT_EQ(dialog.m_trayIcon, added.hIcon);
                                       EXPECT_STREQ("WavelarkPlayer", added.szTip);
                                   });

                 // Button-up, double-click and middle-button messages do nothing by themselves.
                 for (LPARAM mouse : {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_MBUTTONDOWN, WM_RBUTTONUP})
                     EXPECT_TRUE(CallsDuring(window, [&] { ::SendMessageW(window, 0x8001, 0, mouse); }).empty())
                         << mouse;
                 EXPECT_FALSE(::IsWindowVisible(window));

                 EXPECT_EQ(std::vector<DWORD>{NIM_DELETE},
                           CallsDuring(window, [&] { ::SendMessageW(window, 0x8001, 0, WM_LBUTTONDOWN); }));
                 EXPECT_TRUE(::IsWindowVisible(window));

                 // A restarted shell gets the icon again, even while the window shows.
                 const UINT taskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
                 EXPECT_EQ(std::vector<DWORD>{NIM_ADD},
                           CallsDuring(window, [&] { ::SendMessageW(window, taskbarCreated, 0, 0); }));
                 EXPECT_TRUE(::IsWindowVisible(window));

                 // The menu opens 25 pixels above the cursor.
                 EXPECT_TRUE(CallsDuring(window, [&] { ::SendMessageW(window, 0x8001, 0, WM_RBUTTONDOWN); }).empty());
                 RunOnDialogThread(window,
                                   [&]
                                   {
                                       ASSERT_EQ(1u, FakeShell::menus.size());
                                       EXPECT_EQ(300, FakeShell::menus[0].x);
                                       EXPECT_EQ(375, FakeShell::menus[0].y);
                                   });
             });
    ASSERT_FALSE(FakeShell::calls.empty());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), FakeShell::calls.back().message) << "the icon goes with the window";
}

TEST_F(Tray, TheExitItemEndsTheDialog)
{
    PlayerDialog dialog;
    const INT_PTR result = RunModal(dialog,
                                    [&](HWND window)
                                    {
                                        ::PostMessageW(window, WM_COMMAND, ID_TRAY_EXIT, 0);
                                        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
                                    });
    EXPECT_EQ(IDCANCEL, result);
    ASSERT_FALSE(FakeShell::calls.empty());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), FakeShell::calls.back().message);
}

TEST_F(Tray, AShellTimeOutIsRetriedEverySecondWithAModifyFirst)
{
    PlayerDialog dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 RunOnDialogThread(window,
                                   [&]
                                   {
                                       FakeShell::answers = {{FALSE, ERROR_TIMEOUT},
                                                             {FALSE, ERROR_TIMEOUT},
                                                             {FALSE, ERROR_TIMEOUT},
                                                             {FALSE, ERROR_TIMEOUT},
                                                             {TRUE, 0}};
                                   });
                 EXPECT_EQ((std::vector<DWORD>{NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_MODIFY, NIM_ADD}),
                           CallsDuring(window, [&] { ::SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0); }));
                 RunOnDialogThread(window,
                                   [&]
                                   {
                                       EXPECT_EQ((std::vector<DWORD>{1000, 1000}), FakeShell::sleeps);
                                       EXPECT_TRUE(FakeShell::messages.empty());
                                   });
             });
}

TEST_F(Tray, AnyOtherShellFailureShowsTheMessageAndClosesTheDialog)
{
    PlayerDialog dialog;
    const INT_PTR result =
        RunModal(dialog,
                 [&](HWND window)
                 {
                     RunOnDialogThread(window, [&] { FakeShell::answers = {{FALSE, ERROR_ACCESS_DENIED}}; });
                     ::PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
                     EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
                 });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(std::vector<std::wstring>{L"通知領域にアイコンを登録できませんでした。"}, FakeShell::messages);
    ASSERT_GE(FakeShell::calls.size(), 2u);
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), FakeShell::calls[0].message);
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), FakeShell::calls[1].message);
    EXPECT_TRUE(FakeShell::sleeps.empty());
}
} // namespace
