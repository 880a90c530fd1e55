// Finding the receiver's audio input among the system's audio-input devices, and handing it
// over to the open pipeline.
#include "app/WavelarkPlayerDlg.h"
#include "framework/Exceptions.h"
#include "graph/ComRecords.h"
#include "graph/DShowHelpers.h"
#include "graph/EnumItems.h"

#include <uuids.h>

namespace
{
// The receiver's audio input carries this in its friendly name (case-sensitive).
const char kReceiverMarker[] = "WaveLARK";
} // namespace

void CWavelarkPlayerDlg::ListAudioInputDevices()
{
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(
            ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum, devices.PutVoid())) ||
        !devices)
        return;
    ComPtr<IEnumMoniker> monikers;
    // An empty category succeeds without an enumerator.
    if (FAILED(devices->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, monikers.Put(), 0)) || !monikers)
        return;

    ComPtr<IMoniker> moniker;
    for (int index = 0; NextItem(monikers.Get(), moniker); ++index)
    {
        // Entry i of both lists belongs to device i: what cannot be read is stored as empty text.
        CString friendlyName;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) && bag)
        {
            UniqueVariant value;
            if (SUCCEEDED(bag->Read(BstrFromText("FriendlyName").Get(), value.Put(), nullptr)) && value.vt == VT_BSTR)
                friendlyName = TextFromWide(value.bstrVal);
        }
        m_deviceFriendlyNames.Add(friendlyName);

        CString displayName;
        UniqueTaskMem<wchar_t> wide;
        if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, wide.Put())) && wide.Get())
            displayName = TextFromWide(wide.Get());
        m_deviceDisplayNames.Add(displayName);

        // The last matching device wins.
        if (m_deviceFriendlyNames.GetAt(index).Find(kReceiverMarker) >= 0)
            m_selectedDeviceName = m_deviceDisplayNames.GetAt(index);
    }
}

void CWavelarkPlayerDlg::HandOverSelectedDevice()
{
    std::unique_ptr<OpenDeviceData> request;
    GrowOrRaise([&] { request = std::make_unique<OpenDeviceData>(); });
    request->m_displayName = WideFromText(m_selectedDeviceName);
    (void)StartOpen(request.release()); // a failed open leaves the dialog usable for tuning
}
