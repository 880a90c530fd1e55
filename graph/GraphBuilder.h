// The merit-ordered graph builder: extends a filter graph downstream of one free output pin,
// one directly connected filter at a time, until every stream ends in a renderer.
#pragma once

#include "com/ComPtr.h"
#include "graph/GraphFilter.h"

#include <windows.h>

#include <strmif.h>

#include <memory>
#include <vector>

using FilterList = std::vector<ComPtr<IBaseFilter>>;

class CGraphBuilder
{
  public:
    // `graph` may be null; such a builder, or one without a filter mapper, renders nothing.
    explicit CGraphBuilder(IGraphBuilder* graph);
    CGraphBuilder(const CGraphBuilder&) = delete;
    CGraphBuilder& operator=(const CGraphBuilder&) = delete;
    // The graph and every filter rendered into it stay; only the builder's references go.
    virtual ~CGraphBuilder() = default;

    // Renders one free output pin: S_OK, S_FALSE (straight into a renderer) or
    // VFW_S_PARTIAL_RENDER; E_UNEXPECTED for an input or connected pin; E_FAIL otherwise.
    HRESULT RenderPin(IPin* pin);
    // Renders every free output pin of `filter`, adding it to the graph first.
    HRESULT RenderFilter(IBaseFilter* filter);
    // Connects `pin` directly to the first free input pin of `filter` that takes it.
    HRESULT ConnectFilter(IPin* pin, IBaseFilter* filter, const AM_MEDIA_TYPE* type = nullptr);
    // Adds `filter` unless it is in a graph already.
    HRESULT AddFilterToGraph(IBaseFilter* filter, const wchar_t* name = nullptr);
    void ListGraphFilters(FilterList& snapshot);
    // Takes every filter out of the graph that is not in `snapshot`.
    void RemoveFiltersNotIn(const FilterList& snapshot);
    // The distinct (major type, subtype) pairs of the pin's media types.
    void GetPinTypePairs(IPin* pin, std::vector<GUID>& pairs);
    // The builder owns `filter` from now on; null adds nothing.
    void AddOwnFilter(CGraphFilter* filter);

  protected:
    // An own entry that keeps the registry's filters of this class out, and is never tried itself.
    void AddBlockedClass(const char* clsid);

    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IFilterMapper2> m_mapper;
    std::vector<ComPtr<IUnknown>> m_keptObjects;
    std::vector<std::unique_ptr<CGraphFilter>> m_ownFilters;
    std::vector<CGraphFilter*> m_path; // candidates whose filters lie on the chain being built

  private:
    HRESULT RenderPinSteps(IPin* pin);
    bool RenderThroughStreamBuilder(IPin* pin);
    bool RenderThroughCache(IPin* pin, HRESULT* result);
    bool RenderThroughGraphFilters(IPin* pin, HRESULT* result);
    HRESULT RenderThroughCandidates(IPin* pin);
    void GatherRegistryCandidates(const std::vector<GUID>& pairs,
                                  std::vector<std::unique_ptr<CGraphRegFilter>>& candidates);
    bool DuplicatesOwnFilter(IMoniker* moniker, const CGraphRegFilter& candidate) const;
    // The same registered filter is on the chain already: by class (made or registered) or moniker.
    bool OnPath(const CGraphRegFilter& candidate) const;
    HRESULT TryCandidate(IPin* pin, CGraphFilter& candidate, const std::vector<GUID>& pairs);
};

class CGraphBuilderFile : public CGraphBuilder
{
  public:
    explicit CGraphBuilderFile(IGraphBuilder* graph) : CGraphBuilder(graph) {}
    ~CGraphBuilderFile() override = default;
};

// Never offers a pin to a filter already in the graph, and blocks one more filter class.
class CGraphBuilderCapture : public CGraphBuilderFile
{
  public:
    explicit CGraphBuilderCapture(IGraphBuilder* graph);
    ~CGraphBuilderCapture() override = default;
};
