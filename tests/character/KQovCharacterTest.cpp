#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "character/KQovCharacter.h"
#include "character/KQovCharacterRoleTable.h"
#include "character/KQovControlSet.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovScene.h"

namespace {

using Roles = KQovCharacterRoleTable;

// The groups as listed with the character object, "slot:name" in entry order.
struct GroupRow {
    int group;
    const char* keyword;
    const char* entries;
};
const GroupRow kGroups[] = {
    {0, "BASE",
     "0:Hips 1:LeftUpLeg 2:LeftLeg 3:LeftFoot 5:RightUpLeg 6:RightLeg 7:RightFoot 9:Spine "
     "12:LeftArm 13:LeftForeArm 14:LeftHand 16:RightArm 17:RightForeArm 18:RightHand 20:Head"},
    {1, "AUXILIARY",
     "4:LeftToeBase 8:RightToeBase 11:LeftShoulder 15:RightShoulder 19:Neck 90:LeftFingerBase "
     "91:RightFingerBase"},
    {2, "SPINE",
     "10:Spine1 29:Spine2 30:Spine3 31:Spine4 32:Spine5 33:Spine6 34:Spine7 35:Spine8 36:Spine9"},
    {3, "ROLL",
     "21:LeftUpLegRoll 22:LeftLegRoll 23:RightUpLegRoll 24:RightLegRoll 25:LeftArmRoll "
     "26:LeftForeArmRoll 27:RightArmRoll 28:RightForeArmRoll"},
    {4, "SPECIAL", "70:HipsTranslation"},
    {5, "LEFTHAND",
     "37:LeftHandThumb1 38:LeftHandThumb2 39:LeftHandThumb3 40:LeftHandIndex1 41:LeftHandIndex2 "
     "42:LeftHandIndex3 43:LeftHandMiddle1 44:LeftHandMiddle2 45:LeftHandMiddle3 46:LeftHandRing1 "
     "47:LeftHandRing2 48:LeftHandRing3 49:LeftHandPinky1 50:LeftHandPinky2 51:LeftHandPinky3 "
     "101:LeftInHandThumb 102:LeftHandThumb4 103:LeftInHandIndex 104:LeftHandIndex4 "
     "105:LeftInHandMiddle 106:LeftHandMiddle4 107:LeftInHandRing 108:LeftHandRing4 "
     "109:LeftInHandPinky 110:LeftHandPinky4 111:LeftInHandExtraFinger 112:LeftHandExtraFinger1 "
     "113:LeftHandExtraFinger2 114:LeftHandExtraFinger3 115:LeftHandExtraFinger4"},
    {6, "RIGHTHAND",
     "52:RightHandThumb1 53:RightHandThumb2 54:RightHandThumb3 55:RightHandIndex1 "
     "56:RightHandIndex2 57:RightHandIndex3 58:RightHandMiddle1 59:RightHandMiddle2 "
     "60:RightHandMiddle3 61:RightHandRing1 62:RightHandRing2 63:RightHandRing3 64:RightHandPinky1 "
     "65:RightHandPinky2 66:RightHandPinky3 116:RightInHandThumb 117:RightHandThumb4 "
     "118:RightInHandIndex 119:RightHandIndex4 120:RightInHandMiddle 121:RightHandMiddle4 "
     "122:RightInHandRing 123:RightHandRing4 124:RightInHandPinky 125:RightHandPinky4 "
     "126:RightInHandExtraFinger 127:RightHandExtraFinger1 128:RightHandExtraFinger2 "
     "129:RightHandExtraFinger3 130:RightHandExtraFinger4"},
    {7, "PROPS", "71:Props0 72:Props1 73:Props2 74:Props3 75:Props4"},
    {8, "GAMEMODEPARENT",
     "76:GameModeParentLeftHipRoll 77:GameModeParentLeftKnee 78:GameModeParentLeftKneeRoll "
     "79:GameModeParentRightHipRoll 80:GameModeParentRightKnee 81:GameModeParentRightKneeRoll "
     "82:GameModeParentLeftShoulderRoll 83:GameModeParentLeftElbow 84:GameModeParentLeftElbowRoll "
     "85:GameModeParentRightShoulderRoll 86:GameModeParentRightElbow "
     "87:GameModeParentRightElbowRoll"},
    {9, "NECK",
     "92:Neck1 93:Neck2 94:Neck3 95:Neck4 96:Neck5 97:Neck6 98:Neck7 99:Neck8 100:Neck9"},
    {10, "LEFTFOOT",
     "131:LeftInFootThumb 132:LeftFootThumb1 133:LeftFootThumb2 134:LeftFootThumb3 "
     "135:LeftFootThumb4 136:LeftInFootIndex 137:LeftFootIndex1 138:LeftFootIndex2 "
     "139:LeftFootIndex3 140:LeftFootIndex4 141:LeftInFootMiddle 142:LeftFootMiddle1 "
     "143:LeftFootMiddle2 144:LeftFootMiddle3 145:LeftFootMiddle4 146:LeftInFootRing "
     "147:LeftFootRing1 148:LeftFootRing2 149:LeftFootRing3 150:LeftFootRing4 151:LeftInFootPinky "
     "152:LeftFootPinky1 153:LeftFootPinky2 154:LeftFootPinky3 155:LeftFootPinky4 "
     "156:LeftInFootExtraFinger 157:LeftFootExtraFinger1 158:LeftFootExtraFinger2 "
     "159:LeftFootExtraFinger3 160:LeftFootExtraFinger4"},
    {11, "RIGHTFOOT",
     "161:RightInFootThumb 162:RightFootThumb1 163:RightFootThumb2 164:RightFootThumb3 "
     "165:RightFootThumb4 166:RightInFootIndex 167:RightFootIndex1 168:RightFootIndex2 "
     "169:RightFootIndex3 170:RightFootIndex4 171:RightInFootMiddle 172:RightFootMiddle1 "
     "173:RightFootMiddle2 174:RightFootMiddle3 175:RightFootMiddle4 176:RightInFootRing "
     "177:RightFootRing1 178:RightFootRing2 179:RightFootRing3 180:RightFootRing4 "
     "181:RightInFootPinky 182:RightFootPinky1 183:RightFootPinky2 184:RightFootPinky3 "
     "185:RightFootPinky4 186:RightInFootExtraFinger 187:RightFootExtraFinger1 "
     "188:RightFootExtraFinger2 189:RightFootExtraFinger3 190:RightFootExtraFinger4"},
};

TEST(CharacterRoleTable, GroupsMatchTheListing) {
    int total = 0;
    for (const GroupRow& row : kGroups) {
        SCOPED_TRACE(row.keyword);
        EXPECT_STREQ(Roles::GetGroupKeyword(row.group), row.keyword);
        std::istringstream in(row.entries);
        std::string pair;
        int index = 0;
        for (; in >> pair; ++index) {
            const int slot = std::stoi(pair.substr(0, pair.find(':')));
            const std::string name = pair.substr(pair.find(':') + 1);
            EXPECT_EQ(Roles::GetRoleSlot(row.group, index), slot);
            EXPECT_EQ(name, Roles::GetRoleName(row.group, index));
            EXPECT_EQ(Roles::GetRoleVersion(row.group, index), slot < 90 ? 4000 : 4500);
            const char* slotName = nullptr;
            EXPECT_TRUE(Roles::GetSlotName(slot, slotName));
            EXPECT_EQ(name, slotName);
        }
        EXPECT_EQ(Roles::GetRoleCount(row.group), index);
        total += index;
    }
    EXPECT_EQ(total, 186);
}

TEST(CharacterRoleTable, LookupsAndRanges) {
    struct Case {
        const char* name;
        bool limited;
        int limit;
        bool found;
        int group, index;
    };
    const Case cases[] = {
        {"Hips", false, 0, true, 0, 0},
        {"hips", false, 0, false, -7, -7},  // case-sensitive
        {"LeftToeBase", true, 1, true, 1, 0},
        {"Spine1", true, 1, false, 1, -7},  // group 2 lies past the limit
        {"Spine1", true, 2, true, 2, 0},
        {"RightFootExtraFinger4", true, 99, true, 11, 29},  // the limit is taken as 11
        {"Reference", false, 0, false, -7, -7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int group = c.limited ? c.limit : -7, index = -7;
        EXPECT_EQ(Roles::FindRoleByName(c.name, c.limited, group, index), c.found);
        EXPECT_EQ(group, c.found || c.limited ? c.group : -7);
        EXPECT_EQ(index, c.index);
    }
    const char* name = nullptr;
    EXPECT_TRUE(Roles::GetSlotName(67, name));
    EXPECT_STREQ(name, "Reference");
    for (int slot : {68, 69, 88, 89, -1, 191}) EXPECT_FALSE(Roles::GetSlotName(slot, name)) << slot;
    EXPECT_EQ(Roles::GetRoleCount(12), 0);
    EXPECT_EQ(Roles::GetRoleSlot(0, 15), -1);
    EXPECT_EQ(Roles::GetRoleName(-1, 0), nullptr);
    EXPECT_EQ(Roles::GetRoleVersion(5, 30), 0);
}

TEST(Character, NewCharacter) {
    KQovCharacter character(nullptr, "Constraint::C");
    EXPECT_EQ(character.GetObjectType(), KQovObject::eCharacter);
    EXPECT_STREQ(character.GetTypeName().Buffer(), "Character");
    EXPECT_EQ(character.GetInputType(), 4);
    EXPECT_EQ(character.GetTakeNodeCount(), 1);
    for (int slot = -1; slot <= 191; ++slot)
        EXPECT_FALSE(character.GetCharacterLink(slot, nullptr));
}

TEST(Character, LinksKeepBackLinks) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovNode a(nullptr, "Model::A"), b(nullptr, "Model::B");
    KQovCharacterLink link;
    link.model = &a;
    link.translationOffset = KVector4(1, 2, 3, 1);
    EXPECT_FALSE(character.SetCharacterLink(191, link, false));
    EXPECT_EQ(a.GetCharacterLinkCount(), 0);
    ASSERT_TRUE(character.SetCharacterLink(3, link, false));
    EXPECT_GE(a.FindCharacterLink(&character, 0, 3, 0), 0);
    link.model = &b;
    character.SetCharacterLink(3, link, false);
    EXPECT_EQ(a.GetCharacterLinkCount(), 0);
    EXPECT_GE(b.FindCharacterLink(&character, 0, 3, 0), 0);
    KQovCharacterLink out;
    ASSERT_TRUE(character.GetCharacterLink(3, &out));
    EXPECT_EQ(out.model, &b);
    EXPECT_DOUBLE_EQ(out.translationOffset[1], 2.0);
    // A name alone still counts as linked.
    KQovCharacterLink named;
    named.name = "LeftFoot";
    character.SetCharacterLink(4, named, false);
    EXPECT_TRUE(character.GetCharacterLink(4, nullptr));
}

TEST(Character, UpdateFlagKeepsTheLinkPropertyInStep) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovNode a(nullptr, "Model::A");
    KQovCharacterLink link;
    link.model = &a;
    character.SetCharacterLink(0, link, true);
    KPropertyObjectList* hips = character.GetLinkProperty(0);
    ASSERT_NE(hips, nullptr);
    ASSERT_EQ(hips->GetCount(), 1);
    EXPECT_EQ(hips->GetAt(0), a.GetPropertyHandler());
    EXPECT_EQ(a.GetCharacterLinkCount(), 1);  // the connection event added no second back-link
    character.SetCharacterLink(0, KQovCharacterLink(), true);
    EXPECT_EQ(hips->GetCount(), 0);
    EXPECT_EQ(a.GetCharacterLinkCount(), 0);
}

