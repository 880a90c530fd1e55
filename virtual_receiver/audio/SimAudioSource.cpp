// A live audio capture source that behaves as a USB audio device under the platform's Audio
// Capture filter: one output pin in the capture category offering 16-bit stereo PCM at 44.1 or
// 48 kHz (IAMStreamConfig), handing over only what it has captured, in real time, each buffer
// stamped with the stream time of its capture and a stream offset, in half-second buffers unless
// a size was suggested before it connected (IAMBufferNegotiation).
#include "virtual_receiver/audio/SimAudioSource.h"
#include "virtual_receiver/tool/ReceiverDevice.h"

#include "com/ComBase.h"
#include "com/ComPtr.h"
#include "com/MediaType.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace
{
constexpr WORD kChannels = 2;
constexpr WORD kBytesPerFrame = kChannels * 2;
// The platform's Audio Capture filter fills half-second buffers unless told otherwise.
constexpr long kDefaultBufferMs = 500;
constexpr long kDefaultBufferCount = 4;
// The device captures in periods: a change of tuning is heard from the next period on, never
// earlier. What is not handed over within kPeriodsKept periods is lost, as a device's own buffer
// overruns.
constexpr int kPeriodMs = 10;
constexpr size_t kPeriodsKept = 400;
constexpr double kPeriodSeconds = kPeriodMs / 1000.0; // the grid the capture and the tuning reads share
// The tuning is read this long before each period begins, time enough for a read of the device:
// a read at every period, not every few milliseconds, spares the platform's server the load that
// no real device puts on it.
constexpr int kTuningReadLeadMs = 3;
// A live source is stamped with the stream time of its capture plus a stream offset, as a graph
// that synchronises live sources gives it (IAMPushSource): its latency, the length of a buffer,
// and this much for the renderer to play the stream from, as the platform's renderer keeps for a
// live stream on its own. Stamped with its capture time alone, each buffer arrives a buffer late
// and Wine's renderer drops it whole; without the margin it underruns on every buffer, and with
// 20 ms about once a minute on a busy machine.
constexpr REFERENCE_TIME kStreamOffsetMargin = 40 * REFERENCE_TIME{10000};
constexpr double kAmplitude = 0.3 * 32767;
constexpr double kTwoPi = 2 * 3.14159265358979323846;
const wchar_t kPinName[] = L"Capture";

constexpr WAVEFORMATEX Pcm(DWORD rate)
{
    return {WAVE_FORMAT_PCM, kChannels, rate, rate * kBytesPerFrame, kBytesPerFrame, 16, 0};
}
// What a USB audio device offers; the first is the default.
const WAVEFORMATEX kFormats[] = {Pcm(44100), Pcm(48000)};
constexpr size_t kFormatCount = sizeof(kFormats) / sizeof(kFormats[0]);

AM_MEDIA_TYPE TypeOf(const WAVEFORMATEX& format)
{
    return {MEDIATYPE_Audio, MEDIASUBTYPE_PCM,     TRUE,
            FALSE,           format.nBlockAlign,   FORMAT_WaveFormatEx,
            nullptr,         sizeof(WAVEFORMATEX), reinterpret_cast<BYTE*>(const_cast<WAVEFORMATEX*>(&format))};
}

// Which of our formats `type` names: its format block when it has a whole one, else `fallback`
// when it names PCM audio with no format; kFormatCount for none.
size_t FormatIndexOf(const AM_MEDIA_TYPE& type, size_t fallback)
{
    const AM_MEDIA_TYPE pcm = TypeOf(kFormats[0]);
    if (!SameKind(type, pcm))
        return kFormatCount;
    if (type.formattype == FORMAT_WaveFormatEx && type.cbFormat >= sizeof(WAVEFORMATEX) && type.pbFormat)
    {
        for (size_t i = 0; i < kFormatCount; ++i)
            if (std::memcmp(type.pbFormat, &kFormats[i], sizeof(WAVEFORMATEX) - sizeof(WORD)) == 0)
                return i;
        return kFormatCount;
    }
    return type.formattype == GUID_NULL || type.formattype == FORMAT_WaveFormatEx ? fallback : kFormatCount;
}

// For the latency benchmark: where a change of tone was read and handed over, when
// WAVELARK_AUDIO_LOG names a file.
void LogToneChange(int toneHz, double read, double delivered)
{
    const char* path = std::getenv("WAVELARK_AUDIO_LOG");
    FILE* file = path && *path ? std::fopen(path, "a") : nullptr;
    if (!file)
        return;
    std::fprintf(file, "tone %d read %.6f delivered %.6f\n", toneHz, read, delivered);
    std::fclose(file);
}

class SimSource;

// The one output pin. It keeps its format and the buffers asked of it until it connects; its
// transport needs the source's allocator, so the source makes it.
class SimPin final : public PinBase, public IAMStreamConfig, public IAMBufferNegotiation
{
  public:
    SimPin(SimSource& source, bool takesSuggestions);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return PinBase::QueryInterface(iid, object); }
    STDMETHODIMP_(ULONG) AddRef() override { return PinBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return PinBase::Release(); }
    STDMETHODIMP Disconnect() override;

    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** type) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

    STDMETHODIMP SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties) override;
    STDMETHODIMP GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties) override;

  private:
    void* Find(REFIID iid) override;
    size_t TypeCount() const override { return m_formatSet ? 1 : kFormatCount; }
    // The chosen format first.
    bool OfferedType(size_t index, AM_MEDIA_TYPE* type) const override
    {
        return *type = TypeOf(kFormats[(m_format + index) % kFormatCount]), true;
    }
    bool Accepts(const AM_MEDIA_TYPE& type) const override
    {
        const size_t index = FormatIndexOf(type, m_format);
        return index < kFormatCount && (!m_formatSet || index == m_format);
    }
    HRESULT CompleteConnect(IPin* receiver) override;

    SimSource& m_source;
    bool m_takesSuggestions;
    size_t m_format = 0;
    bool m_formatSet = false;
    ALLOCATOR_PROPERTIES m_suggested = {-1, -1, -1, -1};
    ALLOCATOR_PROPERTIES m_actual = {};
};

