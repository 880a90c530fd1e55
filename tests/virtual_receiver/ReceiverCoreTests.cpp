#include "virtual_receiver/core/ReceiverCore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
using Bytes = std::vector<RcByte>;
constexpr RcStamp kMs = 10000; // 100 ns units

// The answers a receiver owes after `reports` (one per millisecond), taken at `takeAt` ms; how
// many reports it logged; whether it answers; how many writes it refused.
using Received = std::tuple<std::vector<Bytes>, unsigned long, int, int>;

Received Receive(WireFault fault, unsigned short value, const std::vector<Bytes>& reports, RcStamp takeAt)
{
    static ReceiverCore core; // larger than a test's stack likes
    RcStart(&core, kWireBandFm, 0x1ED0, fault, value);
    std::vector<Bytes> answers;
    int refused = 0;
    RcStamp now = 0;
    for (const Bytes& report : reports)
        refused += !RcReceive(&core, report.data(), static_cast<unsigned>(report.size()), now += kMs);
    for (Bytes answer(kWireDataBytes); RcTakeAnswer(&core, answer.data(), takeAt * kMs);)
        answers.push_back(answer);
    return {answers, core.received, RcAnswering(&core), refused};
}

// What the receiver answers, refuses and logs for each fault, and when a late answer falls due.
TEST(ReceiverCore, AnswersRefusesAndLogsAsItsFaultSays)
{
    const Bytes tuneAm = {0xC0, 0x12, 0x03, 0xCC, 0, 0}, query = {0x80, 0, 0, 0, 0, 0};
    const Bytes am522 = {0, 0x12, 0x03, 0xCC, 0, 0}, fm879 = {0, 0x02, 0x1E, 0xD0, 0, 0};
    const std::vector<Bytes> seventeen(17, query), newestSixteen(16, fm879);
    // The row's name, the fault and its value, the reports, when the answers are taken (ms), and
    // what the receiver then owes.
    const std::tuple<const char*, WireFault, unsigned short, std::vector<Bytes>, RcStamp, Received> rows[] = {
        {"a query answers what is tuned then", kWireFaultNone, 0, {query, tuneAm, query}, 3, {{fm879, am522}, 3, 1, 0}},
        {"a short command retunes nothing", kWireFaultNone, 0, {{0xC0, 0x12}, query}, 2, {{fm879}, 2, 1, 0}},
        {"silent owes nothing", kWireFaultSilent, 0, {query}, 1, {{}, 1, 0, 0}},
        {"refused writes are not logged", kWireFaultWriteFails, 0, {tuneAm, query}, 2, {{}, 0, 1, 2}},
        {"unplugged after one answer", kWireFaultUnplugAfter, 1, {query, query}, 2, {{fm879}, 1, 0, 1}},
        {"status byte", kWireFaultStatus, 1, {query}, 1, {{{1, 0x02, 0x1E, 0xD0, 0, 0}}, 1, 1, 0}},
        {"band byte", kWireFaultBand, 0x55, {query}, 1, {{{0, 0x55, 0x1E, 0xD0, 0, 0}}, 1, 1, 0}},
        {"late: not before its time", kWireFaultLate, 1500, {query}, 1500, {{}, 1, 1, 0}},
        {"late: at its time", kWireFaultLate, 1500, {query}, 1501, {{fm879}, 1, 1, 0}},
        {"an unknown fault is none", kWireFaultCount, 0, {query}, 1, {{fm879}, 1, 1, 0}},
        {"seventeen queries owe the newest sixteen", kWireFaultNone, 0, seventeen, 17, {newestSixteen, 17, 1, 0}},
    };
    for (const auto& [name, fault, value, reports, takeAt, owed] : rows)
        EXPECT_EQ(owed, Receive(fault, value, reports, takeAt)) << name << ": answers, received, answering, refused";
}

// The tone follows what a control-report read says, and is silence when it cannot say.
TEST(ReceiverCore, ToneFollowsTheTuningAndIsSilenceWhenItCannotSay)
{
    const std::tuple<const char*, RcByte, unsigned short, unsigned, RcByte, int> rows[] = {
        {"AM 1000 kHz", kWireBandAm, 1450, kWireFeatureDataBytes, 1, 1000},
        {"FM 87.9 MHz", kWireBandFm, 0x1ED0, kWireFeatureDataBytes, 1, 790},
        {"a read too short to say", kWireBandFm, 0x1ED0, kWireGetAnswering, 1, 0},
        {"an unknown band", 0x55, 0x1ED0, kWireFeatureDataBytes, 1, 0},
        {"a receiver that does not answer", kWireBandFm, 0x1ED0, kWireFeatureDataBytes, 0, 0},
    };
    for (const auto& [name, band, code, length, answering, hz] : rows)
    {
        RcByte feature[kWireFeatureDataBytes] = {band, static_cast<RcByte>(code >> 8), static_cast<RcByte>(code)};
        feature[kWireGetAnswering] = answering;
        EXPECT_EQ(hz, RcToneHz(feature, length)) << name;
    }
}
} // namespace
