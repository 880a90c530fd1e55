// Finding the receiver's audio input among the system's audio-input devices, and handing it
// over to the open pipeline.
#include "app/WavelarkPlayerDlg.h"
#include "graph/DShowHelpers.h"

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
    for (int index = 0; monikers->Next(1, moniker.Put(), nullptr) == S_OK; ++index)
    {
        // Entry i of both lists belongs to device i: what cannot be read is stored as empty text.
        CString friendlyName;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) && bag)
        {
            VARIANT value;
            ::VariantInit(&value);
            if (SUCCEEDED(bag->Read(BstrFromText("FriendlyName").Get(), &value, nullptr)) && value.vt == VT_BSTR)
                friendlyName = TextFromWide(value.bstrVal);
            ::VariantClear(&value);
        }
        m_deviceFriendlyNames.Add(friendlyName);

        CString displayName;
        LPOLESTR wide = nullptr;
        if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &wide)) && wide)
            displayName = TextFromWide(wide);
        ::CoTaskMemFree(wide);
        m_deviceDisplayNames.Add(displayName);

        // The last matching device wins.
        if (m_deviceFriendlyNames.GetAt(index).Find(kReceiverMarker) >= 0)
            m_selectedDeviceName = m_deviceDisplayNames.GetAt(index);
    }
}

void CWavelarkPlayerDlg::HandOverSelectedDevice()
{
    auto request = std::make_unique<OpenDeviceData>();
    request->m_displayName = WideFromText(m_selectedDeviceName);
    (void)StartOpen(request.release()); // a failed open leaves the dialog usable for tuning
}
