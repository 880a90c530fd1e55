// The simulated receiver's audio side: a live capture source that plays what the simulated
// receiver is tuned to. It is served in-process and registered as an audio-input device.
#pragma once

#include "sim/ComBase.h"

#include <windows.h>

#include <strmif.h>

// {5A4D0B7E-9C1F-4E5B-8E3A-2F9D6C7B5A01}
inline constexpr CLSID CLSID_SimAudioSource = {
    0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, 0x5a, 0x01}};

// The tone of the simulated receiver's programme in Hz; 0 for silence (no answer from it).
double SimulatedToneHz();

// Serves the source and registers it as the audio input "WaveLARK USB Audio" while it lives.
class SimAudioDevice
{
  public:
    SimAudioDevice();
    ~SimAudioDevice();
    SimAudioDevice(const SimAudioDevice&) = delete;
    SimAudioDevice& operator=(const SimAudioDevice&) = delete;

  private:
    ServedFilter m_served;
};
