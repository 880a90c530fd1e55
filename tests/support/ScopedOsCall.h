// Replaces one entry of the OS call table for as long as it lives, then puts back what was there
// before, whatever that was: owners nest and end in reverse order.
#pragma once

#include "framework/OsCalls.h"

#include <functional>
#include <type_traits>

class ScopedOsCall
{
  public:
    template <class Entry>
    ScopedOsCall(Entry OsCalls::*entry, std::type_identity_t<Entry> replacement)
        : m_putBack([entry, previous = Os().*entry] { Os().*entry = previous; })
    {
        Os().*entry = replacement;
    }
    ~ScopedOsCall() { m_putBack(); }
    ScopedOsCall(const ScopedOsCall&) = delete;
    ScopedOsCall& operator=(const ScopedOsCall&) = delete;

  private:
    std::function<void()> m_putBack;
};
