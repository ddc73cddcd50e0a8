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

using qovtest::QovText;
using qovtest::TextRead;

const char* const kModels =
    "Model: \"Model::Hips\" {\n Type: \"Null\"\n}\n"
    "Model: \"Model::Spine1\" {\n Type: \"Null\"\n}\n"
    "Model: \"Model::Spine2\" {\n Type: \"Null\"\n}\n"
    "Model: \"Model::Lamp\" {\n Type: \"Light\"\n}\n"
    "Model: \"Model::Lamp2\" {\n Type: \"Light\"\n}\n";

const char* const kCharacters =
    "CHARACTER:  {\n"
    " INPUTOUTPUTTYPE: 1\n CHARACTERINDEX: -1\n"
    " REFERENCE:  {\n  MODEL: \"Model::Hips\"\n  NAME: \"Ref\"\n  TOFFSETX: 2\n }\n"
    // A SPINE role named inside BASE is not searched for there.
    " BASE:  {\n  LINK: \"Hips\" {\n   MODEL: \"Hips\"\n   SOFFSETY: 3\n  }\n"
    "  LINK: \"Spine2\" {\n   MODEL: \"Spine2\"\n  }\n }\n"
    " SPINE:  {\n  LINK: \"\" {\n   MODEL: \"Spine1\"\n  }\n  LINK: \"\" {\n   MODEL: \"Spine2\"\n"
    "  }\n }\n"
    " FILTERSET:  {\n  PARAM:  {\n   NAME: \"HipsTOffset\"\n   VALUE0: 1\n   VALUE1: 2\n  }\n"
    "  PARAM:  {\n   NAME: \"NoSuchParameter\"\n   VALUE: 9\n  }\n }\n"
    " CONTROLSET:  {\n  LOCK_XFORM: 1\n"
    "  BASE:  {\n   LINK: \"Hips\" {\n    MODEL: \"Model::Hips\"\n   }\n  }\n"
    "  EFFECTOR:  {\n   LINK:  {\n    NAME: \"HipsEffector\"\n    MODEL: \"Hips\"\n"
    "    TACTIVE: 1\n    SHOW: 0\n   }\n   LINK:  {\n    NAME: \"NoEffector\"\n"
    "    MODEL: \"Spine1\"\n   }\n  }\n"
    "  EFFECTOR_AUX1:  {\n   LINK:  {\n    NAME: \"HipsEffector\"\n    MODEL: \"Spine1\"\n"
    "   }\n  }\n }\n"
    "}\n"
    "CHARACTER:  {\n"
    " INPUTOUTPUTTYPE: 1\n CHARACTERINDEX: 0\n"
    // A SPINE role named inside NECK is found and goes to its own slot; names in any order.
    " NECK:  {\n  LINK: \"Spine3\" {\n   MODEL: \"Hips\"\n  }\n }\n"
    " SPINE:  {\n  LINK: \"Spine2\" {\n   MODEL: \"Spine1\"\n  }\n"
    "  LINK: \"Spine1\" {\n   MODEL: \"Spine2\"\n  }\n }\n"
    " OV_CONTROLSET:  {\n  TYPE: 2\n }\n"
    "}\n"
    "CHARACTER:  {\n CONSTRAINT: \"Hero\"\n}\n"
    "CHARACTER:  {\n}\n";

const char* const kGobos =
    "GoboManager:  {\n"
    " Gobo:  {\n  Version: 250\n  GoboName: \"G1\"\n  GoboPath: \"g1.tif\"\n"
    "  DrawComponent: 1,0,1\n }\n"
    " LightGobo: \"Model::Lamp\", \"G1\"\n"
    " LightGobo: \"Lamp2\", \"G1\"\n"
    " LightGobo: \"Model::Hips\", \"G1\"\n"
    "}\n";

const char* SlotModel(KQovCharacter* character, int slot) {
    const KQovCharacterLink* link = character->GetLinkRecord(slot);
    return link && link->model ? link->model->GetName() : "";
}

TEST(KQovReaderQovCharacters, Version5CharactersWithLinksInputsAndParameters) {
    TextRead read(QovText(5000, std::string(kModels) + kCharacters));
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
        {first, 67, "Model::Hips"},    // REFERENCE
        {first, 0, "Model::Hips"},     // BASE by name
        {first, 10, "Model::Spine1"},  // SPINE by position
        {first, 29, "Model::Spine2"},
        {second, 30, "Model::Hips"},    // "Spine3" found from NECK
        {second, 29, "Model::Spine1"},  // "Spine2" by name, listed first
        {second, 10, "Model::Spine2"},
        {second, 0, ""},
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
        TextRead read(QovText(5000, std::string(kModels) + kCharacters + kGobos),
                      [&](KStreamOptionsQov& options) {
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
    TextRead read(QovText(5000, std::string(kModels) + kGobos));
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
    const std::string body =
        "Objects:  {\n"
        " Constraint: \"Constraint::Rig\", \"Character\" {\n"
        "  Properties60:  {\n  }\n"
        "  INPUTOUTPUTTYPE: 1\n  CHARACTERINDEX: 0\n"
        "  BASE:  {\n   LINK: \"Hips\" {\n    MODEL: \"Model::Hips\"\n    NAME: \"Pelvis\"\n   }\n"
        "  }\n }\n"
        " Constraint: \"Constraint::Aim\", \"Aim\" {\n }\n"
        " ControlSetPlug: \"ControlSetPlug::Plug\", \"ControlSetPlug\" {\n  Version: 100\n }\n"
        " ControlSetPlug: \"ControlSetPlug::Odd\", \"Other\" {\n }\n"
        "}\n";
    TextRead read(QovText(6000, body, "Constraint,ControlSetPlug"));
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
