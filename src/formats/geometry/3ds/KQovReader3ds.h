#pragma once
// Reader of 3DS files: meshes split by smoothing group, materials with their
// maps, omni lights, spotlights and cameras with targets, and key-frame tracks
// into the take "default take".

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formats/geometry/3ds/Context3ds.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/Keyframe3ds.h"
#include "formats/geometry/3ds/Material3ds.h"
#include "formats/geometry/3ds/Mesh3ds.h"
#include "formats/geometry/3ds/Motion3ds.h"
#include "formats/geometry/3ds/Settings3ds.h"
#include "io/KQovReader.h"

class KQovCamera;
class KQovLight;
class KQovMaterial;
class KQovMarker;
class KQovMesh;
class KQovTexture;
struct TrackReading3ds;

struct KQovNameTerms;
class KQovReader3ds : public KQovReader {
public:
    explicit KQovReader3ds(KQovObjectManager* manager);
    ~KQovReader3ds() override;

    // How the reader takes names (KQovWrittenNames): a name's bytes as they are, names apart
    // in letter case alone apart; the key-frame dummy's object name and the reference node's
    // cut name stand for something else.
    static KQovNameTerms NameTerms();

    bool FileOpen(const char* fileName) override;
    bool FileClose() override;
    bool IsFileOpen() override { return true; }
    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

private:
    struct Flags {
        bool referenceNode = false, materials = true, textures = true, anim = true,
             geometries = true, lights = true, cameras = true, ambient = true, rescale = true,
             reduceKeys = false, smoothGroups = true;
    };
    struct TexturePair {
        KQovTexture* first = nullptr;
        KQovTexture* second = nullptr;
    };

    bool Load();
    // The parents of the key-frame nodes that their ids name.
    void ReadParents();
    // The error of a file that could not be loaded.
    void LoadError();
    // True, with the error said so, when the toolkit ran out of memory reading the file `name`.
    bool OutOfMemory(const std::string& name);
    // The largest length the scale factor multiplies, over every record loaded.
    double LargestLength() const;
    // Where the master scale is: its chunk's byte in the file, 0 when it has none.
    uint64_t MasterScalePosition() const;
    void Release();
    bool BuildScene(KQovScene* scene);
    bool CreateMaterials();
    void CreateNodeAttributes();
    void BuildMesh(const Mesh3ds& record, KQovMesh& mesh);
    void CreateNodes();
    void LinkNodes(KQovNode* defaultParent);
    bool ReadAnimation();
    bool ReadTracks(const TrackReading3ds& reading);
    void StoreTake(KQovScene* scene);
    KQovNode* NewNode(const std::string& name);

    Context3ds mCtx;
    File3ds* mFile = nullptr;
    std::string mFolder;  // of the file read: map names are relative to it
    Flags mFlags;
    double mScale = 1.0;
    Color3ds mAmbient;
    Color3ds mBackground;
    KfSets3ds mRange;  // the file's key-frame length and segment
    bool mHasRange = false;
    bool mMeshesInPlace = false;  // no object nodes: vertices stay where the file stores them
    Database3ds* mDatabase = nullptr;

    std::vector<std::unique_ptr<Mesh3ds>> mMeshes;
    std::vector<KQovMesh*> mMeshAttributes;
    std::vector<std::unique_ptr<Material3ds>> mMaterials;
    std::map<std::string, TexturePair> mTexturePairs;
    std::unordered_map<std::string, KQovMaterial*> mMaterialsByName;
    std::vector<std::unique_ptr<Light3ds>> mOmnis, mSpots;
    std::vector<KQovLight*> mOmniLights, mSpotLights;
    std::vector<KQovMarker*> mSpotTargets, mCameraTargets;
    std::vector<std::unique_ptr<Camera3ds>> mCameras;
    std::vector<KQovCamera*> mCameraAttributes;

    std::vector<std::unique_ptr<ObjectMotion3ds>> mObjectMotions;
    std::vector<std::unique_ptr<OmnilightMotion3ds>> mOmniMotions;
    std::vector<std::unique_ptr<SpotlightMotion3ds>> mSpotMotions;
    std::vector<std::unique_ptr<CameraMotion3ds>> mCameraMotions;
    std::vector<KQovNode*> mObjectNodes, mOmniNodes, mSpotNodes, mSpotTargetNodes, mCameraNodes,
        mCameraTargetNodes;
    // The tag and index of each key-frame node's parent node by the node's tag and index
    // (target nodes by their camera's or light's index).
    std::map<std::pair<uint32_t, size_t>, std::pair<uint32_t, size_t>> mParents;
    std::map<std::string, KQovNode*> mNodesByName;
    std::vector<bool> mMeshBound;
    KQovNode* mReference = nullptr;
};
