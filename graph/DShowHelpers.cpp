#include "graph/DShowHelpers.h"

#include "com/ComPtr.h"
#include "framework/Exceptions.h"
#include "graph/ComRecords.h"

#include <uuids.h>

#include <atomic>
#include <cstring>

void RaiseComError(HRESULT hr)
{
    if (hr == E_OUTOFMEMORY)
        AfxThrowMemoryException();
    AfxThrowOleException(hr);
}

std::wstring GetFilterName(IBaseFilter* filter)
{
    UniqueFilterInfo info;
    if (!filter || FAILED(filter->QueryFilterInfo(info.Put())))
        return {};
    std::wstring name;
    GrowOrRaise([&] { name = info.achName; });
    return name;
}

std::wstring GetPinName(IPin* pin)
{
    UniquePinInfo info;
    if (!pin || FAILED(pin->QueryPinInfo(info.Put())))
        return {};
    std::wstring name;
    GrowOrRaise([&] { name = info.achName; });
    return name;
}

// The filter's own reference keeps the graph alive.
IFilterGraph* GetGraphFromFilter(IBaseFilter* filter)
{
    UniqueFilterInfo info;
    if (!filter || FAILED(filter->QueryFilterInfo(info.Put())))
        return nullptr;
    return info.pGraph;
}

// The pin belongs to the filter, which outlives this call.
IBaseFilter* GetFilterFromPin(IPin* pin)
{
    UniquePinInfo info;
    if (!pin || FAILED(pin->QueryPinInfo(info.Put())))
        return nullptr;
    return info.pFilter;
}

CLSID GetFilterCLSID(IBaseFilter* filter)
{
    CLSID clsid = GUID_NULL;
    if (filter && FAILED(filter->GetClassID(&clsid)))
        clsid = GUID_NULL;
    return clsid;
}

CString CStringFromGUID(const GUID& guid)
{
    wchar_t wide[128] = {};
    if (::StringFromGUID2(guid, wide, 127) == 0)
        return "{00000000-0000-0000-0000-000000000000}";
    char text[128] = {};
    for (int i = 0; i < 127 && wide[i]; ++i)
        text[i] = static_cast<char>(wide[i]); // hexadecimal digits, braces and dashes only
    return text;
}

GUID GUIDFromCString(const CString& text)
{
    GUID guid = GUID_NULL;
    UniqueBstr wide = BstrFromText(text);
    if (FAILED(::CLSIDFromString(wide.Get(), &guid)))
        guid = GUID_NULL;
    return guid;
}

namespace
{
UINT ThreadAcpCodePage()
{
    return CP_THREAD_ACP;
}

// Systems before the NT 5 family have no CP_THREAD_ACP: read the thread locale's ANSI code page.
UINT LocaleCodePage()
{
    char digits[7] = {};
    if (::GetLocaleInfoA(::GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, digits, sizeof(digits)) == 0)
        return ::GetACP();
    UINT codePage = 0;
    for (const char* c = digits; *c; ++c)
        codePage = codePage * 10 + static_cast<UINT>(*c - '0');
    return codePage ? codePage : ::GetACP();
}

UINT (*ChooseCodePageRule())()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL known = ::GetVersionExA(&version);
#pragma GCC diagnostic pop
    if (known && version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5)
        return &ThreadAcpCodePage;
    return &LocaleCodePage;
}

std::atomic<UINT (*)()> g_codePageRule{nullptr};
} // namespace

UINT GetConversionCodePage()
{
    UINT (*rule)() = g_codePageRule.load();
    if (!rule)
    {
        rule = ChooseCodePageRule();
        g_codePageRule.exchange(rule); // two first callers choose the same rule
    }
    return rule();
}

UniqueBstr BstrFromText(const char* text)
{
    if (!text)
        return UniqueBstr();
    const UINT codePage = GetConversionCodePage();
    const int length = ::MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    BSTR wide = length > 0 ? ::SysAllocStringLen(nullptr, static_cast<UINT>(length - 1)) : nullptr;
    if (wide && ::MultiByteToWideChar(codePage, 0, text, -1, wide, length) != length)
    {
        ::SysFreeString(wide);
        wide = nullptr;
    }
    if (!wide)
        RaiseComError(E_OUTOFMEMORY);
    return UniqueBstr(wide);
}

UniqueBstr BstrFromWide(const wchar_t* text)
{
    if (!text)
        return UniqueBstr();
    BSTR copy = ::SysAllocString(text);
    if (!copy)
        RaiseComError(E_OUTOFMEMORY);
    return UniqueBstr(copy);
}

std::wstring WideFromText(const char* text)
{
    UniqueBstr wide = BstrFromText(text ? text : "");
    std::wstring copy;
    GrowOrRaise([&] { copy.assign(wide.Get(), ::SysStringLen(wide.Get())); });
    return copy;
}

CString TextFromWide(const wchar_t* text)
{
    if (!text || !*text)
        return CString();
    const UINT codePage = GetConversionCodePage();
    const int length = ::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return CString();
    std::string narrow;
    GrowOrRaise([&] { narrow.resize(static_cast<size_t>(length)); });
    ::WideCharToMultiByte(codePage, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    return CString(narrow.c_str());
}
