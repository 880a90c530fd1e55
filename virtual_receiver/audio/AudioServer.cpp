// wavelark_audio.dll: the simulated receiver's audio input as a registered in-process server,
// listed as an audio input the way a device's capture filter is. Its tone follows what the
// virtual receiver is tuned to, read through the device's feature report.
#include "com/ComBase.h"
#include "virtual_receiver/audio/SimAudioSource.h"

#include <uuids.h>

#include <string>

namespace
{
HMODULE g_module = nullptr;
FilterFactory g_factory([] { return static_cast<IBaseFilter*>(NewSimAudioSource()); });

std::wstring ServerKey()
{
    wchar_t clsid[40];
    (void)::StringFromGUID2(CLSID_SimAudioSource, clsid, 40); // 39 characters and the terminator
    return std::wstring(L"CLSID\\") + clsid;
}

HRESULT SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text)
{
    const LSTATUS status = ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, text.c_str(),
                                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(status);
}

// COM for the length of a registration call: regsvr32 makes none of its own.
class ComScope
{
  public:
    ComScope() : m_result(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(m_result))
            ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    HRESULT m_result;
};
} // namespace

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        g_module = module;
        (void)::DisableThreadLibraryCalls(module); // an optimisation only
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (clsid != CLSID_SimAudioSource)
        return *object = nullptr, CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow()
{
    return LiveComObjects() == 0 ? S_OK : S_FALSE;
}

// The class's server, then its entry among the audio inputs with its one PCM output pin.
STDAPI DllRegisterServer()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(g_module, path, MAX_PATH);
    if (!length || length == MAX_PATH)
        return E_FAIL;
    HRESULT result = SetText(ServerKey(), nullptr, kSimAudioName);
    if (SUCCEEDED(result))
        result = SetText(ServerKey() + L"\\InprocServer32", nullptr, path);
    if (SUCCEEDED(result))
        result = SetText(ServerKey() + L"\\InprocServer32", L"ThreadingModel", L"Both");
    if (FAILED(result))
        return result;
    ComScope com;
    return RegisterFilterClass(CLSID_SimAudioSource, kSimAudioName, CLSID_AudioInputDeviceCategory, MERIT_DO_NOT_USE,
                               {{true, {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}}});
}

STDAPI DllUnregisterServer()
{
    {
        ComScope com;
        UnregisterFilterClass(CLSID_SimAudioSource, CLSID_AudioInputDeviceCategory);
    }
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, ServerKey().c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}
