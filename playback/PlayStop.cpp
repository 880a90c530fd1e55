// Play and Stop, and what keeps the screen saver and display power-off away while the graph runs:
// the timer that restarts their countdowns, and the display-required state that Windows since
// Vista honours where its power-off settings are no longer read.
#include "app/WavelarkPlayerDlg.h"
#include "framework/OsCalls.h"

namespace
{
// Switching a setting off and back on restarts its countdown; a failed read skips the writes.
void RestartCountdown(UINT getAction, UINT setAction)
{
    OsCalls& os = Os();
    int active = 0;
    if (!os.SystemParametersInfoA(getAction, 0, &active, 0))
        return;
    (void)os.SystemParametersInfoA(setAction, 0, nullptr, SPIF_SENDWININICHANGE);
    (void)os.SystemParametersInfoA(setAction, static_cast<UINT>(active), nullptr, SPIF_SENDWININICHANGE);
}
} // namespace

void CWavelarkPlayerDlg::OnPlay()
{
    if (m_loadState == LoadState::Loaded)
        PostMessage(WM_COMMAND, kIdPlayCommand, 0);
}

void CWavelarkPlayerDlg::OnPlayCommand()
{
    if (m_loadState != LoadState::Loaded)
        return;
    if (m_playbackMode == PlaybackMode::Capture)
    {
        OAFilterState state;
        (void)m_mediaControl->Run(); // a graph that cannot run stays silent
        (void)m_mediaControl->GetState(INFINITE, &state);
    }
    ::SetTimer(m_hWnd, kKeepAwakeTimer, kKeepAwakePeriodMs, nullptr);
    RequireDisplay(GetGraphState() == State_Running);
}

void CWavelarkPlayerDlg::OnStop()
{
    if (m_loadState != LoadState::Loaded)
        return;
    if (m_playbackMode == PlaybackMode::Capture)
    {
        OAFilterState state;
        (void)m_mediaControl->Stop();
        (void)m_mediaControl->GetState(INFINITE, &state);
    }
    ::KillTimer(m_hWnd, kKeepAwakeTimer);
    RequireDisplay(false);
}

// The display is required exactly while the graph runs: a graph that cannot run, or stops by
// itself, lets it sleep again at the next keep-awake tick.
void CWavelarkPlayerDlg::RequireDisplay(bool required)
{
    if (required == m_displayRequired)
        return;
    m_displayRequired = required;
    (void)Os().SetThreadExecutionState(required ? ES_CONTINUOUS | ES_DISPLAY_REQUIRED : ES_CONTINUOUS);
}

CWavelarkPlayerDlg::~CWavelarkPlayerDlg()
{
    (void)Os().SetThreadExecutionState(ES_CONTINUOUS); // the display may sleep again once we are gone
    // A registration that keeps the graph alive would outlive us, and the receiver's input with it.
    if (m_rotCookie)
        RevokeGraphFromRot(&m_rotCookie);
}

LONG CWavelarkPlayerDlg::GetGraphState()
{
    if (m_loadState != LoadState::Loaded)
        return -1;
    OAFilterState state = -1;
    (void)m_mediaControl->GetState(0, &state); // the state is what counts, not how it was reached
    return state;
}

void CWavelarkPlayerDlg::OnTimer(UINT_PTR id)
{
    if (id == kKeepAwakeTimer)
    {
        const bool running = GetGraphState() == State_Running;
        RequireDisplay(running);
        if (running)
        {
            RestartCountdown(SPI_GETSCREENSAVEACTIVE, SPI_SETSCREENSAVEACTIVE);
            RestartCountdown(SPI_GETPOWEROFFACTIVE, SPI_SETPOWEROFFACTIVE);
        }
    }
    Default();
}
