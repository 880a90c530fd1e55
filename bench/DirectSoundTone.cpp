// The reference of the long play: 790 Hz written straight into a DirectSound buffer, kept a
// tenth of a second ahead of the play cursor, with no graph and no capture. What is heard broken
// from it comes from the platform's sound path, which every program shares.
//     dsound_tone SECONDS
#include <windows.h>

#include <mmreg.h>

#include <dsound.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace
{
constexpr DWORD kRate = 44100;
constexpr DWORD kBytesPerFrame = 4;
constexpr DWORD kBufferBytes = kRate * kBytesPerFrame; // a second
constexpr DWORD kLeadBytes = kBufferBytes / 10;
constexpr double kToneHz = 790;
constexpr double kTwoPi = 2 * 3.14159265358979323846;
} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    IDirectSound8* sound = nullptr;
    IDirectSoundBuffer* buffer = nullptr;
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, kRate, kRate * kBytesPerFrame, kBytesPerFrame, 16, 0};
    DSBUFFERDESC description = {
        sizeof(description), DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS, kBufferBytes, 0, &format, {}};
    if (seconds <= 0 || FAILED(::DirectSoundCreate8(nullptr, &sound, nullptr)) ||
        FAILED(sound->SetCooperativeLevel(::GetDesktopWindow(), DSSCL_PRIORITY)) ||
        FAILED(sound->CreateSoundBuffer(&description, &buffer, nullptr)))
    {
        std::fprintf(stderr, "dsound_tone: no DirectSound buffer (give the seconds to play)\n");
        if (sound)
            sound->Release();
        return 1;
    }
    double phase = 0;
    DWORD written = 0; // where the next bytes go
    const auto write = [&](DWORD bytes)
    {
        void* parts[2] = {};
        DWORD sizes[2] = {};
        if (FAILED(buffer->Lock(written, bytes, &parts[0], &sizes[0], &parts[1], &sizes[1], 0)))
            return;
        for (int part = 0; part < 2; ++part)
            for (DWORD i = 0; i < sizes[part] / kBytesPerFrame; ++i)
            {
                const auto value = static_cast<short>(0.3 * 32767 * std::sin(phase));
                static_cast<short*>(parts[part])[2 * i] = static_cast<short*>(parts[part])[2 * i + 1] = value;
                phase = std::fmod(phase + kTwoPi * kToneHz / kRate, kTwoPi);
            }
        (void)buffer->Unlock(parts[0], sizes[0], parts[1], sizes[1]);
        written = (written + sizes[0] + sizes[1]) % kBufferBytes;
    };
    write(kLeadBytes);
    (void)buffer->Play(0, 0, DSBPLAY_LOOPING);
    int underruns = 0;
    for (const ULONGLONG end = ::GetTickCount64() + 1000ull * seconds; ::GetTickCount64() < end; ::Sleep(5))
    {
        DWORD play = 0, safe = 0;
        (void)buffer->GetCurrentPosition(&play, &safe);
        const DWORD safeAhead = (safe + kBufferBytes - play) % kBufferBytes;
        DWORD ahead = (written + kBufferBytes - play) % kBufferBytes;
        // Written no further than the cursors, or so far "ahead" that they have passed it.
        if (ahead < safeAhead || ahead > kBufferBytes / 2)
            ++underruns, written = safe, ahead = safeAhead;
        if (ahead < kLeadBytes)
            write((kLeadBytes - ahead) / kBytesPerFrame * kBytesPerFrame);
    }
    (void)buffer->Stop();
    buffer->Release();
    sound->Release();
    std::printf("underruns %d\n", underruns);
    return 0;
}
