#include "TestFilters.h"
#include "graph/DShowHelpers.h"
#include "graph/GraphBuilder.h"

#include <gtest/gtest.h>

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr GUID TestGuid(BYTE last)
{
    return {0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, 0x3a, last}};
}

const GUID kMajor = TestGuid(0x01);
const TypePair kTypeA = {kMajor, TestGuid(0x0A)};
const TypePair kTypeB = {kMajor, TestGuid(0x0B)};
const TypePair kTypeC = {kMajor, TestGuid(0x0C)};
const TypePair kTypeZ = {kMajor, TestGuid(0x0F)};
const TypePair kStreamX = {MEDIATYPE_Stream, TestGuid(0x0E)};
const TypePair kStreamAny = {MEDIATYPE_Stream, GUID_NULL};
const CLSID kBlockedForEveryBuilder = {0x48025243, 0x2d39, 0x11ce, {0x87, 0x5d, 0x00, 0x60, 0x8c, 0xb7, 0x80, 0x66}};
const CLSID kBlockedForCapture = {0xd3cd7858, 0x971a, 0x4838, {0xac, 0xec, 0x40, 0xca, 0x5d, 0x52, 0x9d, 0xc8}};

TestFilterShape Renderer(const wchar_t* name, const CLSID& clsid, TypePair takes)
{
    return {name, clsid, {{L"In", PINDIR_INPUT, {takes}}}};
}

TestFilterShape Transform(const wchar_t* name, const CLSID& clsid, TypePair takes, std::vector<TestPinShape> outputs)
{
    TestFilterShape shape = {name, clsid, {{L"In", PINDIR_INPUT, {takes}}}};
    shape.pins.insert(shape.pins.end(), outputs.begin(), outputs.end());
    return shape;
}

const TestFilterShape kRendererA = Renderer(L"Renderer A", TestGuid(0x20), kTypeA);
const TestFilterShape kRendererC = Renderer(L"Renderer C", TestGuid(0x21), kTypeC);
const TestFilterShape kDecoderToB =
    Transform(L"Decoder to B", TestGuid(0x22), kTypeA, {{L"Out", PINDIR_OUTPUT, {kTypeB}}});
const TestFilterShape kDecoderToC =
    Transform(L"Decoder to C", TestGuid(0x23), kTypeA, {{L"Out", PINDIR_OUTPUT, {kTypeC}}});
const TestFilterShape kLoop = Transform(L"Loop", TestGuid(0x24), kTypeA, {{L"Out", PINDIR_OUTPUT, {kTypeA}}});
const TestFilterShape kSplitter = Transform(L"Splitter", TestGuid(0x25), kTypeA,
                                            {{L"One", PINDIR_OUTPUT, {kTypeA}}, {L"Two", PINDIR_OUTPUT, {kTypeZ}}});
const TestFilterShape kBlockedAll = Renderer(L"Blocked everywhere", kBlockedForEveryBuilder, kTypeA);
const TestFilterShape kBlockedCapture = Renderer(L"Blocked in capture", kBlockedForCapture, kTypeA);

// Filters that misbehave as installed software may. This one lets the graph go in the end, or
// the platform's graph could not be released.
TestFilterShape Stuck(TestFilterShape shape)
{
    shape.refusesToLeave = 100;
    return shape;
}
const TestFilterShape kWrapper = []
{
    TestFilterShape shape = Transform(L"Wrapper", TestGuid(0x28), kTypeA, {{L"Out", PINDIR_OUTPUT, {kTypeA}}});
    shape.reportedClsid = TestGuid(0x29);
    return shape;
}();
const TestFilterShape kNoPins = []
{
    TestFilterShape shape = Renderer(L"No pins", TestGuid(0x2A), kTypeA);
    shape.enumPinsFails = true;
    return shape;
}();
const TestFilterShape kOrphanPins = []
{
    TestFilterShape shape = Transform(L"Orphan pins", TestGuid(0x2B), kTypeA, {{L"Out", PINDIR_OUTPUT, {kTypeZ}}});
    shape.pins[1].infoWithoutFilter = true;
    return shape;
}();
const TestFilterShape kUnbindable = []
{
    TestFilterShape shape = Renderer(L"Unbindable", TestGuid(0x2E), kTypeA);
    shape.refusesToBind = true;
    return shape;
}();
const TestFilterShape kBToC = Transform(L"B to C", TestGuid(0x2C), kTypeB, {{L"Out", PINDIR_OUTPUT, {kTypeC}}});
const TestFilterShape kCToZ = Transform(L"C to Z", TestGuid(0x2D), kTypeC, {{L"Out", PINDIR_OUTPUT, {kTypeZ}}});

