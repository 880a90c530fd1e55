#include "graph/GraphFilter.h"

#include "framework/Exceptions.h"
#include "framework/OsCalls.h"
#include "graph/AmFilterData.h"
#include "graph/ComRecords.h"
#include "graph/DShowHelpers.h"
#include "graph/FilterDataRecord.h"

#include <uuids.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace
{
constexpr unsigned long long kKeepOutsideRegisteredMerit = 0xFFFF00000000FFFFull;
constexpr unsigned long long kSplitterMeritBelowNormal = 0x0000005FFFFF0000ull;
constexpr unsigned long long kSplitterMeritAboveNormal = 0x0000006000010000ull;
const char kFilterInstanceKey[] = "CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance\\";

// Walks the listed pairs against the requested pairs; `match` decides one pair against another.
template <class Match>
bool AnyPairMatches(const std::vector<GUID>& listed, const std::vector<GUID>& requested, Match match)
{
    for (size_t l = 0; l + 1 < listed.size(); l += 2)
    {
        for (size_t r = 0; r + 1 < requested.size(); r += 2)
        {
            if (match(listed[l], listed[l + 1], requested[r], requested[r + 1]))
                return true;
        }
    }
    return false;
}

bool Wildcard(const GUID& a, const GUID& b)
{
    return a == GUID_NULL || b == GUID_NULL || a == b;
}

// A REG_SZ or REG_EXPAND_SZ value (not expanded) that ends in its NUL, or nothing.
bool ReadRegistryText(HKEY key, const char* name, std::string& text)
{
    OsCalls& os = Os();
    DWORD type = 0;
    DWORD size = 0;
    if (os.RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return false;
    std::string value(size, '\0');
    if (os.RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || value[size - 1] != '\0')
        return false;
    text.assign(value.c_str());
    return true;
}

} // namespace

ParsedFilterData::~ParsedFilterData()
{
    if (!m_record)
        return;
    std::vector<void*> blocks;
    const auto add = [&](const void* block)
    {
        if (block && std::find(blocks.begin(), blocks.end(), block) == blocks.end())
            blocks.push_back(const_cast<void*>(block));
    };
    try
    {
        if (m_record->dwVersion == 2 && m_record->rgPins2)
        {
            for (ULONG p = 0; p < m_record->cPins2; ++p)
            {
                const REGFILTERPINS2& pin = m_record->rgPins2[p];
                for (UINT t = 0; pin.lpMediaType && t < pin.nMediaTypes; ++t)
                {
                    add(pin.lpMediaType[t].clsMajorType);
                    add(pin.lpMediaType[t].clsMinorType);
                }
                add(pin.lpMediaType);
                add(pin.lpMedium);
                add(pin.clsPinCategory);
            }
            add(m_record->rgPins2);
        }
    }
    catch (const std::bad_alloc&)
    {
        blocks.clear(); // what cannot be listed stays; the record itself still goes
    }
    // A pointer into another block is not one the allocator handed out: DidAlloc tells them
    // apart. Every block is asked before any is freed, so a freed block is never asked about.
    ComPtr<IMalloc> allocator;
    if (SUCCEEDED(::CoGetMalloc(1, allocator.Put())) && allocator)
    {
        blocks.erase(std::remove_if(blocks.begin(), blocks.end(),
                                    [&](void* block) { return block == m_record || allocator->DidAlloc(block) != 1; }),
                     blocks.end());
        for (void* block : blocks)
            allocator->Free(block);
    }
    ::CoTaskMemFree(m_record);
}

bool CGraphFilter::CheckTypesExact(const std::vector<GUID>& requested) const
{
    return AnyPairMatches(m_types, requested,
                          [](const GUID& major, const GUID& sub, const GUID& rMajor, const GUID& rSub)
                          { return major != GUID_NULL && major == rMajor && sub != GUID_NULL && sub == rSub; });
}

bool CGraphFilter::CheckTypes(const std::vector<GUID>& requested) const
{
    return AnyPairMatches(m_types, requested,
                          [](const GUID& major, const GUID& sub, const GUID& rMajor, const GUID& rSub)
                          { return Wildcard(major, rMajor) && Wildcard(sub, rSub); });
}

CGraphRegFilter::CGraphRegFilter(IMoniker* moniker, unsigned long long merit)
    : CGraphFilter(std::wstring(), merit), m_moniker(moniker)
{
    if (!moniker)
        return;
    GrowOrRaise([&] { ReadMoniker(moniker); });
    ApplyMeritOverride(merit);
}

CGraphRegFilter::CGraphRegFilter(const CLSID& clsid, unsigned long long merit) : CGraphFilter(std::wstring(), merit)
{
    m_clsid = clsid;
    m_registeredClsid = clsid;
    if (clsid == GUID_NULL)
        return;
    GrowOrRaise([&] { ReadRegistration(clsid); });
    ApplyMeritOverride(merit);
}

void CGraphRegFilter::ReadMoniker(IMoniker* moniker)
{
    UniqueTaskMem<wchar_t> displayName;
    if (FAILED(moniker->GetDisplayName(nullptr, nullptr, displayName.Put())) || !displayName.Get())
        return;
    m_name = displayName.Get();

    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) || !bag)
        return;
    UniqueVariant value;
    if (SUCCEEDED(bag->Read(BstrFromText("FriendlyName").Get(), value.Put(), nullptr)) && value.vt == VT_BSTR)
        m_name = value.bstrVal ? value.bstrVal : L"";
    if (SUCCEEDED(bag->Read(BstrFromText("CLSID").Get(), value.Put(), nullptr)) && value.vt == VT_BSTR &&
        FAILED(::CLSIDFromString(value.bstrVal, &m_clsid)))
        m_clsid = GUID_NULL; // a malformed class identifier is not reported
    m_registeredClsid = m_clsid;
    if (SUCCEEDED(bag->Read(BstrFromText("FilterData").Get(), value.Put(), nullptr)) &&
        value.vt == (VT_ARRAY | VT_UI1) && value.parray)
    {
        void* bytes = nullptr;
        if (FAILED(::SafeArrayAccessData(value.parray, &bytes)))
            return;
        LONG lower = 0;
        LONG upper = -1;
        (void)::SafeArrayGetLBound(value.parray, 1, &lower);
        (void)::SafeArrayGetUBound(value.parray, 1, &upper);
        const long long count = static_cast<long long>(upper) - lower + 1;
        const long long size = count * ::SafeArrayGetElemsize(value.parray);
        try
        {
            if (size > 0 && size <= INT_MAX)
                ReadFilterData(static_cast<const BYTE*>(bytes), static_cast<int>(size));
        }
        catch (...)
        {
            (void)::SafeArrayUnaccessData(value.parray);
            throw;
        }
        (void)::SafeArrayUnaccessData(value.parray);
    }
}

