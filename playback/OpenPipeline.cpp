// The open pipeline: from an open request to a built, stopped graph, or to a recorded failure.
#include "app/WavelarkPlayerDlg.h"
#include "framework/Exceptions.h"
#include "framework/OsCalls.h"
#include "graph/ComRecords.h"
#include "graph/DShowHelpers.h"

#include <uuids.h>

#include <cwchar>
#include <new>

namespace
{
constexpr DWORD kAllContexts =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
const char kDecoderKey[] = "SOFTWARE\\InterVideo\\Common\\AudioDec";
const char kDecoderValue[] = "AUDIO";
const char kOpenOutOfMemory[] = "Not enough memory to open the audio input";
const char kOpenFailed[] = "The audio input could not be opened";

// The outside decoder's number for each speaker configuration; 2 for any other.
DWORD DecoderValueFor(DWORD speakerConfig)
{
    switch (speakerConfig)
    {
    case DSSPEAKER_DIRECTOUT:
        return 6;
    case DSSPEAKER_MONO:
        return 1;
    case DSSPEAKER_QUAD:
        return 4;
    case DSSPEAKER_5POINT1:
    case DSSPEAKER_7POINT1:
        return 5;
    default: // headphone, stereo, surround and anything else
        return 2;
    }
}

template <class Interface> void Requery(IGraphBuilder* graph, ComPtr<Interface>& member, REFIID iid)
{
    member.Reset();
    (void)graph->QueryInterface(iid, member.PutVoid()); // a missing interface leaves it null
}
} // namespace

bool CWavelarkPlayerDlg::StartOpen(OpenMediaData* request)
{
    return OpenRequestPipeline(request);
}

void CWavelarkPlayerDlg::MarkClosing()
{
    m_loadState = LoadState::Closing;
    RevokeGraphFromRot(&m_rotCookie);
}

bool CWavelarkPlayerDlg::OpenRequestPipeline(OpenMediaData* owned)
{
    std::unique_ptr<OpenMediaData> request(owned); // deleted on every path
    if (m_loadState != LoadState::Closed)
        return false;
    const auto* device = dynamic_cast<const OpenDeviceData*>(request.get());
    if (!device)
        return false;
    m_loadState = LoadState::Opening;

    CString failure;
    try
    {
        CreateGraphObjects();
        (void)RegisterGraphInRot(m_graph.Get(), &m_rotCookie); // graph tools may show it; nothing depends on it
        ApplyDecoderSpeakerSetting();
        OpenCaptureDevice(*device);
        CompleteOpen();
        PostMessage(WM_COMMAND, kIdOpenFinished, 0);
    }
    catch (const char* text)
    {
        failure = text;
    }
    catch (const CString& text)
    {
        failure = text;
    }
    // Out of memory anywhere on the way (a text, a graph record, the builder's lists), or any
    // other failure the framework raises: the open fails as a whole and leaves nothing half done.
    catch (const CMemoryException&)
    {
        failure = kOpenOutOfMemory;
    }
    catch (const std::bad_alloc&)
    {
        failure = kOpenOutOfMemory;
    }
    catch (const CException&)
    {
        failure = kOpenFailed;
    }
    if (failure.IsEmpty())
        return true;
    MarkClosing();
    m_lastError = failure;
    return false;
}

void CWavelarkPlayerDlg::CreateGraphObjects()
{
    m_graph.Reset();
    if (FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, kAllContexts, IID_IGraphBuilder, m_graph.PutVoid())) ||
        !m_graph)
        throw "Failed to create the filter graph object";
    Requery(m_graph.Get(), m_mediaControl, IID_IMediaControl);
    Requery(m_graph.Get(), m_mediaEvent, IID_IMediaEventEx);
    Requery(m_graph.Get(), m_mediaSeeking, IID_IMediaSeeking);
    Requery(m_graph.Get(), m_videoWindow, IID_IVideoWindow);
    Requery(m_graph.Get(), m_basicVideo, IID_IBasicVideo);
    Requery(m_graph.Get(), m_basicAudio, IID_IBasicAudio);
    Requery(m_graph.Get(), m_frameStep, IID_IVideoFrameStep); // optional
    if (!m_mediaControl || !m_mediaEvent || !m_mediaSeeking || !m_videoWindow || !m_basicVideo || !m_basicAudio)
        throw "Failed to query the needed interfaces for playback";
}

