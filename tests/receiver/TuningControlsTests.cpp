#include "app/WavelarkPlayerDlg.h"
#include "res/resource.h"
#include "sim/SimulatedReceiver.h"
#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>
#include <vector>

namespace
{
using Report = std::vector<BYTE>;

SimConfig StartAt(BYTE band, WORD code, SimFault fault = SimFault::None, int faultValue = 0)
{
    SimConfig config;
    config.band = band;
    config.code = code;
    config.fault = fault;
    config.faultValue = faultValue;
    return config;
}

size_t WrittenCount()
{
    return SimulatedReceiver::Instance().Snapshot().written.size();
}

// One user action as the window messages it produces. The edit's focus notifications are sent as
// the edit sends them, rather than by moving the real focus, which the Wine desktop may still be
// moving at the same moment.
void Act(HWND window, const std::string& action)
{
    HWND edit = ::GetDlgItem(window, IDC_FREQ_EDIT);
    const auto notify = [&](WORD code)
    { ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_FREQ_EDIT, code), reinterpret_cast<LPARAM>(edit)); };
    NMUPDOWN spin = {
        {::GetDlgItem(window, IDC_SPIN), IDC_SPIN, static_cast<UINT>(UDN_DELTAPOS)}, 0, action == "up" ? -1 : 1};
    const std::wstring text(action.begin() + static_cast<std::ptrdiff_t>(action.find(':') + 1), action.end());
    if (action == "up" || action == "down")
        ::SendMessageW(window, WM_NOTIFY, IDC_SPIN, reinterpret_cast<LPARAM>(&spin));
    else if (action == "am" || action == "fm")
        ::SendDlgItemMessageW(window, action == "am" ? IDC_RADIO_AM : IDC_RADIO_FM, BM_CLICK, 0, 0);
    else
    {
        notify(EN_SETFOCUS);
        ::SendMessageW(edit, EM_SETSEL, 0, -1);
        for (wchar_t c : text)
            ::PostMessageW(edit, WM_CHAR, c, 1);
        EXPECT_TRUE(WaitUntil([&] { return WindowText(edit) == text; }));
        if (action.rfind("enter:", 0) == 0)
            ::PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0x001C0001); // through the dialog manager
        else
            notify(EN_KILLFOCUS);
    }
}

// A row's actions, from start-up on: each is one exchange with the receiver.
struct ControlCase
{
    const char* name;
    SimConfig start;
    std::vector<std::string> actions; // "up", "down", "am", "fm", "type:TEXT", "enter:TEXT"
    std::vector<Report> tunes;        // every tune command written, in order; the rest are queries
    const wchar_t* editText;
    bool fm; // the FM button checked, the AM button not
};

Report Tune(BYTE band, WORD code)
{
    return {0x00, 0xC0, band, static_cast<BYTE>(code >> 8), static_cast<BYTE>(code & 0xFF), 0x00, 0x00};
}

const WORD kFm879 = 0x1ED0, kFm880 = 0x1ED8, kFm833 = 0x1D60, kFm1079 = 0x2510, kFm760 = 0x1B18;