void CGraphRegFilter::ReadRegistration(const CLSID& clsid)
{
    OsCalls& os = Os();
    const CString braced = CStringFromGUID(clsid);
    std::string text;

    UniqueRegistryKey classKey;
    const std::string classPath = std::string("CLSID\\") + braced.GetString();
    if (os.RegOpenKeyExA(HKEY_CLASSES_ROOT, classPath.c_str(), 0, KEY_READ, classKey.Put()) == ERROR_SUCCESS &&
        ReadRegistryText(classKey.Get(), nullptr, text))
        m_name = WideFromText(text.c_str());

    UniqueRegistryKey instanceKey;
    const std::string instancePath = std::string(kFilterInstanceKey) + braced.GetString();
    if (os.RegOpenKeyExA(HKEY_CLASSES_ROOT, instancePath.c_str(), 0, KEY_READ, instanceKey.Put()) != ERROR_SUCCESS)
        return;
    if (ReadRegistryText(instanceKey.Get(), "FriendlyName", text))
        m_name = WideFromText(text.c_str());

    DWORD type = 0;
    DWORD size = 0;
    if (os.RegQueryValueExA(instanceKey.Get(), "FilterData", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY || size == 0 || size > INT_MAX)
        return;
    std::vector<BYTE> record;
    try
    {
        record.resize(size);
    }
    catch (const std::bad_alloc&)
    {
        return; // a record that cannot be held is skipped
    }
    if (os.RegQueryValueExA(instanceKey.Get(), "FilterData", nullptr, &type, record.data(), &size) == ERROR_SUCCESS &&
        type == REG_BINARY)
        ReadFilterData(record.data(), static_cast<int>(size));
}

void CGraphRegFilter::ReadFilterData(const BYTE* data, int size)
{
    if (!data || size <= 0)
        return;
    if (!ReadWithPlatformParser(data, size))
        ReadWithOwnReader(data, size);
}

// The platform's parser does no bounds checking, so it only sees records that our own walk
// has found whole and in bounds.
bool CGraphRegFilter::ReadWithPlatformParser(const BYTE* data, int size)
{
    if (!IsWholeFilterDataRecord(data, static_cast<size_t>(size)))
        return false;
    ComPtr<IAMFilterData> parser;
    if (FAILED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_ALL, IID_IAMFilterData, parser.PutVoid())) ||
        !parser)
        return false;
    BYTE* block = nullptr;
    if (FAILED(parser->ParseFilterData(const_cast<BYTE*>(data), static_cast<ULONG>(size), &block)) || !block)
        return false;
    // The parser hands back the address of a pointer it keeps: take the record out at once.
    const ParsedFilterData parsed(*reinterpret_cast<REGFILTER2**>(block));
    if (!parsed.Get())
        return false;
    MergeRegisteredMerit(parsed.Get()->dwMerit);
    const auto append = [&](const REGPINTYPES* types, UINT count)
    {
        for (UINT t = 0; t < count && types[t].clsMajorType && types[t].clsMinorType; ++t)
            GrowOrRaise(
                [&]
                {
                    m_types.push_back(*types[t].clsMajorType);
                    m_types.push_back(*types[t].clsMinorType);
                });
    };
    const REGFILTER2& record = *parsed.Get();
    if (record.dwVersion == 1)
    {
        for (ULONG p = 0; p < record.cPins; ++p)
        {
            if (!record.rgPins[p].bOutput)
                append(record.rgPins[p].lpMediaType, record.rgPins[p].nMediaTypes);
        }
    }
    else if (record.dwVersion == 2)
    {
        for (ULONG p = 0; p < record.cPins2; ++p)
        {
            if (!(record.rgPins2[p].dwFlags & REG_PINFLAG_B_OUTPUT))
                append(record.rgPins2[p].lpMediaType, record.rgPins2[p].nMediaTypes);
        }
    }
    ApplySplitterMerit();
    return true;
}