class SimSource final : public FilterBase
{
  public:
    SimSource();

    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override { return ChangeState(State_Paused, 0); }
    STDMETHODIMP Run(REFERENCE_TIME start) override { return ChangeState(State_Running, start); }
    // A live source has nothing to cue while paused.
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        *state = m_state;
        return m_state == State_Paused ? VFW_S_CANT_CUE : S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

    // The transport to `receiver`, which has taken `format`, in buffers as `wanted` asks.
    HRESULT ConnectTransport(IPin* receiver, const WAVEFORMATEX& format, const ALLOCATOR_PROPERTIES& wanted,
                             ALLOCATOR_PROPERTIES* actual);
    // The threads use the peer's input and allocator while the filter is not stopped.
    HRESULT DropTransport();

  private:
    ~SimSource() override;
    size_t PinCount() const override { return 1; }
    PinBase& PinAt(size_t) override { return m_pin; }

    // A tuning the device heard: the tone, and when it was read.
    struct Tuning
    {
        int toneHz;
        double read;
    };

    // Every change to Paused or Running goes through here; Stop ends the threads too.
    HRESULT ChangeState(FILTER_STATE state, REFERENCE_TIME start);
    void Tune();
    void Deliver();
    // Waits until `seconds` of the performance counter have come while run `run` runs; false when
    // the source stops, pauses or runs anew first.
    bool CapturedBy(double seconds, unsigned run);
    // What the device heard at `seconds`; older tunings than that are forgotten.
    Tuning HeardAt(double seconds);

    SimPin m_pin;
    ComPtr<IMemInputPin> m_input;
    ComPtr<IMemAllocator> m_allocator;
    DWORD m_rate = 0;

    // How the source lives and changes state, in one place:
    // - A state change (Stop, Pause, Run) and the end of the transport (Disconnect) run one at a
    //   time under m_stateChange, held for the whole change, Stop's join of the threads included:
    //   no change starts or looks at the threads while another starts or ends them, and the
    //   transport (m_input, m_allocator) cannot go while a thread that uses it still runs.
    // - Two threads run from the first change out of Stopped to the Stop that joins them: the
    //   device's tuning, read before each period, and the delivery, which fills each buffer with
    //   the tuning heard at the start of each of its periods and hands it on once the last of them
    //   has passed in real time. The capture itself is the device's and needs no thread: a period
    //   is captured when its time has passed. They share everything below with the changes under
    //   m_lock, are woken from a Pause through m_wake, and never take m_stateChange, so that a Stop
    //   can wait for them. Pause never waits for them: the delivery may be blocked in a paused
    //   renderer.
    // - Each change into Running starts a new run: capture starts again from that moment, and
    //   nothing of a run before is handed on.
    // - The object goes with its last Release, stopped first by its destructor; nothing else holds
    //   a pointer to it.
    std::mutex m_stateChange;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopping = false;
    unsigned m_run = 0;
    REFERENCE_TIME m_runStartStream = 0; // stream time the run's capture began,
    bool m_runStamped = false;           // once known from the graph's clock
    ComPtr<IReferenceClock> m_clock;
    double m_periodsFrom = 0;   // when the run's first period began
    std::deque<Tuning> m_heard; // each change of what the device heard, the last one since
    std::thread m_tuning;
    std::thread m_delivery;
};

