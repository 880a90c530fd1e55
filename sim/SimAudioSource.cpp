// A live audio capture source: one output pin in the capture category offering 16-bit PCM,
// 44100 Hz, stereo, fed by a delivery thread with a sine at the simulated receiver's tone.
#include "sim/SimAudioSource.h"

#include "graph/ComPtr.h"
#include "graph/DShowHelpers.h"
#include "sim/SimulatedReceiver.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace
{
constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kBytesPerFrame = kChannels * 2;
constexpr int kFramesPerBuffer = kRate / 20; // 50 ms
// How far delivery keeps ahead of real time, as a capture device's own buffering does: a thread
// scheduled late on a busy machine still finds the renderer with something to play.
constexpr double kLeadSeconds = 0.2;
constexpr double kAmplitude = 0.3 * 32767;
const wchar_t kPinName[] = L"Capture";
const wchar_t kDeviceName[] = L"WaveLARK USB Audio";

const WAVEFORMATEX kFormat = {WAVE_FORMAT_PCM, kChannels, kRate, kRate* kBytesPerFrame, kBytesPerFrame, 16, 0};

AM_MEDIA_TYPE PcmType()
{
    AM_MEDIA_TYPE type = {};
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = kBytesPerFrame;
    type.formattype = FORMAT_WaveFormatEx;
    type.cbFormat = sizeof(kFormat);
    type.pbFormat = reinterpret_cast<BYTE*>(const_cast<WAVEFORMATEX*>(&kFormat));
    return type;
}

bool IsOurType(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return true;
    if (type->majortype != GUID_NULL && type->majortype != MEDIATYPE_Audio)
        return false;
    if (type->subtype != GUID_NULL && type->subtype != MEDIASUBTYPE_PCM)
        return false;
    if (type->formattype == FORMAT_WaveFormatEx && type->cbFormat >= sizeof(WAVEFORMATEX))
        return std::memcmp(type->pbFormat, &kFormat, sizeof(WAVEFORMATEX) - sizeof(WORD)) == 0;
    return type->formattype == GUID_NULL || type->formattype == FORMAT_WaveFormatEx;
}

class SimSource;

// An enumerator over exactly one item, which `make` produces afresh for each caller.
template <class Enum, class Item> class OneItemEnumerator : public Enum
{
  public:
    OneItemEnumerator(REFIID iid, std::function<Item*()> make, bool done = false)
        : m_iid(iid), m_make(std::move(make)), m_done(done)
    {
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IUnknown && iid != m_iid)
            return *object = nullptr, E_NOINTERFACE;
        AddRef();
        *object = static_cast<Enum*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP Next(ULONG count, Item** items, ULONG* fetched) override
    {
        ULONG given = 0;
        if (count > 0 && !m_done)
        {
            if (!(items[given] = m_make()))
                return E_OUTOFMEMORY;
            ++given;
            m_done = true;
        }
        if (fetched)
            *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        if (count == 0)
            return S_OK;
        const bool skippedOne = !m_done && count == 1;
        m_done = true;
        return skippedOne ? S_OK : S_FALSE; // past the end
    }
    STDMETHODIMP Reset() override { return m_done = false, S_OK; }
    STDMETHODIMP Clone(Enum** clone) override
    {
        try
        {
            *clone = new OneItemEnumerator(m_iid, m_make, m_done);
            return S_OK;
        }
        catch (const std::bad_alloc&)
        {
            return *clone = nullptr, E_OUTOFMEMORY;
        }
    }

  private:
    virtual ~OneItemEnumerator() = default;
    LONG m_refs = 1;
    IID m_iid;
    std::function<Item*()> m_make;
    bool m_done;
};

// The one media type of the pin, as enumerators hand it out.
AM_MEDIA_TYPE* NewPcmType()
{
    auto* type = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    auto* format = static_cast<BYTE*>(::CoTaskMemAlloc(sizeof(kFormat)));
    if (!type || !format)
    {
        ::CoTaskMemFree(type);
        ::CoTaskMemFree(format);
        return nullptr;
    }
    *type = PcmType();
    std::memcpy(format, &kFormat, sizeof(kFormat));
    type->pbFormat = format;
    return type;
}

// The filter and its one pin in one object; the pin's interfaces share the filter's count.
class SimSource : public IBaseFilter
{
  public:
    SimSource();

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP GetClassID(CLSID* clsid) override { return *clsid = CLSID_SimAudioSource, S_OK; }
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override { return ChangeState(State_Paused); }
    STDMETHODIMP Run(REFERENCE_TIME) override { return ChangeState(State_Running); }
    // A live source has nothing to cue while paused.
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        *state = m_state;
        return m_state == State_Paused ? VFW_S_CANT_CUE : S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override { return *clock = nullptr, S_OK; }
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override
    {
        if (!id || wcscmp(id, kPinName) != 0)
            return *pin = nullptr, VFW_E_NOT_FOUND;
        *pin = &m_pin;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override
    {
        lstrcpynW(info->achName, m_name.c_str(), MAX_FILTER_NAME);
        info->pGraph = m_graph;
        if (m_graph)
            m_graph->AddRef();
        return S_OK;
    }
    // The graph holds the filter, not the other way round.
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override
    {
        m_graph = graph;
        m_name = name ? name : L"";
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    class Pin : public IPin, public IKsPropertySet
    {
      public:
        explicit Pin(SimSource& owner) : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override
        {
            if (iid == IID_IUnknown || iid == IID_IPin)
                *object = static_cast<IPin*>(this);
            else if (iid == IID_IKsPropertySet)
                *object = static_cast<IKsPropertySet*>(this);
            else
                return *object = nullptr, E_NOINTERFACE;
            AddRef();
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return m_owner.AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_owner.Release(); }
        STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override
        {
            return m_owner.Connect(receiver, type);
        }
        STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
        STDMETHODIMP Disconnect() override { return m_owner.Disconnect(); }
        STDMETHODIMP ConnectedTo(IPin** peer) override
        {
            *peer = m_owner.m_peer.CopyOut();
            return *peer ? S_OK : VFW_E_NOT_CONNECTED;
        }
        STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override
        {
            if (!m_owner.m_peer)
                return VFW_E_NOT_CONNECTED;
            *type = PcmType();
            type->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(sizeof(kFormat)));
            if (!type->pbFormat)
                return E_OUTOFMEMORY;
            std::memcpy(type->pbFormat, &kFormat, sizeof(kFormat));
            return S_OK;
        }
        STDMETHODIMP QueryPinInfo(PIN_INFO* info) override
        {
            info->pFilter = &m_owner;
            m_owner.AddRef();
            info->dir = PINDIR_OUTPUT;
            lstrcpynW(info->achName, kPinName, MAX_PIN_NAME);
            return S_OK;
        }
        STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override { return *direction = PINDIR_OUTPUT, S_OK; }
        STDMETHODIMP QueryId(LPWSTR* id) override
        {
            *id = static_cast<LPWSTR>(::CoTaskMemAlloc(sizeof(kPinName)));
            if (!*id)
                return E_OUTOFMEMORY;
            std::memcpy(*id, kPinName, sizeof(kPinName));
            return S_OK;
        }
        STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override { return IsOurType(type) ? S_OK : S_FALSE; }
        STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override
        {
            *types =
                new (std::nothrow) OneItemEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE>(IID_IEnumMediaTypes, &NewPcmType);
            return *types ? S_OK : E_OUTOFMEMORY;
        }
        STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
        STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
        STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
        STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
        STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

        STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
        STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) override
        {
            return GetCapturePinCategory(set, id, data, size, returned);
        }
        STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override
        {
            return QueryCapturePinCategory(set, id, support);
        }

      private:
        SimSource& m_owner;
    };

  private:
    virtual ~SimSource();

    HRESULT Connect(IPin* receiver, const AM_MEDIA_TYPE* type);
    HRESULT Disconnect();
    // Every change to Paused or Running goes through here; Stop ends the delivery thread too.
    HRESULT ChangeState(FILTER_STATE state);
    void Deliver();

    LONG m_refs = 1;
    Pin m_pin{*this};
    IFilterGraph* m_graph = nullptr;
    std::wstring m_name;
    ComPtr<IPin> m_peer;
    ComPtr<IMemInputPin> m_input;
    ComPtr<IMemAllocator> m_allocator;

    // Stream state, shared with the delivery thread: under m_lock, with m_wake for changes.
    std::mutex m_lock;
    std::condition_variable m_wake;
    FILTER_STATE m_state = State_Stopped;
    bool m_stopping = false;
    std::thread m_delivery;
};

// The sources alive now. A graph may outlive the dialog (the running-object table keeps it),
// so the device stops them all before the process tears down what their threads use.
std::mutex g_sourcesLock;
std::vector<SimSource*> g_sources;

SimSource::SimSource()
{
    std::lock_guard<std::mutex> guard(g_sourcesLock);
    g_sources.push_back(this); // may raise std::bad_alloc, which the factory turns into E_OUTOFMEMORY
}

// Out of the list first, so that StopAllSources never takes a reference to a source going away.
SimSource::~SimSource()
{
    {
        std::lock_guard<std::mutex> guard(g_sourcesLock);
        g_sources.erase(std::find(g_sources.begin(), g_sources.end(), this));
    }
    Stop();
}

void StopAllSources()
{
    std::vector<ComPtr<IBaseFilter>> live;
    {
        std::lock_guard<std::mutex> guard(g_sourcesLock);
        for (SimSource* source : g_sources)
            live.emplace_back(source);
    }
    for (const ComPtr<IBaseFilter>& source : live)
        (void)source->Stop();
}

STDMETHODIMP SimSource::QueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter)
    {
        *object = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The enumerator keeps the filter alive for as long as it can hand out its pin.
STDMETHODIMP SimSource::EnumPins(IEnumPins** pins)
{
    *pins = nullptr;
    try
    {
        ComPtr<IBaseFilter> self(this);
        *pins = new OneItemEnumerator<IEnumPins, IPin>(IID_IEnumPins,
                                                       [self, this]
                                                       {
                                                           m_pin.AddRef();
                                                           return static_cast<IPin*>(&m_pin);
                                                       });
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT SimSource::Connect(IPin* receiver, const AM_MEDIA_TYPE* type)
{
    if (!receiver)
        return E_POINTER;
    if (m_peer)
        return VFW_E_ALREADY_CONNECTED;
    if (!IsOurType(type))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const AM_MEDIA_TYPE ours = PcmType();
    HRESULT result = receiver->ReceiveConnection(&m_pin, &ours);
    if (FAILED(result))
        return result;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    if (FAILED(receiver->QueryInterface(IID_IMemInputPin, input.PutVoid())) ||
        (FAILED(input->GetAllocator(allocator.Put())) &&
         FAILED(::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                   allocator.PutVoid()))))
    {
        (void)receiver->Disconnect();
        return VFW_E_NO_TRANSPORT;
    }
    ALLOCATOR_PROPERTIES wanted = {4, kFramesPerBuffer * kBytesPerFrame, 1, 0};
    ALLOCATOR_PROPERTIES actual = {};
    result = allocator->SetProperties(&wanted, &actual);
    if (SUCCEEDED(result))
        result = input->NotifyAllocator(allocator.Get(), FALSE);
    if (FAILED(result))
    {
        (void)receiver->Disconnect();
        return result;
    }
    m_peer = ComPtr<IPin>(receiver);
    m_input = input;
    m_allocator = allocator;
    return S_OK;
}

// The delivery thread uses the peer's input and allocator while the filter is not stopped.
HRESULT SimSource::Disconnect()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_state != State_Stopped)
            return VFW_E_NOT_STOPPED;
    }
    if (!m_peer)
        return S_FALSE;
    m_peer.Reset();
    m_input.Reset();
    m_allocator.Reset();
    return S_OK;
}

