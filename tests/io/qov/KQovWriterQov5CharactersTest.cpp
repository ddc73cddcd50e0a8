// The version-5 writer's characters, control sets, constraints and character poses.

#include "KQovWriterQov5TestUtil.h"
#include "character/KQovCharacter.h"
#include "character/KQovCharacterPose.h"
#include "character/KQovCharacterRoleTable.h"
#include "character/KQovControlSet.h"
#include "character/KQovSolverParameterTable.h"

using v5test::Fields;
using v5test::Only;

namespace {

// A character "Hero" on the scene's "Hips", with links to a model of another scene, and a
// second character that takes the first as its input.
struct CharacterScene : v5test::Scene {
    KQovScene* other = manager.CreateScene();
    KQovNode* hips = Add("Hips", manager.CreateSkeleton());
    KQovNode* stranger = manager.CreateNode("Stranger");
    KQovCharacter* hero = nullptr;

    CharacterScene() {
        other->GetRootNode()->AddChild(stranger);
        hero = scene->GetCharacter(scene->CreateCharacter("Hero"));
        Link(0, hips, "");          // Hips, this scene
        Link(1, stranger, "");      // LeftUpLeg, another scene, no name: left out
        Link(2, stranger, "Knee");  // LeftLeg, another scene with a name
        Link(KQovCharacterRoleTable::kReferenceSlot + 1, hips, "Floor");  // LEFT_FLOOR
        KQovControlSet* set = hero->GetControlSet();
        set->SetType(2);
        set->SetLockPick(1);
        KQovControlSetLink fk;
        fk.model = stranger;
        fk.name = "Far";
        set->SetFKLink(2, fk);
        KQovEffectorRecord flags;
        flags.translationActive = 1;
        set->SetEffector(0, hips, flags);
        set->SetEffector(1, stranger, flags);  // another scene: not written
        set->SetAuxEffector(3, hips, 1);
        KQovCharacter* second = scene->GetCharacter(scene->CreateCharacter("Second"));
        second->SetInput(KQovCharacter::eInputCharacter, hero);
    }

