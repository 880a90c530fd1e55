// How long our capture builder takes to render the virtual receiver's capture pin to the
// default audio renderer, against the platform's own IGraphBuilder::Render, with 50 decoy filters
// registered. Runs alternate in one process; the last line is the ratio of the medians.
#include "com/ComBase.h"
#include "graph/DShowHelpers.h"
#include "graph/EnumItems.h"
#include "graph/GraphBuilder.h"
#include "virtual_receiver/audio/SimAudioSource.h"

#include <uuids.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace
{
constexpr int kRuns = 25;

constexpr GUID BenchGuid(BYTE high, BYTE low)
{
    return {0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, high, low}};
}

// Decoys at assorted merits: most take types no pin offers; every fifth takes PCM at a merit
// neither builder may use. None is ever made.
std::vector<std::unique_ptr<ServedFilter>> RegisterDecoys()
{
    std::vector<std::unique_ptr<ServedFilter>> decoys;
    for (BYTE i = 0; i < 50; ++i)
    {
        const bool pcm = i % 5 == 0;
        const TypePair takes =
            pcm ? TypePair{MEDIATYPE_Audio, MEDIASUBTYPE_PCM} : TypePair{BenchGuid(0x50, i), BenchGuid(0x51, i)};
        const DWORD merit = pcm ? 0x100000u + i : 0x200001u + 0x30000u * i;
        decoys.push_back(std::make_unique<ServedFilter>(
            BenchGuid(0x52, i), L"Decoy", [] { return nullptr; }, &CLSID_LegacyAmFilterCategory, merit,
            std::vector<RegisteredPin>{{false, {takes}}}));
    }
    return decoys;
}

double Milliseconds(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

// One render into a fresh graph; negative when it failed. `chain` receives the filters' names.
double RenderOnce(bool ours, std::vector<std::wstring>* chain = nullptr)
{
    ComPtr<IGraphBuilder> graph;
    if (FAILED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder, graph.PutVoid())))
        return -1;
    ComPtr<IBaseFilter> source;
    ComPtr<IPin> pin;
    if (FAILED(::CoCreateInstance(CLSID_SimAudioSource, nullptr, CLSCTX_ALL, IID_IBaseFilter, source.PutVoid())) ||
        FAILED(graph->AddFilter(source.Get(), L"Receiver audio")) || FAILED(source->FindPin(L"Capture", pin.Put())))
        return -1;

    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    HRESULT result;
    if (ours)
    {
        CGraphBuilderCapture builder(graph.Get());
        result = builder.RenderPin(pin.Get());
    }
    else
    {
        result = graph->Render(pin.Get());
    }
    ::QueryPerformanceCounter(&end);
    if (FAILED(result))
    {
        std::printf("%s render failed: 0x%08lx\n", ours ? "our" : "platform", static_cast<unsigned long>(result));
        return -1;
    }
    ComPtr<IEnumFilters> filters;
    ComPtr<IBaseFilter> filter;
    if (chain && SUCCEEDED(graph->EnumFilters(filters.Put())))
        while (NextItem(filters.Get(), filter))
            chain->push_back(GetFilterName(filter.Get()));
    return Milliseconds(end.QuadPart - start.QuadPart);
}

void PrintChain(const char* who, const std::vector<std::wstring>& chain)
{
    std::printf("%s graph:", who);
    for (const std::wstring& name : chain)
        std::printf(" [%ls]", name.c_str());
    std::printf("\n");
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main()
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    int status = 0;
    {
        const auto decoys = RegisterDecoys();
        std::vector<std::wstring> ourChain, platformChain;
        if (RenderOnce(true, &ourChain) < 0 || RenderOnce(false, &platformChain) < 0) // warm-up; both must work
            status = 1;
        PrintChain("our", ourChain);
        PrintChain("platform", platformChain);
        std::vector<double> ours, platform;
        for (int run = 0; run < kRuns && status == 0; ++run)
        {
            const double a = RenderOnce(run % 2 == 0);
            const double b = RenderOnce(run % 2 != 0);
            if (a < 0 || b < 0)
                status = 1;
            (run % 2 == 0 ? ours : platform).push_back(a);
            (run % 2 == 0 ? platform : ours).push_back(b);
        }
        if (status == 0)
        {
            const double oursMedian = Median(ours);
            const double platformMedian = Median(platform);
            std::printf("runs: %d each, 50 decoy filters registered\n", kRuns);
            std::printf("CGraphBuilderCapture::RenderPin median: %.3f ms\n", oursMedian);
            std::printf("IGraphBuilder::Render median: %.3f ms\n", platformMedian);
            std::printf("graph-builder ratio=%.3f\n", oursMedian / platformMedian);
        }
    }
    ::CoUninitialize();
    return status;
}
