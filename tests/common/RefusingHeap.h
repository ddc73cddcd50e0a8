// The heap of a test program that can be told to refuse allocations of operator new. Set
// gThrowIn to n to refuse the n-th allocation from now (0: the next one), and back to -1 for
// none (it is -1 again once that one was refused). gRefuseAll refuses every allocation while
// set; with gKeepRefusing set, the n-th allocation sets it (memory stays exhausted from there).
// gNoThrowRefuseIn counts and refuses the no-throw allocations alone, as gThrowIn does.
// The definitions are in RefusingHeap.cpp, linked into the programs whose tests use them only
// (tests/CMakeLists.txt lists them).
#pragma once

#include <atomic>

extern std::atomic<long> gThrowIn;  // allocations until the refused one; -1: none refused
extern std::atomic<bool> gKeepRefusing;
extern std::atomic<bool> gRefuseAll;
extern std::atomic<long> gNoThrowRefuseIn;

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// What a refused allocation leaves unfreed on the way out is not what a test of it checks (bad
// accesses and escaping exceptions are): leaks are not reported while one of these lives.
struct LeaksNotChecked {
#if defined(__SANITIZE_ADDRESS__)
    LeaksNotChecked() { __lsan_disable(); }
    ~LeaksNotChecked() { __lsan_enable(); }
#endif
};
