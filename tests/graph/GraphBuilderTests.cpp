#include "graph/DShowHelpers.h"
#include "graph/GraphBuilder.h"
#include "support/FakeFilter.h"

#include <gtest/gtest.h>

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace
{
constexpr GUID TestGuid(BYTE last)
{
    return {0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, 0x3a, last}};
}

// Media types by letter; S is a byte stream of an explicit subtype, s one without.
const std::map<char, TypePair> kTypes = {
    {'A', {TestGuid(1), TestGuid(0x0A)}},      {'B', {TestGuid(1), TestGuid(0x0B)}},
    {'C', {TestGuid(1), TestGuid(0x0C)}},      {'Z', {TestGuid(1), TestGuid(0x0F)}},
    {'S', {MEDIATYPE_Stream, TestGuid(0x0E)}}, {'s', {MEDIATYPE_Stream, GUID_NULL}}};

// A filter named `name` taking its first letter and offering the letters after ">", one pin each.
FakeShape Fake(const std::string& name, BYTE id)
{
    FakeShape shape = {
        std::wstring(name.begin(), name.end()), TestGuid(id), {{L"In", PINDIR_INPUT, {kTypes.at(name[0])}}}};
    for (size_t at = name.find('>') + 1; at > 0 && at < name.size(); ++at)
        shape.pins.push_back({at == name.find('>') + 1 ? L"Out" : L"Two", PINDIR_OUTPUT, {kTypes.at(name[at])}});
    return shape;
}

// The registered filters a row names: "R" renders its type, "X>Y" turns X into Y. The others
// misbehave as installed software may (the stuck one lets go in the end, or the platform's graph
// could not be released), or are the classes the builders keep out: every builder the first, the
// capture builder the second.
const std::map<std::string, FakeShape> kFilters = []
{
    std::map<std::string, FakeShape> filters;
    BYTE id = 0x20;
    for (const char* name : {"AR", "CR", "A>B", "A>C", "A>A", "A>AZ", "B>C", "C>Z", "SR", "sR"})
        filters.emplace(name, Fake(name, id++));
    filters["SR"].pins[0].requiredFormat = filters["sR"].pins[0].requiredFormat = FORMAT_None;
    filters.emplace("stuck", With(Fake("A>B", id++), [](FakeShape& s) { s.refusesToLeave = 100; }));
    filters.emplace("wrapper", With(Fake("A>A", id++), [](FakeShape& s) { s.reportedClsid = TestGuid(0x7F); }));
    filters.emplace("pinless", With(Fake("AR", id++), [](FakeShape& s) { s.enumPinsFails = true; }));
    filters.emplace("orphan", With(Fake("A>Z", id++), [](FakeShape& s) { s.pins[1].orphan = true; }));
    filters.emplace("unbindable", With(Fake("AR", id++), [](FakeShape& s) { s.refusesToBind = true; }));
    filters.emplace("blocked",
                    With(Fake("AR", 0),
                         [](FakeShape& s) {
                             s.clsid = {0x48025243, 0x2d39, 0x11ce, {0x87, 0x5d, 0x00, 0x60, 0x8c, 0xb7, 0x80, 0x66}};
                         }));
    filters.emplace("capture-blocked",
                    With(Fake("AR", 0),
                         [](FakeShape& s) {
                             s.clsid = {0xd3cd7858, 0x971a, 0x4838, {0xac, 0xec, 0x40, 0xca, 0x5d, 0x52, 0x9d, 0xc8}};
                         }));
    return filters;
}();

