// The main dialog (template 102): the one holder of the program's state. Its member functions
// live in the folder of the subsystem that owns them.
#pragma once

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/String.h"

class CWavelarkPlayerDlg : public CDialog
{
public:
    explicit CWavelarkPlayerDlg(CWnd* parent = nullptr);
    ~CWavelarkPlayerDlg() override = default;

    // Commands that have no control: they arrive only as posted WM_COMMANDs.
    static constexpr UINT kIdOpenFinished = 1010;
    // System-menu command of the About item; the platform uses the low four bits itself.
    static constexpr UINT kIdAboutCommand = 0x0010;
    // Key, mouse and correction notifications of the edit; not ENM_CHANGE, so the program's
    // own writes into the edit start no exchange.
    static constexpr DWORD kEditEventMask = ENM_KEYEVENTS | ENM_MOUSEEVENTS | ENM_CORRECTTEXT;
    static constexpr int kEditMaxChars = 5;

    // Members in declaration order: construction runs in this order, destruction in reverse.
    HICON m_mainIcon;
    HICON m_trayIcon;
    int m_band = 0;   // 0 AM, 1 FM, -1 when no band button is checked
    CString m_editText;
    CRichEditCtrl m_edit;
    CSpinButtonCtrl m_spin;

protected:
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT id, LPARAM parameter);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnOkCommand();

private:
    void AddAboutItemToSystemMenu();
    void SetEditFont();

    static const MessageMapEntry<CWavelarkPlayerDlg> kMessageMap[];
};
