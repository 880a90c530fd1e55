#include "framework/WinApp.h"

namespace
{
CWinApp* g_application = nullptr;
}

CWinApp::CWinApp(const char* appName) : m_appName(appName)
{
    g_application = this;
}

CWinApp::~CWinApp()
{
    if (g_application == this)
        g_application = nullptr;
}

int CWinApp::Run()
{
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

CWinApp* AfxGetApp()
{
    return g_application;
}
