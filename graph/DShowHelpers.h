// Helpers the graph library and the playback session share: names and owners of filters and
// pins, GUID texts, the 8-bit code page and how internal failures raise.
#pragma once

#include "com/MediaType.h"
#include "framework/String.h"

#include <windows.h>

#include <strmif.h>

#include <string>

// Raises CMemoryException for E_OUTOFMEMORY and COleException carrying `hr` otherwise.
[[noreturn]] void RaiseComError(HRESULT hr);

// Empty when the filter or pin is null or the query fails.
std::wstring GetFilterName(IBaseFilter* filter);
std::wstring GetPinName(IPin* pin);
// Borrowed pointers: valid while the caller holds the filter or pin they came from.
IFilterGraph* GetGraphFromFilter(IBaseFilter* filter);
IBaseFilter* GetFilterFromPin(IPin* pin);
// GUID_NULL when the filter cannot tell.
CLSID GetFilterCLSID(IBaseFilter* filter);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
CString CStringFromGUID(const GUID& guid);
// GUID_NULL when the text is not a braced GUID.
GUID GUIDFromCString(const CString& text);

// The code page of 8-bit texts handed to or taken from the platform's wide functions.
UINT GetConversionCodePage();

// An owned BSTR.
class UniqueBstr
{
  public:
    UniqueBstr() = default;
    explicit UniqueBstr(BSTR text) : m_text(text) {}
    UniqueBstr(UniqueBstr&& other) noexcept : m_text(other.m_text) { other.m_text = nullptr; }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { ::SysFreeString(m_text); }
    BSTR Get() const { return m_text; }

  private:
    BSTR m_text = nullptr;
};

// A BSTR of 8-bit text in the conversion code page; null for null text. Raises on exhaustion.
UniqueBstr BstrFromText(const char* text);
// A BSTR copy of wide text; null for null text. Raises on exhaustion.
UniqueBstr BstrFromWide(const wchar_t* text);
// Wide text of 8-bit text, and back, in the conversion code page.
std::wstring WideFromText(const char* text);
CString TextFromWide(const wchar_t* text);
