#include "support/FakeFilter.h"

#include "graph/DShowHelpers.h"
#include "graph/EnumItems.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>

namespace
{
AM_MEDIA_TYPE TypeOf(const TypePair& pair)
{
    AM_MEDIA_TYPE type = {};
    type.majortype = pair.major;
    type.subtype = pair.subtype;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = 1;
    return type;
}

// Says S_OK and hands back nothing, however often it is asked, as a broken installed filter may.
template <class Enum, class Item> class HollowEnumerator final : public ComObject<Enum>
{
  public:
    static HRESULT Make(Enum** made) { return *made = new HollowEnumerator(), S_OK; }

    STDMETHODIMP Next(ULONG, Item** items, ULONG* fetched) override
    {
        items[0] = nullptr;
        if (fetched)
            *fetched = 0;
        return S_OK;
    }
    STDMETHODIMP Skip(ULONG) override { return S_OK; }
    STDMETHODIMP Reset() override { return S_OK; }
    STDMETHODIMP Clone(Enum** clone) override { return Make(clone); }

  private:
    void* Find(REFIID iid) override { return iid == __uuidof(Enum) ? static_cast<Enum*>(this) : nullptr; }
};

class FakePinObject final : public PinBase, public IStreamBuilder, public IMemInputPin
{
  public:
    FakePinObject(IBaseFilter& filter, const FakePin& shape, HRESULT streamBuilder)
        : PinBase(filter, shape.name, shape.direction, false), m_shape(shape), m_streamBuilder(streamBuilder)
    {
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return PinBase::QueryInterface(iid, object); }
    STDMETHODIMP_(ULONG) AddRef() override { return PinBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return PinBase::Release(); }

    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override
    {
        const HRESULT result = PinBase::QueryPinInfo(info);
        if (m_shape.orphan)
            info->pFilter->Release(), info->pFilter = nullptr;
        return result;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override
    {
        if (m_shape.typesGiveNothing)
            return HollowEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE>::Make(types);
        return PinBase::EnumMediaTypes(types);
    }
    STDMETHODIMP Render(IPin*, IGraphBuilder*) override { return m_streamBuilder; }
    STDMETHODIMP Backout(IPin*, IGraphBuilder*) override { return S_OK; }
    STDMETHODIMP GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override { return m_shape.receive(sample), S_OK; }
    STDMETHODIMP ReceiveMultiple(IMediaSample**, long, long*) override { return E_NOTIMPL; }
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

  private:
    size_t TypeCount() const override { return m_shape.types.size(); }
    bool OfferedType(size_t index, AM_MEDIA_TYPE* type) const override
    {
        return (index == 0 || !m_shape.typesFailPartWay) && (*type = TypeOf(m_shape.types[index]), true);
    }
    bool Accepts(const AM_MEDIA_TYPE& type) const override
    {
        return std::any_of(m_shape.types.begin(), m_shape.types.end(),
                           [&](const TypePair& pair) { return SameKind(TypeOf(pair), type); }) &&
               (m_shape.requiredFormat == GUID_NULL || type.formattype == m_shape.requiredFormat);
    }
    void* Find(REFIID iid) override
    {
        const bool builds = iid == IID_IStreamBuilder && m_streamBuilder != E_NOINTERFACE;
        if (iid == IID_IMemInputPin && m_shape.receive)
            return static_cast<IMemInputPin*>(this);
        return builds ? static_cast<IStreamBuilder*>(this) : PinBase::Find(iid);
    }

    FakePin m_shape;
    HRESULT m_streamBuilder;
};

class FakeFilter final : public FilterBase
{
  public:
    explicit FakeFilter(const FakeShape& shape)
        : FilterBase(shape.reportedClsid != GUID_NULL ? shape.reportedClsid : shape.clsid), m_shape(shape)
    {
        for (const FakePin& pin : shape.pins)
            m_pins.push_back(std::make_unique<FakePinObject>(
                *this, pin, pin.direction == PINDIR_OUTPUT ? shape.streamBuilder : E_NOINTERFACE));
    }
    STDMETHODIMP EnumPins(IEnumPins** pins) override
    {
        // Only its first pin list is hollow: the platform's own graph, which lists the pins of a
        // filter it removes, trusts an S_OK as the player once did.
        if (m_shape.pinsGiveNothing && !m_pinsListed++)
            return HollowEnumerator<IEnumPins, IPin>::Make(pins);
        return m_shape.enumPinsFails ? (*pins = nullptr, E_FAIL) : FilterBase::EnumPins(pins);
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override
    {
        if ((graph && m_shape.refusesGraphs) || (!graph && m_refusedLeaving++ < m_shape.refusesToLeave))
            return E_FAIL;
        return FilterBase::JoinFilterGraph(graph, name);
    }

  private:
    size_t PinCount() const override { return m_pins.size(); }
    PinBase& PinAt(size_t index) override { return *m_pins[index]; }

    FakeShape m_shape;
    std::vector<std::unique_ptr<FakePinObject>> m_pins;
    int m_refusedLeaving = 0;
    int m_pinsListed = 0;
};
} // namespace

ComPtr<IBaseFilter> MakeFake(const FakeShape& shape)
{
    ComPtr<IBaseFilter> filter;
    filter.Attach(new FakeFilter(shape));
    return filter;
}

RegisteredFake::RegisteredFake(const FakeShape& shape, DWORD merit, const GUID* category)
    : m_category(category ? *category : GUID_NULL), m_clsid(shape.clsid),
      m_served(
          shape.clsid, shape.name.c_str(),
          [shape, made = m_made]() -> IUnknown*
          { return shape.refusesToBind ? nullptr : (++*made, static_cast<IBaseFilter*>(new FakeFilter(shape))); },
          category, merit,
          [&]
          {
              std::vector<RegisteredPin> pins;
              for (const FakePin& pin : shape.pins)
                  pins.push_back({pin.direction == PINDIR_OUTPUT, pin.types});
              return pins;
          }())
{
}

std::wstring RegisteredFake::DisplayName() const
{
    return L"@device:sw:" + WideFromText(CStringFromGUID(m_category)) + L"\\" + WideFromText(CStringFromGUID(m_clsid));
}

std::wstring GraphFilterNames(IGraphBuilder* graph)
{
    std::vector<std::wstring> names;
    ComPtr<IEnumFilters> filters;
    ComPtr<IBaseFilter> filter;
    if (SUCCEEDED(graph->EnumFilters(filters.Put())))
        while (NextItem(filters.Get(), filter))
            names.push_back(GetFilterName(filter.Get()));
    std::sort(names.begin(), names.end());
    std::wstring joined;
    for (const std::wstring& name : names)
        joined += (joined.empty() ? L"" : L",") + name;
    return joined;
}

std::wstring PeerFilterName(IPin* pin)
{
    ComPtr<IPin> peer;
    if (!pin || FAILED(pin->ConnectedTo(peer.Put())))
        return {};
    return GetFilterName(ComPtr<IBaseFilter>(GetFilterFromPin(peer.Get())).Get());
}

ComPtr<IPin> FindPin(IBaseFilter* filter, const wchar_t* name)
{
    ComPtr<IPin> pin;
    (void)filter->FindPin(name, pin.Put()); // null when there is none
    return pin;
}
