#pragma once
// Memory for the keys of long curves read from files. A file of many long curves fills
// tens of megabytes of keys at once: they are carved one after the other from chunks that
// ask the system for large pages, a page fault per large page instead of one per page. A
// chunk goes back to the system as soon as the last piece carved from it is freed. Before
// that, a large page goes back once every piece on it is freed (giving back part of one
// would split it, and a whole scene freed would pay for that on every curve); on small pages
// a piece's pages go back at once. A chunk kept by a curve that lives on holds that curve's
// pages.

#include <cstddef>

namespace KFCurveKeyPool {

// Pieces below this size are not served: they come from the heap as before.
constexpr size_t kSmallestPiece = size_t(64) << 10;
// A chunk holds this much, or one piece larger than that alone.
constexpr size_t kChunkSize = size_t(4) << 20;

// A piece of `bytes` bytes aligned for any key record, its contents unset; null when the
// size is not served or no memory is left (the caller allocates elsewhere).
void* Allocate(size_t bytes);
// Gives back a piece of `bytes` bytes Allocate handed out.
void Free(void* piece, size_t bytes);
// Chunks held now (for tests and diagnostics).
size_t GetChunkCount();

}  // namespace KFCurveKeyPool
