#include "graph/DShowHelpers.h"
#include "graph/GraphBuilder.h"
#include "support/FakeFilter.h"

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

const TypePair kA = {TestGuid(1), TestGuid(0x0A)}, kB = {TestGuid(1), TestGuid(0x0B)};
const TypePair kC = {TestGuid(1), TestGuid(0x0C)}, kZ = {TestGuid(1), TestGuid(0x0F)};
const TypePair kStreamX = {MEDIATYPE_Stream, TestGuid(0x0E)}, kStreamAny = {MEDIATYPE_Stream, GUID_NULL};

// A filter taking `in` on pin "In" and offering each of `outs` on a pin of its own.
FakeShape Fake(const wchar_t* name, BYTE id, TypePair in, std::vector<TypePair> outs = {})
{
    FakeShape shape = {name, TestGuid(id), {{L"In", PINDIR_INPUT, {in}}}};
    for (size_t i = 0; i < outs.size(); ++i)
        shape.pins.push_back({i ? L"Two" : L"Out", PINDIR_OUTPUT, {outs[i]}});
    return shape;
}

const FakeShape kRendA = Fake(L"Renderer A", 0x20, kA), kRendC = Fake(L"Renderer C", 0x21, kC);
const FakeShape kAToB = Fake(L"Decoder to B", 0x22, kA, {kB}), kAToC = Fake(L"Decoder to C", 0x23, kA, {kC});
const FakeShape kLoop = Fake(L"Loop", 0x24, kA, {kA}), kSplitter = Fake(L"Splitter", 0x25, kA, {kA, kZ});
const FakeShape kBToC = Fake(L"B to C", 0x2C, kB, {kC}), kCToZ = Fake(L"C to Z", 0x2D, kC, {kZ});
// The classes the builders keep out: every builder the first, the capture builder the second.
const FakeShape kBlockedAll =
    With(Fake(L"Blocked everywhere", 0, kA),
         [](FakeShape& s) {
             s.clsid = {0x48025243, 0x2d39, 0x11ce, {0x87, 0x5d, 0x00, 0x60, 0x8c, 0xb7, 0x80, 0x66}};
         });
const FakeShape kBlockedCapture =
    With(Fake(L"Blocked in capture", 0, kA),
         [](FakeShape& s) {
             s.clsid = {0xd3cd7858, 0x971a, 0x4838, {0xac, 0xec, 0x40, 0xca, 0x5d, 0x52, 0x9d, 0xc8}};
         });
// Filters that misbehave as installed software may. The stuck one lets go in the end, or the
// platform's graph could not be released.
const FakeShape kStuck = With(kAToB, [](FakeShape& s) { s.refusesToLeave = 100; });
const FakeShape kWrapper =
    With(Fake(L"Wrapper", 0x28, kA, {kA}), [](FakeShape& s) { s.reportedClsid = TestGuid(0x29); });
const FakeShape kNoPins = With(Fake(L"No pins", 0x2A, kA), [](FakeShape& s) { s.enumPinsFails = true; });
const FakeShape kOrphan = With(Fake(L"Orphan pins", 0x2B, kA, {kZ}), [](FakeShape& s) { s.pins[1].orphan = true; });
const FakeShape kUnbindable = With(Fake(L"Unbindable", 0x2E, kA), [](FakeShape& s) { s.refusesToBind = true; });
const FakeShape kParserX =
    With(Fake(L"Stream parser", 0x26, kStreamX), [](FakeShape& s) { s.pins[0].requiredFormat = FORMAT_None; });
const FakeShape kParserAny =
    With(Fake(L"Any parser", 0x27, kStreamAny), [](FakeShape& s) { s.pins[0].requiredFormat = FORMAT_None; });

enum class Kind
{
    Base,
    File,
    Capture
};

