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

    CWavelarkPlayerDlg m_dialog;
};

// Texts cut, not rounded, to a tenth; no band sends a query; a refused text leaves the block.
TEST_F(TuningModel, EncodesValidTextsAndLeavesTheBlockForRefusedOnes)
{
    const Block query = {0x80, 0, 0, 0, 0, 0}, fm999 = {0xC0, 0x02, 0x22, 0x90, 0, 0};
    const Block fm880 = {0xC0, 0x02, 0x1E, 0xD8, 0, 0}, am522 = {0xC0, 0x12, 0x03, 0xCC, 0, 0};
    const std::tuple<int, const char*, Block> cases[] = {
        {1, "99.99", fm999},     {1, "88.", fm880},        {0, "0522", am522},        {-1, "87.9", query},
        {1, "83.2", kUntouched}, {1, "108.0", kUntouched}, {1, ".5", kUntouched},     {0, "521", kUntouched},
        {0, "1711", kUntouched}, {0, "88.5", kUntouched},  {0, "", kUntouched},       {1, "", kUntouched},
        {0, "8a", kUntouched},   {1, "1.2.3", kUntouched}, {0, "-5", kUntouched},     {1, "-5", kUntouched},
        {1, " 9.0", kUntouched}, {1, "..", kUntouched},    {1, "88.1.5", kUntouched},
    };
    for (const auto& [band, text, expected] : cases)
        EXPECT_EQ(expected, Encode(band, text)) << band << " " << text;
}

// Every step of both bands, edge to edge, encodes and decodes back to its own text: a truncation
// anywhere on the way shows as a neighbour. What the codes are, the scenario rows' hex says.
TEST_F(TuningModel, EveryFmTenthAndEveryAmKilohertzEncodesAndDecodesToItself)
{
    // Band, first and last step (FM in tenths of a MHz, AM in kHz).
    for (const auto& [band, first, last] : {std::tuple{1, 833, 1079}, {0, 522, 1710}})
    {
        for (int step = first; step <= last; ++step)
        {
            CString text;
            text.Format(band ? "%4.1f" : "%.0f", band ? step / 10.0 : step);
            const Block block = Encode(band, text);
            m_dialog.m_band = 1 - band;
            const BYTE report[] = {0, 0, block[1], block[2], block[3]}; // status 0
            std::copy(report, report + 5, m_dialog.m_inReport.begin());
            m_dialog.ApplyReport();
            // The text shown, and remembered for the band.
            EXPECT_EQ(std::make_tuple(band, std::string(text), std::string(text), std::string(text)),
                      std::make_tuple(m_dialog.m_band, std::string(m_dialog.m_freqText.GetString()),
                                      std::string(m_dialog.m_editText.GetString()),
                                      std::string((band ? m_dialog.m_lastFmText : m_dialog.m_lastAmText).GetString())))
                << "band, text, edit text, the band's remembered text";
        }
    }
}
} // namespace
