#include "framework/String.h"

#include "framework/Exceptions.h"

#include <cstdarg>
#include <cstdio>

CString::CString(const char* text)
{
    GrowOrRaise([&] { m_text = text ? text : ""; });
}

CString::CString(const char* text, int length)
{
    if (text && length > 0)
        GrowOrRaise([&] { m_text.assign(text, static_cast<size_t>(length)); });
}

char CString::GetAt(int index) const
{
    if (index < 0 || index >= GetLength())
        AfxThrowInvalidArgException();
    return m_text[static_cast<size_t>(index)];
}

int CString::Find(const char* part, int start) const
{
    if (!part || start < 0 || start > GetLength())
        return -1;
    const size_t found = m_text.find(part, static_cast<size_t>(start));
    return found == std::string::npos ? -1 : static_cast<int>(found);
}

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length < 0)
    {
        va_end(args);
        m_text.clear();
        return;
    }
    std::string text;
    GrowOrRaise([&] { text.resize(static_cast<size_t>(length) + 1); });
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    text.resize(static_cast<size_t>(length));
    m_text.swap(text);
}

CString& CString::operator=(const char* text)
{
    GrowOrRaise([&] { m_text = text ? text : ""; });
    return *this;
}

CString& CString::operator+=(const char* text)
{
    if (text)
        GrowOrRaise([&] { m_text += text; });
    return *this;
}

CString& CString::operator+=(char character)
{
    GrowOrRaise([&] { m_text += character; });
    return *this;
}

int CStringArray::Add(const CString& text)
{
    GrowOrRaise([&] { m_items.push_back(text); });
    return GetSize() - 1;
}

const CString& CStringArray::GetAt(int index) const
{
    if (index < 0 || index >= GetSize())
        AfxThrowInvalidArgException();
    return m_items[static_cast<size_t>(index)];
}
