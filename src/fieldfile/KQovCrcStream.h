#pragma once
// A pass-through stream that sums CRC-32 (the zlib polynomial) over every byte read or
// written from a start position on, and checks it against an expected value.

#include <cstdint>

#include "fieldfile/KQovStream.h"

class KQovCrcStream : public KQovStreamLayer {
public:
    KQovCrcStream(KQovStream* base, int64_t start, bool owned);

    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t count) override;

    uint32_t GetCrc() const { return mCrc; }
    bool Check(uint32_t expected) const { return mCrc == expected; }
    // The CRC-32 of a byte range, continuing from `crc` (0 to begin).
    static uint32_t Update(uint32_t crc, const void* data, uint64_t count);

private:
    void Add(int64_t position, const void* data, uint32_t count);
    int64_t mStart;
    uint32_t mCrc = 0;
};
