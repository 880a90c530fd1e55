// A live audio capture source: one output pin in the capture category offering 16-bit PCM,
// 44100 Hz, stereo, fed by a delivery thread with a sine at the simulated receiver's tone.
#include "sim/SimAudioSource.h"

#include "graph/ComPtr.h"
#include "graph/DShowHelpers.h"
#include "sim/ComBase.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

namespace
{
constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kBytesPerFrame = kChannels * 2;
constexpr int kFramesPerBuffer = kRate / 20; // 50 ms
// How far delivery keeps ahead of real time, as a capture device's own buffering does: a thread
// scheduled late on a busy machine still finds the renderer with something to play.
constexpr double kLeadSeconds = 0.2;
constexpr double kAmplitude = 0.3 * 32767;
const wchar_t kPinName[] = L"Capture";

const WAVEFORMATEX kFormat = {WAVE_FORMAT_PCM, kChannels, kRate, kRate* kBytesPerFrame, kBytesPerFrame, 16, 0};

const AM_MEDIA_TYPE kPcmType = {
    MEDIATYPE_Audio, MEDIASUBTYPE_PCM, TRUE,
    FALSE,           kBytesPerFrame,   FORMAT_WaveFormatEx,
    nullptr,         sizeof(kFormat),  reinterpret_cast<BYTE*>(const_cast<WAVEFORMATEX*>(&kFormat))};

bool IsOurType(const AM_MEDIA_TYPE& type)
{
    if (!SameKind(type, kPcmType))
        return false;
    if (type.formattype == FORMAT_WaveFormatEx && type.cbFormat >= sizeof(WAVEFORMATEX) && type.pbFormat)
        return std::memcmp(type.pbFormat, &kFormat, sizeof(WAVEFORMATEX) - sizeof(WORD)) == 0;
    return type.formattype == GUID_NULL || type.formattype == FORMAT_WaveFormatEx;
}

class SimSource;

// The one output pin; its transport needs the source's allocator, so the source makes it.
class SimPin final : public PinBase
{
  public:
    explicit SimPin(SimSource& source);
    STDMETHODIMP Disconnect() override;

  private:
    size_t TypeCount() const override { return 1; }
    bool OfferedType(size_t, AM_MEDIA_TYPE* type) const override { return *type = kPcmType, true; }
    bool Accepts(const AM_MEDIA_TYPE& type) const override { return IsOurType(type); }
    HRESULT CompleteConnect(IPin* receiver) override;

    SimSource& m_source;
};

class SimSource final : public FilterBase
{
  public:
    SimSource();

    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override { return ChangeState(State_Paused); }
    STDMETHODIMP Run(REFERENCE_TIME) override { return ChangeState(State_Running); }
    // A live source has nothing to cue while paused.
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        *state = m_state;
        return m_state == State_Paused ? VFW_S_CANT_CUE : S_OK;
    }

    // The transport to `receiver`, which has taken our type.
    HRESULT ConnectTransport(IPin* receiver);
    // The delivery thread uses the peer's input and allocator while the filter is not stopped.
    HRESULT DropTransport();

  private:
    ~SimSource() override;
    size_t PinCount() const override { return 1; }
    PinBase& PinAt(size_t) override { return m_pin; }

    // Every change to Paused or Running goes through here; Stop ends the delivery thread too.
    HRESULT ChangeState(FILTER_STATE state);
    void Deliver();

    SimPin m_pin{*this};
    ComPtr<IMemInputPin> m_input;
    ComPtr<IMemAllocator> m_allocator;

    // How the source lives and changes state, in one place:
    // - A state change (Stop, Pause, Run) and the end of the transport (Disconnect) run one at a
    //   time under m_stateChange, held for the whole change, Stop's join of the delivery thread
    //   included: no change starts or looks at the thread while another starts or ends it, and the
    //   transport (m_input, m_allocator) cannot go while a thread that uses it still runs.
    // - The delivery thread runs from the first change out of Stopped to the Stop that joins it.
    //   It shares m_state and m_stopping with the changes under m_lock, woken through m_wake, and
    //   never takes m_stateChange, so that a Stop can wait for it. Pause never waits for it: it may
    //   be blocked in a paused renderer.
    // - The object goes with its last Release, stopped first by its destructor; nothing else holds
    //   a pointer to it.
    std::mutex m_stateChange;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_delivery;
};

SimPin::SimPin(SimSource& source) : PinBase(source, kPinName, PINDIR_OUTPUT, true), m_source(source) {}

