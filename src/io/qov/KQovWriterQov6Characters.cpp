// Version-6 characters ("Constraint" objects), control-set plugs and character poses. A
// character's models travel as connections onto its link properties; a character pose holds
// a whole version-6 scene of its own, written by a nested writer into the same file.

#include "character/KQovCharacter.h"
#include "character/KQovCharacterPose.h"
#include "character/KQovCharacterRoleTable.h"
#include "character/KQovControlSetPlug.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov6.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KObject.h"
#include "scene/KProperty.h"
#include "scene/KQovNode.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovScene.h"

void KQovWriterQov6::CollectCharacters(KQovScene* scene) {
    auto inScene = [scene](const KQovNode* node) {
        return node && node->GetEntityContainer() == scene->GetEntityContainer();
    };
    for (int c = 0; c < scene->GetCharacterCount(); ++c) {
        KQovCharacter* character = scene->GetCharacter(c);
        if (!character) continue;
        mObjects.push_back({"Constraint", character->GetName(), "Character",
                            [this, scene, character] {
                                mFile->FieldWritePropertyBlock(character->GetPropertyHandler());
                                WriteCharacterContent(scene, character);
                            },
                            nullptr, character});
        // The input character, when it is written too, is connected onto "Character".
        KQovObject* input = character->GetInput();
        if (character->GetInputType() == KQovCharacter::eInputCharacter && input)
            for (int i = 0; i < scene->GetCharacterCount(); ++i)
                if (scene->GetCharacter(i) == input)
                    mConnections.push_back({"OP", input->GetName(), character->GetName(),
                                            "Character", input, character});
        for (int slot = 0; slot < KQovCharacter::kSlotCount; ++slot) {
            const char* slotName = nullptr;
            KQovCharacterLink link;
            if (!character->GetCharacterLink(slot, &link) || !inScene(link.model) ||
                !KQovCharacterRoleTable::GetSlotName(slot, slotName))
                continue;
            mConnections.push_back({"OP", WrittenName(link.model), character->GetName(),
                                    std::string(slotName) + "Link", nullptr, character});
        }
    }
    for (int p = 0; p < scene->GetControlSetPlugCount(); ++p) {
        KQovControlSetPlug* plug = scene->GetControlSetPlug(p);
        if (!plug) continue;
        mObjects.push_back({"ControlSetPlug", plug->GetName(), "ControlSetPlug",
                            [this, plug] {
                                KQovWriteIntField(mFile, "Version", 100);
                                mFile->FieldWritePropertyBlock(plug->GetPropertyHandler());
                            },
                            nullptr, plug});
    }
    for (int p = 0; p < scene->GetCharacterPoseCount(); ++p) {
        KQovCharacterPose* pose = scene->GetCharacterPose(p);
        if (!pose) continue;
        mObjects.push_back({"Pose", pose->GetName(), "CharacterPose",
                            [this, pose] {
                                KQovWriteBlockBegin(mFile, "PoseScene");
                                if (KQovScene* poseScene = pose->GetScene())
                                    WritePoseScene(poseScene);
                                KQovWriteBlockEnd(mFile);
                            },
                            nullptr, pose});
    }
}

void KQovWriterQov6::WritePoseScene(KQovScene* poseScene) {
    // Models, characters and poses only. A pose scene that cannot be written (past the
    // nesting limit) fails the whole write with the nested reason, not an empty pose.
    KStreamOptionsQov options;
    for (int s : {0, 1, 2, 5, 6, 7, 9, 10, 12}) options.SetSwitch(s, false);
    KQovWriterQov6 nested(mManager, mOwner);
    nested.SetNestingDepth(mDepth + 1);
    if (!nested.Write(poseScene, &options, mFile) && mError.GetErrorCode() == -1)
        mError.SetErrorWithText(nested.GetLastErrorID(), nested.GetLastErrorString());
    mStatus += nested.mStatus;  // names the pose's scene made unique
}
