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
    void Report(BYTE status, BYTE band, BYTE high, BYTE low)
    {
        const BYTE bytes[] = {0, status, band, high, low};
        std::copy(bytes, bytes + 5, m_dialog.m_inReport.begin());
        m_dialog.ApplyReport();
    }

    CWavelarkPlayerDlg m_dialog;
};

struct EncodeCase
{
    int band;
    const char* text;
    Block expected;
};

const EncodeCase kEncodeCases[] = {
    {1, "87.9", {0xC0, 0x02, 0x1E, 0xD0, 0, 0}},
    {1, "83.3", {0xC0, 0x02, 0x1D, 0x60, 0, 0}},
    {1, "100.0", {0xC0, 0x02, 0x22, 0x98, 0, 0}},
    {1, "107.9", {0xC0, 0x02, 0x25, 0x10, 0, 0}},
    {1, "99.99", {0xC0, 0x02, 0x22, 0x90, 0, 0}}, // cut to 99.9, not rounded
    {1, "88.", {0xC0, 0x02, 0x1E, 0xD8, 0, 0}},
    {1, "90", {0xC0, 0x02, 0x1F, 0x78, 0, 0}},
    {0, "522", {0xC0, 0x12, 0x03, 0xCC, 0, 0}},
    {0, "0522", {0xC0, 0x12, 0x03, 0xCC, 0, 0}},
    {0, "1710", {0xC0, 0x12, 0x08, 0x70, 0, 0}},
    {-1, "87.9", {0x80, 0, 0, 0, 0, 0}}, // no band: a query
    // Refused texts leave the block as it was.
    {1, "83.2", kUntouched},
    {1, "108.0", kUntouched},
    {1, "76.0", kUntouched},
    {1, ".5", kUntouched},
    {0, "521", kUntouched},
    {0, "1711", kUntouched},
    {0, "88.5", kUntouched},
    {0, "", kUntouched},
    {1, "", kUntouched},
    {0, "8a", kUntouched},
    {1, "8a", kUntouched},
    {1, "1.2.3", kUntouched},
    {0, "-5", kUntouched},
    {1, "-5", kUntouched},
};

TEST_F(TuningModel, EncodesValidTextsAndLeavesTheBlockForRefusedOnes)
{
    for (const EncodeCase& c : kEncodeCases)
    {
        SCOPED_TRACE(std::to_string(c.band) + " " + c.text);
        EXPECT_EQ(c.expected, Encode(c.band, c.text));
    }
}

TEST_F(TuningModel, EveryFmTenthFromBandEdgeToBandEdgeEncodesAndDecodesToItself)
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
        Report(0, 0x02, block[2], block[3]);
        EXPECT_EQ(1, m_dialog.m_band);
        EXPECT_EQ(m_dialog.m_freqText, text);
        EXPECT_EQ(m_dialog.m_editText, text);
    }
}

TEST_F(TuningModel, EveryAmKilohertzEncodesAndDecodesToItself)
{
    for (int kHz = 522; kHz <= 1710; ++kHz)
    {
        const std::string text = std::to_string(kHz);
        SCOPED_TRACE(text);
        const Block block = Encode(0, text.c_str());
        ASSERT_EQ(0x12, block[1]);
        EXPECT_EQ(kHz + 450, block[2] * 256 + block[3]);
        m_dialog.m_band = 1;
        Report(0, 0x12, block[2], block[3]);
        EXPECT_EQ(0, m_dialog.m_band);
        EXPECT_EQ(m_dialog.m_freqText, text.c_str());
    }
}

struct TextCase
{
    const char* text;
    bool am;
    bool fm;
};

const TextCase kTextCases[] = {
    {"522", true, true},  {"0954", true, true},   {"88.5", false, true}, {".5", false, true},
    {"88.", false, true}, {"", false, false},     {"8a", false, false},  {"1.2.3", false, false},
    {"-5", false, false}, {" 9.0", false, false}, {"..", false, false},
};

TEST_F(TuningModel, AmTextsAreDigitsAndFmTextsMayHaveOnePoint)
{
    for (const TextCase& c : kTextCases)
    {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.am, CWavelarkPlayerDlg::IsAmText(c.text));
        EXPECT_EQ(c.fm, CWavelarkPlayerDlg::IsFmText(c.text));
    }
}

struct ReportCase
{
    const char* name;
    BYTE status, band, high, low;
    int expectedBand;
    const char* expectedText;
    const char* expectedLastAm;
    const char* expectedLastFm;
};

// Before each row: AM, text "999", last texts "600" and "90.0".
const ReportCase kReportCases[] = {
    {"FM report", 0, 0x02, 0x1E, 0xD0, 1, "87.9", "600", "87.9"},
    {"AM report", 0, 0x12, 0x03, 0xCC, 0, "522", "522", "90.0"},
    {"top of FM", 0, 0x02, 0x25, 0x10, 1, "107.9", "600", "107.9"},
    {"below ten MHz pads", 0, 0x02, 0x03, 0x58, 1, " 0.0", "600", " 0.0"},
    {"status 1 changes nothing", 1, 0x02, 0x1E, 0xD0, 0, "999", "600", "90.0"},
    {"unknown band keeps everything", 0, 0x00, 0x1E, 0xD0, 0, "999", "600", "90.0"},
};

TEST_F(TuningModel, ApplyReportDecodesOnlyStatusZeroAndKnownBands)
{
    for (const ReportCase& c : kReportCases)
    {
        SCOPED_TRACE(c.name);
        m_dialog.m_band = 0;
        m_dialog.m_freqText = "999";
        m_dialog.m_lastAmText = "600";
        m_dialog.m_lastFmText = "90.0";
        Report(c.status, c.band, c.high, c.low);
        EXPECT_EQ(c.expectedBand, m_dialog.m_band);
        EXPECT_EQ(m_dialog.m_freqText, c.expectedText);
        EXPECT_EQ(m_dialog.m_lastAmText, c.expectedLastAm);
        EXPECT_EQ(m_dialog.m_lastFmText, c.expectedLastFm);
    }
}

} // namespace
