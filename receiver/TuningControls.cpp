// The tuning controls: every change of band or frequency runs one exchange with the receiver.
#include "app/WavelarkPlayerDlg.h"
#include "receiver/TuningModel.h"
#include "res/resource.h"

#include <commctrl.h>

#include <cstdlib>

namespace
{
constexpr double kFmStep = 0.1;
constexpr UINT_PTR kEditKeysSubclassId = 1;
// A wheel's part of a notch, kept until it makes a whole one; a turn the other way, or the focus
// leaving the edit, starts afresh, so that a whole notch always steps.
int g_wheelTurned = 0;

// The arrows' own notification, handed to the dialog as the up-down control sends it.
void StepAsTheArrows(HWND edit, bool up)
{
    HWND dialog = ::GetParent(edit);
    NMUPDOWN step = {};
    step.hdr.hwndFrom = ::GetDlgItem(dialog, IDC_SPIN);
    step.hdr.idFrom = IDC_SPIN;
    step.hdr.code = static_cast<UINT>(UDN_DELTAPOS);
    step.iDelta = up ? -1 : 1;
    ::SendMessageW(dialog, WM_NOTIFY, IDC_SPIN, reinterpret_cast<LPARAM>(&step));
}

// A single-line edit leaves Enter to the dialog manager, which would click the default button
// (Play). Enter typed in the frequency edit is meant to apply the text, so the edit asks for it
// and hands it to the dialog as a key-down of its own, as it hands Up and Down, which step from
// what was typed. Each notch of the wheel steps the frequency as the arrows do.
LRESULT CALLBACK HandOverKeys(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_GETDLGCODE)
        return ::DefSubclassProc(edit, message, wParam, lParam) | DLGC_WANTARROWS |
               (wParam == VK_RETURN ? DLGC_WANTMESSAGE : 0);
    if (message == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_UP || wParam == VK_DOWN))
    {
        ::SendMessageW(::GetParent(edit), WM_KEYDOWN, wParam, lParam);
        return 0;
    }
    if (message == WM_MOUSEWHEEL)
    {
        const int turned = GET_WHEEL_DELTA_WPARAM(wParam);
        if ((turned < 0) != (g_wheelTurned < 0))
            g_wheelTurned = 0;
        for (g_wheelTurned += turned; g_wheelTurned >= WHEEL_DELTA; g_wheelTurned -= WHEEL_DELTA)
            StepAsTheArrows(edit, true);
        for (; g_wheelTurned <= -WHEEL_DELTA; g_wheelTurned += WHEEL_DELTA)
            StepAsTheArrows(edit, false);
        return 0;
    }
    // Enter was handled as a key-down; Tab moved the focus on its key-down, and its character,
    // queued behind, would land in front of the text the program has just shown.
    if (message == WM_CHAR && (wParam == '\r' || wParam == '\t'))
        return 0;
    if (message == WM_KILLFOCUS)
        g_wheelTurned = 0;
    if (message == WM_NCDESTROY)
    {
        g_wheelTurned = 0;
        ::RemoveWindowSubclass(edit, HandOverKeys, kEditKeysSubclassId);
    }
    return ::DefSubclassProc(edit, message, wParam, lParam);
}
} // namespace

void CWavelarkPlayerDlg::HandEditKeysToDialog()
{
    ::SetWindowSubclass(m_edit.m_hWnd, HandOverKeys, kEditKeysSubclassId, 0);
}

void CWavelarkPlayerDlg::OnSpinDeltaPos(NMHDR* notification, LRESULT* result)
{
    // No range is set, so the control keeps the platform's default (maximum 0, minimum 100):
    // the upper arrow proposes -1 and raises the frequency.
    StepFrequency(reinterpret_cast<NMUPDOWN*>(notification)->iDelta < 0);
    *result = 0;
}

