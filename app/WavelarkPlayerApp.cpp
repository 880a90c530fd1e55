#include "app/WavelarkPlayerApp.h"

#include "app/WavelarkPlayerDlg.h"
#include "framework/Unique.h"

#include <commctrl.h>

namespace
{
// One copy per session: the receiver and its audio input serve one program. "Local\" keeps the
// copies of other users' sessions apart.
const wchar_t kOneCopyName[] = L"Local\\Wavelark.WavelarkPlayerLite.OneCopy";
constexpr DWORD kWaitForRunningCopyMs = 30000;
constexpr DWORD kWaitStepMs = 100;

BOOL CALLBACK FindRunningCopy(HWND window, LPARAM found)
{
    if (!::GetPropW(window, CWavelarkPlayerDlg::kRunningCopyProperty))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// True when this start may run: the copy that held the name has ended meanwhile. Otherwise the
// running copy, once its dialog is made, is asked to come forward; one that never makes it is
// left alone.
bool TakeOverOrBringForward(HANDLE oneCopy)
{
    for (DWORD waited = 0; waited < kWaitForRunningCopyMs; waited += kWaitStepMs)
    {
        HWND running = nullptr;
        ::EnumWindows(FindRunningCopy, reinterpret_cast<LPARAM>(&running));
        if (running)
        {
            DWORD process = 0;
            ::GetWindowThreadProcessId(running, &process);
            ::AllowSetForegroundWindow(process); // the user started this copy: its foreground is theirs
            ::PostMessageW(running, ::RegisterWindowMessageW(CWavelarkPlayerDlg::kComeForwardMessage), 0, 0);
            return false;
        }
        const DWORD wait = ::WaitForSingleObject(oneCopy, kWaitStepMs);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            return true;
    }
    return false;
}
} // namespace

BOOL CWavelarkPlayerApp::InitInstance()
{
    const UniqueKernelHandle oneCopy(::CreateMutexW(nullptr, TRUE, kOneCopyName));
    if (oneCopy && ::GetLastError() == ERROR_ALREADY_EXISTS && !TakeOverOrBringForward(oneCopy.Get()))
        return FALSE;
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
