// The exception kinds that internal failures raise; thrown by value, caught by const reference.
#pragma once

#include <windows.h>

#include <new>

class CException
{
  public:
    virtual ~CException() = default;
};

// Exhausted memory (a string, a list node block, a BSTR).
class CMemoryException : public CException
{
};

// A COM failure that the library turns into an exception; m_sc is the failing HRESULT.
class COleException : public CException
{
  public:
    explicit COleException(HRESULT sc) : m_sc(sc) {}
    HRESULT m_sc;
};

// An index or range outside a container.
class CInvalidArgException : public CException
{
};

// Raised by data exchange when a control's value is refused; UpdateData catches it.
class CUserException : public CException
{
};

[[noreturn]] inline void AfxThrowMemoryException()
{
    throw CMemoryException();
}
[[noreturn]] inline void AfxThrowOleException(HRESULT sc)
{
    throw COleException(sc);
}
[[noreturn]] inline void AfxThrowInvalidArgException()
{
    throw CInvalidArgException();
}
[[noreturn]] inline void AfxThrowUserException()
{
    throw CUserException();
}

// Runs `action`, turning exhausted memory in a standard container (std::bad_alloc) into the
// framework's memory exception.
template <class Action> void GrowOrRaise(Action action)
{
    try
    {
        action();
    }
    catch (const std::bad_alloc&)
    {
        AfxThrowMemoryException();
    }
}
