// The virtual receiver's audio input, as the platform's Audio Capture filter behaves by its
// documentation: what it connects with, and how it hands over what it captures.
#include "com/MediaType.h"
#include "support/FakeFilter.h"
#include "support/ModalDriver.h"
#include "virtual_receiver/audio/SimAudioSource.h"

#include <gtest/gtest.h>

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace
{
struct Arrival
{
    double at; // seconds of the performance counter
    long bytes;
    REFERENCE_TIME start, stop;
};

// A new input of the registered server, its format set and its buffers suggested first (none:
// left alone), connected to a renderer's input that takes any audio and notes each buffer, and run
// on the system clock; disconnected when it goes.
struct Input
{
    explicit Input(const WAVEFORMATEX* format = nullptr,
                   std::optional<ALLOCATOR_PROPERTIES> suggested = ALLOCATOR_PROPERTIES{-1, 7056, -1, -1})
    {
        FakePin in = {L"In", PINDIR_INPUT, {{MEDIATYPE_Audio, GUID_NULL}}};
        in.receive = [this](IMediaSample* sample)
        {
            Arrival arrival = {Seconds(), sample->GetActualDataLength(), -1, -1};
            (void)sample->GetTime(&arrival.start, &arrival.stop);
            std::lock_guard<std::mutex> guard(lock);
            arrivals.push_back(arrival);
        };
        sink = MakeFake({L"Sink", GUID_NULL, {in}});
        sinkPin = FindPin(sink.Get(), L"In");
        if (FAILED(::CoCreateInstance(CLSID_SimAudioSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                      source.PutVoid())) ||
            FAILED(source->FindPin(L"Capture", pin.Put())) ||
            FAILED(pin->QueryInterface(IID_IAMStreamConfig, config.PutVoid())) ||
            FAILED(pin->QueryInterface(IID_IAMBufferNegotiation, negotiation.PutVoid())))
            return;
        BYTE* block = reinterpret_cast<BYTE*>(const_cast<WAVEFORMATEX*>(format));
        AM_MEDIA_TYPE type = {MEDIATYPE_Audio, MEDIASUBTYPE_PCM,     TRUE, FALSE, 4, FORMAT_WaveFormatEx,
                              nullptr,         sizeof(WAVEFORMATEX), block};
        formatSet = format ? config->SetFormat(&type) : S_OK;
        ready = (!suggested || SUCCEEDED(negotiation->SuggestAllocatorProperties(&*suggested))) &&
                SUCCEEDED(pin->Connect(sinkPin.Get(), nullptr)) &&
                SUCCEEDED(::CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                             clock.PutVoid())) &&
                SUCCEEDED(source->SetSyncSource(clock.Get()));
    }
    ~Input()
    {
        if (pin)
            (void)pin->Disconnect();
        (void)sinkPin->Disconnect();
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // What has arrived, forgotten when `forget`.
    std::vector<Arrival> Arrivals(bool forget = false)
    {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<Arrival> arrived = arrivals;
        if (forget)
            arrivals.clear();
        return arrived;
    }
    // Stops it: true when nothing arrives afterwards.
    bool NothingAfterStop()
    {
        (void)source->Stop();
        const size_t arrived = Arrivals().size();
        ::Sleep(100); // long enough for a buffer on its way
        return Arrivals().size() == arrived;
    }
    // The rate the sink was connected with, in tens of Hz.
    WORD Rate()
    {
        CMediaType type;
        if (FAILED(sinkPin->ConnectionMediaType(&type)) || type.cbFormat < sizeof(WAVEFORMATEX))
            return 0;
        return static_cast<WORD>(reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat)->nSamplesPerSec / 10);
    }

    ComPtr<IBaseFilter> source;
    ComPtr<IPin> pin;
    ComPtr<IAMStreamConfig> config;
    ComPtr<IAMBufferNegotiation> negotiation;
    ComPtr<IBaseFilter> sink;
    ComPtr<IPin> sinkPin;
    ComPtr<IReferenceClock> clock;
    std::mutex lock;
    std::vector<Arrival> arrivals;
    HRESULT formatSet = E_FAIL;
    bool ready = false;
};

