#include "foundation/KNameNumbers.h"

#include <iterator>
#include <new>

#include "foundation/KLocale.h"

uint64_t KNameNumbers::FindFree(const std::string& stem, uint64_t first, const Test& free) {
    Runs* found = nullptr;
    try {
        found = &mRuns.try_emplace(stem).first->second;
    } catch (const std::bad_alloc&) {
        return FirstFree(first, free);  // slower, the same number
    }
    Runs& runs = *found;
    const auto crossed = runs.upper_bound(first);  // the first run past `first`
    auto run = runs.end();                         // the run the search goes on from
    uint64_t n = first;
    if (crossed != runs.begin() && std::prev(crossed)->second >= first) {
        run = std::prev(crossed);
        n = run->second;
    }
    auto next = crossed;
    for (;;) {
        // Runs are apart and sorted, so the next one never starts before n.
        if (next != runs.end() && next->first == n) {
            n = next->second;
            ++next;
            continue;
        }
        if (free(n)) break;
        ++n;
    }
    // What the search went over is taken (it holds the runs it crossed). The run is made here,
    // before the name is stored, so that Take allocates nothing.
    if (run == runs.end()) {
        try {
            run = runs.emplace_hint(crossed, first, n);
        } catch (const std::bad_alloc&) {
            return n;  // nothing remembered: the runs as they were still hold
        }
    }
    run->second = n;
    runs.erase(crossed, next);
    return n;
}

void KNameNumbers::Take(const std::string& stem, uint64_t number) noexcept {
    const auto found = mRuns.find(stem);
    if (found == mRuns.end()) return;  // forgotten since: nothing to step over
    Runs& runs = found->second;
    const auto after = runs.upper_bound(number);
    if (after == runs.begin()) return;
    const auto run = std::prev(after);
    if (run->second != number) return;
    run->second = number + 1;
    if (after != runs.end() && after->first == number + 1) {
        run->second = after->second;
        runs.erase(after);
    }
}

void KNameNumbers::Clear() noexcept {
    // Swapped out rather than cleared: clearing walks every bucket the map ever grew, and some
    // callers clear at every name freed.
    if (!mRuns.empty()) std::unordered_map<std::string, Runs>().swap(mRuns);
}

std::string KNameNumbers::Folded(std::string text) {
    for (char& c : text) c = KToLower(c);
    return text;
}
