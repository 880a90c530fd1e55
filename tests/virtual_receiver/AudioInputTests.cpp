// The virtual receiver's audio input, as the platform's Audio Capture filter behaves by its
// documentation: what it connects with, and how it hands over what it captures.
#include "com/ComBase.h"
#include "graph/DShowHelpers.h"
#include "support/ModalDriver.h"
#include "virtual_receiver/audio/SimAudioSource.h"

#include <gtest/gtest.h>

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace
{
double Now()
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Arrival
{
    double at; // seconds of the performance counter
    long bytes;
    REFERENCE_TIME start, stop;
};

// A renderer's input as the source meets it: it takes any audio and notes each buffer.
class RecordingPin final : public PinBase, public IMemInputPin
{
  public:
    explicit RecordingPin(IBaseFilter& filter) : PinBase(filter, L"In", PINDIR_INPUT, false) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return PinBase::QueryInterface(iid, object); }
    STDMETHODIMP_(ULONG) AddRef() override { return PinBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return PinBase::Release(); }
    STDMETHODIMP GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override
    {
        Arrival arrival = {Now(), sample->GetActualDataLength(), -1, -1};
        (void)sample->GetTime(&arrival.start, &arrival.stop);
        std::lock_guard<std::mutex> guard(lock);
        arrivals.push_back(arrival);
        return S_OK;
    }
    STDMETHODIMP ReceiveMultiple(IMediaSample**, long, long*) override { return E_NOTIMPL; }
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

    std::mutex lock;
    std::vector<Arrival> arrivals;
    // The connection's rate in tens of Hz.
    WORD Rate() const
    {
        return m_peer ? static_cast<WORD>(reinterpret_cast<WAVEFORMATEX*>(m_type.pbFormat)->nSamplesPerSec / 10) : 0;
    }

  private:
    void* Find(REFIID iid) override
    {
        return iid == IID_IMemInputPin ? static_cast<IMemInputPin*>(this) : PinBase::Find(iid);
    }
    size_t TypeCount() const override { return 0; }
    bool OfferedType(size_t, AM_MEDIA_TYPE*) const override { return false; }
    bool Accepts(const AM_MEDIA_TYPE& type) const override { return type.majortype == MEDIATYPE_Audio; }
};

class RecordingSink final : public FilterBase
{
  public:
    RecordingSink() : FilterBase(GUID_NULL) {}
    RecordingPin pin{*this};

  private:
    size_t PinCount() const override { return 1; }
    PinBase& PinAt(size_t) override { return pin; }
};

// A new input's capture pin, made by its registered server.
ComPtr<IPin> CapturePinOfANewInput()
{
    ComPtr<IBaseFilter> source;
    ComPtr<IPin> pin;
    if (SUCCEEDED(
            ::CoCreateInstance(CLSID_SimAudioSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid())))
        (void)source->FindPin(L"Capture", pin.Put()); // the pin holds its filter
    return pin;
}

// What it connects with: half a second of its default format unless asked before it connects,
// and nothing changed once it has.
TEST(AudioInput, ConnectsWithTheBuffersAndFormatAskedBeforehand)
{
    const WAVEFORMATEX at48k = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0},
                       at22k = {WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    const struct
    {
        const char* name;
        const WAVEFORMATEX* format; // set before connecting
        ALLOCATOR_PROPERTIES suggested;
        WORD rateTens;
        ALLOCATOR_PROPERTIES expected; // count and size
    } cases[] = {
        {"the default", nullptr, {0, 0, 0, 0}, 4410, {4, 88200, 1, 0}},
        {"-1 is the default", nullptr, {-1, -1, -1, -1}, 4410, {4, 88200, 1, 0}},
        {"40 ms, in whole frames", nullptr, {-1, 7057, -1, -1}, 4410, {4, 7056, 1, 0}},
        {"six buffers", nullptr, {6, 7056, -1, -1}, 4410, {6, 7056, 1, 0}},
        {"48 kHz, its default", &at48k, {-1, -1, -1, -1}, 4800, {4, 96000, 1, 0}},
        {"a rate it does not offer stays 44.1 kHz", &at22k, {-1, -1, -1, -1}, 4410, {4, 88200, 1, 0}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const ComPtr<IPin> pin = CapturePinOfANewInput();
        ASSERT_NE(nullptr, pin.Get());
        ComPtr<IAMStreamConfig> config;
        ComPtr<IAMBufferNegotiation> negotiation;
        ASSERT_HRESULT_SUCCEEDED(pin->QueryInterface(IID_IAMStreamConfig, config.PutVoid()));
        ASSERT_HRESULT_SUCCEEDED(pin->QueryInterface(IID_IAMBufferNegotiation, negotiation.PutVoid()));
        if (c.format)
        {
            AM_MEDIA_TYPE type = {MEDIATYPE_Audio,
                                  MEDIASUBTYPE_PCM,
                                  TRUE,
                                  FALSE,
                                  4,
                                  FORMAT_WaveFormatEx,
                                  nullptr,
                                  sizeof(WAVEFORMATEX),
                                  reinterpret_cast<BYTE*>(const_cast<WAVEFORMATEX*>(c.format))};
            EXPECT_EQ(c.format == &at48k ? S_OK : VFW_E_INVALIDMEDIATYPE, config->SetFormat(&type));
        }
        if (c.suggested.cBuffers)
        {
            EXPECT_EQ(S_OK, negotiation->SuggestAllocatorProperties(&c.suggested));
        }
        auto* sink = new RecordingSink();
        ComPtr<IBaseFilter> sinkFilter;
        sinkFilter.Attach(sink);
        ASSERT_HRESULT_SUCCEEDED(pin->Connect(&sink->pin, nullptr));
        ALLOCATOR_PROPERTIES actual = {};
        ASSERT_HRESULT_SUCCEEDED(negotiation->GetAllocatorProperties(&actual));
        EXPECT_EQ(std::make_tuple(c.rateTens, c.expected.cBuffers, c.expected.cbBuffer),
                  std::make_tuple(sink->pin.Rate(), actual.cBuffers, actual.cbBuffer))
            << "the connection's rate / 10, the buffer count and size";
        EXPECT_EQ(VFW_E_ALREADY_CONNECTED, negotiation->SuggestAllocatorProperties(&c.suggested));
        int count = 0, size = 0;
        EXPECT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
        EXPECT_EQ(std::make_pair(2, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS))), std::make_pair(count, size));
        (void)pin->Disconnect();
        (void)sink->pin.Disconnect();
    }
}

