#include "graph/AmFilterData.h"
#include "graph/DShowHelpers.h"
#include "graph/FilterDataRecord.h"
#include "graph/GraphBuilder.h"
#include "graph/GraphFilter.h"
#include "graph/SortFilter.h"
#include "support/FakeFilter.h"

#include <gtest/gtest.h>

#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const GUID kMajor = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const GUID kSub = {0x66666666, 0x7777, 0x8888, {0x99, 0x99, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}};
const CLSID kCandidateClass = TestGuid(0x2a, 0x01);

// A candidate made the ways the builder makes them, its fields open to the tests.
struct Candidate : CGraphRegFilter
{
    explicit Candidate(const CLSID& clsid = GUID_NULL, unsigned long long merit = MERIT64_DEFAULT)
        : CGraphRegFilter(clsid, merit)
    {
    }
    Candidate& Read(const std::vector<BYTE>& bytes) { return ReadFilterData(bytes.data(), int(bytes.size())), *this; }
};

template <class... Parts> std::vector<BYTE> Bytes(const Parts&... parts)
{
    std::vector<BYTE> bytes;
    (bytes.insert(bytes.end(), reinterpret_cast<const BYTE*>(&parts), reinterpret_cast<const BYTE*>(&parts + 1)), ...);
    return bytes;
}

// The record the platform writes when it registers a filter with `pins`.
std::vector<BYTE> PlatformRecord(DWORD merit, const std::vector<RegisteredPin>& pins)
{
    const ServedFilter served(
        kCandidateClass, L"Record", [] { return nullptr; }, &CLSID_LegacyAmFilterCategory, merit, pins);
    const std::string key = std::string("CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\") +
                            CStringFromGUID(kCandidateClass).GetString();
    std::vector<BYTE> record(4096);
    DWORD size = static_cast<DWORD>(record.size());
    if (::RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), "FilterData", RRF_RT_REG_BINARY, nullptr, record.data(), &size))
        size = 0;
    record.resize(size);
    return record;
}

