#pragma once
// The numbers that make names unique: for a stem ("Bone", "LASI "), the first number from a start
// whose name is free. Each maker of names keeps its own rules (separator, letter case, cuts,
// reserved words) and asks here only which number. The numbers found taken behind each stem are
// remembered as runs, so that a name repeated N times costs O(N) overall and stems numbered in
// turn each go on from their own runs. That memory holds while names are only taken: a caller
// that frees a name calls Clear.
//
// Names that need no change are set aside before any is numbered (SetAside for each, in the
// order they are given): the first of each keeps its name, and no number makes a name set
// aside, though it comes later.

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>

class KNameNumbers {
public:
    // The first number from `first` whose name `free(number)` accepts; the caller makes the
    // name (its last call of `free` is for the number returned), stores it, then calls Take.
    // The numbers found taken on the way are remembered under `stem` (the caller folds letter
    // case where its names do). Only `free` may throw; memory that cannot be had is done
    // without.
    template <class Free>
    uint64_t Find(const std::string& stem, uint64_t first, Free&& free) {
        using F = std::remove_reference_t<Free>;
        void* test = const_cast<void*>(static_cast<const void*>(&free));
        return FindFree(stem, first,
                        Test{[](void* f, uint64_t n) { return (*static_cast<F*>(f))(n); }, test});
    }
    // The name of `number`, which Find gave for `stem`, is stored: the next search steps over
    // it. Allocates nothing (Find made the room), so storing the name is all that may fail;
    // a store that failed and is never taken leaves nothing claimed that is not taken.
    void Take(const std::string& stem, uint64_t number) noexcept;
    // Forgets every stem: a name was freed, its number may be given again. Names set aside
    // stay so.
    void Clear() noexcept;
    // `key` (folded where the caller's names compare so) is a name that needs no change, to
    // be given later: ClaimAside keeps it for the first that gives it, and IsAside keeps it
    // from every number until then.
    void SetAside(const std::string& key) { mAside.insert(key); }
    // True once for a key set aside: the caller gives the name unchanged, and it is then
    // taken as any other (IsAside no longer holds it).
    bool ClaimAside(const std::string& key) { return !mAside.empty() && mAside.erase(key) != 0; }
    bool IsAside(const std::string& key) const {
        return !mAside.empty() && mAside.count(key) != 0;
    }
    bool AnyAside() const { return !mAside.empty(); }
    void ClearAside() noexcept { std::unordered_set<std::string>().swap(mAside); }
    // `text` in small letters (C locale): the stem of names that compare without regard to case.
    static std::string Folded(std::string text);

    // The first number from `first` that `free` accepts, nothing remembered.
    template <class Free>
    static uint64_t FirstFree(uint64_t first, Free&& free) {
        while (!free(first)) ++first;
        return first;
    }

private:
    struct Test {
        bool (*call)(void* free, uint64_t number);
        void* free;
        bool operator()(uint64_t number) const { return call(free, number); }
    };
    // Per stem, runs of numbers known taken (first number to the one after the last), sorted
    // and apart. A run may be empty: the room Find made for a name whose store failed.
    using Runs = std::map<uint64_t, uint64_t>;

    uint64_t FindFree(const std::string& stem, uint64_t first, const Test& free);

    std::unordered_map<std::string, Runs> mRuns;
    std::unordered_set<std::string> mAside;  // names set aside and not yet given
};
