// Filter candidates: filters that could be made, with a name, a 64-bit merit and the media
// types their input pins take, known from a moniker or from a class identifier's registration.
#pragma once

#include "com/ComPtr.h"

#include <windows.h>

#include <strmif.h>

#include <string>
#include <vector>

// The platform merit 0x200001 (one above "do not use") in bits 16-47. As a constructor's merit
// argument it means "take the merit from the registration".
inline constexpr unsigned long long MERIT64_DEFAULT = 0x0000002000010000ull;
// The platform's "do not use" merit in bits 16-47: never tried, but it blocks its class.
inline constexpr unsigned long long MERIT64_BLOCKED = 0x0000002000000000ull;

class CGraphFilter
{
  public:
    CGraphFilter(const CGraphFilter&) = delete;
    CGraphFilter& operator=(const CGraphFilter&) = delete;
    virtual ~CGraphFilter() = default;

    // Makes a new filter object. Through `extra` a candidate may hand back one more object,
    // which the caller releases once its attempt with this candidate is over.
    virtual HRESULT Create(IBaseFilter** filter, IUnknown** extra = nullptr) = 0;

    std::wstring GetName() const { return m_name; }
    CLSID GetCLSID() const { return m_clsid; }
    // `requested` holds (major type, subtype) pairs; a trailing lone entry is ignored.
    bool CheckTypesExact(const std::vector<GUID>& requested) const;
    // As CheckTypesExact, with GUID_NULL on either side matching anything.
    bool CheckTypes(const std::vector<GUID>& requested) const;

    std::wstring m_name;
    unsigned long long m_merit; // always compared as one unsigned 64-bit number
    CLSID m_clsid = GUID_NULL;
    std::vector<GUID> m_types; // (major type, subtype) pairs of the input pins

  protected:
    CGraphFilter(const std::wstring& name, unsigned long long merit) : m_name(name), m_merit(merit) {}
};

class CGraphRegFilter : public CGraphFilter
{
  public:
    // From a filter moniker (borrowed; the candidate keeps a reference of its own).
    explicit CGraphRegFilter(IMoniker* moniker, unsigned long long merit = MERIT64_DEFAULT);
    // From a class identifier, with name and types read from the registry.
    explicit CGraphRegFilter(const CLSID& clsid, unsigned long long merit = MERIT64_DEFAULT);

    HRESULT Create(IBaseFilter** filter, IUnknown** extra = nullptr) override;
    // The moniker with a reference for the caller, or null.
    IMoniker* GetMoniker() const { return m_moniker.CopyOut(); }
    // Merges a FilterData registration record into the merit and the input types.
    void ReadFilterData(const BYTE* data, int size);

    ComPtr<IMoniker> m_moniker;
    // The class the registration names. m_clsid follows what Create made, which a wrapper
    // filter may report differently; the chain of the builder also compares this one.
    CLSID m_registeredClsid = GUID_NULL;

  private:
    void ReadMoniker(IMoniker* moniker);
    bool ReadWithPlatformParser(const BYTE* data, int size);
    void ReadWithOwnReader(const BYTE* data, int size);
    void MergeRegisteredMerit(DWORD merit);
    void ApplySplitterMerit();
    void ApplyMeritOverride(unsigned long long merit);
    void ReadRegistration(const CLSID& clsid);
};
