#include "graph/FilterDataRecord.h"

#include <cstring>

namespace
{
constexpr uint32_t kSupportedVersion = 2;
constexpr uint64_t kHeaderBytes = 16;
constexpr uint64_t kPinBytes = 24;
constexpr uint64_t kMediaTypeBytes = 16;
constexpr uint64_t kGuidBytes = 16;
constexpr uint64_t kMediumBytes = 24; // a GUID and two 32-bit values
constexpr uint8_t kOutputFlag = 0x08;

// Bounds-checked little-endian reads; positions are 64-bit so that no sum of 32-bit fields wraps.
class RecordView
{
  public:
    RecordView(const uint8_t* bytes, size_t size) : m_bytes(bytes), m_size(bytes ? size : 0) {}

    bool Has(uint64_t offset, uint64_t length) const { return offset <= m_size && length <= m_size - offset; }
    uint32_t U32(uint64_t offset) const
    {
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | m_bytes[offset + static_cast<uint64_t>(i)];
        return value;
    }
    RecordGuid Guid(uint64_t offset) const
    {
        RecordGuid guid;
        std::memcpy(guid.data(), m_bytes + offset, guid.size());
        return guid;
    }

  private:
    const uint8_t* m_bytes;
    uint64_t m_size;
};
} // namespace

FilterDataRecord ReadFilterDataRecord(const uint8_t* bytes, size_t size)
{
    FilterDataRecord record;
    const RecordView view(bytes, size);
    if (!view.Has(0, 8) || view.U32(0) != kSupportedVersion)
        return record;
    record.meritRead = true;
    record.merit = view.U32(4);
    if (!view.Has(8, 4))
        return record;
    const uint32_t pinCount = view.U32(8);

    uint64_t position = kHeaderBytes;
    for (uint32_t pin = 0; pin < pinCount; ++pin)
    {
        if (!view.Has(position, kPinBytes))
            return record;
        const bool output = (view.U32(position + 4) & kOutputFlag) != 0;
        const uint32_t typeCount = view.U32(position + 12);
        position += kPinBytes;
        for (uint32_t type = 0; type < typeCount; ++type)
        {
            if (!view.Has(position, kMediaTypeBytes))
                return record;
            const uint64_t pastRecord = position + kMediaTypeBytes;
            const uint64_t major = view.U32(position + 8);
            const uint64_t subtype = view.U32(position + 12);
            position = pastRecord;
            const bool inBounds = major >= pastRecord && subtype >= pastRecord && view.Has(major, kGuidBytes) &&
                                  view.Has(subtype, kGuidBytes);
            if (inBounds && !output)
            {
                record.inputTypes.push_back(view.Guid(major));
                record.inputTypes.push_back(view.Guid(subtype));
            }
        }
    }
    record.complete = true;
    return record;
}

bool IsWholeFilterDataRecord(const uint8_t* bytes, size_t size)
{
    const RecordView view(bytes, size);
    if (!view.Has(0, kHeaderBytes) || view.U32(0) != kSupportedVersion)
        return false;
    const auto guidAt = [&](uint64_t offset) { return view.Has(offset, kGuidBytes); };

    // The platform's parser reads a pin's +20 as a flag: when it is set, the offset of the pin's
    // category follows the record and the media types start four bytes later.
    const uint32_t pinCount = view.U32(8);
    uint64_t position = kHeaderBytes;
    for (uint32_t pin = 0; pin < pinCount; ++pin)
    {
        if (!view.Has(position, kPinBytes))
            return false;
        const uint32_t typeCount = view.U32(position + 12);
        const uint32_t mediumCount = view.U32(position + 16);
        const bool hasCategory = view.U32(position + 20) != 0;
        position += kPinBytes;
        if (hasCategory)
        {
            if (!view.Has(position, 4) || !guidAt(view.U32(position)))
                return false;
            position += 4;
        }
        for (uint32_t type = 0; type < typeCount; ++type)
        {
            if (!view.Has(position, kMediaTypeBytes) || !guidAt(view.U32(position + 8)) ||
                !guidAt(view.U32(position + 12)))
                return false;
            position += kMediaTypeBytes;
        }
        for (uint32_t medium = 0; medium < mediumCount; ++medium)
        {
            if (!view.Has(position, 4) || !view.Has(view.U32(position), kMediumBytes))
                return false;
            position += 4;
        }
    }
    return true;
}