void CWavelarkPlayerDlg::StepFrequency(bool up)
{
    if (m_band == tuning::kBandAm && IsAmText(m_freqText))
    {
        // The receiver's software keeps the kHz value in 16 bits.
        int kHz = static_cast<short>(static_cast<unsigned>(std::atoi(m_freqText)) & 0xFFFF);
        const int stepped = up ? kHz + 1 : kHz - 1;
        if (stepped >= tuning::kAmLowest && stepped <= tuning::kAmHighest)
            kHz = stepped;
        m_freqText.Format("%d", kHz);
    }
    else if (m_band == tuning::kBandFm && IsFmText(m_freqText))
    {
        double mHz = std::atof(m_freqText);
        const double stepped = up ? mHz + kFmStep : mHz + -kFmStep;
        if (stepped >= tuning::kFmLowest && stepped <= tuning::kFmHighest)
            mHz = stepped;
        m_freqText.Format("%4.1f", mHz);
    }
    m_editText = m_freqText;
    TuneAndReadBack();
}

// Switching from the other band remembers that band's text and brings back this band's last
// text; any other click (the band already selected, or none) tunes to the band's default.
void CWavelarkPlayerDlg::SwitchToBand(int band, const CString& lastOfBand, CString& lastOfOther,
                                      const char* defaultText)
{
    const int otherBand = band == tuning::kBandAm ? tuning::kBandFm : tuning::kBandAm;
    const bool fromOther = m_band == otherBand;
    if (!m_freqText.IsEmpty() && fromOther)
        lastOfOther = m_freqText;
    m_freqText = !lastOfBand.IsEmpty() && fromOther ? lastOfBand : CString(defaultText);
    m_band = band;
    m_editText = m_freqText;
    TuneAndReadBack();
}

void CWavelarkPlayerDlg::OnBandAm()
{
    SwitchToBand(tuning::kBandAm, m_lastAmText, m_lastFmText, tuning::kAmDefaultText);
}

void CWavelarkPlayerDlg::OnBandFm()
{
    SwitchToBand(tuning::kBandFm, m_lastFmText, m_lastAmText, tuning::kFmDefaultText);
}

// The typed text as it is tuned (AM without leading zeros, FM to a tenth), or empty when the
// band refuses it.
CString CWavelarkPlayerDlg::AcceptedText(const CString& typed) const
{
    CString accepted;
    if (m_band == tuning::kBandAm && IsAmText(typed) && std::atoi(typed) >= tuning::kAmLowest &&
        std::atoi(typed) <= tuning::kAmHighest)
        accepted.Format("%d", std::atoi(typed));
    else if (m_band == tuning::kBandFm && IsFmText(typed) && std::atof(typed) >= tuning::kFmLowest &&
             std::atof(typed) <= tuning::kFmHighest)
        accepted.Format("%4.1f", std::atof(typed));
    return accepted;
}

void CWavelarkPlayerDlg::ApplyEditText()
{
    const CString shown = m_editText;
    UpdateData(TRUE); // the edit holds at most five characters, so nothing is refused
    TuneToTyped(shown);
}

// The text read from the edit is tuned, or `shown` again when the band refuses it.
void CWavelarkPlayerDlg::TuneToTyped(const CString& shown)
{
    const CString accepted = AcceptedText(m_editText);
    m_freqText = accepted.IsEmpty() ? shown : accepted;
    m_editText = m_freqText;
    TuneAndReadBack();
}

void CWavelarkPlayerDlg::OnEditSetFocus()
{
    m_editHasFocus = true;
}

void CWavelarkPlayerDlg::OnEditKillFocus()
{
    m_editHasFocus = false;
    ApplyEditText();
}

void CWavelarkPlayerDlg::OnEditChange()
{
    ApplyEditText();
}

void CWavelarkPlayerDlg::OnKeyDown(UINT key, UINT, UINT)
{
    if (m_editHasFocus && key == VK_RETURN)
        ApplyEditText();
    if (m_editHasFocus && (key == VK_UP || key == VK_DOWN))
    {
        // What was typed is not thrown away: applied as leaving the edit applies it, and the
        // step goes from there; a text the band refuses gives way to the one shown.
        const CString shown = m_editText;
        UpdateData(TRUE);
        if (m_editText != shown && !AcceptedText(m_editText).IsEmpty())
            TuneToTyped(shown);
        m_editText = m_freqText;
        StepFrequency(key == VK_UP);
    }
}
