#include "foundation/KArray.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

KArray::KArray(int growStep, int itemSize)
    : mGrowStep(std::max(growStep, 1)), mItemSize(std::max(itemSize, 1)) {}

KArray::KArray(const KArray& other) : mGrowStep(other.mGrowStep), mItemSize(other.mItemSize) {
    if (other.mCount > 0) {
        // The source holds its items, so only the heap can refuse them (and then throws).
        if (!SetCapacity(size_t(other.mCount))) throw std::bad_alloc();
        std::memcpy(mData, other.mData, size_t(other.mCount) * size_t(mItemSize));
        mCount = other.mCount;
    }
}

KArray& KArray::operator=(const KArray& other) {
    if (this != &other) {
        KArray copy(other);
        *this = std::move(copy);
    }
    return *this;
}

KArray::KArray(KArray&& other) noexcept
    : mCount(other.mCount),
      mGrowStep(other.mGrowStep),
      mItemSize(other.mItemSize),
      mCapacity(other.mCapacity),
      mData(other.mData) {
    other.mCount = 0;
    other.mCapacity = 0;
    other.mData = nullptr;
}

KArray& KArray::operator=(KArray&& other) noexcept {
    if (this != &other) {
        std::free(mData);
        mCount = other.mCount;
        mGrowStep = other.mGrowStep;
        mItemSize = other.mItemSize;
        mCapacity = other.mCapacity;
        mData = other.mData;
        other.mCount = 0;
        other.mCapacity = 0;
        other.mData = nullptr;
    }
    return *this;
}

KArray::~KArray() {
    std::free(mData);
}

void* KArray::GetItem(int index) {
    if (index < 0 || index >= mCount) return nullptr;
    return mData + size_t(index) * size_t(mItemSize);
}

const void* KArray::GetItem(int index) const {
    return const_cast<KArray*>(this)->GetItem(index);
}

size_t KArray::MaxItems() const {
    return std::min(size_t(INT_MAX), kMaxBytes / size_t(mItemSize));
}

bool KArray::SetCapacity(size_t count) {
    if (count > MaxItems()) return false;
    if (count == mCapacity) return true;
    if (count == 0) {
        std::free(mData);
        mData = nullptr;
        mCapacity = 0;
        return true;
    }
    void* data = std::realloc(mData, count * size_t(mItemSize));
    // A heap that refuses is not a size limit: no caller may take it for an empty array.
    if (!data) throw std::bad_alloc();
    mData = static_cast<unsigned char*>(data);
    mCapacity = count;
    return true;
}

// Geometric growth keeps appends linear. The grow step is an upper bound for the first
// allocation, not a floor: a scene of many small meshes must not pay for a block of items
// per array that it never fills.
bool KArray::Reserve(size_t count) {
    if (count <= mCapacity) return true;
    if (count > MaxItems()) return false;
    constexpr size_t kFirstItems = 4;
    const size_t first = std::min(size_t(mGrowStep), kFirstItems);
    size_t wanted = std::min(std::max({count, mCapacity + mCapacity / 2, first}), MaxItems());
    if (wanted > count) {
        // The margin is optional: without room for it, the count alone.
        try {
            return SetCapacity(wanted);
        } catch (const std::bad_alloc&) {
        }
    }
    return SetCapacity(count);
}

int KArray::InsertAt(int index, const void* item) {
    // An item read from this array (a.Add(a.GetArray()[i])) moves when the data is
    // reallocated or shifted: copy it out first.
    const size_t size = size_t(mItemSize);
    const uintptr_t from = reinterpret_cast<uintptr_t>(item);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(mData);
    std::unique_ptr<unsigned char[]> copy;
    if (item && mData && from >= begin && from < begin + mCapacity * size) {
        copy.reset(new unsigned char[size]);
        std::memcpy(copy.get(), item, size);
        item = copy.get();
    }
    if (!Reserve(size_t(mCount) + 1)) return -1;
    index = std::clamp(index, 0, mCount);
    unsigned char* at = mData + size_t(index) * size;
    std::memmove(at + mItemSize, at, size_t(mCount - index) * size);
    if (item)
        std::memcpy(at, item, size);
    else
        std::memset(at, 0, size);
    ++mCount;
    return index;
}

int KArray::Add(const void* pointer) {
    if (mItemSize != int(sizeof(void*))) return -1;
    return InsertAt(mCount, &pointer);
}

int KArray::RemoveAt(int index) {
    if (index < 0 || index >= mCount) return mCount;
    unsigned char* at = mData + size_t(index) * size_t(mItemSize);
    std::memmove(at, at + mItemSize, size_t(mCount - index - 1) * size_t(mItemSize));
    return --mCount;
}

int KArray::Grow(int n) {
    if (n <= 0) return 0;
    size_t count = size_t(mCount) + size_t(n);
    if (!Reserve(count)) return -1;
    std::memset(mData + size_t(mCount) * size_t(mItemSize), 0, size_t(n) * size_t(mItemSize));
    mCount = int(count);
    return n;
}

void* KArray::AppendUninitialised(int n) {
    if (n <= 0) return nullptr;
    const size_t count = size_t(mCount) + size_t(n);
    if (count > size_t(INT_MAX) || !Reserve(count)) return nullptr;
    unsigned char* at = mData + size_t(mCount) * size_t(mItemSize);
    mCount = int(count);
    return at;
}

bool KArray::SetCount(int n) {
    n = std::max(n, 0);
    if (n <= mCount) {
        mCount = n;
        return true;
    }
    return Grow(n - mCount) >= 0;
}

bool KArray::Resize(int n) {
    n = std::max(n, 0);
    if (!SetCount(n)) return false;
    // Give memory back only when most of it is unused, so alternating sizes stay cheap.
    if (mCapacity / 4 >= size_t(n)) {
        try {
            SetCapacity(size_t(n));
        } catch (const std::bad_alloc&) {
            // Kept larger: the items are all there.
        }
    }
    return true;
}

void KArray::Clear() {
    std::free(mData);
    mData = nullptr;
    mCapacity = 0;
    mCount = 0;
}

bool KArray::CopySized(const KArray& source, int itemSize) {
    if (source.mItemSize != itemSize || mItemSize != itemSize) return false;
    if (this == &source) return true;
    KArray copy(source);
    *this = std::move(copy);
    return true;
}
