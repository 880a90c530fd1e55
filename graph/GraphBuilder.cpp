#include "graph/GraphBuilder.h"

#include "framework/Exceptions.h"
#include "graph/ComRecords.h"
#include "graph/DShowHelpers.h"
#include "graph/EnumItems.h"
#include "graph/SortFilter.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>

namespace
{
// Filters of this class get the property that asks for high-resolution output.
const CLSID kDmoWrapperFilter = {0x94297043, 0xbd82, 0x4dfd, {0xb0, 0xde, 0x81, 0x77, 0x73, 0x9c, 0x6d, 0x20}};
const char kBlockedForEveryBuilder[] = "{48025243-2D39-11CE-875D-00608CB78066}";
const char kBlockedForCapture[] = "{D3CD7858-971A-4838-ACEC-40CA5D529DC8}";
constexpr DWORD kLowestRegistryMerit = static_cast<DWORD>(MERIT64_DEFAULT >> 16);
constexpr size_t kMaxChainDepth = 16;

bool Contains(const FilterList& filters, IBaseFilter* filter)
{
    return std::any_of(filters.begin(), filters.end(), [&](const ComPtr<IBaseFilter>& f) { return f.Get() == filter; });
}

bool IsFree(IPin* pin)
{
    ComPtr<IPin> peer;
    return FAILED(pin->ConnectedTo(peer.Put()));
}

bool HasDirection(IPin* pin, PIN_DIRECTION wanted)
{
    PIN_DIRECTION direction;
    return SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted;
}

// Keeps a candidate on the chain for as long as its downstream part is being built.
class PathEntry
{
  public:
    PathEntry(std::vector<CGraphFilter*>& path, CGraphFilter* filter) : m_path(path)
    {
        GrowOrRaise([&] { m_path.push_back(filter); });
    }
    ~PathEntry() { m_path.pop_back(); }
    PathEntry(const PathEntry&) = delete;
    PathEntry& operator=(const PathEntry&) = delete;

  private:
    std::vector<CGraphFilter*>& m_path;
};
} // namespace

CGraphBuilder::CGraphBuilder(IGraphBuilder* graph) : m_graph(graph)
{
    if (FAILED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IFilterMapper2, m_mapper.PutVoid())) ||
        !m_mapper)
        return;
    AddBlockedClass(kBlockedForEveryBuilder);
}

CGraphBuilderCapture::CGraphBuilderCapture(IGraphBuilder* graph) : CGraphBuilderFile(graph)
{
    AddBlockedClass(kBlockedForCapture);
}

void CGraphBuilder::AddBlockedClass(const char* clsid)
{
    CGraphFilter* entry = nullptr;
    GrowOrRaise([&] { entry = new CGraphRegFilter(GUIDFromCString(clsid), MERIT64_BLOCKED); });
    AddOwnFilter(entry);
}

void CGraphBuilder::AddOwnFilter(CGraphFilter* filter)
{
    std::unique_ptr<CGraphFilter> owned(filter); // deleted here if the list cannot take it
    if (owned)
        GrowOrRaise([&] { m_ownFilters.push_back(std::move(owned)); });
}

// Exhausted memory anywhere below reaches the caller as the framework's memory exception.
HRESULT CGraphBuilder::RenderPin(IPin* pin)
{
    HRESULT result = E_FAIL;
    GrowOrRaise([&] { result = RenderPinSteps(pin); });
    return result;
}

HRESULT CGraphBuilder::RenderPinSteps(IPin* pin)
{
    if (!m_graph || !m_mapper || !pin)
        return E_FAIL;
    if (!HasDirection(pin, PINDIR_OUTPUT) || !IsFree(pin))
        return E_UNEXPECTED;
    if (RenderThroughStreamBuilder(pin))
        return S_OK;
    HRESULT result = E_FAIL;
    if (RenderThroughCache(pin, &result))
        return result;
    if (!dynamic_cast<CGraphBuilderCapture*>(this) && RenderThroughGraphFilters(pin, &result))
        return result;
    return RenderThroughCandidates(pin);
}

