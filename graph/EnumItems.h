// Walking an IEnum* enumerator one owned item at a time. An item counts only when Next said S_OK,
// fetched exactly one and handed back a non-null item: an installed filter whose enumerator says
// S_OK and hands back nothing ends the walk instead of crashing the player, and one that says
// S_OK forever with nothing cannot keep it walking.
#pragma once

#include "com/ComPtr.h"
#include "com/MediaType.h"

#include <strmif.h>

#include <memory>

struct MediaTypeDeleter
{
    void operator()(AM_MEDIA_TYPE* type) const { DeleteMediaTypeRecord(type); }
};
using UniqueMediaType = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

// The next item into `item` (released first); false at the end of the list or on anything else.
template <class Enum, class Item> bool NextItem(Enum* items, ComPtr<Item>& item)
{
    Item* next = nullptr;
    ULONG fetched = 0;
    const HRESULT result = items->Next(1, &next, &fetched);
    // One fetched is ours whatever was said; what was not counted as fetched is not ours to free.
    item.Attach(fetched == 1 ? next : nullptr);
    return result == S_OK && fetched == 1 && item;
}

inline bool NextItem(IEnumMediaTypes* types, UniqueMediaType& type)
{
    AM_MEDIA_TYPE* next = nullptr;
    ULONG fetched = 0;
    const HRESULT result = types->Next(1, &next, &fetched);
    type.reset(fetched == 1 ? next : nullptr);
    return result == S_OK && fetched == 1 && type;
}
