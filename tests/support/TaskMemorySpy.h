// Counts the task-memory blocks (CoTaskMemAlloc) allocated while it is registered and not freed
// since, so that a test can show that every record handed out in task memory was given back.
#pragma once

#include <objidl.h>

#include <atomic>

class TaskMemorySpy final : public IMallocSpy
{
  public:
    TaskMemorySpy() : m_registered(SUCCEEDED(::CoRegisterMallocSpy(this))) {}
    ~TaskMemorySpy()
    {
        if (m_registered)
            (void)::CoRevokeMallocSpy(); // still spying on what was not freed: the test has said so
    }
    TaskMemorySpy(const TaskMemorySpy&) = delete;
    TaskMemorySpy& operator=(const TaskMemorySpy&) = delete;

    bool Registered() const { return m_registered; }
    long Outstanding() const { return m_outstanding; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        *object = iid == IID_IUnknown || iid == IID_IMallocSpy ? static_cast<IMallocSpy*>(this) : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    // Owned by the test, which outlives the registration.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return size; }
    STDMETHODIMP_(void*) PostAlloc(void* block) override { return m_outstanding += block != nullptr, block; }
    // Blocks from before the spy came are not its business: the platform says which are its.
    STDMETHODIMP_(void*) PreFree(void* block, BOOL spied) override { return m_outstanding -= spied != FALSE, block; }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    // Nothing it watches reallocates.
    STDMETHODIMP_(SIZE_T) PreRealloc(void* block, SIZE_T size, void** moved, BOOL) override
    {
        return *moved = block, size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(void*) PreGetSize(void* block, BOOL) override { return block; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T size, BOOL) override { return size; }
    STDMETHODIMP_(void*) PreDidAlloc(void* block, BOOL) override { return block; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int allocated) override { return allocated; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

  private:
    bool m_registered;
    std::atomic<long> m_outstanding = 0; // the platform's other threads allocate too
};
