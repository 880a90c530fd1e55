#include "TestFilters.h"

#include "graph/DShowHelpers.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace
{
std::atomic<LONG> g_liveObjects{0};

bool Accepts(const std::vector<TypePair>& accepted, const AM_MEDIA_TYPE& type)
{
    for (const TypePair& pair : accepted)
    {
        const bool major = pair.major == GUID_NULL || pair.major == type.majortype;
        const bool subtype = pair.subtype == GUID_NULL || pair.subtype == type.subtype;
        if (major && subtype)
            return true;
    }
    return false;
}

WAVEFORMATEX g_pcm = {WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};

// A media type of `pair`; its format block, when it has one, is borrowed from g_pcm.
AM_MEDIA_TYPE TypeOf(const TypePair& pair, bool pcmFormat)
{
    AM_MEDIA_TYPE type = {};
    type.majortype = pair.major;
    type.subtype = pair.subtype;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = pcmFormat ? g_pcm.nBlockAlign : 1;
    if (pcmFormat)
    {
        type.formattype = FORMAT_WaveFormatEx;
        type.cbFormat = sizeof(g_pcm);
        type.pbFormat = reinterpret_cast<BYTE*>(&g_pcm);
    }
    return type;
}

AM_MEDIA_TYPE* NewMediaType(const TypePair& pair, bool pcmFormat)
{
    auto* type = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    const AM_MEDIA_TYPE borrowed = TypeOf(pair, pcmFormat);
    if (type && FAILED(CopyMediaTypeRecord(type, &borrowed)))
    {
        ::CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

// A counted object whose count starts at 1 and that deletes itself at 0.
template <class Derived> class Counted
{
  public:
    Counted() { ++g_liveObjects; }
    virtual ~Counted() { --g_liveObjects; }
    ULONG AddRefImpl() { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    ULONG ReleaseImpl()
    {
        const LONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0)
            delete static_cast<Derived*>(this);
        return static_cast<ULONG>(left);
    }

  private:
    LONG m_refs = 1;
};

// An enumerator over a snapshot of items; `give` makes what the caller receives for one item.
template <class Enum, class Item, class Stored>
class VectorEnumerator : public Enum, public Counted<VectorEnumerator<Enum, Item, Stored>>
{
  public:
    using Give = std::function<Item*(const Stored&)>;
    VectorEnumerator(REFIID iid, std::vector<Stored> items, Give give, size_t position = 0, size_t failAfter = 0)
        : m_iid(iid), m_items(std::move(items)), m_give(std::move(give)), m_next(position), m_failAfter(failAfter)
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
    STDMETHODIMP_(ULONG) AddRef() override { return this->AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return this->ReleaseImpl(); }
    STDMETHODIMP Next(ULONG count, Item** items, ULONG* fetched) override
    {
        if (m_failAfter && m_next >= m_failAfter)
            return E_FAIL;
        ULONG given = 0;
        for (; given < count && m_next < m_items.size(); ++given)
            items[given] = m_give(m_items[m_next++]);
        if (fetched)
            *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        m_next += count;
        return m_next <= m_items.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        m_next = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Enum** clone) override
    {
        *clone = new VectorEnumerator(m_iid, m_items, m_give, m_next, m_failAfter);
        return S_OK;
    }

  private:
    IID m_iid;
    std::vector<Stored> m_items;
    Give m_give;
    size_t m_next;
    size_t m_failAfter; // Next fails once this many items were given; 0: never
};

template <class Interface> Interface* CopyOf(const ComPtr<Interface>& item)
{
    return item.CopyOut();
}

class TestFilter;

// A pin lives inside its filter: its count is the filter's.
class TestPin : public IPin, public IStreamBuilder, public IKsPropertySet
{
  public:
    TestPin(TestFilter& filter, TestPinShape shape, bool streamBuilder, HRESULT streamBuilderResult)
        : m_filter(filter), m_shape(std::move(shape)), m_streamBuilder(streamBuilder),
          m_streamBuilderResult(streamBuilderResult)
    {
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override
    {
        if (m_peer)
            return VFW_E_ALREADY_CONNECTED;
        if (m_shape.direction != PINDIR_OUTPUT || !receiver)
            return E_UNEXPECTED;
        for (const TypePair& offered : m_shape.types)
        {
            AM_MEDIA_TYPE candidate = TypeOf(offered, m_shape.pcmFormat);
            if (type)
            {
                if ((type->majortype != GUID_NULL && type->majortype != offered.major) ||
                    (type->subtype != GUID_NULL && type->subtype != offered.subtype))
                    continue;
                if (type->formattype != GUID_NULL)
                    candidate.formattype = type->formattype;
            }
            if (SUCCEEDED(receiver->ReceiveConnection(this, &candidate)))
            {
                m_peer = ComPtr<IPin>(receiver);
                m_type = offered;
                return S_OK;
            }
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override
    {
        if (m_peer)
            return VFW_E_ALREADY_CONNECTED;
        if (m_shape.direction != PINDIR_INPUT || !connector || !type)
            return E_UNEXPECTED;
        if (!Accepts(m_shape.types, *type) ||
            (m_shape.requiredFormat != GUID_NULL && type->formattype != m_shape.requiredFormat))
            return VFW_E_TYPE_NOT_ACCEPTED;
        m_peer = ComPtr<IPin>(connector);
        m_type = {type->majortype, type->subtype};
        return S_OK;
    }
    STDMETHODIMP Disconnect() override
    {
        if (!m_peer)
            return S_FALSE;
        m_peer.Reset();
        return S_OK;
    }
    STDMETHODIMP ConnectedTo(IPin** peer) override
    {
        *peer = m_peer.CopyOut();
        return *peer ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override
    {
        if (!m_peer)
            return VFW_E_NOT_CONNECTED;
        *type = {};
        type->majortype = m_type.major;
        type->subtype = m_type.subtype;
        return S_OK;
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override
    {
        *direction = m_shape.direction;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR* id) override
    {
        const size_t bytes = (m_shape.name.size() + 1) * sizeof(wchar_t);
        *id = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
        if (!*id)
            return E_OUTOFMEMORY;
        memcpy(*id, m_shape.name.c_str(), bytes);
        return S_OK;
    }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override
    {
        return type && Accepts(m_shape.types, *type) ? S_OK : S_FALSE;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override
    {
        const bool pcm = m_shape.pcmFormat;
        *types = new VectorEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE, TypePair>(
            IID_IEnumMediaTypes, m_shape.direction == PINDIR_OUTPUT ? m_shape.types : std::vector<TypePair>(),
            [pcm](const TypePair& pair) { return NewMediaType(pair, pcm); }, 0, m_shape.typesFailPartWay ? 1 : 0);
        return S_OK;
    }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
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

    STDMETHODIMP Render(IPin*, IGraphBuilder*) override { return m_streamBuilderResult; }
    STDMETHODIMP Backout(IPin*, IGraphBuilder*) override { return S_OK; }

    const TestPinShape& Shape() const { return m_shape; }

  private:
    TestFilter& m_filter;
    TestPinShape m_shape;
    bool m_streamBuilder;
    HRESULT m_streamBuilderResult;
    ComPtr<IPin> m_peer;
    TypePair m_type = {};
};

class TestFilter : public IBaseFilter, public Counted<TestFilter>
{
  public:
    explicit TestFilter(const TestFilterShape& shape) : m_shape(shape)
    {
        for (const TestPinShape& pin : shape.pins)
            m_pins.push_back(std::make_unique<TestPin>(
                *this, pin, shape.streamBuilder && pin.direction == PINDIR_OUTPUT, shape.streamBuilderResult));
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter)
        {
            AddRef();
            *object = static_cast<IBaseFilter*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    STDMETHODIMP GetClassID(CLSID* clsid) override
    {
        *clsid = m_shape.reportedClsid != GUID_NULL ? m_shape.reportedClsid : m_shape.clsid;
        return S_OK;
    }
    STDMETHODIMP Stop() override { return m_state = State_Stopped, S_OK; }
    STDMETHODIMP Pause() override { return m_state = State_Paused, S_OK; }
    STDMETHODIMP Run(REFERENCE_TIME) override { return m_state = State_Running, S_OK; }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override { return *state = m_state, S_OK; }
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override { return *clock = nullptr, S_OK; }
    STDMETHODIMP EnumPins(IEnumPins** pins) override
    {
        *pins = nullptr;
        if (m_shape.enumPinsFails)
            return E_FAIL;
        std::vector<ComPtr<IPin>> all;
        for (const auto& pin : m_pins)
            all.emplace_back(static_cast<IPin*>(pin.get()));
        *pins = new VectorEnumerator<IEnumPins, IPin, ComPtr<IPin>>(IID_IEnumPins, std::move(all), &CopyOf<IPin>);
        return S_OK;
    }
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override
    {
        for (const auto& candidate : m_pins)
        {
            if (candidate->Shape().name == id)
            {
                *pin = candidate.get();
                (*pin)->AddRef();
                return S_OK;
            }
        }
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override
    {
        lstrcpynW(info->achName, m_nameInGraph.c_str(), MAX_FILTER_NAME);
        info->pGraph = m_graph;
        if (m_graph)
            m_graph->AddRef();
        return S_OK;
    }
    // The graph does not hold a reference of the filter's: DirectShow's rule against cycles.
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override
    {
        if ((graph && m_shape.refusesGraphs) || (!graph && m_refusedLeaving++ < m_shape.refusesToLeave))
            return E_FAIL;
        m_graph = graph;
        m_nameInGraph = name ? name : L"";
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  private:
    TestFilterShape m_shape;
    std::vector<std::unique_ptr<TestPin>> m_pins;
    IFilterGraph* m_graph = nullptr;
    std::wstring m_nameInGraph;
    int m_refusedLeaving = 0;
    FILTER_STATE m_state = State_Stopped;
};

STDMETHODIMP TestPin::QueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IUnknown || iid == IID_IPin)
        *object = static_cast<IPin*>(this);
    else if (iid == IID_IStreamBuilder && m_streamBuilder)
        *object = static_cast<IStreamBuilder*>(this);
    else if (iid == IID_IKsPropertySet && m_shape.capture)
        *object = static_cast<IKsPropertySet*>(this);
    else
        return *object = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) TestPin::AddRef()
{
    return m_filter.AddRef();
}

STDMETHODIMP_(ULONG) TestPin::Release()
{
    return m_filter.Release();
}

STDMETHODIMP TestPin::QueryPinInfo(PIN_INFO* info)
{
    info->pFilter = m_shape.infoWithoutFilter ? nullptr : &m_filter;
    if (info->pFilter)
        m_filter.AddRef();
    info->dir = m_shape.direction;
    lstrcpynW(info->achName, m_shape.name.c_str(), MAX_PIN_NAME);
    return S_OK;
}
} // namespace

// The factory is infrastructure: it is not among the objects LiveTestObjects counts.
struct Factory : public IClassFactory
{
    explicit Factory(const TestFilterShape& shape) : m_shape(shape) {}
    virtual ~Factory() = default;
    ULONG AddRefImpl() { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    ULONG ReleaseImpl()
    {
        const LONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return *object = nullptr, E_NOINTERFACE;
        AddRef();
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (m_shape.refusesToBind)
            return E_FAIL;
        auto* filter = new TestFilter(m_shape);
        const HRESULT result = filter->QueryInterface(iid, object);
        filter->Release();
        if (SUCCEEDED(result))
            ++m_made;
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

    TestFilterShape m_shape;
    std::atomic<LONG> m_made{0};
    LONG m_refs = 1;
};

LONG LiveTestObjects()
{
    return g_liveObjects.load();
}

ComPtr<IBaseFilter> MakeTestFilter(const TestFilterShape& shape)
{
    ComPtr<IBaseFilter> filter;
    filter.Attach(new TestFilter(shape));
    return filter;
}

const GUID& TestCategory()
{
    // {5A4D0B7E-9C1F-4E5B-8E3A-2F9D6C7B1A01}
    static const GUID category = {0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, 0x1a, 0x01}};
    static const bool created = []
    {
        ComPtr<IFilterMapper2> mapper;
        if (FAILED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IFilterMapper2, mapper.PutVoid())))
            return false;
        return SUCCEEDED(
            mapper->CreateCategory(category, MERIT_NORMAL, const_cast<wchar_t*>(L"Wavelark test filters")));
    }();
    (void)created;
    return category;
}

namespace
{
// The display name of the device that `category` lists for `clsid`, or empty.
std::wstring FindDisplayName(const GUID& category, const CLSID& clsid)
{
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(
            ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum, devices.PutVoid())) ||
        devices->CreateClassEnumerator(category, monikers.Put(), 0) != S_OK)
        return {};
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Put(), nullptr) == S_OK)
    {
        ComPtr<IPropertyBag> bag;
        VARIANT value;
        ::VariantInit(&value);
        CLSID registered = GUID_NULL;
        const bool matches = SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) &&
                             SUCCEEDED(bag->Read(L"CLSID", &value, nullptr)) && value.vt == VT_BSTR &&
                             SUCCEEDED(::CLSIDFromString(value.bstrVal, &registered)) && registered == clsid;
        ::VariantClear(&value);
        LPOLESTR name = nullptr;
        if (matches && SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &name)) && name)
        {
            std::wstring displayName = name;
            ::CoTaskMemFree(name);
            return displayName;
        }
    }
    return {};
}
} // namespace

RegisteredTestFilter::RegisteredTestFilter(const TestFilterShape& shape, DWORD merit, bool withMapper,
                                           const GUID* category)
    : m_clsid(shape.clsid), m_category(category ? *category : TestCategory()), m_factory(new Factory(shape))
{
    (void)::CoRegisterClassObject(m_clsid, static_cast<IClassFactory*>(m_factory), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &m_cookie);
    if (!withMapper)
        return;
    std::vector<std::vector<REGPINTYPES>> types;
    std::vector<REGFILTERPINS2> pins;
    for (const TestPinShape& pin : shape.pins)
    {
        std::vector<REGPINTYPES> pinTypes;
        for (const TypePair& pair : pin.types)
            pinTypes.push_back({&pair.major, &pair.subtype});
        types.push_back(std::move(pinTypes));
    }
    for (size_t i = 0; i < shape.pins.size(); ++i)
    {
        REGFILTERPINS2 pin = {};
        pin.dwFlags = shape.pins[i].direction == PINDIR_OUTPUT ? REG_PINFLAG_B_OUTPUT : 0;
        pin.cInstances = 1;
        pin.nMediaTypes = static_cast<UINT>(types[i].size());
        pin.lpMediaType = types[i].data();
        pins.push_back(pin);
    }
    REGFILTER2 registration = {};
    registration.dwVersion = 2;
    registration.dwMerit = merit;
    registration.cPins2 = static_cast<ULONG>(pins.size());
    registration.rgPins2 = pins.data();
    ComPtr<IFilterMapper2> mapper;
    if (SUCCEEDED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IFilterMapper2, mapper.PutVoid())))
        m_registered = SUCCEEDED(
            mapper->RegisterFilter(m_clsid, shape.name.c_str(), nullptr, &m_category, nullptr, &registration));
    m_displayName = FindDisplayName(m_category, m_clsid);
}

