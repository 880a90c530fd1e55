#include "TestFilters.h"
#include "graph/AmFilterData.h"
#include "graph/DShowHelpers.h"
#include "graph/FilterDataRecord.h"
#include "graph/GraphFilter.h"
#include "graph/SortFilter.h"

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

// A candidate without registration, to read records into.
class RecordCandidate : public CGraphRegFilter
{
  public:
    explicit RecordCandidate(const CLSID& clsid = GUID_NULL) : CGraphRegFilter(GUID_NULL) { m_clsid = clsid; }
};

std::vector<BYTE> Bytes(const void* data, size_t size)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(bytes, bytes + size);
}

struct PinShape
{
    bool output;
    std::vector<std::pair<GUID, GUID>> types;
};

struct RecordShape
{
    const char* name;
    DWORD merit;
    std::vector<PinShape> pins;
};

const RecordShape kRecordShapes[] = {
    {"no pins", 0x800000, {}},
    {"one input", 0x600000, {{false, {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}}}},
    {"one output", 0x200000, {{true, {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}}}},
    {"input and output",
     0x5FFFFF,
     {{false, {{kMajor, kSub}, {MEDIATYPE_Stream, GUID_NULL}}}, {true, {{kMajor, kSub}}}}},
    {"three inputs",
     0xFFFFFFFF,
     {{false, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}},
      {false, {}},
      {false, {{kMajor, GUID_NULL}, {GUID_NULL, kSub}, {MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}}}},
    {"output between inputs",
     0x1,
     {{false, {{kMajor, kSub}}},
      {true, {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}, {kMajor, kSub}}},
      {false, {{kSub, kMajor}}}}},
};

// The platform writes the record; our reader and the platform's parser must agree on it.
TEST(FilterData, PlatformRecordsReadTheSameByBothPaths)
{
    ComPtr<IAMFilterData> writer;
    ASSERT_HRESULT_SUCCEEDED(
        ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IAMFilterData, writer.PutVoid()));
    for (const RecordShape& shape : kRecordShapes)
    {
        SCOPED_TRACE(shape.name);
        std::vector<std::vector<REGPINTYPES>> types;
        for (const PinShape& pin : shape.pins)
        {
            std::vector<REGPINTYPES> pinTypes;
            for (const auto& pair : pin.types)
                pinTypes.push_back({&pair.first, &pair.second});
            types.push_back(pinTypes);
        }
        std::vector<REGFILTERPINS2> pins;
        std::vector<GUID> expected;
        for (size_t i = 0; i < shape.pins.size(); ++i)
        {
            REGFILTERPINS2 pin = {};
            pin.dwFlags = shape.pins[i].output ? REG_PINFLAG_B_OUTPUT : 0;
            pin.nMediaTypes = static_cast<UINT>(types[i].size());
            pin.lpMediaType = types[i].data();
            pins.push_back(pin);
            for (const auto& pair : shape.pins[i].types)
            {
                if (!shape.pins[i].output)
                {
                    expected.push_back(pair.first);
                    expected.push_back(pair.second);
                }
            }
        }
        REGFILTER2 registration = {};
        registration.dwVersion = 2;
        registration.dwMerit = shape.merit;
        registration.cPins2 = static_cast<ULONG>(pins.size());
        registration.rgPins2 = pins.data();
        BYTE* data = nullptr;
        ULONG size = 0;
        ASSERT_HRESULT_SUCCEEDED(writer->CreateFilterData(&registration, &data, &size));
        const std::vector<BYTE> record = Bytes(data, size);
        ::CoTaskMemFree(data);

        ASSERT_TRUE(IsWholeFilterDataRecord(record.data(), record.size()));
        RecordCandidate platform;
        platform.ReadFilterData(record.data(), static_cast<int>(record.size()));
        const FilterDataRecord own = ReadFilterDataRecord(record.data(), record.size());
        ASSERT_TRUE(own.complete);
        EXPECT_EQ(static_cast<unsigned long long>(shape.merit) << 16, platform.m_merit);
        EXPECT_EQ(shape.merit, own.merit);
        EXPECT_EQ(expected, platform.m_types);
        ASSERT_EQ(expected.size(), own.inputTypes.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(0, std::memcmp(&expected[i], own.inputTypes[i].data(), sizeof(GUID))) << i;
    }
}

