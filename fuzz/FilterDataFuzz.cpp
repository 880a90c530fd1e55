// libFuzzer target: the FilterData readers and the gate on any bytes, natively, under
// AddressSanitizer and UndefinedBehaviorSanitizer. The record is copied to a block of exactly its
// size, so a read past it is a read past an allocation. What the gate calls whole, our reader
// must read as a version-2 record too.
#include "graph/FilterDataRecord.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> record(data, data + size);
    const FilterDataRecord own = ReadFilterDataRecord(record.data(), record.size());
    if (IsWholeFilterDataRecord(record.data(), record.size()) && !own.meritRead)
        std::abort();
    return 0;
}
