// The simulated receiver's HID side: the interfaces it presents on the HID bus, the report
// protocol, and faults on request. It stands behind the OS call table, so the program's own
// link code talks to it exactly as it talks to the real receiver.
#pragma once

#include "framework/OsCalls.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class SimFault
{
    None,
    Silent,      // never answers a query
    WriteFails,  // every write fails
    ReadFails,   // every read fails at once, as on a device that is gone
    UnplugAfter, // gone after `faultValue` answered queries: writes fail, reads never answer
    Status,      // answers with status byte `faultValue`
    Band,        // answers with band byte `faultValue`
    NoReceiver,  // presents no HID interface at all
    Oversize,    // report lengths of 300 bytes
};

struct SimInterface
{
    USHORT vendorId;
    USHORT productId;
    bool attributesReadable = true;
};

struct SimConfig
{
    BYTE band = 0x02;   // the receiver's band byte before the first query
    WORD code = 0x1ED0; // and its frequency code (FM 87.9)
    SimFault fault = SimFault::None;
    int faultValue = 0;
    // The HID interfaces in enumeration order; empty means the one receiver.
    std::vector<SimInterface> interfaces;
    std::string logPath; // written output reports are appended here as hex lines
};

class SimulatedReceiver
{
  public:
    static constexpr USHORT kVendorId = 0x077D;
    static constexpr USHORT kProductId = 0x627A;
    static constexpr USHORT kReportBytes = 7;
    static constexpr USHORT kOversizeReportBytes = 300;

    // The one simulated receiver of the process; its state is what the table's functions see.
    static SimulatedReceiver& Instance();

    // Replaces the receiver link's entries of the OS call table; Uninstall puts back the ones
    // that were there before.
    void Install(const SimConfig& config);
    void Uninstall();

    struct State
    {
        BYTE band;
        WORD code;
        std::vector<std::vector<BYTE>> written; // every output report, as written
        int openHandles;
        int answeredQueries;
        int cancels; // CancelIo calls on a read handle
        int notificationsRegistered;
        DWORD classDevsFlags;
    };
    State Snapshot();
    // What the receiver is tuned to, for its audio side; false when it does not answer (absent,
    // silent or unplugged). Safe from any thread.
    bool Tuning(BYTE* band, WORD* code);

  private:
    struct Handle
    {
        HANDLE value;
        size_t interfaceIndex;
        DWORD access;
        DWORD flags;
    };
    struct PendingRead
    {
        BYTE* buffer = nullptr;
        DWORD length = 0;
        HANDLE event = nullptr;
    };

    const SimInterface* InterfaceOf(HANDLE handle);
    const Handle* HandleOf(HANDLE handle) const;
    bool Unplugged() const;
    void FinishDelivery();
    void Deliver(PendingRead read);
    void Log(const BYTE* report, DWORD length);
    USHORT ReportBytes() const;

    static BOOL WINAPI EnumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
    static BOOL WINAPI GetDeviceInterfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A,
                                                DWORD, PDWORD, PSP_DEVINFO_DATA);
    static HDEVINFO WINAPI GetClassDevs(const GUID*, PCSTR, HWND, DWORD);
    static BOOL WINAPI DestroyDeviceInfoList(HDEVINFO);
    static HANDLE WINAPI CreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    static BOOL WINAPI CloseHandle(HANDLE);
    static BOOLEAN NTAPI GetAttributes(HANDLE, PHIDD_ATTRIBUTES);
    static BOOLEAN NTAPI GetPreparsedData(HANDLE, PHIDP_PREPARSED_DATA*);
    static BOOLEAN NTAPI FreePreparsedData(PHIDP_PREPARSED_DATA);
    static NTSTATUS NTAPI GetCaps(PHIDP_PREPARSED_DATA, PHIDP_CAPS);
    static BOOLEAN NTAPI GetProductString(HANDLE, PVOID, ULONG);
    static HDEVNOTIFY WINAPI RegisterDeviceNotification(HANDLE, LPVOID, DWORD);
    static BOOL WINAPI WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    static BOOL WINAPI ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    static BOOL WINAPI CancelIo(HANDLE);

    std::mutex m_lock;
    SimConfig m_config;
    OsCalls m_saved;
    bool m_installed = false;
    std::vector<Handle> m_handles;
    UINT_PTR m_nextHandle = 0x5100;
    BYTE m_band = 0;
    WORD m_code = 0;
    bool m_queryPending = false;
    int m_answeredQueries = 0;
    int m_cancels = 0;
    int m_notifications = 0;
    DWORD m_classDevsFlags = 0;
    std::vector<std::vector<BYTE>> m_written;
    std::thread m_delivery;
};

// Parses the simulated player's command line (program name first). On failure `error` says why.
bool ParseSimArguments(int argc, char** argv, SimConfig& config, std::string& error);