HRESULT SimPin::CompleteConnect(IPin* receiver)
{
    return m_source.ConnectTransport(receiver);
}

STDMETHODIMP SimPin::Disconnect()
{
    const HRESULT result = m_source.DropTransport();
    return FAILED(result) ? result : PinBase::Disconnect();
}

SimSource::SimSource() : FilterBase(CLSID_SimAudioSource) {}

SimSource::~SimSource()
{
    Stop();
}

HRESULT SimSource::ConnectTransport(IPin* receiver)
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
    ALLOCATOR_PROPERTIES wanted = {4, kFramesPerBuffer * kBytesPerFrame, 1, 0};
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT result = allocator->SetProperties(&wanted, &actual);
    if (SUCCEEDED(result))
        result = input->NotifyAllocator(allocator.Get(), FALSE);
    if (FAILED(result))
    {
        (void)receiver->Disconnect();
        return result;
    }
    m_input = input;
    m_allocator = allocator;
    return S_OK;
}

HRESULT SimSource::DropTransport()
{
    std::lock_guard<std::mutex> change(m_stateChange);
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_state != State_Stopped || m_delivery.joinable())
        return VFW_E_NOT_STOPPED;
    m_input.Reset();
    m_allocator.Reset();
    return S_OK;
}

// Pause never waits for the delivery thread: it may be blocked in a paused renderer.
HRESULT SimSource::ChangeState(FILTER_STATE state)
{
    std::lock_guard<std::mutex> change(m_stateChange);
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_state == State_Stopped && m_allocator && !m_delivery.joinable())
    {
        (void)m_allocator->Commit(); // a failure shows as a failed GetBuffer in the thread
        m_stopping = false;
        try
        {
            m_delivery = std::thread([this] { Deliver(); });
        }
        catch (const std::exception&) // no thread to be had (std::system_error, std::bad_alloc)
        {
            return E_OUTOFMEMORY;
        }
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
    // Decommitting wakes a thread waiting for a buffer; it then sees m_stopping.
    if (m_allocator)
        (void)m_allocator->Decommit();
    if (m_delivery.joinable())
        m_delivery.join();
    std::lock_guard<std::mutex> guard(m_lock);
    m_stopping = false;
    return S_OK;
}

// Delivers 50 ms buffers at the pace of the wall clock while running. The samples carry no
// time stamps: a live source has no stream time to give, and the renderer plays them on arrival.
void SimSource::Deliver()
{
    (void)::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    double phase = 0;
    LARGE_INTEGER frequency;
    LARGE_INTEGER started;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&started);
    long long deliveredFrames = 0;
    for (;;)
    {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            if (m_state != State_Running && !m_stopping)
            {
                m_wake.wait(lock, [&] { return m_stopping || m_state == State_Running; });
                // Real time starts again from here: a pause is not made up for with a burst.
                ::QueryPerformanceCounter(&started);
                deliveredFrames = 0;
            }
            if (m_stopping)
                break;
        }
        ComPtr<IMediaSample> sample;
        if (FAILED(m_allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0)) || !sample)
            break;
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) || !data)
            break;
        // Never more than the allocator granted.
        const int frameCount = std::min<int>(kFramesPerBuffer, sample->GetSize() / kBytesPerFrame);
        const double tone = ReceiverToneHz();
        auto* frames = reinterpret_cast<short*>(data);
        for (int i = 0; i < frameCount; ++i)
        {
            const short value = tone > 0 ? static_cast<short>(kAmplitude * std::sin(phase)) : short{0};
            frames[2 * static_cast<size_t>(i)] = value;
            frames[2 * static_cast<size_t>(i) + 1] = value;
            phase = std::fmod(phase + 2 * 3.14159265358979323846 * tone / kRate, 2 * 3.14159265358979323846);
        }
        (void)sample->SetActualDataLength(frameCount * kBytesPerFrame);
        (void)sample->SetTime(nullptr, nullptr);
        (void)sample->SetSyncPoint(TRUE);
        if (m_input->Receive(sample.Get()) != S_OK)
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stopping)
                break;
        }
        // Keep to real time, a little ahead: the next buffer is due when this one has played.
        deliveredFrames += frameCount;
        const double due = static_cast<double>(deliveredFrames) / kRate - kLeadSeconds;
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        const double elapsed =
            static_cast<double>(now.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart);
        if (due > elapsed)
            ::Sleep(static_cast<DWORD>((due - elapsed) * 1000));
    }
    ::CoUninitialize();
}

} // namespace

IBaseFilter* NewSimAudioSource()
{
    return new SimSource();
}
