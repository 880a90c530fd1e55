// libFuzzer target for the FilterData readers: whatever the bytes, no crash and no read
// outside the record (AddressSanitizer watches every access).
#include "graph/FilterDataRecord.h"

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy, so that a read one byte past the record is caught.
    std::unique_ptr<uint8_t[]> record(new uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(record.get(), data, size);

    const FilterDataRecord read = ReadFilterDataRecord(record.get(), size);
    if (read.inputTypes.size() % 2 != 0)
        std::abort(); // types come in (major, subtype) pairs
    if (!read.meritRead && (read.complete || !read.inputTypes.empty()))
        std::abort();
    const bool whole = IsWholeFilterDataRecord(record.get(), size);
    if (whole && !read.meritRead)
        std::abort(); // a whole record has a version-2 header
    return 0;
}
