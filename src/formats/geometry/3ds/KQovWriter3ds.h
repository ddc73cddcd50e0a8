#pragma once
// Writer of 3DS files: meshes (NURBS and patches tessellated) with their
// materials and textures, lights, cameras and key-frame nodes, under short
// distinct names. The caller's scene is left as it was: names are shortened
// for the write and given back after it, and converted or split meshes are
// working copies.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "formats/geometry/3ds/Context3ds.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/K3dsNameTable.h"
#include "formats/geometry/3ds/Keyframe3ds.h"
#include "formats/geometry/3ds/KeyframeNodes3ds.h"
#include "formats/geometry/3ds/MeshExport3ds.h"
#include "formats/geometry/3ds/TextureCopy3ds.h"
#include "io/KQovWriter.h"
#include "scene/KQovNamePair.h"

class KQovMaterial;
class KQovMesh;
class KQovObject;

class KQovWriter3ds : public KQovWriter {
public:
    explicit KQovWriter3ds(KQovObjectManager* manager);
    ~KQovWriter3ds() override;

    bool DoFileCreate(const char* fileName) override;
    bool DoFileClose() override;
    void DoFileDiscard() override;
    bool IsFileOpen() override { return true; }
    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;

    // Animated nodes are keyed on every frame; a write that would hold more keys than this
    // over all its nodes fails before anything is built.
    static constexpr int64_t kMaxKeys = int64_t(1) << 22;

private:
    struct Flags {
        bool referenceNode = false, materials = true, textures = true, anim = true,
             geometries = true, lights = true, cameras = true, ambient = true, rescale = true,
             uvPerPolygon = false;
    };

    bool PrepareWrite(KStreamOptions* options);
    void FillRange(KfSets3ds& sets) const;
    // False, with the error, when the tree holds nothing the options let the file hold.
    bool HoldsWritableNodes(KQovNode& root);
    // Whether the file holds a node of its own for `node`, below which nodes can hang; a
    // switched-off or unwritable mesh, light or camera holds none.
    bool WritesOwnNode(const KQovNode& node) const;
    // The nodes of the tree the file holds: those it writes and those above them.
    std::unordered_set<const KQovNode*> HeldNodes(KQovNode& root) const;
    // Look-at targets written only as their camera's or spotlight's target node, into
    // `mTargetsOnly`.
    void FindTargetsOnly(KQovNode& root);
    // Switched-off or unwritable meshes, lights and cameras with written nodes below them,
    // into `mDummies`.
    void FindDummies(KQovNode& root);
    bool ExportNode(KQovNode& node);
    bool ExportOneNode(KQovNode& node);
    void PutDummy(KQovNode& node);
    int64_t KeysToWrite(KQovNode& node);
    bool ExportMesh(KQovNode& node, const KQovMesh& mesh);
    // True when `copy` is `mesh` with the material or texture tied to the model alone on every
    // polygon.
    bool CoverWithShadingOfModel(KQovNode& node, const KQovMesh& mesh, KQovMesh& copy);
    bool ExportSurface(KQovNode& node, KQovNodeAttribute& surface);
    std::string PutMaterial(const KQovMesh& mesh, const FaceCombination3ds& combination);
    bool Failed() const { return mCtx.ErrorPending(); }
    // The file could not take its place when it was closed.
    bool ClosingFailed() const;
    // "Out of memory while writing" the file, as memory running out is told everywhere.
    void SetOutOfMemory();
    void Release();
    void RenameForWrite();
    void RestoreNames();

    Context3ds mCtx;
    File3ds* mFile = nullptr;
    std::string mFileName;
    Database3ds* mDatabase = nullptr;
    Flags mFlags;
    double mMasterScale = 0.3937007874015748;
    KeyframeSettings3ds mKeys;
    std::unordered_set<const KQovNode*> mDummies;  // written as dummies, whatever their kind
    std::unordered_set<const KQovNode*> mTargetsOnly;
    std::unordered_map<const KQovNode*, std::vector<KAffineMatrix>> mLackedTurns;
    std::string mTakeName;  // the take whose span is written, from the options
    KQovScene* mScene = nullptr;
    int mMeshCounter = 0;
    int mMaterialSerial = 0;
    std::unique_ptr<KQovMaterial> mDefaultMaterial;  // of textured meshes without materials
    std::set<std::string> mMaterialsWritten;
    K3dsNameTable mNames;
    TextureNames3ds mTextureNames;
    std::vector<std::pair<KQovObject*, KQovNamePair>> mSavedNames;
    // Per node, the warnings for the materials tied to its model alone that have no place,
    // made before the names are cut.
    std::unordered_map<const KQovNode*, std::string> mLooseMaterialNotes;
};
