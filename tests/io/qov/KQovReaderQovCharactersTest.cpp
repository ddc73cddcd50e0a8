// Characters with their role links, inputs, solver parameters and control sets, and the gobo
// manager, read from both layouts.
#include <gtest/gtest.h>

#include <string>

#include "TextReadTestUtil.h"
#include "attributes/KQovLight.h"
#include "character/KQovCharacter.h"
#include "character/KQovControlSet.h"
#include "character/KQovControlSetPlug.h"
#include "character/KQovSolverParameterStore.h"
#include "character/KQovSolverParameterTable.h"
#include "scene/KQovNode.h"

namespace {

using qovtest::GoldenText;
using qovtest::TextRead;

const char* SlotModel(KQovCharacter* character, int slot) {
    const KQovCharacterLink* link = character->GetLinkRecord(slot);
    return link && link->model ? link->model->GetName() : "";
}

TEST(KQovReaderQovCharacters, Version5CharactersWithLinksInputsAndParameters) {
    TextRead read(GoldenText("char_v5.qov"));
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    ASSERT_EQ(read.scene->GetCharacterCount(), 4);
    const char* names[] = {"Constraint::Character", "Constraint::Character1", "Constraint::Hero",
                           "Constraint::Character2"};
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(read.scene->GetCharacter(i)->GetName(), names[i]);

    KQovCharacter* first = read.scene->GetCharacter(0);
    KQovCharacter* second = read.scene->GetCharacter(1);
    struct Slot {
        KQovCharacter* character;
        int slot;
        const char* model;
    } slots[] = {
        {first, 67, "Model::Hips"},                                  // REFERENCE
        {first, 0, "Model::Hips"},                                   // BASE by name
        {first, 10, "Model::Spine1"},                                // SPINE by position
        {first, 29, "Model::Spine2"},  {second, 30, "Model::Hips"},  // "Spine3" found from NECK
        {second, 29, "Model::Spine1"},  // "Spine2" by name, listed first
        {second, 10, "Model::Spine2"}, {second, 0, ""},
    };
    for (const Slot& s : slots) {
        SCOPED_TRACE(s.slot);
        EXPECT_STREQ(SlotModel(s.character, s.slot), s.model);
    }
    const KQovCharacterLink* reference = first->GetLinkRecord(67);
    EXPECT_STREQ(reference->name.Buffer(), "Ref");
    EXPECT_EQ(reference->translationOffset[0], 2.0);
    EXPECT_EQ(first->GetLinkRecord(0)->scalingOffset[1], 3.0);
    EXPECT_EQ(first->GetLinkRecord(0)->scalingOffset[0], 1.0);

    // CHARACTERINDEX -1 names no character; 0 names the first.
    EXPECT_EQ(first->GetInputType(), KQovCharacter::eInputCharacter);
    EXPECT_EQ(first->GetInput(), nullptr);
    EXPECT_EQ(second->GetInput(), first);

    KQovSolverParameterStore* store = first->GetSolverStore();
    const double offsets[3] = {1.0, 2.0, 1.0};  // VALUE2 defaults to VALUE0
    const char* axes[3] = {"HipsTOffsetX", "HipsTOffsetY", "HipsTOffsetZ"};
    for (int axis = 0; axis < 3; ++axis)
        EXPECT_EQ(store->GetValue(KQovSolverParameterTable::FindParameter(axes[axis])),
                  offsets[axis])
            << axes[axis];

    KQovControlSet* set = first->GetControlSet();
    EXPECT_EQ(set->GetType(), 0);  // no "TYPE": kept
    EXPECT_EQ(set->GetLockTransform(), 1);
    KQovControlSetLink fk;
    ASSERT_TRUE(set->GetFKLink(0, &fk));
    EXPECT_STREQ(fk.model ? fk.model->GetName() : "", "Model::Hips");
    KQovEffectorRecord effector;
    ASSERT_TRUE(set->GetEffector(KQovControlSet::FindEffector("HipsEffector"), &effector));
    EXPECT_STREQ(effector.model ? effector.model->GetName() : "", "Model::Hips");
    EXPECT_EQ(effector.translationActive, 1);
    EXPECT_EQ(effector.show, 0);
    KQovNode* auxiliary = nullptr;
    ASSERT_TRUE(set->GetAuxEffector(KQovControlSet::FindEffector("HipsEffector"), &auxiliary, 1));
    EXPECT_STREQ(auxiliary ? auxiliary->GetName() : "", "Model::Spine1");
    EXPECT_EQ(second->GetControlSet()->GetType(), 2);
}

TEST(KQovReaderQovCharacters, CharactersAndGobosFollowTheirSwitches) {
    struct Case {
        bool characters, gobos;
    } cases[] = {{false, true}, {true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.characters);
        TextRead read(GoldenText("char_v5.qov"), [&](KStreamOptionsQov& options) {
            options.SetSwitch(KStreamOptionsQov::eCharacters, c.characters);
            options.SetSwitch(KStreamOptionsQov::eGobos, c.gobos);
        });
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(read.scene->GetCharacterCount(), c.characters ? 4 : 0);
        KQovLight* lamp = read.scene->GetRootNode()->FindChild("Lamp", true)->GetLight();
        EXPECT_EQ(lamp->GetGoboFileName() != nullptr, c.gobos);
    }
}

TEST(KQovReaderQovCharacters, OneGoboServesTwoLights) {
    TextRead read(GoldenText("char_v5.qov"));
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    for (const char* name : {"Lamp", "Lamp2"}) {
        SCOPED_TRACE(name);
        KQovNode* node = read.scene->GetRootNode()->FindChild(name, true);
        ASSERT_NE(node, nullptr);
        KQovLight* light = node->GetLight();
        ASSERT_NE(light, nullptr);
        EXPECT_STREQ(light->GetGoboFileName(), "g1.tif");
        EXPECT_TRUE(light->GetDrawGroundProjection());
        EXPECT_FALSE(light->GetDrawVolumetricLight());
        EXPECT_TRUE(light->GetDrawFrontFacingVolumetricLight());
    }
}

TEST(KQovReaderQovCharacters, Version6CharacterAndControlSetPlugObjects) {
    TextRead read(GoldenText("char_v6.qov"));
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    ASSERT_EQ(read.scene->GetCharacterCount(), 1);
    KQovCharacter* rig = read.scene->GetCharacter(0);
    EXPECT_STREQ(rig->GetName(), "Constraint::Rig");
    // Version-6 links name no model (connections give them) and version-5 inputs are not read.
    EXPECT_STREQ(SlotModel(rig, 0), "");
    EXPECT_STREQ(rig->GetLinkRecord(0)->name.Buffer(), "Pelvis");
    EXPECT_NE(rig->GetInputType(), KQovCharacter::eInputCharacter);
    ASSERT_EQ(read.scene->GetControlSetPlugCount(), 1);
    EXPECT_STREQ(read.scene->GetControlSetPlug(0)->GetName(), "ControlSetPlug::Plug");
    KQovPropertyFieldFile* file = read.reader.GetFieldFile();
    EXPECT_EQ(file->FindObject("Constraint::Rig"), rig->GetPropertyHandler());
    EXPECT_EQ(file->FindObject("ControlSetPlug::Plug"),
              read.scene->GetControlSetPlug(0)->GetPropertyHandler());
}

}  // namespace
