// Version-5 characters ("CHARACTER" blocks with their links, solver parameters and control set)
// and character poses, each written as a nested scene.

#include "character/KQovCharacter.h"
#include "character/KQovCharacterPose.h"
#include "character/KQovCharacterRoleTable.h"
#include "character/KQovControlSet.h"
#include "character/KQovSolverParameterStore.h"
#include "character/KQovSolverParameterTable.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

namespace {

using Roles = KQovCharacterRoleTable;

// Link groups by keyword, in the order the blocks are written.
const int kCharacterGroups[] = {0, 1, 2, 9, 3, 4, 5, 6, 10, 11, 7};
const int kControlSetGroups[] = {0, 1, 2, 9, 3, 4, 5, 6, 10, 11};
const struct {
    const char* name;
    int slot;
} kSingleLinks[] = {{"REFERENCE", 67},
                    {"LEFT_FLOOR", 68},
                    {"RIGHT_FLOOR", 69},
                    {"LEFT_HANDFLOOR", 88},
                    {"RIGHT_HANDFLOOR", 89}};

bool InScene(const KQovNode* node, const KQovScene* scene) {
    return node && node->GetEntityContainer() &&
           node->GetEntityContainer() == scene->GetEntityContainer();
}

// A slot written with its content: set, and its model in this scene or a name of its own.
bool Writable(const KQovCharacterLink& link, bool set, const KQovScene* scene) {
    return set && (InScene(link.model, scene) || !link.name.IsEmpty());
}

void WriteLinkFields(const KQovWriterQov5& writer, KQovFieldFile* f, const KQovCharacterLink& link,
                     bool write) {
    KQovCharacterLink empty;
    const KQovCharacterLink& values = write ? link : empty;
    if (write && link.model) f->FieldWriteC("MODEL", writer.WrittenName(link.model));
    if (write && !link.name.IsEmpty()) f->FieldWriteC("NAME", link.name.Buffer());
    static const char* const kOffsets[3][3] = {{"TOFFSETX", "TOFFSETY", "TOFFSETZ"},
                                               {"ROFFSETX", "ROFFSETY", "ROFFSETZ"},
                                               {"SOFFSETX", "SOFFSETY", "SOFFSETZ"}};
    const KVector4* offsets[3] = {&values.translationOffset, &values.rotationOffset,
                                  &values.scalingOffset};
    for (int kind = 0; kind < 3; ++kind)
        for (int axis = 0; axis < 3; ++axis)
            KQovWriteDoubleField(f, kOffsets[kind][axis], (*offsets[kind])[axis]);
}

void WriteControlSetLinkFields(const KQovWriterQov5& writer, KQovFieldFile* f,
                               const KQovControlSetLink& link, const KQovScene* scene) {
    if (InScene(link.model, scene)) f->FieldWriteC("MODEL", writer.WrittenName(link.model));
    if (!link.name.IsEmpty()) f->FieldWriteC("NAME", link.name.Buffer());
}

}  // namespace

void KQovWriterQov5::WriteCharacters(KQovScene* scene) {
    for (int c = 0; c < scene->GetCharacterCount(); ++c) {
        KQovCharacter* character = scene->GetCharacter(c);
        if (!character) continue;
        KQovWriteBlockBegin(mFile, "CHARACTER");
        WriteCharacterContent(scene, character);
        KQovWriteBlockEnd(mFile);
    }
}

void KQovWriterQov5::WriteCharacterContent(KQovScene* scene, KQovCharacter* character) {
    KQovFieldFile* f = mFile;
    const bool old = IsVersion5();
    KQovWriteIntField(f, "CHARACTERIZE", 1);
    KQovWriteIntField(f, "LOCK_XFORM", 0);
    KQovWriteIntField(f, "LOCK_PICK", 0);
    if (old) {
        f->FieldWriteC("CONSTRAINT", character->GetName());
        const int input = character->GetInputType();
        KQovWriteIntField(f, "INPUTOUTPUTTYPE", input);
        if (input != 0) {
            int index = -1;
            for (int i = 0;
                 input == KQovCharacter::eInputCharacter && i < scene->GetCharacterCount(); ++i)
                if (scene->GetCharacter(i) && character->GetInput() == scene->GetCharacter(i))
                    index = i;
            KQovWriteIntField(f, "ACTORINDEX", -1);
            KQovWriteIntField(f, "CHARACTERINDEX", index);
        }
    }
    for (const auto& single : kSingleLinks) {
        KQovCharacterLink link;
        const bool set = character->GetCharacterLink(single.slot, &link);
        KQovWriteBlockBegin(f, single.name);
        WriteLinkFields(*this, f, link, Writable(link, set, scene));
        KQovWriteBlockEnd(f);
    }
    auto writeGroup = [&](int group) {
        KQovWriteBlockBegin(f, Roles::GetGroupKeyword(group));
        for (int i = 0; i < Roles::GetRoleCount(group); ++i) {
            KQovCharacterLink link;
            const bool set = character->GetCharacterLink(Roles::GetRoleSlot(group, i), &link);
            const bool write = Writable(link, set, scene);
            if (!write && Roles::GetRoleVersion(group, i) > 4000) continue;
            KQovWriteBlockBegin(f, "LINK", Roles::GetRoleName(group, i));
            WriteLinkFields(*this, f, link, write);
            KQovWriteBlockEnd(f);
        }
        KQovWriteBlockEnd(f);
    };
    for (int group : kCharacterGroups) writeGroup(group);
    KQovWriteBlockBegin(f, "FILTERSET");
    const KQovSolverParameterStore* store = character->GetSolverStore();
    for (int i = 0; i < KQovSolverParameterTable::kCount; ++i) {
        KQovWriteBlockBegin(f, "PARAM");
        f->FieldWriteC("NAME", KQovSolverParameterTable::GetParameterName(i));
        KQovWriteIntField(f, "MODE", store ? store->GetMode(i) : 0);
        KQovWriteDoubleField(f, "MIN", KQovSolverParameterTable::GetParameterMin(i));
        KQovWriteDoubleField(f, "MAX", KQovSolverParameterTable::GetParameterMax(i));
        KQovWriteDoubleField(f, "VALUE0", store ? store->GetValue(i) : 0.0);
        KQovWriteBlockEnd(f);
    }
    KQovWriteBlockEnd(f);
    if (old) writeGroup(8);  // "GAMEMODEPARENT"
    WriteControlSet(scene, character->GetControlSet());
}

