// The installed virtual receiver as our tools see it: found on the HID bus as the player finds
// the receiver, and driven only through its vendor feature report, never through input reports,
// which would reach the player's own read queue.
#pragma once

#include "virtual_receiver/core/ReceiverCore.h"

#include <windows.h>

#include <setupapi.h>

#include <array>

// Owns a handle that `Close` gives back; INVALID_HANDLE_VALUE is none, as the functions that
// open a device or a device information list say.
template <BOOL(WINAPI* Close)(HANDLE)> class Owned
{
  public:
    explicit Owned(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~Owned() { Reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    void Reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            (void)Close(m_handle); // nothing to do if it fails
        m_handle = handle;
    }
    HANDLE Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != INVALID_HANDLE_VALUE; }

  private:
    HANDLE m_handle;
};
using OwnedFile = Owned<::CloseHandle>;
using OwnedDeviceInfoList = Owned<::SetupDiDestroyDeviceInfoList>;

using ReceiverFeature = std::array<RcByte, kWireFeatureDataBytes>;

class ReceiverDevice
{
  public:
    // The first present interface with the receiver's vendor and product; false when none is.
    bool Open();
    bool IsOpen() const { return static_cast<bool>(m_file); }
    void Close() { m_file.Reset(); }

    // A fresh start, tuned to `band` and `code`, showing `fault`; with `plainAudio` its audio
    // input ignores buffer suggestions.
    bool Start(RcByte band, unsigned short code, WireFault fault, unsigned short faultValue, bool plainAudio);
    // Which received report the next reads carry.
    bool SelectLog(unsigned long index);
    // The feature report's data bytes; false when the device did not answer.
    bool Read(ReceiverFeature& feature);

  private:
    bool Set(const ReceiverFeature& feature);

    OwnedFile m_file;
};

// A count of `bytes` bytes from the feature report, high byte first.
unsigned long long FeatureCount(const ReceiverFeature& feature, size_t at, size_t bytes = 4);

// What the receiver's audio input hears now and how it is set, read from the installed device;
// safe from any thread.
struct ReceiverAudio
{
    int toneHz;      // 0 or less: silence
    bool plainInput; // buffer suggestions are ignored, as by an input without the interface
};
ReceiverAudio ReadReceiverAudio();