// Pause never waits for the delivery thread: it may be blocked in a paused renderer.
HRESULT SimSource::ChangeState(FILTER_STATE state)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_state == State_Stopped && m_allocator && !m_delivery.joinable())
    {
        (void)m_allocator->Commit(); // a failure shows as a failed GetBuffer in the thread
        m_stopping = false;
        try
        {
            m_delivery = std::thread([this] { Deliver(); });
        }
        catch (const std::system_error&)
        {
            return E_OUTOFMEMORY;
        }
    }
    m_state = state;
    m_wake.notify_all();
    return S_OK;
}

STDMETHODIMP SimSource::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
        m_state = State_Stopped;
        m_wake.notify_all();
    }
    // Decommitting wakes a thread waiting for a buffer; it then sees m_stopping.
    if (m_allocator)
        (void)m_allocator->Decommit();
    if (m_delivery.joinable())
        m_delivery.join();
    std::lock_guard<std::mutex> guard(m_lock);
    m_stopping = false;
    return S_OK;
}

// Delivers 50 ms buffers at the pace of the wall clock while running. The samples carry no
// time stamps: a live source has no stream time to give, and the renderer plays them on arrival.
void SimSource::Deliver()
{
    (void)::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    double phase = 0;
    LARGE_INTEGER frequency;
    LARGE_INTEGER started;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&started);
    long long deliveredFrames = 0;
    for (;;)
    {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            if (m_state != State_Running && !m_stopping)
            {
                m_wake.wait(lock, [&] { return m_stopping || m_state == State_Running; });
                // Real time starts again from here: a pause is not made up for with a burst.
                ::QueryPerformanceCounter(&started);
                deliveredFrames = 0;
            }
            if (m_stopping)
                break;
        }
        ComPtr<IMediaSample> sample;
        if (FAILED(m_allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0)) || !sample)
            break;
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) || !data)
            break;
        // Never more than the allocator granted.
        const int frameCount = std::min<int>(kFramesPerBuffer, sample->GetSize() / kBytesPerFrame);
        const double tone = SimulatedToneHz();
        auto* frames = reinterpret_cast<short*>(data);
        for (int i = 0; i < frameCount; ++i)
        {
            const short value = tone > 0 ? static_cast<short>(kAmplitude * std::sin(phase)) : short{0};
            frames[2 * static_cast<size_t>(i)] = value;
            frames[2 * static_cast<size_t>(i) + 1] = value;
            phase = std::fmod(phase + 2 * 3.14159265358979323846 * tone / kRate, 2 * 3.14159265358979323846);
        }
        (void)sample->SetActualDataLength(frameCount * kBytesPerFrame);
        (void)sample->SetTime(nullptr, nullptr);
        (void)sample->SetSyncPoint(TRUE);
        if (m_input->Receive(sample.Get()) != S_OK)
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stopping)
                break;
        }
        // Keep to real time, a little ahead: the next buffer is due when this one has played.
        deliveredFrames += frameCount;
        const double due = static_cast<double>(deliveredFrames) / kRate - kLeadSeconds;
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        const double elapsed =
            static_cast<double>(now.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart);
        if (due > elapsed)
            ::Sleep(static_cast<DWORD>((due - elapsed) * 1000));
    }
    ::CoUninitialize();
}

