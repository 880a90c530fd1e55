#include "app/WavelarkPlayerDlg.h"
#include "res/resource.h"
#include "sim/SimulatedReceiver.h"
#include "support/ModalDriver.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <array>
#include <string>
#include <vector>

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

// Every step of both bands, edge to edge, encodes to its code and decodes back to its own text:
// a truncation anywhere on the way shows as a neighbour.
TEST_F(TuningModel, EveryFmTenthAndEveryAmKilohertzEncodesAndDecodesToItself)
{
    // Band, band byte, first and last step (FM in tenths of a MHz, AM in kHz).
    for (const auto& [band, bandByte, first, last] : {std::tuple{1, 0x02, 833, 1079}, {0, 0x12, 522, 1710}})
    {
        for (int step = first; step <= last; ++step)
        {
            CString text;
            text.Format(band ? "%4.1f" : "%.0f", band ? step / 10.0 : step);
            const int code = band ? (107 + step) * 8 : step + 450;
            const Block block = Encode(band, text);
            ASSERT_EQ(std::make_tuple(0xC0, bandByte, code),
                      std::make_tuple(+block[0], +block[1], block[2] * 256 + block[3]))
                << text.GetString();
            m_dialog.m_band = 1 - band;
            const BYTE report[] = {0, 0, static_cast<BYTE>(bandByte), block[2], block[3]}; // status 0
            std::copy(report, report + 5, m_dialog.m_inReport.begin());
            m_dialog.ApplyReport();
            // The text shown, and remembered for the band.
            EXPECT_EQ(std::make_tuple(band, std::string(text), std::string(text), std::string(text)),
                      std::make_tuple(m_dialog.m_band, std::string(m_dialog.m_freqText.GetString()),
                                      std::string(m_dialog.m_editText.GetString()),
                                      std::string((band ? m_dialog.m_lastFmText : m_dialog.m_lastAmText).GetString())));
        }
    }
}

using Report = std::vector<BYTE>;

Report Padded(Report report, size_t length)
{
    return report.resize(length, 0), report;
}

SimConfig StartAt(BYTE band, WORD code, SimFault fault = SimFault::None, int faultValue = 0)
{
    return {.band = band, .code = code, .fault = fault, .faultValue = faultValue, .interfaces = {}};
}

// The dialog's link against the simulated receiver, without a window. Each row runs on a fresh
// dialog and receiver.
class ReceiverLink : public ::testing::Test
{
  protected:
    CWavelarkPlayerDlg& Start(const SimConfig& config)
    {
        TearDown();
        SimulatedReceiver::Instance().Install(config);
        m_dialog = std::make_unique<CWavelarkPlayerDlg>();
        return *m_dialog;
    }
    void TearDown() override
    {
        Os().WaitForSingleObject = ::WaitForSingleObject;
        m_dialog.reset(); // its handles close with it
        SimulatedReceiver::Instance().Uninstall();
    }
    static SimulatedReceiver::State Receiver() { return SimulatedReceiver::Instance().Snapshot(); }

    std::unique_ptr<CWavelarkPlayerDlg> m_dialog;
};

TEST_F(ReceiverLink, DiscoveryOpensTheFirstReceiverAndClosesEveryOtherDevice)
{
    const SimInterface receiver = {0x077D, 0x627A, true}, other = {0x077D, 0x1234, true};
    const SimInterface unreadable = {0x077D, 0x627A, false};
    const struct
    {
        const char* name;
        std::vector<SimInterface> interfaces; // none: no HID interface at all
        const char* pathPart;                 // null: none found
    } cases[] = {
        {"no HID interface", {}, nullptr},
        {"the receiver", {receiver}, "#sim0#"},
        {"two receivers: the first wins", {receiver, receiver}, "#sim0#"},
        {"same vendor, other product skipped", {other, receiver}, "#sim1#"},
        {"unreadable attributes skipped", {unreadable, receiver}, "#sim1#"},
        {"only other devices", {other, unreadable}, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        SimConfig config = StartAt(0x02, 0x1ED0, c.interfaces.empty() ? SimFault::NoReceiver : SimFault::None);
        config.interfaces = c.interfaces;
        CWavelarkPlayerDlg& dialog = Start(config);
        const bool found = c.pathPart != nullptr, opened = dialog.FindReceiver();
        // Device, write and read handles and nothing else; one notification; the read's own event.
        EXPECT_EQ(std::make_tuple(found, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), found ? 3 : 0,
                                  found ? 1 : 0, true, found ? "WaveLARK USB AM/FM Radio" : ""),
                  std::make_tuple(opened, Receiver().classDevsFlags, Receiver().openHandles,
                                  Receiver().notificationsRegistered,
                                  dialog.m_readOverlapped.hEvent == dialog.m_hReadEvent.Get(),
                                  std::string(dialog.m_productName.GetString())));
        EXPECT_EQ(found, dialog.m_devicePath.Find(found ? c.pathPart : "#sim") >= 0);
        m_dialog.reset();
        EXPECT_EQ(0, Receiver().openHandles) << "every handle closes with the dialog";
    }
}

