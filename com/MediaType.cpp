#include "com/MediaType.h"
#include <cstring>

HRESULT CopyMediaTypeRecord(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source)
{
    *target = *source;
    if (source->cbFormat != 0)
    {
        target->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat)
        {
            // The copy holds no reference of its own to the source's object: it must not release it.
            target->cbFormat = 0;
            target->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    }
    if (target->pUnk)
        target->pUnk->AddRef();
    return S_OK;
}

void FreeMediaTypeRecord(AM_MEDIA_TYPE* record)
{
    if (record->cbFormat != 0)
    {
        ::CoTaskMemFree(record->pbFormat);
        record->cbFormat = 0;
        record->pbFormat = nullptr;
    }
    if (record->pUnk)
    {
        record->pUnk->Release();
        record->pUnk = nullptr;
    }
}

void DeleteMediaTypeRecord(AM_MEDIA_TYPE* record)
{
    if (!record)
        return;
    FreeMediaTypeRecord(record);
    ::CoTaskMemFree(record);
}

CMediaType::CMediaType() : AM_MEDIA_TYPE()
{
    bFixedSizeSamples = TRUE;
    lSampleSize = 1;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& source, HRESULT* result) : AM_MEDIA_TYPE()
{
    const HRESULT copied = CopyMediaTypeRecord(this, &source);
    if (result)
        *result = copied;
}

HRESULT CMediaType::Assign(const AM_MEDIA_TYPE& source)
{
    if (&source == this)
        return S_OK;
    FreeMediaTypeRecord(this);
    return SUCCEEDED(CopyMediaTypeRecord(this, &source)) ? S_OK : E_OUTOFMEMORY;
}
