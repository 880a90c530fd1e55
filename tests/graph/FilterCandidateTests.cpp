#include "graph/AmFilterData.h"
#include "graph/DShowHelpers.h"
#include "graph/FilterDataRecord.h"
#include "graph/GraphFilter.h"
#include "graph/SortFilter.h"
#include "support/FakeFilter.h"

#include <gtest/gtest.h>

#include <uuids.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace
{
const GUID kMajor = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const GUID kSub = {0x66666666, 0x7777, 0x8888, {0x99, 0x99, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}};
const CLSID kCandidateClass = {0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, 0x2a, 0x01}};

// A candidate made the ways the builder makes them, its fields open to the tests.
struct Candidate : CGraphRegFilter
{
    using CGraphRegFilter::CGraphRegFilter;
    explicit Candidate(const CLSID& clsid = GUID_NULL, unsigned long long merit = MERIT64_DEFAULT)
        : CGraphRegFilter(clsid, merit)
    {
    }
    Candidate& Read(const std::vector<BYTE>& record)
    {
        ReadFilterData(record.data(), static_cast<int>(record.size()));
        return *this;
    }
};

template <class... Parts> std::vector<BYTE> Bytes(const Parts&... parts)
{
    std::vector<BYTE> bytes;
    (bytes.insert(bytes.end(), reinterpret_cast<const BYTE*>(&parts), reinterpret_cast<const BYTE*>(&parts + 1)), ...);
    return bytes;
}

// The record the platform writes for `pins`, the first pin in `category` when one is given.
std::vector<BYTE> PlatformRecord(DWORD merit, const std::vector<RegisteredPin>& pins, const GUID* category = nullptr)
{
    std::vector<std::vector<REGPINTYPES>> types(pins.size());
    std::vector<REGFILTERPINS2> entries(pins.size());
    for (size_t i = 0; i < pins.size(); ++i)
    {
        for (const TypePair& pair : pins[i].types)
            types[i].push_back({&pair.major, &pair.subtype});
        entries[i] = {pins[i].output ? static_cast<DWORD>(REG_PINFLAG_B_OUTPUT) : 0ul,
                      0,
                      static_cast<UINT>(types[i].size()),
                      types[i].data(),
                      0,
                      nullptr,
                      i == 0 ? category : nullptr};
    }
    REGFILTER2 registration = {};
    registration.dwVersion = 2;
    registration.dwMerit = merit;
    registration.cPins2 = static_cast<ULONG>(entries.size());
    registration.rgPins2 = entries.data();
    ComPtr<IAMFilterData> writer;
    BYTE* data = nullptr;
    ULONG size = 0;
    if (FAILED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IAMFilterData, writer.PutVoid())) ||
        FAILED(writer->CreateFilterData(&registration, &data, &size)))
        return {};
    std::vector<BYTE> record(data, data + size);
    ::CoTaskMemFree(data);
    return record;
}

// The platform writes the record; our reader and the platform's parser must agree on it.
TEST(FilterData, PlatformRecordsReadTheSameByBothPaths)
{
    const std::vector<std::pair<DWORD, std::vector<RegisteredPin>>> cases = {
        {0x800000, {}},
        {0x5FFFFF, {{false, {{kMajor, kSub}, {MEDIATYPE_Stream, GUID_NULL}}}, {true, {{kMajor, kSub}}}}},
        {0xFFFFFFFF, {{false, {{kSub, kSub}}}, {false, {}}, {false, {{kMajor, GUID_NULL}, {GUID_NULL, kSub}}}}},
        {0x1, {{false, {{kMajor, kSub}}}, {true, {{kSub, kSub}}}, {false, {{kSub, kMajor}}}}},
    };
    for (const auto& [merit, pins] : cases)
    {
        SCOPED_TRACE(merit);
        std::vector<GUID> types;
        std::vector<RecordGuid> ownTypes;
        for (const RegisteredPin& pin : pins)
            for (const TypePair& pair : pin.output ? std::vector<TypePair>() : pin.types)
                types.insert(types.end(), {pair.major, pair.subtype});
        for (const GUID& type : types)
            ownTypes.push_back(*reinterpret_cast<const RecordGuid*>(&type));
        const std::vector<BYTE> record = PlatformRecord(merit, pins);
        ASSERT_TRUE(IsWholeFilterDataRecord(record.data(), record.size()));
        Candidate platform;
        platform.Read(record);
        EXPECT_EQ(std::make_pair(static_cast<unsigned long long>(merit) << 16, types),
                  std::make_pair(platform.m_merit, platform.m_types));
        const FilterDataRecord own = ReadFilterDataRecord(record.data(), record.size());
        EXPECT_EQ(std::make_tuple(true, merit, ownTypes), std::make_tuple(own.complete, own.merit, own.inputTypes));
    }
}

