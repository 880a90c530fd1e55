// The receiver link: discovery on the HID bus, output reports written, input reports read.
// Every platform call goes through the OS call table, in the order the receiver expects.
#include "app/WavelarkPlayerDlg.h"

#include "receiver/TuningModel.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace
{
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr size_t kProductStringBytes = 256;
} // namespace

bool CWavelarkPlayerDlg::FindReceiver()
{
    OsCalls& os = Os();
    m_vendorId = kReceiverVendorId;
    m_productId = kReceiverProductId;
    m_connected = false;
    os.HidD_GetHidGuid(&m_hidGuid);
    UniqueDeviceInfoList devices(
        os.SetupDiGetClassDevsA(&m_hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));

    for (DWORD index = 0; !m_connected; ++index)
    {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!os.SetupDiEnumDeviceInterfaces(devices.Get(), nullptr, &m_hidGuid, index, &interfaceData))
            break;

        DWORD requiredSize = 0;
        (void)os.SetupDiGetDeviceInterfaceDetailA(devices.Get(), &interfaceData, nullptr, 0, &requiredSize, nullptr);
        if (requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            continue;
        // One zero byte more than asked for, so the path ends within the record whatever came back.
        std::vector<BYTE> detailRecord(requiredSize + 1);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detailRecord.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!os.SetupDiGetDeviceInterfaceDetailA(devices.Get(), &interfaceData, detail, requiredSize, nullptr, nullptr))
            continue;

        m_hDevice.Reset(os.CreateFileA(detail->DevicePath, 0, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr));
        HIDD_ATTRIBUTES attributes = {};
        attributes.Size = sizeof(attributes);
        const bool matches = os.HidD_GetAttributes(m_hDevice.Get(), &attributes) && attributes.VendorID == m_vendorId &&
                             attributes.ProductID == m_productId;
        if (matches)
            OpenReceiverInterface(detail->DevicePath);
        else
            m_hDevice.Reset();
    }
    return m_connected;
}

void CWavelarkPlayerDlg::OpenReceiverInterface(const char* devicePath)
{
    OsCalls& os = Os();
    m_connected = true;
    m_devicePath = devicePath;
    RegisterReceiverNotification();

    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (os.HidD_GetPreparsedData(m_hDevice.Get(), &preparsed))
    {
        (void)os.HidP_GetCaps(preparsed, &m_caps);
        (void)os.HidD_FreePreparsedData(preparsed);
    }
    // A receiver whose reports are longer than the usual buffers gets buffers of its size, so
    // that no read or write runs past them.
    m_outReport.resize(std::max<size_t>(kReportBufferBytes, m_caps.OutputReportByteLength));
    m_inReport.resize(std::max<size_t>(kReportBufferBytes, m_caps.InputReportByteLength));

    wchar_t product[kProductStringBytes / sizeof(wchar_t)] = {};
    (void)os.HidD_GetProductString(m_hDevice.Get(), product, sizeof(product)); // empty when it fails
    for (size_t i = 0; i < ARRAYSIZE(product) && product[i]; ++i)
        m_productName += static_cast<char>(product[i] & 0xFF);

    m_hWrite.Reset(os.CreateFileA(devicePath, GENERIC_WRITE, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr));
    m_hRead.Reset(os.CreateFileA(devicePath, GENERIC_READ, kShareReadWrite, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr));
    if (!m_hReadEvent)
    {
        m_hReadEvent.Reset(os.CreateEventA(nullptr, TRUE, TRUE, ""));
        m_readOverlapped = {};
        m_readOverlapped.hEvent = m_hReadEvent.Get();
    }
}

