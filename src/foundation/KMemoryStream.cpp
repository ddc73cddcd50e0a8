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

namespace {

int64_t Sum(int64_t a, int64_t b) {
    int64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) sum = b < 0 ? INT64_MIN : INT64_MAX;
    return sum;
}

int64_t Difference(int64_t a, int64_t b) {
    int64_t difference;
    if (__builtin_sub_overflow(a, b, &difference)) difference = b < 0 ? INT64_MAX : INT64_MIN;
    return difference;
}

}  // namespace

void KMemoryStream::MoveClamped(int64_t target) {
    mPosition = target < 0 ? 0 : uint64_t(target) > mSize ? mSize : size_t(target);
}

int KMemoryStream::Seek(int mode, int64_t offset) {
    if (!mBuffer) return 0;
    int64_t target;
    if (mode == 0)
        target = offset;
    else if (mode == 1)
        target = Sum(int64_t(mPosition), offset);
    else if (mode == 2)
        target = Difference(int64_t(mSize), offset);
    else
        target = 0;
    MoveClamped(target);
    if (mode < 0 || mode > 2) return 0;
    return target < INT_MIN ? INT_MIN : target > INT_MAX ? INT_MAX : int(target);
}

int KMemoryStream::SeekLikeFile(int origin, int64_t offset) {
    if (!mBuffer) return 0;
    const int64_t base = origin == 1 ? int64_t(mPosition) : origin == 2 ? int64_t(mSize) : 0;
    const int64_t target = Sum(base, offset);
    MoveClamped(target);
    return target < 0 || uint64_t(target) > mSize ? -1 : 0;
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
