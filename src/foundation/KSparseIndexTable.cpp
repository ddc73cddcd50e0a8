#include "foundation/KSparseIndexTable.h"

int KSparseIndexTable::TakeIndex(KBitArray& bits) {
    int index = bits.FindFirst(false);  // gaps are clear bits, so there is always one
    if (index >= 0) bits.SetBit(index);
    return index;
}

int KSparseIndexTable::Add(KSparseIndexed* object) {
    if (!object) return -1;
    int index = TakeIndex(mObjectBits);
    if (index < 0) return -1;
    if (size_t(index) >= mObjects.size()) mObjects.resize(size_t(index) + 1, nullptr);
    mObjects[index] = object;
    object->SetIndexTableEntry(this, index);
    AddProperties(object);
    return index;
}

void KSparseIndexTable::AddProperties(KSparseIndexed* object) {
    if (!object) return;
    for (int i = 0; i < object->GetIndexedPropertyCount(); ++i) {
        uint16_t& field = object->IndexedPropertyIndex(i);
        int index = mPropertyBits.FindFirst(false);
        // The field holds 16 bits and 0xFFFF means none: past that, never wrap.
        if (index < 0 || index >= kNoPropertyIndex) {
            field = kNoPropertyIndex;
            continue;
        }
        mPropertyBits.SetBit(index);
        if (size_t(index) >= mProperties.size()) mProperties.resize(size_t(index) + 1, nullptr);
        mProperties[index] = object->GetIndexedProperty(i);
        field = uint16_t(index);
    }
}

void KSparseIndexTable::RemoveProperties(KSparseIndexed* object) {
    if (!object) return;
    for (int i = 0; i < object->GetIndexedPropertyCount(); ++i) {
        uint16_t& field = object->IndexedPropertyIndex(i);
        if (field != kNoPropertyIndex) {
            mPropertyBits.ClearBit(field);
            if (field < mProperties.size()) mProperties[field] = nullptr;
        }
        field = kNoPropertyIndex;
    }
}

void KSparseIndexTable::Remove(KSparseIndexed* object) {
    if (!object) return;
    RemoveProperties(object);
    int index = object->GetIndexTableIndex();
    if (index >= 0 && size_t(index) < mObjects.size() && mObjects[index] == object) {
        mObjectBits.ClearBit(index);
        mObjects[index] = nullptr;
    }
    object->SetIndexTableEntry(nullptr, -1);
}

KSparseIndexed* KSparseIndexTable::GetObject(int index) const {
    return index >= 0 && size_t(index) < mObjects.size() ? mObjects[index] : nullptr;
}

void* KSparseIndexTable::GetProperty(int index) const {
    return index >= 0 && size_t(index) < mProperties.size() ? mProperties[index] : nullptr;
}
