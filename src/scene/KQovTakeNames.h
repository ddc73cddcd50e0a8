#pragma once
// The names takes go under in a QOV file and in a scene read from one. A scene's "Default"
// take is its own (every object's first take), and a take is found by its name: a take named
// "Default", one with no name, or one named as an earlier take gets a name of its own, as
// nodes do: its name with "_1", "_2" ... behind it ("Take" for no name).

#include <string>
#include <unordered_set>

#include "foundation/KNameNumbers.h"

class KQovTakeNames {
public:
    enum Clash { eNone, eEarlier, eDefault, eEmpty };

    // The name the take goes under; `clash` says why it is not the take's own.
    std::string Add(const char* name, Clash& clash);
    // A name no made name may take (a take that keeps its own).
    void Reserve(const std::string& name) { mTaken.insert(name); }
    // The name of a take added later, in this order: when it is its take's own, no name made
    // for another take takes it, though that one is added first.
    void SetAside(const char* name) {
        if (name && *name && !mTaken.count(name)) mNumbers.SetAside(name);
    }
    // "Take "NAME" VERB as "MADE": why\n", the names quoted as in a QOV text ("a\\nb").
    static std::string Warning(const char* verb, const char* name, const std::string& made,
                               Clash clash);

private:
    std::unordered_set<std::string> mTaken{"Default"};
    KNameNumbers mNumbers;
};