std::unique_ptr<CGraphBuilder> MakeBuilder(Kind kind, IGraphBuilder* graph)
{
    if (kind == Kind::Base)
        return std::make_unique<CGraphBuilder>(graph);
    if (kind == Kind::File)
        return std::make_unique<CGraphBuilderFile>(graph);
    return std::make_unique<CGraphBuilderCapture>(graph);
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
        EXPECT_EQ(0, LiveComObjects()) << "a test object is still referenced";
    }
    ComPtr<IPin> AddSource(std::vector<FakePin> outputs, HRESULT streamBuilder = E_NOINTERFACE)
    {
        FakeShape shape = {L"Source", TestGuid(0x10), std::move(outputs), streamBuilder};
        m_source = MakeFake(shape);
        EXPECT_HRESULT_SUCCEEDED(m_graph->AddFilter(m_source.Get(), L"Source"));
        return FindPin(m_source.Get(), shape.pins.back().name.c_str());
    }
    // The names of the graph's filters, sorted and joined by commas.
    std::wstring Names()
    {
        std::vector<std::wstring> names = GraphFilterNames(m_graph.Get());
        std::sort(names.begin(), names.end());
        std::wstring joined;
        for (const std::wstring& name : names)
            joined += (joined.empty() ? L"" : L",") + name;
        return joined;
    }

    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IBaseFilter> m_source;
};

struct Registration
{
    const FakeShape* shape;
    DWORD merit; // in units of 0x100000
    LONG made;   // filters made of it, or -1 when it does not matter
};

struct RenderCase
{
    const char* name;
    std::vector<TypePair> sourceTypes;
    std::vector<Registration> registered;
    Kind kind;
    HRESULT expected;
    const wchar_t* graph;           // sorted names of the filters afterwards
    const wchar_t* firstDownstream; // what the source's pin stays connected to
    bool sourceTypesFail = false;   // the source's type list fails after its first type
};

