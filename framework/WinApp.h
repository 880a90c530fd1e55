// The application object: one global instance, started by WinMain.
#pragma once

#include "framework/String.h"
#include "framework/Wnd.h"

class CWinApp
{
  public:
    explicit CWinApp(const char* appName = nullptr);
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    // FALSE ends the application without running a message loop.
    virtual BOOL InitInstance() { return TRUE; }
    // The message loop, for applications whose InitInstance returns TRUE; returns the exit code.
    virtual int Run();
    // The exit code of an application whose InitInstance returned FALSE.
    virtual int ExitInstance() { return 0; }
    // Names the registry key for the application's settings (UTF-8 text); nothing reads it.
    void SetRegistryKey(const char* key) { m_registryKey = key; }

    CString m_appName;
    CString m_registryKey;
    CWnd* m_pMainWnd = nullptr;
};

// The global application object, or null.
CWinApp* AfxGetApp();