std::unique_ptr<CGraphBuilder> MakeBuilder(char kind, IGraphBuilder* graph)
{
    if (kind == 'B')
        return std::make_unique<CGraphBuilder>(graph);
    if (kind == 'F')
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
        FakeShape shape = {L"Src", TestGuid(0x10), std::move(outputs), streamBuilder};
        m_source = MakeFake(shape);
        EXPECT_HRESULT_SUCCEEDED(m_graph->AddFilter(m_source.Get(), L"Src"));
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

struct RenderCase
{
    const char* name;
    const char* sourceTypes; // letters; "!" after the first: the list fails there
    const char* registered;  // "FILTER@MERIT:MADE ...": merit in units of 0x100000, MADE "-" for any
    char builder;            // B: base, F: file, C: capture
    HRESULT expected;
    const wchar_t* graph;     // sorted names of the filters afterwards
    const wchar_t* connected; // what the source's pin stays connected to
};

const RenderCase kRenderCases[] = {
    {"straight into a renderer", "A", "AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"a decoder that leads nowhere goes, the next is tried", "A", "A>B@8:1 A>C@7:1 CR@6:1", 'C', S_OK, L"A>C,CR,Src",
     L"A>C"},
    {"the class every builder blocks", "A", "blocked@9:0 AR@6:1", 'F', S_FALSE, L"AR,Src", L"AR"},
    {"the class the capture builder blocks", "A", "capture-blocked@9:0 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"the capture class is fine for other builders", "A", "capture-blocked@9:1 AR@6:0", 'B', S_FALSE, L"AR,Src", L"AR"},
    {"a class is not offered below itself", "A", "A>A@9:1 AR@6:1", 'C', S_OK, L"A>A,AR,Src", L"A>A"},
    {"a partial render counts as success", "A", "A>AZ@9:1 AR@6:1", 'C', VFW_S_PARTIAL_RENDER, L"A>AZ,AR,Src", L"A>AZ"},
    {"a chain dead-ending two levels down goes whole", "A", "A>B@8:1 B>C@8:1 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"and three levels down", "A", "A>B@8:1 B>C@8:1 C>Z@8:1", 'C', E_FAIL, L"Src", L""},
    {"a filter that cannot leave is passed over", "A", "stuck@8:1 A>C@7:- CR@6:-", 'C', S_OK, L"A>B,A>C,CR,Src",
     L"A>C"},
    {"a wrapper reporting another class", "A", "wrapper@9:1 AR@6:1", 'C', S_OK, L"A>A,AR,Src", L"A>A"},
    {"a filter whose pins cannot be listed", "A", "pinless@9:1 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"a pin that names no filter", "A", "orphan@9:1 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"a moniker that cannot bind", "A", "unbindable@9:0 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"a type list failing part-way keeps what it gave", "A!C", "CR@9:0 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"nothing takes the type", "Z", "AR@6:0", 'C', E_FAIL, L"Src", L""},
    {"no media types at all", "", "AR@6:0", 'C', E_FAIL, L"Src", L""},
    {"a byte stream is offered its explicit type first", "S", "SR@6:1", 'C', S_FALSE, L"SR,Src", L"SR"},
    {"a stream without subtype only without a type", "s", "sR@6:1", 'C', E_FAIL, L"Src", L""},
};

TEST_F(GraphBuilding, RendersThroughTheBestCandidateAndTakesFailedAttemptsBack)
{
    for (const RenderCase& c : kRenderCases)
    {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<std::unique_ptr<RegisteredFake>, std::string>> registered;
        std::istringstream entries(c.registered);
        for (std::string entry; entries >> entry;)
        {
            const FakeShape& shape = kFilters.at(entry.substr(0, entry.find('@')));
            const DWORD merit = static_cast<DWORD>(entry[entry.find('@') + 1] - '0') << 20;
            registered.emplace_back(std::make_unique<RegisteredFake>(shape, merit), entry.substr(entry.find(':') + 1));
        }
        FakePin output = {L"Out", PINDIR_OUTPUT, {}, GUID_NULL, std::string(c.sourceTypes).find('!') == 1};
        for (const char* type = c.sourceTypes; *type; ++type)
            if (*type != '!')
                output.types.push_back(kTypes.at(*type));
        ComPtr<IPin> out = AddSource({output});
        EXPECT_EQ(c.expected, MakeBuilder(c.builder, m_graph.Get())->RenderPin(out.Get()));
        // The builder is gone; the chain it built stays.
        EXPECT_EQ(c.graph, Names());
        EXPECT_EQ(c.connected, PeerFilterName(out.Get()));
        for (const auto& [filter, made] : registered)
            EXPECT_EQ(made, made == "-" ? made : std::to_string(filter->Made())) << filter->DisplayName();
        out.Reset();
        registered.clear();
        TearDown();
        SetUp();
    }
}

// Whom the builder asks first: the pin's own stream builder, then (for all but the capture
// builder) a free filter already in the graph, then the graph's filter cache, then the registry.
TEST_F(GraphBuilding, ThePinsOwnBuilderThenTheGraphsFiltersThenItsCacheThenTheRegistry)
{
    for (HRESULT streamResult : {S_OK, E_FAIL})
    {
        SetUp();
        RegisteredFake renderer(kFilters.at("AR"), 0x600000);
        ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kTypes.at('A')}}}, streamResult);
        EXPECT_EQ(streamResult == S_OK ? S_OK : S_FALSE, CGraphBuilderCapture(m_graph.Get()).RenderPin(out.Get()));
        EXPECT_EQ(streamResult == S_OK ? 0 : 1, renderer.Made()) << streamResult;
    }
    for (char kind : {'B', 'F', 'C'})
    {
        SCOPED_TRACE(kind);
        SetUp();
        RegisteredFake renderer(kFilters.at("AR"), 0x600000);
        ComPtr<IBaseFilter> existing = MakeFake(kFilters.at("AR"));
        ASSERT_HRESULT_SUCCEEDED(m_graph->AddFilter(existing.Get(), L"Existing"));
        ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kTypes.at('A')}}});
        (void)MakeBuilder(kind, m_graph.Get())->RenderPin(out.Get()); // seen in the peer below
        EXPECT_EQ(kind == 'C' ? L"AR" : L"Existing", PeerFilterName(out.Get()));
        EXPECT_EQ(kind == 'C' ? 1 : 0, renderer.Made());
    }
    RegisteredFake renderer(kFilters.at("AR"), 0x600000);
    ComPtr<IBaseFilter> cached = MakeFake(kFilters.at("AR")), useless = MakeFake(kFilters.at("CR"));
    m_graph = MakeCachingGraph();
    ComPtr<IGraphConfig> config = m_graph.As<IGraphConfig>(IID_IGraphConfig);
    ASSERT_HRESULT_SUCCEEDED(config->AddFilterToCache(useless.Get()));
    ASSERT_HRESULT_SUCCEEDED(config->AddFilterToCache(cached.Get()));
    ComPtr<IPin> out = AddSource({{L"Out", PINDIR_OUTPUT, {kTypes.at('A')}}});
    EXPECT_EQ(S_FALSE, CGraphBuilderCapture(m_graph.Get()).RenderPin(out.Get()));
    // The filter that could not connect went back into the cache and out of the graph.
    ComPtr<IEnumFilters> stillCached;
    ComPtr<IBaseFilter> first;
    ASSERT_HRESULT_SUCCEEDED(config->EnumCacheFilter(stillCached.Put()));
    EXPECT_EQ(S_OK, stillCached->Next(1, first.Put(), nullptr));
    EXPECT_EQ(useless.Get(), first.Get());
    EXPECT_EQ(S_FALSE, stillCached->Next(1, first.Put(), nullptr));
    EXPECT_EQ(nullptr, GetGraphFromFilter(useless.Get()));
    EXPECT_EQ(0, renderer.Made());
    // Added without a name of its own: it shows under its class identifier.
    EXPECT_EQ(WideFromText(CStringFromGUID(kFilters.at("AR").clsid)), PeerFilterName(out.Get()));
}

