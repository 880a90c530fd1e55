// The main dialog (template 102): the one holder of the program's state. Its member functions
// live in the folder of the subsystem that owns them.
#pragma once

#include "com/ComPtr.h"
#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/String.h"
#include "playback/OpenRequests.h"
#include "receiver/ReceiverHandle.h"
#include "wire/ReceiverWire.h"

#include <control.h>
#include <strmif.h>

#include <memory>
#include <string>

#include <vector>

class CWavelarkPlayerDlg : public CDialog
{
  public:
    explicit CWavelarkPlayerDlg(CWnd* parent = nullptr);
    ~CWavelarkPlayerDlg() override;

    // Commands that have no control: they arrive only as posted WM_COMMANDs.
    static constexpr UINT kIdPlayCommand = 1009;
    static constexpr UINT kIdOpenFinished = 1010;
    static constexpr UINT kIdTrayExit = 32772;
    // The tray icon's callback message.
    static constexpr UINT kTrayNotify = WM_APP + 1;
    // A second start finds the running copy's dialog by this window property and asks it, with
    // the registered message of this name, to come forward; the dialog answers with this value,
    // which no window that does not know the message returns.
    static constexpr wchar_t kRunningCopyProperty[] = L"Wavelark.WavelarkPlayerLite";
    static constexpr wchar_t kComeForwardMessage[] = L"Wavelark.WavelarkPlayerLite.ComeForward";
    static constexpr LRESULT kCameForward = 0x57504C46;
    // Timer that keeps the screen saver and display power-off away while playing.
    static constexpr UINT_PTR kKeepAwakeTimer = 5;
    static constexpr UINT kKeepAwakePeriodMs = 1000;
    // System-menu command of the About item; the platform uses the low four bits itself.
    static constexpr UINT kIdAboutCommand = 0x0010;
    // Key, mouse and correction notifications of the edit; not ENM_CHANGE, so the program's
    // own writes into the edit start no exchange.
    static constexpr DWORD kEditEventMask = ENM_KEYEVENTS | ENM_MOUSEEVENTS | ENM_CORRECTTEXT;
    static constexpr int kEditMaxChars = 5;

    // The receiver's HID identity.
    static constexpr int kReceiverVendorId = kWireVendorId;
    static constexpr int kReceiverProductId = kWireProductId;
    // Longest wait for the receiver's answer, in milliseconds.
    static constexpr DWORD kReadTimeoutMs = 6000;
    // Emptying the input queue: at most this many stale reports taken; how long a read of a
    // queued report may take to signal, in milliseconds.
    static constexpr int kMostQueuedReports = 64;
    static constexpr DWORD kQueuedReportMs = 20;
    // The report buffers hold at least this many bytes, more when the receiver's reports are longer.
    static constexpr size_t kReportBufferBytes = 256;
    static constexpr size_t kCommandBytes = kWireDataBytes;

    // Members in declaration order: construction runs in this order, destruction in reverse.
    HICON m_mainIcon;
    HICON m_trayIcon;

    // The playback session: the graph and its control interfaces, released in reverse order.
    ComPtr<ICaptureGraphBuilder2> m_captureBuilder;
    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IBaseFilter> m_audioCapture;
    ComPtr<IMediaControl> m_mediaControl;
    ComPtr<IMediaEventEx> m_mediaEvent;
    ComPtr<IVideoWindow> m_videoWindow;
    ComPtr<IBasicVideo> m_basicVideo;
    ComPtr<IBasicAudio> m_basicAudio;
    ComPtr<IMediaSeeking> m_mediaSeeking;
    ComPtr<IVideoFrameStep> m_frameStep;
    CString m_lastError; // failure text of the open; never shown
    std::wstring m_deviceDisplayNameW;
    DWORD m_rotCookie = 0; // running-object-table registration of m_graph, 0 when none
    PlaybackMode m_playbackMode = PlaybackMode::None;
    bool m_displayRequired = false; // asked of the system while the graph runs
    LoadState m_loadState = LoadState::Closed;
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
    DWORD m_bytesRead = 0;         // the read's byte count, not examined: the report's bytes tell what arrived
    std::vector<BYTE> m_outReport; // byte 0 the report id 0, bytes 1 to 6 the command block
    std::vector<BYTE> m_inReport;  // byte 0 the report id, set to 0 before each read
    BYTE m_command[kCommandBytes] = {};
    bool m_answerLeftOver = false; // the last exchange sent two queries and read one answer
    CString m_devicePath;
    CString m_productName; // each wide character narrowed to its low byte