SimPin::SimPin(SimSource& source, bool takesSuggestions)
    : PinBase(source, kPinName, PINDIR_OUTPUT, true), m_source(source), m_takesSuggestions(takesSuggestions)
{
}

void* SimPin::Find(REFIID iid)
{
    if (iid == IID_IAMStreamConfig)
        return static_cast<IAMStreamConfig*>(this);
    if (iid == IID_IAMBufferNegotiation && m_takesSuggestions)
        return static_cast<IAMBufferNegotiation*>(this);
    return PinBase::Find(iid);
}

// Half a second in the default count, or what was suggested, field by field (-1: the default),
// in whole frames of the connection's format.
HRESULT SimPin::CompleteConnect(IPin* receiver)
{
    const WAVEFORMATEX& format = kFormats[FormatIndexOf(m_type, m_format)];
    const long defaultBytes = static_cast<long>(format.nAvgBytesPerSec) * kDefaultBufferMs / 1000;
    const long bytes = m_suggested.cbBuffer > 0 ? m_suggested.cbBuffer : defaultBytes;
    const ALLOCATOR_PROPERTIES wanted = {m_suggested.cBuffers > 0 ? m_suggested.cBuffers : kDefaultBufferCount,
                                         std::max<long>(bytes - bytes % kBytesPerFrame, kBytesPerFrame),
                                         m_suggested.cbAlign > 0 ? m_suggested.cbAlign : 1,
                                         m_suggested.cbPrefix >= 0 ? m_suggested.cbPrefix : 0};
    return m_source.ConnectTransport(receiver, format, wanted, &m_actual);
}

STDMETHODIMP SimPin::Disconnect()
{
    const HRESULT result = m_source.DropTransport();
    return FAILED(result) ? result : PinBase::Disconnect();
}

STDMETHODIMP SimPin::SetFormat(AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    if (m_peer)
        return VFW_E_ALREADY_CONNECTED;
    const size_t index = FormatIndexOf(*type, m_format);
    if (index == kFormatCount)
        return VFW_E_INVALIDMEDIATYPE;
    m_format = index;
    m_formatSet = true;
    return S_OK;
}

STDMETHODIMP SimPin::GetFormat(AM_MEDIA_TYPE** type)
{
    if (!type)
        return E_POINTER;
    *type = NewMediaType(m_peer ? static_cast<const AM_MEDIA_TYPE&>(m_type) : TypeOf(kFormats[m_format]));
    return *type ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP SimPin::GetNumberOfCapabilities(int* count, int* size)
{
    if (!count || !size)
        return E_POINTER;
    *count = static_cast<int>(kFormatCount);
    *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP SimPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps)
{
    if (!type || !caps)
        return E_POINTER;
    if (index < 0 || static_cast<size_t>(index) >= kFormatCount)
        return S_FALSE;
    const WAVEFORMATEX& format = kFormats[index];
    *type = NewMediaType(TypeOf(format));
    if (!*type)
        return E_OUTOFMEMORY;
    const AUDIO_STREAM_CONFIG_CAPS offered = {
        MEDIATYPE_Audio, kChannels, kChannels, 1, 16, 16, 16, format.nSamplesPerSec, format.nSamplesPerSec, 1};
    std::memcpy(caps, &offered, sizeof(offered));
    return S_OK;
}

// Taken until the pin connects, as the platform's capture filters take it.
STDMETHODIMP SimPin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties)
{
    if (!properties)
        return E_POINTER;
    if (m_peer)
        return VFW_E_ALREADY_CONNECTED;
    m_suggested = *properties;
    return S_OK;
}

STDMETHODIMP SimPin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties)
{
    if (!properties)
        return E_POINTER;
    if (!m_peer)
        return VFW_E_NO_ALLOCATOR;
    *properties = m_actual;
    return S_OK;
}

SimSource::SimSource() : FilterBase(CLSID_SimAudioSource), m_pin(*this, !ReadReceiverAudio().plainInput) {}