TestFilterShape StreamParser(const wchar_t* name, BYTE last, TypePair takes)
{
    TestFilterShape shape = Renderer(name, TestGuid(last), takes);
    shape.pins[0].requiredFormat = FORMAT_None;
    return shape;
}

enum class Kind
{
    Base,
    File,
    Capture
};

std::unique_ptr<CGraphBuilder> MakeBuilder(Kind kind, IGraphBuilder* graph)
{
    switch (kind)
    {
    case Kind::Base:
        return std::make_unique<CGraphBuilder>(graph);
    case Kind::File:
        return std::make_unique<CGraphBuilderFile>(graph);
    default:
        return std::make_unique<CGraphBuilderCapture>(graph);
    }
}

class GraphBuilding : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(
            ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder, m_graph.PutVoid()));
    }
    void TearDown() override
    {
        m_source.Reset();
        m_graph.Reset();
        EXPECT_EQ(0, LiveTestObjects()) << "a test object is still referenced";
    }
    ComPtr<IPin> AddSource(std::vector<TestPinShape> outputs, bool streamBuilder = false,
                           HRESULT streamBuilderResult = E_FAIL)
    {
        TestFilterShape shape = {L"Source", TestGuid(0x10), std::move(outputs), streamBuilder, streamBuilderResult};
        m_source = MakeTestFilter(shape);
        EXPECT_HRESULT_SUCCEEDED(m_graph->AddFilter(m_source.Get(), L"Source"));
        return FindPin(m_source.Get(), shape.pins.back().name.c_str());
    }
    std::vector<std::wstring> SortedNames()
    {
        std::vector<std::wstring> names = GraphFilterNames(m_graph.Get());
        std::sort(names.begin(), names.end());
        return names;
    }

    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IBaseFilter> m_source;
};

struct Registration
{
    TestFilterShape shape;
    DWORD merit;
    LONG made; // filters made of it, or -1 when it does not matter
};

struct RenderCase
{
    const char* name;
    std::vector<TypePair> sourceTypes;
    std::vector<Registration> registered;
    Kind kind;
    HRESULT expected;
    std::vector<std::wstring> graph; // sorted names of the filters afterwards
    const wchar_t* firstDownstream;  // what the source's pin stays connected to
    bool sourceTypesFail = false;    // the source pin's type enumerator fails after its first type
};