    // The tuning texts: the working frequency text and the last text seen in each band.
    CString m_freqText;
    CString m_lastAmText;
    CString m_lastFmText;
    int m_vendorId = 0;
    int m_productId = 0;
    bool m_editHasFocus = false;
    UINT m_taskbarCreatedMsg = 0;
    UINT m_comeForwardMsg = 0;
    CSpinButtonCtrl m_spin;
    CStringArray m_deviceFriendlyNames; // entry i of both arrays describes the i-th audio input
    CStringArray m_deviceDisplayNames;
    CString m_selectedDeviceName;

    // Playback session.
    void ListAudioInputDevices();
    void HandOverSelectedDevice();
    bool StartOpen(OpenMediaData* request);
    void MarkClosing();
    bool OpenRequestPipeline(OpenMediaData* request);
    void CreateGraphObjects();
    static HRESULT RegisterGraphInRot(IUnknown* graph, DWORD* cookie);
    static void RevokeGraphFromRot(DWORD* cookie);
    void ApplyDecoderSpeakerSetting();
    void OpenCaptureDevice(const OpenDeviceData& request);
    static bool BindFilterFromDisplayName(std::wstring displayName, IBaseFilter** filter, std::wstring& friendlyName);
    void CompleteOpen();
    bool BuildPreviewGraph();
    bool InsertSmartTee(IBaseFilter* audioFilter, IPin** capturePin, IPin** previewPin);
    static void RemoveDownstream(IBaseFilter* filter, IGraphBuilder* graph);
    LONG GetGraphState();

    // Tray icon.
    void AddTrayIcon();
    void DeleteTrayIcon();
    void ComeForward();

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
    void FlushReceiverInput();
    void ReadReport();
    void CloseReceiverHandles();
    void EndCancelledRead();
    void TuneAndReadBack();

  protected:
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void PostNcDestroy() override;
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT id, LPARAM parameter);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnOkCommand();
    void OnDpiChanged(UINT dpi, LPARAM suggestedRect);
    void OnDestroy();

    // Tuning controls.
    void OnSpinDeltaPos(NMHDR* notification, LRESULT* result);
    void OnBandAm();
    void OnBandFm();
    void OnEditSetFocus();
    void OnEditKillFocus();
    void OnEditChange();
    void OnKeyDown(UINT key, UINT repeatCount, UINT flags);
    void ApplyEditText();
    CString AcceptedText(const CString& typed) const;
    void TuneToTyped(const CString& shown);
    void StepFrequency(bool up);
    void SwitchToBand(int band, const CString& lastOfBand, CString& lastOfOther, const char* defaultText);
    void HandEditKeysToDialog();

    // Play, Stop and the keep-awake timer.
    void OnPlay();
    void OnPlayCommand();
    void OnStop();
    void RequireDisplay(bool required);
    void OnTimer(UINT_PTR id);

    void OnTrayExit();
    void ShowTrayMenu();

  private:
    void OpenReceiverInterface(const char* devicePath);
    void AddAboutItemToSystemMenu();
    UINT WindowDpi() const;
    void SetEditFont(UINT dpi);
    void NameControlsForScreenReaders(bool name);

    static const MessageMapEntry<CWavelarkPlayerDlg> kMessageMap[];
};
