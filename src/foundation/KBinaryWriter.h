#pragma once
// Writing of binary files, the counterpart of KBinaryReader: integers of 8 to 64 bits in
// either byte order, IEEE floats and doubles, DEC single floats. The first failure is
// kept and every later write is dropped, so a caller checks once at the end.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/KBinaryReader.h"

// Where a binary writer puts its bytes when they do not go to memory.
class KBinarySink {
public:
    virtual ~KBinarySink() = default;
    // Writes all `count` bytes; false when it could not.
    virtual bool Write(const void* data, size_t count) = 0;
};

class KBinaryWriter {
public:
    // Appends to `out`.
    explicit KBinaryWriter(std::vector<uint8_t>& out, KByteOrder order = KByteOrder::eLittle);
    explicit KBinaryWriter(KBinarySink& sink, KByteOrder order = KByteOrder::eLittle);

    void SetByteOrder(KByteOrder order) { mOrder = order; }
    KByteOrder GetByteOrder() const { return mOrder; }
    bool Ok() const { return mOk; }
    void Fail() { mOk = false; }
    // Bytes written through this writer.
    uint64_t Written() const { return mWritten; }

    bool Bytes(const void* data, size_t count);
    void U8(uint8_t v) { Bytes(&v, 1); }
    void I8(int8_t v) { U8(static_cast<uint8_t>(v)); }
    void U16(uint16_t v);
    void I16(int16_t v) { U16(static_cast<uint16_t>(v)); }
    void U32(uint32_t v);
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void U64(uint64_t v);
    void I64(int64_t v) { U64(static_cast<uint64_t>(v)); }
    void F32(float v);
    void F64(double v);
    void DecF32(float v);

private:
    std::vector<uint8_t>* mOut = nullptr;
    KBinarySink* mSink = nullptr;
    KByteOrder mOrder;
    bool mOk = true;
    uint64_t mWritten = 0;
};
