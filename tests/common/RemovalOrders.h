#pragma once
// Test helper: the orders in which the list tests take items away.

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

enum Order { eForward, eBackward, eShuffled, eEndsInTurn };

// The positions 0 .. count-1 in `order` (the shuffle is the same every run).
inline std::vector<size_t> Positions(Order order, size_t count) {
    std::vector<size_t> at(count);
    for (size_t i = 0; i < count; ++i) at[i] = i;
    if (order == eBackward) std::reverse(at.begin(), at.end());
    if (order == eShuffled) std::shuffle(at.begin(), at.end(), std::mt19937(38));
    if (order == eEndsInTurn)
        for (size_t i = 0; i < count; ++i) at[i] = i % 2 ? count - 1 - i / 2 : i / 2;
    return at;
}
