#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <utility>

namespace
{
// The driver runs on a fiber of the dialog's own thread and acts between the messages of the
// dialog's modal loop: the dialog and the driver never run at once, and while the driver waits
// the loop goes on. No second thread touches the window system.
struct Driver
{
    const std::function<void(HWND)>& drive;
    LPVOID loopFiber;
    LPVOID driverFiber = nullptr;
    bool onDriver = false; // which of the two fibers runs now
    bool done = false;
};

thread_local Driver* t_driver = nullptr;
thread_local LPVOID t_threadFiber = nullptr;

bool OnDriverFiber()
{
    return t_driver && t_driver->onDriver;
}

void SwitchToDriver(Driver& driver)
{
    driver.onDriver = true;
    ::SwitchToFiber(driver.driverFiber);
}

void SwitchToLoop(Driver& driver)
{
    driver.onDriver = false;
    ::SwitchToFiber(driver.loopFiber);
}

void CALLBACK DriverMain(LPVOID context)
{
    Driver& driver = *static_cast<Driver*>(context);
    HWND window = WaitForDialog(nullptr);
    if (!window)
        ADD_FAILURE() << "the dialog did not appear";
    // The platform activates a new dialog and focuses its first control before the first
    // message reaches it from outside; act once that has happened.
    else if (!WaitUntil([&] { return ::GetActiveWindow() == window && ::GetFocus() != nullptr; }))
        ADD_FAILURE() << "the dialog did not become active";
    if (window)
    {
        driver.drive(window);
        if (::IsWindow(window))
            ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    driver.done = true;
    for (;;)
        SwitchToLoop(driver);
}

// A thread timer: every modal loop on the thread (dialogs, message boxes, menus) dispatches it.
void CALLBACK ResumeDriver(HWND, UINT, UINT_PTR, DWORD)
{
    if (t_driver && !t_driver->done && !OnDriverFiber())
        SwitchToDriver(*t_driver);
}

void PumpMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

struct DialogSearch
{
    const wchar_t* caption;
    HWND except;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context)
{
    DialogSearch& search = *reinterpret_cast<DialogSearch*>(context);
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, ARRAYSIZE(className));
    if (window == search.except || !::IsWindowVisible(window) || std::wstring(className) != L"#32770")
        return TRUE;
    if (search.caption && WindowText(window) != search.caption)
        return TRUE;
    search.found = window;
    return FALSE;
}
} // namespace

INT_PTR RunModal(CDialog& dialog, const std::function<void(HWND)>& drive)
{
    if (!t_threadFiber)
        t_threadFiber = ::ConvertThreadToFiber(nullptr);
    Driver driver{drive, t_threadFiber};
    driver.driverFiber = ::CreateFiber(0, DriverMain, &driver);
    Driver* outer = std::exchange(t_driver, &driver);
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, ResumeDriver);
    const INT_PTR result = dialog.DoModal();
    // The dialog may end before its driver does: let the driver run to its end.
    while (!driver.done)
    {
        PumpMessages();
        ::Sleep(5);
        if (!driver.done)
            SwitchToDriver(driver);
    }
    ::KillTimer(nullptr, timer);
    t_driver = outer;
    ::DeleteFiber(driver.driverFiber);
    return result;
}

HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs, HWND except)
{
    DialogSearch search{caption, except, nullptr};
    WaitUntil(
        [&]
        {
            ::EnumThreadWindows(::GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;)
    {
        if (condition())
            return true;
        if (::GetTickCount64() >= end)
            return false;
        // On the driver's fiber, waiting is letting the dialog's loop run.
        if (OnDriverFiber())
            SwitchToLoop(*t_driver);
        else
            ::Sleep(10);
    }
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}
