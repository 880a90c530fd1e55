#include "sim/SimulatedReceiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace
{
const HDEVINFO kDeviceSet = reinterpret_cast<HDEVINFO>(static_cast<UINT_PTR>(0x5EED0));
const wchar_t kProductName[] = L"WaveLARK USB AM/FM Radio";
// The answer arrives a moment after the query, as it does from the real receiver.
constexpr auto kAnswerDelay = std::chrono::milliseconds(2);

std::string PathOf(size_t index)
{
    char path[128];
    std::snprintf(path, sizeof(path), "\\\\?\\hid#vid_077d&pid_627a#sim%u#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  static_cast<unsigned>(index));
    return path;
}
} // namespace

SimulatedReceiver& SimulatedReceiver::Instance()
{
    static SimulatedReceiver receiver;
    return receiver;
}

void SimulatedReceiver::Install(const SimConfig& config)
{
    Uninstall();
    std::lock_guard<std::mutex> guard(m_lock);
    m_config = config;
    if (m_config.interfaces.empty() && m_config.fault != SimFault::NoReceiver)
        m_config.interfaces.push_back({kRcVendorId, kRcProductId, true});
    if (m_config.fault == SimFault::NoReceiver)
        m_config.interfaces.clear();
    RcStart(&m_core, config.band, config.code, static_cast<RcFault>(config.fault),
            static_cast<unsigned short>(config.faultValue));
    m_cancels = 0;
    m_notifications = 0;
    m_classDevsFlags = 0;
    m_written.clear();
    m_handles.clear();

    OsCalls& os = Os();
    m_saved = os;
    os.SetupDiGetClassDevsA = &GetClassDevs;
    os.SetupDiEnumDeviceInterfaces = &EnumDeviceInterfaces;
    os.SetupDiGetDeviceInterfaceDetailA = &GetDeviceInterfaceDetail;
    os.SetupDiDestroyDeviceInfoList = &DestroyDeviceInfoList;
    os.CreateFileA = &CreateFile;
    os.CloseHandle = &CloseHandle;
    os.HidD_GetAttributes = &GetAttributes;
    os.HidD_GetPreparsedData = &GetPreparsedData;
    os.HidD_FreePreparsedData = &FreePreparsedData;
    os.HidP_GetCaps = &GetCaps;
    os.HidD_GetProductString = &GetProductString;
    os.RegisterDeviceNotificationA = &RegisterDeviceNotification;
    os.WriteFile = &WriteFile;
    os.ReadFile = &ReadFile;
    os.CancelIo = &CancelIo;
    os.HidD_FlushQueue = &FlushQueue;
    m_installed = true;
}

void SimulatedReceiver::Uninstall()
{
    FinishDelivery();
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_installed)
        return;
    Os() = m_saved;
    m_installed = false;
}

SimulatedReceiver::State SimulatedReceiver::Snapshot()
{
    FinishDelivery();
    std::lock_guard<std::mutex> guard(m_lock);
    return {m_core.band,
            m_core.code,
            m_written,
            static_cast<int>(m_handles.size()),
            static_cast<int>(m_core.answered),
            m_cancels,
            m_notifications,
            m_classDevsFlags};
}

// The caller holds m_lock.
const SimulatedReceiver::Handle* SimulatedReceiver::HandleOf(HANDLE handle) const
{
    for (const Handle& open : m_handles)
    {
        if (open.value == handle)
            return &open;
    }
    return nullptr;
}

// The caller holds m_lock.
const SimInterface* SimulatedReceiver::InterfaceOf(HANDLE handle)
{
    const Handle* open = HandleOf(handle);
    return open ? &m_config.interfaces[open->interfaceIndex] : nullptr;
}

void SimulatedReceiver::FinishDelivery()
{
    if (m_delivery.joinable())
        m_delivery.join();
}

// A read pending on `handle` ends without its answer; a cancelled read still signals its event,
// a closed one does not.
void SimulatedReceiver::CancelDelivery(HANDLE handle, bool signal)
{
    if (m_deliveryHandle == handle)
        m_cancelled = signal ? Cancel::Signalled : Cancel::Silent;
    FinishDelivery();
}

