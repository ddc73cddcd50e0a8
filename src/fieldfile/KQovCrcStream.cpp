#include "fieldfile/KQovCrcStream.h"

#include <zlib.h>

KQovCrcStream::KQovCrcStream(KQovStream* base, int64_t start, bool owned)
    : KQovStreamLayer(base, owned), mStart(start) {}

uint32_t KQovCrcStream::Update(uint32_t crc, const void* data, uint64_t count) {
    const Bytef* bytes = static_cast<const Bytef*>(data);
    while (count > 0) {
        uInt chunk = count > 0x40000000u ? 0x40000000u : static_cast<uInt>(count);
        crc = static_cast<uint32_t>(crc32(crc, bytes, chunk));
        bytes += chunk;
        count -= chunk;
    }
    return crc;
}

void KQovCrcStream::Add(int64_t position, const void* data, uint32_t count) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (position < mStart) {
        int64_t skip = mStart - position;
        if (skip >= count) return;
        bytes += skip;
        count -= static_cast<uint32_t>(skip);
    }
    mCrc = Update(mCrc, bytes, count);
}

uint32_t KQovCrcStream::Read(void* buffer, uint32_t count) {
    int64_t position = Tell();
    uint32_t got = KQovStreamLayer::Read(buffer, count);
    Add(position, buffer, got);
    return got;
}

uint32_t KQovCrcStream::Write(const void* buffer, uint32_t count) {
    int64_t position = Tell();
    uint32_t put = KQovStreamLayer::Write(buffer, count);
    Add(position, buffer, put);
    return put;
}
