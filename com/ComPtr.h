// An owning COM interface reference: released on every path, moved or copied explicitly.
#pragma once

#include <unknwn.h>

#include <utility>

template <class T> class ComPtr
{
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a reference of its own.
    explicit ComPtr(T* object) : m_object(object)
    {
        if (m_object)
            m_object->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.m_object) {}
    ComPtr(ComPtr&& other) noexcept : m_object(other.Detach()) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    // Releases the current object and hands out the slot for an out-parameter.
    T** Put()
    {
        Reset();
        return &m_object;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // Adopts a reference that the caller already owns.
    void Attach(T* object)
    {
        Reset();
        m_object = object;
    }
    T* Detach() { return std::exchange(m_object, nullptr); }
    void Reset()
    {
        if (T* object = std::exchange(m_object, nullptr))
            object->Release();
    }
    // A reference of the caller's own, or null.
    T* CopyOut() const
    {
        if (m_object)
            m_object->AddRef();
        return m_object;
    }
    template <class U> ComPtr<U> As(REFIID iid) const
    {
        ComPtr<U> other;
        if (m_object)
            (void)m_object->QueryInterface(iid, other.PutVoid()); // a missing interface leaves it null
        return other;
    }

  private:
    T* m_object = nullptr;
};
