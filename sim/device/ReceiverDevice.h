// The installed virtual receiver as our tools see it: found on the HID bus as the player finds
// the receiver, and driven only through its vendor feature report, never through input reports,
// which would reach the player's own read queue.
#pragma once

#include "receiver/ReceiverHandle.h"
#include "sim/ReceiverCore.h"

#include <windows.h>

#include <array>

using ReceiverFeature = std::array<RcByte, kRcFeatureDataBytes>;

class ReceiverDevice
{
  public:
    // The first present interface with the receiver's vendor and product; false when none is.
    bool Open();
    bool IsOpen() const { return m_file.IsValid(); }

    // A fresh start, tuned to `band` and `code`, showing `fault`; with `plainAudio` its audio
    // input ignores buffer suggestions.
    bool Start(RcByte band, unsigned short code, RcFault fault, unsigned short faultValue, bool plainAudio);
    // Which received report the next reads carry.
    bool SelectLog(unsigned long index);
    // The feature report's data bytes; false when the device did not answer.
    bool Read(ReceiverFeature& feature);

  private:
    bool Set(const ReceiverFeature& feature);

    UniqueReceiverHandle m_file;
};

// A count of `bytes` bytes from the feature report, high byte first.
unsigned long long FeatureCount(const ReceiverFeature& feature, size_t at, size_t bytes = 4);
