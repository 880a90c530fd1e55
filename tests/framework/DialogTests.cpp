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
constexpr UINT kUnmappedMessage = WM_APP + 9;

// A dialog that records what reaches each of its routing stages.
class ProbeDlg : public CDialog
{
  public:
    ProbeDlg() : CDialog(IDD_PROBE) {}

    int m_choice = 1;
    CString m_text = "12";
    CWnd m_textControl;

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
        DDX_Control(dx, IDC_TEXT, m_textControl);
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
    void OnSysCommand(UINT id, LPARAM parameter)
    {
        m_handled.push_back("SysCommand " + std::to_string(id) + " " + std::to_string(parameter));
    }
    void OnSpin(NMHDR* header, LRESULT* result)
    {
        m_handled.push_back("Spin " + std::to_string(reinterpret_cast<NMUPDOWN*>(header)->iDelta));
        *result = 7;
    }
    void OnKeyDown(UINT key, UINT repeat, UINT flags)
    {
        m_handled.push_back("KeyDown " + std::to_string(key) + " " + std::to_string(repeat) + " " +
                            std::to_string(flags));
    }
    void OnTimer(UINT_PTR id) { m_handled.push_back("Timer " + std::to_string(id)); }
    HCURSOR OnQueryDragIcon()
    {
        m_handled.push_back("QueryDragIcon");
        return reinterpret_cast<HCURSOR>(static_cast<INT_PTR>(0x1234));
    }

    static const MessageMapEntry<ProbeDlg> kMessageMap[];
};

const MessageMapEntry<ProbeDlg> ProbeDlg::kMessageMap[] = {
    {WM_COMMAND, BN_CLICKED, IDC_GO, &ProbeDlg::OnGo},
    {WM_COMMAND, 0, kIdQuiet, {}},
    {WM_NOTIFY, static_cast<UINT>(UDN_DELTAPOS), IDC_SPINNER, &ProbeDlg::OnSpin},
    {WM_SYSCOMMAND, 0, 0, &ProbeDlg::OnSysCommand},
    {WM_KEYDOWN, 0, 0, &ProbeDlg::OnKeyDown},
    {WM_TIMER, 0, 0, &ProbeDlg::OnTimer},
    {WM_QUERYDRAGICON, 0, 0, &ProbeDlg::OnQueryDragIcon},
};

bool ProbeDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    return DispatchMessageMap(*this, kMessageMap, message, wParam, lParam, result) ||
           CDialog::OnWndMsg(message, wParam, lParam, result);
}

using Probe = Drivable<ProbeDlg>;

struct RouteCase
{
    const char* name;
    UINT message;
    WPARAM wParam;
    bool notify; // lParam is an NMUPDOWN with the given id and code
    UINT_PTR notifyFrom;
    UINT notifyCode;
    LPARAM lParam;
    const char* handled; // the handler's record, or null when no handler may run
    bool reachesDefault; // whether DefWindowProc sees the message
    LRESULT result;
};

const RouteCase kRouteCases[] = {
    {"mapped button click", WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED), false, 0, 0, 0, "Go", false, 0},
    {"same id, other code", WM_COMMAND, MAKEWPARAM(IDC_GO, BN_DOUBLECLICKED), false, 0, 0, 0, nullptr, true, 0},
    {"unmapped command", WM_COMMAND, MAKEWPARAM(999, BN_CLICKED), false, 0, 0, 0, nullptr, true, 0},
    {"taken and ignored", WM_COMMAND, kIdQuiet, false, 0, 0, 0, nullptr, false, 0},
    {"notify from the spinner", WM_NOTIFY, IDC_SPINNER, true, IDC_SPINNER, static_cast<UINT>(UDN_DELTAPOS), 0,
     "Spin -1", false, 7},
    {"notify from another control", WM_NOTIFY, IDC_TEXT, true, IDC_TEXT, static_cast<UINT>(UDN_DELTAPOS), 0, nullptr,
     true, 0},
    {"system command", WM_SYSCOMMAND, 0x17, false, 0, 0, 42, "SysCommand 23 42", false, 0},
    {"key down", WM_KEYDOWN, VK_RETURN, false, 0, 0, MAKELPARAM(3, 0x1C), "KeyDown 13 3 28", false, 0},
    {"timer", WM_TIMER, 5, false, 0, 0, 0, "Timer 5", false, 0},
    {"drag icon", WM_QUERYDRAGICON, 0, false, 0, 0, 0, "QueryDragIcon", false, 0x1234},
    {"unmapped message", kUnmappedMessage, 0, false, 0, 0, 0, nullptr, true, 0},
};