RegisteredTestFilter::~RegisteredTestFilter()
{
    if (m_registered)
    {
        ComPtr<IFilterMapper2> mapper;
        if (SUCCEEDED(
                ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IFilterMapper2, mapper.PutVoid())))
            (void)mapper->UnregisterFilter(&m_category, nullptr, m_clsid);
    }
    (void)::CoRevokeClassObject(m_cookie);
    m_factory->Release();
}

LONG RegisteredTestFilter::Made() const
{
    return m_factory->m_made.load();
}

std::vector<std::wstring> GraphFilterNames(IGraphBuilder* graph)
{
    std::vector<std::wstring> names;
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.Put())))
        return names;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.Put(), nullptr) == S_OK)
        names.push_back(GetFilterName(filter.Get()));
    return names;
}

std::wstring PeerFilterName(IPin* pin)
{
    ComPtr<IPin> peer;
    if (!pin || FAILED(pin->ConnectedTo(peer.Put())))
        return {};
    ComPtr<IBaseFilter> owner(GetFilterFromPin(peer.Get()));
    return GetFilterName(owner.Get());
}

ComPtr<IPin> FindPin(IBaseFilter* filter, const wchar_t* name)
{
    ComPtr<IPin> pin;
    (void)filter->FindPin(name, pin.Put());
    return pin;
}