// What it connects with: half a second of its default format unless asked before it connects,
// and nothing changed once it has.
TEST(AudioInput, ConnectsWithTheBuffersAndFormatAskedBeforehand)
{
    const WAVEFORMATEX at48k = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0},
                       at22k = {WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    // The row's name; the format set before connecting; the buffers suggested; the connection's
    // rate / 10, the buffer count and size.
    using Case = std::tuple<const char*, const WAVEFORMATEX*, std::optional<ALLOCATOR_PROPERTIES>, WORD, long, long>;
    const Case cases[] = {
        {"nothing asked", nullptr, std::nullopt, 4410, 4, 88200},
        {"-1 is the default", nullptr, ALLOCATOR_PROPERTIES{-1, -1, -1, -1}, 4410, 4, 88200},
        {"0 is the default", nullptr, ALLOCATOR_PROPERTIES{0, 0, 0, 0}, 4410, 4, 88200},
        {"40 ms, in whole frames", nullptr, ALLOCATOR_PROPERTIES{-1, 7057, -1, -1}, 4410, 4, 7056},
        {"six buffers", nullptr, ALLOCATOR_PROPERTIES{6, 7056, -1, -1}, 4410, 6, 7056},
        {"48 kHz, its default", &at48k, std::nullopt, 4800, 4, 96000},
        {"a rate it does not offer stays 44.1 kHz", &at22k, std::nullopt, 4410, 4, 88200},
    };
    for (const auto& [name, format, suggested, rateTens, count, size] : cases)
    {
        SCOPED_TRACE(name);
        Input input(format, suggested);
        ASSERT_TRUE(input.ready);
        EXPECT_EQ(format == &at22k ? VFW_E_INVALIDMEDIATYPE : S_OK, input.formatSet);
        ALLOCATOR_PROPERTIES actual = {};
        ASSERT_HRESULT_SUCCEEDED(input.negotiation->GetAllocatorProperties(&actual));
        EXPECT_EQ(std::make_tuple(rateTens, count, size),
                  std::make_tuple(input.Rate(), actual.cBuffers, actual.cbBuffer))
            << "the connection's rate / 10, the buffer count and size";
        EXPECT_EQ(VFW_E_ALREADY_CONNECTED, input.negotiation->SuggestAllocatorProperties(&actual));
        int capabilities = 0, capsSize = 0;
        EXPECT_EQ(S_OK, input.config->GetNumberOfCapabilities(&capabilities, &capsSize));
        EXPECT_EQ(std::make_pair(2, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS))),
                  std::make_pair(capabilities, capsSize))
            << "capabilities, their size";
    }
}

// How it hands over what it captures: never a buffer before its last period has passed in real
// time, stamped one after the other, and nothing once Stop has returned; a run after Pause
// starts its capture afresh.
TEST(AudioInput, HandsOverOnlyWhatItHasCapturedAndNothingAfterStop)
{
    Input input;
    ASSERT_TRUE(input.ready);
    for (const char* order : {"paused first", "run again after a pause"})
    {
        SCOPED_TRACE(order);
        ASSERT_HRESULT_SUCCEEDED(input.source->Pause());
        ::Sleep(100); // what was captured before the pause may still be on its way
        (void)input.Arrivals(true);
        REFERENCE_TIME streamStart = 0;
        ASSERT_HRESULT_SUCCEEDED(input.clock->GetTime(&streamStart));
        const double started = Seconds();
        ASSERT_HRESULT_SUCCEEDED(input.source->Run(streamStart));
        EXPECT_TRUE(WaitUntil([&] { return input.Arrivals().size() >= 5; }));
        const std::vector<Arrival> arrivals = input.Arrivals();
        for (size_t i = 0; i < arrivals.size(); ++i)
            EXPECT_GE(arrivals[i].at, started + 0.04 * static_cast<double>(i + 1)) << "ahead of time: " << i;
    }
    EXPECT_TRUE(input.NothingAfterStop());
    const std::vector<Arrival> arrivals = input.Arrivals();
    ASSERT_GE(arrivals.size(), 5u);
    for (size_t i = 0; i < arrivals.size(); ++i)
        EXPECT_EQ(std::make_pair(7056L, i > 0 ? 400000 : arrivals[0].start),
                  std::make_pair(arrivals[i].bytes, arrivals[i].start - (i > 0 ? arrivals[i - 1].start : 0)))
            << "bytes, and stamped one after the other: " << i;
}

// Run, Pause, Stop and Disconnect in every order: each call returns, and once the last Stop has
// returned nothing more arrives.
TEST(AudioInput, EveryOrderOfRunPauseStopAndDisconnectEndsWithNothingAfterStop)
{
    std::string order = "DPRS"; // sorted, so that every permutation follows
    do
    {
        SCOPED_TRACE(order);
        Input input;
        ASSERT_TRUE(input.ready);
        for (char step : order)
        {
            (void)(step == 'R'   ? input.source->Run(0)
                   : step == 'P' ? input.source->Pause()
                   : step == 'S' ? input.source->Stop()
                                 : input.pin->Disconnect());
            ::Sleep(60); // long enough for a buffer to be on its way
        }
        EXPECT_TRUE(input.NothingAfterStop());
    } while (std::next_permutation(order.begin(), order.end()));
}

} // namespace
