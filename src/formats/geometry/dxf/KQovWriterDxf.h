#pragma once
// Writer of ASCII drawing files: every mesh of the scene as a polyface on a layer of its own.
// NURBS and patches (and meshes, when triangulation is forced) are written through working
// meshes, and shape and cluster deformations are baked into working copies of the points: the
// scene is left as it was.

#include <memory>
#include <vector>

#include "io/KQovWriter.h"

class KFileStream;
class KQovMesh;

class KQovWriterDxf : public KQovWriter {
public:
    explicit KQovWriterDxf(KQovObjectManager* manager);
    ~KQovWriterDxf() override;

    bool DoFileCreate(const char* fileName) override;
    bool DoFileClose() override;
    void DoFileDiscard() override;
    bool IsFileOpen() override { return mFile != nullptr; }
    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;

private:
    // The mesh written for a node: its own, a working mesh, or null.
    KQovMesh* MeshOf(KQovNode* node);
    void DestroyWorkingMeshes();

    std::unique_ptr<KFileStream> mFile;
    bool mTriangulate = true;
    bool mDeform = true;
    std::vector<KQovMesh*> mWorking;
};