const RenderCase kRenderCases[] = {
    {"straight into a renderer",
     {kTypeA},
     {{kRendererA, 0x600000, 1}},
     Kind::Capture,
     S_FALSE,
     {L"Renderer A", L"Source"},
     L"Renderer A"},
    {"a decoder that leads nowhere goes, the next is tried",
     {kTypeA},
     {{kDecoderToB, 0x800000, 1}, {kDecoderToC, 0x700000, 1}, {kRendererC, 0x600000, 1}},
     Kind::Capture,
     S_OK,
     {L"Decoder to C", L"Renderer C", L"Source"},
     L"Decoder to C"},
    {"the class every builder blocks",
     {kTypeA},
     {{kBlockedAll, 0x900000, 0}, {kRendererA, 0x600000, 1}},
     Kind::File,
     S_FALSE,
     {L"Renderer A", L"Source"},
     L"Renderer A"},
    {"the class the capture builder blocks",
     {kTypeA},
     {{kBlockedCapture, 0x900000, 0}, {kRendererA, 0x600000, 1}},
     Kind::Capture,
     S_FALSE,
     {L"Renderer A", L"Source"},
     L"Renderer A"},
    {"the capture class is fine for other builders",
     {kTypeA},
     {{kBlockedCapture, 0x900000, 1}, {kRendererA, 0x600000, 0}},
     Kind::Base,
     S_FALSE,
     {L"Blocked in capture", L"Source"},
     L"Blocked in capture"},
    {"a class is not offered below itself",
     {kTypeA},
     {{kLoop, 0x900000, 1}, {kRendererA, 0x600000, 1}},
     Kind::Capture,
     S_OK,
     {L"Loop", L"Renderer A", L"Source"},
     L"Loop"},
    {"a partial render counts as success",
     {kTypeA},
     {{kSplitter, 0x900000, 1}, {kRendererA, 0x600000, 1}},
     Kind::Capture,
     VFW_S_PARTIAL_RENDER,
     {L"Renderer A", L"Source", L"Splitter"},
     L"Splitter"},
    {"a chain that dead-ends two levels down goes as a whole",
     {kTypeA},
     {{kDecoderToB, 0x800000, 1}, {kBToC, 0x800000, 1}, {kRendererA, 0x600000, 1}},
     Kind::Capture,
     S_FALSE,
     {L"Renderer A", L"Source"},
     L"Renderer A"},
    {"and three levels down",
     {kTypeA},
     {{kDecoderToB, 0x800000, 1}, {kBToC, 0x800000, 1}, {kCToZ, 0x800000, 1}},
     Kind::Capture,
     E_FAIL,
     {L"Source"},
     L""},
    {"a filter that cannot leave the graph is passed over",
     {kTypeA},
     {{Stuck(kDecoderToB), 0x800000, 1}, {kDecoderToC, 0x700000, -1}, {kRendererC, 0x600000, -1}},
     Kind::Capture,
     S_OK,
     {L"Decoder to B", L"Decoder to C", L"Renderer C", L"Source"},
     L"Decoder to C"},
    {"a wrapper reporting another class is not offered below itself",
     {kTypeA},
     {{kWrapper, 0x900000, 1}, {kRendererA, 0x600000, 1}},
     Kind::Capture,
     S_OK,
     {L"Renderer A", L"Source", L"Wrapper"},
     L"Wrapper"},
    {"a filter whose pins cannot be listed",
     {kTypeA},
     {{kNoPins, 0x900000, 1}, {kRendererA, 0x600000, 1}},
     Kind::Capture,
     S_FALSE,
     {L"Renderer A", L"Source"},
     L"Renderer A"},
    {"a pin that names no filter",
     {kTypeA},
     {{kOrphanPins, 0x900000, 1}, {kRendererA, 0x600000, 1}},
     Kind::Capture,
     S_FALSE,
     {L"Renderer A", L"Source"},
     L"Renderer A"},
    {"a moniker that cannot bind",
     {kTypeA},
     {{kUnbindable, 0x900000, 0}, {kRendererA, 0x600000, 1}},
     Kind::Capture,
     S_FALSE,
     {L"Renderer A", L"Source"},
     L"Renderer A"},
    {"a type list that fails part-way keeps what it gave",
     {kTypeA, kTypeC},
     {{kRendererC, 0x900000, 0}, {kRendererA, 0x600000, 1}},
     Kind::Capture,
     S_FALSE,
     {L"Renderer A", L"Source"},
     L"Renderer A",
     true},
    {"nothing takes the type", {kTypeZ}, {{kRendererA, 0x600000, 0}}, Kind::Capture, E_FAIL, {L"Source"}, L""},
    {"no media types at all", {}, {{kRendererA, 0x600000, 0}}, Kind::Capture, E_FAIL, {L"Source"}, L""},
    {"a byte stream is offered its explicit type first",
     {kStreamX},
     {{StreamParser(L"Stream parser", 0x26, kStreamX), 0x600000, 1}},
     Kind::Capture,
     S_FALSE,
     {L"Source", L"Stream parser"},
     L"Stream parser"},
    {"a stream without subtype only without a type",
     {kStreamAny},
     {{StreamParser(L"Any stream parser", 0x27, kStreamAny), 0x600000, 1}},
     Kind::Capture,
     E_FAIL,
     {L"Source"},
     L""},
};

