#pragma once
// Writer of 3DS files: meshes with their materials and textures, lights,
// cameras and key-frame nodes, under short distinct names. The caller's scene
// keeps its names: they are shortened for the write and given back after it.

#include <set>
#include <string>
#include <vector>

#include "formats/geometry/3ds/Context3ds.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/K3dsNameTable.h"
#include "formats/geometry/3ds/KeyframeNodes3ds.h"
#include "io/KQovWriter.h"
#include "scene/KQovNamePair.h"

class KQovMesh;
class KQovObject;

class KQovWriter3ds : public KQovWriter {
public:
    explicit KQovWriter3ds(KQovObjectManager* manager);
    ~KQovWriter3ds() override;

    bool FileCreate(const char* fileName) override;
    bool FileClose() override { return true; }
    bool IsFileOpen() override { return true; }
    KStreamOptions* GetWriteOptions() override;
    bool Write(KQovScene* scene, KStreamOptions* options) override;

private:
    struct Flags {
        bool referenceNode = false, materials = true, textures = true, anim = true,
             geometries = true, lights = true, cameras = true, ambient = true, rescale = true;
    };

    bool PrepareWrite(KStreamOptions* options);
    bool ExportNode(KQovNode& node);
    bool ExportMesh(KQovNode& node, const KQovMesh& mesh);
    std::string PutMaterial(const KQovMesh& mesh, int material, int first, int second);
    bool Failed() const { return mCtx.ErrorPending(); }
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
    KQovScene* mScene = nullptr;
    int mMeshCounter = 0;
    int mMaterialSerial = 0;
    std::set<std::string> mMaterialsWritten;
    K3dsNameTable mNames;
    std::vector<std::pair<KQovObject*, KQovNamePair>> mSavedNames;
};
