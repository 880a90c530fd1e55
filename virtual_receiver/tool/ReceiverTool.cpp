// wavelark_receiver.exe: installs the virtual receiver and sets and reads it through its vendor
// feature report, for the tests, `make run` and a maintainer's test machine.
//   install INF [DEVICE]             a root device and its driver, once
//   remove [DEVICE]                  the root device gone, as a receiver unplugged (install brings it back)
//                                    DEVICE: receiver (the default); reports-300, the receiver with
//                                    300-byte reports; other-device, a HID device of the same
//                                    vendor with another product id
//   set [--start BAND:FREQ] [--fault MODE] [--buffer-suggestions honour|ignore]
//                                    a fresh start: tuned there, showing the fault, log empty; its
//                                    audio input takes a program's buffer suggestion or, as an
//                                    input without the interface, keeps its default buffers
//   state                            what it is tuned to and how many reports it received
//   hold SECONDS                     keeps the prefix's server, and with it the device's state, for
//                                    that long or until ended: a run of scenarios holds it
//   log [--times]                    every output report received, in order, as hex lines; with
//                                    --times each followed by when it arrived, in seconds of the
//                                    performance counter
#include "virtual_receiver/tool/ReceiverDevice.h"

#include <newdev.h>
#include <setupapi.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
// The devices the driver can be, by the hardware id of their root device.
const struct
{
    const char* name;
    const char* hardwareId;
} kDevices[] = {
    {"receiver", "root\\VID_077D&PID_627A"},
    {"reports-300", "root\\VID_077D&PID_627A&REPORTS_300"},
    {"other-device", "root\\VID_077D&PID_1234"},
};

// The hardware id of the device named `name`, or null.
const char* HardwareIdOf(const char* name)
{
    for (const auto& device : kDevices)
        if (std::strcmp(device.name, name) == 0)
            return device.hardwareId;
    return nullptr;
}

int Fail(const std::string& why)
{
    std::fprintf(stderr, "wavelark_receiver: %s\n", why.c_str());
    return 1;
}

// The root device named after the receiver, then its driver from the INF. A device already
// there only gets its driver again.
int Install(const char* inf, const char* hardwareId)
{
    const std::string instanceId = std::string(hardwareId) + "\\0";
    // A list of ids: this one, then the empty one that ends the list.
    const std::string hardwareIds = std::string(hardwareId) + '\0' + '\0';
    char infPath[MAX_PATH];
    if (!::GetFullPathNameA(inf, MAX_PATH, infPath, nullptr))
        return Fail(std::string("no INF at ") + inf);
    OwnedDeviceInfoList devices(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device = {sizeof(device), {}, 0, 0};
    if (!::SetupDiOpenDeviceInfoA(devices.Get(), instanceId.c_str(), nullptr, 0, &device))
    {
        if (!::SetupDiCreateDeviceInfoA(devices.Get(), instanceId.c_str(), &GUID_NULL, nullptr, nullptr, 0, &device) ||
            !::SetupDiSetDeviceRegistryPropertyA(devices.Get(), &device, SPDRP_HARDWAREID,
                                                 reinterpret_cast<const BYTE*>(hardwareIds.data()),
                                                 static_cast<DWORD>(hardwareIds.size())) ||
            !::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, devices.Get(), &device))
            return Fail("cannot create the root device: error " + std::to_string(::GetLastError()));
    }
    BOOL reboot = FALSE;
    if (!::UpdateDriverForPlugAndPlayDevicesA(nullptr, hardwareId, infPath, INSTALLFLAG_FORCE, &reboot))
        return Fail("cannot install the driver: error " + std::to_string(::GetLastError()));
    return 0;
}