// The answer arrives a moment after the read, as it does from the real receiver: report id 0,
// then the answer's data bytes, the rest of a longer report zero.
void SimulatedReceiver::Deliver(PendingRead read, const BYTE* answer)
{
    std::vector<BYTE> report(read.length, 0);
    for (size_t i = 0; i < kRcDataBytes && i + 1 < report.size(); ++i)
        report[i + 1] = answer[i];
    m_deliveryHandle = read.handle;
    m_cancelled = Cancel::None;
    m_delivery = std::thread(
        [this, read, report]
        {
            std::this_thread::sleep_for(kAnswerDelay);
            const Cancel cancelled = m_cancelled;
            if (cancelled == Cancel::None)
                std::memcpy(read.buffer, report.data(), report.size());
            if (cancelled != Cancel::Silent)
                ::SetEvent(read.event);
        });
}

void SimulatedReceiver::Log(const BYTE* report, DWORD length)
{
    m_written.emplace_back(report, report + length);
}

HDEVINFO WINAPI SimulatedReceiver::GetClassDevs(const GUID*, PCSTR, HWND, DWORD flags)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    self.m_classDevsFlags = flags;
    return kDeviceSet;
}

BOOL WINAPI SimulatedReceiver::EnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* interfaceClass,
                                                    DWORD index, PSP_DEVICE_INTERFACE_DATA data)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    if (set != kDeviceSet || !data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
    {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= self.m_config.interfaces.size())
    {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = interfaceClass ? *interfaceClass : GUID{};
    data->Flags = SPINT_ACTIVE;
    data->Reserved = index + 1;
    return TRUE;
}

BOOL WINAPI SimulatedReceiver::GetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                                        PDWORD required, PSP_DEVINFO_DATA)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    if (set != kDeviceSet || !data || data->Reserved == 0 || data->Reserved > self.m_config.interfaces.size())
    {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string path = PathOf(data->Reserved - 1);
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (required)
        *required = needed;
    if (!detail || size < needed)
    {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
    {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL WINAPI SimulatedReceiver::DestroyDeviceInfoList(HDEVINFO set)
{
    if (set != kDeviceSet)
        return Instance().m_saved.SetupDiDestroyDeviceInfoList(set);
    return TRUE;
}

HANDLE WINAPI SimulatedReceiver::CreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                            DWORD disposition, DWORD flags, HANDLE templateFile)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    for (size_t i = 0; path && i < self.m_config.interfaces.size(); ++i)
    {
        if (PathOf(i) == path)
        {
            // A real handle of the simulator's own: a late close through the real CloseHandle, after
            // the simulator is gone, closes only what it made.
            HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (!handle)
                return INVALID_HANDLE_VALUE;
            self.m_handles.push_back({handle, i, access, flags});
            return handle;
        }
    }
    return self.m_saved.CreateFileA(path, access, share, security, disposition, flags, templateFile);
}

// Closing a handle cancels the read pending on it first: its buffer may go with the handle.
BOOL WINAPI SimulatedReceiver::CloseHandle(HANDLE handle)
{
    SimulatedReceiver& self = Instance();
    self.CancelDelivery(handle, false);
    {
        std::lock_guard<std::mutex> guard(self.m_lock);
        for (auto open = self.m_handles.begin(); open != self.m_handles.end(); ++open)
        {
            if (open->value == handle)
            {
                self.m_handles.erase(open);
                break;
            }
        }
    }
    return self.m_saved.CloseHandle(handle);
}

BOOLEAN NTAPI SimulatedReceiver::GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    const SimInterface* device = self.InterfaceOf(handle);
    if (!device || !device->attributesReadable || !attributes)
        return FALSE;
    attributes->VendorID = device->vendorId;
    attributes->ProductID = device->productId;
    attributes->VersionNumber = 0x0100;
    return TRUE;
}

BOOLEAN NTAPI SimulatedReceiver::GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* preparsed)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    if (!self.InterfaceOf(handle) || !preparsed)
        return FALSE;
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(kDeviceSet);
    return TRUE;
}

