#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "ChannelFileUtil.h"
#include "ChannelTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveKeyPool.h"
#include "animation/KFCurveStorage.h"

namespace {

constexpr size_t kSmallest = KFCurveKeyPool::kSmallestPiece;
constexpr size_t kChunk = KFCurveKeyPool::kChunkSize;

struct Piece {
    uint8_t* at;
    size_t size;
};

}  // namespace

// Pieces never overlap, keep what is written into them while others come and go, and every
// chunk goes back once its pieces are freed, in any order.
TEST(KFCurveKeyPool, PiecesApartAndChunksGiveBack) {
    const struct {
        const char* name;
        std::vector<size_t> sizes;
        const char* order;  // "forward", "backward", "alternate" or "halves"
    } cases[] = {
        {"smallest pieces filling chunks", std::vector<size_t>(130, kSmallest), "forward"},
        {"odd sizes", {kSmallest + 1, 3 * kSmallest + 7, kSmallest + 63, kChunk / 2}, "backward"},
        {"larger than a chunk among small ones",
         {kSmallest, 2 * kChunk + 5, kSmallest, kChunk, kChunk - 64},
         "alternate"},
        {"a whole chunk each", {kChunk, kChunk, kChunk}, "forward"},
        // The middle piece freed first: the large page only it was on goes back while the
        // first piece, in the chunk left for the next one, lives on.
        {"a chunk left for the next one", {kChunk / 4, kChunk / 2, kChunk * 3 / 8}, "alternate"},
        // The first half of each chunk is freed while the second half lives on.
        {"half a chunk freed before the rest",
         {kChunk / 4, kChunk / 4, kChunk / 4, kChunk / 4, kChunk / 4, kChunk / 4, kChunk / 4,
          kChunk / 4},
         "halves"},
    };
    const size_t before = KFCurveKeyPool::GetChunkCount();
    EXPECT_EQ(KFCurveKeyPool::Allocate(kSmallest - 1), nullptr);
    EXPECT_EQ(KFCurveKeyPool::Allocate(0), nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Piece> pieces;
        for (size_t size : c.sizes) {
            auto* at = static_cast<uint8_t*>(KFCurveKeyPool::Allocate(size));
            ASSERT_NE(at, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(at) % 64, 0u);
            std::memset(at, int(pieces.size() + 1), size);
            pieces.push_back({at, size});
        }
        EXPECT_GT(KFCurveKeyPool::GetChunkCount(), before);
        std::vector<Piece> sorted = pieces;
        std::sort(sorted.begin(), sorted.end(),
                  [](const Piece& a, const Piece& b) { return a.at < b.at; });
        for (size_t i = 1; i < sorted.size(); ++i)
            EXPECT_LE(sorted[i - 1].at + sorted[i - 1].size, sorted[i].at) << i;
        std::vector<size_t> order(pieces.size());
        std::iota(order.begin(), order.end(), 0);
        if (std::string(c.order) == "backward") std::reverse(order.begin(), order.end());
        if (std::string(c.order) == "alternate")
            std::stable_partition(order.begin(), order.end(), [](size_t i) { return i % 2; });
        if (std::string(c.order) == "halves")
            std::stable_partition(order.begin(), order.end(),
                                  [](size_t i) { return i / 2 % 2 == 0; });
        std::vector<bool> freed(pieces.size(), false);
        for (size_t i : order) {
            // What the pieces still held hold their own bytes.
            for (size_t j = 0; j < pieces.size(); ++j) {
                if (freed[j]) continue;
                const Piece& p = pieces[j];
                EXPECT_EQ(p.at[0], uint8_t(j + 1));
                EXPECT_EQ(p.at[p.size - 1], uint8_t(j + 1));
            }
            KFCurveKeyPool::Free(pieces[i].at, pieces[i].size);
            freed[i] = true;
        }
        EXPECT_EQ(KFCurveKeyPool::GetChunkCount(), before);
    }
    KFCurveKeyPool::Free(nullptr, 0);
    EXPECT_EQ(KFCurveKeyPool::GetChunkCount(), before);
}

// A long curve read from a file takes its keys from the pool; grown past them it adds keys
// from the heap, and a run of keys never crosses from one allocation into the other.
TEST(KFCurveKeyPool, CurveReadIntoPooledKeysThenGrown) {
    const int count = int(kSmallest / sizeof(KFCurveKey)) * 3 + 5;
    KFCurve source;
    source.PrepareKeys(count);
    source.CommitKeys(count);
    for (int i = 0; i < count; ++i)
        source.KeySet(i, Seconds(i * 0.01), float(i % 97), KFCURVE_INTERPOLATION_LINEAR);
    const size_t before = KFCurveKeyPool::GetChunkCount();
    ThroughFile(
        true, [&](KQovFieldFile& f) { KFCurveStore(source, f, false, false, false); },
        [&](KQovFieldFile& f) {
            std::unique_ptr<KFCurve> copy(KFCurveRetrieveNew(f, false, false));
            ASSERT_NE(copy, nullptr);
            EXPECT_GT(KFCurveKeyPool::GetChunkCount(), before);
            ASSERT_EQ(copy->KeyGetCount(), count);
            copy->ResizeKeyBuffer(count + 100);
            for (int i = count; i < count + 100; ++i)
                copy->KeyAdd(Seconds(i * 0.01), *source.KeyGet(i % count));
            ASSERT_EQ(copy->KeyGetCount(), count + 100);
            for (int i = 0; i < copy->KeyGetCount();) {
                int run = 0;
                KFCurveKey* keys = copy->KeyGetRun(i, run);
                ASSERT_GT(run, 0);
                for (int r = 0; r < run; ++r) ASSERT_EQ(keys + r, copy->KeyGet(i + r)) << i + r;
                i += run;
            }
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(copy->KeyGetTime(i), source.KeyGetTime(i)) << i;
                ASSERT_EQ(copy->KeyGetValue(i), source.KeyGetValue(i)) << i;
            }
            EXPECT_EQ(copy->KeyGetValue(count + 3), source.KeyGetValue(3));
        });
    EXPECT_EQ(KFCurveKeyPool::GetChunkCount(), before);
}
