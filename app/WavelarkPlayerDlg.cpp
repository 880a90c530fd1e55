#include "app/WavelarkPlayerDlg.h"

#include "app/AboutDlg.h"
#include "framework/Unique.h"
#include "res/resource.h"

#include <oleacc.h>

#include <utility>

namespace
{
// "ＭＳ ゴシック", spelt with escapes so that the source's encoding cannot change it.
const wchar_t kEditFontFace[] = L"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF";
constexpr int kEditFontTenthsOfPoint = 90;
// What screen readers call the edit and the arrows, which have no label in the template:
// "周波数" and "周波数の変更".
const wchar_t kEditAccessibleName[] = L"\u5468\u6CE2\u6570";
const wchar_t kSpinAccessibleName[] = L"\u5468\u6CE2\u6570\u306E\u5909\u66F4";
} // namespace

const MessageMapEntry<CWavelarkPlayerDlg> CWavelarkPlayerDlg::kMessageMap[] = {
    {WM_SYSCOMMAND, 0, 0, &CWavelarkPlayerDlg::OnSysCommand},
    {WM_PAINT, 0, 0, &CWavelarkPlayerDlg::OnPaint},
    {WM_QUERYDRAGICON, 0, 0, &CWavelarkPlayerDlg::OnQueryDragIcon},
    {WM_COMMAND, BN_CLICKED, IDOK, &CWavelarkPlayerDlg::OnOkCommand},
    {WM_NOTIFY, static_cast<UINT>(UDN_DELTAPOS), IDC_SPIN, &CWavelarkPlayerDlg::OnSpinDeltaPos},
    {WM_COMMAND, BN_CLICKED, IDC_RADIO_AM, &CWavelarkPlayerDlg::OnBandAm},
    {WM_COMMAND, BN_CLICKED, IDC_RADIO_FM, &CWavelarkPlayerDlg::OnBandFm},
    {WM_COMMAND, EN_KILLFOCUS, IDC_FREQ_EDIT, &CWavelarkPlayerDlg::OnEditKillFocus},
    {WM_COMMAND, EN_CHANGE, IDC_FREQ_EDIT, &CWavelarkPlayerDlg::OnEditChange},
    {WM_COMMAND, BN_CLICKED, IDC_PLAY, &CWavelarkPlayerDlg::OnPlay},
    {WM_COMMAND, 0, kIdOpenFinished, {}},
    {WM_COMMAND, 0, kIdPlayCommand, &CWavelarkPlayerDlg::OnPlayCommand},
    {WM_COMMAND, BN_CLICKED, IDC_STOP, &CWavelarkPlayerDlg::OnStop},
    {WM_TIMER, 0, 0, &CWavelarkPlayerDlg::OnTimer},
    {WM_COMMAND, 0, kIdTrayExit, &CWavelarkPlayerDlg::OnTrayExit},
    {WM_KEYDOWN, 0, 0, &CWavelarkPlayerDlg::OnKeyDown},
    {WM_COMMAND, EN_SETFOCUS, IDC_FREQ_EDIT, &CWavelarkPlayerDlg::OnEditSetFocus},
    {WM_DPICHANGED, 0, 0, &CWavelarkPlayerDlg::OnDpiChanged},
    {WM_DESTROY, 0, 0, &CWavelarkPlayerDlg::OnDestroy},
};

CWavelarkPlayerDlg::CWavelarkPlayerDlg(CWnd* parent)
    : CDialog(IDD_WAVELARKPLAYER_DIALOG, parent),
      m_mainIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      // The notification area shows small icons: the frame drawn for that size.
      m_trayIcon(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TRAY), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                 LR_SHARED))),
      m_outReport(kReportBufferBytes), m_inReport(kReportBufferBytes)
{
}

bool CWavelarkPlayerDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    return DispatchMessageMap(*this, kMessageMap, message, wParam, lParam, result) ||
           CDialog::OnWndMsg(message, wParam, lParam, result);
}

void CWavelarkPlayerDlg::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Radio(dx, IDC_RADIO_AM, m_band);
    DDX_Text(dx, IDC_FREQ_EDIT, m_editText);
    DDV_MaxChars(dx, m_editText, kEditMaxChars);
    DDX_Control(dx, IDC_FREQ_EDIT, m_edit);
    DDX_Control(dx, IDC_SPIN, m_spin);
}

