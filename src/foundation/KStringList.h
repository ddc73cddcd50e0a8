#pragma once
// Ordered list of texts, each with a reference word of the list's user, and its one-line
// text form with "~" between the items.

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/KString.h"

struct KStringListItem {
    KString text;
    uintptr_t reference = 0;  // opaque to the list
};

class KStringListBase {
public:
    KStringListBase() = default;
    virtual ~KStringListBase() { Clear(); }

    // False when the index is not below the count.
    virtual bool SetAt(int index, const char* text);
    // The index is clamped to [0, count]; returns the index used.
    virtual int InsertAt(int index, const char* text, uintptr_t reference = 0);
    // Out of range does nothing.
    virtual void RemoveAt(int index);
    virtual void Clear();
    // Appends the items to `text` with "~" between them; an empty list leaves it unchanged.
    // Returns the count.
    virtual int GetText(KString& text) const;
    // Replaces the items by the "~"-separated parts of `text`: each "~" closes a part, and
    // the part after the last one counts only when not empty. Returns the index of the last
    // item (0 when none).
    virtual int SetText(const char* text);

    int Add(const char* text, uintptr_t reference = 0) {
        return InsertAt(GetCount(), text, reference);
    }
    int GetCount() const { return int(mItems.size()); }
    // Null out of range.
    const char* GetAt(int index) const;
    KStringListItem* GetItem(int index) const;
    uintptr_t GetReferenceAt(int index) const;
    // The first item with this text, -1 when none.
    int Find(const char* text) const;

protected:
    std::vector<std::unique_ptr<KStringListItem>> mItems;
};

class KStringList : public KStringListBase {
public:
    KStringList() = default;
    KStringList(const KStringList& other) { Copy(other); }
    KStringList& operator=(const KStringList& other) {
        if (this != &other) Copy(other);
        return *this;
    }
    // Clears, then appends each item of `other` with its text and reference.
    void Copy(const KStringListBase& other);
};
