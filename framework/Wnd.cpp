#include "framework/Wnd.h"

#include "framework/Exceptions.h"

#include <exception>

namespace
{
const wchar_t kWindowObjectProperty[] = L"WavelarkWindowObject";

// The object waiting for its window, and the hook that will hand it over, for this thread.
thread_local CWnd* t_pendingWindowObject = nullptr;
thread_local HHOOK t_creationHook = nullptr;

bool IsDialogWindow(HWND window)
{
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, ARRAYSIZE(className));
    return ::lstrcmpW(className, L"#32770") == 0;
}
} // namespace

HWND CWnd::Detach()
{
    HWND window = m_hWnd;
    m_hWnd = nullptr;
    return window;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_classProc)
        return ::CallWindowProcW(m_classProc, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

bool CWnd::OnWndMsg(UINT, WPARAM, LPARAM, LRESULT*)
{
    return false;
}

LRESULT CWnd::Default()
{
    return DefWindowProc(m_currentMessage.message, m_currentMessage.wParam, m_currentMessage.lParam);
}

void CWnd::HookNextDialogCreation()
{
    UnhookDialogCreation();
    t_pendingWindowObject = this;
    t_creationHook = ::SetWindowsHookExW(WH_CBT, CreationHook, nullptr, ::GetCurrentThreadId());
}

void CWnd::UnhookDialogCreation()
{
    if (t_creationHook)
        ::UnhookWindowsHookEx(t_creationHook);
    t_creationHook = nullptr;
    t_pendingWindowObject = nullptr;
}

// A dialog procedure never sees WM_NCCREATE or WM_CREATE, so the dialog window is subclassed
// the moment it exists, before the first message is sent to it.
LRESULT CALLBACK CWnd::CreationHook(int code, WPARAM wParam, LPARAM lParam)
{
    HHOOK hook = t_creationHook;
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_CREATEWND && t_pendingWindowObject && IsDialogWindow(window))
    {
        CWnd* object = t_pendingWindowObject;
        UnhookDialogCreation();
        object->m_hWnd = window;
        ::SetPropW(window, kWindowObjectProperty, object);
        object->m_classProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::RoutingProc)));
    }
    return ::CallNextHookEx(hook, code, wParam, lParam);
}

LRESULT CALLBACK CWnd::RoutingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* object = static_cast<CWnd*>(::GetPropW(window, kWindowObjectProperty));
    if (!object)
        return ::DefWindowProcW(window, message, wParam, lParam);
    return object->Route(message, wParam, lParam);
}

LRESULT CWnd::Route(UINT message, WPARAM wParam, LPARAM lParam)
{
    const MSG outer = m_currentMessage;
    m_currentMessage = MSG{m_hWnd, message, wParam, lParam, 0, {}};
    LRESULT result = 0;
    try
    {
        result = WindowProc(message, wParam, lParam);
    }
    catch (...)
    {
        // No exception may leave a window procedure: a window whose creation failed is refused
        // (WM_NCCREATE and WM_CREATE), any other message counts as handled.
        result = message == WM_CREATE ? -1 : 0;
    }
    m_currentMessage = outer;

    if (message == WM_NCDESTROY)
    {
        // The handle stays readable in PostNcDestroy: the shell knows icons by their window.
        ::RemovePropW(m_hWnd, kWindowObjectProperty);
        m_classProc = nullptr;
        PostNcDestroy();
        m_hWnd = nullptr;
    }
    return result;
}