SimSource::~SimSource()
{
    Stop();
}

STDMETHODIMP SimSource::SetSyncSource(IReferenceClock* clock)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_clock = ComPtr<IReferenceClock>(clock);
    return S_OK;
}

STDMETHODIMP SimSource::GetSyncSource(IReferenceClock** clock)
{
    if (!clock)
        return E_POINTER;
    std::lock_guard<std::mutex> guard(m_lock);
    *clock = m_clock.CopyOut();
    return S_OK;
}

HRESULT SimSource::ConnectTransport(IPin* receiver, const WAVEFORMATEX& format, const ALLOCATOR_PROPERTIES& wanted,
                                    ALLOCATOR_PROPERTIES* actual)
{
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    if (FAILED(receiver->QueryInterface(IID_IMemInputPin, input.PutVoid())) ||
        (FAILED(input->GetAllocator(allocator.Put())) &&
         FAILED(::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                   allocator.PutVoid()))))
    {
        (void)receiver->Disconnect();
        return VFW_E_NO_TRANSPORT;
    }
    ALLOCATOR_PROPERTIES asked = wanted;
    HRESULT result = allocator->SetProperties(&asked, actual);
    if (SUCCEEDED(result))
        result = input->NotifyAllocator(allocator.Get(), FALSE);
    if (FAILED(result))
    {
        (void)receiver->Disconnect();
        return result;
    }
    m_input = input;
    m_allocator = allocator;
    m_rate = format.nSamplesPerSec;
    return S_OK;
}

HRESULT SimSource::DropTransport()
{
    std::lock_guard<std::mutex> change(m_stateChange);
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_state != State_Stopped || m_tuning.joinable() || m_delivery.joinable())
        return VFW_E_NOT_STOPPED;
    m_input.Reset();
    m_allocator.Reset();
    return S_OK;
}

// Pause never waits for the threads: the delivery may be blocked in a paused renderer.
HRESULT SimSource::ChangeState(FILTER_STATE state, REFERENCE_TIME start)
{
    std::lock_guard<std::mutex> change(m_stateChange);
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_state == State_Stopped && m_allocator && !m_tuning.joinable() && !m_delivery.joinable())
    {
        (void)m_allocator->Commit(); // a failure shows as a failed GetBuffer in the delivery
        m_stopping = false;
        m_heard = {{ReadReceiverAudio().toneHz, Seconds()}}; // what the first period holds
        try
        {
            m_tuning = std::thread([this] { Tune(); });
            m_delivery = std::thread([this] { Deliver(); });
        }
        catch (const std::exception&) // no thread to be had (std::system_error, std::bad_alloc)
        {
            m_stopping = true;
            m_wake.notify_all();
            return E_OUTOFMEMORY; // Stop joins whichever started
        }
    }
    if (state == State_Running && m_state != State_Running)
    {
        ++m_run;
        m_periodsFrom = Seconds();
        REFERENCE_TIME now = 0;
        m_runStamped = m_clock && SUCCEEDED(m_clock->GetTime(&now));
        m_runStartStream = now - start;
    }
    m_state = state;
    m_wake.notify_all();
    return S_OK;
}

STDMETHODIMP SimSource::Stop()
{
    std::lock_guard<std::mutex> change(m_stateChange);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
        m_state = State_Stopped;
        m_wake.notify_all();
    }
    // Decommitting wakes a delivery waiting for a buffer; it then sees m_stopping.
    if (m_allocator)
        (void)m_allocator->Decommit();
    if (m_tuning.joinable())
        m_tuning.join();
    if (m_delivery.joinable())
        m_delivery.join();
    std::lock_guard<std::mutex> guard(m_lock);
    m_stopping = false;
    return S_OK;
}

// The receiver's tuning as the device hears it, read just before each period of the capture
// begins and apart from it: a read that waits behind the player's own exchanges must not hold the
// delivery back. Like the delivery's wait for a period, it sleeps rather than waits on an object:
// a timed wait goes through the prefix's server and shares every hold-up of it.
void SimSource::Tune()
{
    constexpr double lead = kTuningReadLeadMs / 1000.0;
    for (;;)
    {
        const int toneHz = ReadReceiverAudio().toneHz;
        const double now = Seconds();
        double next = 0;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stopping)
                return;
            if (toneHz != m_heard.back().toneHz)
            {
                m_heard.push_back({toneHz, now});
                if (m_heard.size() > kPeriodsKept) // a delivery held that long has lost those periods
                    m_heard.pop_front();
            }
            next = m_periodsFrom + std::ceil((now + lead - m_periodsFrom) / kPeriodSeconds) * kPeriodSeconds - lead;
        }
        ::Sleep(static_cast<DWORD>(std::ceil(std::max(next - now, 0.0) * 1000)));
    }
}

