#include "foundation/KMemoryStream.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "foundation/KLocale.h"

bool KMemoryStream::OpenBuffer(void* buffer, size_t size) {
    if (!buffer) return false;
    mBuffer = static_cast<unsigned char*>(buffer);
    mSize = size;
    mPosition = 0;
    return true;
}

void KMemoryStream::Close() {
    mBuffer = nullptr;
    mSize = 0;
    mPosition = 0;
}

uint32_t KMemoryStream::Read(void* buffer, uint32_t count) {
    if (!mBuffer || !buffer) return 0;
    size_t n = std::min<size_t>(count, Remaining());
    memcpy(buffer, mBuffer + mPosition, n);
    mPosition += n;
    return uint32_t(n);
}

char* KMemoryStream::Gets(char* buffer, int size) {
    if (!mBuffer || !buffer || size <= 0) return nullptr;
    size_t limit = std::min<size_t>(size_t(size) - 1, Remaining());
    if (size > 1 && limit == 0) return nullptr;  // at the end: nothing to read
    size_t n = 0;
    while (n < limit) {
        unsigned char c = mBuffer[mPosition + n++];
        if (c == '\n') break;
    }
    memcpy(buffer, mBuffer + mPosition, n);
    buffer[n] = 0;
    mPosition += n;
    return buffer;
}

uint32_t KMemoryStream::ReadInt32(uint32_t* out, bool swap) {
    if (!out || Remaining() < 4) return 0;
    uint32_t value;
    memcpy(&value, mBuffer + mPosition, 4);
    if (swap) value = __builtin_bswap32(value);
    mPosition += 4;
    *out = value;
    return value;
}

uint16_t KMemoryStream::ReadInt16(uint16_t* out, bool swap) {
    if (!out || Remaining() < 2) return 0;
    uint16_t value;
    memcpy(&value, mBuffer + mPosition, 2);
    if (swap) value = __builtin_bswap16(value);
    mPosition += 2;
    *out = value;
    return value;
}

uint8_t KMemoryStream::ReadInt8(uint8_t* out) {
    if (!out || Remaining() < 1) return 0;
    *out = mBuffer[mPosition++];
    return *out;
}

uint32_t KMemoryStream::Write(const void* buffer, uint32_t count) {
    if (!mBuffer || !buffer) return 0;
    size_t n = std::min<size_t>(count, Remaining());
    memcpy(mBuffer + mPosition, buffer, n);
    mPosition += n;
    return uint32_t(n);
}

int KMemoryStream::Seek(int origin, int64_t offset) {
    if (!mBuffer) return 0;
    int64_t base = origin == 1 ? int64_t(mPosition) : origin == 2 ? int64_t(mSize) : 0;
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target)) target = offset < 0 ? INT64_MIN : INT64_MAX;
    if (target < 0) {
        mPosition = 0;
        return -1;
    }
    if (uint64_t(target) > mSize) {
        mPosition = mSize;
        return -1;
    }
    mPosition = size_t(target);
    return 0;
}

int64_t KMemoryStream::Tell() {
    return mBuffer ? int64_t(mPosition) : 0;
}

void KMemoryStream::SetPosition(int64_t offset) {
    if (mBuffer && offset >= 0 && uint64_t(offset) <= mSize) mPosition = size_t(offset);
}

int KMemoryStream::VPrintf(const char* format, va_list args) {
    if (!mBuffer || !format) return 0;
    std::string text = KVFormatC(format, args);  // growable: never overruns
    return int(Write(text.data(), uint32_t(std::min<size_t>(text.size(), UINT32_MAX))));
}
