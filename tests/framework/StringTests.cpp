#include "framework/Exceptions.h"
#include "framework/String.h"

#include <gtest/gtest.h>

namespace
{
struct FindCase
{
    const char* text;
    const char* part;
    int start;
    int expected;
};

const FindCase kFindCases[] = {
    {"USB Audio (WaveLARK FM)", "WaveLARK", 0, 11},
    {"USB Audio (WaveLARK FM)", "wavelark", 0, -1}, // case-sensitive
    {"WaveLARK", "WaveLARK", 0, 0},
    {"WaveLARK WaveLARK", "WaveLARK", 1, 9},
    {"abc", "", 3, 3},
    {"abc", "c", 4, -1}, // start past the end
    {"abc", "a", -1, -1},
    {"", "a", 0, -1},
};

TEST(CString, FindsPartsFromAStartIndex)
{
    for (const FindCase& c : kFindCases)
    {
        SCOPED_TRACE(std::string(c.text) + " / " + c.part);
        EXPECT_EQ(c.expected, CString(c.text).Find(c.part, c.start));
    }
}

TEST(CString, FormatsLikePrintfAndReplacesTheContent)
{
    CString text("old content that is longer than the result");
    text.Format("%4.1f", 9.0);
    EXPECT_EQ(text, " 9.0");
    text.Format("%d", 1710);
    EXPECT_EQ(text, "1710");
    text.Format("%s-%03d", "x", 7);
    EXPECT_EQ(text, "x-007");
    EXPECT_EQ(5, text.GetLength());
}

TEST(CString, NullTextIsEmptyAndIndexingPastTheEndRaises)
{
    CString empty(nullptr);
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_STREQ("", empty.GetString());
    CString text("87.9");
    EXPECT_EQ('.', text.GetAt(2));
    EXPECT_THROW(text.GetAt(4), CInvalidArgException);
    EXPECT_THROW(text.GetAt(-1), CInvalidArgException);
}

TEST(CStringArray, KeepsOrderAndRaisesOutsideItsEntries)
{
    CStringArray names;
    EXPECT_THROW(names.GetAt(0), CInvalidArgException);
    EXPECT_EQ(0, names.Add("first"));
    EXPECT_EQ(1, names.Add(""));
    EXPECT_EQ(2, names.GetSize());
    EXPECT_EQ(names.GetAt(0), "first");
    EXPECT_TRUE(names.GetAt(1).IsEmpty());
    EXPECT_THROW(names.GetAt(2), CInvalidArgException);
    EXPECT_THROW(names.GetAt(-1), CInvalidArgException);
    names.RemoveAll();
    EXPECT_EQ(0, names.GetSize());
}
} // namespace
