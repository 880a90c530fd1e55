#include "app/WavelarkPlayerDlg.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace
{
using Block = std::array<BYTE, 6>;
const Block kUntouched = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

// The dialog's tuning state, without a window: data exchange finds no controls and does nothing.
class TuningModel : public ::testing::Test
{
  protected:
    Block Encode(int band, const char* text)
    {
        m_dialog.m_band = band;
        m_dialog.m_freqText = text;
        std::copy(kUntouched.begin(), kUntouched.end(), m_dialog.m_command);
        m_dialog.EncodeCommand();
        Block block;
        std::copy(m_dialog.m_command, m_dialog.m_command + 6, block.begin());
        return block;
    }
    void Report(BYTE band, BYTE high, BYTE low)
    {
        const BYTE bytes[] = {0, 0, band, high, low};
        std::copy(bytes, bytes + 5, m_dialog.m_inReport.begin());
        m_dialog.ApplyReport();
    }

    CWavelarkPlayerDlg m_dialog;
};

TEST_F(TuningModel, EncodesValidTextsAndLeavesTheBlockForRefusedOnes)
{
    const struct
    {
        int band;
        const char* text;
        Block expected;
    } cases[] = {
        {1, "99.99", {0xC0, 0x02, 0x22, 0x90, 0, 0}}, // cut to 99.9, not rounded
        {1, "88.", {0xC0, 0x02, 0x1E, 0xD8, 0, 0}},   {1, "90", {0xC0, 0x02, 0x1F, 0x78, 0, 0}},
        {0, "0522", {0xC0, 0x12, 0x03, 0xCC, 0, 0}},  {-1, "87.9", {0x80, 0, 0, 0, 0, 0}}, // no band: a query
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.band) + " " + c.text);
        EXPECT_EQ(c.expected, Encode(c.band, c.text));
    }
    const std::pair<int, const char*> refused[] = {
        {1, "83.2"}, {1, "108.0"}, {1, ".5"},    {0, "521"}, {0, "1711"}, {0, "88.5"}, {0, ""},
        {1, ""},     {0, "8a"},    {1, "1.2.3"}, {0, "-5"},  {1, "-5"},   {1, " 9.0"}, {1, ".."},
    };
    for (const auto& [band, text] : refused)
    {
        SCOPED_TRACE(std::to_string(band) + " " + text);
        EXPECT_EQ(kUntouched, Encode(band, text));
    }
}

// Every step of both bands, edge to edge, encodes to its code and decodes back to its own text:
// a truncation anywhere on the way shows as a neighbour.
TEST_F(TuningModel, EveryFmTenthAndEveryAmKilohertzEncodesAndDecodesToItself)
{
    for (int tenths = 833; tenths <= 1079; ++tenths)
    {
        CString text;
        text.Format("%4.1f", tenths / 10.0);
        SCOPED_TRACE(text.GetString());
        const Block block = Encode(1, text);
        ASSERT_EQ(0xC0, block[0]);
        ASSERT_EQ(0x02, block[1]);
        EXPECT_EQ((107 + tenths) * 8, block[2] * 256 + block[3]);
        m_dialog.m_band = 0;
        Report(0x02, block[2], block[3]);
        EXPECT_EQ(1, m_dialog.m_band);
        EXPECT_EQ(m_dialog.m_freqText, text);
        EXPECT_EQ(m_dialog.m_editText, text);
    }
    for (int kHz = 522; kHz <= 1710; ++kHz)
    {
        const std::string text = std::to_string(kHz);
        SCOPED_TRACE(text);
        const Block block = Encode(0, text.c_str());
        ASSERT_EQ(0x12, block[1]);
        EXPECT_EQ(kHz + 450, block[2] * 256 + block[3]);
        m_dialog.m_band = 1;
        Report(0x12, block[2], block[3]);
        EXPECT_EQ(0, m_dialog.m_band);
        EXPECT_EQ(m_dialog.m_freqText, text.c_str());
    }
}
} // namespace
