// Owners of what COM calls hand out besides interfaces: a VARIANT, the info records of filters
// and pins (each carries a reference) and task memory. Each cleans up on every path, also when
// a copy that follows the call throws.
#pragma once

#include <windows.h>

#include <oleauto.h>
#include <strmif.h>

#include <utility>

// A record that starts initialised and whose clean-up releases what it carries.
template <class T, void (*Init)(T*), void (*Clear)(T*)> class UniqueStruct : public T
{
  public:
    UniqueStruct() { Init(this); }
    ~UniqueStruct() { Clear(this); }
    UniqueStruct(const UniqueStruct&) = delete;
    UniqueStruct& operator=(const UniqueStruct&) = delete;

    // Cleans the record and hands it out for an out-parameter.
    T* Put()
    {
        Clear(this);
        Init(this);
        return this;
    }
};

namespace detail
{
template <class T> void ZeroRecord(T* record)
{
    *record = T();
}
inline void InitVariant(VARIANT* value)
{
    ::VariantInit(value);
}
inline void ClearVariant(VARIANT* value)
{
    (void)::VariantClear(value); // nothing is left to do when it fails
}
inline void ClearPinInfo(PIN_INFO* info)
{
    if (IBaseFilter* filter = std::exchange(info->pFilter, nullptr))
        filter->Release();
}
inline void ClearFilterInfo(FILTER_INFO* info)
{
    if (IFilterGraph* graph = std::exchange(info->pGraph, nullptr))
        graph->Release();
}
} // namespace detail

using UniqueVariant = UniqueStruct<VARIANT, detail::InitVariant, detail::ClearVariant>;
using UniquePinInfo = UniqueStruct<PIN_INFO, detail::ZeroRecord<PIN_INFO>, detail::ClearPinInfo>;
using UniqueFilterInfo = UniqueStruct<FILTER_INFO, detail::ZeroRecord<FILTER_INFO>, detail::ClearFilterInfo>;

// A block of COM task memory (CoTaskMemAlloc), freed by the destructor.
template <class T> class UniqueTaskMem
{
  public:
    UniqueTaskMem() = default;
    explicit UniqueTaskMem(T* block) : m_block(block) {}
    ~UniqueTaskMem() { ::CoTaskMemFree(m_block); }
    UniqueTaskMem(const UniqueTaskMem&) = delete;
    UniqueTaskMem& operator=(const UniqueTaskMem&) = delete;

    T* Get() const { return m_block; }
    T** Put()
    {
        ::CoTaskMemFree(std::exchange(m_block, nullptr));
        return &m_block;
    }

  private:
    T* m_block = nullptr;
};