// Header, one pin at 16, one media type at 40, its GUIDs at 56 and 72.
std::vector<BYTE> HandMadeRecord(DWORD version = 2, DWORD flags = 0, DWORD majorOffset = 56, DWORD merit = 0x600000)
{
    const DWORD words[] = {version, merit, 1, 0, 0x33697030, flags, 0, 1, 0, 0, 0x33797430, 0, majorOffset, 72};
    return Bytes(words, MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
}

// Three input pins of one type each, `cut` bytes short. Each type's GUIDs are the first 32 bytes
// after its own record, so a cut record keeps the earlier pins' types.
std::vector<BYTE> ThreePinRecord(size_t cut, DWORD merit = 0x600000)
{
    const DWORD header[] = {2, merit, 3, 0};
    std::vector<BYTE> record = Bytes(header);
    for (DWORD next = 56; next <= 136; next += 40)
    {
        const DWORD pin[] = {0x33697030, 0, 0, 1, 0, 0, 0x33797430, 0, next, next + 16};
        const std::vector<BYTE> bytes = Bytes(pin);
        record.insert(record.end(), bytes.begin(), bytes.end());
    }
    const std::vector<BYTE> guids = Bytes(kMajor, kSub);
    record.insert(record.end(), guids.begin(), guids.end());
    record.resize(record.size() - cut);
    return record;
}

// Cut records go to our reader: the platform's parser would read past their end.
TEST(FilterData, OwnReaderStaysInsideTheRecordAndCutRecordsGoToIt)
{
    const struct
    {
        const char* name;
        std::vector<BYTE> record;
        bool meritRead;
        size_t typeCount; // by our reader; for a cut record, also by the candidate
        bool complete;
    } cases[] = {
        {"88-byte record", HandMadeRecord(), true, 2, true},
        {"output pin", HandMadeRecord(2, 0x8), true, 0, true},
        {"87 bytes: the subtype would reach past the end",
         []
         {
             std::vector<BYTE> record = HandMadeRecord();
             record.pop_back();
             return record;
         }(),
         true, 0, true},
        {"major type offset into the header", HandMadeRecord(2, 0, 8), true, 0, true},
        {"version 3", HandMadeRecord(3), false, 0, false},
        {"cut inside the third pin", ThreePinRecord(38), true, 4, false},
        {"fewer than eight bytes", {2, 0, 0, 0, 0, 0}, false, 0, false},
        {"header only, which crashes the platform's parser", {2, 0, 0, 0, 0, 0, 0x60, 0}, true, 0, false},
        {"three whole pins", ThreePinRecord(0), true, 6, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const FilterDataRecord read = ReadFilterDataRecord(c.record.data(), c.record.size());
        EXPECT_EQ(std::make_tuple(c.meritRead, c.meritRead ? 0x600000u : 0u, c.typeCount, c.complete),
                  std::make_tuple(read.meritRead, read.merit, read.inputTypes.size(), read.complete));
        Candidate candidate;
        candidate.Read(c.record);
        EXPECT_EQ(c.meritRead ? 0x0000006000000000ull : MERIT64_DEFAULT, candidate.m_merit);
        EXPECT_EQ(c.complete ? candidate.m_types.size() : c.typeCount, candidate.m_types.size());
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

// Every record that the gate lets through is parsed by the platform's parser at the very end of
// a readable page, before one that cannot be read: a read past the record ends the test program.
TEST(FilterData, ThePlatformParserNeverReadsPastWhatTheGateLetsThrough)
{
    std::vector<BYTE> categoryFlag = HandMadeRecord();
    categoryFlag[36] = 1; // +20 of the pin: the platform then reads a category offset from +24
    EXPECT_FALSE(IsWholeFilterDataRecord(categoryFlag.data(), categoryFlag.size()));
    const std::vector<std::vector<BYTE>> seeds = {
        HandMadeRecord(), HandMadeRecord(2, 0x8), ThreePinRecord(0), categoryFlag,
        PlatformRecord(0x600000, {{false, {{kMajor, kSub}}}, {true, {{kMajor, GUID_NULL}}}}, &kSub)};
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    auto* pages = static_cast<BYTE*>(::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    ASSERT_TRUE(pages && ::VirtualProtect(pages + page, page, PAGE_NOACCESS, &previous));
    std::mt19937 random(20261207);
    const ULONGLONG end = ::GetTickCount64() + 20000;
    int parsed = 0;
    for (int round = 0; round < 20000 && ::GetTickCount64() < end; ++round)
    {
        std::vector<BYTE> record = seeds[(round < 50 ? round : random()) % seeds.size()];
        if (round >= 50)
            record = Mutated(std::move(record), random);
        if (record.empty() || !IsWholeFilterDataRecord(record.data(), record.size()))
            continue;
        BYTE* atEdge = pages + page - record.size();
        std::memcpy(atEdge, record.data(), record.size());
        Candidate().ReadFilterData(atEdge, static_cast<int>(record.size()));
        ++parsed;
    }
    ::VirtualFree(pages, 0, MEM_RELEASE);
    EXPECT_GT(parsed, 50);
}

TEST(FilterData, TheSplitterOneBelowNormalIsLiftedAboveIt)
{
    const std::tuple<const char*, CLSID, std::vector<BYTE>, unsigned long long> cases[] = {
        {"one below normal", CLSID_MMSPLITTER, ThreePinRecord(0, 0x5FFFFF), 0x0000006000010000ull},
        {"cut record: no special case", CLSID_MMSPLITTER, ThreePinRecord(38, 0x5FFFFF), 0x0000005FFFFF0000ull},
        {"other class", kCandidateClass, ThreePinRecord(0, 0x5FFFFF), 0x0000005FFFFF0000ull},
        {"platform parser path", CLSID_MMSPLITTER, HandMadeRecord(2, 0, 56, 0x5FFFFF), 0x0000006000010000ull},
    };
    for (const auto& [name, clsid, record, merit] : cases)
    {
        Candidate candidate;
        candidate.m_clsid = clsid;
        EXPECT_EQ(merit, candidate.Read(record).m_merit) << name;
    }
}

TEST(FilterCandidate, TypeTestsMatchPairsWithAndWithoutWildcards)
{
    const std::tuple<const char*, std::vector<GUID>, std::vector<GUID>, bool, bool> cases[] = {
        {"same pair", {kMajor, kSub}, {kMajor, kSub}, true, true},
        {"listed subtype wildcard", {kMajor, GUID_NULL}, {kMajor, kSub}, true, false},
        {"requested wildcard", {kMajor, kSub}, {GUID_NULL, GUID_NULL}, true, false},
        {"other major", {kSub, kSub}, {kMajor, kSub}, false, false},
        {"second requested pair", {kMajor, kSub}, {kSub, kSub, kMajor, kSub}, true, true},
        {"lone trailing entry ignored", {kMajor, kSub}, {kMajor}, false, false},
        {"empty list", {}, {kMajor, kSub}, false, false},
    };
    for (const auto& [name, listed, requested, wildcard, exact] : cases)
    {
        Candidate candidate;
        candidate.m_types = listed;
        EXPECT_EQ(std::make_pair(wildcard, exact),
                  std::make_pair(candidate.CheckTypes(requested), candidate.CheckTypesExact(requested)))
            << name;
    }
}

TEST(CandidateOrder, MeritFirstThenExactMatches)
{
    const std::tuple<const char*, unsigned long long, GUID, unsigned long long, GUID> cases[] = {
        {"higher merit", 0x0000008000000000ull, kSub, 0x0000006000000000ull, kSub},
        {"exact before wildcard", 0x0000006000000000ull, kSub, 0x0000006000000000ull, GUID_NULL},
        {"low bits decide", 0x0000006000000001ull, kSub, 0x0000006000000000ull, kSub},
        {"bit 63 is the highest", 0x8000000000000000ull, GUID_NULL, 0x7FFFFFFFFFFFFFFFull, kSub},
    };
    for (const auto& [name, firstMerit, firstSubtype, secondMerit, secondSubtype] : cases)
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

// Candidates of a filter the real mapper registered: from its moniker, and from its class
// identifier, which reads the class key and the filter-category instance key.
TEST(FilterCandidate, TakesNameClassMeritAndInputTypesFromTheRegistration)
{
    const FakeShape shape = {L"Wavelark candidate",
                             kCandidateClass,
                             {{L"In", PINDIR_INPUT, {{kMajor, kSub}}}, {L"Out", PINDIR_OUTPUT, {{kSub, kMajor}}}}};
    const std::string classKey = std::string("CLSID\\") + CStringFromGUID(kCandidateClass).GetString();
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueA(HKEY_CLASSES_ROOT, classKey.c_str(), REG_SZ, "Class key name", 14));
    {
        const Candidate classOnly(kCandidateClass);
        EXPECT_EQ(std::make_pair(std::wstring(L"Class key name"), MERIT64_DEFAULT),
                  std::make_pair(classOnly.m_name, classOnly.m_merit));
        RegisteredFake registered(shape, 0x600000);
        ComPtr<IBindCtx> context;
        ComPtr<IMoniker> moniker;
        ULONG eaten = 0;
        ASSERT_HRESULT_SUCCEEDED(::CreateBindCtx(0, context.Put()));
        ASSERT_HRESULT_SUCCEEDED(
            ::MkParseDisplayName(context.Get(), registered.DisplayName().c_str(), &eaten, moniker.Put()));
        for (unsigned long long merit : {MERIT64_DEFAULT, 0x0000001234560000ull})
        {
            SCOPED_TRACE(merit);
            Candidate fromMoniker(moniker.Get(), merit);
            const Candidate fromClass(kCandidateClass, merit);
            for (const Candidate* candidate : {static_cast<const Candidate*>(&fromMoniker), &fromClass})
                EXPECT_EQ(std::make_tuple(std::wstring(L"Wavelark candidate"),
                                          merit == MERIT64_DEFAULT ? 0x0000006000000000ull : merit,
                                          std::vector<GUID>{kMajor, kSub}),
                          std::make_tuple(candidate->m_name, candidate->m_merit, candidate->m_types));
            ComPtr<IBaseFilter> made;
            EXPECT_HRESULT_SUCCEEDED(fromMoniker.Create(made.Put()));
            EXPECT_EQ(kCandidateClass, GetFilterCLSID(made.Get()));
            EXPECT_EQ(moniker.Get(), fromMoniker.m_moniker.Get());
        }
        EXPECT_EQ(2, registered.Made());
        Candidate none(GUID_NULL, 0x42);
        ComPtr<IBaseFilter> made;
        EXPECT_EQ(std::make_tuple(std::wstring(), 0x42ull, E_FAIL, E_POINTER),
                  std::make_tuple(none.m_name, none.m_merit, none.Create(made.Put()), none.Create(nullptr)));
    }
    (void)::RegDeleteKeyA(HKEY_CLASSES_ROOT, classKey.c_str());
    EXPECT_EQ(0, LiveComObjects());
}
} // namespace