TEST_F(GraphBuilding, RendersThroughTheBestCandidateAndTakesFailedAttemptsBack)
{
    for (const RenderCase& c : kRenderCases)
    {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<RegisteredTestFilter>> registered;
        for (const Registration& r : c.registered)
            registered.push_back(std::make_unique<RegisteredTestFilter>(r.shape, r.merit));
        TestPinShape output = {L"Out", PINDIR_OUTPUT, c.sourceTypes};
        output.typesFailPartWay = c.sourceTypesFail;
        ComPtr<IPin> out = AddSource({output});
        {
            std::unique_ptr<CGraphBuilder> builder = MakeBuilder(c.kind, m_graph.Get());
            EXPECT_EQ(c.expected, builder->RenderPin(out.Get()));
        }
        // The builder is gone; the chain it built stays.
        EXPECT_EQ(c.graph, SortedNames());
        EXPECT_EQ(c.firstDownstream, PeerFilterName(out.Get()));
        for (size_t i = 0; i < registered.size(); ++i)
        {
            if (c.registered[i].made >= 0)
            {
                EXPECT_EQ(c.registered[i].made, registered[i]->Made()) << i;
            }
        }
        out.Reset();
        registered.clear();
        TearDown();
        SetUp();
    }
}

TEST_F(GraphBuilding, ThePinsOwnStreamBuilderComesFirst)
{
    for (HRESULT streamResult : {S_OK, E_FAIL})
    {
        SCOPED_TRACE(streamResult);
        RegisteredTestFilter renderer(kRendererA, 0x600000);
        ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kTypeA}}}, true, streamResult);
        CGraphBuilderCapture builder(m_graph.Get());
        EXPECT_EQ(streamResult == S_OK ? S_OK : S_FALSE, builder.RenderPin(out.Get()));
        EXPECT_EQ(streamResult == S_OK ? 0 : 1, renderer.Made());
        out.Reset();
    }
}

TEST_F(GraphBuilding, TheGraphsFilterCacheComesBeforeTheRegistry)
{
    RegisteredTestFilter renderer(kRendererA, 0x600000);
    ComPtr<IBaseFilter> cached = MakeTestFilter(kRendererA);
    ComPtr<IBaseFilter> useless = MakeTestFilter(kRendererC);
    ComPtr<IGraphBuilder> caching = MakeCachingGraph(m_graph.Get());
    ComPtr<IGraphConfig> config = caching.As<IGraphConfig>(IID_IGraphConfig);
    ASSERT_HRESULT_SUCCEEDED(config->AddFilterToCache(useless.Get()));
    ASSERT_HRESULT_SUCCEEDED(config->AddFilterToCache(cached.Get()));
    ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kTypeA}}});
    {
        CGraphBuilderCapture builder(caching.Get());
        EXPECT_EQ(S_FALSE, builder.RenderPin(out.Get()));
    }
    // The filter that could not connect went back into the cache and out of the graph.
    ComPtr<IEnumFilters> stillCached;
    ASSERT_HRESULT_SUCCEEDED(config->EnumCacheFilter(stillCached.Put()));
    ComPtr<IBaseFilter> first;
    EXPECT_EQ(S_OK, stillCached->Next(1, first.Put(), nullptr));
    EXPECT_EQ(useless.Get(), first.Get());
    EXPECT_EQ(S_FALSE, stillCached->Next(1, first.Put(), nullptr));
    EXPECT_EQ(nullptr, GetGraphFromFilter(useless.Get()));
    EXPECT_EQ(0, renderer.Made());
    // Added without a name of its own: it shows under its class identifier.
    EXPECT_EQ(WideFromText(CStringFromGUID(kRendererA.clsid)), PeerFilterName(out.Get()));
    out.Reset();
    first.Reset();
    stillCached.Reset();
    config.Reset();
    caching.Reset();
    cached.Reset();
    useless.Reset();
}

