#pragma once
// The fixed table naming the character slots: 12 role groups of {slot, role
// name, version} entries. Files name the groups by keyword and the slots by
// role name, so names are kept byte for byte.
//
// Getters answer 0, -1 or null outside their ranges.

#include <cstdint>

struct KQovCharacterRole {
    int32_t slot;
    const char* name;
    int32_t version;  // 4000 below slot 90, 4500 from it
};

class KQovCharacterRoleTable {
public:
    static constexpr int kGroupCount = 12;
    static constexpr int kSlotCount = 191;
    static constexpr int kReferenceSlot = 67;

    static int GetRoleCount(int group);
    static int GetRoleSlot(int group, int index);
    static const char* GetRoleName(int group, int index);
    static int GetRoleVersion(int group, int index);
    // The group's file keyword ("BASE", ...), null outside 0..11.
    static const char* GetGroupKeyword(int group);
    // Exact, case-sensitive search in group then entry order; `limited` stops
    // after the group passed in `group` (taken as at most 11). Outputs are
    // written only on a match.
    static bool FindRoleByName(const char* name, bool limited, int& group, int& index);
    static bool FindRoleBySlot(int slot, int& group, int& index);
    // The slot's role name; "Reference" for slot 67; false for the others.
    static bool GetSlotName(int slot, const char*& name);
};
