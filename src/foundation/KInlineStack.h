#pragma once
// A stack whose first N entries live in the object itself: walks and lookups run once per node
// and frame, and most never go past a few entries, so they take no memory; a deeper one spills
// the rest to the heap.

#include <cstddef>
#include <vector>

// T is a plain value (a pointer, a small struct of them).
template <class T, size_t N>
class KInlineStack {
public:
    bool empty() const { return mSize == 0; }
    size_t size() const { return mSize; }
    T& back() { return mSize > N ? mSpill.back() : mInline[mSize - 1]; }
    void push_back(const T& value) {
        if (mSize < N)
            mInline[mSize] = value;
        else
            mSpill.push_back(value);  // may throw: the size is counted after
        ++mSize;
    }
    void pop_back() {
        if (mSize > N) mSpill.pop_back();
        --mSize;
    }

private:
    T mInline[N];
    std::vector<T> mSpill;
    size_t mSize = 0;
};