// The record of the tests below: header, one pin at 16, one media type at 40, GUIDs at 56, 72.
std::vector<BYTE> HandMadeRecord(DWORD version = 2, DWORD flags = 0, DWORD majorOffset = 56, DWORD merit = 0x600000)
{
    const DWORD words[] = {version, merit, 1, 0, 0x33697030, flags, 0, 1, 0, 0, 0x33797430, 0, majorOffset, 72};
    std::vector<BYTE> record = Bytes(words, sizeof(words));
    const std::vector<BYTE> major = Bytes(&MEDIATYPE_Audio, sizeof(GUID));
    const std::vector<BYTE> sub = Bytes(&MEDIASUBTYPE_PCM, sizeof(GUID));
    record.insert(record.end(), major.begin(), major.end());
    record.insert(record.end(), sub.begin(), sub.end());
    return record;
}

// Three input pins of one type each, `cut` bytes fewer than the whole record. Each type's GUIDs
// are the first 32 bytes after its own record, so a cut record keeps the earlier pins' types.
std::vector<BYTE> ThreePinRecord(size_t cut, DWORD merit)
{
    std::vector<DWORD> words = {2, merit, 3, 0};
    for (DWORD pin = 0; pin < 3; ++pin)
    {
        const DWORD next = 16 + 40 * (pin + 1);
        const std::vector<DWORD> pinWords = {0x33697030, 0, 0, 1, 0, 0, 0x33797430, 0, next, next + 16};
        words.insert(words.end(), pinWords.begin(), pinWords.end());
    }
    std::vector<BYTE> record = Bytes(words.data(), words.size() * sizeof(DWORD));
    const std::vector<BYTE> major = Bytes(&kMajor, sizeof(GUID));
    const std::vector<BYTE> sub = Bytes(&kSub, sizeof(GUID));
    record.insert(record.end(), major.begin(), major.end());
    record.insert(record.end(), sub.begin(), sub.end());
    record.resize(record.size() - cut);
    return record;
}

struct OwnReaderCase
{
    const char* name;
    std::vector<BYTE> record;
    bool meritRead;
    size_t typeCount;
    bool complete;
};

const OwnReaderCase kOwnReaderCases[] = {
    {"88-byte record", HandMadeRecord(), true, 2, true},
    {"output pin", HandMadeRecord(2, 0x8), true, 0, true},
    {"87 bytes: the subtype would reach past the end",
     []
     {
         auto r = HandMadeRecord();
         r.pop_back();
         return r;
     }(),
     true, 0, true},
    {"major type offset into the header", HandMadeRecord(2, 0, 8), true, 0, true},
    {"version 3", HandMadeRecord(3), false, 0, false},
    {"cut inside the third pin", ThreePinRecord(38, 0x600000), true, 4, false},
    {"fewer than eight bytes", {2, 0, 0, 0, 0, 0}, false, 0, false},
    {"header only", {2, 0, 0, 0, 0, 0, 0x60, 0}, true, 0, false},
    {"three whole pins", ThreePinRecord(0, 0x600000), true, 6, true},
};

TEST(FilterData, OwnReaderStaysInsideTheRecord)
{
    for (const OwnReaderCase& c : kOwnReaderCases)
    {
        SCOPED_TRACE(c.name);
        const FilterDataRecord read = ReadFilterDataRecord(c.record.data(), c.record.size());
        EXPECT_EQ(c.meritRead, read.meritRead);
        if (c.meritRead)
        {
            EXPECT_EQ(0x600000u, read.merit);
        }
        EXPECT_EQ(c.typeCount, read.inputTypes.size());
        EXPECT_EQ(c.complete, read.complete);
    }
}

