// A window object: the handle it is attached to and, for windows we subclass, the routing of
// every message through WindowProc, the message map and DefWindowProc.
#pragma once

#include <windows.h>

class CWnd
{
  public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    // Attaching takes no ownership and routes no messages: used for control objects.
    void Attach(HWND window) { m_hWnd = window; }
    void SetFont(HFONT font, BOOL redraw = TRUE) { SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw); }
    HWND Detach();

    HWND m_hWnd = nullptr;

  protected:
    // Sees every message of a subclassed window, from WM_NCCREATE (and so WM_CREATE) on.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Reached for the messages that the message map does not take; ends in the window class's
    // own procedure (for a dialog, the platform's default dialog processing).
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called once the window is gone (after WM_NCDESTROY); m_hWnd still names it.
    virtual void PostNcDestroy() {}
    // The message-map accessor: derived classes try their own map, then the base class's.
    virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // Default processing of the message being handled, for handlers that pass it on.
    LRESULT Default();

    // Subclasses the next dialog window that this thread creates with this object, before that
    // window receives its first message. Unhook after the creating call, whatever it returned.
    void HookNextDialogCreation();
    static void UnhookDialogCreation();

  private:
    static LRESULT CALLBACK RoutingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam);
    LRESULT Route(UINT message, WPARAM wParam, LPARAM lParam);

    WNDPROC m_classProc = nullptr;
    MSG m_currentMessage = {};
};