std::vector<DWORD> g_waits;

// Every wait is recorded and then waited for real.
DWORD WINAPI CountedWait(HANDLE event, DWORD milliseconds)
{
    g_waits.push_back(milliseconds);
    return ::WaitForSingleObject(event, milliseconds);
}

// Three exchanges each: a tune command and a query, padded to the report length. A receiver
// that is lost closes the link once, and later exchanges neither write nor wait.
TEST_F(ReceiverLink, EachExchangeWritesATuneAndAQueryAndALostReceiverClosesTheLinkOnce)
{
    const struct
    {
        const char* name;
        SimConfig config;
        size_t reportBytes;
        size_t waits;      // 6000 ms waits
        int cancels;       // reads cancelled
        size_t written;    // output reports written
        const char* shown; // the frequency shown afterwards: "90.05" as typed when nothing answered
    } cases[] = {
        {"seven-byte reports", StartAt(0x12, 972), 7, 3, 0, 6, "90.0"},
        {"reports longer than the usual buffers", StartAt(0x12, 972, SimFault::Oversize), 300, 3, 0, 6, "90.0"},
        {"a receiver that never answers costs one real wait", StartAt(0x02, 0x1ED0, SimFault::Silent), 7, 1, 1, 2,
         "90.05"},
        {"a read that fails at once costs no wait", StartAt(0x02, 0x1ED0, SimFault::ReadFails), 7, 0, 0, 2, "90.05"},
        {"a failed write closes the link before any read", StartAt(0x02, 0x1ED0, SimFault::WriteFails), 7, 0, 0, 1,
         "90.05"},
        {"unplugged after one answer, which stays shown", StartAt(0x02, 0x1ED0, SimFault::UnplugAfter, 1), 7, 0, 0, 2,
         "87.9"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        CWavelarkPlayerDlg& dialog = Start(c.config);
        ASSERT_TRUE(dialog.FindReceiver());
        const bool unplugs = c.config.fault == SimFault::UnplugAfter;
        if (unplugs)
        {
            dialog.SetQueryCommand();
            dialog.WriteCommand(dialog.m_command);
            dialog.ReadReport();
            dialog.ApplyReport();
        }
        g_waits.clear();
        Os().WaitForSingleObject = &CountedWait;
        dialog.m_band = 1;
        for (int exchange = 0; exchange < 3; ++exchange)
        {
            dialog.m_freqText = "90.05"; // tunes 90.0; only the receiver's answer shows it so
            dialog.TuneAndReadBack();
        }
        const SimulatedReceiver::State receiver = Receiver();
        EXPECT_EQ(std::make_tuple(std::vector<DWORD>(c.waits, 6000), c.cancels, c.written, c.waits == 3 ? 3 : 0),
                  std::make_tuple(g_waits, receiver.cancels, receiver.written.size(), receiver.openHandles));
        for (const Report& report : receiver.written)
            EXPECT_EQ(
                Padded(report[1] == 0xC0 ? Report{0x00, 0xC0, 0x02, 0x1F, 0x78} : Report{0x00, 0x80}, c.reportBytes),
                report);
        EXPECT_EQ(c.shown, std::string(dialog.m_freqText.GetString()));
    }
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
    // The refused step sends two queries: the second answer must not stand in for the next one.
    {"a refused step's spare answer is not shown later",
     StartAt(0x02, kFm760),
     {"up", "fm"},
     {Tune(0x02, kFm879)},
     L"87.9",
     true},
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
    DWORD handlesBefore = 0, handlesAfter = 0;
    (void)::GetProcessHandleCount(::GetCurrentProcess(), &handlesBefore);
    for (const ControlCase& c : kControlCases)
    {
        SCOPED_TRACE(c.name);
        SimulatedReceiver::Instance().Install(c.start);
        // The dialog goes first, closing its handles while the simulator that made them is there.
        auto dialog = std::make_unique<CWavelarkPlayerDlg>();
        RunModal(*dialog,
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
        dialog.reset();
        const SimulatedReceiver::State receiver = SimulatedReceiver::Instance().Snapshot();
        EXPECT_EQ(0, receiver.openHandles);
        std::vector<Report> tunes, queries;
        for (const Report& report : receiver.written)
            (report[1] == 0xC0 ? tunes : queries).push_back(report);
        SimulatedReceiver::Instance().Uninstall();
        const size_t written = c.start.fault == SimFault::NoReceiver ? 0 : 1 + 2 * c.actions.size();
        EXPECT_EQ(c.tunes, tunes);
        EXPECT_EQ(std::vector<Report>(written - tunes.size(), Report{0x00, 0x80, 0, 0, 0, 0, 0}), queries);
    }
    (void)::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
    EXPECT_EQ(handlesBefore, handlesAfter) << "every handle of the dialogs and the simulator is closed";
}
} // namespace
