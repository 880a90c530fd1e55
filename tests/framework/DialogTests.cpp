#include "framework/Dialog.h"
#include "res/resource.h"
#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <string>

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

    static const MessageMapEntry<ProbeDlg> kMessageMap[];
};

const MessageMapEntry<ProbeDlg> ProbeDlg::kMessageMap[] = {
    {WM_COMMAND, BN_CLICKED, IDC_PLAY, &ProbeDlg::OnGo},
    {WM_COMMAND, 0, kIdQuiet, {}},
};

bool ProbeDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    return DispatchMessageMap(*this, kMessageMap, message, wParam, lParam, result) ||
           CDialog::OnWndMsg(message, wParam, lParam, result);
}

// A row takes its message only with its own code and id; a row without a handler takes it and
// does nothing; what no row takes reaches DefWindowProc.
TEST(MessageMap, RoutesEachRowToItsHandlerAndTheRestToDefWindowProc)
{
    const std::tuple<UINT, WPARAM, const char*> cases[] = {
        {WM_COMMAND, MAKEWPARAM(IDC_PLAY, BN_CLICKED), "Go "},
        {WM_COMMAND, MAKEWPARAM(IDC_PLAY, BN_DOUBLECLICKED), "default "},
        {WM_COMMAND, kIdQuiet, ""},
        {WM_APP + 9, 0, "default "},
    };
    ProbeDlg dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 for (const auto& [message, wParam, log] : cases)
                 {
                     dialog.m_watched = message;
                     dialog.m_log.clear();
                     ::SendMessageW(window, message, wParam, 0);
                     EXPECT_EQ(log, dialog.m_log) << message << " " << wParam;
                 }
             });
}
} // namespace
