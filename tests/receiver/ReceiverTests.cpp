#include "app/WavelarkPlayerDlg.h"
#include "sim/SimulatedReceiver.h"

#include <gtest/gtest.h>

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
        (void)::GetProcessHandleCount(::GetCurrentProcess(), &m_handlesBefore);
        SimulatedReceiver::Instance().Install(config);
        m_dialog = std::make_unique<CWavelarkPlayerDlg>();
        return *m_dialog;
    }
    void TearDown() override
    {
        Os().WaitForSingleObject = ::WaitForSingleObject;
        m_dialog.reset(); // its handles close with it
        EXPECT_EQ(0, Receiver().openHandles);
        SimulatedReceiver::Instance().Uninstall();
        // Other threads of the process may close handles meanwhile; a handle left open only adds.
        DWORD handlesAfter = 0;
        (void)::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
        EXPECT_LE(handlesAfter, m_handlesBefore) << "every handle of the dialog and the simulator is closed";
    }
    static SimulatedReceiver::State Receiver() { return SimulatedReceiver::Instance().Snapshot(); }

    std::unique_ptr<CWavelarkPlayerDlg> m_dialog;
    DWORD m_handlesBefore = ~0u; // the count at the row's start
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

} // namespace