const ControlCase kControlCases[] = {
    {"FM up", StartAt(0x02, kFm879), {"up"}, {Tune(0x02, kFm880)}, L"88.0", true},
    {"FM down", StartAt(0x02, kFm880), {"down"}, {Tune(0x02, kFm879)}, L"87.9", true},
    {"FM top stays", StartAt(0x02, kFm1079), {"up"}, {Tune(0x02, kFm1079)}, L"107.9", true},
    {"FM bottom stays", StartAt(0x02, kFm833), {"down"}, {Tune(0x02, kFm833)}, L"83.3", true},
    {"AM up", StartAt(0x12, 972), {"up", "up"}, {Tune(0x12, 973), Tune(0x12, 974)}, L"524", false},
    {"AM top stays", StartAt(0x12, 2160), {"up"}, {Tune(0x12, 2160)}, L"1710", false},
    {"AM bottom stays", StartAt(0x12, 972), {"down"}, {Tune(0x12, 972)}, L"522", false},
    {"out-of-band FM sends only queries", StartAt(0x02, kFm760), {"up", "down"}, {}, L"76.0", true},
    {"typed FM gets a decimal", StartAt(0x02, kFm879), {"type:90"}, {Tune(0x02, 0x1F78)}, L"90.0", true},
    {"typed top of FM", StartAt(0x02, kFm879), {"type:107.9"}, {Tune(0x02, kFm1079)}, L"107.9", true},
    {"typed bottom of AM", StartAt(0x12, 1000), {"enter:522"}, {Tune(0x12, 972)}, L"522", false},
    {"typed AM loses leading zeros", StartAt(0x12, 972), {"type:0954"}, {Tune(0x12, 1404)}, L"954", false},
    {"typed AM out of band restores", StartAt(0x12, 1000), {"type:2000"}, {Tune(0x12, 1000)}, L"550", false},
    {"typed point in AM restores", StartAt(0x12, 1000), {"type:88.5"}, {Tune(0x12, 1000)}, L"550", false},
    {"Enter applies the text", StartAt(0x02, kFm879), {"enter:100"}, {Tune(0x02, 0x2298)}, L"100.0", true},
    {"FM to AM to FM", StartAt(0x02, kFm880), {"am", "fm"}, {Tune(0x12, 972), Tune(0x02, kFm880)}, L"88.0", true},
    {"AM to FM to AM", StartAt(0x12, 1404), {"fm", "am"}, {Tune(0x02, kFm879), Tune(0x12, 1404)}, L"954", false},
    {"AM while AM jumps to 522", StartAt(0x12, 1000), {"am"}, {Tune(0x12, 972)}, L"522", false},
    {"FM while FM jumps to 87.9", StartAt(0x02, kFm1079), {"fm"}, {Tune(0x02, kFm879)}, L"87.9", true},
    {"start-up on AM", StartAt(0x12, 2160), {}, {}, L"1710", false},
    {"an answer of status 1 shows nothing", StartAt(0x02, kFm879, SimFault::Status, 1), {}, {}, L"", false},
    {"an answer of an unknown band shows nothing", StartAt(0x02, kFm879, SimFault::Band, 0x55), {}, {}, L"", false},
    {"no receiver", StartAt(0x02, kFm879, SimFault::NoReceiver), {}, {}, L"", false},
};

TEST(TuningControls, EachActionTunesTheReceiverAndShowsItsReport)
{
    for (const ControlCase& c : kControlCases)
    {
        SCOPED_TRACE(c.name);
        SimulatedReceiver::Instance().Install(c.start);
        CWavelarkPlayerDlg dialog;
        RunModal(dialog,
                 [&](HWND window)
                 {
                     for (const std::string& action : c.actions)
                     {
                         const size_t before = WrittenCount();
                         Act(window, action);
                         EXPECT_TRUE(WaitUntil([&] { return WrittenCount() == before + 2; })) << "one exchange";
                     }
                     EXPECT_EQ(std::make_tuple(std::wstring(c.editText), c.fm, !c.fm),
                               std::make_tuple(WindowText(::GetDlgItem(window, IDC_FREQ_EDIT)),
                                               ::IsDlgButtonChecked(window, IDC_RADIO_FM) == BST_CHECKED,
                                               ::IsDlgButtonChecked(window, IDC_RADIO_AM) == BST_CHECKED));
                 });
        std::vector<Report> tunes, queries;
        for (const Report& report : SimulatedReceiver::Instance().Snapshot().written)
            (report[1] == 0xC0 ? tunes : queries).push_back(report);
        SimulatedReceiver::Instance().Uninstall();
        const size_t written = c.start.fault == SimFault::NoReceiver ? 0 : 1 + 2 * c.actions.size();
        EXPECT_EQ(c.tunes, tunes);
        EXPECT_EQ(std::vector<Report>(written - tunes.size(), Report{0x00, 0x80, 0, 0, 0, 0, 0}), queries);
    }
}
} // namespace
