#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
struct DialogSearch
{
    const wchar_t* caption;
    HWND except;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context)
{
    DialogSearch& search = *reinterpret_cast<DialogSearch*>(context);
    if (window == search.except || !::IsWindowVisible(window) || ClassName(window) != L"#32770")
        return TRUE;
    if (search.caption && WindowText(window) != search.caption)
        return TRUE;
    search.found = window;
    return FALSE;
}
} // namespace

INT_PTR RunModal(CDialog& dialog, const std::function<void(HWND)>& drive)
{
    const DWORD dialogThread = ::GetCurrentThreadId();
    std::thread driver(
        [&]
        {
            HWND window = WaitForDialog(dialogThread, nullptr);
            if (!window)
            {
                ADD_FAILURE() << "the dialog did not appear";
                return;
            }
            // Activation moves the focus to the dialog's first control, and the desktop may still be
            // settling the end of a previous dialog: act once the dialog has held it for a while.
            const auto settled = [&]
            {
                GUITHREADINFO info = {};
                info.cbSize = sizeof(info);
                return ::GetGUIThreadInfo(dialogThread, &info) && info.hwndActive == window && info.hwndFocus;
            };
            EXPECT_TRUE(WaitUntil(
                [&]
                {
                    if (!settled())
                        return false;
                    ::Sleep(100);
                    return settled();
                }));
            drive(window);
            if (::IsWindow(window))
                ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        });
    const INT_PTR result = dialog.DoModal();
    driver.join();
    return result;
}

void RunOnDialogThread(HWND window, const std::function<void()>& action)
{
    ::SendMessageW(window, kRunOnDialogThread, 0, reinterpret_cast<LPARAM>(&action));
}

HWND WaitForDialog(DWORD threadId, const wchar_t* caption, DWORD timeoutMs, HWND except)
{
    DialogSearch search{caption, except, nullptr};
    WaitUntil(
        [&]
        {
            ::EnumThreadWindows(threadId, MatchDialog, reinterpret_cast<LPARAM>(&search));
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
        ::Sleep(10);
    }
}

HWND FocusedWindowOf(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, ARRAYSIZE(name));
    return name;
}
