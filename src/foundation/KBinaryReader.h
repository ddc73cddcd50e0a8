#pragma once
// Bounded reading of binary files: integers of 8 to 64 bits in either byte order, IEEE
// floats and doubles, and the DEC (VAX F) single float of older motion-capture files.
// Every read is checked against the end of the window it reads in; the first failure
// is kept and every later read gives zeros, so a caller checks once at the end.

#include <cstddef>
#include <cstdint>
#include <cstring>

enum class KByteOrder : uint8_t { eLittle, eBig };

constexpr KByteOrder kHostByteOrder =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? KByteOrder::eLittle : KByteOrder::eBig;

// Loads and stores of numbers at unaligned addresses in a given byte order.
inline uint16_t KLoadU16(const void* at, KByteOrder order) {
    uint16_t v;
    std::memcpy(&v, at, 2);
    return order == kHostByteOrder ? v : __builtin_bswap16(v);
}
inline uint32_t KLoadU32(const void* at, KByteOrder order) {
    uint32_t v;
    std::memcpy(&v, at, 4);
    return order == kHostByteOrder ? v : __builtin_bswap32(v);
}
inline uint64_t KLoadU64(const void* at, KByteOrder order) {
    uint64_t v;
    std::memcpy(&v, at, 8);
    return order == kHostByteOrder ? v : __builtin_bswap64(v);
}
inline void KStoreU16(void* at, uint16_t v, KByteOrder order) {
    if (order != kHostByteOrder) v = __builtin_bswap16(v);
    std::memcpy(at, &v, 2);
}
inline void KStoreU32(void* at, uint32_t v, KByteOrder order) {
    if (order != kHostByteOrder) v = __builtin_bswap32(v);
    std::memcpy(at, &v, 4);
}
inline void KStoreU64(void* at, uint64_t v, KByteOrder order) {
    if (order != kHostByteOrder) v = __builtin_bswap64(v);
    std::memcpy(at, &v, 8);
}

// DEC single floats: two little-endian 16-bit words, the first holding sign, 8-bit
// exponent (excess 128) and the top 7 fraction bits, the second the low 16; the value
// is 0.1f x 2^(e-128) with a hidden leading bit, so an exponent of 0 is zero.
float KDecodeDecFloat(const uint8_t bytes[4]);
// The nearest DEC float: magnitudes beyond its range become its largest value, those
// below its smallest become 0, and a NaN becomes 0.
void KEncodeDecFloat(float value, uint8_t bytes[4]);

// Where a bounded reader takes its bytes when they do not lie in memory.
class KBinarySource {
public:
    virtual ~KBinarySource() = default;
    // Reads up to `count` bytes at the current position; the number read.
    virtual size_t Read(void* out, size_t count) = 0;
    virtual bool Seek(uint64_t position) = 0;
};

class KBinaryReader {
public:
    enum Failure { eNoFailure, eOutOfBounds, eReadFailed };

    // Reads the bytes [data, data + size); positions count from data.
    KBinaryReader(const void* data, size_t size, KByteOrder order = KByteOrder::eLittle);
    // Reads the source's positions [position, end); the source is at `position`.
    KBinaryReader(KBinarySource& source, uint64_t position, uint64_t end,
                  KByteOrder order = KByteOrder::eLittle);

    void SetByteOrder(KByteOrder order) { mOrder = order; }
    KByteOrder GetByteOrder() const { return mOrder; }

    bool Ok() const { return mFailure == eNoFailure; }
    Failure GetFailure() const { return mFailure; }
    // Makes the reader fail (a caller's own check of what it read); the first failure stays.
    void Fail(Failure failure = eOutOfBounds);

    uint64_t Position() const { return mPos; }
    uint64_t Begin() const { return mBegin; }
    uint64_t End() const { return mEnd; }
    uint64_t Remaining() const { return mEnd > mPos ? mEnd - mPos : 0; }
    // False, and failed, when fewer than `count` bytes remain (or the reader failed before).
    bool Fits(uint64_t count);
    bool Skip(uint64_t count);
    // Moves to an absolute position within [Begin(), End()].
    bool Seek(uint64_t position);
    // A narrower reader over the next `count` bytes (memory readers only), which this one
    // skips; a failed one when they do not fit.
    KBinaryReader Sub(uint64_t count);
    // The next `count` bytes in memory, skipped; null when they do not fit or the reader
    // reads from a source.
    const uint8_t* Span(size_t count);

    // `count` bytes; zeros when they do not fit.
    bool Bytes(void* out, size_t count);
    uint8_t U8();
    int8_t I8() { return static_cast<int8_t>(U8()); }
    uint16_t U16();
    int16_t I16() { return static_cast<int16_t>(U16()); }
    uint32_t U32();
    int32_t I32() { return static_cast<int32_t>(U32()); }
    uint64_t U64();
    int64_t I64() { return static_cast<int64_t>(U64()); }
    float F32();
    double F64();
    float DecF32();

private:
    KBinaryReader() = default;
    const uint8_t* mData = nullptr;
    KBinarySource* mSource = nullptr;
    uint64_t mBegin = 0, mPos = 0, mEnd = 0;
    KByteOrder mOrder = KByteOrder::eLittle;
    Failure mFailure = eNoFailure;
};