class SourceFactory : public IClassFactory
{
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return *object = nullptr, E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // a static object
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        SimSource* source = nullptr;
        try
        {
            source = new SimSource();
        }
        catch (const std::bad_alloc&)
        {
            return E_OUTOFMEMORY;
        }
        const HRESULT result = source->QueryInterface(iid, object);
        source->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

SourceFactory g_factory;
} // namespace

double SimulatedToneHz()
{
    BYTE band = 0;
    WORD code = 0;
    if (!SimulatedReceiver::Instance().Tuning(&band, &code))
        return 0;
    // FM f MHz sounds at (f - 80) x 100 Hz, AM k kHz at k Hz. The FM code counts whole tenths.
    const int fmTenths = code / 8 - 107;
    if (band == 0x02)
        return (fmTenths / 10.0 - 80.0) * 100.0;
    if (band == 0x12)
        return code - 450.0;
    return 0;
}

SimAudioDevice::SimAudioDevice()
{
    (void)::CoRegisterClassObject(CLSID_SimAudioSource, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &m_cookie);
    ComPtr<IFilterMapper2> mapper;
    if (FAILED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IFilterMapper2, mapper.PutVoid())))
        return;
    const REGPINTYPES type = {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM};
    REGFILTERPINS2 pin = {};
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &type;
    REGFILTER2 registration = {};
    registration.dwVersion = 2;
    registration.dwMerit = MERIT_DO_NOT_USE;
    registration.cPins2 = 1;
    registration.rgPins2 = &pin;
    m_registered = SUCCEEDED(mapper->RegisterFilter(CLSID_SimAudioSource, kDeviceName, nullptr,
                                                    &CLSID_AudioInputDeviceCategory, nullptr, &registration));
}

SimAudioDevice::~SimAudioDevice()
{
    StopAllSources();
    ComPtr<IFilterMapper2> mapper;
    if (m_registered &&
        SUCCEEDED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IFilterMapper2, mapper.PutVoid())))
        (void)mapper->UnregisterFilter(&CLSID_AudioInputDeviceCategory, nullptr, CLSID_SimAudioSource);
    (void)::CoRevokeClassObject(m_cookie);
}
