#include "FrameworkTestIds.h"
#include "framework/Dialog.h"
#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
constexpr UINT kIdQuiet = 1010;

// A dialog that records what reaches each of its routing stages.
class ProbeDlg : public CDialog
{
  public:
    ProbeDlg() : CDialog(IDD_PROBE) {}

    int m_choice = 1;
    CString m_text = "12";
    std::vector<std::string> m_handled;
    std::vector<UINT> m_seenByWindowProc;
    std::vector<UINT> m_seenByDefWindowProc;
    int m_postNcDestroyCalls = 0;

  protected:
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void DoDataExchange(CDataExchange* dx) override
    {
        DDX_Radio(dx, IDC_CHOICE_A, m_choice);
        DDX_Text(dx, IDC_TEXT, m_text);
        DDV_MaxChars(dx, m_text, 5);
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        m_seenByWindowProc.push_back(message);
        return CDialog::WindowProc(message, wParam, lParam);
    }
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        m_seenByDefWindowProc.push_back(message);
        return CDialog::DefWindowProc(message, wParam, lParam);
    }
    void PostNcDestroy() override { ++m_postNcDestroyCalls; }

  private:
    void OnGo() { m_handled.push_back("Go"); }
    void OnSpin(NMHDR* header, LRESULT* result)
    {
        m_handled.push_back("Spin " + std::to_string(reinterpret_cast<NMUPDOWN*>(header)->iDelta));
        *result = 7;
    }

    static const MessageMapEntry<ProbeDlg> kMessageMap[];
};

const MessageMapEntry<ProbeDlg> ProbeDlg::kMessageMap[] = {
    {WM_COMMAND, BN_CLICKED, IDC_GO, &ProbeDlg::OnGo},
    {WM_COMMAND, 0, kIdQuiet, {}},
    {WM_NOTIFY, static_cast<UINT>(UDN_DELTAPOS), IDC_SPINNER, &ProbeDlg::OnSpin},
};

bool ProbeDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    return DispatchMessageMap(*this, kMessageMap, message, wParam, lParam, result) ||
           CDialog::OnWndMsg(message, wParam, lParam, result);
}

TEST(MessageMap, RoutesEachRowToItsHandlerAndTheRestToDefWindowProc)
{
    const struct
    {
        const char* name;
        UINT message;
        WPARAM wParam;
        UINT_PTR notifyFrom; // lParam is an up-down notification from this control when not 0
        const char* handled; // the handler's record, or null when no handler may run
        bool reachesDefault; // whether DefWindowProc sees the message
        LRESULT result;
    } cases[] = {
        {"mapped button click", WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED), 0, "Go", false, 0},
        {"same id, other code", WM_COMMAND, MAKEWPARAM(IDC_GO, BN_DOUBLECLICKED), 0, nullptr, true, 0},
        {"taken and ignored", WM_COMMAND, kIdQuiet, 0, nullptr, false, 0},
        {"notify from the spinner", WM_NOTIFY, IDC_SPINNER, IDC_SPINNER, "Spin -1", false, 7},
        {"notify from another control", WM_NOTIFY, IDC_TEXT, IDC_TEXT, nullptr, true, 0},
        {"unmapped message", WM_APP + 9, 0, 0, nullptr, true, 0},
    };
    ProbeDlg dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 for (const auto& c : cases)
                 {
                     SCOPED_TRACE(c.name);
                     NMUPDOWN record = {{nullptr, c.notifyFrom, static_cast<UINT>(UDN_DELTAPOS)}, 0, -1};
                     const auto reachedDefault = [&] {
                         return std::count(dialog.m_seenByDefWindowProc.begin(), dialog.m_seenByDefWindowProc.end(),
                                           c.message);
                     };
                     const size_t handledBefore = dialog.m_handled.size();
                     const auto defaultBefore = reachedDefault();
                     const LRESULT result = ::SendMessageW(window, c.message, c.wParam,
                                                           c.notifyFrom ? reinterpret_cast<LPARAM>(&record) : 0);
                     EXPECT_EQ(handledBefore + (c.handled ? 1 : 0), dialog.m_handled.size());
                     if (c.handled)
                     {
                         EXPECT_EQ(c.handled, dialog.m_handled.back());
                     }
                     EXPECT_EQ(c.result, result);
                     EXPECT_EQ(c.reachesDefault, reachedDefault() > defaultBefore);
                 }
             });
}

TEST(CDialogWindow, EndsWithTheClosingCommandsResultAfterALifeInOrder)
{
    const std::pair<UINT, WPARAM> closings[] = {
        {WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED)}, {WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)}, {WM_CLOSE, 0}};
    for (const auto& [message, wParam] : closings)
    {
        SCOPED_TRACE(wParam);
        ProbeDlg dialog;
        const INT_PTR result = RunModal(dialog,
                                        [&](HWND window)
                                        {
                                            ::PostMessageW(window, message, wParam, 0);
                                            EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
                                        });
        EXPECT_EQ(wParam == MAKEWPARAM(IDOK, BN_CLICKED) ? IDOK : IDCANCEL, result);
        const auto& seen = dialog.m_seenByWindowProc;
        const auto create = std::find(seen.begin(), seen.end(), static_cast<UINT>(WM_CREATE));
        EXPECT_LT(create, std::find(seen.begin(), seen.end(), static_cast<UINT>(WM_INITDIALOG)));
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(static_cast<UINT>(WM_NCDESTROY), seen.back());
        EXPECT_EQ(1, dialog.m_postNcDestroyCalls);
        EXPECT_EQ(nullptr, dialog.m_hWnd);
    }
}

bool Check(HWND dialog, int id, bool checked)
{
    ::SendDlgItemMessageW(dialog, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    return checked;
}

// Saving gives the index of the checked button of the group, or -1; a longer text than the
// limit, which only a program can put there, is refused and keeps the dialog open.
TEST(DataExchange, SavesTheCheckedIndexAndRefusesTooLongATextWithFocusOnIt)
{
    const std::pair<int, int> radioCases[] = {{0, -1}, {IDC_CHOICE_A, 0}, {IDC_CHOICE_C, 2}, {IDC_OTHER_GROUP, -1}};
    ProbeDlg dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 for (const auto& [checkedId, expected] : radioCases)
                 {
                     SCOPED_TRACE(checkedId);
                     for (int id : {IDC_CHOICE_A, IDC_CHOICE_B, IDC_CHOICE_C, IDC_OTHER_GROUP})
                         Check(window, id, id == checkedId);
                     dialog.m_choice = 99;
                     EXPECT_TRUE(dialog.UpdateData(TRUE));
                     EXPECT_EQ(expected, dialog.m_choice);
                 }
                 HWND edit = ::GetDlgItem(window, IDC_TEXT);
                 EXPECT_EQ(5, ::SendMessageW(edit, EM_GETLIMITTEXT, 0, 0));
                 ::SetWindowTextW(edit, L"12345");
                 EXPECT_TRUE(dialog.UpdateData(TRUE));
                 EXPECT_EQ(dialog.m_text, "12345");
                 ::SetWindowTextW(edit, L"123456");
                 EXPECT_FALSE(dialog.UpdateData(TRUE));
                 EXPECT_EQ(edit, ::GetFocus());
                 ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                 EXPECT_FALSE(WaitUntil([&] { return !::IsWindow(window); }, 300))
                     << "OK must not end the dialog while a value is refused";
             });
}
} // namespace
