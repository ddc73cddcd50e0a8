#pragma once
// Writer of OBJ files with an MTL file beside them: every mesh of the scene in world space, as
// it stands at the start of the current take, one group per node. NURBS and patches (and
// meshes, when triangulation is forced) are written through working meshes, and shape and
// cluster deformations are baked into working copies of the points: the scene is left as it was.

#include <map>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "formats/geometry/obj/KObjTextWriter.h"
#include "foundation/KAffineMatrix.h"
#include "io/KQovWriter.h"

class KQovWrittenNames;
class KQovStillPose;

class KQovGeometry;
class KQovMaterial;
class KQovMesh;
class KQovTexture;

class KQovWriterObj : public KQovWriter {
public:
    explicit KQovWriterObj(KQovObjectManager* manager);
    ~KQovWriterObj() override;

    bool DoFileCreate(const char* fileName) override;
    bool DoFileClose() override;
    void DoFileDiscard() override;
    bool IsFileOpen() override { return mOpen || mFinished; }
    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;
    // The material file beside the OBJ file.
    std::vector<std::string> GetCompanionFiles(const char* path,
                                               const KStreamOptions* options = nullptr) const override;

private:
    void PrepareNodes(KQovNode* node);
    void SetNamesAside(KQovNode* root, KQovWrittenNames& groups);
    void WriteNode(KQovNode* node);
    void WriteOneNode(KQovNode* node);
    // `source` is the node's own geometry, which holds the shape weights.
    void WriteMesh(KQovNode* node, KQovMesh* mesh, KQovGeometry* source);
    // The written material index of a (material, texture, bump texture) set; -1 for no
    // material.
    int MaterialRecord(KQovMaterial* material, KQovTexture* texture, KQovTexture* bump = nullptr);

    std::unique_ptr<KObjTextWriter> mText;
    bool mOpen = false;
    bool mFinished = false;  // written whole, for FileClose to put in place
    bool mTriangulate = false;
    bool mDeform = true;
    bool mMaterialsUsed = false;
    std::map<std::tuple<KQovMaterial*, KQovTexture*, KQovTexture*>, int> mRecords;
    KQovStillPose* mPose = nullptr;      // of the write under way
    KQovWrittenNames* mNames = nullptr;  // group names of the write under way
};
