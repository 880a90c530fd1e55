// The entry point of every test program: the same thread set-up as the application's.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

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
