#include "receiver/TuningModel.h"

#include "app/WavelarkPlayerDlg.h"

#include <cstdlib>
#include <cstring>

namespace tuning
{
WORD AmCode(int kHz)
{
    return static_cast<WORD>(kHz + 450);
}

WORD FmCode(double mHz)
{
    // (107 + trunc(f * 10)) * 8, formed as the receiver's own software forms it; the same value
    // for every valid f.
    const int tenths = static_cast<int>(mHz * -10.0);
    return static_cast<WORD>((107 - tenths) << 3);
}

int AmFromCode(WORD code)
{
    return static_cast<int>(code) - 450;
}

int FmTenthsFromCode(WORD code)
{
    return (static_cast<int>(code) - 856) / 8;
}
} // namespace tuning

namespace
{
const BYTE kQueryBlock[CWavelarkPlayerDlg::kCommandBytes] = {tuning::kQueryCommand, 0, 0, 0, 0, 0};

void SetTuneBlock(BYTE* command, BYTE bandByte, WORD code)
{
    const BYTE block[CWavelarkPlayerDlg::kCommandBytes] = {
        tuning::kTuneCommand,           bandByte, static_cast<BYTE>((code & 0xFF00) / (16 * 16)),
        static_cast<BYTE>(code & 0xFF), 0,        0};
    std::memcpy(command, block, sizeof(block));
}

bool AllCharacters(const CString& text, const char* allowed)
{
    for (const char* c = text.GetString(); *c; ++c)
    {
        if (!std::strchr(allowed, *c))
            return false;
    }
    return true;
}
} // namespace

bool CWavelarkPlayerDlg::IsAmText(const CString& text)
{
    return !text.IsEmpty() && AllCharacters(text, "0123456789");
}

bool CWavelarkPlayerDlg::IsFmText(const CString& text)
{
    if (text.IsEmpty() || !AllCharacters(text, "0123456789."))
        return false;
    const int point = text.Find(".");
    return point < 0 || text.Find(".", point + 1) < 0;
}

void CWavelarkPlayerDlg::EncodeCommand()
{
    if (m_band == tuning::kBandAm)
    {
        if (!IsAmText(m_freqText))
            return;
        const int kHz = std::atoi(m_freqText);
        if (kHz < tuning::kAmLowest || kHz > tuning::kAmHighest)
            return;
        SetTuneBlock(m_command, tuning::kBandByteAm, tuning::AmCode(kHz));
    }
    else if (m_band == tuning::kBandFm)
    {
        if (!IsFmText(m_freqText))
            return;
        const double mHz = std::atof(m_freqText);
        if (!(mHz >= tuning::kFmLowest) || !(mHz <= tuning::kFmHighest))
            return;
        SetTuneBlock(m_command, tuning::kBandByteFm, tuning::FmCode(mHz));
    }
    else
    {
        SetQueryCommand();
    }
}

void CWavelarkPlayerDlg::SetQueryCommand()
{
    std::memcpy(m_command, kQueryBlock, sizeof(kQueryBlock));
}

void CWavelarkPlayerDlg::ApplyReport()
{
    if (m_inReport[1] != 0)
        return;
    const WORD code = static_cast<WORD>(m_inReport[3] * 256 + m_inReport[4]);
    if (m_inReport[2] == tuning::kBandByteFm)
    {
        m_band = tuning::kBandFm;
        // The receiver's software scales by the single-precision 0.1; the product is a double.
        m_freqText.Format("%4.1f", tuning::FmTenthsFromCode(code) * static_cast<double>(0.1f));
        m_lastFmText = m_freqText;
    }
    else if (m_inReport[2] == tuning::kBandByteAm)
    {
        m_band = tuning::kBandAm;
        m_freqText.Format("%d", tuning::AmFromCode(code));
        m_lastAmText = m_freqText;
    }
    m_editText = m_freqText;
    UpdateData(FALSE);
}