// Header, one pin at 16, one media type at 40, its GUIDs at 56 and 72.
std::vector<BYTE> HandMadeRecord(DWORD version = 2, DWORD flags = 0, DWORD majorOffset = 56, DWORD merit = 0x600000,
                                 size_t cut = 0)
{
    const DWORD words[] = {version, merit, 1, 0, 0x33697030, flags, 0, 1, 0, 0, 0x33797430, 0, majorOffset, 72};
    std::vector<BYTE> record = Bytes(words, MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    record.resize(record.size() - cut);
    return record;
}

// Three input pins of one type each, `cut` bytes short. Each type's GUIDs are the first 32 bytes
// after its own record, so a cut record keeps the earlier pins' types.
std::vector<BYTE> ThreePinRecord(size_t cut, DWORD merit = 0x600000)
{
    const DWORD words[] = {2,  merit,      3, 0, 0x33697030, 0, 0,   1,          0, 0,  0x33797430, 0,          56,
                           72, 0x33697030, 0, 0, 1,          0, 0,   0x33797430, 0, 96, 112,        0x33697030, 0,
                           0,  1,          0, 0, 0x33797430, 0, 136, 152};
    std::vector<BYTE> record = Bytes(words, kMajor, kSub);
    return record.resize(record.size() - cut), record;
}

// Cut records go to our reader: the platform's parser would read past their end. The MPEG-1
// splitter registered one below normal counts as one above it, when its record is whole.
TEST(FilterData, OwnReaderStaysInsideTheRecordAndCutRecordsGoToIt)
{
    // The record; whether our reader reads the merit; the type GUIDs it reads (for a cut record,
    // the candidate too); whether it calls the record whole.
    const std::tuple<const char*, std::vector<BYTE>, bool, size_t, bool> cases[] = {
        {"88-byte record", HandMadeRecord(), true, 2, true},
        {"output pin", HandMadeRecord(2, 0x8), true, 0, true},
        {"87 bytes: the subtype would reach past the end", HandMadeRecord(2, 0, 56, 0x600000, 1), true, 0, true},
        {"major type offset into the header", HandMadeRecord(2, 0, 8), true, 0, true},
        {"version 3", HandMadeRecord(3), false, 0, false},
        {"cut inside the third pin", ThreePinRecord(38), true, 4, false},
        {"fewer than eight bytes", {2, 0, 0, 0, 0, 0}, false, 0, false},
        {"header only, which crashes the platform's parser", {2, 0, 0, 0, 0, 0, 0x60, 0}, true, 0, false},
        {"three whole pins", ThreePinRecord(0), true, 6, true},
    };
    for (const auto& [name, record, meritRead, typeCount, complete] : cases)
    {
        const FilterDataRecord read = ReadFilterDataRecord(record.data(), record.size());
        EXPECT_EQ(std::make_tuple(meritRead, meritRead ? 0x600000u : 0u, typeCount, complete),
                  std::make_tuple(read.meritRead, read.merit, read.inputTypes.size(), read.complete))
            << name << ": merit read, merit, type GUIDs, complete";
        Candidate candidate;
        candidate.Read(record);
        EXPECT_EQ(std::make_pair(meritRead ? 0x0000006000000000ull : MERIT64_DEFAULT, complete ? 0 : typeCount),
                  std::make_pair(candidate.m_merit, complete ? 0 : candidate.m_types.size()))
            << name << ": the candidate's merit and types";
    }
    for (const auto& [clsid, cut, merit] : {std::tuple{CLSID_MMSPLITTER, 0, 0x0000006000010000ull},
                                            {CLSID_MMSPLITTER, 38, 0x0000005FFFFF0000ull},
                                            {kCandidateClass, 0, 0x0000005FFFFF0000ull}})
    {
        Candidate candidate;
        candidate.m_clsid = clsid;
        EXPECT_EQ(merit, candidate.Read(ThreePinRecord(cut, 0x5FFFFF)).m_merit) << "splitter's cut " << cut;
    }
}

// Records as a damaged or hostile registration might hold them: a byte changed, a 32-bit field
// set to a small number or an offset, the record cut.
std::vector<BYTE> Mutated(std::vector<BYTE> record, std::mt19937& random)
{
    for (size_t edits = 1 + random() % 3; edits > 0 && !record.empty(); --edits)
    {
        const size_t at = random() % record.size();
        const unsigned kind = random() % 4;
        const DWORD value = random() % 2 ? random() % 8 : random() % (record.size() + 32);
        if (kind == 0)
            record[at] = static_cast<BYTE>(random());
        else if (kind < 3 && at + 4 <= record.size())
            std::memcpy(&record[at & ~size_t(3)], &value, sizeof(value));
        else if (kind == 3)
            record.resize(at);
    }
    return record;
}

// Records as written, by hand and by the platform, and mutated, each at the very end of a readable
// page before one that cannot be read: our reader, the gate and, for what the gate lets through,
// the platform's parser must stay inside (a read past the record ends the test program). On the
// records as written our reader agrees with that parser.
TEST(FilterData, NoReaderLeavesTheRecordAndOursAgreesWithThePlatforms)
{
    std::vector<BYTE> categoryFlag = HandMadeRecord();
    categoryFlag[36] = 1; // +20 of the pin: the platform then reads a category offset from +24
    EXPECT_FALSE(IsWholeFilterDataRecord(categoryFlag.data(), categoryFlag.size()));
    const std::vector<std::vector<BYTE>> seeds = {
        HandMadeRecord(),
        HandMadeRecord(2, 0x8),
        ThreePinRecord(0),
        categoryFlag,
        PlatformRecord(0x800000, {}),
        PlatformRecord(0x5FFFFF, {{false, {{kMajor, kSub}, {MEDIATYPE_Stream, GUID_NULL}}}, {true, {{kMajor, kSub}}}}),
        PlatformRecord(0xFFFFFFFF,
                       {{false, {{kSub, kSub}}}, {false, {}}, {false, {{kMajor, GUID_NULL}, {GUID_NULL, kSub}}}}),
        PlatformRecord(0x1, {{false, {{kMajor, kSub}}}, {true, {{kSub, kSub}}}, {false, {{kSub, kMajor}}}})};
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    auto* pages = static_cast<BYTE*>(::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    ASSERT_TRUE(pages && ::VirtualProtect(pages + page, page, PAGE_NOACCESS, &previous));
    std::mt19937 random(20261207);
    const ULONGLONG end = ::GetTickCount64() + 20000;
    int parsed = 0, compared = 0;
    for (int round = 0; round < 20000 && ::GetTickCount64() < end; ++round)
    {
        std::vector<BYTE> record = seeds[(round < 50 ? round : random()) % seeds.size()];
        if (round >= 50)
            record = Mutated(std::move(record), random);
        if (record.empty())
            continue;
        BYTE* atEdge = pages + page - record.size();
        std::memcpy(atEdge, record.data(), record.size());
        const FilterDataRecord own = ReadFilterDataRecord(atEdge, record.size());
        if (!IsWholeFilterDataRecord(atEdge, record.size()))
            continue;
        Candidate platform;
        platform.ReadFilterData(atEdge, static_cast<int>(record.size()));
        ++parsed;
        if (round >= static_cast<int>(seeds.size()))
            continue;
        ++compared;
        std::vector<GUID> ownTypes(own.inputTypes.size());
        std::memcpy(ownTypes.data(), own.inputTypes.data(), ownTypes.size() * sizeof(GUID));
        EXPECT_EQ(std::make_tuple(true, static_cast<unsigned long long>(own.merit) << 16, ownTypes),
                  std::make_tuple(own.complete, platform.m_merit, platform.m_types))
            << "seed " << round << ": complete, merit, types";
    }
    ::VirtualFree(pages, 0, MEM_RELEASE);
    EXPECT_GT(parsed, 50);
    EXPECT_EQ(seeds.size() - 1, static_cast<size_t>(compared)) << "every seed but the category flag is whole";
}

// Type tests match pairs with and without wildcards; candidates go in merit order, the whole 64
// bits unsigned, and at equal merit exact matches first.
TEST(FilterCandidate, TypeTestsAndTheOrderOfCandidates)
{
    const std::tuple<const char*, std::vector<GUID>, std::vector<GUID>, bool, bool> cases[] = {
        {"same pair", {kMajor, kSub}, {kMajor, kSub}, true, true},
        {"listed subtype wildcard", {kMajor, GUID_NULL}, {kMajor, kSub}, true, false},
        {"requested wildcard", {kMajor, kSub}, {GUID_NULL, GUID_NULL}, true, false},
        {"other major", {kSub, kSub}, {kMajor, kSub}, false, false},
        {"second requested pair", {kMajor, kSub}, {kSub, kSub, kMajor, kSub}, true, true},
        {"lone trailing entry ignored", {kMajor, kSub}, {kMajor}, false, false},
        {"empty list", {}, {kMajor, kSub}, false, false},
        {"a registration of null types matches all, exactly none", {GUID_NULL, GUID_NULL}, {kMajor, kSub}, true, false},
        {"not even null against null", {GUID_NULL, GUID_NULL}, {GUID_NULL, GUID_NULL}, true, false},
    };
    for (const auto& [name, listed, requested, wildcard, exact] : cases)
    {
        Candidate candidate;
        candidate.m_types = listed;
        EXPECT_EQ(std::make_pair(wildcard, exact),
                  std::make_pair(candidate.CheckTypes(requested), candidate.CheckTypesExact(requested)))
            << name << ": any match, exact match";
    }
    const std::tuple<const char*, unsigned long long, GUID, unsigned long long, GUID> orders[] = {
        {"higher merit", 0x0000008000000000ull, kSub, 0x0000006000000000ull, kSub},
        {"exact before wildcard", 0x0000006000000000ull, kSub, 0x0000006000000000ull, GUID_NULL},
        {"low bits decide", 0x0000006000000001ull, kSub, 0x0000006000000000ull, kSub},
        {"bit 63 is the highest", 0x8000000000000000ull, GUID_NULL, 0x7FFFFFFFFFFFFFFFull, kSub},
    };
    for (const auto& [name, firstMerit, firstSubtype, secondMerit, secondSubtype] : orders)
    {
        Candidate first, second;
        first.m_merit = firstMerit;
        first.m_types = {kMajor, firstSubtype};
        second.m_merit = secondMerit;
        second.m_types = {kMajor, secondSubtype};
        const std::vector<SortFilter> order = OrderCandidates({&second, &first}, {kMajor, kSub});
        ASSERT_EQ(2u, order.size());
        EXPECT_EQ(&first, order[0].pFilter) << name;
    }
}

// A candidate from a class identifier reads the filter-category instance key of the class: the
// name, the merit (an explicit one wins) and the input pins' types; and it makes the filter.
TEST(FilterCandidate, FromAClassTakesNameMeritAndInputTypesFromTheRegistration)
{
    {
        RegisteredFake registered(
            {L"Wavelark candidate",
             kCandidateClass,
             {{L"In", PINDIR_INPUT, {{kMajor, kSub}}}, {L"Out", PINDIR_OUTPUT, {{kSub, kMajor}}}}},
            0x600000);
        for (unsigned long long merit : {MERIT64_DEFAULT, 0x0000001234560000ull})
        {
            Candidate candidate(kCandidateClass, merit);
            EXPECT_EQ(std::make_tuple(std::wstring(L"Wavelark candidate"),
                                      merit == MERIT64_DEFAULT ? 0x0000006000000000ull : merit,
                                      std::vector<GUID>{kMajor, kSub}),
                      std::make_tuple(candidate.m_name, candidate.m_merit, candidate.m_types))
                << merit << ": name, merit, types";
            ComPtr<IBaseFilter> made;
            EXPECT_HRESULT_SUCCEEDED(candidate.Create(made.Put()));
            EXPECT_EQ(kCandidateClass, GetFilterCLSID(made.Get()));
        }
        EXPECT_EQ(2, registered.Made());
    }
    EXPECT_EQ(0, LiveComObjects());
}

// Media types by letter; S is a byte stream of an explicit subtype, s one without.
const std::map<char, TypePair> kTypes = {
    {'A', {TestGuid(0x3a, 1), TestGuid(0x3a, 0x0A)}}, {'B', {TestGuid(0x3a, 1), TestGuid(0x3a, 0x0B)}},
    {'C', {TestGuid(0x3a, 1), TestGuid(0x3a, 0x0C)}}, {'Z', {TestGuid(0x3a, 1), TestGuid(0x3a, 0x0F)}},
    {'S', {MEDIATYPE_Stream, TestGuid(0x3a, 0x0E)}},  {'s', {MEDIATYPE_Stream, GUID_NULL}}};

const CLSID kBlockedEverywhere = {0x48025243, 0x2d39, 0x11ce, {0x87, 0x5d, 0x00, 0x60, 0x8c, 0xb7, 0x80, 0x66}};
const CLSID kBlockedInCapture = {0xd3cd7858, 0x971a, 0x4838, {0xac, 0xec, 0x40, 0xca, 0x5d, 0x52, 0x9d, 0xc8}};

// A filter named `name` taking its first letter and offering the letters after ">", one pin each.
FakeShape Fake(const std::string& name, BYTE id)
{
    FakeShape shape = {
        std::wstring(name.begin(), name.end()), TestGuid(0x3a, id), {{L"In", PINDIR_INPUT, {kTypes.at(name[0])}}}};
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
    filters.emplace("wrapper", With(Fake("A>A", id++), [](FakeShape& s) { s.reportedClsid = TestGuid(0x3a, 0x7F); }));
    filters.emplace("pinless", With(Fake("AR", id++), [](FakeShape& s) { s.enumPinsFails = true; }));
    filters.emplace("hollow", With(Fake("AR", id++), [](FakeShape& s) { s.pinsGiveNothing = true; }));
    filters.emplace("orphan", With(Fake("A>Z", id++), [](FakeShape& s) { s.pins[1].orphan = true; }));
    filters.emplace("unbindable", With(Fake("AR", id++), [](FakeShape& s) { s.refusesToBind = true; }));
    filters.emplace("blocked", With(Fake("AR", 0), [](FakeShape& s) { s.clsid = kBlockedEverywhere; }));
    filters.emplace("capture-blocked", With(Fake("AR", 0), [](FakeShape& s) { s.clsid = kBlockedInCapture; }));
    return filters;
}();

std::unique_ptr<CGraphBuilder> MakeBuilder(char kind, IGraphBuilder* graph)
{
    return kind == 'B'   ? std::make_unique<CGraphBuilder>(graph)
           : kind == 'F' ? std::make_unique<CGraphBuilderFile>(graph)
                         : std::make_unique<CGraphBuilderCapture>(graph);
}

// A graph of the platform's for a source of fakes; declared before what a test makes, so that
// it goes last, and then no test object may be left.
struct SourceGraph
{
    SourceGraph()
    {
        EXPECT_HRESULT_SUCCEEDED(
            ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder, graph.PutVoid()));
    }
    ~SourceGraph()
    {
        source.Reset();
        graph.Reset();
        EXPECT_EQ(0, LiveComObjects()) << "a test object is still referenced";
    }
    SourceGraph(const SourceGraph&) = delete;
    SourceGraph& operator=(const SourceGraph&) = delete;

    ComPtr<IPin> AddSource(std::vector<FakePin> outputs, HRESULT streamBuilder = E_NOINTERFACE)
    {
        FakeShape shape = {L"Src", TestGuid(0x3a, 0x10), std::move(outputs), streamBuilder};
        source = MakeFake(shape);
        EXPECT_HRESULT_SUCCEEDED(graph->AddFilter(source.Get(), L"Src"));
        return FindPin(source.Get(), shape.pins.back().name.c_str());
    }

    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source;
};

// A row: its name; the source's type letters ("!" after the first: the list fails there; "?":
// the list says S_OK with nothing; "+" or "-": the pin's own stream builder succeeds or fails);
// the registered filters as "FILTER@MERIT:MADE ..." (merit in units of 0x100000, MADE "-" for
// any; "Existing": a free renderer of A already in the graph); the builder (B: base, F: file,
// C: capture); its result; the sorted names of the filters afterwards; what the source's pin
// stays connected to.
using RenderCase = std::tuple<const char*, const char*, const char*, char, HRESULT, const wchar_t*, const wchar_t*>;

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
    {"a pin list that says S_OK with nothing", "A", "hollow@9:1 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"a pin that names no filter", "A", "orphan@9:1 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"a moniker that cannot bind", "A", "unbindable@9:0 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"a type list failing part-way keeps what it gave", "A!C", "CR@9:0 AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"nothing takes the type", "Z", "AR@6:0", 'C', E_FAIL, L"Src", L""},
    {"no media types at all", "", "AR@6:0", 'C', E_FAIL, L"Src", L""},
    {"a type list that says S_OK with nothing", "?", "AR@6:0", 'C', E_FAIL, L"Src", L""},
    {"a byte stream is offered its explicit type first", "S", "SR@6:1", 'C', S_FALSE, L"SR,Src", L"SR"},
    {"a stream without subtype only without a type", "s", "sR@6:1", 'C', E_FAIL, L"Src", L""},
    {"the pin's own builder comes first", "A+", "AR@6:0", 'C', S_OK, L"Src", L""},
    {"a pin's own builder that fails is passed over", "A-", "AR@6:1", 'C', S_FALSE, L"AR,Src", L"AR"},
    {"a free filter in the graph comes before the registry", "A", "Existing AR@6:0", 'B', S_FALSE, L"Existing,Src",
     L"Existing"},
    {"and so for the file builder", "A", "Existing AR@6:0", 'F', S_FALSE, L"Existing,Src", L"Existing"},
    {"but not for the capture builder", "A", "Existing AR@6:1", 'C', S_FALSE, L"AR,Existing,Src", L"AR"},
};