TEST(FilterData, ThePlatformParserOnlySeesWholeRecords)
{
    // An 8-byte cut crashes the platform's parser; it must go to our reader instead.
    const std::vector<BYTE> truncated = {2, 0, 0, 0, 0, 0, 0x60, 0};
    EXPECT_FALSE(IsWholeFilterDataRecord(truncated.data(), truncated.size()));
    RecordCandidate candidate;
    candidate.ReadFilterData(truncated.data(), static_cast<int>(truncated.size()));
    EXPECT_EQ(0x0000006000000000ull, candidate.m_merit) << "merged by our reader";
    EXPECT_TRUE(candidate.m_types.empty());

    const std::vector<BYTE> cutPin = ThreePinRecord(38, 0x600000);
    EXPECT_FALSE(IsWholeFilterDataRecord(cutPin.data(), cutPin.size()));
    RecordCandidate cut;
    cut.ReadFilterData(cutPin.data(), static_cast<int>(cutPin.size()));
    EXPECT_EQ(4u, cut.m_types.size()) << "the first two pins' types";
    EXPECT_EQ(0x0000006000000000ull, cut.m_merit);
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
        const size_t page = system.dwPageSize;
        const size_t readable = (record.size() + page - 1) / page * page;
        m_base = static_cast<BYTE*>(::VirtualAlloc(nullptr, readable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD previous = 0;
        ::VirtualProtect(m_base + readable, page, PAGE_NOACCESS, &previous);
        m_data = m_base + readable - record.size();
        std::memcpy(m_data, record.data(), record.size());
    }
    ~GuardedRecord() { ::VirtualFree(m_base, 0, MEM_RELEASE); }
    GuardedRecord(const GuardedRecord&) = delete;
    GuardedRecord& operator=(const GuardedRecord&) = delete;
    BYTE* Data() const { return m_data; }

  private:
    BYTE* m_base;
    BYTE* m_data;
};

// Mutations of whole records as a damaged or hostile registration might hold them: a byte
// changed, a 32-bit field set to a small number or an offset, the record cut.
std::vector<BYTE> Mutated(std::vector<BYTE> record, std::mt19937& random)
{
    const size_t edits = 1 + random() % 3;
    for (size_t i = 0; i < edits && !record.empty(); ++i)
    {
        const size_t at = random() % record.size();
        switch (random() % 4)
        {
        case 0:
            record[at] = static_cast<BYTE>(random());
            break;
        case 1:
        case 2:
            if (at + 4 <= record.size())
            {
                const DWORD value = random() % 2 ? random() % 8 : random() % (record.size() + 32);
                std::memcpy(&record[at & ~size_t(3)], &value, sizeof(value));
            }
            break;
        default:
            record.resize(at);
        }
    }
    return record;
}

// Every record that the gate lets through is parsed by the real platform parser right at the
// edge of readable memory; a parser read outside the record ends the test program. The parsed
// records leave no task memory behind.
TEST(FilterData, ThePlatformParserNeverReadsPastWhatTheGateLetsThrough)
{
    std::vector<std::vector<BYTE>> seeds = {HandMadeRecord(), HandMadeRecord(2, 0x8), ThreePinRecord(0, 0x600000)};
    std::vector<BYTE> categoryFlag = HandMadeRecord();
    categoryFlag[36] = 1; // +20 of the pin: the platform then reads a category offset from +24
    EXPECT_FALSE(IsWholeFilterDataRecord(categoryFlag.data(), categoryFlag.size()));
    seeds.push_back(categoryFlag);
    ComPtr<IAMFilterData> writer;
    ASSERT_HRESULT_SUCCEEDED(
        ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IAMFilterData, writer.PutVoid()));
    const REGPINTYPES types[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}, {&kMajor, &kSub}, {&kMajor, &GUID_NULL}};
    REGFILTERPINS2 pins[2] = {};
    pins[0].nMediaTypes = 2;
    pins[0].lpMediaType = types;
    pins[0].clsPinCategory = &kSub;
    pins[1].dwFlags = REG_PINFLAG_B_OUTPUT;
    pins[1].nMediaTypes = 1;
    pins[1].lpMediaType = types + 2;
    REGFILTER2 registration = {};
    registration.dwVersion = 2;
    registration.dwMerit = 0x600000;
    registration.cPins2 = 2;
    registration.rgPins2 = pins;
    BYTE* written = nullptr;
    ULONG size = 0;
    ASSERT_HRESULT_SUCCEEDED(writer->CreateFilterData(&registration, &written, &size));
    seeds.push_back(Bytes(written, size));
    ::CoTaskMemFree(written);

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
        RecordCandidate candidate;
        candidate.ReadFilterData(guarded.Data(), static_cast<int>(record.size()));
        ++parsed;
    }
    EXPECT_GT(parsed, 50);
    EXPECT_EQ(0, spy.Outstanding()) << "task memory left by " << parsed << " parses";
}

struct SplitterCase
{
    const char* name;
    CLSID clsid;
    std::vector<BYTE> record;
    unsigned long long merit;
};

const SplitterCase kSplitterCases[] = {
    {"splitter one below normal becomes one above", CLSID_MMSPLITTER, ThreePinRecord(0, 0x5FFFFF),
     0x0000006000010000ull},
    {"cut record: no special case", CLSID_MMSPLITTER, ThreePinRecord(38, 0x5FFFFF), 0x0000005FFFFF0000ull},
    {"other class keeps its merit", kCandidateClass, ThreePinRecord(0, 0x5FFFFF), 0x0000005FFFFF0000ull},
    {"platform parser path too", CLSID_MMSPLITTER, HandMadeRecord(2, 0, 56, 0x5FFFFF), 0x0000006000010000ull},
};

