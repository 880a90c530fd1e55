// AM_MEDIA_TYPE records, as every DirectShow object of ours hands them over and takes them back.
#pragma once

#include <windows.h>

#include <strmif.h>

// AM_MEDIA_TYPE record operations. A record owns its format block exactly when cbFormat != 0.
HRESULT CopyMediaTypeRecord(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
void FreeMediaTypeRecord(AM_MEDIA_TYPE* record);
// For records that enumerators hand out: frees the contents, then the record itself.
void DeleteMediaTypeRecord(AM_MEDIA_TYPE* record);

class CMediaType : public AM_MEDIA_TYPE
{
  public:
    CMediaType();
    explicit CMediaType(const AM_MEDIA_TYPE& source, HRESULT* result = nullptr);
    CMediaType(const CMediaType& source) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(source)) {}
    ~CMediaType() { FreeMediaTypeRecord(this); }
    // E_OUTOFMEMORY when the format block cannot be copied.
    HRESULT Assign(const AM_MEDIA_TYPE& source);
    CMediaType& operator=(const CMediaType& source)
    {
        (void)Assign(source); // a failed copy leaves an empty format block, as Assign documents
        return *this;
    }
};