TEST(Character, InputMustFitItsType) {
    KQovCharacter character(nullptr, "Constraint::C"), other(nullptr, "Constraint::D");
    struct Case {
        int type;
        KQovObject* object;
        KQovObject* input;
    };
    const Case cases[] = {
        {1, &other, &other},   {1, &character, nullptr}, {0, &other, nullptr},
        {1, nullptr, nullptr}, {7, &other, nullptr},
    };
    for (const Case& c : cases) {
        character.SetInput(c.type, c.object);
        EXPECT_EQ(character.GetInputType(), c.type);
        EXPECT_EQ(character.GetInput(), c.input);
    }
}

// The input may be of any scene or manager: its going leaves the character without input.
TEST(Character, InputDestroyedBeforeTheCharacter) {
    KQovCharacter character(nullptr, "Constraint::C");
    auto first = std::make_unique<KQovCharacter>(nullptr, "Constraint::D");
    auto input = std::make_unique<KQovCharacter>(nullptr, "Constraint::E");
    auto driven = std::make_unique<KQovCharacter>(nullptr, "Constraint::F");
    character.SetInput(1, first.get());
    character.SetInput(1, input.get());
    driven->SetInput(1, input.get());
    first.reset();  // no longer the input: nothing changes
    EXPECT_EQ(character.GetInput(), input.get());
    driven.reset();  // gone before its input: the input keeps nothing of it
    input.reset();
    EXPECT_EQ(character.GetInputType(), 1);
    EXPECT_EQ(character.GetInput(), nullptr);
    {
        KQovObjectManager elsewhere;
        KQovScene* scene = elsewhere.CreateScene();
        character.SetInput(1, scene->GetCharacter(scene->CreateCharacter("G")));
        ASSERT_NE(character.GetInput(), nullptr);
        scene->Clear();
        EXPECT_EQ(character.GetInput(), nullptr);
        character.SetInput(1, scene->GetCharacter(scene->CreateCharacter("H")));
        ASSERT_NE(character.GetInput(), nullptr);
    }
    EXPECT_EQ(character.GetInput(), nullptr);  // went with its manager
}

