#pragma once
// Key storage of a curve: fixed blocks of key records that never move once
// allocated, so growing a curve copies no key and a record's address stays
// valid while keys are appended. Only a table of block pointers grows.

#include <cstddef>
#include <memory>
#include <vector>

template <typename Key>
class KFCurveKeyBlocks {
public:
    static constexpr size_t kShift = 5;
    static constexpr size_t kBlockSize = size_t(1) << kShift;

    size_t size() const { return mBlocks.size() << kShift; }

    Key& operator[](size_t i) { return mBlocks[i >> kShift][i & (kBlockSize - 1)]; }
    const Key& operator[](size_t i) const { return mBlocks[i >> kShift][i & (kBlockSize - 1)]; }

    // Makes at least n value-initialised records addressable; never shrinks.
    void Reserve(size_t n) {
        if (n <= size()) return;
        while (size() < n) mBlocks.emplace_back(new Key[kBlockSize]());
    }

    void Release() { std::vector<std::unique_ptr<Key[]>>().swap(mBlocks); }

    // Moves records [first, last) to end at dest (dest >= last), last record first.
    void MoveBackward(size_t first, size_t last, size_t dest) {
        while (last > first) (*this)[--dest] = (*this)[--last];
    }
    // Moves records [first, last) down to start at dest (dest <= first).
    void MoveForward(size_t first, size_t last, size_t dest) {
        while (first < last) (*this)[dest++] = (*this)[first++];
    }

private:
    std::vector<std::unique_ptr<Key[]>> mBlocks;
};
