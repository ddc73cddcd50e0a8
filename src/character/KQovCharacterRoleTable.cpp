#include "character/KQovCharacterRoleTable.h"

#include <cstring>
#include <iterator>

namespace {

#define R(slot, name) \
    { slot, name, (slot) < 90 ? 4000 : 4500 }
// BASE
const KQovCharacterRole kGroup0[] = {
    R(0, "Hips"),          R(1, "LeftUpLeg"),    R(2, "LeftLeg"),   R(3, "LeftFoot"),
    R(5, "RightUpLeg"),    R(6, "RightLeg"),     R(7, "RightFoot"), R(9, "Spine"),
    R(12, "LeftArm"),      R(13, "LeftForeArm"), R(14, "LeftHand"), R(16, "RightArm"),
    R(17, "RightForeArm"), R(18, "RightHand"),   R(20, "Head"),
};
// AUXILIARY
const KQovCharacterRole kGroup1[] = {
    R(4, "LeftToeBase"), R(8, "RightToeBase"),    R(11, "LeftShoulder"),    R(15, "RightShoulder"),
    R(19, "Neck"),       R(90, "LeftFingerBase"), R(91, "RightFingerBase"),
};
// SPINE
const KQovCharacterRole kGroup2[] = {
    R(10, "Spine1"), R(29, "Spine2"), R(30, "Spine3"), R(31, "Spine4"), R(32, "Spine5"),
    R(33, "Spine6"), R(34, "Spine7"), R(35, "Spine8"), R(36, "Spine9"),
};
// ROLL
const KQovCharacterRole kGroup3[] = {
    R(21, "LeftUpLegRoll"), R(22, "LeftLegRoll"),      R(23, "RightUpLegRoll"),
    R(24, "RightLegRoll"),  R(25, "LeftArmRoll"),      R(26, "LeftForeArmRoll"),
    R(27, "RightArmRoll"),  R(28, "RightForeArmRoll"),
};
// SPECIAL
const KQovCharacterRole kGroup4[] = {
    R(70, "HipsTranslation"),
};
// LEFTHAND
const KQovCharacterRole kGroup5[] = {
    R(37, "LeftHandThumb1"),        R(38, "LeftHandThumb2"),         R(39, "LeftHandThumb3"),
    R(40, "LeftHandIndex1"),        R(41, "LeftHandIndex2"),         R(42, "LeftHandIndex3"),
    R(43, "LeftHandMiddle1"),       R(44, "LeftHandMiddle2"),        R(45, "LeftHandMiddle3"),
    R(46, "LeftHandRing1"),         R(47, "LeftHandRing2"),          R(48, "LeftHandRing3"),
    R(49, "LeftHandPinky1"),        R(50, "LeftHandPinky2"),         R(51, "LeftHandPinky3"),
    R(101, "LeftInHandThumb"),      R(102, "LeftHandThumb4"),        R(103, "LeftInHandIndex"),
    R(104, "LeftHandIndex4"),       R(105, "LeftInHandMiddle"),      R(106, "LeftHandMiddle4"),
    R(107, "LeftInHandRing"),       R(108, "LeftHandRing4"),         R(109, "LeftInHandPinky"),
    R(110, "LeftHandPinky4"),       R(111, "LeftInHandExtraFinger"), R(112, "LeftHandExtraFinger1"),
    R(113, "LeftHandExtraFinger2"), R(114, "LeftHandExtraFinger3"),  R(115, "LeftHandExtraFinger4"),
};
// RIGHTHAND
const KQovCharacterRole kGroup6[] = {
    R(52, "RightHandThumb1"),        R(53, "RightHandThumb2"),
    R(54, "RightHandThumb3"),        R(55, "RightHandIndex1"),
    R(56, "RightHandIndex2"),        R(57, "RightHandIndex3"),
    R(58, "RightHandMiddle1"),       R(59, "RightHandMiddle2"),
    R(60, "RightHandMiddle3"),       R(61, "RightHandRing1"),
    R(62, "RightHandRing2"),         R(63, "RightHandRing3"),
    R(64, "RightHandPinky1"),        R(65, "RightHandPinky2"),
    R(66, "RightHandPinky3"),        R(116, "RightInHandThumb"),
    R(117, "RightHandThumb4"),       R(118, "RightInHandIndex"),
    R(119, "RightHandIndex4"),       R(120, "RightInHandMiddle"),
    R(121, "RightHandMiddle4"),      R(122, "RightInHandRing"),
    R(123, "RightHandRing4"),        R(124, "RightInHandPinky"),
    R(125, "RightHandPinky4"),       R(126, "RightInHandExtraFinger"),
    R(127, "RightHandExtraFinger1"), R(128, "RightHandExtraFinger2"),
    R(129, "RightHandExtraFinger3"), R(130, "RightHandExtraFinger4"),
};
// PROPS
const KQovCharacterRole kGroup7[] = {
    R(71, "Props0"), R(72, "Props1"), R(73, "Props2"), R(74, "Props3"), R(75, "Props4"),
};
// GAMEMODEPARENT
const KQovCharacterRole kGroup8[] = {
    R(76, "GameModeParentLeftHipRoll"),      R(77, "GameModeParentLeftKnee"),
    R(78, "GameModeParentLeftKneeRoll"),     R(79, "GameModeParentRightHipRoll"),
    R(80, "GameModeParentRightKnee"),        R(81, "GameModeParentRightKneeRoll"),
    R(82, "GameModeParentLeftShoulderRoll"), R(83, "GameModeParentLeftElbow"),
    R(84, "GameModeParentLeftElbowRoll"),    R(85, "GameModeParentRightShoulderRoll"),
    R(86, "GameModeParentRightElbow"),       R(87, "GameModeParentRightElbowRoll"),
};
// NECK
const KQovCharacterRole kGroup9[] = {
    R(92, "Neck1"), R(93, "Neck2"), R(94, "Neck3"), R(95, "Neck4"),  R(96, "Neck5"),
    R(97, "Neck6"), R(98, "Neck7"), R(99, "Neck8"), R(100, "Neck9"),
};
// LEFTFOOT
const KQovCharacterRole kGroup10[] = {
    R(131, "LeftInFootThumb"),      R(132, "LeftFootThumb1"),        R(133, "LeftFootThumb2"),
    R(134, "LeftFootThumb3"),       R(135, "LeftFootThumb4"),        R(136, "LeftInFootIndex"),
    R(137, "LeftFootIndex1"),       R(138, "LeftFootIndex2"),        R(139, "LeftFootIndex3"),
    R(140, "LeftFootIndex4"),       R(141, "LeftInFootMiddle"),      R(142, "LeftFootMiddle1"),
    R(143, "LeftFootMiddle2"),      R(144, "LeftFootMiddle3"),       R(145, "LeftFootMiddle4"),
    R(146, "LeftInFootRing"),       R(147, "LeftFootRing1"),         R(148, "LeftFootRing2"),
    R(149, "LeftFootRing3"),        R(150, "LeftFootRing4"),         R(151, "LeftInFootPinky"),
    R(152, "LeftFootPinky1"),       R(153, "LeftFootPinky2"),        R(154, "LeftFootPinky3"),
    R(155, "LeftFootPinky4"),       R(156, "LeftInFootExtraFinger"), R(157, "LeftFootExtraFinger1"),
    R(158, "LeftFootExtraFinger2"), R(159, "LeftFootExtraFinger3"),  R(160, "LeftFootExtraFinger4"),
};
// RIGHTFOOT
const KQovCharacterRole kGroup11[] = {
    R(161, "RightInFootThumb"),      R(162, "RightFootThumb1"),
    R(163, "RightFootThumb2"),       R(164, "RightFootThumb3"),
    R(165, "RightFootThumb4"),       R(166, "RightInFootIndex"),
    R(167, "RightFootIndex1"),       R(168, "RightFootIndex2"),
    R(169, "RightFootIndex3"),       R(170, "RightFootIndex4"),
    R(171, "RightInFootMiddle"),     R(172, "RightFootMiddle1"),
    R(173, "RightFootMiddle2"),      R(174, "RightFootMiddle3"),
    R(175, "RightFootMiddle4"),      R(176, "RightInFootRing"),
    R(177, "RightFootRing1"),        R(178, "RightFootRing2"),
    R(179, "RightFootRing3"),        R(180, "RightFootRing4"),
    R(181, "RightInFootPinky"),      R(182, "RightFootPinky1"),
    R(183, "RightFootPinky2"),       R(184, "RightFootPinky3"),
    R(185, "RightFootPinky4"),       R(186, "RightInFootExtraFinger"),
    R(187, "RightFootExtraFinger1"), R(188, "RightFootExtraFinger2"),
    R(189, "RightFootExtraFinger3"), R(190, "RightFootExtraFinger4"),
};
#undef R

struct Group {
    const char* keyword;
    const KQovCharacterRole* entries;
    int count;
};

#define G(keyword, n) \
    { keyword, kGroup##n, int(std::size(kGroup##n)) }
const Group kGroups[KQovCharacterRoleTable::kGroupCount] = {
    G("BASE", 0),           G("AUXILIARY", 1), G("SPINE", 2),     G("ROLL", 3),
    G("SPECIAL", 4),        G("LEFTHAND", 5),  G("RIGHTHAND", 6), G("PROPS", 7),
    G("GAMEMODEPARENT", 8), G("NECK", 9),      G("LEFTFOOT", 10), G("RIGHTFOOT", 11),
};
#undef G

const KQovCharacterRole* Entry(int group, int index) {
    if (group < 0 || group >= KQovCharacterRoleTable::kGroupCount) return nullptr;
    if (index < 0 || index >= kGroups[group].count) return nullptr;
    return &kGroups[group].entries[index];
}

}  // namespace

int KQovCharacterRoleTable::GetRoleCount(int group) {
    return group >= 0 && group < kGroupCount ? kGroups[group].count : 0;
}

int KQovCharacterRoleTable::GetRoleSlot(int group, int index) {
    const KQovCharacterRole* e = Entry(group, index);
    return e ? e->slot : -1;
}

const char* KQovCharacterRoleTable::GetRoleName(int group, int index) {
    const KQovCharacterRole* e = Entry(group, index);
    return e ? e->name : nullptr;
}

int KQovCharacterRoleTable::GetRoleVersion(int group, int index) {
    const KQovCharacterRole* e = Entry(group, index);
    return e ? e->version : 0;
}

const char* KQovCharacterRoleTable::GetGroupKeyword(int group) {
    return group >= 0 && group < kGroupCount ? kGroups[group].keyword : nullptr;
}

bool KQovCharacterRoleTable::FindRoleByName(const char* name, bool limited, int& group,
                                            int& index) {
    if (!name) return false;
    const int last =
        limited ? (group < kGroupCount - 1 ? group : kGroupCount - 1) : kGroupCount - 1;
    for (int g = 0; g <= last; ++g) {
        for (int i = 0; i < kGroups[g].count; ++i) {
            if (std::strcmp(kGroups[g].entries[i].name, name) == 0) {
                group = g;
                index = i;
                return true;
            }
        }
    }
    return false;
}

bool KQovCharacterRoleTable::FindRoleBySlot(int slot, int& group, int& index) {
    for (int g = 0; g < kGroupCount; ++g) {
        for (int i = 0; i < kGroups[g].count; ++i) {
            if (kGroups[g].entries[i].slot == slot) {
                group = g;
                index = i;
                return true;
            }
        }
    }
    return false;
}

bool KQovCharacterRoleTable::GetSlotName(int slot, const char*& name) {
    int group = 0, index = 0;
    if (FindRoleBySlot(slot, group, index)) {
        name = GetRoleName(group, index);
        return true;
    }
    if (slot == kReferenceSlot) {
        name = "Reference";
        return true;
    }
    return false;
}
