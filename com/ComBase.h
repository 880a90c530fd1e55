// The parts every in-process DirectShow object of ours outside the player is made of (the
// virtual receiver's audio input, the tests' fake filters): a counted object, an enumerator, a
// pin that connects and names itself, and a filter class served and registered for as long as
// it is wanted.
#pragma once

#include "com/ComPtr.h"
#include "com/MediaType.h"

#include <windows.h>

#include <strmif.h>

#include <atomic>
#include <functional>
#include <new>
#include <string>
#include <tuple>
#include <vector>

struct TypePair
{
    GUID major;
    GUID subtype;
};

// Objects on ComObject that own their count and are alive now; 0 once everything is released.
inline std::atomic<LONG>& LiveComObjects()
{
    static std::atomic<LONG> count{0};
    return count;
}

// IUnknown over `Interfaces` (the first one answers for IUnknown). An object made with an owner
// is a part of it, a pin of its filter, and shares the owner's count; otherwise its count starts
// at 1 and the last Release deletes it.
template <class... Interfaces> class ComObject : public Interfaces...
{
    using Primary = std::tuple_element_t<0, std::tuple<Interfaces...>>;

  public:
    explicit ComObject(IUnknown* owner = nullptr) : m_owner(owner)
    {
        if (!m_owner)
            ++LiveComObjects();
    }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        *object = iid == IID_IUnknown ? static_cast<Primary*>(this) : Find(iid);
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return m_owner ? m_owner->AddRef() : static_cast<ULONG>(::InterlockedIncrement(&m_refs));
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        if (m_owner)
            return m_owner->Release();
        const LONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

  protected:
    virtual ~ComObject()
    {
        if (!m_owner)
            --LiveComObjects();
    }
    // The interface pointer for `iid` other than IUnknown, or null.
    virtual void* Find(REFIID iid) = 0;

  private:
    IUnknown* m_owner;
    LONG m_refs = 1;
};

