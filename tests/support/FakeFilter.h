// One configurable DirectShow filter for the tests: pins that connect by media type, and on
// request the misbehaviours installed filters show. Served and registered through the platform,
// so the platform finds and makes it as it would any filter.
#pragma once

#include "com/ComBase.h"

#include <uuids.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct FakePin
{
    std::wstring name;
    PIN_DIRECTION direction;
    std::vector<TypePair> types;     // output: offered in order; input: accepted (GUID_NULL: any)
    GUID requiredFormat = GUID_NULL; // input: the format type a connection must name, if any
    bool typesFailPartWay = false;   // output: its type list fails after the first type
    bool orphan = false;             // QueryPinInfo names no filter
    bool typesGiveNothing = false;   // its type list says S_OK and hands back no type
    // input: takes samples (IMemInputPin) and hands each here
    std::function<void(IMediaSample*)> receive = nullptr;
};

struct FakeShape
{
    std::wstring name;
    CLSID clsid;
    std::vector<FakePin> pins;
    HRESULT streamBuilder = E_NOINTERFACE; // output pins' IStreamBuilder::Render; E_NOINTERFACE: none
    bool refusesGraphs = false;            // JoinFilterGraph fails, so no graph can take it
    int refusesToLeave = 0;                // leaving a graph fails this often
    bool enumPinsFails = false;
    bool pinsGiveNothing = false;    // its first pin list says S_OK and hands back no pin
    CLSID reportedClsid = GUID_NULL; // GetClassID reports this, as a wrapper reports its own
    bool refusesToBind = false;      // its class makes nothing, so its moniker cannot bind
};

// The tests' own class and type identifiers; `group` keeps each test file's apart.
constexpr GUID TestGuid(BYTE group, BYTE last)
{
    return {0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, group, last}};
}

// `shape` as `change` leaves it, for the rows of a table.
template <class Change> FakeShape With(FakeShape shape, Change change)
{
    change(shape);
    return shape;
}

ComPtr<IBaseFilter> MakeFake(const FakeShape& shape);

// `shape` served under its class and registered in `category` at `merit` (no category: served
// only), as long as this lives.
class RegisteredFake
{
  public:
    RegisteredFake(const FakeShape& shape, DWORD merit, const GUID* category = &CLSID_LegacyAmFilterCategory);
    // How many filters its class has made.
    LONG Made() const { return *m_made; }
    // The display name of its moniker.
    std::wstring DisplayName() const;

  private:
    std::shared_ptr<LONG> m_made = std::make_shared<LONG>(0);
    GUID m_category;
    CLSID m_clsid;
    ServedFilter m_served;
};

// The names of the filters in `graph`, sorted and joined by commas.
std::wstring GraphFilterNames(IGraphBuilder* graph);
// The name of the filter that `pin` is connected to, or empty.
std::wstring PeerFilterName(IPin* pin);
ComPtr<IPin> FindPin(IBaseFilter* filter, const wchar_t* name);
