#include "foundation/KBinaryWriter.h"

KBinaryWriter::KBinaryWriter(std::vector<uint8_t>& out, KByteOrder order)
    : mOut(&out), mOrder(order) {}

KBinaryWriter::KBinaryWriter(KBinarySink& sink, KByteOrder order) : mSink(&sink), mOrder(order) {}

bool KBinaryWriter::Bytes(const void* data, size_t count) {
    if (!mOk) return false;
    if (count == 0) return true;
    if (mOut) {
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        mOut->insert(mOut->end(), bytes, bytes + count);
    } else if (!mSink->Write(data, count)) {
        mOk = false;
        return false;
    }
    mWritten += count;
    return true;
}

void KBinaryWriter::U16(uint16_t v) {
    uint8_t b[2];
    KStoreU16(b, v, mOrder);
    Bytes(b, 2);
}

void KBinaryWriter::U32(uint32_t v) {
    uint8_t b[4];
    KStoreU32(b, v, mOrder);
    Bytes(b, 4);
}

void KBinaryWriter::U64(uint64_t v) {
    uint8_t b[8];
    KStoreU64(b, v, mOrder);
    Bytes(b, 8);
}

void KBinaryWriter::F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    U32(bits);
}

void KBinaryWriter::F64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    U64(bits);
}

void KBinaryWriter::DecF32(float v) {
    uint8_t b[4];
    KEncodeDecFloat(v, b);
    Bytes(b, 4);
}