TEST(MessageMap, RoutesEachRowToItsHandlerAndTheRestToDefWindowProc)
{
    Probe dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 for (const RouteCase& c : kRouteCases)
                 {
                     SCOPED_TRACE(c.name);
                     NMUPDOWN record = {};
                     record.hdr = {nullptr, c.notifyFrom, c.notifyCode};
                     record.iDelta = -1;
                     const LPARAM lParam = c.notify ? reinterpret_cast<LPARAM>(&record) : c.lParam;
                     size_t handledBefore = 0;
                     size_t defaultBefore = 0;
                     RunOnDialogThread(window,
                                       [&]
                                       {
                                           handledBefore = dialog.m_handled.size();
                                           defaultBefore = std::count(dialog.m_seenByDefWindowProc.begin(),
                                                                      dialog.m_seenByDefWindowProc.end(), c.message);
                                       });
                     const LRESULT result = ::SendMessageW(window, c.message, c.wParam, lParam);
                     RunOnDialogThread(
                         window,
                         [&]
                         {
                             if (c.handled)
                             {
                                 ASSERT_EQ(handledBefore + 1, dialog.m_handled.size());
                                 EXPECT_EQ(c.handled, dialog.m_handled.back());
                                 EXPECT_EQ(c.result, result);
                             }
                             else
                             {
                                 EXPECT_EQ(handledBefore, dialog.m_handled.size());
                             }
                             const auto defaultAfter = std::count(dialog.m_seenByDefWindowProc.begin(),
                                                                  dialog.m_seenByDefWindowProc.end(), c.message);
                             EXPECT_EQ(c.reachesDefault, defaultAfter > static_cast<long long>(defaultBefore));
                         });
                 }
             });
}

TEST(CDialogWindow, WindowProcSeesCreationBeforeInitialisationAndPostNcDestroyRunsOnce)
{
    Probe dialog;
    RunModal(dialog, [](HWND) {});
    const auto& seen = dialog.m_seenByWindowProc;
    const auto create = std::find(seen.begin(), seen.end(), static_cast<UINT>(WM_CREATE));
    const auto init = std::find(seen.begin(), seen.end(), static_cast<UINT>(WM_INITDIALOG));
    ASSERT_NE(seen.end(), create);
    ASSERT_NE(seen.end(), init);
    EXPECT_LT(create, init);
    EXPECT_EQ(static_cast<UINT>(WM_NCDESTROY), seen.back());
    EXPECT_EQ(1, dialog.m_postNcDestroyCalls);
    EXPECT_EQ(nullptr, dialog.m_hWnd);
}

struct EndCase
{
    const char* name;
    UINT message;
    WPARAM wParam;
    INT_PTR expected;
};

const EndCase kEndCases[] = {
    {"IDOK command", WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), IDOK},
    {"IDCANCEL command", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), IDCANCEL},
    {"WM_CLOSE", WM_CLOSE, 0, IDCANCEL},
};

TEST(CDialogWindow, EndsWithTheResultOfTheCommandThatClosedIt)
{
    for (const EndCase& c : kEndCases)
    {
        SCOPED_TRACE(c.name);
        Probe dialog;
        const INT_PTR result = RunModal(dialog,
                                        [&](HWND window)
                                        {
                                            ::PostMessageW(window, c.message, c.wParam, 0);
                                            EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(window); }));
                                        });
        EXPECT_EQ(c.expected, result);
    }
}

