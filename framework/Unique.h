// Move-only owners of handles; each traits type names its close function and invalid value.
#pragma once

#include <windows.h>

#include <utility>

template <class Traits> class UniqueResource
{
  public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : m_value(value) {}
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.Detach()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { Reset(); }

    Type Get() const { return m_value; }
    bool IsValid() const { return m_value != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }

    void Reset(Type value = Traits::Invalid())
    {
        if (IsValid())
            Traits::Close(m_value);
        m_value = value;
    }
    // Releases the current value and hands out the slot for an out-parameter.
    Type* Put()
    {
        Reset();
        return &m_value;
    }
    Type Detach()
    {
        Type value = m_value;
        m_value = Traits::Invalid();
        return value;
    }

  private:
    Type m_value = Traits::Invalid();
};

struct GdiObjectTraits
{
    using Type = HGDIOBJ;
    static Type Invalid() { return nullptr; }
    static void Close(Type object) { ::DeleteObject(object); }
};
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;

struct KernelHandleTraits
{
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type handle) { ::CloseHandle(handle); }
};
using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;
