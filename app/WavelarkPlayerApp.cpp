#include "app/WavelarkPlayerApp.h"

#include "app/WavelarkPlayerDlg.h"

#include <commctrl.h>

BOOL CWavelarkPlayerApp::InitInstance()
{
    // Older systems have only the first rich-edit library; LoadLibrary reports failure as a
    // handle value below 32.
    if (reinterpret_cast<UINT_PTR>(::LoadLibraryA("riched20.dll")) < 32)
        ::LoadLibraryA("RICHED32.DLL");
    ::InitCommonControls();
    CWinApp::InitInstance();
    // The key is named but never read or written: the program keeps no settings between runs.
    SetRegistryKey("アプリケーション ウィザードで生成されたローカル アプリケーション");

    CWavelarkPlayerDlg dialog;
    m_pMainWnd = &dialog;
    (void)dialog.DoModal(); // how the dialog ended makes no difference to the exit
    m_pMainWnd = nullptr;
    return FALSE;
}
