// wavelark_probe.exe: acts on a running player's dialog from outside, as a user's input would,
// and prints what the dialog then shows, for the scenarios and the listening test that run the
// shipping programs:
//   wavelark_probe [--every MS] [ACTION...]
//       up, down, am, fm, play, stop, close; enter:TEXT typed and Enter; type:TEXT typed and Tab;
//       text:TEXT typed, the focus left in the edit;
//       key:up and key:down pressed in the edit; wheel:DELTA turned over the edit; tray (minimise);
//       minimise (from outside, as another program may)
// Each action returns once the dialog has run the exchange it causes.
// Prints "TEXT BAND": the frequency edit's text and "AM", "FM" or "-" for the checked button,
// and " hidden" when the dialog is not shown, " minimised" when it is iconic.
//   wavelark_probe --impostor SECONDS
//       another program, holding the player's one-copy name for SECONDS with a window of the
//       dialog's class that carries the player's mark
//   wavelark_probe --dismiss
//       waits for a message box of the player, prints its text and presses OK; "none" after 10 s
// With --every, the actions start MS apart and up to 50 ms more, so that they do not fall in step
// with the audio source's 50 ms buffers, and each prints "ACTION SECONDS" as it is sent: the
// performance counter, which Wine takes from the monotonic clock other programs read too.
#include "res/resource.h"
#include "virtual_receiver/audio/SimAudioSource.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{
constexpr DWORD kShowsUpWithinMs = 60000;
constexpr UINT kTrayNotify = WM_APP + 1; // the tray icon's callback message

HWND FindDialog()
{
    for (DWORD waited = 0; waited < kShowsUpWithinMs; waited += 100)
    {
        // Shown once its start-up exchange and open have run to their end.
        HWND dialog = ::FindWindowA("#32770", "WavelarkPlayerLite");
        if (dialog && ::IsWindowVisible(dialog))
            return dialog;
        ::Sleep(100);
    }
    return nullptr;
}

// A click on `control` at a fraction of its height, where the pointer would press it.
void Click(HWND control, int quartersDown)
{
    RECT area = {};
    ::GetClientRect(control, &area);
    const LPARAM at = MAKELPARAM(area.right / 2, area.bottom * quartersDown / 4);
    ::SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(control, WM_LBUTTONUP, 0, at);
}

// A click into the frequency edit, its whole text typed over, then Enter, the focus moved on as
// Tab moves it, or nothing more.
void Type(HWND dialog, HWND edit, const std::string& text, UINT then)
{
    Click(edit, 2);
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    for (char c : text)
        ::SendMessageW(edit, WM_CHAR, static_cast<WPARAM>(c), 1);
    if (then == VK_RETURN)
        ::SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    else if (then == VK_TAB)
        ::SendMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE);
}

// Keys, the wheel and the minimise command are posted, as input arrives, so that the dialog's
// own loop hands them on; a selection posted to the edit behind them takes effect once they
// have been handled.
void Post(HWND edit, HWND to, UINT message, WPARAM wParam, LPARAM lParam)
{
    ::SendMessageW(edit, EM_SETSEL, 0, 0);
    ::PostMessageW(to, message, wParam, lParam);
    ::PostMessageW(edit, EM_SETSEL, 1, 1);
    for (DWORD waited = 0; LOWORD(::SendMessageW(edit, EM_GETSEL, 0, 0)) != 1 && waited < kShowsUpWithinMs; ++waited)
        ::Sleep(1);
}

