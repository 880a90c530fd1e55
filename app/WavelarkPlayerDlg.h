// The main dialog (template 102): the one holder of the program's state. Its member functions
// live in the folder of the subsystem that owns them.
#pragma once

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/String.h"
#include "receiver/ReceiverHandle.h"

#include <vector>

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

    // The receiver's HID identity.
    static constexpr int kReceiverVendorId = 0x077D;
    static constexpr int kReceiverProductId = 0x627A;
    // Longest wait for the receiver's answer, in milliseconds.
    static constexpr DWORD kReadTimeoutMs = 6000;
    // The report buffers hold at least this many bytes, more when the receiver's reports are longer.
    static constexpr size_t kReportBufferBytes = 256;
    static constexpr size_t kCommandBytes = 6;

    // Members in declaration order: construction runs in this order, destruction in reverse.
    HICON m_mainIcon;
    HICON m_trayIcon;
    int m_band = 0; // 0 AM, 1 FM, -1 when no band button is checked
    CString m_editText;
    CRichEditCtrl m_edit;

    // The receiver link. A closed handle is invalid at once, so nothing uses or closes it again.
    GUID m_hidGuid = {};
    UniqueReceiverHandle m_hDevice;   // no access rights: attributes, capabilities, product string
    UniqueReceiverHandle m_hWrite;    // synchronous writes of output reports
    UniqueReceiverHandle m_hRead;     // overlapped reads of input reports
    UniqueReceiverEvent m_hReadEvent; // manual reset; signalled when a read completes
    HIDP_CAPS m_caps = {};
    OVERLAPPED m_readOverlapped = {};
    bool m_connected = false;
    DWORD m_bytesRead = 0;         // not examined: the report's bytes tell what arrived
    std::vector<BYTE> m_outReport; // byte 0 the report id 0, bytes 1 to 6 the command block
    std::vector<BYTE> m_inReport;  // byte 0 the report id, set to 0 before each read
    BYTE m_command[kCommandBytes] = {};
    CString m_devicePath;
    CString m_productName; // each wide character narrowed to its low byte

    // The tuning texts: the working frequency text and the last text seen in each band.
    CString m_freqText;
    CString m_lastAmText;
    CString m_lastFmText;
    int m_vendorId = 0;
    int m_productId = 0;
    bool m_editHasFocus = false;
    CSpinButtonCtrl m_spin;

    // Tuning model.
    static bool IsAmText(const CString& text);
    static bool IsFmText(const CString& text);
    void EncodeCommand();
    void SetQueryCommand();
    void ApplyReport();

    // Receiver link.
    bool FindReceiver();
    void RegisterReceiverNotification();
    void WriteCommand(const BYTE* command);
    void ReadReport();
    void CloseReceiverHandles();
    void TuneAndReadBack();

  protected:
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT id, LPARAM parameter);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnOkCommand();

    // Tuning controls.
    void OnSpinDeltaPos(NMHDR* notification, LRESULT* result);
    void OnBandAm();
    void OnBandFm();
    void OnEditSetFocus();
    void OnEditKillFocus();
    void OnEditChange();
    void OnKeyDown(UINT key, UINT repeatCount, UINT flags);
    void ApplyEditText();
    void SwitchToBand(int band, const CString& lastOfBand, CString& lastOfOther, const char* defaultText);
    void ForwardEditEnterToDialog();

  private:
    void OpenReceiverInterface(const char* devicePath);
    void AddAboutItemToSystemMenu();
    void SetEditFont();

    static const MessageMapEntry<CWavelarkPlayerDlg> kMessageMap[];
};
