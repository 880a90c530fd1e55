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

// A candidate made the three ways the builder makes them, its fields open to the tests.
struct Candidate : CGraphRegFilter
{
    using CGraphRegFilter::CGraphRegFilter;
    explicit Candidate(const CLSID& clsid = GUID_NULL, unsigned long long merit = MERIT64_DEFAULT)
        : CGraphRegFilter(clsid, merit)
    {
    }
};

std::vector<BYTE> Bytes(const void* data, size_t size)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(bytes, bytes + size);
}

template <class... Parts> std::vector<BYTE> Joined(const std::vector<BYTE>& first, const Parts&... rest)
{
    std::vector<BYTE> record = first;
    (record.insert(record.end(), rest.begin(), rest.end()), ...);
    return record;
}

// The record the platform writes for `pins`, the first pin in `category` when one is given.
std::vector<BYTE> PlatformRecord(DWORD merit, const std::vector<RegisteredPin>& pins, const GUID* category = nullptr)
{
    ComPtr<IAMFilterData> writer;
    EXPECT_HRESULT_SUCCEEDED(
        ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IAMFilterData, writer.PutVoid()));
    std::vector<std::vector<REGPINTYPES>> types(pins.size());
    std::vector<REGFILTERPINS2> entries(pins.size());
    for (size_t i = 0; i < pins.size(); ++i)
    {
        for (const TypePair& pair : pins[i].types)
            types[i].push_back({&pair.major, &pair.subtype});
        entries[i].dwFlags = pins[i].output ? REG_PINFLAG_B_OUTPUT : 0;
        entries[i].nMediaTypes = static_cast<UINT>(types[i].size());
        entries[i].lpMediaType = types[i].data();
        entries[i].clsPinCategory = i == 0 ? category : nullptr;
    }
    REGFILTER2 registration = {};
    registration.dwVersion = 2;
    registration.dwMerit = merit;
    registration.cPins2 = static_cast<ULONG>(entries.size());
    registration.rgPins2 = entries.data();
    BYTE* data = nullptr;
    ULONG size = 0;
    if (!writer || FAILED(writer->CreateFilterData(&registration, &data, &size)))
        return {};
    std::vector<BYTE> record = Bytes(data, size);
    ::CoTaskMemFree(data);
    return record;
}

struct PlatformCase
{
    const char* name;
    DWORD merit;
    std::vector<RegisteredPin> pins;
};

const PlatformCase kPlatformCases[] = {
    {"no pins", 0x800000, {}},
    {"input and output",
     0x5FFFFF,
     {{false, {{kMajor, kSub}, {MEDIATYPE_Stream, GUID_NULL}}}, {true, {{kMajor, kSub}}}}},
    {"three inputs, one empty",
     0xFFFFFFFF,
     {{false, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}},
      {false, {}},
      {false, {{kMajor, GUID_NULL}, {GUID_NULL, kSub}}}}},
    {"output between inputs", 0x1, {{false, {{kMajor, kSub}}}, {true, {{kSub, kSub}}}, {false, {{kSub, kMajor}}}}},
};