bool Act(HWND dialog, const std::string& action)
{
    const auto click = [&](int id) { ::SendMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); };
    HWND edit = ::GetDlgItem(dialog, IDC_FREQ_EDIT);
    if (action == "key:up" || action == "key:down")
        Click(edit, 2), Post(edit, edit, WM_KEYDOWN, action == "key:up" ? VK_UP : VK_DOWN, 1);
    else if (action.rfind("wheel:", 0) == 0) // where the pointer is makes no difference to the edit
        Post(edit, edit, WM_MOUSEWHEEL, MAKEWPARAM(0, std::atoi(action.c_str() + 6)), 0);
    else if (action == "tray")
    {
        // A new dialog is shown once its queue first runs empty, which may come after a minimise
        // this early: then the tray icon's click brings it back, and it goes again.
        for (int tries = 0; tries < 3 && ::IsWindowVisible(dialog); ++tries)
        {
            if (tries > 0)
                Post(edit, dialog, kTrayNotify, 0, WM_LBUTTONDOWN);
            Post(edit, dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            ::Sleep(1000);
        }
    }
    else if (action == "up" || action == "down")
        Click(::GetDlgItem(dialog, IDC_SPIN), action == "up" ? 1 : 3);
    else if (action == "am" || action == "fm")
        click(action == "am" ? IDC_RADIO_AM : IDC_RADIO_FM);
    else if (action == "play" || action == "stop")
        click(action == "play" ? IDC_PLAY : IDC_STOP);
    else if (action.rfind("enter:", 0) == 0 || action.rfind("type:", 0) == 0 || action.rfind("text:", 0) == 0)
    {
        const std::string kind = action.substr(0, action.find(':'));
        Type(dialog, edit, action.substr(kind.size() + 1), kind == "enter" ? VK_RETURN : kind == "type" ? VK_TAB : 0);
    }
    else if (action == "close")
        ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    else if (action == "minimise") // again if the modal loop's first show undid it, as for tray
        for (int tries = 0; tries < 3 && !::IsIconic(dialog); ++tries)
            ::ShowWindow(dialog, SW_MINIMIZE), ::Sleep(1000);
    else
        return false;
    return true;
}
// The edit's text and the checked band.
std::string Shown(HWND dialog)
{
    // Sent: GetWindowText does not ask another process's controls for their text.
    char text[64] = {};
    ::SendMessageA(::GetDlgItem(dialog, IDC_FREQ_EDIT), WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    const bool fm = ::IsDlgButtonChecked(dialog, IDC_RADIO_FM), am = ::IsDlgButtonChecked(dialog, IDC_RADIO_AM);
    const char* const band = fm ? " FM" : am ? " AM" : " -";
    return text + std::string(band) + (::IsWindowVisible(dialog) ? "" : " hidden") +
           (::IsIconic(dialog) ? " minimised" : "");
}
} // namespace

// What a program that is not the player may do: hold the name and mark a window of its own.
int Impostor(DWORD seconds)
{
    const HANDLE name = ::CreateMutexW(nullptr, TRUE, L"Local\\Wavelark.WavelarkPlayerLite.OneCopy");
    HWND window = ::CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(32770)), L"WavelarkPlayerLite",
                                    WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    if (!name || !window)
        return std::fprintf(stderr, "wavelark_probe: no impostor\n"), 1;
    ::SetPropW(window, L"Wavelark.WavelarkPlayerLite", window);
    std::printf("holding\n");
    std::fflush(stdout);
    for (const ULONGLONG end = ::GetTickCount64() + seconds * 1000; ::GetTickCount64() < end; ::Sleep(10))
        for (MSG message; ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
            ::DispatchMessageW(&message);
    return 0;
}

// A message box of the player: its caption, and the text of a message box.
int Dismiss()
{
    for (DWORD waited = 0; waited < 10000; waited += 100, ::Sleep(100))
    {
        HWND box = nullptr;
        do
            box = ::FindWindowExA(nullptr, box, "#32770", "WavelarkPlayerLite");
        while (box && !::GetDlgItem(box, 0xFFFF)); // the text of a message box
        if (!box)
            continue;
        wchar_t text[256] = {};
        ::SendMessageW(::GetDlgItem(box, 0xFFFF), WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text));
        char utf8[768] = {};
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr);
        std::printf("%s\n", utf8);
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        return 0;
    }
    std::printf("none\n");
    return 1;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--impostor")
        return Impostor(std::strtoul(argv[2], nullptr, 10));
    if (argc == 2 && std::string(argv[1]) == "--dismiss")
        return Dismiss();
    int first = 1;
    DWORD every = 0;
    if (argc > 2 && std::string(argv[1]) == "--every")
        every = std::strtoul(argv[2], nullptr, 10), first = 3;
    HWND dialog = FindDialog();
    if (!dialog)
        return std::fprintf(stderr, "wavelark_probe: no player dialog\n"), 1;
    std::string shown = Shown(dialog); // closing: what the dialog showed last
    double due = Seconds();
    unsigned jitter = 12345; // a fixed sequence, the same in every run
    for (int i = first; i < argc; ++i)
    {
        if (every)
        {
            jitter = jitter * 1103515245 + 12345;
            for (due += (every + (jitter >> 16) % 50) / 1000.0; Seconds() < due;)
                ::Sleep(1);
            std::printf("%s %.6f\n", argv[i], Seconds());
            std::fflush(stdout); // read as it comes: the benchmark checks its clock against its own
        }
        if (!Act(dialog, argv[i]))
            return std::fprintf(stderr, "wavelark_probe: unknown action %s\n", argv[i]), 2;
        if (std::string(argv[i]) != "close")
            shown = Shown(dialog);
    }
    std::printf("%s\n", shown.c_str());
    return 0;
}