void CGraphRegFilter::ReadWithOwnReader(const BYTE* data, int size)
{
    const FilterDataRecord record = ReadFilterDataRecord(data, static_cast<size_t>(size));
    if (!record.meritRead)
        return;
    MergeRegisteredMerit(record.merit);
    GrowOrRaise(
        [&]
        {
            m_types.resize(record.inputTypes.size());
            for (size_t i = 0; i < record.inputTypes.size(); ++i)
                std::memcpy(&m_types[i], record.inputTypes[i].data(), sizeof(GUID));
        });
    if (record.complete)
        ApplySplitterMerit();
}

void CGraphRegFilter::MergeRegisteredMerit(DWORD merit)
{
    m_merit = (m_merit & kKeepOutsideRegisteredMerit) | (static_cast<unsigned long long>(merit) << 16);
}

// The platform registers its MPEG-1 splitter one below "normal"; it is meant to win over the
// normal-merit filters it competes with.
void CGraphRegFilter::ApplySplitterMerit()
{
    if (m_clsid == CLSID_MMSPLITTER && m_merit == kSplitterMeritBelowNormal)
        m_merit = kSplitterMeritAboveNormal;
}

void CGraphRegFilter::ApplyMeritOverride(unsigned long long merit)
{
    if (merit != MERIT64_DEFAULT)
        m_merit = merit;
}

HRESULT CGraphRegFilter::Create(IBaseFilter** filter, IUnknown** extra)
{
    if (!filter)
        return E_POINTER;
    *filter = nullptr;
    if (extra)
        *extra = nullptr;
    if (m_moniker)
    {
        const HRESULT bound =
            m_moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
        if (FAILED(bound))
            return bound;
        m_clsid = GetFilterCLSID(*filter);
        return bound;
    }
    if (m_clsid == GUID_NULL)
        return E_FAIL;
    ComPtr<IBaseFilter> made;
    if (FAILED(::CoCreateInstance(m_clsid, nullptr, CLSCTX_ALL, IID_IBaseFilter, made.PutVoid())) || !made)
        return E_FAIL;
    *filter = made.Detach();
    return S_OK;
}