void KQovWriterQov5::WriteControlSet(KQovScene* scene, KQovControlSet* set) {
    KQovFieldFile* f = mFile;
    KQovWriteBlockBegin(f, IsVersion5() ? "OV_CONTROLSET" : "CONTROLSET");
    KQovWriteIntField(f, "TYPE", set ? set->GetType() : 0);
    KQovWriteIntField(f, "LOCK_XFORM", set ? set->GetLockTransform() : 0);
    KQovWriteIntField(f, "LOCK_PICK", set ? set->GetLockPick() : 0);
    KQovControlSetLink link;
    KQovWriteBlockBegin(f, "REFERENCE");
    if (set && set->GetFKLink(Roles::kReferenceSlot, &link))
        WriteControlSetLinkFields(*this, f, link, scene);
    KQovWriteBlockEnd(f);
    for (int group : kControlSetGroups) {
        KQovWriteBlockBegin(f, Roles::GetGroupKeyword(group));
        for (int i = 0; set && i < Roles::GetRoleCount(group); ++i) {
            link = KQovControlSetLink();
            const bool linked = set->GetFKLink(Roles::GetRoleSlot(group, i), &link) &&
                                (InScene(link.model, scene) || !link.name.IsEmpty());
            if (!linked && Roles::GetRoleVersion(group, i) > 4000) continue;
            KQovWriteBlockBegin(f, "LINK", Roles::GetRoleName(group, i));
            if (linked) WriteControlSetLinkFields(*this, f, link, scene);
            KQovWriteBlockEnd(f);
        }
        KQovWriteBlockEnd(f);
    }
    KQovWriteBlockBegin(f, "EFFECTOR");
    for (int n = 0; set && n < KQovControlSet::kEffectorCount; ++n) {
        KQovEffectorRecord record;
        if (!set->GetEffector(n, &record) || !InScene(record.model, scene)) continue;
        KQovWriteBlockBegin(f, "LINK");
        f->FieldWriteC("NAME", KQovControlSet::GetEffectorName(n));
        f->FieldWriteC("MODEL", WrittenName(record.model));
        KQovWriteIntField(f, "SHOW", record.show);
        KQovWriteIntField(f, "TACTIVE", record.translationActive);
        KQovWriteIntField(f, "RACTIVE", record.rotationActive);
        KQovWriteIntField(f, "CANDIDATE_TACTIVE", record.candidateTranslationActive);
        KQovWriteIntField(f, "CANDIDATE_RACTIVE", record.candidateRotationActive);
        KQovWriteBlockEnd(f);
    }
    KQovWriteBlockEnd(f);
    KQovWriteBlockBegin(f, "EFFECTOR_AUX1");
    for (int n = 0; set && n < KQovControlSet::kEffectorCount; ++n) {
        KQovNode* model = nullptr;
        if (!set->GetAuxEffector(n, &model, 1) || !InScene(model, scene)) continue;
        KQovWriteBlockBegin(f, "LINK");
        f->FieldWriteC("NAME", KQovControlSet::GetEffectorName(n));
        f->FieldWriteC("MODEL", WrittenName(model));
        KQovWriteBlockEnd(f);
    }
    KQovWriteBlockEnd(f);
    KQovWriteBlockEnd(f);
}

void KQovWriterQov5::WriteCharacterPoses(KQovScene* scene) {
    for (int i = 0; i < scene->GetCharacterPoseCount(); ++i) {
        KQovCharacterPose* pose = scene->GetCharacterPose(i);
        if (!pose) continue;
        KQovWriteBlockBegin(mFile, "Pose", pose->GetName());
        mFile->FieldWriteC("Type", "CharacterPose");
        KQovWriteBlockBegin(mFile, "PoseScene");
        if (KQovScene* poseScene = pose->GetScene()) {
            // The pose's own scene, through a writer of its own on this file: no takes, and
            // neither an end of file nor a Summary.
            KStreamOptionsQov options;
            for (int s : {0, 1, 2, 5, 6, 7, 9, 10, 12}) options.SetSwitch(s, false);
            KQovWriterQov5 nested(mManager, mOwner);
            nested.SetNestingDepth(mDepth + 1);
            if (!nested.Write(poseScene, &options, mFile)) {
                // The pose's scene is not in the file: the write fails with the nested reason.
                mError.SetErrorWithText(nested.GetLastErrorID(), nested.GetLastErrorString());
                KQovWriteBlockEnd(mFile);
                KQovWriteBlockEnd(mFile);
                return;
            }
        }
        KQovWriteBlockEnd(mFile);
        KQovWriteBlockEnd(mFile);
    }
}