bool SimSource::CapturedBy(double seconds, unsigned run)
{
    for (;;)
    {
        const double left = seconds - Seconds();
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stopping || m_run != run)
                return false;
            if (left <= 0)
                return true;
            if (m_state != State_Running)
                return false;
        }
        // A period at most, so that a Stop is seen within one.
        ::Sleep(static_cast<DWORD>(std::ceil(std::min(left, kPeriodSeconds) * 1000)));
    }
}

SimSource::Tuning SimSource::HeardAt(double seconds)
{
    std::lock_guard<std::mutex> guard(m_lock);
    while (m_heard.size() > 1 && m_heard[1].read <= seconds)
        m_heard.pop_front();
    return m_heard.front();
}

// Each buffer covers the next frames of the run and is handed on once the period of its last
// frame is captured, stamped with the stream time its capture began and the stream offset. A run
// whose periods were lost before they could be handed on goes on from the oldest kept, marked as a
// discontinuity.
void SimSource::Deliver()
{
    (void)::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const long long periodFrames = static_cast<long long>(m_rate) * kPeriodMs / 1000;
    double phase = 0;
    int lastTone = -1;
    unsigned run = 0;
    double from = 0;     // when the run's first period began
    long long frame = 0; // the run's next frame to hand on
    for (;;)
    {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait(lock, [&] { return m_stopping || m_state == State_Running; });
            if (m_stopping)
                break;
            if (run != m_run)
                run = m_run, from = m_periodsFrom, frame = 0;
        }
        ComPtr<IMediaSample> sample;
        BYTE* data = nullptr;
        if (FAILED(m_allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0)) || !sample ||
            FAILED(sample->GetPointer(&data)) || !data)
            break;
        const long long count = sample->GetSize() / kBytesPerFrame; // never more than the allocator granted
        const long long oldestKept =
            static_cast<long long>((Seconds() - from) / kPeriodSeconds) - static_cast<long long>(kPeriodsKept);
        const bool lost = frame / periodFrames < oldestKept; // the device's buffer overran
        if (lost)
            frame = oldestKept * periodFrames;
        const long long periodsToLast = (frame + count - 1) / periodFrames + 1;
        if (!CapturedBy(from + static_cast<double>(periodsToLast) * kPeriodSeconds, run))
            continue; // stopped, paused or run anew: nothing of this run is handed on
        auto* frames = reinterpret_cast<short*>(data);
        Tuning tuning = {};
        double changeRead = 0;
        int changedTo = -1;
        for (long long i = 0; i < count; ++i)
        {
            if (i == 0 || (frame + i) % periodFrames == 0)
            {
                const long long index = (frame + i) / periodFrames; // of the period the frame is in
                tuning = HeardAt(from + static_cast<double>(index) * kPeriodSeconds);
                if (tuning.toneHz != lastTone)
                    changedTo = lastTone = tuning.toneHz, changeRead = tuning.read;
            }
            const short value = tuning.toneHz > 0 ? static_cast<short>(kAmplitude * std::sin(phase)) : short{0};
            frames[2 * i] = frames[2 * i + 1] = value;
            phase = std::fmod(phase + kTwoPi * tuning.toneHz / m_rate, kTwoPi);
        }
        REFERENCE_TIME start = 0, stop = 0;
        bool stamped = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_runStamped)
            {
                start = m_runStartStream + (frame + count) * 10000000 / m_rate + kStreamOffsetMargin;
                stop = start + count * 10000000 / m_rate;
                stamped = true;
            }
        }
        frame += count;
        (void)sample->SetActualDataLength(static_cast<long>(count * kBytesPerFrame));
        (void)sample->SetTime(stamped ? &start : nullptr, stamped ? &stop : nullptr);
        (void)sample->SetSyncPoint(TRUE);
        (void)sample->SetDiscontinuity(lost);
        if (changedTo >= 0)
            LogToneChange(changedTo, changeRead, Seconds());
        if (m_input->Receive(sample.Get()) != S_OK)
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stopping)
                break;
        }
    }
    ::CoUninitialize();
}

} // namespace

IBaseFilter* NewSimAudioSource()
{
    return new SimSource();
}
