#pragma once
// Growable arrays of fixed-size, plain items.
//
// KArray keeps items as raw bytes; the typed forms (KArrayOf<T>, KArrayInt, KArrayPtr<T> ...)
// bind an item type to it. Every index is checked: reads out of range give null or a zero item,
// writes and removals out of range do nothing. Growth is geometric, so appending is amortised
// constant time whatever the grow step; a request beyond the size limit fails and leaves the
// array as it was. A heap that refuses memory throws std::bad_alloc (the array as it was), so
// running out of memory is never taken for an empty or a shorter array.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

class KArray {
public:
    // Largest number of bytes one array may hold.
    static constexpr size_t kMaxBytes = size_t(1) << 34;

    // A grow step below 1 becomes 1; an item size below 1 becomes 1.
    KArray(int growStep, int itemSize);
    KArray(const KArray& other);
    KArray& operator=(const KArray& other);
    KArray(KArray&& other) noexcept;
    KArray& operator=(KArray&& other) noexcept;
    ~KArray();

    int GetCount() const { return mCount; }
    int GetGrowStep() const { return mGrowStep; }
    int GetItemSize() const { return mItemSize; }
    void* GetData() { return mData; }
    const void* GetData() const { return mData; }
    // Address of an item, null for an index out of range.
    void* GetItem(int index);
    const void* GetItem(int index) const;

    // Inserts a copy of the item's bytes (a zero item for null); the index is clamped to
    // [0, count], so InsertAt(GetCount(), item) appends. Returns the index used, -1 when the
    // array cannot grow.
    int InsertAt(int index, const void* item);
    // Appends the pointer value itself (for arrays of pointer-sized items); -1 when the items
    // are not pointer-sized or the array cannot grow.
    int Add(const void* pointer);
    // Removes an item and returns the new count; out of range does nothing.
    int RemoveAt(int index);
    int RemoveLast() { return RemoveAt(mCount - 1); }

    // Appends n zero items; returns n, 0 when n <= 0, -1 when the array cannot grow.
    int Grow(int n);
    // Appends n items left for the caller to write (nothing cleared); their address, null
    // (and nothing changed) when n <= 0 or the array cannot grow.
    void* AppendUninitialised(int n);
    // Truncates (memory kept) or appends zero items; a negative count counts as 0.
    bool SetCount(int n);
    // Like SetCount, but also gives back memory well beyond the new count.
    bool Resize(int n);
    // Frees the items; grow step and item size are kept.
    void Clear();

    // Assignment of 4-byte and 8-byte arrays: the source's items and grow step. False (and
    // nothing changed) when the item sizes differ from 4 or 8.
    bool CopyInts(const KArray& source) { return CopySized(source, 4); }
    bool CopyDoubles(const KArray& source) { return CopySized(source, 8); }

private:
    bool Reserve(size_t count);
    bool SetCapacity(size_t count);
    bool CopySized(const KArray& source, int itemSize);
    size_t MaxItems() const;

    int mCount = 0;
    int mGrowStep;
    int mItemSize;
    size_t mCapacity = 0;
    unsigned char* mData = nullptr;
};

// An array of one plain item type.
template <class T>
class KArrayOf : public KArray {
    // Items are moved as bytes: plain records only (a clamping copy such as KColor's is fine,
    // the stored bytes already hold its result).
    static_assert(std::is_trivially_destructible<T>::value && std::is_standard_layout<T>::value,
                  "KArray items are copied as bytes");

public:
    explicit KArrayOf(int growStep = 16) : KArray(growStep, int(sizeof(T))) {}

    T* GetArray() { return static_cast<T*>(GetData()); }
    const T* GetArray() const { return static_cast<const T*>(GetData()); }

    int Add(const T& item) { return KArray::InsertAt(GetCount(), &item); }
    T* AppendUninitialised(int n) { return static_cast<T*>(KArray::AppendUninitialised(n)); }
    int InsertAt(int index, const T& item) { return KArray::InsertAt(index, &item); }

    // Copy of the item, a zero item for an index out of range.
    T GetAt(int index) const {
        T item = Zero();
        if (const void* p = GetItem(index)) std::memcpy(static_cast<void*>(&item), p, sizeof(T));
        return item;
    }
    T GetLast() const { return GetAt(GetCount() - 1); }
    bool SetAt(int index, const T& item) {
        void* p = GetItem(index);
        if (p) std::memcpy(p, static_cast<const void*>(&item), sizeof(T));
        return p != nullptr;
    }
    // Removes the item and returns it; a zero item (and no change) when out of range.
    T RemoveAt(int index) {
        T item = GetAt(index);
        KArray::RemoveAt(index);
        return item;
    }
    T RemoveLast() { return RemoveAt(GetCount() - 1); }
    // Index of the first item with the same bytes, -1 when none.
    int Find(const T& item) const {
        const T* items = GetArray();
        for (int i = 0; i < GetCount(); ++i) {
            if (std::memcmp(static_cast<const void*>(&items[i]), static_cast<const void*>(&item),
                            sizeof(T)) == 0)
                return i;
        }
        return -1;
    }

protected:
    static T Zero() {
        T item;
        std::memset(static_cast<void*>(&item), 0, sizeof(T));
        return item;
    }
};

// 32-bit integers.
using KArrayInt = KArrayOf<int32_t>;
// Doubles.
using KArrayDouble = KArrayOf<double>;
// Pointer lists: items are pointer-sized.
template <class T>
using KArrayPtr = KArrayOf<T*>;
using KArrayPointer = KArrayOf<void*>;
