// The process entry point of every program built on the framework layer.
#include "framework/Exceptions.h"
#include "framework/WinApp.h"

#include <objbase.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CWinApp* application = AfxGetApp();
    if (!application)
        return 1;

    // The playback side uses COM on this thread from the dialog's first message on.
    const HRESULT comResult = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int exitCode = 0;
    try
    {
        exitCode = application->InitInstance() ? application->Run() : application->ExitInstance();
    }
    catch (...)
    {
        exitCode = 1;
    }
    if (SUCCEEDED(comResult))
        ::CoUninitialize();
    return exitCode;
}
