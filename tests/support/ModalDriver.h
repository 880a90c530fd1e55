// Drives a modal dialog the way a user or another program would: the dialog runs its own modal
// loop on the test's thread, and the driver, on a fiber of that thread, sends and posts messages
// between the loop's messages.
#pragma once

#include "framework/Dialog.h"

#include <windows.h>

#include <functional>
#include <string>

// A message that runs a std::function<void()>* (lParam) on the dialog's own thread.
constexpr UINT kRunOnDialogThread = WM_APP + 0x3F0;

// Wraps a dialog class so that the driver can run code on its thread (data exchange, state).
template <class Base> class Drivable : public Base
{
  public:
    using Base::Base;

  protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == kRunOnDialogThread)
        {
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return 0;
        }
        return Base::WindowProc(message, wParam, lParam);
    }
};

// Runs dialog.DoModal() on this thread; `drive` gets the dialog's window as soon as it is shown
// and active. A dialog still open when `drive` returns is cancelled. Returns the result of
// DoModal. Whatever `drive` sends runs at once; what may open a modal loop (a dialog, a message
// box, a menu) must be posted.
INT_PTR RunModal(CDialog& dialog, const std::function<void(HWND)>& drive);

// Runs `action` on the thread that owns `window` and returns when it is done.
void RunOnDialogThread(HWND window, const std::function<void()>& action);

// The first visible dialog window of `threadId` whose caption is `caption` (any caption when
// null) and that is not `except`; null after `timeoutMs`.
HWND WaitForDialog(DWORD threadId, const wchar_t* caption, DWORD timeoutMs = 10000, HWND except = nullptr);

// Polls `condition` until it holds or `timeoutMs` passes, letting the dialog's loop run in
// between when called from a driver; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// The window that has the keyboard focus on `window`'s thread.
HWND FocusedWindowOf(HWND window);

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
