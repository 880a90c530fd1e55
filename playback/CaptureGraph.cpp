// The live graph: the receiver's capture pin into a Smart Tee whose capture output our own
// builder renders to the sound output.
#include "app/WavelarkPlayerDlg.h"
#include "framework/OsCalls.h"
#include "graph/ComRecords.h"
#include "graph/EnumItems.h"
#include "graph/GraphBuilder.h"

#include <uuids.h>

#include <algorithm>

namespace
{
// A tuner is tuned by ear, and a change is heard only once the input has handed over the buffer
// it falls in: at its default (half a second for the platform's Audio Capture filter) a step is
// heard more than half a second late. The platform's documentation finds 30 or 40 ms buffers
// may suffice; 30 ms played without a gap on both builds on a busy machine.
constexpr long kLiveBufferMs = 30;

// Asks `pin`, before it connects, for buffers of kLiveBufferMs in whole frames of its own format.
// An input that cannot say its format or take a suggestion keeps its own buffers.
void SuggestLiveBuffers(IPin* pin)
{
    ComPtr<IAMStreamConfig> config;
    ComPtr<IAMBufferNegotiation> negotiation;
    UniqueMediaType type;
    AM_MEDIA_TYPE* format = nullptr;
    if (FAILED(pin->QueryInterface(IID_IAMStreamConfig, config.PutVoid())) || !config ||
        FAILED(pin->QueryInterface(IID_IAMBufferNegotiation, negotiation.PutVoid())) || !negotiation ||
        FAILED(config->GetFormat(&format)) || (type.reset(format), !type))
        return;
    // Only a whole wave format counts; other programs' filters may hand over anything.
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
    if (type->formattype != FORMAT_WaveFormatEx || type->cbFormat < sizeof(WAVEFORMATEX) || !wave ||
        wave->nBlockAlign == 0 || wave->nAvgBytesPerSec < wave->nBlockAlign)
        return;
    const long long bytes = static_cast<long long>(wave->nAvgBytesPerSec) * kLiveBufferMs / 1000;
    const ALLOCATOR_PROPERTIES wanted = {
        -1, static_cast<long>(std::max<long long>(bytes - bytes % wave->nBlockAlign, wave->nBlockAlign)), -1, -1};
    (void)negotiation->SuggestAllocatorProperties(&wanted); // refused: the input's own buffers
}
} // namespace

bool CWavelarkPlayerDlg::BuildPreviewGraph()
{
    if (!m_captureBuilder)
        return false;
    RemoveDownstream(m_audioCapture.Get(), m_graph.Get());
    ComPtr<IPin> capturePin;
    ComPtr<IPin> previewPin;
    (void)InsertSmartTee(m_audioCapture.Get(), capturePin.Put(), previewPin.Put());
    CGraphBuilderCapture builder(m_graph.Get());
    // Only the tee's capture output is rendered, and only when the tee has both outputs.
    if (previewPin)
        (void)builder.RenderPin(capturePin.Get()); // what could not be rendered just stays silent
    return true;
}

bool CWavelarkPlayerDlg::InsertSmartTee(IBaseFilter* audioFilter, IPin** capturePin, IPin** previewPin)
{
    *capturePin = nullptr;
    *previewPin = nullptr;
    if (!audioFilter)
        return true;
    ComPtr<IPin> source;
    if (FAILED(m_captureBuilder->FindPin(audioFilter, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, TRUE, 0,
                                         source.Put())) ||
        !source)
    {
        (void)Os().MessageBoxA(m_hWnd, "No audio capture pin found", nullptr, MB_OK);
        return false;
    }
    ComPtr<IBaseFilter> tee;
    if (FAILED(::CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_ALL, IID_IBaseFilter, tee.PutVoid())) || !tee ||
        FAILED(m_graph->AddFilter(tee.Get(), L"Smart Tee (audio)")))
        return true; // no tee: both pins stay null and nothing is rendered
    SuggestLiveBuffers(source.Get());
    (void)m_captureBuilder->RenderStream(nullptr, &MEDIATYPE_Audio, source.Get(), nullptr, tee.Get());
    (void)tee->FindPin(L"Preview", previewPin);
    (void)tee->FindPin(L"Capture", capturePin);
    return true;
}

void CWavelarkPlayerDlg::RemoveDownstream(IBaseFilter* filter, IGraphBuilder* graph)
{
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(pins.Put())) || !pins)
        return;
    ComPtr<IPin> pin;
    while (NextItem(pins.Get(), pin))
    {
        ComPtr<IPin> peer;
        UniquePinInfo info;
        if (FAILED(pin->ConnectedTo(peer.Put())) || !peer || FAILED(peer->QueryPinInfo(info.Put())))
            continue;
        if (info.dir != PINDIR_INPUT)
            continue; // the filter's own input: upstream stays
        RemoveDownstream(info.pFilter, graph);
        (void)graph->Disconnect(peer.Get());
        (void)graph->Disconnect(pin.Get());
        (void)graph->RemoveFilter(info.pFilter);
    }
}
