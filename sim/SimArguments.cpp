// The simulated player's command line: --start BAND:FREQ, --log PATH, --fault MODE.
#include "receiver/TuningModel.h"
#include "sim/SimulatedReceiver.h"

#include <cstdlib>
#include <cstring>

namespace
{
bool ParseNumber(const char* text, int base, int& value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, base);
    if (*end || parsed < 0 || parsed > 0xFFFF)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

// "FM:87.9" or "AM:522", as the dialog shows them; values outside the bands are allowed.
bool ParseStart(const char* text, SimConfig& config)
{
    char* end = nullptr;
    if (std::strncmp(text, "FM:", 3) == 0)
    {
        const double mHz = std::strtod(text + 3, &end);
        if (end == text + 3 || *end || mHz < 0 || mHz > 900)
            return false;
        config.band = tuning::kBandByteFm;
        config.code = tuning::FmCode(mHz);
        return true;
    }
    if (std::strncmp(text, "AM:", 3) == 0)
    {
        int kHz = 0;
        if (!ParseNumber(text + 3, 10, kHz) || kHz > 0xFFFF - 450)
            return false;
        config.band = tuning::kBandByteAm;
        config.code = tuning::AmCode(kHz);
        return true;
    }
    return false;
}

bool ParseFault(const char* text, SimConfig& config)
{
    struct Plain
    {
        const char* name;
        SimFault fault;
    };
    const Plain plain[] = {{"none", SimFault::None},
                           {"silent", SimFault::Silent},
                           {"write-fails", SimFault::WriteFails},
                           {"read-fails", SimFault::ReadFails},
                           {"no-receiver", SimFault::NoReceiver},
                           {"oversize", SimFault::Oversize}};
    for (const Plain& mode : plain)
    {
        if (std::strcmp(text, mode.name) == 0)
        {
            config.fault = mode.fault;
            return true;
        }
    }
    if (std::strncmp(text, "unplug-after:", 13) == 0 && ParseNumber(text + 13, 10, config.faultValue))
        config.fault = SimFault::UnplugAfter;
    else if (std::strncmp(text, "status:", 7) == 0 && ParseNumber(text + 7, 0, config.faultValue) &&
             config.faultValue <= 0xFF)
        config.fault = SimFault::Status;
    else if (std::strncmp(text, "band:", 5) == 0 && ParseNumber(text + 5, 0, config.faultValue) &&
             config.faultValue <= 0xFF)
        config.fault = SimFault::Band;
    else
        return false;
    return true;
}
} // namespace

bool ParseSimArguments(int argc, char** argv, SimConfig& config, std::string& error)
{
    for (int i = 1; i < argc; ++i)
    {
        const char* option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool valid = false;
        if (!value)
            valid = false;
        else if (std::strcmp(option, "--start") == 0)
            valid = ParseStart(value, config);
        else if (std::strcmp(option, "--log") == 0)
        {
            config.logPath = value;
            valid = !config.logPath.empty();
        }
        else if (std::strcmp(option, "--fault") == 0)
            valid = ParseFault(value, config);
        if (!valid)
        {
            error =
                std::string("bad argument: ") + option + (value ? std::string(" ") + value : "") +
                "\nusage: WavelarkPlayerSim.exe [--start FM:87.9|AM:522] [--log PATH] "
                "[--fault none|silent|write-fails|read-fails|unplug-after:N|status:N|band:0xNN|no-receiver|oversize]";
            return false;
        }
        ++i;
    }
    return true;
}