BOOLEAN NTAPI SimulatedReceiver::FreePreparsedData(PHIDP_PREPARSED_DATA)
{
    return TRUE;
}

NTSTATUS NTAPI SimulatedReceiver::GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    if (preparsed != reinterpret_cast<PHIDP_PREPARSED_DATA>(kDeviceSet) || !caps)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    *caps = {};
    caps->UsagePage = 0xFF00;
    caps->InputReportByteLength = static_cast<USHORT>(RcReportBytes(&self.m_core));
    caps->OutputReportByteLength = static_cast<USHORT>(RcReportBytes(&self.m_core));
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN NTAPI SimulatedReceiver::GetProductString(HANDLE handle, PVOID buffer, ULONG length)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    if (!self.InterfaceOf(handle) || !buffer || length < sizeof(kProductName))
        return FALSE;
    std::memcpy(buffer, kProductName, sizeof(kProductName));
    return TRUE;
}

HDEVNOTIFY WINAPI SimulatedReceiver::RegisterDeviceNotification(HANDLE, LPVOID, DWORD)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    ++self.m_notifications;
    return reinterpret_cast<HDEVNOTIFY>(kDeviceSet);
}

BOOL WINAPI SimulatedReceiver::WriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written,
                                         LPOVERLAPPED overlapped)
{
    SimulatedReceiver& self = Instance();
    std::lock_guard<std::mutex> guard(self.m_lock);
    const Handle* open = self.HandleOf(handle);
    if (!open)
        return self.m_saved.WriteFile(handle, buffer, length, written, overlapped);
    // As the device does: reports go out through a handle opened for writing, synchronously.
    if (!(open->access & GENERIC_WRITE) || overlapped)
    {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // As the HID class driver does: only whole reports go out; a refused one reaches nobody.
    if (length != RcReportBytes(&self.m_core) || !buffer)
    {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const BYTE* report = static_cast<const BYTE*>(buffer);
    self.Log(report, length);
    if (!RcReceive(&self.m_core, report + 1, length - 1, 0))
    {
        ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    if (written)
        *written = length;
    return TRUE;
}

BOOL WINAPI SimulatedReceiver::ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read,
                                        LPOVERLAPPED overlapped)
{
    SimulatedReceiver& self = Instance();
    self.FinishDelivery();
    BYTE answer[kRcDataBytes];
    {
        std::lock_guard<std::mutex> guard(self.m_lock);
        const Handle* open = self.HandleOf(handle);
        if (!open)
            return self.m_saved.ReadFile(handle, buffer, length, read, overlapped);
        // Reports come in through a handle opened for overlapped reading.
        if (!(open->access & GENERIC_READ) || !(open->flags & FILE_FLAG_OVERLAPPED))
        {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (!overlapped || !overlapped->hEvent)
        {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (self.m_config.fault == SimFault::ReadFails)
        {
            ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        if (length < RcReportBytes(&self.m_core) || !buffer)
        {
            ::SetLastError(ERROR_INVALID_USER_BUFFER);
            return FALSE;
        }
        ::ResetEvent(overlapped->hEvent);
        // Without an answer owed the read stays pending, as it does on the device.
        if (RcTakeAnswer(&self.m_core, answer))
            self.Deliver({static_cast<BYTE*>(buffer), RcReportBytes(&self.m_core), overlapped->hEvent, handle}, answer);
    }
    ::SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI SimulatedReceiver::CancelIo(HANDLE handle)
{
    SimulatedReceiver& self = Instance();
    self.CancelDelivery(handle, true);
    std::lock_guard<std::mutex> guard(self.m_lock);
    if (!self.InterfaceOf(handle))
        return self.m_saved.CancelIo(handle);
    ++self.m_cancels;
    return TRUE;
}

BOOLEAN NTAPI SimulatedReceiver::FlushQueue(HANDLE handle)
{
    SimulatedReceiver& self = Instance();
    self.FinishDelivery();
    std::lock_guard<std::mutex> guard(self.m_lock);
    if (!self.InterfaceOf(handle))
        return self.m_saved.HidD_FlushQueue(handle);
    RcDropAnswers(&self.m_core);
    return TRUE;
}