namespace
{
// Wine's graph has no filter cache: this one forwards the graph and keeps a cache of its own.
class CachingGraph : public IGraphBuilder, public IGraphConfig, public Counted<CachingGraph>
{
  public:
    explicit CachingGraph(IGraphBuilder* inner) : m_inner(inner) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IFilterGraph || iid == IID_IGraphBuilder)
            *object = static_cast<IGraphBuilder*>(this);
        else if (iid == IID_IGraphConfig)
            *object = static_cast<IGraphConfig*>(this);
        else
            return *object = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

    STDMETHODIMP AddFilter(IBaseFilter* f, LPCWSTR n) override { return m_inner->AddFilter(f, n); }
    STDMETHODIMP RemoveFilter(IBaseFilter* f) override { return m_inner->RemoveFilter(f); }
    STDMETHODIMP EnumFilters(IEnumFilters** e) override { return m_inner->EnumFilters(e); }
    STDMETHODIMP FindFilterByName(LPCWSTR n, IBaseFilter** f) override { return m_inner->FindFilterByName(n, f); }
    STDMETHODIMP ConnectDirect(IPin* o, IPin* i, const AM_MEDIA_TYPE* t) override
    {
        return m_inner->ConnectDirect(o, i, t);
    }
    STDMETHODIMP Reconnect(IPin* p) override { return m_inner->Reconnect(p); }
    STDMETHODIMP Disconnect(IPin* p) override { return m_inner->Disconnect(p); }
    STDMETHODIMP SetDefaultSyncSource() override { return m_inner->SetDefaultSyncSource(); }
    STDMETHODIMP Connect(IPin* o, IPin* i) override { return m_inner->Connect(o, i); }
    STDMETHODIMP Render(IPin* o) override { return m_inner->Render(o); }
    STDMETHODIMP RenderFile(LPCWSTR f, LPCWSTR p) override { return m_inner->RenderFile(f, p); }
    STDMETHODIMP AddSourceFilter(LPCWSTR f, LPCWSTR n, IBaseFilter** b) override
    {
        return m_inner->AddSourceFilter(f, n, b);
    }
    STDMETHODIMP SetLogFile(DWORD_PTR h) override { return m_inner->SetLogFile(h); }
    STDMETHODIMP Abort() override { return m_inner->Abort(); }
    STDMETHODIMP ShouldOperationContinue() override { return m_inner->ShouldOperationContinue(); }