const RenderCase kRenderCases[] = {
    {"straight into a renderer", {kA}, {{&kRendA, 6, 1}}, Kind::Capture, S_FALSE, L"Renderer A,Source", L"Renderer A"},
    {"a decoder that leads nowhere goes, the next is tried",
     {kA},
     {{&kAToB, 8, 1}, {&kAToC, 7, 1}, {&kRendC, 6, 1}},
     Kind::Capture,
     S_OK,
     L"Decoder to C,Renderer C,Source",
     L"Decoder to C"},
    {"the class every builder blocks",
     {kA},
     {{&kBlockedAll, 9, 0}, {&kRendA, 6, 1}},
     Kind::File,
     S_FALSE,
     L"Renderer A,Source",
     L"Renderer A"},
    {"the class the capture builder blocks",
     {kA},
     {{&kBlockedCapture, 9, 0}, {&kRendA, 6, 1}},
     Kind::Capture,
     S_FALSE,
     L"Renderer A,Source",
     L"Renderer A"},
    {"the capture class is fine for other builders",
     {kA},
     {{&kBlockedCapture, 9, 1}, {&kRendA, 6, 0}},
     Kind::Base,
     S_FALSE,
     L"Blocked in capture,Source",
     L"Blocked in capture"},
    {"a class is not offered below itself",
     {kA},
     {{&kLoop, 9, 1}, {&kRendA, 6, 1}},
     Kind::Capture,
     S_OK,
     L"Loop,Renderer A,Source",
     L"Loop"},
    {"a partial render counts as success",
     {kA},
     {{&kSplitter, 9, 1}, {&kRendA, 6, 1}},
     Kind::Capture,
     VFW_S_PARTIAL_RENDER,
     L"Renderer A,Source,Splitter",
     L"Splitter"},
    {"a chain that dead-ends two levels down goes as a whole",
     {kA},
     {{&kAToB, 8, 1}, {&kBToC, 8, 1}, {&kRendA, 6, 1}},
     Kind::Capture,
     S_FALSE,
     L"Renderer A,Source",
     L"Renderer A"},
    {"and three levels down",
     {kA},
     {{&kAToB, 8, 1}, {&kBToC, 8, 1}, {&kCToZ, 8, 1}},
     Kind::Capture,
     E_FAIL,
     L"Source",
     L""},
    {"a filter that cannot leave the graph is passed over",
     {kA},
     {{&kStuck, 8, 1}, {&kAToC, 7, -1}, {&kRendC, 6, -1}},
     Kind::Capture,
     S_OK,
     L"Decoder to B,Decoder to C,Renderer C,Source",
     L"Decoder to C"},
    {"a wrapper reporting another class is not offered below itself",
     {kA},
     {{&kWrapper, 9, 1}, {&kRendA, 6, 1}},
     Kind::Capture,
     S_OK,
     L"Renderer A,Source,Wrapper",
     L"Wrapper"},
    {"a filter whose pins cannot be listed",
     {kA},
     {{&kNoPins, 9, 1}, {&kRendA, 6, 1}},
     Kind::Capture,
     S_FALSE,
     L"Renderer A,Source",
     L"Renderer A"},
    {"a pin that names no filter",
     {kA},
     {{&kOrphan, 9, 1}, {&kRendA, 6, 1}},
     Kind::Capture,
     S_FALSE,
     L"Renderer A,Source",
     L"Renderer A"},
    {"a moniker that cannot bind",
     {kA},
     {{&kUnbindable, 9, 0}, {&kRendA, 6, 1}},
     Kind::Capture,
     S_FALSE,
     L"Renderer A,Source",
     L"Renderer A"},
    {"a type list that fails part-way keeps what it gave",
     {kA, kC},
     {{&kRendC, 9, 0}, {&kRendA, 6, 1}},
     Kind::Capture,
     S_FALSE,
     L"Renderer A,Source",
     L"Renderer A",
     true},
    {"nothing takes the type", {kZ}, {{&kRendA, 6, 0}}, Kind::Capture, E_FAIL, L"Source", L""},
    {"no media types at all", {}, {{&kRendA, 6, 0}}, Kind::Capture, E_FAIL, L"Source", L""},
    {"a byte stream is offered its explicit type first",
     {kStreamX},
     {{&kParserX, 6, 1}},
     Kind::Capture,
     S_FALSE,
     L"Source,Stream parser",
     L"Stream parser"},
    {"a stream without subtype only without a type",
     {kStreamAny},
     {{&kParserAny, 6, 1}},
     Kind::Capture,
     E_FAIL,
     L"Source",
     L""},
};

TEST_F(GraphBuilding, RendersThroughTheBestCandidateAndTakesFailedAttemptsBack)
{
    for (const RenderCase& c : kRenderCases)
    {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<RegisteredFake>> registered;
        for (const Registration& r : c.registered)
            registered.push_back(std::make_unique<RegisteredFake>(*r.shape, r.merit << 20));
        ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, c.sourceTypes, GUID_NULL, c.sourceTypesFail}});
        EXPECT_EQ(c.expected, MakeBuilder(c.kind, m_graph.Get())->RenderPin(out.Get()));
        // The builder is gone; the chain it built stays.
        EXPECT_EQ(c.graph, Names());
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

// Each row: where the renderer waits, and whom the builder asks first.
TEST_F(GraphBuilding, ThePinsOwnBuilderThenTheGraphsFiltersThenTheRegistry)
{
    for (HRESULT streamResult : {S_OK, E_FAIL})
    {
        SCOPED_TRACE(streamResult);
        RegisteredFake renderer(kRendA, 0x600000);
        ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kA}}}, streamResult);
        EXPECT_EQ(streamResult == S_OK ? S_OK : S_FALSE, CGraphBuilderCapture(m_graph.Get()).RenderPin(out.Get()));
        EXPECT_EQ(streamResult == S_OK ? 0 : 1, renderer.Made());
        out.Reset();
    }
    for (Kind kind : {Kind::Base, Kind::File, Kind::Capture})
    {
        SCOPED_TRACE(static_cast<int>(kind));
        RegisteredFake renderer(kRendA, 0x600000);
        ComPtr<IBaseFilter> existing = MakeFake(kRendA);
        ASSERT_HRESULT_SUCCEEDED(m_graph->AddFilter(existing.Get(), L"Existing renderer"));
        ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kA}}});
        (void)MakeBuilder(kind, m_graph.Get())->RenderPin(out.Get()); // seen in the peer below
        EXPECT_EQ(kind == Kind::Capture ? L"Renderer A" : L"Existing renderer", PeerFilterName(out.Get()));
        EXPECT_EQ(kind == Kind::Capture ? 1 : 0, renderer.Made()) << "only the capture builder passes it over";
        out.Reset();
        existing.Reset();
        TearDown();
        SetUp();
    }
}

