#include "foundation/KBinaryReader.h"

#include <cmath>

float KDecodeDecFloat(const uint8_t bytes[4]) {
    uint32_t high = KLoadU16(bytes, KByteOrder::eLittle);
    uint32_t low = KLoadU16(bytes + 2, KByteOrder::eLittle);
    int exponent = static_cast<int>((high >> 7) & 0xFF);
    // Exponent 0 is zero (and, with the sign set, the reserved operand, read as zero).
    if (exponent == 0) return 0.0f;
    uint32_t fraction = ((high & 0x7F) << 16) | low;
    // Done in double: the exponents 1 and 2 give IEEE denormals, rounded once here.
    double magnitude = std::ldexp(static_cast<double>(fraction | 0x800000u), exponent - 152);
    return static_cast<float>((high & 0x8000) ? -magnitude : magnitude);
}

void KEncodeDecFloat(float value, uint8_t bytes[4]) {
    uint32_t high = 0, low = 0;
    if (value != 0.0f && !std::isnan(value)) {
        uint32_t sign = std::signbit(value) ? 0x8000 : 0;
        int exponent;
        double mantissa = std::frexp(std::fabs(static_cast<double>(value)), &exponent);  // [0.5, 1)
        exponent += 128;
        if (exponent > 255 || std::isinf(value)) {
            high = sign | 0x7FFF;  // the largest DEC float
            low = 0xFFFF;
        } else if (exponent >= 1) {
            uint32_t fraction = static_cast<uint32_t>(std::ldexp(mantissa, 24)) & 0x7FFFFF;
            high = sign | (static_cast<uint32_t>(exponent) << 7) | (fraction >> 16);
            low = fraction & 0xFFFF;
        }
    }
    KStoreU16(bytes, static_cast<uint16_t>(high), KByteOrder::eLittle);
    KStoreU16(bytes + 2, static_cast<uint16_t>(low), KByteOrder::eLittle);
}

KBinaryReader::KBinaryReader(const void* data, size_t size, KByteOrder order)
    : mData(static_cast<const uint8_t*>(data)), mEnd(data ? size : 0), mOrder(order) {}

KBinaryReader::KBinaryReader(KBinarySource& source, uint64_t position, uint64_t end,
                             KByteOrder order)
    : mSource(&source),
      mBegin(position),
      mPos(position),
      mEnd(end < position ? position : end),
      mOrder(order) {}

void KBinaryReader::Fail(Failure failure) {
    if (mFailure == eNoFailure) mFailure = failure == eNoFailure ? eOutOfBounds : failure;
}

bool KBinaryReader::Fits(uint64_t count) {
    if (!Ok()) return false;
    if (count > Remaining()) {
        Fail(eOutOfBounds);
        return false;
    }
    return true;
}

bool KBinaryReader::Skip(uint64_t count) {
    if (!Fits(count)) return false;
    return Seek(mPos + count);
}

bool KBinaryReader::Seek(uint64_t position) {
    if (!Ok()) return false;
    if (position < mBegin || position > mEnd) {
        Fail(eOutOfBounds);
        return false;
    }
    if (mSource && !mSource->Seek(position)) {
        Fail(eReadFailed);
        return false;
    }
    mPos = position;
    return true;
}

KBinaryReader KBinaryReader::Sub(uint64_t count) {
    KBinaryReader sub;
    sub.mOrder = mOrder;
    const uint8_t* at = Span(static_cast<size_t>(count));
    if (!at) {
        sub.mFailure = eOutOfBounds;
        return sub;
    }
    sub.mData = at;
    sub.mEnd = count;
    return sub;
}

const uint8_t* KBinaryReader::Span(size_t count) {
    if (!mData) {
        if (Ok()) Fail(eOutOfBounds);
        return nullptr;
    }
    if (!Fits(count)) return nullptr;
    const uint8_t* at = mData + mPos;
    mPos += count;
    return at;
}

bool KBinaryReader::Bytes(void* out, size_t count) {
    if (count == 0) return Ok();
    if (!Fits(count)) {
        std::memset(out, 0, count);
        return false;
    }
    if (mData) {
        std::memcpy(out, mData + mPos, count);
    } else if (mSource->Read(out, count) != count) {
        std::memset(out, 0, count);
        Fail(eReadFailed);
        return false;
    }
    mPos += count;
    return true;
}

uint8_t KBinaryReader::U8() {
    uint8_t v = 0;
    Bytes(&v, 1);
    return v;
}

uint16_t KBinaryReader::U16() {
    uint8_t b[2];
    Bytes(b, 2);
    return KLoadU16(b, mOrder);
}

uint32_t KBinaryReader::U32() {
    uint8_t b[4];
    Bytes(b, 4);
    return KLoadU32(b, mOrder);
}

uint64_t KBinaryReader::U64() {
    uint8_t b[8];
    Bytes(b, 8);
    return KLoadU64(b, mOrder);
}

float KBinaryReader::F32() {
    uint32_t bits = U32();
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

double KBinaryReader::F64() {
    uint64_t bits = U64();
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

float KBinaryReader::DecF32() {
    uint8_t b[4];
    Bytes(b, 4);
    return KDecodeDecFloat(b);
}