HWND Item(HWND dialog, int id)
{
    return ::GetDlgItem(dialog, id);
}

bool Checked(HWND dialog, int id)
{
    return ::SendMessageW(Item(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

struct RadioLoadCase
{
    int value;
    bool a, b, c;
};

const RadioLoadCase kRadioLoadCases[] = {
    {-1, false, false, false}, {0, true, false, false},  {1, false, true, false},
    {2, false, false, true},   {3, false, false, false}, // past the group: nothing checked, the next group untouched
};

TEST(DataExchange, RadioGroupLoadChecksTheIndexedButtonOnly)
{
    Probe dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 ::SendMessageW(Item(window, IDC_OTHER_GROUP), BM_SETCHECK, BST_CHECKED, 0);
                 for (const RadioLoadCase& c : kRadioLoadCases)
                 {
                     SCOPED_TRACE(c.value);
                     RunOnDialogThread(window,
                                       [&]
                                       {
                                           dialog.m_choice = c.value;
                                           EXPECT_TRUE(dialog.UpdateData(FALSE));
                                       });
                     EXPECT_EQ(c.a, Checked(window, IDC_CHOICE_A));
                     EXPECT_EQ(c.b, Checked(window, IDC_CHOICE_B));
                     EXPECT_EQ(c.c, Checked(window, IDC_CHOICE_C));
                     EXPECT_TRUE(Checked(window, IDC_OTHER_GROUP));
                 }
             });
}

struct RadioSaveCase
{
    const char* name;
    int checkedId; // 0: none
    int expected;
};

const RadioSaveCase kRadioSaveCases[] = {
    {"none checked", 0, -1},
    {"first", IDC_CHOICE_A, 0},
    {"last", IDC_CHOICE_C, 2},
    {"only a button of the next group", IDC_OTHER_GROUP, -1},
};

TEST(DataExchange, RadioGroupSaveGivesTheCheckedIndexOrMinusOne)
{
    Probe dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 for (const RadioSaveCase& c : kRadioSaveCases)
                 {
                     SCOPED_TRACE(c.name);
                     for (int id : {IDC_CHOICE_A, IDC_CHOICE_B, IDC_CHOICE_C, IDC_OTHER_GROUP})
                         ::SendMessageW(Item(window, id), BM_SETCHECK, id == c.checkedId ? BST_CHECKED : BST_UNCHECKED,
                                        0);
                     RunOnDialogThread(window,
                                       [&]
                                       {
                                           dialog.m_choice = 99;
                                           EXPECT_TRUE(dialog.UpdateData(TRUE));
                                           EXPECT_EQ(c.expected, dialog.m_choice);
                                       });
                 }
             });
}

TEST(DataExchange, TextIsLimitedToFiveCharactersAndALongerTextIsRefused)
{
    Probe dialog;
    RunModal(dialog,
             [&](HWND window)
             {
                 HWND edit = Item(window, IDC_TEXT);
                 EXPECT_EQ(5, ::SendMessageW(edit, EM_GETLIMITTEXT, 0, 0));
                 EXPECT_EQ(L"12", WindowText(edit));
                 RunOnDialogThread(window, [&] { EXPECT_EQ(edit, dialog.m_textControl.m_hWnd); });

                 ::SetWindowTextW(edit, L"12345");
                 RunOnDialogThread(window,
                                   [&]
                                   {
                                       EXPECT_TRUE(dialog.UpdateData(TRUE));
                                       EXPECT_EQ(dialog.m_text, "12345");
                                   });
                 // A program can put more into the edit than a user can type; saving refuses it.
                 ::SetWindowTextW(edit, L"123456");
                 RunOnDialogThread(window,
                                   [&]
                                   {
                                       EXPECT_FALSE(dialog.UpdateData(TRUE));
                                       EXPECT_EQ(edit, ::GetFocus());
                                   });
                 ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                 ::Sleep(200);
                 EXPECT_TRUE(::IsWindow(window)) << "OK must not end the dialog while a value is refused";
             });
}
} // namespace
