// The in-process simulated receiver for the unit tests: the interfaces it presents on the HID bus
// and, in place of the HID class driver, report lengths checked and answers queued until a read
// takes them; the receiver itself is the shared core. It stands behind the OS call table, so the
// program's own link code talks to it exactly as it talks to the real receiver.
#pragma once

#include "framework/OsCalls.h"
#include "sim/ReceiverCore.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// The faults of the receiver core (sim/ReceiverCore.h), by name.
enum class SimFault
{
    None = kRcFaultNone,
    Silent = kRcFaultSilent,
    WriteFails = kRcFaultWriteFails,
    ReadFails = kRcFaultReadFails,
    UnplugAfter = kRcFaultUnplugAfter,
    Status = kRcFaultStatus,
    Band = kRcFaultBand,
    NoReceiver = kRcFaultNoReceiver,
    Oversize = kRcFaultOversize,
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
};

class SimulatedReceiver
{
  public:
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
        HANDLE handle = nullptr;
    };
    enum class Cancel
    {
        None,
        Signalled, // cancelled: the event is set, the buffer left alone
        Silent,    // closed: neither
    };

    const SimInterface* InterfaceOf(HANDLE handle);
    const Handle* HandleOf(HANDLE handle) const;
    void FinishDelivery();
    void CancelDelivery(HANDLE handle, bool signal);
    void Deliver(PendingRead read, const BYTE* answer);
    void Log(const BYTE* report, DWORD length);

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
    static BOOLEAN NTAPI FlushQueue(HANDLE);

    std::mutex m_lock;
    SimConfig m_config;
    OsCalls m_saved;
    bool m_installed = false;
    std::vector<Handle> m_handles;
    ReceiverCore m_core = {};
    int m_cancels = 0;
    int m_notifications = 0;
    DWORD m_classDevsFlags = 0;
    std::vector<std::vector<BYTE>> m_written;
    // The one answer under way, and whether its read was cancelled or closed meanwhile.
    std::thread m_delivery;
    HANDLE m_deliveryHandle = nullptr;
    std::atomic<Cancel> m_cancelled{Cancel::None};
};