TEST(FilterData, TheSplitterOneBelowNormalIsLiftedAboveIt)
{
    for (const SplitterCase& c : kSplitterCases)
    {
        SCOPED_TRACE(c.name);
        RecordCandidate candidate(c.clsid);
        candidate.m_merit = 0;
        candidate.ReadFilterData(c.record.data(), static_cast<int>(c.record.size()));
        EXPECT_EQ(c.merit, candidate.m_merit);
    }
}

struct TypeTestCase
{
    const char* name;
    std::vector<GUID> listed;
    std::vector<GUID> requested;
    bool wildcard;
    bool exact;
};

const TypeTestCase kTypeTests[] = {
    {"same pair", {MEDIATYPE_Audio, MEDIASUBTYPE_PCM}, {MEDIATYPE_Audio, MEDIASUBTYPE_PCM}, true, true},
    {"listed subtype wildcard", {MEDIATYPE_Audio, GUID_NULL}, {MEDIATYPE_Audio, MEDIASUBTYPE_PCM}, true, false},
    {"requested wildcard", {MEDIATYPE_Audio, MEDIASUBTYPE_PCM}, {GUID_NULL, GUID_NULL}, true, false},
    {"other major", {MEDIATYPE_Video, MEDIASUBTYPE_PCM}, {MEDIATYPE_Audio, MEDIASUBTYPE_PCM}, false, false},
    {"second requested pair", {kMajor, kSub}, {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, kMajor, kSub}, true, true},
    {"lone trailing entry ignored", {kMajor, kSub}, {kMajor}, false, false},
    {"empty list", {}, {kMajor, kSub}, false, false},
    {"empty request", {kMajor, kSub}, {}, false, false},
};

TEST(FilterCandidate, TypeTestsMatchPairsWithAndWithoutWildcards)
{
    for (const TypeTestCase& c : kTypeTests)
    {
        SCOPED_TRACE(c.name);
        RecordCandidate candidate;
        candidate.m_types = c.listed;
        EXPECT_EQ(c.wildcard, candidate.CheckTypes(c.requested));
        EXPECT_EQ(c.exact, candidate.CheckTypesExact(c.requested));
    }
}

struct OrderCase
{
    const char* name;
    unsigned long long firstMerit;
    std::vector<GUID> firstTypes;
    unsigned long long secondMerit;
    std::vector<GUID> secondTypes;
    bool secondGoesFirst;
};

const OrderCase kOrderCases[] = {
    {"higher merit first", 0x0000006000000000ull, {kMajor, kSub}, 0x0000008000000000ull, {kMajor, kSub}, true},
    {"exact before wildcard", 0x0000006000000000ull, {kMajor, GUID_NULL}, 0x0000006000000000ull, {kMajor, kSub}, true},
    {"low bits decide", 0x0000006000000000ull, {kMajor, kSub}, 0x0000006000000001ull, {kMajor, kSub}, true},
    {"high bits decide", 0x0001000000000000ull, {kMajor, kSub}, 0x0000FFFFFFFFFFFFull, {kMajor, kSub}, false},
    {"bit 63 is the highest", 0x7FFFFFFFFFFFFFFFull, {kMajor, kSub}, 0x8000000000000000ull, {kMajor, GUID_NULL}, true},
};

TEST(CandidateOrder, MeritFirstThenExactMatches)
{
    for (const OrderCase& c : kOrderCases)
    {
        SCOPED_TRACE(c.name);
        RecordCandidate first;
        first.m_merit = c.firstMerit;
        first.m_types = c.firstTypes;
        RecordCandidate second;
        second.m_merit = c.secondMerit;
        second.m_types = c.secondTypes;
        const std::vector<SortFilter> order = OrderCandidates({&first, &second}, {kMajor, kSub});
        ASSERT_EQ(2u, order.size());
        EXPECT_EQ(c.secondGoesFirst ? &second : &first, order[0].pFilter);
        EXPECT_EQ(0, SortFilterCompare(&order[0], &order[0]));
    }
    RecordCandidate only;
    EXPECT_EQ(1u, OrderCandidates({&only}, {kMajor, kSub}).size());
    EXPECT_TRUE(OrderCandidates({}, {kMajor, kSub}).empty());
}