// Hands out `count` items, each made by `give` (a null item fails the call: out of memory, or
// a list that fails part-way). Whatever `give` captures lives as long as the enumerator.
template <class Enum, class Item> class Enumerator final : public ComObject<Enum>
{
  public:
    using Give = std::function<Item*(size_t)>;

    // A new enumerator in `*made`, or E_OUTOFMEMORY.
    template <class GiveItem>
    static HRESULT Make(REFIID iid, size_t count, GiveItem&& give, Enum** made, size_t next = 0) noexcept
    {
        try
        {
            *made = new Enumerator(iid, count, Give(std::forward<GiveItem>(give)), next);
            return S_OK;
        }
        catch (const std::bad_alloc&)
        {
            return *made = nullptr, E_OUTOFMEMORY;
        }
    }

    STDMETHODIMP Next(ULONG wanted, Item** items, ULONG* fetched) override
    {
        ULONG given = 0;
        HRESULT result = S_OK;
        for (; given < wanted && m_next < m_count; ++given, ++m_next)
        {
            if (!(items[given] = m_give(m_next)))
            {
                result = E_OUTOFMEMORY;
                break;
            }
        }
        if (fetched)
            *fetched = given;
        return FAILED(result) ? result : given == wanted ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        const bool inside = count <= m_count - m_next;
        m_next = inside ? m_next + count : m_count;
        return inside ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override { return m_next = 0, S_OK; }
    STDMETHODIMP Clone(Enum** clone) override { return Make(m_iid, m_count, m_give, clone, m_next); }

  private:
    Enumerator(REFIID iid, size_t count, Give give, size_t next)
        : m_iid(iid), m_count(count), m_give(std::move(give)), m_next(next)
    {
    }
    void* Find(REFIID iid) override { return iid == m_iid ? static_cast<Enum*>(this) : nullptr; }

    IID m_iid;
    size_t m_count;
    Give m_give;
    size_t m_next;
};

// A copy of `type` in task memory with its own format block, as enumerators hand types out;
// null when out of memory.
AM_MEDIA_TYPE* NewMediaType(const AM_MEDIA_TYPE& type);

// Whether `a` and `b` agree in major type and subtype, GUID_NULL on either side matching anything.
bool SameKind(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

// What every pin of ours shares: its name, direction and filter, connecting by media type, and
// for a capture pin the pin category through IKsPropertySet. The concrete pin gives its types
// and what it accepts, and an output pin its transport.
class PinBase : public ComObject<IPin, IKsPropertySet>
{
  public:
    PinBase(IBaseFilter& filter, std::wstring name, PIN_DIRECTION direction, bool capture);

    // An output pin offers its types in order, those of the kind asked for; a format type asked
    // for is taken on by a type that names none.
    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override { return type && Accepts(*type) ? S_OK : S_FALSE; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** peer) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    // Stream control is for input pins; an output pin is never sent it.
    STDMETHODIMP EndOfStream() override { return InputOnly(); }
    STDMETHODIMP BeginFlush() override { return InputOnly(); }
    STDMETHODIMP EndFlush() override { return InputOnly(); }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    const std::wstring& Name() const { return m_name; }

  protected:
    void* Find(REFIID iid) override;
    HRESULT InputOnly() const { return m_direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }
    // An output pin's types: how many, and each as a record that borrows its format block; false
    // where the list cannot go on.
    virtual size_t TypeCount() const = 0;
    virtual bool OfferedType(size_t index, AM_MEDIA_TYPE* type) const = 0;
    // Whether the pin takes `type`: an input pin's connection, or what is asked of an output pin.
    virtual bool Accepts(const AM_MEDIA_TYPE& type) const = 0;
    // An output pin's transport to `receiver`, which has taken the type.
    virtual HRESULT CompleteConnect(IPin*) { return S_OK; }

    IBaseFilter& m_filter;
    ComPtr<IPin> m_peer;
    CMediaType m_type; // of the connection

  private:
    std::wstring m_name;
    PIN_DIRECTION m_direction;
    bool m_capture;
};

// What every filter of ours shares: its class, its pins, its graph and its name there. A plain
// filter only records its state; a source that streams takes the state changes over.
class FilterBase : public ComObject<IBaseFilter>
{
  public:
    explicit FilterBase(const CLSID& clsid) : m_clsid(clsid) {}

    STDMETHODIMP GetClassID(CLSID* clsid) override { return *clsid = m_clsid, S_OK; }
    STDMETHODIMP Stop() override { return m_state = State_Stopped, S_OK; }
    STDMETHODIMP Pause() override { return m_state = State_Paused, S_OK; }
    STDMETHODIMP Run(REFERENCE_TIME) override { return m_state = State_Running, S_OK; }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override { return *state = m_state, S_OK; }
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override { return *clock = nullptr, S_OK; }
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  protected:
    void* Find(REFIID iid) override;
    virtual size_t PinCount() const = 0;
    virtual PinBase& PinAt(size_t index) = 0;

    CLSID m_clsid;
    FILTER_STATE m_state = State_Stopped;

  private:
    // The graph holds the filter, not the other way round: DirectShow's rule against cycles.
    IFilterGraph* m_graph = nullptr;
    std::wstring m_nameInGraph;
};

// What the filter mapper lists of one pin.
struct RegisteredPin
{
    bool output;
    std::vector<TypePair> types;
};

// A class object whose objects are made by `make` (a new object whose count is 1, or null when
// the class refuses; std::bad_alloc is E_OUTOFMEMORY). It is not counted: its owner outlives
// whatever holds it.
class FilterFactory final : public IClassFactory
{
  public:
    using Make = std::function<IUnknown*()>;
    explicit FilterFactory(Make make) : m_make(std::move(make)) {}
    FilterFactory(const FilterFactory&) = delete;
    FilterFactory& operator=(const FilterFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  private:
    Make m_make;
};

// Registers `clsid` with the filter mapper as `name` in `category` with `merit` and `pins`, and
// takes the registration back.
HRESULT RegisterFilterClass(const CLSID& clsid, const wchar_t* name, const GUID& category, DWORD merit,
                            const std::vector<RegisteredPin>& pins);
void UnregisterFilterClass(const CLSID& clsid, const GUID& category);

// Serves `clsid` in-process, its objects made by `make`, and registers it as `name` in
// `category` with `merit` and `pins` (no category: served only). Both are undone by the
// destructor.
class ServedFilter final
{
  public:
    ServedFilter(const CLSID& clsid, const wchar_t* name, FilterFactory::Make make, const GUID* category = nullptr,
                 DWORD merit = MERIT_DO_NOT_USE, const std::vector<RegisteredPin>& pins = {});
    ~ServedFilter();
    ServedFilter(const ServedFilter&) = delete;
    ServedFilter& operator=(const ServedFilter&) = delete;

  private:
    CLSID m_clsid;
    FilterFactory m_factory;
    GUID m_category = GUID_NULL;
    DWORD m_cookie = 0;
    bool m_registered = false;
};
