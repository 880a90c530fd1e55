#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <objbase.h>

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

void SwitchTo(Driver& driver, bool toDriver)
{
    driver.onDriver = toDriver;
    ::SwitchToFiber(toDriver ? driver.driverFiber : driver.loopFiber);
}

void CALLBACK DriverMain(LPVOID context)
{
    Driver& driver = *static_cast<Driver*>(context);
    // The platform activates a new dialog and focuses its first control before the first
    // message reaches it from outside; act once that has happened.
    HWND window = WaitForDialog(nullptr);
    if (window && WaitUntil([&] { return ::GetActiveWindow() == window && ::GetFocus() != nullptr; }))
        driver.drive(window);
    else
        ADD_FAILURE() << "the dialog did not appear and become active";
    if (::IsWindow(window))
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    driver.done = true;
    for (;;)
        SwitchTo(driver, false);
}

// A thread timer: every modal loop on the thread (dialogs, message boxes, menus) dispatches it.
void CALLBACK ResumeDriver(HWND, UINT, UINT_PTR, DWORD)
{
    if (t_driver && !t_driver->done && !t_driver->onDriver)
        SwitchTo(*t_driver, true);
}
} // namespace

INT_PTR RunModal(CDialog& dialog, const std::function<void(HWND)>& drive)
{
    static thread_local LPVOID threadFiber = ::ConvertThreadToFiber(nullptr);
    Driver driver{drive, threadFiber, ::CreateFiber(0, DriverMain, &driver)};
    Driver* outer = std::exchange(t_driver, &driver);
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, ResumeDriver);
    const INT_PTR result = dialog.DoModal();
    // The dialog may end before its driver does: let the driver run to its end.
    for (MSG message; !driver.done; ::Sleep(5))
    {
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
        if (!driver.done)
            SwitchTo(driver, true);
    }
    ::KillTimer(nullptr, timer);
    t_driver = outer;
    ::DeleteFiber(driver.driverFiber);
    return result;
}

HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil(
        [&]
        {
            found = ::FindWindowW(reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32770)), caption);
            return found && ::IsWindowVisible(found);
        },
        timeoutMs);
    return found;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    for (const ULONGLONG end = ::GetTickCount64() + timeoutMs; !condition();)
    {
        if (::GetTickCount64() >= end)
            return false;
        // On the driver's fiber, waiting is letting the dialog's loop run.
        if (t_driver && t_driver->onDriver)
            SwitchTo(*t_driver, false);
        else
            ::Sleep(10);
    }
    return true;
}

bool WaitForPosted(HWND edit)
{
    // A selection other than the present one, so that its taking effect shows.
    DWORD start = 0;
    ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    const LPARAM end = start == 0 ? 2 : 1;
    ::PostMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end - 1), end);
    return WaitUntil(
        [&]
        {
            DWORD now = 0;
            return ::IsWindow(edit) && (::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&now), 0), true) &&
                   now == static_cast<DWORD>(end - 1);
        });
}

// The entry point of the test program: the same thread set-up as the application's.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    ::LoadLibraryA("riched20.dll");
    ::InitCommonControls();
    const int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
