#include "app/WavelarkPlayerDlg.h"
#include "sim/SimulatedReceiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
using Report = std::vector<BYTE>;

Report Padded(Report report, size_t length)
{
    report.resize(length, 0);
    return report;
}

SimConfig With(SimFault fault, int value = 0)
{
    SimConfig config;
    config.fault = fault;
    config.faultValue = value;
    return config;
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
        SimConfig config = With(c.interfaces.empty() ? SimFault::NoReceiver : SimFault::None);
        config.interfaces = c.interfaces;
        CWavelarkPlayerDlg& dialog = Start(config);
        EXPECT_EQ(c.pathPart != nullptr, dialog.FindReceiver());
        EXPECT_EQ(static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), Receiver().classDevsFlags);
        EXPECT_EQ(c.pathPart ? 3 : 0, Receiver().openHandles) << "device, write and read handles, nothing else";
        EXPECT_EQ(c.pathPart ? 1 : 0, Receiver().notificationsRegistered);
        if (c.pathPart)
        {
            EXPECT_NE(-1, dialog.m_devicePath.Find(c.pathPart));
            EXPECT_EQ(dialog.m_readOverlapped.hEvent, dialog.m_hReadEvent.Get());
            EXPECT_EQ(dialog.m_productName, "WaveLARK USB AM/FM Radio");
        }
        m_dialog.reset();
        EXPECT_EQ(0, Receiver().openHandles) << "every handle closes with the dialog";
    }
}

TEST_F(ReceiverLink, AnExchangeWritesTheTuneCommandAndAQueryPaddedToTheReportLength)
{
    for (const auto& [fault, length] : {std::pair{SimFault::None, 7}, std::pair{SimFault::Oversize, 300}})
    {
        SCOPED_TRACE(length);
        SimConfig config = With(fault);
        config.band = 0x12;
        config.code = 972;
        CWavelarkPlayerDlg& dialog = Start(config);
        ASSERT_TRUE(dialog.FindReceiver());
        dialog.m_band = 1;
        dialog.m_freqText = "87.9";
        dialog.TuneAndReadBack();
        const std::vector<Report> expected = {Padded({0x00, 0xC0, 0x02, 0x1E, 0xD0}, length),
                                              Padded({0x00, 0x80}, length)};
        EXPECT_EQ(expected, Receiver().written);
        EXPECT_EQ(1, Receiver().answeredQueries);
        EXPECT_EQ(dialog.m_freqText, "87.9");
    }
}

std::vector<DWORD> g_waits;

// Every wait is recorded and then waited for real.
DWORD WINAPI CountedWait(HANDLE event, DWORD milliseconds)
{
    g_waits.push_back(milliseconds);
    return ::WaitForSingleObject(event, milliseconds);
}

TEST_F(ReceiverLink, ALostReceiverClosesTheLinkOnceAndLaterExchangesNeitherWriteNorWait)
{
    const struct
    {
        const char* name;
        SimConfig config;
        size_t waits;   // 6000 ms waits, all of them in the first exchange
        int cancels;    // reads cancelled
        size_t written; // output reports written over three exchanges
    } cases[] = {
        {"a receiver that never answers costs one real wait", With(SimFault::Silent), 1, 1, 2},
        {"a read that fails at once costs no wait", With(SimFault::ReadFails), 0, 0, 2},
        {"a failed write closes the link before any read", With(SimFault::WriteFails), 0, 0, 1},
        {"unplugged after the first answer", With(SimFault::UnplugAfter, 1), 0, 0, 2},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        CWavelarkPlayerDlg& dialog = Start(c.config);
        ASSERT_TRUE(dialog.FindReceiver());
        if (c.config.fault == SimFault::UnplugAfter)
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
            dialog.m_freqText = "90.0";
            dialog.TuneAndReadBack();
        }
        EXPECT_EQ(std::vector<DWORD>(c.waits, 6000), g_waits);
        EXPECT_EQ(0, Receiver().openHandles);
        EXPECT_EQ(c.cancels, Receiver().cancels);
        EXPECT_EQ(c.written, Receiver().written.size());
        if (c.config.fault == SimFault::UnplugAfter)
        {
            EXPECT_EQ(dialog.m_freqText, "87.9") << "the last report the receiver gave is shown again";
        }
    }
}
} // namespace