TEST(GraphBuilding, RendersThroughTheBestCandidateAndTakesFailedAttemptsBack)
{
    for (const auto& [name, sourceTypes, registeredFilters, builder, expected, graph, connected] : kRenderCases)
    {
        SCOPED_TRACE(name);
        SourceGraph built;
        std::vector<std::pair<std::unique_ptr<RegisteredFake>, std::string>> registered;
        std::istringstream entries(registeredFilters);
        ComPtr<IBaseFilter> existing;
        for (std::string entry; entries >> entry;)
        {
            if (entry == "Existing" && (existing = MakeFake(kFilters.at("AR"))))
            {
                ASSERT_HRESULT_SUCCEEDED(built.graph->AddFilter(existing.Get(), L"Existing"));
                continue;
            }
            const FakeShape& shape = kFilters.at(entry.substr(0, entry.find('@')));
            const DWORD merit = static_cast<DWORD>(entry[entry.find('@') + 1] - '0') << 20;
            registered.emplace_back(std::make_unique<RegisteredFake>(shape, merit), entry.substr(entry.find(':') + 1));
        }
        const std::string source = sourceTypes;
        FakePin output = {L"Out", PINDIR_OUTPUT, {}, GUID_NULL, source.find('!') == 1};
        output.typesGiveNothing = source.find('?') != std::string::npos;
        for (char type : source)
            if (kTypes.count(type))
                output.types.push_back(kTypes.at(type));
        const size_t builds = source.find_first_of("+-");
        ComPtr<IPin> out = built.AddSource({output}, builds == std::string::npos ? E_NOINTERFACE
                                                     : source[builds] == '+'     ? S_OK
                                                                                 : E_FAIL);
        EXPECT_EQ(expected, MakeBuilder(builder, built.graph.Get())->RenderPin(out.Get()));
        // The builder is gone; the chain it built stays.
        EXPECT_EQ(graph, GraphFilterNames(built.graph.Get()));
        EXPECT_EQ(connected, PeerFilterName(out.Get()));
        for (const auto& [filter, made] : registered)
            EXPECT_EQ(made, made == "-" ? made : std::to_string(filter->Made())) << filter->DisplayName();
    }
}