HRESULT CWavelarkPlayerDlg::RegisterGraphInRot(IUnknown* graph, DWORD* cookie)
{
    ComPtr<IRunningObjectTable> table;
    if (FAILED(::GetRunningObjectTable(0, table.Put())))
        return E_FAIL;
    wchar_t itemName[256];
    std::swprintf(itemName, 256, L"FilterGraph %08p pid %08x (WavelarkPlayer)", static_cast<void*>(graph),
                  static_cast<unsigned>(::GetCurrentProcessId()));
    ComPtr<IMoniker> item;
    HRESULT result = ::CreateItemMoniker(L"!", itemName, item.Put());
    if (SUCCEEDED(result))
        result = table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph, item.Get(), cookie);
    return result;
}

void CWavelarkPlayerDlg::RevokeGraphFromRot(DWORD* cookie)
{
    ComPtr<IRunningObjectTable> table;
    if (SUCCEEDED(::GetRunningObjectTable(0, table.Put())))
        (void)table->Revoke(*cookie); // nothing is left to do when it was not registered
    *cookie = 0;
}

// Nothing here is reported: every failure skips the rest of the step.
void CWavelarkPlayerDlg::ApplyDecoderSpeakerSetting()
{
    OsCalls& os = Os();
    DWORD decoderValue = 0;
    ComPtr<IDirectSound> sound;
    if (SUCCEEDED(os.DirectSoundCreate(nullptr, sound.Put(), nullptr)) && sound &&
        SUCCEEDED(sound->SetCooperativeLevel(m_hWnd, DSSCL_NORMAL)))
    {
        DWORD speakerConfig = 0;
        if (SUCCEEDED(sound->GetSpeakerConfig(&speakerConfig)))
            decoderValue = DecoderValueFor(speakerConfig); // the whole value, geometry bits included
    }

    UniqueRegistryKey key;
    if (os.RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDecoderKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                           nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
        return;
    // Another program may have stored anything here: up to four bytes are its number, whatever
    // their type, read as it reads them into a zeroed number, so that a setting it can read is
    // never lowered; a value too long to read counts as 0.
    DWORD stored = 0;
    DWORD size = sizeof(stored);
    if (os.RegQueryValueExA(key.Get(), kDecoderValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&stored), &size) !=
        ERROR_SUCCESS)
        stored = 0; // the buffer's contents are undefined after a failed read
    if (stored <= decoderValue)
        (void)os.RegSetValueExA(key.Get(), kDecoderValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&decoderValue),
                                sizeof(decoderValue));
}

void CWavelarkPlayerDlg::OpenCaptureDevice(const OpenDeviceData& request)
{
    m_deviceDisplayNameW = request.m_displayName;
    std::wstring friendlyName;
    ComPtr<IBaseFilter> filter;
    if (!m_deviceDisplayNameW.empty() && !BindFilterFromDisplayName(m_deviceDisplayNameW, filter.Put(), friendlyName))
        throw "Can't create video capture filter";
    if (!filter)
        throw "No capture filters";

    m_captureBuilder.Reset();
    m_audioCapture.Reset();
    if (FAILED(::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kAllContexts, IID_ICaptureGraphBuilder2,
                                  m_captureBuilder.PutVoid())) ||
        !m_captureBuilder)
        throw "Can't create capture graph builder object";
    (void)m_captureBuilder->SetFiltergraph(m_graph.Get()); // a failure shows later, when pins are searched
    if (FAILED(m_graph->AddFilter(filter.Get(), friendlyName.c_str())))
        throw "Can't add audio capture filter to the graph";
    m_audioCapture = filter;
    m_playbackMode = PlaybackMode::Capture;
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the name is taken by value, as callers expect
bool CWavelarkPlayerDlg::BindFilterFromDisplayName(std::wstring displayName, IBaseFilter** filter,
                                                   std::wstring& friendlyName)
{
    if (!filter)
        return false;
    *filter = nullptr;
    friendlyName.clear();
    ComPtr<IBindCtx> context;
    (void)::CreateBindCtx(0, context.Put()); // parsing works without one
    UniqueBstr name = displayName.empty() ? UniqueBstr() : BstrFromWide(displayName.c_str());
    ULONG eaten = 0;
    ComPtr<IMoniker> moniker;
    if (::MkParseDisplayName(context.Get(), name.Get(), &eaten, moniker.Put()) != S_OK || !moniker)
        return false;
    if (FAILED(moniker->BindToObject(context.Get(), nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter))) ||
        !*filter)
        return false;
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(context.Get(), nullptr, IID_IPropertyBag, bag.PutVoid())) && bag)
    {
        UniqueVariant value;
        if (SUCCEEDED(bag->Read(L"FriendlyName", value.Put(), nullptr)) && value.vt == VT_BSTR && value.bstrVal)
            GrowOrRaise([&] { friendlyName = value.bstrVal; });
    }
    return true;
}

void CWavelarkPlayerDlg::CompleteOpen()
{
    (void)BuildPreviewGraph(); // a graph without a capture pin still counts as loaded
    m_loadState = LoadState::Loaded;
}
