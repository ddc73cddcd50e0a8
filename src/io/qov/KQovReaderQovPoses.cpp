// Bind, rest and character poses of the QOV reader. A character pose holds a whole scene of
// its own, read from the same field file by a nested import.

#include <memory>

#include "character/KQovCharacterPose.h"
#include "foundation/KMatrix.h"
#include "io/KQovImporter.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPose.h"
#include "scene/KQovScene.h"

namespace {

// Nested imports under way on this thread: each character pose scene is read by a reader of
// its own, so the depth cannot live in one reader.
thread_local int gPoseSceneDepth = 0;

struct DepthScope {
    DepthScope() { ++gPoseSceneDepth; }
    ~DepthScope() { --gPoseSceneDepth; }
};

}  // namespace

bool KQovReaderQov::ReadPoseNodes(KQovPose* pose, bool bindPose) {
    const int count = ReadInt("NbPoseNodes", 0);
    // The records are taken in order; a count larger than the records present ends with them.
    for (int i = 0; i < count && mFile->FieldReadBegin("PoseNode"); ++i) {
        if (mFile->FieldReadBlockBegin()) {
            const KString node = mFile->FieldReadC("Node", "");
            KMatrix matrix;
            double defaults[16], values[16];
            for (int k = 0; k < 16; ++k) defaults[k] = matrix[k / 4][k % 4];
            mFile->FieldReadDn("Matrix", values, defaults, 16);
            for (int k = 0; k < 16; ++k) matrix[k / 4][k % 4] = values[k];
            const bool local = !bindPose && ReadInt("Local", 0) != 0;
            if (pose) pose->Add(node.Buffer(), matrix, local);
            mFile->FieldReadBlockEnd();
        }
        mFile->FieldReadEnd();
    }
    return true;
}

void KQovReaderQov::ReadPoses(KQovScene* scene) {
    ReadPoseList(scene, false);
}

void KQovReaderQov::ReadPoseList(KQovScene* scene, bool characterPoses) {
    while (mFile->FieldReadBegin("Pose")) {
        const KString name = mFile->FieldReadC();
        if (mFile->FieldReadBlockBegin()) {
            const KString type = mFile->FieldReadC("Type", "");
            if (type == "BindPose" || type == "RestPose") {
                ReadPose(scene, name.Buffer(), type == "BindPose");
            } else if (type == "CharacterPose" && characterPoses && OpenBlock("PoseScene")) {
                ReadCharacterPose(scene, name.Buffer());
                CloseBlock();
            }
            mFile->FieldReadBlockEnd();
        }
        mFile->FieldReadEnd();
    }
}

void KQovReaderQov::ReadPose(KQovScene* scene, const char* name, bool bindPose) {
    KQovPose* pose = mManager->CreatePose(name, bindPose);
    if (pose && ReadPoseNodes(pose, bindPose))
        scene->AddPose(pose);
    else if (pose)
        mManager->DestroyPose(pose);
}

void KQovReaderQov::ReadCharacterPose(KQovScene* scene, const char* name) {
    const int index = scene->CreateCharacterPose(name);
    if (index >= 0 && !ReadCharacterPoseScene(scene->GetCharacterPose(index)))
        scene->DestroyCharacterPose(index);
}

int32_t KQovReaderQov::ReadPosesAndCharacterPoses(KQovScene* scene) {
    const int before = scene->GetPoseCount();
    ReadPoseList(scene, true);
    return scene->GetPoseCount() == before ? 1 : 0;
}

bool KQovReaderQov::ReadCharacterPoseScene(KQovCharacterPose* pose) {
    if (!pose || !pose->GetScene()) return false;
    // Each level is a nested import on this stack: a file nesting them without end must not
    // exhaust it. Deeper scenes are left unread and their poses dropped.
    if (gPoseSceneDepth >= kMaxPoseSceneDepth) return false;
    DepthScope depth;
    KQovImporter* importer = mManager->CreateImporter();
    if (!importer) return false;
    std::unique_ptr<KStreamOptionsQov> options(importer->GetReadOptionsFromFieldFile(mFile.get()));
    bool ok = false;
    if (options) {
        for (int off : {KStreamOptionsQov::eNodeAttributes, KStreamOptionsQov::eMaterials,
                        KStreamOptionsQov::eTexturesAndMedia, KStreamOptionsQov::eShapes,
                        KStreamOptionsQov::eGobos, KStreamOptionsQov::eAnimation,
                        KStreamOptionsQov::eGlobalSettings, KStreamOptionsQov::ePivots})
            options->SetSwitch(off, false);
        ok = importer->ImportFromFieldFile(pose->GetScene(), options.get(), mFile.get());
        KQovDestroySceneInfo(mManager, options->sceneInfo);
        options->sceneInfo = nullptr;
    }
    mManager->DestroyImporter(importer);
    return ok;
}

void KQovReaderQov::ReadSceneGenericPersistence(KQovScene* scene) {
    KQovPropertyFieldFile* file = mFile.get();
    if (!file->FieldReadBegin("SceneGenericPersistence")) return;
    if (file->FieldReadBlockBegin()) {
        if (mOptions->GetSwitch(KStreamOptionsQov::eCharacters))
            ReadPosesAndCharacterPoses(scene);
        else
            ReadPoses(scene);
        scene->SetSceneInfo(ReadSceneInfo());
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
}
