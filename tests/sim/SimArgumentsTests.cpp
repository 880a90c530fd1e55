#include "sim/SimulatedReceiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
struct ArgumentsCase
{
    std::vector<const char*> arguments;
    bool valid;
    BYTE band;
    WORD code;
    SimFault fault;
    int faultValue;
};

const ArgumentsCase kArgumentsCases[] = {
    {{}, true, 0x02, 0x1ED0, SimFault::None, 0},
    {{"--start", "FM:88.0"}, true, 0x02, 0x1ED8, SimFault::None, 0},
    {{"--start", "FM:76.0"}, true, 0x02, 0x1B18, SimFault::None, 0},
    {{"--start", "AM:522"}, true, 0x12, 972, SimFault::None, 0},
    {{"--fault", "silent"}, true, 0x02, 0x1ED0, SimFault::Silent, 0},
    {{"--fault", "unplug-after:3"}, true, 0x02, 0x1ED0, SimFault::UnplugAfter, 3},
    {{"--fault", "status:1"}, true, 0x02, 0x1ED0, SimFault::Status, 1},
    {{"--fault", "band:0x55", "--start", "AM:1710"}, true, 0x12, 2160, SimFault::Band, 0x55},
    {{"--fault", "oversize"}, true, 0x02, 0x1ED0, SimFault::Oversize, 0},
    {{"--start"}, false, 0, 0, SimFault::None, 0},
    {{"--start", "XM:87.9"}, false, 0, 0, SimFault::None, 0},
    {{"--start", "FM:"}, false, 0, 0, SimFault::None, 0},
    {{"--start", "AM:52x"}, false, 0, 0, SimFault::None, 0},
    {{"--fault", "band:0x155"}, false, 0, 0, SimFault::None, 0},
    {{"--fault", "unplug-after:"}, false, 0, 0, SimFault::None, 0},
    {{"--fault", "loud"}, false, 0, 0, SimFault::None, 0},
    {{"--log", ""}, false, 0, 0, SimFault::None, 0},
    {{"--volume", "3"}, false, 0, 0, SimFault::None, 0},
};

TEST(SimArguments, ParsesStartFaultAndLogAndRefusesTheRest)
{
    for (const ArgumentsCase& c : kArgumentsCases)
    {
        std::vector<char*> argv = {const_cast<char*>("WavelarkPlayerSim.exe")};
        std::string trace;
        for (const char* argument : c.arguments)
        {
            argv.push_back(const_cast<char*>(argument));
            trace += std::string(argument) + " ";
        }
        SCOPED_TRACE(trace);
        SimConfig config;
        std::string error;
        ASSERT_EQ(c.valid, ParseSimArguments(static_cast<int>(argv.size()), argv.data(), config, error));
        EXPECT_EQ(c.valid, error.empty());
        if (!c.valid)
            continue;
        EXPECT_EQ(c.band, config.band);
        EXPECT_EQ(c.code, config.code);
        EXPECT_EQ(c.fault, config.fault);
        EXPECT_EQ(c.faultValue, config.faultValue);
    }
}
} // namespace
