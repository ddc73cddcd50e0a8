#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

#include "foundation/KThreadScratch.h"
#include "platform/KPlatformSystem.h"

// Fresh pages come aligned as asked and zeroed, hold what is written, and refuse an
// alignment that is not a power of two of at least a page.
TEST(KPlatformSystem, AllocatePagesAlignedZeroedAndRefusedWhenBad) {
    const size_t page = KPlatformPageSize();
    const struct {
        size_t size, alignment;
    } cases[] = {{1, page},
                 {page * 3 + 5, page},
                 {size_t(4) << 20, size_t(2) << 20},
                 {size_t(3) << 20, size_t(1) << 22}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        auto* at = static_cast<uint8_t*>(KPlatformAllocatePages(c.size, c.alignment));
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(at) % c.alignment, 0u);
        EXPECT_EQ(at[0], 0);
        EXPECT_EQ(at[c.size - 1], 0);
        std::memset(at, 0x5A, c.size);
        EXPECT_EQ(at[c.size / 2], 0x5A);
        KPlatformFreePages(at, c.size);
    }
    EXPECT_EQ(KPlatformAllocatePages(0, page), nullptr);
    EXPECT_EQ(KPlatformAllocatePages(page, page + 1), nullptr);
    EXPECT_EQ(KPlatformAllocatePages(page, page / 2), nullptr);
    EXPECT_EQ(KPlatformAllocatePages(SIZE_MAX - page, page), nullptr);
    KPlatformFreePages(nullptr, page);
}

// Pages made present aside keep what the caller writes meanwhile, and a range given back
// before the thread is done leaves nothing behind.
TEST(KPlatformSystem, PrefaultAsideKeepsWhatIsWritten) {
    constexpr size_t kSize = size_t(8) << 20;
    for (int round = 0; round < 4; ++round) {
        auto* at = static_cast<uint8_t*>(KPlatformAllocatePages(kSize, size_t(2) << 20));
        ASSERT_NE(at, nullptr);
        KPlatformPrefaultAside(at + 1, kSize - 2);  // ends inside pages: whole pages only
        for (size_t i = 0; i < kSize; i += 512) at[i] = uint8_t(i / 512 + round);
        for (size_t i = 0; i < kSize; i += 512) ASSERT_EQ(at[i], uint8_t(i / 512 + round)) << i;
        // Freed at once on odd rounds, while the thread may still be at work.
        KPlatformFreePages(at, kSize);
        if (round % 2) continue;
        auto* again = static_cast<uint8_t*>(KPlatformAllocatePages(kSize, size_t(2) << 20));
        ASSERT_NE(again, nullptr);
        KPlatformPrefaultAside(again, kSize);
        KPlatformFreePages(again, kSize);
    }
    KPlatformPrefaultAside(nullptr, kSize);
    uint8_t small[16] = {};
    KPlatformPrefaultAside(small, sizeof small);  // less than a page: nothing
    EXPECT_EQ(small[0], 0);
}

TEST(KPlatformSystem, ThreadRunsWorkJoinedOnceAndAgain) {
    int values[3] = {0, 0, 0};
    {
        KPlatformThread thread;
        thread.Join();  // nothing started: nothing to wait for
        for (int i = 0; i < 3; ++i) {
            // A second Start waits for the first work's end.
            thread.Start([&values, i] { values[i] = i + 1; });
        }
        thread.Join();
        EXPECT_EQ(values[0] + values[1] + values[2], 6);
        thread.Start([&values] { values[0] = 10; });
    }  // the destructor waits
    EXPECT_EQ(values[0], 10);
}

// A thread of the library takes none of the signals sent to the process (an ending signal
// taken there would end it in the middle of a commit), but keeps its own faults; the
// starting thread's mask is as it was.
TEST(KPlatformSystem, ThreadsTakeNoSignalsOfTheProcess) {
    sigset_t before, after, inside;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &before), 0);
    ASSERT_EQ(sigismember(&before, SIGTERM), 0);
    KPlatformThread thread;
    thread.Start([&inside] { pthread_sigmask(SIG_BLOCK, nullptr, &inside); });
    thread.Join();
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGUSR1, SIGXFSZ})
        EXPECT_EQ(sigismember(&inside, signal), 1) << signal;
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGABRT}) EXPECT_EQ(sigismember(&inside, signal), 0);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &after), 0);
    for (int signal = 1; signal < 32; ++signal)
        EXPECT_EQ(sigismember(&after, signal), sigismember(&before, signal)) << signal;
}

TEST(KPlatformSystem, WaitPointWakesWaitersOnceTheirConditionHolds) {
    KPlatformWaitPoint point;
    std::atomic<int> stage{0};
    point.WaitUntil([] { return true; });  // already true: no sleep
    KPlatformThread thread;
    thread.Start([&] {
        for (int i = 1; i <= 3; ++i) {
            stage.store(i);
            point.WakeAll();
        }
    });
    point.WaitUntil([&] { return stage.load() == 3; });
    EXPECT_EQ(stage.load(), 3);
    thread.Join();
}

// What a thread keeps through a slot is its own, and goes with the thread.
TEST(KPlatformSystem, ThreadScratchIsEachThreadsOwnAndEndsWithIt) {
    struct Counted {
        static std::atomic<int>& Live() {
            static std::atomic<int> live{0};
            return live;
        }
        Counted() { ++Live(); }
        ~Counted() { --Live(); }
        int value = 0;
    };
    Counted& mine = KThreadScratch<Counted>();
    mine.value = 1;
    EXPECT_EQ(&KThreadScratch<Counted>(), &mine);
    const int before = Counted::Live();
    int seen = -1;
    std::thread([&] {
        Counted& theirs = KThreadScratch<Counted>();
        seen = theirs.value;
        theirs.value = 2;
    }).join();
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(mine.value, 1);
    EXPECT_EQ(Counted::Live(), before);
}