void CWavelarkPlayerDlg::RegisterReceiverNotification()
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = m_hidGuid;
    // The handle is not kept: the dialog takes no action on device changes.
    (void)Os().RegisterDeviceNotificationA(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void CWavelarkPlayerDlg::WriteCommand(const BYTE* command)
{
    m_outReport[0] = 0;
    std::memcpy(&m_outReport[1], command, kCommandBytes);
    if (!m_hWrite)
        return;
    DWORD written = 0;
    if (!Os().WriteFile(m_hWrite.Get(), m_outReport.data(), m_caps.OutputReportByteLength, &written, nullptr))
    {
        CloseReceiverHandles();
        m_connected = false;
    }
}

// The device queues every answer until a read takes it. An exchange reads one answer, but a
// refused tune sends two queries: without emptying the queue first, every later exchange would
// show the answer before its own.
void CWavelarkPlayerDlg::FlushReceiverInput()
{
    OsCalls& os = Os();
    const bool leftOver = std::exchange(m_answerLeftOver, false);
    if (!m_hRead || os.HidD_FlushQueue(m_hRead.Get()) || !leftOver)
        return; // draining costs a wait, which a tuner stepped by ear cannot spare after every press
    // A class driver that cannot flush (Wine's answers ERROR_NOT_SUPPORTED) still hands over what
    // it has queued at once: take reports until a read has to wait, a bounded number of times.
    for (int taken = 0; taken < kMostQueuedReports; ++taken)
    {
        const BOOL done =
            os.ReadFile(m_hRead.Get(), m_inReport.data(), m_caps.InputReportByteLength, nullptr, &m_readOverlapped);
        if (!done && os.GetLastError() != ERROR_IO_PENDING)
            break; // a lost receiver shows in the exchange that follows
        if (!done && os.WaitForSingleObject(m_hReadEvent.Get(), kQueuedReportMs) != WAIT_OBJECT_0)
        {
            EndCancelledRead(); // nothing queued
            break;
        }
    }
    (void)os.ResetEvent(m_hReadEvent.Get());
}

void CWavelarkPlayerDlg::ReadReport()
{
    OsCalls& os = Os();
    m_inReport[0] = 0;
    // Without a read handle no read can signal the event: waiting would only block the window.
    if (!m_hRead)
        return;
    // A pending read is the normal case; the event tells when the report has arrived. A read
    // that fails at once never signals it: waiting would only freeze the window.
    // The count comes with the result: beside an OVERLAPPED the platform may leave it unset.
    if (!os.ReadFile(m_hRead.Get(), m_inReport.data(), m_caps.InputReportByteLength, nullptr, &m_readOverlapped) &&
        os.GetLastError() != ERROR_IO_PENDING)
    {
        CloseReceiverHandles();
        m_connected = false;
        (void)os.ResetEvent(m_hReadEvent.Get());
        return;
    }
    const DWORD waited = os.WaitForSingleObject(m_hReadEvent.Get(), kReadTimeoutMs);
    if (waited == WAIT_OBJECT_0)
        (void)os.GetOverlappedResult(m_hRead.Get(), &m_readOverlapped, &m_bytesRead, FALSE);
    else
    {
        if (waited == WAIT_TIMEOUT)
            EndCancelledRead();
        CloseReceiverHandles();
        m_connected = false;
    }
    (void)os.ResetEvent(m_hReadEvent.Get());
}

// Until a cancelled read has ended, the class driver may still write into its buffer and its
// OVERLAPPED: the next read must not have them before then.
void CWavelarkPlayerDlg::EndCancelledRead()
{
    OsCalls& os = Os();
    (void)os.CancelIo(m_hRead.Get());
    (void)os.GetOverlappedResult(m_hRead.Get(), &m_readOverlapped, &m_bytesRead, TRUE);
}

void CWavelarkPlayerDlg::CloseReceiverHandles()
{
    m_hDevice.Reset();
    m_hRead.Reset();
    m_hWrite.Reset();
}

void CWavelarkPlayerDlg::TuneAndReadBack()
{
    FlushReceiverInput();
    EncodeCommand();
    m_answerLeftOver = m_command[0] == tuning::kQueryCommand;
    WriteCommand(m_command); // the tune command, or a query when the text was refused
    SetQueryCommand();
    WriteCommand(m_command);
    ReadReport();
    ApplyReport();
    UpdateData(FALSE);
}
