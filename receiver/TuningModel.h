// The bands, their limits and the command and report bytes the receiver speaks.
#pragma once

#include "wire/ReceiverWire.h"

#include <windows.h>

namespace tuning
{
constexpr int kBandAm = 0;
constexpr int kBandFm = 1;

constexpr BYTE kBandByteAm = kWireBandAm;
constexpr BYTE kBandByteFm = kWireBandFm;
constexpr BYTE kTuneCommand = kWireTuneCommand;
constexpr BYTE kQueryCommand = kWireQueryCommand;

// Inclusive limits; AM in whole kHz, FM in MHz.
constexpr int kAmLowest = 522;
constexpr int kAmHighest = 1710;
constexpr double kFmLowest = 83.3;
constexpr double kFmHighest = 107.9;

constexpr char kAmDefaultText[] = "522";
constexpr char kFmDefaultText[] = "87.9";

// The frequency codes of the command and the report.
WORD AmCode(int kHz);
WORD FmCode(double mHz);
int AmFromCode(WORD code);
// Ten times the frequency in MHz, truncated toward zero.
int FmTenthsFromCode(WORD code);
} // namespace tuning
