#pragma once
// Byte reversal of the 4- and 8-byte numbers of a file written in the other byte order.

#include <cstdint>

inline uint32_t KQovSwap32(uint32_t v) {
    return __builtin_bswap32(v);
}
inline uint64_t KQovSwap64(uint64_t v) {
    return __builtin_bswap64(v);
}
