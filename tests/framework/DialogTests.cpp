#include "framework/Dialog.h"
#include "res/resource.h"
#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
constexpr UINT kIdQuiet = 1010;

// A dialog on the player's template that records what reaches each of its routing stages.
class ProbeDlg : public CDialog
{
  public:
    ProbeDlg() : CDialog(IDD_WAVELARKPLAYER_DIALOG) {}

    UINT m_watched = 0;
    std::string m_log; // what the handlers and DefWindowProc saw of m_watched messages

  protected:
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        m_log += message == m_watched ? "default " : "";
        return CDialog::DefWindowProc(message, wParam, lParam);
    }

  private:
    void OnGo() { m_log += "Go "; }
    void OnSpin(NMHDR* header, LRESULT* result)
    {
        m_log += "Spin " + std::to_string(reinterpret_cast<NMUPDOWN*>(header)->iDelta) + " ";
        *result = 7;
    }

    static const MessageMapEntry<ProbeDlg> kMessageMap[];
};

const MessageMapEntry<ProbeDlg> ProbeDlg::kMessageMap[] = {
    {WM_COMMAND, BN_CLICKED, IDC_PLAY, &ProbeDlg::OnGo},
    {WM_COMMAND, 0, kIdQuiet, {}},
    {WM_NOTIFY, static_cast<UINT>(UDN_DELTAPOS), IDC_SPIN, &ProbeDlg::OnSpin},
};

bool ProbeDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    return DispatchMessageMap(*this, kMessageMap, message, wParam, lParam, result) ||
           CDialog::OnWndMsg(message, wParam, lParam, result);
}

TEST(MessageMap, RoutesEachRowToItsHandlerAndTheRestToDefWindowProc)
{
    // Message, wParam, the control an up-down notification in lParam comes from (0: none), what
    // reaches the handlers and DefWindowProc, and the result.
    const std::tuple<const char*, UINT, WPARAM, UINT_PTR, const char*, LRESULT> cases[] = {
        {"mapped button click", WM_COMMAND, MAKEWPARAM(IDC_PLAY, BN_CLICKED), 0, "Go ", 0},
        {"same id, other code", WM_COMMAND, MAKEWPARAM(IDC_PLAY, BN_DOUBLECLICKED), 0, "default ", 0},
        {"taken and ignored", WM_COMMAND, kIdQuiet, 0, "", 0},
        {"notify from the spinner", WM_NOTIFY, IDC_SPIN, IDC_SPIN, "Spin -1 ", 7},
        {"notify from another control", WM_NOTIFY, IDC_FREQ_EDIT, IDC_FREQ_EDIT, "default ", 0},
        {"unmapped message", WM_APP + 9, 0, 0, "default ", 0},
    };
    ProbeDlg dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 for (const auto& [name, message, wParam, notifyFrom, log, result] : cases)
                 {
                     NMUPDOWN record = {{nullptr, notifyFrom, static_cast<UINT>(UDN_DELTAPOS)}, 0, -1};
                     dialog.m_watched = message;
                     dialog.m_log.clear();
                     const LRESULT actual =
                         ::SendMessageW(window, message, wParam, notifyFrom ? reinterpret_cast<LPARAM>(&record) : 0);
                     EXPECT_EQ(std::make_pair(std::string(log), result), std::make_pair(dialog.m_log, actual)) << name;
                 }
             });
}
} // namespace
