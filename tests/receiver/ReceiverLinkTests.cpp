#include "app/WavelarkPlayerDlg.h"
#include "sim/SimulatedReceiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
using Report = std::vector<BYTE>;

Report Padded(std::initializer_list<BYTE> bytes, size_t length)
{
    Report report(bytes);
    report.resize(length, 0);
    return report;
}

// The dialog's link against the simulated receiver, without a window.
class ReceiverLink : public ::testing::Test
{
  protected:
    void Start(const SimConfig& config)
    {
        SimulatedReceiver::Instance().Install(config);
        m_dialog.m_hReadEvent.Reset();
    }
    void TearDown() override
    {
        Os().WaitForSingleObject = ::WaitForSingleObject;
        m_dialog.CloseReceiverHandles();
        m_dialog.m_hReadEvent.Reset();
        SimulatedReceiver::Instance().Uninstall();
    }
    // Every wait is recorded and then waited for real.
    void CountWaits()
    {
        s_waits.clear();
        Os().WaitForSingleObject = &CountedWait;
    }
    static DWORD WINAPI CountedWait(HANDLE event, DWORD milliseconds)
    {
        s_waits.push_back(milliseconds);
        return ::WaitForSingleObject(event, milliseconds);
    }
    bool AllHandlesClosed() const
    {
        return !m_dialog.m_hDevice && !m_dialog.m_hRead && !m_dialog.m_hWrite && !m_dialog.m_connected;
    }

    static inline std::vector<DWORD> s_waits;
    CWavelarkPlayerDlg m_dialog;
};

struct DiscoveryCase
{
    const char* name;
    std::vector<SimInterface> interfaces;
    bool noInterfaces;
    bool found;
    const char* pathPart;
};

const SimInterface kReceiver = {0x077D, 0x627A, true};
const SimInterface kOtherProduct = {0x077D, 0x1234, true};
const SimInterface kUnreadable = {0x077D, 0x627A, false};

const DiscoveryCase kDiscoveryCases[] = {
    {"no HID interface", {}, true, false, nullptr},
    {"the receiver", {kReceiver}, false, true, "#sim0#"},
    {"two receivers: the first wins", {kReceiver, kReceiver}, false, true, "#sim0#"},
    {"same vendor, other product skipped", {kOtherProduct, kReceiver}, false, true, "#sim1#"},
    {"unreadable attributes skipped", {kUnreadable, kReceiver}, false, true, "#sim1#"},
    {"only other devices", {kOtherProduct, kUnreadable}, false, false, nullptr},
};

TEST_F(ReceiverLink, DiscoveryOpensTheFirstReceiverAndClosesEveryOtherDevice)
{
    for (const DiscoveryCase& c : kDiscoveryCases)
    {
        SCOPED_TRACE(c.name);
        SimConfig config;
        config.interfaces = c.interfaces;
        if (c.noInterfaces)
            config.fault = SimFault::NoReceiver;
        Start(config);
        EXPECT_EQ(c.found, m_dialog.FindReceiver());
        const SimulatedReceiver::State state = SimulatedReceiver::Instance().Snapshot();
        EXPECT_EQ(static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), state.classDevsFlags);
        if (c.found)
        {
            EXPECT_NE(-1, m_dialog.m_devicePath.Find(c.pathPart));
            EXPECT_EQ(3, state.openHandles) << "device, write and read handles, nothing else";
            EXPECT_EQ(1, state.notificationsRegistered);
            EXPECT_TRUE(m_dialog.m_hReadEvent);
            EXPECT_EQ(m_dialog.m_hReadEvent.Get(), m_dialog.m_readOverlapped.hEvent);
            EXPECT_EQ(7, m_dialog.m_caps.OutputReportByteLength);
            EXPECT_EQ(m_dialog.m_productName, "WaveLARK USB AM/FM Radio");
        }
        else
        {
            EXPECT_EQ(0, state.openHandles);
            EXPECT_FALSE(m_dialog.m_hReadEvent);
        }
        TearDown();
        m_dialog.m_devicePath.Empty();
        m_dialog.m_productName.Empty();
    }
}

struct ExchangeCase
{
    const char* name;
    SimFault fault;
    size_t reportBytes;
};

const ExchangeCase kExchangeCases[] = {
    {"seven-byte reports", SimFault::None, 7},
    {"reports longer than the usual buffers", SimFault::Oversize, 300},
};