bool CGraphBuilder::RenderThroughStreamBuilder(IPin* pin)
{
    ComPtr<IStreamBuilder> builder = ComPtr<IPin>(pin).As<IStreamBuilder>(IID_IStreamBuilder);
    if (!builder)
        return false;
    FilterList snapshot;
    ListGraphFilters(snapshot);
    if (SUCCEEDED(builder->Render(pin, m_graph.Get())))
        return true;
    (void)builder->Backout(pin, m_graph.Get()); // whatever it leaves goes with the snapshot
    RemoveFiltersNotIn(snapshot);
    return false;
}

bool CGraphBuilder::RenderThroughCache(IPin* pin, HRESULT* result)
{
    ComPtr<IGraphConfig> config = m_graph.As<IGraphConfig>(IID_IGraphConfig);
    ComPtr<IEnumFilters> cached;
    if (!config || FAILED(config->EnumCacheFilter(cached.Put())) || !cached)
        return false;
    ComPtr<IBaseFilter> filter;
    while (NextItem(cached.Get(), filter))
    {
        FilterList snapshot;
        ListGraphFilters(snapshot);
        (void)config->RemoveFilterFromCache(filter.Get());
        if (SUCCEEDED(ConnectFilter(pin, filter.Get())))
        {
            *result = RenderFilter(filter.Get());
            if (SUCCEEDED(*result))
                return true;
        }
        (void)config->AddFilterToCache(filter.Get());
        RemoveFiltersNotIn(snapshot);
    }
    return false;
}

// A pin that connects here and whose rendering fails stays as it is: this step undoes nothing.
bool CGraphBuilder::RenderThroughGraphFilters(IPin* pin, HRESULT* result)
{
    FilterList filters;
    ListGraphFilters(filters);
    for (const ComPtr<IBaseFilter>& filter : filters)
    {
        if (FAILED(ConnectFilter(pin, filter.Get())))
            continue;
        *result = RenderFilter(filter.Get());
        if (SUCCEEDED(*result))
            return true;
    }
    return false;
}

HRESULT CGraphBuilder::RenderThroughCandidates(IPin* pin)
{
    // The last guard against a chain that never ends (filters that keep taking what they give):
    // real chains are a few filters deep, and each level costs stack and a registry query.
    if (m_path.size() >= kMaxChainDepth)
        return E_FAIL;
    std::vector<GUID> pairs;
    GetPinTypePairs(pin, pairs);
    std::vector<std::unique_ptr<CGraphRegFilter>> registry;
    if (!pairs.empty())
        GatherRegistryCandidates(pairs, registry);

    std::vector<CGraphFilter*> candidates;
    GrowOrRaise(
        [&]
        {
            for (const auto& candidate : registry)
            {
                if (!OnPath(*candidate))
                    candidates.push_back(candidate.get());
            }
            for (const auto& own : m_ownFilters)
            {
                const bool onPath = std::find(m_path.begin(), m_path.end(), own.get()) != m_path.end();
                if (own->m_merit >= MERIT64_DEFAULT && !onPath && own->CheckTypes(pairs))
                    candidates.push_back(own.get());
            }
        });

    for (const SortFilter& entry : OrderCandidates(candidates, pairs))
    {
        const HRESULT rendered = TryCandidate(pin, *entry.pFilter, pairs);
        if (SUCCEEDED(rendered))
            return rendered;
    }
    return E_FAIL;
}

HRESULT CGraphBuilder::TryCandidate(IPin* pin, CGraphFilter& candidate, const std::vector<GUID>& pairs)
{
    ComPtr<IBaseFilter> filter;
    ComPtr<IUnknown> extra;
    if (FAILED(candidate.Create(filter.Put(), extra.Put())) || !filter)
        return E_FAIL;
    FilterList snapshot;
    ListGraphFilters(snapshot);
    if (FAILED(AddFilterToGraph(filter.Get(), candidate.GetName().c_str())))
        return E_FAIL;

    if (candidate.m_clsid == kDmoWrapperFilter)
    {
        if (ComPtr<IPropertyBag> bag = filter.As<IPropertyBag>(IID_IPropertyBag))
        {
            VARIANT highResolution;
            ::VariantInit(&highResolution);
            highResolution.vt = VT_BOOL;
            highResolution.boolVal = VARIANT_TRUE;
            (void)bag->Write(L"_HIRESOUTPUT", &highResolution); // a filter may refuse it
        }
    }

    HRESULT connected = E_FAIL;
    if (pairs.size() == 2 && pairs[0] == MEDIATYPE_Stream && pairs[1] != GUID_NULL)
    {
        CMediaType stream;
        stream.majortype = MEDIATYPE_Stream;
        stream.subtype = pairs[1];
        stream.formattype = FORMAT_None;
        stream.bFixedSizeSamples = TRUE;
        stream.bTemporalCompression = FALSE;
        stream.lSampleSize = 1;
        connected = ConnectFilter(pin, filter.Get(), &stream);
    }
    if (FAILED(connected))
        connected = ConnectFilter(pin, filter.Get());

    if (SUCCEEDED(connected))
    {
        HRESULT rendered;
        {
            PathEntry onPath(m_path, &candidate);
            rendered = RenderFilter(filter.Get());
        }
        if (SUCCEEDED(rendered))
        {
            if (extra)
                GrowOrRaise([&] { m_keptObjects.push_back(extra); });
            return rendered;
        }
    }
    (void)m_graph->RemoveFilter(filter.Get());
    RemoveFiltersNotIn(snapshot);
    return E_FAIL;
}