    STDMETHODIMP Reconnect(IPin*, IPin*, const AM_MEDIA_TYPE*, IBaseFilter*, HANDLE, DWORD) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Reconfigure(IGraphConfigCallback*, PVOID, DWORD, HANDLE) override { return E_NOTIMPL; }
    STDMETHODIMP AddFilterToCache(IBaseFilter* filter) override
    {
        m_cache.emplace_back(filter);
        return S_OK;
    }
    STDMETHODIMP EnumCacheFilter(IEnumFilters** filters) override
    {
        *filters = new VectorEnumerator<IEnumFilters, IBaseFilter, ComPtr<IBaseFilter>>(IID_IEnumFilters, m_cache,
                                                                                        &CopyOf<IBaseFilter>);
        return S_OK;
    }
    STDMETHODIMP RemoveFilterFromCache(IBaseFilter* filter) override
    {
        const auto found = std::find_if(m_cache.begin(), m_cache.end(),
                                        [&](const ComPtr<IBaseFilter>& f) { return f.Get() == filter; });
        if (found == m_cache.end())
            return S_FALSE;
        m_cache.erase(found);
        return S_OK;
    }
    STDMETHODIMP GetStartTime(REFERENCE_TIME*) override { return E_NOTIMPL; }
    STDMETHODIMP PushThroughData(IPin*, IPinConnection*, HANDLE) override { return E_NOTIMPL; }
    STDMETHODIMP SetFilterFlags(IBaseFilter*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetFilterFlags(IBaseFilter*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFilterEx(IBaseFilter*, DWORD) override { return E_NOTIMPL; }

  private:
    ComPtr<IGraphBuilder> m_inner;
    std::vector<ComPtr<IBaseFilter>> m_cache;
};
} // namespace

ComPtr<IGraphBuilder> MakeCachingGraph(IGraphBuilder* inner)
{
    ComPtr<IGraphBuilder> graph;
    graph.Attach(new CachingGraph(inner));
    return graph;
}

namespace
{
struct RefusingFactory : public IClassFactory
{
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return *object = nullptr, E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // a static object
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** object) override
    {
        *object = nullptr;
        return E_FAIL;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

RefusingFactory g_refusingFactory;
} // namespace

RefusedClass::RefusedClass(const CLSID& clsid)
{
    (void)::CoRegisterClassObject(clsid, &g_refusingFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie);
}

RefusedClass::~RefusedClass()
{
    (void)::CoRevokeClassObject(m_cookie);
}

namespace
{
class Spy final : public IMallocSpy
{
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IUnknown && iid != IID_IMallocSpy)
            return *object = nullptr, E_NOINTERFACE;
        *object = static_cast<IMallocSpy*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // a static object
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return size; }
    STDMETHODIMP_(void*) PostAlloc(void* block) override
    {
        if (block && m_failNext)
        {
            m_failNext = false;
            m_withheld.push_back(block); // given back once the spy is gone
            return nullptr;
        }
        if (block)
            ++m_outstanding;
        return block;
    }
    STDMETHODIMP_(void*) PreFree(void* block, BOOL spyed) override
    {
        if (block && spyed)
            --m_outstanding;
        return block;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override
    {
        *newBlock = block;
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

    long m_outstanding = 0;
    bool m_failNext = false;
    std::vector<void*> m_withheld;
};

Spy g_spy;
} // namespace

TaskMemorySpy::TaskMemorySpy()
{
    g_spy.m_outstanding = 0;
    g_spy.m_failNext = false;
    (void)::CoRegisterMallocSpy(&g_spy); // a spy that is not there counts nothing, and the test sees it
}

TaskMemorySpy::~TaskMemorySpy()
{
    (void)::CoRevokeMallocSpy(); // deferred while blocks made under it live; nothing to do then
    for (void* block : g_spy.m_withheld)
        ::CoTaskMemFree(block);
    g_spy.m_withheld.clear();
}

long TaskMemorySpy::Outstanding() const
{
    return g_spy.m_outstanding;
}

void TaskMemorySpy::FailNextAllocation()
{
    g_spy.m_failNext = true;
}