// A new input asked for 40 ms buffers, connected to a recording sink and run on the system
// clock, as both the tests of what it hands over meet it; disconnected when it goes.
struct LiveInput
{
    LiveInput()
    {
        ComPtr<IAMBufferNegotiation> negotiation;
        const ALLOCATOR_PROPERTIES forty = {-1, 7056, -1, -1};
        sinkFilter.Attach(sink);
        ready = pin && SUCCEEDED(pin->QueryInterface(IID_IAMBufferNegotiation, negotiation.PutVoid())) &&
                SUCCEEDED(negotiation->SuggestAllocatorProperties(&forty)) &&
                SUCCEEDED(pin->Connect(&sink->pin, nullptr)) &&
                SUCCEEDED(::CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                             clock.PutVoid())) &&
                SUCCEEDED(source->SetSyncSource(clock.Get()));
    }
    ~LiveInput()
    {
        if (pin)
            (void)pin->Disconnect();
        (void)sink->pin.Disconnect();
    }
    LiveInput(const LiveInput&) = delete;
    LiveInput& operator=(const LiveInput&) = delete;

    std::vector<Arrival> Arrivals()
    {
        std::lock_guard<std::mutex> guard(sink->pin.lock);
        return sink->pin.arrivals;
    }

    const ComPtr<IPin> pin = CapturePinOfANewInput();
    ComPtr<IBaseFilter> source{pin ? GetFilterFromPin(pin.Get()) : nullptr};
    RecordingSink* sink = new RecordingSink();
    ComPtr<IBaseFilter> sinkFilter;
    ComPtr<IReferenceClock> clock;
    bool ready = false;
};

// How it hands over what it captures: never a buffer before its last period has passed in real
// time, stamped one after the other, and nothing once Stop has returned; a run after Pause
// starts its capture afresh.
TEST(AudioInput, HandsOverOnlyWhatItHasCapturedAndNothingAfterStop)
{
    LiveInput input;
    ASSERT_TRUE(input.ready);
    RecordingSink* sink = input.sink;
    for (const char* order : {"paused first", "run again after a pause"})
    {
        SCOPED_TRACE(order);
        ASSERT_HRESULT_SUCCEEDED(input.source->Pause());
        ::Sleep(100); // what was captured before the pause may still be on its way
        {
            std::lock_guard<std::mutex> guard(sink->pin.lock);
            sink->pin.arrivals.clear();
        }
        REFERENCE_TIME streamStart = 0;
        ASSERT_HRESULT_SUCCEEDED(input.clock->GetTime(&streamStart));
        const double started = Now();
        ASSERT_HRESULT_SUCCEEDED(input.source->Run(streamStart));
        EXPECT_TRUE(WaitUntil(
            [&]
            {
                std::lock_guard<std::mutex> guard(sink->pin.lock);
                return sink->pin.arrivals.size() >= 5;
            }));
        std::lock_guard<std::mutex> guard(sink->pin.lock);
        for (size_t i = 0; i < sink->pin.arrivals.size(); ++i)
            EXPECT_GE(sink->pin.arrivals[i].at, started + 0.04 * static_cast<double>(i + 1)) << "ahead of time: " << i;
    }
    ASSERT_HRESULT_SUCCEEDED(input.source->Stop());
    const std::vector<Arrival> arrivals = input.Arrivals();
    ::Sleep(100);
    EXPECT_EQ(arrivals.size(), input.Arrivals().size()) << "nothing after Stop";
    ASSERT_GE(arrivals.size(), 5u);
    for (size_t i = 0; i < arrivals.size(); ++i)
    {
        EXPECT_EQ(7056, arrivals[i].bytes) << i;
        if (i > 0)
        {
            EXPECT_NEAR(400000, arrivals[i].start - arrivals[i - 1].start, 1) << "stamped one after the other: " << i;
        }
    }
}

// Run, Pause, Stop and Disconnect in every order: each call returns, and once the last Stop has
// returned nothing more arrives.
TEST(AudioInput, EveryOrderOfRunPauseStopAndDisconnectEndsWithNothingAfterStop)
{
    std::string order = "DPRS"; // sorted, so that every permutation follows
    do
    {
        SCOPED_TRACE(order);
        LiveInput input;
        ASSERT_TRUE(input.ready);
        for (char step : order)
        {
            (void)(step == 'R'   ? input.source->Run(0)
                   : step == 'P' ? input.source->Pause()
                   : step == 'S' ? input.source->Stop()
                                 : input.pin->Disconnect());
            ::Sleep(60); // long enough for a buffer to be on its way
        }
        ASSERT_HRESULT_SUCCEEDED(input.source->Stop());
        const size_t arrived = input.Arrivals().size();
        ::Sleep(100);
        EXPECT_EQ(arrived, input.Arrivals().size()) << "nothing after Stop";
    } while (std::next_permutation(order.begin(), order.end()));
}

} // namespace
