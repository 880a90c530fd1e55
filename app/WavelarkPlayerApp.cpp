#include "app/WavelarkPlayerApp.h"

#include "app/WavelarkPlayerDlg.h"
#include "framework/OsCalls.h"
#include "framework/Unique.h"

#include <commctrl.h>

#include <cwchar>
#include <string>

namespace
{
// One copy per session: the receiver and its audio input serve one program. "Local\" keeps the
// copies of other users' sessions apart.
const wchar_t kOneCopyName[] = L"Local\\Wavelark.WavelarkPlayerLite.OneCopy";
// A running copy comes forward within this time, or the user is told it does not answer; each
// request may take this long to be answered.
constexpr DWORD kRunningCopyAnswersWithinMs = 2000;
constexpr DWORD kRequestAnsweredWithinMs = 500;
constexpr DWORD kWaitStepMs = 100;
const wchar_t kNoAnswerText[] =
    L"WavelarkPlayerLite はすでに起動していますが、応答がありません。終了してから、もう一度起動してください。";

// The file name of a process's program, lower case; empty when it cannot be read.
std::wstring ProgramNameOf(DWORD process)
{
    const UniqueKernelHandle handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (!handle || !::QueryFullProcessImageNameW(handle.Get(), 0, path, &length))
        return {};
    std::wstring name(path, length);
    name.erase(0, name.find_last_of(L"\\/") + 1);
    ::CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
    return name;
}

// Only the player's own dialog: its class, the mark, and a process running this program. Any
// other window may carry the mark.
BOOL CALLBACK FindRunningCopy(HWND window, LPARAM found)
{
    wchar_t className[8] = {};
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (!::GetPropW(window, CWavelarkPlayerDlg::kRunningCopyProperty) ||
        !::GetClassNameW(window, className, ARRAYSIZE(className)) || std::wcscmp(className, L"#32770") != 0)
        return TRUE;
    const std::wstring program = ProgramNameOf(process);
    if (program.empty() || program != ProgramNameOf(::GetCurrentProcessId()))
        return TRUE; // a program that cannot be named is not known to be ours
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

enum class SecondStart
{
    HandedOver, // the running copy came forward
    RunsHere,   // the copy that held the name has ended meanwhile
    NoAnswer,
};

// The running copy is asked to come forward and must say it did: a dialog still starting is
// asked again until the time is up, and one that hangs is never trusted.
SecondStart HandOverToRunningCopy(HANDLE oneCopy)
{
    const UINT comeForward = ::RegisterWindowMessageW(CWavelarkPlayerDlg::kComeForwardMessage);
    for (const ULONGLONG end = ::GetTickCount64() + kRunningCopyAnswersWithinMs; ::GetTickCount64() < end;)
    {
        HWND running = nullptr;
        ::EnumWindows(FindRunningCopy, reinterpret_cast<LPARAM>(&running));
        DWORD_PTR answer = 0;
        if (running)
        {
            DWORD process = 0;
            ::GetWindowThreadProcessId(running, &process);
            ::AllowSetForegroundWindow(process); // the user started this copy: its foreground is theirs
            if (::SendMessageTimeoutW(running, comeForward, 0, 0, SMTO_ABORTIFHUNG, kRequestAnsweredWithinMs,
                                      &answer) &&
                answer == static_cast<DWORD_PTR>(CWavelarkPlayerDlg::kCameForward))
                return SecondStart::HandedOver;
        }
        const DWORD wait = ::WaitForSingleObject(oneCopy, kWaitStepMs);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            return SecondStart::RunsHere;
    }
    return SecondStart::NoAnswer;
}
} // namespace

BOOL CWavelarkPlayerApp::InitInstance()
{
    const UniqueKernelHandle oneCopy(::CreateMutexW(nullptr, TRUE, kOneCopyName));
    if (oneCopy && ::GetLastError() == ERROR_ALREADY_EXISTS)
    {
        const SecondStart start = HandOverToRunningCopy(oneCopy.Get());
        if (start == SecondStart::NoAnswer)
        {
            (void)Os().MessageBoxW(nullptr, kNoAnswerText, L"WavelarkPlayerLite", MB_ICONEXCLAMATION | MB_OK);
            m_exitCode = 1;
        }
        if (start != SecondStart::RunsHere)
            return FALSE;
    }
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