TEST_F(ReceiverLink, AnExchangeWritesTheTuneCommandAndAQueryPaddedToTheReportLength)
{
    for (const ExchangeCase& c : kExchangeCases)
    {
        SCOPED_TRACE(c.name);
        SimConfig config;
        config.fault = c.fault;
        config.band = 0x12;
        config.code = 972;
        Start(config);
        ASSERT_TRUE(m_dialog.FindReceiver());
        EXPECT_GE(m_dialog.m_outReport.size(), c.reportBytes);
        EXPECT_GE(m_dialog.m_inReport.size(), c.reportBytes);
        m_dialog.m_band = 1;
        m_dialog.m_freqText = "87.9";
        m_dialog.TuneAndReadBack();

        const SimulatedReceiver::State state = SimulatedReceiver::Instance().Snapshot();
        ASSERT_EQ(2u, state.written.size());
        EXPECT_EQ(Padded({0x00, 0xC0, 0x02, 0x1E, 0xD0, 0x00, 0x00}, c.reportBytes), state.written[0]);
        EXPECT_EQ(Padded({0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00}, c.reportBytes), state.written[1]);
        EXPECT_EQ(1, state.answeredQueries);
        EXPECT_EQ(1, m_dialog.m_band);
        EXPECT_EQ(m_dialog.m_freqText, "87.9");
        EXPECT_TRUE(m_dialog.m_connected);
        TearDown();
    }
}

struct LostCase
{
    const char* name;
    SimFault fault;
    size_t waits;   // 6000 ms waits, all of them in the first exchange
    int cancels;    // reads cancelled
    size_t written; // output reports written over three exchanges
};

const LostCase kLostCases[] = {
    {"a receiver that never answers costs one real wait", SimFault::Silent, 1, 1, 2},
    {"a read that fails at once costs no wait", SimFault::ReadFails, 0, 0, 2},
    {"a failed write closes the link before any read", SimFault::WriteFails, 0, 0, 1},
};

TEST_F(ReceiverLink, ALostReceiverClosesTheLinkOnceAndLaterExchangesNeitherWriteNorWait)
{
    for (const LostCase& c : kLostCases)
    {
        SCOPED_TRACE(c.name);
        SimConfig config;
        config.fault = c.fault;
        Start(config);
        ASSERT_TRUE(m_dialog.FindReceiver());
        CountWaits();
        m_dialog.m_band = 1;
        m_dialog.m_freqText = "88.0";
        for (int exchange = 0; exchange < 3; ++exchange)
            m_dialog.TuneAndReadBack();
        EXPECT_EQ(std::vector<DWORD>(c.waits, 6000), s_waits);
        EXPECT_TRUE(AllHandlesClosed());
        const SimulatedReceiver::State state = SimulatedReceiver::Instance().Snapshot();
        EXPECT_EQ(0, state.openHandles);
        EXPECT_EQ(c.cancels, state.cancels);
        EXPECT_EQ(c.written, state.written.size());
        TearDown();
    }
}

TEST_F(ReceiverLink, AnUnpluggedReceiverClosesTheLinkAndThePreviousReportStays)
{
    SimConfig config;
    config.fault = SimFault::UnplugAfter;
    config.faultValue = 1;
    Start(config);
    ASSERT_TRUE(m_dialog.FindReceiver());
    m_dialog.SetQueryCommand();
    m_dialog.WriteCommand(m_dialog.m_command);
    m_dialog.ReadReport();
    m_dialog.ApplyReport();
    EXPECT_EQ(m_dialog.m_freqText, "87.9");

    // Unplugged now: the next write fails and closes the link at once.
    m_dialog.m_band = 1;
    m_dialog.m_freqText = "90.0";
    m_dialog.TuneAndReadBack();
    EXPECT_TRUE(AllHandlesClosed());
    EXPECT_EQ(m_dialog.m_freqText, "87.9") << "the previous report is shown again";
}

struct AnswerCase
{
    const char* name;
    SimFault fault;
    int value;
    const char* expectedText;
};

const AnswerCase kAnswerCases[] = {
    {"status 0 is applied", SimFault::None, 0, "87.9"},
    {"another status leaves even the edit alone", SimFault::Status, 1, "99.0"},
    {"an unknown band byte keeps the working text", SimFault::Band, 0x55, "76.0"},
};

TEST_F(ReceiverLink, OnlyAStatusZeroReportOfAKnownBandIsApplied)
{
    for (const AnswerCase& c : kAnswerCases)
    {
        SCOPED_TRACE(c.name);
        SimConfig config;
        config.fault = c.fault;
        config.faultValue = c.value;
        Start(config);
        ASSERT_TRUE(m_dialog.FindReceiver());
        // 76.0 is outside the band: only queries go out and the receiver stays on 87.9.
        m_dialog.m_band = 1;
        m_dialog.m_freqText = "76.0";
        m_dialog.m_editText = "99.0";
        m_dialog.TuneAndReadBack();
        EXPECT_EQ(m_dialog.m_editText, c.expectedText);
        EXPECT_TRUE(m_dialog.m_connected);
        TearDown();
    }
}
} // namespace