TEST_F(GraphBuilding, OnlyTheCaptureBuilderPassesOverFiltersAlreadyInTheGraph)
{
    for (Kind kind : {Kind::Base, Kind::File, Kind::Capture})
    {
        SCOPED_TRACE(static_cast<int>(kind));
        RegisteredTestFilter renderer(kRendererA, 0x600000);
        ComPtr<IBaseFilter> existing = MakeTestFilter(kRendererA);
        ASSERT_HRESULT_SUCCEEDED(m_graph->AddFilter(existing.Get(), L"Existing renderer"));
        ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kTypeA}}});
        MakeBuilder(kind, m_graph.Get())->RenderPin(out.Get());
        EXPECT_EQ(kind == Kind::Capture ? L"Renderer A" : L"Existing renderer", PeerFilterName(out.Get()));
        EXPECT_EQ(kind == Kind::Capture ? 1 : 0, renderer.Made());
        out.Reset();
        existing.Reset();
        TearDown();
        SetUp();
    }
}

TEST_F(GraphBuilding, WrongUseLeavesTheGraphUntouched)
{
    RegisteredTestFilter renderer(kRendererA, 0x600000);
    ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kTypeA}}});
    ComPtr<IBaseFilter> sink = MakeTestFilter(kRendererA);
    ASSERT_HRESULT_SUCCEEDED(m_graph->AddFilter(sink.Get(), L"Sink"));
    ComPtr<IPin> input = FindPin(sink.Get(), L"In");

    CGraphBuilderCapture builder(m_graph.Get());
    const std::vector<std::wstring> before = SortedNames();
    EXPECT_EQ(E_UNEXPECTED, builder.RenderPin(input.Get())) << "an input pin";
    EXPECT_EQ(E_FAIL, builder.RenderPin(nullptr));
    EXPECT_EQ(E_FAIL, CGraphBuilderCapture(nullptr).RenderPin(out.Get())) << "no graph";
    EXPECT_EQ(before, SortedNames());

    ASSERT_HRESULT_SUCCEEDED(m_graph->ConnectDirect(out.Get(), input.Get(), nullptr));
    EXPECT_EQ(E_UNEXPECTED, builder.RenderPin(out.Get())) << "a connected pin";
    EXPECT_EQ(before, SortedNames());
    EXPECT_EQ(L"Sink", PeerFilterName(out.Get()));
    EXPECT_EQ(0, renderer.Made());
    out.Reset();
    input.Reset();
    sink.Reset();
}

TEST_F(GraphBuilding, RenderFilterLeavesTildePinsAlone)
{
    RegisteredTestFilter renderer(kRendererA, 0x600000);
    AddSource({{L"~Hidden", PINDIR_OUTPUT, {kTypeA}}, {L"Out", PINDIR_OUTPUT, {kTypeA}}});
    {
        CGraphBuilderFile builder(m_graph.Get());
        EXPECT_EQ(S_OK, builder.RenderFilter(m_source.Get()));
        ComPtr<IBaseFilter> onlyHidden =
            MakeTestFilter({L"Hidden only", TestGuid(0x11), {{L"~Out", PINDIR_OUTPUT, {kTypeA}}}});
        EXPECT_EQ(S_FALSE, builder.RenderFilter(onlyHidden.Get())) << "no pin to render";
    }
    EXPECT_EQ(L"", PeerFilterName(FindPin(m_source.Get(), L"~Hidden").Get()));
    EXPECT_EQ(L"Renderer A", PeerFilterName(FindPin(m_source.Get(), L"Out").Get()));
}
} // namespace