TEST(GraphBuilding, WrongUseLeavesTheGraphUntouchedAndTildePinsStayFree)
{
    SourceGraph built;
    ComPtr<IPin> out =
        built.AddSource({{L"~Hidden", PINDIR_OUTPUT, {kTypes.at('A')}}, {L"Out", PINDIR_OUTPUT, {kTypes.at('A')}}});
    ComPtr<IBaseFilter> sink = MakeFake(kFilters.at("AR"));
    ASSERT_HRESULT_SUCCEEDED(built.graph->AddFilter(sink.Get(), L"Sink"));
    CGraphBuilderFile builder(built.graph.Get());
    EXPECT_EQ(std::make_tuple(E_UNEXPECTED, E_FAIL, E_FAIL),
              std::make_tuple(builder.RenderPin(FindPin(sink.Get(), L"In").Get()), builder.RenderPin(nullptr),
                              CGraphBuilderFile(nullptr).RenderPin(out.Get())))
        << "an input pin, no pin, no graph";
    EXPECT_EQ(L"Sink,Src", GraphFilterNames(built.graph.Get()));
    EXPECT_EQ(S_OK, builder.RenderFilter(built.source.Get()));
    EXPECT_EQ(std::make_pair(std::wstring(), std::wstring(L"Sink")),
              std::make_pair(PeerFilterName(FindPin(built.source.Get(), L"~Hidden").Get()), PeerFilterName(out.Get())))
        << "what the tilde pin and the other are connected to";
    EXPECT_EQ(E_UNEXPECTED, builder.RenderPin(out.Get())) << "a connected pin";
    ComPtr<IBaseFilter> onlyHidden = MakeFake({L"Hidden only", TestGuid(0x3a, 0x11), {{L"~Out", PINDIR_OUTPUT, {}}}});
    EXPECT_EQ(S_FALSE, builder.RenderFilter(onlyHidden.Get())) << "no pin to render";
}
} // namespace
