#include "virtual_receiver/tool/ReceiverDevice.h"

#include <setupapi.h>

// mingw-w64's HID header declares C functions without C linkage.
extern "C"
{
#include <hidsdi.h>
}

#include <cstring>
#include <mutex>
#include <vector>

namespace
{
// The interface's path, or an empty text when it cannot be read.
std::vector<char> PathOf(HDEVINFO devices, SP_DEVICE_INTERFACE_DATA& interfaceData)
{
    DWORD required = 0;
    (void)::SetupDiGetDeviceInterfaceDetailA(devices, &interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return {};
    std::vector<char> record(required + 1);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!::SetupDiGetDeviceInterfaceDetailA(devices, &interfaceData, detail, required, nullptr, nullptr))
        return {};
    return std::vector<char>(detail->DevicePath, detail->DevicePath + std::strlen(detail->DevicePath) + 1);
}
} // namespace

bool ReceiverDevice::Open()
{
    GUID hidClass;
    ::HidD_GetHidGuid(&hidClass);
    OwnedDeviceInfoList devices(
        ::SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    SP_DEVICE_INTERFACE_DATA interfaceData = {sizeof(interfaceData), {}, 0, 0};
    for (DWORD index = 0; ::SetupDiEnumDeviceInterfaces(devices.Get(), nullptr, &hidClass, index, &interfaceData);
         ++index)
    {
        const std::vector<char> path = PathOf(devices.Get(), interfaceData);
        if (path.empty())
            continue;
        m_file.Reset(::CreateFileA(path.data(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
        HIDD_ATTRIBUTES attributes = {sizeof(attributes), 0, 0, 0};
        if (m_file && ::HidD_GetAttributes(m_file.Get(), &attributes) && attributes.VendorID == kWireVendorId &&
            attributes.ProductID == kWireProductId)
            return true;
        m_file.Reset();
    }
    return false;
}

bool ReceiverDevice::Set(const ReceiverFeature& feature)
{
    std::array<RcByte, kWireFeatureReportBytes> report = {}; // report id 0 first
    std::copy(feature.begin(), feature.end(), report.begin() + 1);
    return m_file && ::HidD_SetFeature(m_file.Get(), report.data(), report.size());
}

bool ReceiverDevice::Start(RcByte band, unsigned short code, WireFault fault, unsigned short faultValue,
                           bool plainAudio)
{
    ReceiverFeature feature = {kWireSetState,
                               static_cast<RcByte>(fault),
                               static_cast<RcByte>(faultValue >> 8),
                               static_cast<RcByte>(faultValue),
                               band,
                               static_cast<RcByte>(code >> 8),
                               static_cast<RcByte>(code),
                               static_cast<RcByte>(plainAudio)};
    return Set(feature);
}

bool ReceiverDevice::SelectLog(unsigned long index)
{
    ReceiverFeature feature = {kWireSelectLog, static_cast<RcByte>(index >> 24), static_cast<RcByte>(index >> 16),
                               static_cast<RcByte>(index >> 8), static_cast<RcByte>(index)};
    return Set(feature);
}

bool ReceiverDevice::Read(ReceiverFeature& feature)
{
    std::array<RcByte, kWireFeatureReportBytes> report = {};
    if (!m_file || !::HidD_GetFeature(m_file.Get(), report.data(), report.size()))
        return false;
    std::copy(report.begin() + 1, report.end(), feature.begin());
    return true;
}

unsigned long long FeatureCount(const ReceiverFeature& feature, size_t at, size_t bytes)
{
    unsigned long long count = 0;
    for (size_t i = 0; i < bytes; ++i)
        count = count << 8 | feature[at + i];
    return count;
}

// Opened on first use and again after a failed read, at most once a second: a receiver that is
// not there is looked for on the bus, not on every period.
ReceiverAudio ReadReceiverAudio()
{
    static std::mutex lock;
    static ReceiverDevice device;
    static ULONGLONG lastLook = 0;
    std::lock_guard<std::mutex> guard(lock);
    ReceiverFeature state;
    if (!device.IsOpen())
    {
        if (::GetTickCount64() - lastLook < 1000)
            return {0, false};
        lastLook = ::GetTickCount64();
        if (!device.Open())
            return {0, false};
    }
    if (!device.Read(state))
    {
        device.Close();
        return {0, false};
    }
    return {RcToneHz(state.data(), static_cast<unsigned>(state.size())), state[kWireGetPlainAudio] != 0};
}