void CGraphBuilder::GatherRegistryCandidates(const std::vector<GUID>& pairs,
                                             std::vector<std::unique_ptr<CGraphRegFilter>>& candidates)
{
    ComPtr<IEnumMoniker> found;
    const HRESULT queried = m_mapper->EnumMatchingFilters(found.Put(), 0, FALSE, kLowestRegistryMerit, TRUE,
                                                          static_cast<DWORD>(pairs.size() / 2), pairs.data(), nullptr,
                                                          nullptr, FALSE, FALSE, 0, nullptr, nullptr, nullptr);
    if (FAILED(queried) || !found)
        return;
    ComPtr<IMoniker> moniker;
    while (NextItem(found.Get(), moniker))
    {
        auto candidate = std::make_unique<CGraphRegFilter>(moniker.Get(), MERIT64_DEFAULT);
        if (!DuplicatesOwnFilter(moniker.Get(), *candidate))
            GrowOrRaise([&] { candidates.push_back(std::move(candidate)); });
    }
}

bool CGraphBuilder::DuplicatesOwnFilter(IMoniker* moniker, const CGraphRegFilter& candidate) const
{
    for (const auto& own : m_ownFilters)
    {
        const auto* registered = dynamic_cast<const CGraphRegFilter*>(own.get());
        if (!registered)
            continue;
        if (registered->m_moniker && moniker->IsEqual(registered->m_moniker.Get()) == S_OK)
            return true;
        if (registered->m_clsid != GUID_NULL && registered->m_clsid == candidate.m_clsid)
            return true;
    }
    return false;
}

bool CGraphBuilder::OnPath(const CGraphRegFilter& candidate) const
{
    return std::any_of(m_path.begin(), m_path.end(),
                       [&](const CGraphFilter* entry)
                       {
                           if (entry->m_clsid == candidate.m_clsid)
                               return true;
                           const auto* registered = dynamic_cast<const CGraphRegFilter*>(entry);
                           return registered && (registered->m_registeredClsid == candidate.m_registeredClsid ||
                                                 (registered->m_moniker && candidate.m_moniker &&
                                                  registered->m_moniker->IsEqual(candidate.m_moniker.Get()) == S_OK));
                       });
}

HRESULT CGraphBuilder::RenderFilter(IBaseFilter* filter)
{
    if (!m_graph || !m_mapper || !filter || FAILED(AddFilterToGraph(filter)))
        return E_FAIL;
    std::vector<ComPtr<IPin>> outputs;
    ComPtr<IEnumPins> pins;
    if (SUCCEEDED(filter->EnumPins(pins.Put())) && pins)
    {
        ComPtr<IPin> pin;
        while (NextItem(pins.Get(), pin))
        {
            // Pins whose names start with "~" are not meant to be rendered.
            if (HasDirection(pin.Get(), PINDIR_OUTPUT) && IsFree(pin.Get()))
            {
                UniquePinInfo info;
                if (SUCCEEDED(pin->QueryPinInfo(info.Put())) && info.achName[0] != L'~')
                    GrowOrRaise([&] { outputs.push_back(pin); });
            }
        }
    }
    if (outputs.empty())
        return S_FALSE;
    size_t rendered = 0;
    for (const ComPtr<IPin>& output : outputs)
    {
        if (SUCCEEDED(RenderPin(output.Get())))
            ++rendered;
    }
    if (rendered == outputs.size())
        return S_OK;
    return rendered == 0 ? VFW_E_CANNOT_RENDER : VFW_S_PARTIAL_RENDER;
}

