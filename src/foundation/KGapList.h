#pragma once
// A list of distinct pointers that items leave one by one, in any order, in time linear in the
// list: each item keeps its place in the list (T::mGapSlot, which the list alone writes), an item
// at either end goes at once, one in between leaves a gap (null) that is closed up when half the
// list is gaps or an item is asked for by its index.

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

template <class T>
class KGapList {
public:
    size_t size() const { return mItems.size() - mHead - mGaps; }
    bool empty() const { return size() == 0; }
    T* operator[](size_t index) const {
        CloseUp();
        return mItems[mHead + index];
    }
    void push_back(T* item) {
        mItems.push_back(item);
        item->mGapSlot = mItems.size() - 1;
    }
    void clear() { std::vector<T*>().swap(mItems), mHead = mGaps = 0; }
    // The items in order; the list is left empty (nothing allocated).
    std::vector<T*> TakeAll() {
        CloseUp();
        mItems.erase(mItems.begin(), mItems.begin() + std::ptrdiff_t(mHead));
        std::vector<T*> items = std::move(mItems);
        clear();
        return items;
    }
    // The index of an item; -1 when it is not listed.
    std::ptrdiff_t IndexOf(const T* item) const {
        const size_t at = Find(item);
        if (at == mItems.size()) return -1;
        std::ptrdiff_t index = std::ptrdiff_t(at - mHead);
        if (mGaps != 0) index -= std::count(mItems.begin() + std::ptrdiff_t(mHead),
                                            mItems.begin() + std::ptrdiff_t(at), nullptr);
        return index;
    }
    // False when the item is not listed.
    bool Remove(const T* item) {
        const size_t at = Find(item);
        if (at == mItems.size()) return false;
        mItems[at] = nullptr;
        ++mGaps;
        while (mHead < mItems.size() && !mItems[mHead]) ++mHead, --mGaps;
        while (mItems.size() > mHead && !mItems.back()) mItems.pop_back(), --mGaps;
        if (mHead == mItems.size()) mItems.clear(), mHead = 0;
        if ((mHead + mGaps) * 2 > mItems.size()) CloseUp();
        return true;
    }
    // Each item in order.
    template <class Visit>
    void ForEach(Visit visit) const {
        for (size_t i = mHead; i < mItems.size(); ++i)
            if (mItems[i]) visit(mItems[i]);
    }

private:
    // An item of another list (or of none) has a place that does not hold it here.
    size_t Find(const T* item) const {
        const size_t size = mItems.size();
        if (!item) return size;
        const size_t at = item->mGapSlot;
        return at >= mHead && at < size && mItems[at] == item ? at : size;
    }
    void CloseUp() const {
        if (mHead == 0 && mGaps == 0) return;
        size_t kept = 0;
        for (size_t i = mHead; i < mItems.size(); ++i) {
            if (!mItems[i]) continue;
            mItems[i]->mGapSlot = kept;
            mItems[kept++] = mItems[i];
        }
        mItems.resize(kept);
        mHead = mGaps = 0;
    }

    // Closing up changes no index a caller sees.
    mutable std::vector<T*> mItems;
    mutable size_t mHead = 0;  // items before it are gone
    mutable size_t mGaps = 0;  // nulls from mHead on
};
