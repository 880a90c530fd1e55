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

class Session
{
  public:
    explicit Session(const SimConfig& config) { SimulatedReceiver::Instance().Install(config); }
    ~Session() { SimulatedReceiver::Instance().Uninstall(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

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

// Actions a user takes, delivered as the window messages they produce.
void Spin(HWND dialog, int delta)
{
    NMUPDOWN record = {};
    record.hdr = {::GetDlgItem(dialog, IDC_SPIN), IDC_SPIN, static_cast<UINT>(UDN_DELTAPOS)};
    record.iDelta = delta;
    ::SendMessageW(dialog, WM_NOTIFY, IDC_SPIN, reinterpret_cast<LPARAM>(&record));
}

void Click(HWND dialog, int id)
{
    ::SendMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// The edit's focus notifications are sent as the edit sends them, rather than by moving the real
// focus, which the Wine desktop may still be moving at the same moment.
void NotifyFromEdit(HWND dialog, WORD code)
{
    HWND edit = ::GetDlgItem(dialog, IDC_FREQ_EDIT);
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_FREQ_EDIT, code), reinterpret_cast<LPARAM>(edit));
}

void Type(HWND dialog, const std::wstring& text, bool pressEnter)
{
    HWND edit = ::GetDlgItem(dialog, IDC_FREQ_EDIT);
    NotifyFromEdit(dialog, EN_SETFOCUS);
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    for (wchar_t c : text)
        ::PostMessageW(edit, WM_CHAR, c, 1);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(edit) == text; }));
    const size_t before = WrittenCount();
    if (pressEnter)
        ::PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0x001C0001); // through the dialog manager
    else
        NotifyFromEdit(dialog, EN_KILLFOCUS);
    EXPECT_TRUE(WaitUntil([&] { return WrittenCount() == before + 2; })) << "one exchange";
}

// A row's actions, from start-up on: each is one exchange with the receiver.
struct ControlCase
{
    const char* name;
    SimConfig start;
    std::vector<std::string> actions; // "up", "down", "am", "fm", "type:TEXT", "enter:TEXT"
    std::vector<Report> tuneCommands; // every C0 report written after start-up, in order
    const wchar_t* editText;
    bool fmChecked;
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
        Session session(c.start);
        CWavelarkPlayerDlg dialog;
        RunModal(dialog,
                 [&](HWND window)
                 {
                     for (const std::string& action : c.actions)
                     {
                         const size_t before = WrittenCount();
                         const std::wstring text(action.begin() + action.find(':') + 1, action.end());
                         if (action == "up" || action == "down")
                             Spin(window, action == "up" ? -1 : 1);
                         else if (action == "am" || action == "fm")
                             Click(window, action == "am" ? IDC_RADIO_AM : IDC_RADIO_FM);
                         else
                             Type(window, text, action.rfind("enter:", 0) == 0);
                         EXPECT_EQ(before + 2, WrittenCount()) << action;
                     }
                     EXPECT_EQ(c.editText, WindowText(::GetDlgItem(window, IDC_FREQ_EDIT)));
                     EXPECT_EQ(c.fmChecked ? BST_CHECKED : BST_UNCHECKED,
                               ::SendDlgItemMessageW(window, IDC_RADIO_FM, BM_GETCHECK, 0, 0));
                     EXPECT_EQ(c.fmChecked ? BST_UNCHECKED : BST_CHECKED,
                               ::SendDlgItemMessageW(window, IDC_RADIO_AM, BM_GETCHECK, 0, 0));
                 });

        const std::vector<Report> written = SimulatedReceiver::Instance().Snapshot().written;
        const size_t exchanges = c.start.fault == SimFault::NoReceiver ? 0 : 1 + 2 * c.actions.size();
        ASSERT_EQ(written.size(), exchanges);
        std::vector<Report> tunes;
        for (size_t i = 1; i < exchanges; i += 2)
        {
            if (written[i][1] == 0xC0)
                tunes.push_back(written[i]);
            EXPECT_EQ((Report{0x00, 0x80, 0, 0, 0, 0, 0}), written[i + 1]) << "each exchange ends with a query";
        }
        EXPECT_EQ(c.tuneCommands, tunes);
    }
}
} // namespace
