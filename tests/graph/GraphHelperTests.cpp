#include "TestFilters.h"
#include "framework/Exceptions.h"
#include "graph/DShowHelpers.h"

#include <gtest/gtest.h>

#include <uuids.h>

#include <cstring>

namespace
{
const CLSID kProbeClass = {0x5a4d0b7e, 0x9c1f, 0x4e5b, {0x8e, 0x3a, 0x2f, 0x9d, 0x6c, 0x7b, 0x1b, 0x01}};

TEST(GraphHelpers, NamesAndOwnersOfFiltersAndPins)
{
    EXPECT_EQ(L"", GetFilterName(nullptr));
    EXPECT_EQ(L"", GetPinName(nullptr));
    EXPECT_EQ(nullptr, GetGraphFromFilter(nullptr));
    EXPECT_EQ(nullptr, GetFilterFromPin(nullptr));
    EXPECT_EQ(GUID_NULL, GetFilterCLSID(nullptr));
    {
        ComPtr<IBaseFilter> filter = MakeTestFilter({L"probe", kProbeClass, {{L"Out", PINDIR_OUTPUT, {}}}});
        EXPECT_EQ(nullptr, GetGraphFromFilter(filter.Get())) << "in no graph";
        EXPECT_EQ(kProbeClass, GetFilterCLSID(filter.Get()));

        ComPtr<IGraphBuilder> graph;
        ASSERT_HRESULT_SUCCEEDED(
            ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder, graph.PutVoid()));
        ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(filter.Get(), L"Probe in graph"));
        EXPECT_EQ(L"Probe in graph", GetFilterName(filter.Get()));
        ComPtr<IFilterGraph> asFilterGraph = graph.As<IFilterGraph>(IID_IFilterGraph);
        EXPECT_EQ(asFilterGraph.Get(), GetGraphFromFilter(filter.Get()));
        ComPtr<IPin> pin = FindPin(filter.Get(), L"Out");
        EXPECT_EQ(L"Out", GetPinName(pin.Get()));
        EXPECT_EQ(filter.Get(), GetFilterFromPin(pin.Get()));
    }
    EXPECT_EQ(0, LiveTestObjects()) << "every reference the helpers took is given back";
}

struct GuidTextCase
{
    const char* text;
    GUID guid;
};

const GuidTextCase kGuidTexts[] = {
    {"{00000000-0000-0000-0000-000000000000}", GUID_NULL},
    {"{73647561-0000-0010-8000-00AA00389B71}", MEDIATYPE_Audio},
    {"{48025243-2D39-11CE-875D-00608CB78066}",
     {0x48025243, 0x2d39, 0x11ce, {0x87, 0x5d, 0x00, 0x60, 0x8c, 0xb7, 0x80, 0x66}}},
};

TEST(GraphHelpers, GuidTextsRoundTripAndBadTextGivesGuidNull)
{
    for (const GuidTextCase& c : kGuidTexts)
    {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CStringFromGUID(c.guid), c.text);
        EXPECT_EQ(38, CStringFromGUID(c.guid).GetLength());
        EXPECT_EQ(c.guid, GUIDFromCString(c.text));
    }
    EXPECT_EQ(MEDIATYPE_Audio, GUIDFromCString("{73647561-0000-0010-8000-00aa00389b71}"));
    for (const char* bad :
         {"", "73647561-0000-0010-8000-00AA00389B71", "{7364756}", "{zz647561-0000-0010-8000-00AA00389B71}"})
    {
        SCOPED_TRACE(bad);
        EXPECT_EQ(GUID_NULL, GUIDFromCString(bad));
    }
}

TEST(GraphHelpers, EmptyTextGivesAnEmptyBstrAndFailuresRaiseTheirKind)
{
    UniqueBstr empty = BstrFromText("");
    ASSERT_NE(nullptr, empty.Get());
    EXPECT_EQ(0u, ::SysStringLen(empty.Get()));
    EXPECT_EQ(nullptr, BstrFromText(nullptr).Get());
    EXPECT_STREQ(L"FriendlyName", BstrFromText("FriendlyName").Get());

    EXPECT_THROW(RaiseComError(E_OUTOFMEMORY), CMemoryException);
    try
    {
        RaiseComError(E_FAIL);
        FAIL() << "no exception";
    }
    catch (const COleException& error)
    {
        EXPECT_EQ(static_cast<HRESULT>(0x80004005), error.m_sc);
    }
}

TEST(MediaTypeRecords, CopiesOwnTheirFormatBlockAndCountTheirObject)
{
    {
        ComPtr<IBaseFilter> counted = MakeTestFilter({L"unk", kProbeClass, {}});
        AM_MEDIA_TYPE source = {};
        source.majortype = MEDIATYPE_Audio;
        source.pUnk = counted.CopyOut(); // the record owns this reference
        source.cbFormat = 20;
        source.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(20));
        std::memset(source.pbFormat, 0x5A, 20);

        auto* copy = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        ASSERT_HRESULT_SUCCEEDED(CopyMediaTypeRecord(copy, &source));
        ASSERT_NE(source.pbFormat, copy->pbFormat);
        EXPECT_EQ(20u, copy->cbFormat);
        FreeMediaTypeRecord(&source);
        EXPECT_EQ(nullptr, source.pbFormat);
        EXPECT_EQ(0u, source.cbFormat);
        EXPECT_EQ(0x5A, copy->pbFormat[19]) << "the copy outlives the original's block";

        CMediaType wrapped(*copy);
        CMediaType& self = wrapped;
        EXPECT_HRESULT_SUCCEEDED(wrapped.Assign(self));
        EXPECT_EQ(0x5A, wrapped.pbFormat[0]) << "assignment to itself changes nothing";
        DeleteMediaTypeRecord(copy);
        EXPECT_EQ(0x5A, wrapped.pbFormat[19]);

        // Out of memory for the format block: the copy holds no reference to release.
        AM_MEDIA_TYPE failed = {};
        {
            TaskMemorySpy spy;
            spy.FailNextAllocation();
            EXPECT_EQ(E_OUTOFMEMORY, CopyMediaTypeRecord(&failed, &wrapped));
        }
        ASSERT_EQ(nullptr, failed.pUnk);
        EXPECT_EQ(nullptr, failed.pbFormat);
        FreeMediaTypeRecord(&failed);

        AM_MEDIA_TYPE bare = {};
        bare.pUnk = counted.Get();
        CMediaType noBlock(bare);
        EXPECT_EQ(nullptr, noBlock.pbFormat) << "no format, nothing allocated";
        CMediaType defaults;
        EXPECT_TRUE(defaults.bFixedSizeSamples);
        EXPECT_EQ(1u, defaults.lSampleSize);
    }
    EXPECT_EQ(0, LiveTestObjects()) << "each copy's reference to pUnk is released exactly once";
}
} // namespace
