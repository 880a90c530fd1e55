// The virtual receiver's audio input: a live capture source that plays what the receiver is
// tuned to. wavelark_audio.dll serves it as a registered in-process server, listed as the audio
// input "WaveLARK USB Audio" as a device's capture filter is.
#pragma once

#include <windows.h>

#include <strmif.h>

// {5A4D0B7E-9C1F-4E5B-8E3A-2F9D6C7B5A01}
inline constexpr CLSID CLSID_SimAudioSource = {
    0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, 0x5a, 0x01}};

inline constexpr wchar_t kSimAudioName[] = L"WaveLARK USB Audio";

// Seconds of the performance counter: the clock the source stamps its log with, and the one
// every process that is compared with that log must read.
inline double Seconds()
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A new source whose count is 1; it throws std::bad_alloc when out of memory.
IBaseFilter* NewSimAudioSource();
