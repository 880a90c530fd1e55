// Counts the task-memory blocks (CoTaskMemAlloc) allocated while it is registered and not freed
// since, so that a test can show that every record handed out in task memory was given back.
#pragma once

#include <objidl.h>

#include <mutex>
#include <set>

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
    size_t Outstanding()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_blocks.size();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        *object = iid == IID_IUnknown || iid == IID_IMallocSpy ? static_cast<IMallocSpy*>(this) : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    // Owned by the test, which outlives the registration.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T size) override { return size; }
    STDMETHODIMP_(void*) PostAlloc(void* block) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (block)
            m_blocks.insert(block);
        return block;
    }
    // Blocks from before the spy came are not its business.
    STDMETHODIMP_(void*) PreFree(void* block, BOOL) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_blocks.erase(block);
        return block;
    }
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
    std::mutex m_lock;
    std::set<void*> m_blocks;
};
