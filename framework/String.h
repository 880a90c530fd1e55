// The 8-bit string and string array of our framework layer. Texts are in the ANSI code page
// unless a comment says otherwise.
#pragma once

#include <string>
#include <vector>

class CString
{
  public:
    CString() = default;
    CString(const char* text); // a null text gives an empty string
    CString(const char* text, int length);

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    const char* GetString() const { return m_text.c_str(); }
    operator const char*() const { return m_text.c_str(); }

    // Raises CInvalidArgException for an index outside the string.
    char GetAt(int index) const;
    // Index of the first occurrence of `part` at or after `start`, or -1.
    int Find(const char* part, int start = 0) const;
    // printf-style formatting; replaces the content.
    void Format(const char* format, ...);

    CString& operator=(const char* text);
    CString& operator+=(const char* text);
    CString& operator+=(char character);

    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, const char* b) { return a.m_text == (b ? b : ""); }

  private:
    std::string m_text;
};

class CStringArray
{
  public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    // Appends and returns the new entry's index.
    int Add(const CString& text);
    // Raises CInvalidArgException for an index outside the array.
    const CString& GetAt(int index) const;
    void RemoveAll() { m_items.clear(); }

  private:
    std::vector<CString> m_items;
};
