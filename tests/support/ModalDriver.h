// Drives a modal dialog the way a user or another program would: the dialog runs its own modal
// loop on the test's thread, and the driver, on a fiber of that thread, sends and posts messages
// between the loop's messages, and reads the dialog's state directly.
#pragma once

#include "framework/Dialog.h"

#include <windows.h>

#include <functional>

// Runs dialog.DoModal(); `drive` gets the dialog's window as soon as it is shown and active. A
// dialog still open when `drive` returns is cancelled. Returns the result of DoModal. Whatever
// `drive` sends runs at once; what may open a modal loop (a dialog, a message box) must be posted.
INT_PTR RunModal(CDialog& dialog, const std::function<void(HWND)>& drive);

// The visible dialog window whose caption is `caption` (any caption when null); null after
// `timeoutMs`.
HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs = 10000);

// Polls `condition` until it holds or `timeoutMs` passes, letting the dialog's loop run in
// between when called from a driver; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// Waits until every message posted before now to `edit`'s thread has been handled: a selection
// posted behind them takes effect only then. False when it never does (the window went, or the
// loop stopped handling messages).
bool WaitForPosted(HWND edit);