// A candidate made from the moniker of a filter the real mapper registered.
TEST(FilterCandidate, FromAMonikerTakesNameClassMeritAndInputTypes)
{
    {
        const TestFilterShape shape = {
            L"Wavelark candidate",
            kCandidateClass,
            {{L"In", PINDIR_INPUT, {{kMajor, kSub}}}, {L"Out", PINDIR_OUTPUT, {{kSub, kMajor}}}}};
        RegisteredTestFilter registered(shape, 0x600000);
        ComPtr<ICreateDevEnum> devices;
        ASSERT_HRESULT_SUCCEEDED(
            ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum, devices.PutVoid()));
        ComPtr<IEnumMoniker> monikers;
        ASSERT_EQ(S_OK, devices->CreateClassEnumerator(TestCategory(), monikers.Put(), 0));
        ComPtr<IMoniker> moniker;
        bool found = false;
        while (!found && monikers->Next(1, moniker.Put(), nullptr) == S_OK)
        {
            struct Probe : CGraphRegFilter
            {
                using CGraphRegFilter::CGraphRegFilter;
            };
            for (unsigned long long merit : {MERIT64_DEFAULT, 0x0000001234560000ull})
            {
                Probe candidate(moniker.Get(), merit);
                if (candidate.m_clsid != kCandidateClass)
                    break;
                found = true;
                SCOPED_TRACE(merit);
                EXPECT_EQ(L"Wavelark candidate", candidate.m_name);
                EXPECT_EQ(merit == MERIT64_DEFAULT ? 0x0000006000000000ull : merit, candidate.m_merit);
                EXPECT_EQ((std::vector<GUID>{kMajor, kSub}), candidate.m_types) << "input types only";
                ComPtr<IBaseFilter> made;
                EXPECT_HRESULT_SUCCEEDED(candidate.Create(made.Put()));
                EXPECT_EQ(kCandidateClass, GetFilterCLSID(made.Get()));
                ComPtr<IMoniker> same;
                same.Attach(candidate.GetMoniker());
                EXPECT_EQ(moniker.Get(), same.Get());
            }
        }
        EXPECT_TRUE(found);
        EXPECT_EQ(2, registered.Made());
    }
    EXPECT_EQ(0, LiveTestObjects());
}

// A candidate from a class identifier reads the class key and the filter-category instance key.
TEST(FilterCandidate, FromAClassIdentifierPrefersTheInstanceFriendlyName)
{
    const TestFilterShape shape = {
        L"Instance friendly name", kCandidateClass, {{L"In", PINDIR_INPUT, {{kMajor, kSub}}}}};
    const std::string classKey = std::string("CLSID\\") + CStringFromGUID(kCandidateClass).GetString();
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueA(HKEY_CLASSES_ROOT, classKey.c_str(), REG_SZ, "Class key name", 14));
    {
        struct Probe : CGraphRegFilter
        {
            using CGraphRegFilter::CGraphRegFilter;
        };
        const Probe classOnly(kCandidateClass);
        EXPECT_EQ(L"Class key name", classOnly.m_name);
        EXPECT_EQ(MERIT64_DEFAULT, classOnly.m_merit) << "no record, the merit given";
        EXPECT_TRUE(classOnly.m_types.empty());

        RegisteredTestFilter registered(shape, 0x600000, false);
        ComPtr<IFilterMapper2> mapper;
        ASSERT_HRESULT_SUCCEEDED(
            ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IFilterMapper2, mapper.PutVoid()));
        const REGPINTYPES type = {&kMajor, &kSub};
        REGFILTERPINS2 pin = {};
        pin.nMediaTypes = 1;
        pin.lpMediaType = &type;
        REGFILTER2 registration = {};
        registration.dwVersion = 2;
        registration.dwMerit = 0x600000;
        registration.cPins2 = 1;
        registration.rgPins2 = &pin;
        ASSERT_HRESULT_SUCCEEDED(mapper->RegisterFilter(kCandidateClass, shape.name.c_str(), nullptr,
                                                        &CLSID_LegacyAmFilterCategory, nullptr, &registration));
        const Probe registeredCandidate(kCandidateClass);
        EXPECT_EQ(L"Instance friendly name", registeredCandidate.m_name);
        EXPECT_EQ(0x0000006000000000ull, registeredCandidate.m_merit);
        EXPECT_EQ((std::vector<GUID>{kMajor, kSub}), registeredCandidate.m_types);
        const Probe overridden(kCandidateClass, 0x0000000000000007ull);
        EXPECT_EQ(7ull, overridden.m_merit) << "an explicit merit wins over the record";
        (void)mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, kCandidateClass);

        const Probe none(GUID_NULL, 0x42);
        EXPECT_TRUE(none.m_name.empty());
        EXPECT_EQ(0x42ull, none.m_merit);
        ComPtr<IBaseFilter> made;
        EXPECT_EQ(E_FAIL, const_cast<Probe&>(none).Create(made.Put()));
        EXPECT_EQ(E_POINTER, const_cast<Probe&>(none).Create(nullptr));
    }
    (void)::RegDeleteKeyA(HKEY_CLASSES_ROOT, classKey.c_str());
    EXPECT_EQ(0, LiveTestObjects());
}
} // namespace