TEST(Character, NodeDestroyedBeforeTheCharacter) {
    auto character = std::make_unique<KQovCharacter>(nullptr, "Constraint::C");
    auto node = std::make_unique<KQovNode>(nullptr, "Model::A");
    character->GetLinkProperty(0)->SetSingle(node->GetPropertyHandler());
    KQovControlSetLink fk{node.get(), KString("")};
    character->GetControlSet()->SetFKLink(5, fk);
    character->GetControlSet()->SetEffector(2, node.get(), KQovEffectorRecord{});
    character->GetControlSet()->SetAuxEffector(2, node.get(), 14);
    EXPECT_EQ(node->GetCharacterLinkCount(), 4);
    node.reset();
    EXPECT_FALSE(character->GetCharacterLink(0, nullptr));
    EXPECT_FALSE(character->GetControlSet()->GetFKLink(5, nullptr));
    EXPECT_FALSE(character->GetControlSet()->GetEffector(2, nullptr));
    EXPECT_FALSE(character->GetControlSet()->GetAuxEffector(2, nullptr, 14));
    character.reset();  // nothing left to touch the node
}

TEST(Character, CharacterDestroyedBeforeTheNode) {
    KQovNode node(nullptr, "Model::A");
    {
        KQovCharacter character(nullptr, "Constraint::C");
        character.GetLinkProperty(0)->SetSingle(node.GetPropertyHandler());
        character.GetControlSet()->SetEffector(0, &node, KQovEffectorRecord{});
        EXPECT_EQ(node.GetCharacterLinkCount(), 2);
    }
    EXPECT_EQ(node.GetCharacterLinkCount(), 0);
}

}  // namespace