// The platform writes the record; our reader and the platform's parser must agree on it.
TEST(FilterData, PlatformRecordsReadTheSameByBothPaths)
{
    for (const PlatformCase& c : kPlatformCases)
    {
        SCOPED_TRACE(c.name);
        std::vector<GUID> expected;
        for (const RegisteredPin& pin : c.pins)
            for (const TypePair& pair : pin.output ? std::vector<TypePair>() : pin.types)
                expected.insert(expected.end(), {pair.major, pair.subtype});
        const std::vector<BYTE> record = PlatformRecord(c.merit, c.pins);
        ASSERT_TRUE(IsWholeFilterDataRecord(record.data(), record.size()));
        Candidate platform;
        platform.ReadFilterData(record.data(), static_cast<int>(record.size()));
        EXPECT_EQ(static_cast<unsigned long long>(c.merit) << 16, platform.m_merit);
        EXPECT_EQ(expected, platform.m_types);
        const FilterDataRecord own = ReadFilterDataRecord(record.data(), record.size());
        EXPECT_TRUE(own.complete);
        EXPECT_EQ(c.merit, own.merit);
        ASSERT_EQ(expected.size(), own.inputTypes.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(0, std::memcmp(&expected[i], own.inputTypes[i].data(), sizeof(GUID))) << i;
    }
}

// Header, one pin at 16, one media type at 40, its GUIDs at 56 and 72.
std::vector<BYTE> HandMadeRecord(DWORD version = 2, DWORD flags = 0, DWORD majorOffset = 56, DWORD merit = 0x600000)
{
    const DWORD words[] = {version, merit, 1, 0, 0x33697030, flags, 0, 1, 0, 0, 0x33797430, 0, majorOffset, 72};
    return Joined(Bytes(words, sizeof(words)), Bytes(&MEDIATYPE_Audio, 16), Bytes(&MEDIASUBTYPE_PCM, 16));
}

// Three input pins of one type each, `cut` bytes short. Each type's GUIDs are the first 32 bytes
// after its own record, so a cut record keeps the earlier pins' types.
std::vector<BYTE> ThreePinRecord(size_t cut, DWORD merit = 0x600000)
{
    std::vector<DWORD> words = {2, merit, 3, 0};
    for (DWORD next = 56; next <= 136; next += 40)
        words.insert(words.end(), {0x33697030, 0, 0, 1, 0, 0, 0x33797430, 0, next, next + 16});
    std::vector<BYTE> record = Joined(Bytes(words.data(), words.size() * 4), Bytes(&kMajor, 16), Bytes(&kSub, 16));
    record.resize(record.size() - cut);
    return record;
}

std::vector<BYTE> WithoutLastByte(std::vector<BYTE> record)
{
    record.pop_back();
    return record;
}

struct OwnReaderCase
{
    const char* name;
    std::vector<BYTE> record;
    bool meritRead;
    size_t typeCount; // also what a candidate takes, by whichever reader the record goes to
    bool complete;
};

const OwnReaderCase kOwnReaderCases[] = {
    {"88-byte record", HandMadeRecord(), true, 2, true},
    {"output pin", HandMadeRecord(2, 0x8), true, 0, true},
    {"87 bytes: the subtype would reach past the end", WithoutLastByte(HandMadeRecord()), true, 0, true},
    {"major type offset into the header", HandMadeRecord(2, 0, 8), true, 0, true},
    {"version 3", HandMadeRecord(3), false, 0, false},
    {"cut inside the third pin", ThreePinRecord(38), true, 4, false},
    {"fewer than eight bytes", {2, 0, 0, 0, 0, 0}, false, 0, false},
    {"header only, which crashes the platform's parser", {2, 0, 0, 0, 0, 0, 0x60, 0}, true, 0, false},
    {"three whole pins", ThreePinRecord(0), true, 6, true},
};

TEST(FilterData, OwnReaderStaysInsideTheRecordAndCutRecordsGoToIt)
{
    for (const OwnReaderCase& c : kOwnReaderCases)
    {
        SCOPED_TRACE(c.name);
        const FilterDataRecord read = ReadFilterDataRecord(c.record.data(), c.record.size());
        EXPECT_EQ(c.meritRead, read.meritRead);
        EXPECT_EQ(c.meritRead ? 0x600000u : 0u, read.merit);
        EXPECT_EQ(c.typeCount, read.inputTypes.size());
        EXPECT_EQ(c.complete, read.complete);
        Candidate candidate;
        candidate.ReadFilterData(c.record.data(), static_cast<int>(c.record.size()));
        EXPECT_EQ(c.meritRead ? 0x0000006000000000ull : MERIT64_DEFAULT, candidate.m_merit);
        if (!c.complete)
        {
            EXPECT_EQ(c.typeCount, candidate.m_types.size()) << "what lies within the record";
        }
    }
}

// A record at the very end of a readable page, before a page that cannot be read: a read past
// its end faults at once.
class GuardedRecord
{
  public:
    explicit GuardedRecord(const std::vector<BYTE>& record)
    {
        SYSTEM_INFO system;
        ::GetSystemInfo(&system);
        const size_t readable = (record.size() / system.dwPageSize + 1) * system.dwPageSize;
        m_base = static_cast<BYTE*>(
            ::VirtualAlloc(nullptr, readable + system.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD previous = 0;
        ::VirtualProtect(m_base + readable, system.dwPageSize, PAGE_NOACCESS, &previous);
        m_data = m_base + readable - record.size();
        std::memcpy(m_data, record.data(), record.size());
    }
    ~GuardedRecord() { ::VirtualFree(m_base, 0, MEM_RELEASE); }
    GuardedRecord(const GuardedRecord&) = delete;
    GuardedRecord& operator=(const GuardedRecord&) = delete;
    const BYTE* Data() const { return m_data; }

  private:
    BYTE* m_base;
    BYTE* m_data;
};

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

// Every record that the gate lets through is parsed by the platform's parser at the edge of
// readable memory: a read outside the record ends the test program. Nothing is left behind.
TEST(FilterData, ThePlatformParserNeverReadsPastWhatTheGateLetsThrough)
{
    std::vector<BYTE> categoryFlag = HandMadeRecord();
    categoryFlag[36] = 1; // +20 of the pin: the platform then reads a category offset from +24
    EXPECT_FALSE(IsWholeFilterDataRecord(categoryFlag.data(), categoryFlag.size()));
    const std::vector<std::vector<BYTE>> seeds = {
        HandMadeRecord(), HandMadeRecord(2, 0x8), ThreePinRecord(0), categoryFlag,
        PlatformRecord(0x600000, {{false, {{kMajor, kSub}}}, {true, {{kMajor, GUID_NULL}}}}, &kSub)};
    std::mt19937 random(20261207);
    const ULONGLONG end = ::GetTickCount64() + 20000;
    int parsed = 0;
    TaskMemorySpy spy;
    for (int round = 0; round < 20000 && ::GetTickCount64() < end; ++round)
    {
        std::vector<BYTE> record = seeds[(round < 50 ? round : random()) % seeds.size()];
        if (round >= 50)
            record = Mutated(std::move(record), random);
        if (record.empty() || !IsWholeFilterDataRecord(record.data(), record.size()))
            continue;
        GuardedRecord guarded(record);
        Candidate().ReadFilterData(guarded.Data(), static_cast<int>(record.size()));
        ++parsed;
    }
    EXPECT_GT(parsed, 50);
    EXPECT_EQ(0, spy.Outstanding()) << "task memory left by " << parsed << " parses";
}

TEST(FilterData, TheSplitterOneBelowNormalIsLiftedAboveIt)
{
    const struct
    {
        const char* name;
        CLSID clsid;
        std::vector<BYTE> record;
        unsigned long long merit;
    } cases[] = {
        {"splitter one below normal", CLSID_MMSPLITTER, ThreePinRecord(0, 0x5FFFFF), 0x0000006000010000ull},
        {"cut record: no special case", CLSID_MMSPLITTER, ThreePinRecord(38, 0x5FFFFF), 0x0000005FFFFF0000ull},
        {"other class keeps its merit", kCandidateClass, ThreePinRecord(0, 0x5FFFFF), 0x0000005FFFFF0000ull},
        {"platform parser path too", CLSID_MMSPLITTER, HandMadeRecord(2, 0, 56, 0x5FFFFF), 0x0000006000010000ull},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Candidate candidate;
        candidate.m_clsid = c.clsid;
        candidate.ReadFilterData(c.record.data(), static_cast<int>(c.record.size()));
        EXPECT_EQ(c.merit, candidate.m_merit);
    }
}

TEST(FilterCandidate, TypeTestsMatchPairsWithAndWithoutWildcards)
{
    const struct
    {
        const char* name;
        std::vector<GUID> listed, requested;
        bool wildcard, exact;
    } cases[] = {
        {"same pair", {kMajor, kSub}, {kMajor, kSub}, true, true},
        {"listed subtype wildcard", {kMajor, GUID_NULL}, {kMajor, kSub}, true, false},
        {"requested wildcard", {kMajor, kSub}, {GUID_NULL, GUID_NULL}, true, false},
        {"other major", {kSub, kSub}, {kMajor, kSub}, false, false},
        {"second requested pair", {kMajor, kSub}, {kSub, kSub, kMajor, kSub}, true, true},
        {"lone trailing entry ignored", {kMajor, kSub}, {kMajor}, false, false},
        {"empty list", {}, {kMajor, kSub}, false, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Candidate candidate;
        candidate.m_types = c.listed;
        EXPECT_EQ(c.wildcard, candidate.CheckTypes(c.requested));
        EXPECT_EQ(c.exact, candidate.CheckTypesExact(c.requested));
    }
}

TEST(CandidateOrder, MeritFirstThenExactMatches)
{
    const struct
    {
        const char* name;
        unsigned long long firstMerit;
        GUID firstSubtype;
        unsigned long long secondMerit;
        GUID secondSubtype;
        bool secondGoesFirst;
    } cases[] = {
        {"higher merit first", 0x0000006000000000ull, kSub, 0x0000008000000000ull, kSub, true},
        {"exact before wildcard", 0x0000006000000000ull, GUID_NULL, 0x0000006000000000ull, kSub, true},
        {"low bits decide", 0x0000006000000000ull, kSub, 0x0000006000000001ull, kSub, true},
        {"bit 63 is the highest", 0x7FFFFFFFFFFFFFFFull, kSub, 0x8000000000000000ull, GUID_NULL, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Candidate first, second;
        first.m_merit = c.firstMerit;
        first.m_types = {kMajor, c.firstSubtype};
        second.m_merit = c.secondMerit;
        second.m_types = {kMajor, c.secondSubtype};
        const std::vector<SortFilter> order = OrderCandidates({&first, &second}, {kMajor, kSub});
        ASSERT_EQ(2u, order.size());
        EXPECT_EQ(c.secondGoesFirst ? &second : &first, order[0].pFilter);
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
        EXPECT_EQ(L"Class key name", classOnly.m_name);
        EXPECT_EQ(MERIT64_DEFAULT, classOnly.m_merit) << "no record, the merit given";

        RegisteredFake registered(shape, 0x600000, &CLSID_LegacyAmFilterCategory);
        ComPtr<IBindCtx> context;
        ComPtr<IMoniker> moniker;
        ULONG eaten = 0;
        ASSERT_HRESULT_SUCCEEDED(::CreateBindCtx(0, context.Put()));
        ASSERT_HRESULT_SUCCEEDED(
            ::MkParseDisplayName(context.Get(), registered.DisplayName().c_str(), &eaten, moniker.Put()));
        for (unsigned long long merit : {MERIT64_DEFAULT, 0x0000001234560000ull})
        {
            SCOPED_TRACE(merit);
            const bool asked = merit == MERIT64_DEFAULT;
            Candidate fromMoniker(moniker.Get(), merit);
            const Candidate fromClass(kCandidateClass, merit);
            for (const Candidate* candidate : {static_cast<const Candidate*>(&fromMoniker), &fromClass})
            {
                EXPECT_EQ(L"Wavelark candidate", candidate->m_name) << "the instance's name wins";
                EXPECT_EQ(asked ? 0x0000006000000000ull : merit, candidate->m_merit);
                EXPECT_EQ((std::vector<GUID>{kMajor, kSub}), candidate->m_types) << "input types only";
            }
            ComPtr<IBaseFilter> made;
            EXPECT_HRESULT_SUCCEEDED(fromMoniker.Create(made.Put()));
            EXPECT_EQ(kCandidateClass, GetFilterCLSID(made.Get()));
            ComPtr<IMoniker> kept;
            kept.Attach(fromMoniker.GetMoniker());
            EXPECT_EQ(moniker.Get(), kept.Get());
        }
        EXPECT_EQ(2, registered.Made());

        Candidate none(GUID_NULL, 0x42);
        EXPECT_TRUE(none.m_name.empty());
        EXPECT_EQ(0x42ull, none.m_merit);
        ComPtr<IBaseFilter> made;
        EXPECT_EQ(E_FAIL, none.Create(made.Put()));
        EXPECT_EQ(E_POINTER, none.Create(nullptr));
    }
    (void)::RegDeleteKeyA(HKEY_CLASSES_ROOT, classKey.c_str());
    EXPECT_EQ(0, LiveComObjects());
}

TEST(MediaTypeRecords, CopiesOwnTheirFormatBlockAndReferenceAndFailCleanly)
{
    {
        ComPtr<IBaseFilter> counted = MakeFake({L"unk", kCandidateClass, {}});
        AM_MEDIA_TYPE source = {};
        source.majortype = MEDIATYPE_Audio;
        source.pUnk = counted.CopyOut(); // the record owns this reference
        source.cbFormat = 20;
        source.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(20));
        std::memset(source.pbFormat, 0x5A, 20);
        CMediaType copy(source);
        FreeMediaTypeRecord(&source);
        EXPECT_EQ(nullptr, source.pbFormat);
        ASSERT_EQ(20u, copy.cbFormat);
        EXPECT_EQ(0x5A, copy.pbFormat[19]) << "the copy outlives the original's block";
        CMediaType& self = copy;
        EXPECT_HRESULT_SUCCEEDED(copy.Assign(self));
        EXPECT_EQ(0x5A, copy.pbFormat[0]) << "assignment to itself changes nothing";

        AM_MEDIA_TYPE failed = {};
        {
            TaskMemorySpy spy;
            spy.FailNextAllocation();
            EXPECT_EQ(E_OUTOFMEMORY, CopyMediaTypeRecord(&failed, &copy));
        }
        EXPECT_EQ(nullptr, failed.pUnk) << "a failed copy holds no reference to release";
        FreeMediaTypeRecord(&failed);
    }
    EXPECT_EQ(0, LiveComObjects()) << "each copy's reference to pUnk is released exactly once";
}
} // namespace