TEST_F(GraphBuilding, WrongUseLeavesTheGraphUntouchedAndTildePinsStayFree)
{
    RegisteredFake renderer(kFilters.at("AR"), 0x600000);
    ComPtr<IPin> out =
        AddSource({{L"~Hidden", PINDIR_OUTPUT, {kTypes.at('A')}}, {L"Out", PINDIR_OUTPUT, {kTypes.at('A')}}});
    ComPtr<IBaseFilter> sink = MakeFake(kFilters.at("AR"));
    ASSERT_HRESULT_SUCCEEDED(m_graph->AddFilter(sink.Get(), L"Sink"));
    ComPtr<IPin> input = FindPin(sink.Get(), L"In");
    CGraphBuilderCapture builder(m_graph.Get());
    EXPECT_EQ(E_UNEXPECTED, builder.RenderPin(input.Get())) << "an input pin";
    EXPECT_EQ(E_FAIL, builder.RenderPin(nullptr));
    EXPECT_EQ(E_FAIL, CGraphBuilderCapture(nullptr).RenderPin(out.Get())) << "no graph";
    ASSERT_HRESULT_SUCCEEDED(m_graph->ConnectDirect(out.Get(), input.Get(), nullptr));
    EXPECT_EQ(E_UNEXPECTED, builder.RenderPin(out.Get())) << "a connected pin";
    EXPECT_EQ(L"Sink,Src", Names());
    EXPECT_EQ(0, renderer.Made());
    ASSERT_HRESULT_SUCCEEDED(m_graph->Disconnect(out.Get()));
    ASSERT_HRESULT_SUCCEEDED(m_graph->Disconnect(input.Get()));
    EXPECT_EQ(S_OK, CGraphBuilderFile(m_graph.Get()).RenderFilter(m_source.Get()));
    EXPECT_EQ(L"", PeerFilterName(FindPin(m_source.Get(), L"~Hidden").Get()));
    EXPECT_EQ(L"Sink", PeerFilterName(out.Get()));
    ComPtr<IBaseFilter> onlyHidden = MakeFake({L"Hidden only", TestGuid(0x11), {{L"~Out", PINDIR_OUTPUT, {}}}});
    EXPECT_EQ(S_FALSE, builder.RenderFilter(onlyHidden.Get())) << "no pin to render";
}
} // namespace
