#include "com/ComBase.h"

#include "com/MediaType.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>

AM_MEDIA_TYPE* NewMediaType(const AM_MEDIA_TYPE& type)
{
    auto* copy = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (copy && FAILED(CopyMediaTypeRecord(copy, &type)))
    {
        ::CoTaskMemFree(copy);
        return nullptr;
    }
    return copy;
}

bool SameKind(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b)
{
    return (a.majortype == GUID_NULL || b.majortype == GUID_NULL || a.majortype == b.majortype) &&
           (a.subtype == GUID_NULL || b.subtype == GUID_NULL || a.subtype == b.subtype);
}

PinBase::PinBase(IBaseFilter& filter, std::wstring name, PIN_DIRECTION direction, bool capture)
    : ComObject(&filter), m_filter(filter), m_name(std::move(name)), m_direction(direction), m_capture(capture)
{
}

void* PinBase::Find(REFIID iid)
{
    if (iid == IID_IPin)
        return static_cast<IPin*>(this);
    return iid == IID_IKsPropertySet && m_capture ? static_cast<IKsPropertySet*>(this) : nullptr;
}

STDMETHODIMP PinBase::Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted)
{
    if (!receiver)
        return E_POINTER;
    if (m_peer)
        return VFW_E_ALREADY_CONNECTED;
    if (m_direction != PINDIR_OUTPUT)
        return E_UNEXPECTED;
    if (wanted && !Accepts(*wanted))
        return VFW_E_TYPE_NOT_ACCEPTED;
    AM_MEDIA_TYPE type = {};
    for (size_t index = 0; index < TypeCount() && OfferedType(index, &type); ++index)
    {
        if (wanted && type.formattype == GUID_NULL)
            type.formattype = wanted->formattype;
        if ((wanted && !SameKind(*wanted, type)) || FAILED(receiver->ReceiveConnection(this, &type)))
            continue;
        HRESULT result = m_type.Assign(type);
        if (SUCCEEDED(result))
            result = CompleteConnect(receiver);
        if (FAILED(result))
            return result;
        m_peer = ComPtr<IPin>(receiver);
        return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

STDMETHODIMP PinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    if (!connector || !type)
        return E_POINTER;
    if (m_peer)
        return VFW_E_ALREADY_CONNECTED;
    if (m_direction != PINDIR_INPUT)
        return E_UNEXPECTED;
    if (!Accepts(*type))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const HRESULT result = m_type.Assign(*type);
    if (SUCCEEDED(result))
        m_peer = ComPtr<IPin>(connector);
    return result;
}

STDMETHODIMP PinBase::ConnectionMediaType(AM_MEDIA_TYPE* type)
{
    return m_peer ? CopyMediaTypeRecord(type, &m_type) : VFW_E_NOT_CONNECTED;
}

// The enumerator keeps the pin's filter alive for as long as it can hand out types.
STDMETHODIMP PinBase::EnumMediaTypes(IEnumMediaTypes** types)
{
    ComPtr<IPin> self(this);
    return Enumerator<IEnumMediaTypes, AM_MEDIA_TYPE>::Make(
        IID_IEnumMediaTypes, m_direction == PINDIR_OUTPUT ? TypeCount() : 0,
        [self, this](size_t index)
        {
            AM_MEDIA_TYPE type = {};
            return OfferedType(index, &type) ? NewMediaType(type) : nullptr;
        },
        types);
}

STDMETHODIMP PinBase::Disconnect()
{
    if (!m_peer)
        return S_FALSE;
    m_peer.Reset();
    return S_OK;
}

STDMETHODIMP PinBase::ConnectedTo(IPin** peer)
{
    *peer = m_peer.CopyOut();
    return *peer ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP PinBase::QueryPinInfo(PIN_INFO* info)
{
    info->pFilter = &m_filter;
    m_filter.AddRef();
    info->dir = m_direction;
    lstrcpynW(info->achName, m_name.c_str(), MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP PinBase::QueryDirection(PIN_DIRECTION* direction)
{
    *direction = m_direction;
    return S_OK;
}

STDMETHODIMP PinBase::QueryId(LPWSTR* id)
{
    const size_t bytes = (m_name.size() + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (!*id)
        return E_OUTOFMEMORY;
    std::memcpy(*id, m_name.c_str(), bytes);
    return S_OK;
}

// The pin category is the one property a capture pin answers: PIN_CATEGORY_CAPTURE.
STDMETHODIMP PinBase::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned)
{
    if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY)
        return E_NOTIMPL;
    if (!data || size < sizeof(GUID))
        return E_POINTER;
    *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
    if (returned)
        *returned = sizeof(GUID);
    return S_OK;
}

STDMETHODIMP PinBase::QuerySupported(REFGUID set, DWORD id, DWORD* support)
{
    if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY)
        return E_NOTIMPL;
    if (support)
        *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

void* FilterBase::Find(REFIID iid)
{
    const bool known = iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter;
    return known ? static_cast<IBaseFilter*>(this) : nullptr;
}

// The enumerator keeps the filter alive for as long as it can hand out its pins.
STDMETHODIMP FilterBase::EnumPins(IEnumPins** pins)
{
    ComPtr<IBaseFilter> self(this);
    return Enumerator<IEnumPins, IPin>::Make(
        IID_IEnumPins, PinCount(),
        [self, this](size_t index)
        {
            IPin* pin = &PinAt(index);
            pin->AddRef();
            return pin;
        },
        pins);
}

STDMETHODIMP FilterBase::FindPin(LPCWSTR id, IPin** pin)
{
    *pin = nullptr;
    for (size_t index = 0; id && index < PinCount(); ++index)
    {
        if (PinAt(index).Name() == id)
        {
            *pin = &PinAt(index);
            (*pin)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP FilterBase::QueryFilterInfo(FILTER_INFO* info)
{
    lstrcpynW(info->achName, m_nameInGraph.c_str(), MAX_FILTER_NAME);
    info->pGraph = m_graph;
    if (m_graph)
        m_graph->AddRef();
    return S_OK;
}

STDMETHODIMP FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    try
    {
        m_nameInGraph = name ? name : L"";
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    m_graph = graph;
    return S_OK;
}

HRESULT RegisterFilterClass(const CLSID& clsid, const wchar_t* name, const GUID& category, DWORD merit,
                            const std::vector<RegisteredPin>& pins)
{
    ComPtr<IFilterMapper2> mapper;
    const HRESULT made =
        ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IFilterMapper2, mapper.PutVoid());
    if (FAILED(made))
        return made;
    std::vector<std::vector<REGPINTYPES>> types;
    std::vector<REGFILTERPINS2> registeredPins;
    for (const RegisteredPin& pin : pins)
    {
        std::vector<REGPINTYPES>& pinTypes = types.emplace_back();
        for (const TypePair& pair : pin.types)
            pinTypes.push_back({&pair.major, &pair.subtype});
        REGFILTERPINS2& entry = registeredPins.emplace_back();
        entry.dwFlags = pin.output ? REG_PINFLAG_B_OUTPUT : 0;
        entry.cInstances = 1;
        entry.nMediaTypes = static_cast<UINT>(pinTypes.size());
        entry.lpMediaType = pinTypes.data();
    }
    REGFILTER2 registration = {};
    registration.dwVersion = 2;
    registration.dwMerit = merit;
    registration.cPins2 = static_cast<ULONG>(registeredPins.size());
    registration.rgPins2 = registeredPins.data();
    return mapper->RegisterFilter(clsid, name, nullptr, &category, nullptr, &registration);
}

void UnregisterFilterClass(const CLSID& clsid, const GUID& category)
{
    ComPtr<IFilterMapper2> mapper;
    if (SUCCEEDED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IFilterMapper2, mapper.PutVoid())))
        (void)mapper->UnregisterFilter(&category, nullptr, clsid); // gone with the prefix at worst
}

ServedFilter::ServedFilter(const CLSID& clsid, const wchar_t* name, FilterFactory::Make make, const GUID* category,
                           DWORD merit, const std::vector<RegisteredPin>& pins)
    : m_clsid(clsid), m_factory(std::move(make))
{
    (void)::CoRegisterClassObject(m_clsid, &m_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &m_cookie); // unserved, nothing can be made: callers see that
    if (!category)
        return;
    m_category = *category;
    m_registered = SUCCEEDED(RegisterFilterClass(m_clsid, name, m_category, merit, pins));
}

ServedFilter::~ServedFilter()
{
    if (m_registered)
        UnregisterFilterClass(m_clsid, m_category);
    (void)::CoRevokeClassObject(m_cookie);
}

STDMETHODIMP FilterFactory::QueryInterface(REFIID iid, void** object)
{
    if (iid != IID_IUnknown && iid != IID_IClassFactory)
        return *object = nullptr, E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
}

STDMETHODIMP FilterFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    IUnknown* made = nullptr;
    try
    {
        made = m_make();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    if (!made)
        return E_FAIL;
    const HRESULT result = made->QueryInterface(iid, object);
    made->Release();
    return result;
}
