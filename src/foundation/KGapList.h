#pragma once
// A list of distinct pointers that items leave one by one in time linear in the list: an item at
// either end goes at once, one in between leaves a gap (null) that is closed up when half the
// list is gaps or an item is asked for by its index; a search starts where the last item left.

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
    void push_back(T* item) { mItems.push_back(item); }
    void clear() { std::vector<T*>().swap(mItems), mHead = mGaps = mHint = 0; }
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
        mHint = at;
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
    size_t Find(const T* item) const {
        const size_t size = mItems.size();
        if (!item || mHead == size) return size;
        const size_t hint = std::min(std::max(mHint, mHead), size - 1);
        for (size_t d = 0; hint >= mHead + d || hint + d < size; ++d) {
            if (hint + d < size && mItems[hint + d] == item) return hint + d;
            if (d > 0 && hint >= mHead + d && mItems[hint - d] == item) return hint - d;
        }
        return size;
    }
    void CloseUp() const {
        if (mHead == 0 && mGaps == 0) return;
        size_t kept = 0;
        size_t hint = 0;
        for (size_t i = mHead; i < mItems.size(); ++i) {
            if (i == mHint) hint = kept;
            if (mItems[i]) mItems[kept++] = mItems[i];
        }
        mItems.resize(kept);
        mHead = mGaps = 0;
        mHint = hint;
    }

    // Closing up changes no index a caller sees.
    mutable std::vector<T*> mItems;
    mutable size_t mHead = 0;  // items before it are gone
    mutable size_t mGaps = 0;  // nulls from mHead on
    mutable size_t mHint = 0;
};
