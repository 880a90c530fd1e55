// IAMFilterData, which the mingw-w64 headers lack: the filter mapper's reader and writer of
// FilterData registration records.
#pragma once

#include <windows.h>

#include <strmif.h>

// {97F7C4D4-547B-4A5F-8332-536430AD2E4D}
inline constexpr IID IID_IAMFilterData = {0x97f7c4d4, 0x547b, 0x4a5f, {0x83, 0x32, 0x53, 0x64, 0x30, 0xad, 0x2e, 0x4d}};

struct IAMFilterData : public IUnknown
{
    // On success *regFilter2 points to a pointer to the parsed REGFILTER2 (CoTaskMemAlloc'd),
    // which may sit at a static address: copy it out before the next call.
    virtual HRESULT STDMETHODCALLTYPE ParseFilterData(BYTE* filterData, ULONG size, BYTE** regFilter2) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFilterData(REGFILTER2* filter, BYTE** filterData, ULONG* size) = 0;
};

// Owns a REGFILTER2 that ParseFilterData made. The parser allocates it with the task allocator,
// as one block or (Wine's) with its pin array, media types, categories and mediums in blocks
// of their own; the destructor frees every block the allocator handed out, each once.
class ParsedFilterData
{
  public:
    explicit ParsedFilterData(REGFILTER2* record) : m_record(record) {}
    ~ParsedFilterData();
    ParsedFilterData(const ParsedFilterData&) = delete;
    ParsedFilterData& operator=(const ParsedFilterData&) = delete;

    const REGFILTER2* Get() const { return m_record; }

  private:
    REGFILTER2* m_record;
};