TEST_F(GraphBuilding, TheGraphsFilterCacheComesBeforeTheRegistry)
{
    RegisteredFake renderer(kRendA, 0x600000);
    ComPtr<IBaseFilter> cached = MakeFake(kRendA), useless = MakeFake(kRendC);
    ComPtr<IGraphBuilder> caching = MakeCachingGraph(m_graph.Get());
    ComPtr<IGraphConfig> config = caching.As<IGraphConfig>(IID_IGraphConfig);
    ASSERT_HRESULT_SUCCEEDED(config->AddFilterToCache(useless.Get()));
    ASSERT_HRESULT_SUCCEEDED(config->AddFilterToCache(cached.Get()));
    ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kA}}});
    EXPECT_EQ(S_FALSE, CGraphBuilderCapture(caching.Get()).RenderPin(out.Get()));
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
    EXPECT_EQ(WideFromText(CStringFromGUID(kRendA.clsid)), PeerFilterName(out.Get()));
}

TEST_F(GraphBuilding, WrongUseLeavesTheGraphUntouchedAndTildePinsStayFree)
{
    RegisteredFake renderer(kRendA, 0x600000);
    ComPtr<IPin> out = AddSource({{L"~Hidden", PINDIR_OUTPUT, {kA}}, {L"Out", PINDIR_OUTPUT, {kA}}});
    ComPtr<IBaseFilter> sink = MakeFake(kRendA);
    ASSERT_HRESULT_SUCCEEDED(m_graph->AddFilter(sink.Get(), L"Sink"));
    ComPtr<IPin> input = FindPin(sink.Get(), L"In");
    CGraphBuilderCapture builder(m_graph.Get());
    EXPECT_EQ(E_UNEXPECTED, builder.RenderPin(input.Get())) << "an input pin";
    EXPECT_EQ(E_FAIL, builder.RenderPin(nullptr));
    EXPECT_EQ(E_FAIL, CGraphBuilderCapture(nullptr).RenderPin(out.Get())) << "no graph";
    ASSERT_HRESULT_SUCCEEDED(m_graph->ConnectDirect(out.Get(), input.Get(), nullptr));
    EXPECT_EQ(E_UNEXPECTED, builder.RenderPin(out.Get())) << "a connected pin";
    EXPECT_EQ(L"Sink,Source", Names());
    EXPECT_EQ(0, renderer.Made());

    ASSERT_HRESULT_SUCCEEDED(m_graph->Disconnect(out.Get()));
    ASSERT_HRESULT_SUCCEEDED(m_graph->Disconnect(input.Get()));
    EXPECT_EQ(S_OK, CGraphBuilderFile(m_graph.Get()).RenderFilter(m_source.Get()));
    EXPECT_EQ(L"", PeerFilterName(FindPin(m_source.Get(), L"~Hidden").Get()));
    EXPECT_EQ(L"Sink", PeerFilterName(out.Get())) << "the free renderer in the graph takes it";
    ComPtr<IBaseFilter> onlyHidden = MakeFake({L"Hidden only", TestGuid(0x11), {{L"~Out", PINDIR_OUTPUT, {kA}}}});
    EXPECT_EQ(S_FALSE, builder.RenderFilter(onlyHidden.Get())) << "no pin to render";
}
} // namespace