BOOL CWavelarkPlayerDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    // Marked at once: a second start waits for the mark, not for the start-up below.
    ::SetPropW(m_hWnd, kRunningCopyProperty, m_hWnd);
    m_edit.SetEventMask(m_edit.GetEventMask() | kEditEventMask);
    HandEditKeysToDialog();
    ListAudioInputDevices();
    AddAboutItemToSystemMenu();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_mainIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_mainIcon));
    SetEditFont(WindowDpi());
    NameControlsForScreenReaders(true);

    // The receiver's own report fills band and frequency; without a receiver the controls
    // stay as the data exchange left them.
    m_hReadEvent.Reset();
    (void)FindReceiver(); // a missing receiver shows as an empty frequency
    FlushReceiverInput();
    SetQueryCommand();
    WriteCommand(m_command);
    ReadReport();
    ApplyReport();

    // The open runs to its end here: by the time the dialog shows, the graph is built or the
    // open has failed.
    HandOverSelectedDevice();
    return TRUE; // the platform focuses the first tab stop, the Play button
}

void CWavelarkPlayerDlg::AddAboutItemToSystemMenu()
{
    HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE);
    if (!systemMenu)
        return;
    // Through the wide functions, so that the Japanese text shows whatever the code page.
    wchar_t text[256] = {};
    if (::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, text, ARRAYSIZE(text)) <= 0)
        return;
    ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(systemMenu, MF_STRING, kIdAboutCommand, text);
}

// Per-window DPI came with Windows 10 (1607); before it every window has the system's.
UINT CWavelarkPlayerDlg::WindowDpi() const
{
    using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowCall>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (const UINT dpi = getDpiForWindow ? getDpiForWindow(m_hWnd) : 0)
        return dpi;
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

// The edit's font is the program's own, so the platform does not scale it with the dialog's.
void CWavelarkPlayerDlg::SetEditFont(UINT dpi)
{
    LOGFONTW face = {};
    face.lfHeight = -::MulDiv(kEditFontTenthsOfPoint, static_cast<int>(dpi), 720);
    face.lfCharSet = DEFAULT_CHARSET;
    ::lstrcpynW(face.lfFaceName, kEditFontFace, LF_FACESIZE);
    // The rich edit copies the font's attributes; the font object itself goes at return.
    UniqueGdiObject font(::CreateFontIndirectW(&face));
    m_edit.SetFont(static_cast<HFONT>(font.Get()), TRUE);

    // Wine's rich edit takes its text area from the control's outer size and corrects it only
    // when the size changes: its right-aligned text ran under the border. A one-pixel round
    // trip of the size mends that; on Windows, whose text area is right already, nothing changes.
    RECT outer = {};
    ::GetWindowRect(m_edit.m_hWnd, &outer);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    constexpr UINT kResizeOnly = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
    ::SetWindowPos(m_edit.m_hWnd, nullptr, 0, 0, width + 1, height, kResizeOnly);
    ::SetWindowPos(m_edit.m_hWnd, nullptr, 0, 0, width, height, kResizeOnly);
}

// Moved to a monitor of another DPI: the platform lays the dialog and its controls out again,
// and the program makes its own font again at the new size.
void CWavelarkPlayerDlg::OnDpiChanged(UINT dpi, LPARAM)
{
    Default();
    SetEditFont(LOWORD(dpi));
}

void CWavelarkPlayerDlg::NameControlsForScreenReaders(bool name)
{
    ComPtr<IAccPropServices> names;
    if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                  names.PutVoid())) ||
        !names)
        return; // the controls keep the names the platform gives them
    const std::pair<int, const wchar_t*> controls[] = {{IDC_FREQ_EDIT, kEditAccessibleName},
                                                       {IDC_SPIN, kSpinAccessibleName}};
    for (const auto& [id, text] : controls)
    {
        HWND control = ::GetDlgItem(m_hWnd, id);
        if (name)
            (void)names->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME, text);
        else
            (void)names->ClearHwndProps(control, OBJID_CLIENT, CHILDID_SELF, &PROPID_ACC_NAME, 1);
    }
}

// The controls are still there: their names and the dialog's mark go before they do.
void CWavelarkPlayerDlg::OnDestroy()
{
    NameControlsForScreenReaders(false);
    ::RemovePropW(m_hWnd, kRunningCopyProperty);
    Default();
}

void CWavelarkPlayerDlg::OnSysCommand(UINT id, LPARAM)
{
    if ((id & 0xFFF0) == kIdAboutCommand)
    {
        CAboutDlg about;
        (void)about.DoModal(); // the About box has no result to act on
    }
    else if (id == SC_CLOSE)
    {
        EndDialog(IDCANCEL);
    }
    else
    {
        Default();
    }
}

void CWavelarkPlayerDlg::OnPaint()
{
    if (!::IsIconic(m_hWnd))
    {
        Default();
        return;
    }
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, m_mainIcon);
    ::EndPaint(m_hWnd, &paint);
}

HCURSOR CWavelarkPlayerDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_mainIcon);
}

void CWavelarkPlayerDlg::OnOkCommand()
{
    OnOK();
}