    void Link(int slot, KQovNode* model, const char* name) {
        KQovCharacterLink link;
        link.model = model;
        link.name = name;
        link.translationOffset = KVector4(1.0, 2.0, 3.0, 1.0);
        hero->SetCharacterLink(slot, link, false);
    }
};

// The text of the first block named `field` from `from` on, up to its closing brace.
std::string Block(const std::string& text, const std::string& from) {
    const size_t start = text.find(from);
    if (start == std::string::npos) return "";
    const size_t lineStart = text.rfind('\n', start) + 1;
    const std::string indent = text.substr(lineStart, start - lineStart);
    const size_t end = text.find("\n" + indent + "}", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

TEST(KQovWriterQov5Characters, LinksControlSetsAndConstraints) {
    TempTestFolder tmp;
    CharacterScene s;
    KStreamOptionsQov options;
    Only(options, {KStreamOptionsQov::eCharacters});
    const std::string name = tmp / "characters.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eAscii, &options));
    const std::string text = v5test::ReadText(name);
    const std::string hero = Block(text, "CHARACTER:  {");
    EXPECT_EQ(Fields(hero, "CHARACTERIZE",
                     {"CHARACTERIZE", "LOCK_PICK", "CONSTRAINT", "INPUTOUTPUTTYPE", "ACTORINDEX"}),
              "CHARACTERIZE 1\nLOCK_PICK 0\nCONSTRAINT \"Constraint::Hero\"\nINPUTOUTPUTTYPE 4\n"
              "ACTORINDEX -1\nLOCK_PICK 1\n");
    // An empty reference slot still gets its block, with the neutral offsets.
    EXPECT_EQ(Fields(Block(hero, "REFERENCE:"), "", {"MODEL", "TOFFSETX", "SOFFSETZ"}),
              "TOFFSETX 0\nSOFFSETZ 1\n");
    EXPECT_EQ(Fields(Block(hero, "LEFT_FLOOR:"), "", {"MODEL", "NAME", "TOFFSETY"}),
              "MODEL \"Model::Hips\"\nNAME \"Floor\"\nTOFFSETY 2\n");
    const std::string base = Block(hero, "BASE:");
    EXPECT_EQ(Fields(Block(base, "LINK: \"Hips\""), "", {"MODEL", "NAME", "TOFFSETZ"}),
              "MODEL \"Model::Hips\"\nTOFFSETZ 3\n");
    // A model of another scene without a name is not this file's: neutral offsets only.
    EXPECT_EQ(Fields(Block(base, "LINK: \"LeftUpLeg\""), "", {"MODEL", "TOFFSETZ"}),
              "TOFFSETZ 0\n");
    // With a name it is written, and names its model all the same.
    EXPECT_EQ(Fields(Block(base, "LINK: \"LeftLeg\""), "", {"MODEL", "NAME"}),
              "MODEL \"Model::Stranger\"\nNAME \"Knee\"\n");
    // Empty entries of version 4500 (slots from 90 on) are left out; those of 4000 are not.
    for (int group = 0; group < KQovCharacterRoleTable::kGroupCount; ++group)
        for (int i = 0; i < KQovCharacterRoleTable::GetRoleCount(group); ++i) {
            const std::string link =
                std::string("LINK: \"") + KQovCharacterRoleTable::GetRoleName(group, i) + "\"";
            EXPECT_EQ(hero.find(link) != std::string::npos,
                      KQovCharacterRoleTable::GetRoleVersion(group, i) <= 4000)
                << link;
        }
    size_t params = 0;
    for (size_t at = hero.find("PARAM:"); at != std::string::npos; at = hero.find("PARAM:", at + 1))
        ++params;
    EXPECT_EQ(params, size_t(KQovSolverParameterTable::kCount));

    const std::string set = Block(hero, "OV_CONTROLSET:");
    EXPECT_EQ(Fields(set, "", {"TYPE", "LOCK_PICK"}), "TYPE 2\nLOCK_PICK 1\n");
    // The control set names no model of another scene, only the link's name.
    EXPECT_EQ(Fields(Block(set, "LINK: \"LeftLeg\""), "", {"MODEL", "NAME"}), "NAME \"Far\"\n");
    EXPECT_EQ(Fields(Block(set, "EFFECTOR:"), "", {"NAME", "MODEL", "SHOW", "TACTIVE", "RACTIVE"}),
              std::string("NAME \"") + KQovControlSet::GetEffectorName(0) +
                  "\"\nMODEL \"Model::Hips\"\nSHOW 1\nTACTIVE 1\nRACTIVE 0\n");
    EXPECT_EQ(Fields(Block(set, "EFFECTOR_AUX1:"), "", {"NAME", "MODEL"}),
              std::string("NAME \"") + KQovControlSet::GetEffectorName(3) +
                  "\"\nMODEL \"Model::Hips\"\n");

    // The second character's input is the first one, by its index among the scene's characters.
    const std::string second = text.substr(text.find("CONSTRAINT: \"Constraint::Second\""));
    const std::string input = "INPUTOUTPUTTYPE 1\nACTORINDEX -1\nCHARACTERINDEX 0\n";
    EXPECT_EQ(Fields(second, "", {"INPUTOUTPUTTYPE", "ACTORINDEX", "CHARACTERINDEX"})
                  .substr(0, input.size()),
              input);
    EXPECT_EQ(Fields(Block(text, "Constraints:"), "", {"Version", "Group", "Constraint", "Type"}),
              "Version 4\nGroup \"Constraint Group\" {\nConstraint \"Constraint::Hero\" {\nType "
              "\"Character\"\n"
              "Constraint \"Constraint::Second\" {\nType \"Character\"\n");
}

TEST(KQovWriterQov5Characters, CountsAndWhatTheSwitchLeavesOut) {
    TempTestFolder tmp;
    CharacterScene s;
    const std::string name = tmp / "counts.qov";
    for (bool characters : {true, false}) {
        KStreamOptionsQov options;
        Only(options, {KStreamOptionsQov::eAnimation});
        options.SetSwitch(KStreamOptionsQov::eCharacters, characters);
        ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eBinary, &options));
        KQovReaderQov reader(&s.manager, nullptr);
        ASSERT_TRUE(reader.FileOpen(name.c_str()));
        std::unique_ptr<KStreamOptionsQov> read(reader.ReadHeaderInfo(nullptr, false));
        ASSERT_TRUE(read);
        // Every character is one constraint.
        EXPECT_EQ(read->GetCount(KStreamOptionsQov::eCharacterCount), 2);
        EXPECT_EQ(read->GetCount(KStreamOptionsQov::eConstraints), 2);
        KQovDestroySceneInfo(&s.manager, read->sceneInfo);
        reader.FileClose();
        KQovFieldFile file;
        ASSERT_TRUE(file.Open(name.c_str(), false, true, nullptr));
        EXPECT_EQ(file.FieldReadGetOccurrenceCount("CHARACTER"), characters ? 2 : 0);
        EXPECT_EQ(file.FieldReadGetOccurrenceCount("Constraints"), characters ? 1 : 0);
        file.FieldFileClose();
    }
}

TEST(KQovWriterQov5Characters, CharacterPosesNestTheirScenes) {
    TempTestFolder tmp;
    CharacterScene s;
    KQovCharacterPose* pose = s.scene->GetCharacterPose(s.scene->CreateCharacterPose("Stance"));
    ASSERT_TRUE(pose);
    if (!pose->GetScene()) GTEST_SKIP() << "no private scenes for character poses here";
    KQovScene* inner = pose->GetScene();
    KQovNode* bone = s.manager.CreateNode("PoseBone");
    inner->GetRootNode()->AddChild(bone);
    KStreamOptionsQov options;
    Only(options, {KStreamOptionsQov::eCharacters});
    const std::string name = tmp / "poses.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eAscii, &options));
    const std::string text = v5test::ReadText(name);
    const std::string block = Block(text, "Pose: \"");
    EXPECT_NE(block.find("Type: \"CharacterPose\""), std::string::npos);
    const std::string nested = Block(block, "PoseScene:");
    EXPECT_NE(nested.find("Model: \"Model::PoseBone\""), std::string::npos);
    EXPECT_NE(nested.find("CONSTRAINT: \"Constraint::PoseCharacter\""), std::string::npos);
    // The nested scene has no takes, no settings and no Summary of its own.
    for (const char* absent : {"Takes:", "Summary:", "Settings:", "Media:"})
        EXPECT_EQ(nested.find(absent), std::string::npos) << absent;
}

// A pose's scene that cannot be written fails the whole write with its own reason, also from
// deep inside a chain of poses; a chain the writers can nest is written whole.
TEST(KQovWriterQov5Characters, APoseSceneThatCannotBeWrittenFailsTheWrite) {
    TempTestFolder tmp;
    for (int depth : {KQovWriterQov5::kMaxNesting, KQovWriterQov5::kMaxNesting + 1}) {
        CharacterScene s;
        KQovScene* deepest = s.scene;
        for (int i = 0; i < depth && deepest; ++i) {
            const std::string name = "Level" + std::to_string(i);
            KQovCharacterPose* pose =
                deepest->GetCharacterPose(deepest->CreateCharacterPose(name.c_str()));
            ASSERT_TRUE(pose);
            deepest = pose->GetScene();
        }
        if (!deepest) GTEST_SKIP() << "no private scenes for character poses here";
        deepest->GetRootNode()->AddChild(s.manager.CreateNode("Deepest"));
        const bool fits = depth <= KQovWriterQov5::kMaxNesting;
        // Version 5 (ASCII, binary), then version 6 (ASCII, binary): both fail alike.
        for (int id : {4, 3, 1, 0}) {
            SCOPED_TRACE(std::to_string(depth) + " deep, id " + std::to_string(id));
            const std::string name = tmp / ("chain" + std::to_string(id) + ".qov");
            KQovExporter exporter(&s.manager);
            ASSERT_TRUE(exporter.Initialize(name.c_str()));
            exporter.SetFileFormat(id);
            KStreamOptionsQov options;
            v5test::AllOn(options);
            EXPECT_EQ(exporter.Export(s.scene, &options), fits);
            if (!fits) {
                EXPECT_STREQ(exporter.GetLastErrorString(), "Character poses nested too deeply");
            } else if (id == 4) {
                EXPECT_NE(v5test::ReadText(name).find("Model: \"Model::Deepest\""),
                          std::string::npos);
            }
        }
    }
    // A writer already at the limit: the scene of any pose is one level too deep.
    CharacterScene s;
    ASSERT_GE(s.scene->CreateCharacterPose("Stance"), 0);
    KQovWriterQov5 writer(&s.manager, nullptr);
    writer.SetFileMode(KQovWriterQov5::eAscii);
    ASSERT_TRUE(writer.FileCreate((tmp / "limit.qov").c_str()));
    writer.SetNestingDepth(KQovWriterQov5::kMaxNesting);
    KStreamOptionsQov options;
    v5test::AllOn(options);
    EXPECT_FALSE(writer.Write(s.scene, &options));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eUnidentifiedError);
    EXPECT_STREQ(writer.GetLastErrorString(), "Character poses nested too deeply");
    // Closing after the failed write puts nothing in place and keeps the write's error.
    EXPECT_FALSE(writer.FileClose());
    EXPECT_STREQ(writer.GetLastErrorString(), "Character poses nested too deeply");
    for (const std::string& name : TempTestFolder::NamesIn(tmp.path()))
        EXPECT_EQ(name.find("limit"), std::string::npos) << name;
}