HRESULT CGraphBuilder::ConnectFilter(IPin* pin, IBaseFilter* filter, const AM_MEDIA_TYPE* type)
{
    if (!pin || !filter)
        return E_INVALIDARG;
    if (FAILED(AddFilterToGraph(filter)))
        return E_FAIL;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put())) || !pins)
        return VFW_E_CANNOT_CONNECT;
    ComPtr<IPin> input;
    while (NextItem(pins.Get(), input))
    {
        if (HasDirection(input.Get(), PINDIR_INPUT) && IsFree(input.Get()) &&
            SUCCEEDED(m_graph->ConnectDirect(pin, input.Get(), type)))
            return S_OK;
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT CGraphBuilder::AddFilterToGraph(IBaseFilter* filter, const wchar_t* name)
{
    if (!m_graph || !filter)
        return E_FAIL;
    FilterList present;
    ListGraphFilters(present);
    if (Contains(present, filter))
        return S_OK;
    UniqueFilterInfo info;
    if (FAILED(filter->QueryFilterInfo(info.Put())))
        return E_FAIL;
    if (info.pGraph)
        return S_OK; // it belongs to a graph already

    std::wstring chosen;
    GrowOrRaise(
        [&]
        {
            chosen = name ? name : L"";
            if (chosen.empty())
            {
                if (ComPtr<IFileSourceFilter> source =
                        ComPtr<IBaseFilter>(filter).As<IFileSourceFilter>(IID_IFileSourceFilter))
                {
                    UniqueTaskMem<wchar_t> fileName;
                    CMediaType fileType;
                    if (SUCCEEDED(source->GetCurFile(fileName.Put(), &fileType)) && fileName.Get())
                        chosen = fileName.Get();
                }
            }
        });
    // With no other name, the class identifier tells in a graph viewer what the filter is.
    if (chosen.empty())
        chosen = WideFromText(CStringFromGUID(GetFilterCLSID(filter)));
    return SUCCEEDED(m_graph->AddFilter(filter, chosen.c_str())) ? S_OK : E_FAIL;
}

void CGraphBuilder::ListGraphFilters(FilterList& snapshot)
{
    snapshot.clear();
    ComPtr<IEnumFilters> filters;
    if (!m_graph || FAILED(m_graph->EnumFilters(filters.Put())) || !filters)
        return;
    ComPtr<IBaseFilter> filter;
    while (NextItem(filters.Get(), filter))
        GrowOrRaise([&] { snapshot.push_back(filter); });
}

void CGraphBuilder::RemoveFiltersNotIn(const FilterList& snapshot)
{
    ComPtr<IEnumFilters> filters;
    if (!m_graph || FAILED(m_graph->EnumFilters(filters.Put())) || !filters)
        return;
    // A filter that cannot leave the graph is passed over, or the walk would find it forever.
    FilterList refused;
    ComPtr<IBaseFilter> filter;
    while (NextItem(filters.Get(), filter))
    {
        if (Contains(snapshot, filter.Get()) || Contains(refused, filter.Get()))
            continue;
        if (FAILED(m_graph->RemoveFilter(filter.Get())))
        {
            GrowOrRaise([&] { refused.push_back(filter); });
            continue;
        }
        (void)filters->Reset(); // the graph changed under the enumerator: start again
    }
}

void CGraphBuilder::GetPinTypePairs(IPin* pin, std::vector<GUID>& pairs)
{
    pairs.clear();
    ComPtr<IEnumMediaTypes> types;
    if (!pin || FAILED(pin->EnumMediaTypes(types.Put())) || !types)
        return;
    UniqueMediaType type;
    while (NextItem(types.Get(), type))
    {
        bool known = false;
        for (size_t i = 0; i + 1 < pairs.size() && !known; i += 2)
            known = pairs[i] == type->majortype && pairs[i + 1] == type->subtype;
        if (!known)
            GrowOrRaise(
                [&]
                {
                    pairs.push_back(type->majortype);
                    pairs.push_back(type->subtype);
                });
    }
}
