// Small DirectShow filters for the graph library's tests: pins that connect by media type and
// nothing more. They are served in-process through CoRegisterClassObject and can be registered
// with the real filter mapper, so the platform finds and makes them as it would any filter.
#pragma once

#include "graph/ComPtr.h"

#include <windows.h>

#include <strmif.h>

#include <string>
#include <vector>

struct TypePair
{
    GUID major;
    GUID subtype;
};

struct TestPinShape
{
    std::wstring name;
    PIN_DIRECTION direction;
    std::vector<TypePair> types;     // output: offered in order; input: accepted (GUID_NULL: any)
    GUID requiredFormat = GUID_NULL; // input: the format type a connection must name, if any
    bool pcmFormat = false;          // output: the types carry a 44.1 kHz 16-bit stereo format
    bool capture = false;            // output: reports PIN_CATEGORY_CAPTURE through IKsPropertySet
    bool typesFailPartWay = false;   // output: the type enumerator fails after the first type
    bool infoWithoutFilter = false;  // QueryPinInfo names no filter
};

struct TestFilterShape
{
    std::wstring name;
    CLSID clsid;
    std::vector<TestPinShape> pins;
    bool streamBuilder = false; // the output pins answer IStreamBuilder
    HRESULT streamBuilderResult = E_FAIL;
    bool refusesGraphs = false; // JoinFilterGraph fails, so no graph can take the filter
    int refusesToLeave = 0;     // JoinFilterGraph(NULL) fails this often, so the graph cannot remove it
    bool enumPinsFails = false;
    CLSID reportedClsid = GUID_NULL; // GetClassID reports this, as a wrapper filter reports its own
    bool refusesToBind = false;      // its class factory makes nothing, so its moniker cannot bind
};

// Objects of the test filters alive now, across every class; 0 once everything is released.
LONG LiveTestObjects();

// A new filter object of `shape`, outside any registration.
ComPtr<IBaseFilter> MakeTestFilter(const TestFilterShape& shape);

// Serves `shape` in-process under its class identifier and registers it with the filter mapper
// in the test category at `merit`, its input pins' types as the registered types. Undone by
// the destructor.
class RegisteredTestFilter
{
  public:
    RegisteredTestFilter(const TestFilterShape& shape, DWORD merit, bool withMapper = true,
                         const GUID* category = nullptr);
    ~RegisteredTestFilter();
    RegisteredTestFilter(const RegisteredTestFilter&) = delete;
    RegisteredTestFilter& operator=(const RegisteredTestFilter&) = delete;

    // How many filters the class factory has made.
    LONG Made() const;
    // The display name of the registration's moniker.
    std::wstring DisplayName() const { return m_displayName; }

  private:
    CLSID m_clsid;
    GUID m_category;
    std::wstring m_displayName;
    DWORD m_cookie = 0;
    bool m_registered = false;
    struct Factory* m_factory = nullptr;
};

// Serves `clsid` with a class factory that refuses to make anything; undone by the destructor.
class RefusedClass
{
  public:
    explicit RefusedClass(const CLSID& clsid);
    ~RefusedClass();
    RefusedClass(const RefusedClass&) = delete;
    RefusedClass& operator=(const RefusedClass&) = delete;

  private:
    DWORD m_cookie = 0;
};

// A graph that forwards to `inner` and keeps a filter cache (IGraphConfig) of its own.
ComPtr<IGraphBuilder> MakeCachingGraph(IGraphBuilder* inner);

// The filter category the tests register in; made once per process.
const GUID& TestCategory();

// Names of the filters in `graph`, in enumeration order.
std::vector<std::wstring> GraphFilterNames(IGraphBuilder* graph);
// The name of the filter that `pin` is connected to, or empty.
std::wstring PeerFilterName(IPin* pin);
ComPtr<IPin> FindPin(IBaseFilter* filter, const wchar_t* name);

// Watches the COM task allocator while it lives: counts the blocks handed out and not yet
// freed, and can make the next allocation fail.
class TaskMemorySpy
{
  public:
    TaskMemorySpy();
    ~TaskMemorySpy();
    TaskMemorySpy(const TaskMemorySpy&) = delete;
    TaskMemorySpy& operator=(const TaskMemorySpy&) = delete;

    long Outstanding() const;
    void FailNextAllocation();
};
