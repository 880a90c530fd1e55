// Readers of the FilterData registration record (the serialised REGFILTER2 that filter
// registrations carry). The bytes come from the registry, which any installed program can
// write, so both readers check every read against the record's size. They make no platform
// calls and build for any host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

using RecordGuid = std::array<uint8_t, 16>;

struct FilterDataRecord
{
    bool meritRead = false;             // version 2 and the merit were present
    uint32_t merit = 0;                 // the registered (32-bit) merit
    std::vector<RecordGuid> inputTypes; // major type, subtype, ... of the input pins, in order
    bool complete = false;              // every pin record lay within the record
};

// The library's own reader: pins of 24 bytes, each followed by its 16-byte media-type records,
// the next pin directly after them. A media type whose GUID offsets do not lie past its own
// record and within the value is skipped; a read past the end stops the reader.
FilterDataRecord ReadFilterDataRecord(const uint8_t* bytes, size_t size);

// True when the platform's own parser can read the record without leaving it: version 2, and
// every pin record, media-type record, medium offset, pin category and GUID within bounds.
bool IsWholeFilterDataRecord(const uint8_t* bytes, size_t size);
