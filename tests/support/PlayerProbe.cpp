// wavelark_probe.exe: acts on a running player's dialog from outside, as a user's input would,
// and prints what the dialog then shows, for the scenarios and the listening test that run the
// shipping programs:
//   wavelark_probe [ACTION...]    up, down, am, fm, play, stop, enter:TEXT, close
// Each action is sent, not posted, so it returns once the dialog has run the exchange it causes.
// Prints "TEXT BAND": the frequency edit's text and "AM", "FM" or "-" for the checked button.
#include "res/resource.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace
{
constexpr DWORD kShowsUpWithinMs = 60000;

HWND FindDialog()
{
    for (DWORD waited = 0; waited < kShowsUpWithinMs; waited += 100)
    {
        if (HWND dialog = ::FindWindowA("#32770", "WavelarkPlayerLite"))
            return dialog;
        ::Sleep(100);
    }
    return nullptr;
}

// A press of the up-down control's upper or lower half, where the pointer would press it.
void PressSpin(HWND dialog, bool upper)
{
    HWND spin = ::GetDlgItem(dialog, IDC_SPIN);
    RECT area = {};
    ::GetClientRect(spin, &area);
    const LPARAM at = MAKELPARAM(area.right / 2, upper ? area.bottom / 4 : area.bottom * 3 / 4);
    ::SendMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(spin, WM_LBUTTONUP, 0, at);
}

// Typed into the frequency edit over its whole text, then Enter.
void Enter(HWND dialog, const std::string& text)
{
    HWND edit = ::GetDlgItem(dialog, IDC_FREQ_EDIT);
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    for (char c : text)
        ::SendMessageW(edit, WM_CHAR, static_cast<WPARAM>(c), 1);
    ::SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
}

bool Act(HWND dialog, const std::string& action)
{
    const auto click = [&](int id) { ::SendMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); };
    if (action == "up" || action == "down")
        PressSpin(dialog, action == "up");
    else if (action == "am" || action == "fm")
        click(action == "am" ? IDC_RADIO_AM : IDC_RADIO_FM);
    else if (action == "play" || action == "stop")
        click(action == "play" ? IDC_PLAY : IDC_STOP);
    else if (action.rfind("enter:", 0) == 0)
        Enter(dialog, action.substr(6));
    else if (action == "close")
        ::PostMessageW(dialog, WM_CLOSE, 0, 0);
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
    const char* band = ::IsDlgButtonChecked(dialog, IDC_RADIO_FM) == BST_CHECKED   ? "FM"
                       : ::IsDlgButtonChecked(dialog, IDC_RADIO_AM) == BST_CHECKED ? "AM"
                                                                                   : "-";
    return std::string(text) + " " + band;
}
} // namespace

int main(int argc, char** argv)
{
    HWND dialog = FindDialog();
    if (!dialog)
        return std::fprintf(stderr, "wavelark_probe: no player dialog\n"), 1;
    std::string shown = Shown(dialog);
    for (int i = 1; i < argc; ++i)
    {
        if (std::string(argv[i]) != "close")
            shown.clear();
        if (!Act(dialog, argv[i]))
            return std::fprintf(stderr, "wavelark_probe: unknown action %s\n", argv[i]), 2;
        if (shown.empty())
            shown = Shown(dialog);
    }
    std::printf("%s\n", shown.c_str());
    return 0;
}
