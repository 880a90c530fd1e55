// The notification-area icon: minimising hides the dialog there, the icon brings it back and
// its menu ends the program.
#include "app/WavelarkPlayerDlg.h"
#include "framework/OsCalls.h"
#include "res/resource.h"

namespace
{
constexpr UINT kTrayIconId = 0;
constexpr DWORD kShellRetryMs = 1000;
constexpr int kMenuAboveCursorAt96Dpi = 25;
// "通知領域にアイコンを登録できませんでした。", spelt with escapes so that no code page can change it.
const wchar_t kTrayFailure[] = L"\u901A\u77E5\u9818\u57DF\u306B\u30A2\u30A4\u30B3\u30F3\u3092\u767B\u9332\u3067"
                               L"\u304D\u307E\u305B\u3093\u3067\u3057\u305F\u3002";

NOTIFYICONDATAA TrayRecord(HWND window, UINT flags, UINT callback, HICON icon)
{
    NOTIFYICONDATAA record = {};
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = window;
    record.uID = kTrayIconId;
    record.uFlags = flags;
    record.uCallbackMessage = callback;
    record.hIcon = icon;
    if (flags & NIF_TIP)
        lstrcpynA(record.szTip, "WavelarkPlayer", sizeof(record.szTip));
    return record;
}
} // namespace

void CWavelarkPlayerDlg::AddTrayIcon()
{
    OsCalls& os = Os();
    NOTIFYICONDATAA record = TrayRecord(m_hWnd, NIF_MESSAGE | NIF_ICON | NIF_TIP, kTrayNotify, m_trayIcon);
    if (os.Shell_NotifyIconA(NIM_ADD, &record))
        return;
    // A shell that does not answer in time is asked again for as long as it keeps timing out.
    while (os.GetLastError() == ERROR_TIMEOUT)
    {
        if (os.Shell_NotifyIconA(NIM_MODIFY, &record))
            return;
        os.Sleep(kShellRetryMs);
        if (os.Shell_NotifyIconA(NIM_ADD, &record))
            return;
    }
    (void)os.MessageBoxW(m_hWnd, kTrayFailure, L"WavelarkPlayerLite", MB_ICONEXCLAMATION | MB_OK);
    SendMessage(WM_CLOSE);
    (void)os.Shell_NotifyIconA(NIM_MODIFY, &record); // a last try; the dialog is closing either way
}

void CWavelarkPlayerDlg::DeleteTrayIcon()
{
    NOTIFYICONDATAA record = TrayRecord(m_hWnd, 0, 0, nullptr);
    (void)Os().Shell_NotifyIconA(NIM_DELETE, &record); // removing an absent icon fails quietly
}

LRESULT CWavelarkPlayerDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE)
    {
        m_taskbarCreatedMsg = ::RegisterWindowMessageA("TaskbarCreated");
        m_comeForwardMsg = ::RegisterWindowMessageW(kComeForwardMessage);
    }
    else if (message == WM_SYSCOMMAND && wParam == SC_MINIMIZE)
    {
        ::ShowWindow(m_hWnd, SW_HIDE);
        AddTrayIcon();
        return 0;
    }
    else if (message == m_taskbarCreatedMsg && m_taskbarCreatedMsg != 0)
        AddTrayIcon();
    else if (message == m_comeForwardMsg && m_comeForwardMsg != 0)
    {
        ComeForward();
        return kCameForward;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

LRESULT CWavelarkPlayerDlg::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kTrayNotify && lParam == WM_LBUTTONDOWN)
        ComeForward();
    else if (message == kTrayNotify && lParam == WM_RBUTTONDOWN)
    {
        ShowTrayMenu();
    }
    return CDialog::DefWindowProc(message, wParam, lParam);
}

// Out of the tray and to the front: a click on the icon, or a second start, which has allowed
// this program the foreground. A window minimised some other way is restored: shown, it would
// stay a button on the taskbar.
void CWavelarkPlayerDlg::ComeForward()
{
    DeleteTrayIcon();
    ::ShowWindow(m_hWnd, ::IsIconic(m_hWnd) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(m_hWnd);
}

void CWavelarkPlayerDlg::PostNcDestroy()
{
    DeleteTrayIcon();
    CDialog::PostNcDestroy();
}

void CWavelarkPlayerDlg::ShowTrayMenu()
{
    OsCalls& os = Os();
    HMENU menu = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAYMENU));
    if (!menu)
        return;
    POINT cursor = {};
    (void)os.GetCursorPos(&cursor);
    ::SetForegroundWindow(m_hWnd);
    (void)os.TrackPopupMenu(
        ::GetSubMenu(menu, 0), 0, cursor.x,
        cursor.y - ::MulDiv(kMenuAboveCursorAt96Dpi, static_cast<int>(WindowDpi()), USER_DEFAULT_SCREEN_DPI), 0, m_hWnd,
        nullptr);
    // The menu must see a message after it closes, or it may not close the next time.
    PostMessage(WM_NULL);
    ::DestroyMenu(menu);
}

void CWavelarkPlayerDlg::OnTrayExit()
{
    OnStop();
    EndDialog(IDCANCEL);
}