int Remove(const char* hardwareId)
{
    const std::string instanceId = std::string(hardwareId) + "\\0";
    OwnedDeviceInfoList devices(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device = {sizeof(device), {}, 0, 0};
    if (!::SetupDiOpenDeviceInfoA(devices.Get(), instanceId.c_str(), nullptr, 0, &device))
        return 0; // gone already
    if (!::SetupDiCallClassInstaller(DIF_REMOVE, devices.Get(), &device))
        return Fail("cannot remove the root device: error " + std::to_string(::GetLastError()));
    return 0;
}

// "FM:87.9" or "AM:522", as the dialog shows them; values outside the bands are allowed, values
// the receiver's 16-bit code cannot hold are not.
bool ParseStart(const char* text, RcByte& band, unsigned short& code)
{
    char* end = nullptr;
    const bool fm = std::strncmp(text, "FM:", 3) == 0, am = std::strncmp(text, "AM:", 3) == 0;
    if (!fm && !am)
        return false;
    const double value = std::strtod(text + 3, &end);
    if (end == text + 3 || *end || !std::isfinite(value) || value < 0)
        return false;
    // FM counts tenths from -10.7 MHz in steps of 8, AM whole kHz from -450.
    const double raw = fm ? (std::floor(value * 10 + 0.5) + 107) * 8 : value + 450;
    if (raw > 0xFFFF || (am && value != std::floor(value)))
        return false;
    band = fm ? kWireBandFm : kWireBandAm;
    code = static_cast<unsigned short>(raw);
    return true;
}

bool ParseFault(const char* text, WireFault& fault, unsigned short& value)
{
    const struct
    {
        const char* name;
        WireFault fault;
        bool valued;
    } modes[] = {{"none", kWireFaultNone, false},
                 {"silent", kWireFaultSilent, false},
                 {"write-fails", kWireFaultWriteFails, false},
                 {"unplug-after:", kWireFaultUnplugAfter, true},
                 {"status:", kWireFaultStatus, true},
                 {"band:", kWireFaultBand, true},
                 {"late:", kWireFaultLate, true}};
    for (const auto& mode : modes)
    {
        const size_t length = std::strlen(mode.name);
        if (mode.valued ? std::strncmp(text, mode.name, length) != 0 : std::strcmp(text, mode.name) != 0)
            continue;
        char* end = nullptr;
        const unsigned long parsed = mode.valued ? std::strtoul(text + length, &end, 0) : 0;
        if (mode.valued &&
            (end == text + length || *end ||
             parsed > (mode.fault == kWireFaultUnplugAfter || mode.fault == kWireFaultLate ? 0xFFFF : 0xFF)))
            return false;
        fault = mode.fault;
        value = static_cast<unsigned short>(parsed);
        return true;
    }
    return false;
}

int Set(int argc, char** argv, ReceiverDevice& device)
{
    RcByte band = kWireBandFm;
    unsigned short code = 0x1ED0, faultValue = 0;
    WireFault fault = kWireFaultNone;
    bool plainAudio = false;
    for (int i = 2; i < argc; i += 2)
    {
        const std::string value = i + 1 < argc ? argv[i + 1] : "";
        const bool suggestions = std::strcmp(argv[i], "--buffer-suggestions") == 0;
        if (suggestions && (value == "honour" || value == "ignore"))
            plainAudio = value == "ignore";
        else if (!(std::strcmp(argv[i], "--start") == 0 && ParseStart(value.c_str(), band, code)) &&
                 !(std::strcmp(argv[i], "--fault") == 0 && ParseFault(value.c_str(), fault, faultValue)))
            return Fail(std::string("bad argument: ") + argv[i] + " " + value +
                        "\nusage: wavelark_receiver set [--start FM:87.9|AM:522] "
                        "[--fault none|silent|write-fails|unplug-after:N|status:N|band:0xNN|late:MS] "
                        "[--buffer-suggestions honour|ignore]");
    }
    return device.Start(band, code, fault, faultValue, plainAudio) ? 0 : Fail("the receiver refused the new state");
}

int PrintState(ReceiverDevice& device)
{
    ReceiverFeature state;
    if (!device.Read(state))
        return Fail("the receiver did not answer");
    const unsigned code = state[1] << 8 | state[2];
    if (state[0] == kWireBandFm)
        std::printf("FM:%.1f", (static_cast<int>(code / 8) - 107) / 10.0);
    else
        std::printf("band 0x%02X code %u", state[0], code);
    std::printf(" fault=%u:%u answering=%u received=%llu%s\n", state[3], state[4] << 8 | state[5],
                state[kWireGetAnswering], FeatureCount(state, kWireGetReceived),
                state[kWireGetPlainAudio] ? " buffer-suggestions=ignore" : "");
    return 0;
}

int PrintLog(ReceiverDevice& device, bool times)
{
    ReceiverFeature state;
    if (!device.Read(state))
        return Fail("the receiver did not answer");
    const unsigned long long received = FeatureCount(state, kWireGetReceived);
    for (unsigned long index = 0; index < received; ++index)
    {
        if (!device.SelectLog(index) || !device.Read(state))
            return Fail("the receiver did not answer");
        if (!state[kWireGetSelectedKept])
            continue; // overwritten by newer ones
        std::printf("00");
        for (int i = 0; i < kWireDataBytes; ++i)
            std::printf(" %02X", state[kWireGetSelected + i]);
        if (times)
            std::printf(" @%.7f", static_cast<double>(FeatureCount(state, kWireGetSelectedStamp, 8)) / 1e7);
        std::printf("\n");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    const char* hardwareId = HardwareIdOf(argc > 3 ? argv[3] : "receiver");
    if (command == "install" && (argc == 3 || argc == 4) && hardwareId)
        return Install(argv[2], hardwareId);
    hardwareId = HardwareIdOf(argc > 2 ? argv[2] : "receiver");
    if (command == "remove" && argc <= 3 && hardwareId)
        return Remove(hardwareId);
    if (command == "hold" && argc == 3)
        return ::Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10) * 1000)), 0;
    ReceiverDevice device;
    const bool known = command == "set" || command == "state" || command == "log";
    if (!known)
        return Fail("usage: wavelark_receiver install INF [DEVICE] | remove [DEVICE] | hold SECONDS | set [--start "
                    "BAND:FREQ] [--fault MODE] "
                    "[--buffer-suggestions honour|ignore] | state | log [--times]");
    // Just after the prefix starts, its device host may still be loading the driver.
    for (int tries = 0; !device.Open() && tries < 100; ++tries)
        ::Sleep(100);
    if (!device.IsOpen())
        return Fail("no receiver is present");
    if (command == "set")
        return Set(argc, argv, device);
    if (command == "state")
        return PrintState(device);
    return PrintLog(device, argc > 2 && std::strcmp(argv[2], "--times") == 0);
}
