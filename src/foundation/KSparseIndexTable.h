#pragma once
// Hands out the smallest free index to objects and to their indexed properties, so both can
// be found by index in a slot array.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/KBitArray.h"

class KSparseIndexTable;

// What the table needs of an object: where to record its own index, and its indexed
// properties (those with flag 16), each with a 16-bit index field.
class KSparseIndexed {
public:
    virtual void SetIndexTableEntry(KSparseIndexTable* table, int index) = 0;
    virtual int GetIndexTableIndex() const = 0;
    virtual int GetIndexedPropertyCount() = 0;
    virtual void* GetIndexedProperty(int i) = 0;
    virtual uint16_t& IndexedPropertyIndex(int i) = 0;

protected:
    ~KSparseIndexed() = default;
};

class KSparseIndexTable {
public:
    // 0xFFFF in a property's index field: no index.
    static constexpr uint16_t kNoPropertyIndex = 0xFFFF;

    // Returns the object's index.
    int Add(KSparseIndexed* object);
    void AddProperties(KSparseIndexed* object);
    void Remove(KSparseIndexed* object);
    void RemoveProperties(KSparseIndexed* object);

    KSparseIndexed* GetObject(int index) const;
    void* GetProperty(int index) const;

private:
    static int TakeIndex(KBitArray& bits);

    KBitArray mObjectBits;
    std::vector<KSparseIndexed*> mObjects;
    KBitArray mPropertyBits;
    std::vector<void*> mProperties;
};
