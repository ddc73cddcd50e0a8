#pragma once
// The reader of QOV files (ASCII, binary, encrypted; version-5 and version-6 layouts): opening,
// header information (takes, counts, scene information from the Summary or by scanning),
// the Summary update, and the main read into a scene.

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/KArray.h"
#include "foundation/KStringMap.h"
#include "io/KQovReader.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"

class KImage;
struct KQovNameTerms;
class KQovCamera;
class KQovFieldReader;
class KQovCameraSwitcher;
class KQovGenericNode;
class KQovGeometryBase;
class KQovImporter;
class KQovLight;
class KQovMarker;
class KQovMesh;
class KQovNurb;
class KQovPatch;
class KQovGeometry;
class KQovShape;
class KQovLink;
class KQovDeformer;
class KQovMaterial;
class KQovTexture;
class KQovVideo;
class KQovNode;
class KQovTakeNode;
class KQovDefaultTakeSketch;
class KQovNull;
class KQovObject;
class KProperty;
class KQovThumbnail;
// Poses, characters, connections and takes.
class KFCurveNode;
class KFCurveTimeWarpTable;
class KQovCharacter;
class KQovCharacterPose;
class KQovControlSet;
class KQovPose;
class KQovSolverParameterStore;

// `name` without anything up to and including its first "::".
KString KQovStripPrefix(const char* name);
// Index of `text` in a null-terminated list, `otherwise` when absent.
int KQovIndexIn(const char* text, const char* const* names, int otherwise);

class KQovTakeNames;
class KQovReaderQov : public KQovReader {
public:
    KQovReaderQov(KQovObjectManager* manager, KQovImporter* importer);
    ~KQovReaderQov() override;

    // How a version-5 file's user property names are read (KQovWrittenNames): a property's
    // channel, and the property made from its record, are found by the whole name, letter
    // case aside, and so are the node's own channels.
    static KQovNameTerms UserPropertyNameTerms();

    bool FileOpen(const char* fileName) override;
    bool FileClose() override;
    bool IsFileOpen() override { return mFile && mFile->IsOpen(); }
    KStreamOptions* GetReadOptions(bool allowScan) override {
        return ReadHeaderInfo(nullptr, allowScan);
    }
    bool Read(KQovScene* scene, KStreamOptions* options) override {
        return ReadScene(scene, options, nullptr);
    }

    // A new options object holding the file's takes, counts and scene information; the caller
    // owns it. A given field file stands in for the reader's own during the call.
    virtual KStreamOptionsQov* ReadHeaderInfo(KQovPropertyFieldFile* fieldFile, bool allowScan);
    virtual bool ReadScene(KQovScene* scene, KStreamOptions* options,
                           KQovPropertyFieldFile* fieldFile);
    // Rewrites the Summary of the open file from `newInfo`'s takes and scene information.
    virtual bool UpdateSummary(KStreamOptionsQov* newInfo);
    // Meshes from this many control points on decode them on a thread of their own beside
    // their polygons. For tests and fuzzing; the old value.
    static int SetVerticesAsideFrom(int points);

    // 2 encrypted, 1 binary, 0 ASCII.
    int GetFileKind() const;
    void GetFileVersion(int& major, int& minor, int& revision) const;
    bool GetCameraResolution(KString& name, KString& mode, double& width, double& height) const {
        return mResolution.Get(name, mode, width, height);
    }
    KQovPropertyFieldFile* GetFieldFile() const { return mFile.get(); }

    // Section readers of the header pass (the current options receive what they read).
    // False when no Summary is found; `listRead` false when a take file failed the take list.
    bool ReadSummary(int& partFound, bool& listRead);
    // False, with the error set, when a take file is there but the system does not give it.
    bool ReadTakeList();
    // Sets aside the name of every take of the open Takes block (names needing no change are
    // kept, numbers go past them); the number of takes.
    static int SetTakeNamesAside(KQovPropertyFieldFile& file, KQovTakeNames& unique);
    bool ReadContentInformation();
    KQovSceneInfo* ReadSceneInfo();
    KQovSceneInfo* ReadUserData(const char* type);
    KQovThumbnail* ReadThumbnail();
    void DetectLayout(bool openFirstSection);
    // Writes a Summary from the current options as a new last part (`cut`: in place of the
    // last part). All or nothing: on failure the file is put back as it was.
    bool WriteSummaryUpdate(bool cut);
    // A failed read that set no error of its own takes the field file's: its id where the
    // tables share it, else "File is corrupted", with the field file's text as the detail.
    void TakeFieldFileError();

    // Objects and models: the "Definitions" type list, the version-6 "Objects" section, the
    // version-5 "Model" sections, one model's content and its node attribute.
    bool ReadDefinitions(std::vector<KString>& types);
    bool ReadObjects(KQovScene* scene, const std::vector<KString>& types);
    bool ReadModels();
    void ReadObject(KQovScene* scene, const char* type, const char* subType, const char* name);
    void ReadModel(KQovNode* node);
    void ReadNodeAttribute(KQovNode* node);
    void ReadGenericNode(KQovGenericNode* node);

    // Node sections of the current block.
    void ReadChildren(KQovNode* node);
    void ReadVisibilityAndShading(KQovNode* node);
    void ReadCulling(KQovNode* node);
    void ReadLimits(KQovNode* node);
    void ReadLookAt(KQovNode* node);
    void ReadPivots(KQovNode* node);
    void ReadDefaultChannels(KQovNode* node);
    // The channels caught for properties that had none yet, those with keys or a colour kept
    // for GiveHeldKeys; the holders leave the root.
    void KeepHeldKeys(KFCurveNode* root, const std::vector<KFCurveNode*>& holders);
    // The kept keys go to the channels the wrapped properties got.
    void GiveHeldKeys(KQovNode* node);
    // Whether the model's channels in the open record hold just what the node's plan makes
    // (then its "Default" take may stay unmade); the channels are left to be read either way.
    bool KeepsPlannedTake(KQovNode* node);
    void ReadUserProperties(KQovObject* object);
    bool ReadUserPropertyRecord(KQovObject* object);
    void ReadPropertyBlock(KQovObject* object);
    // Wraps every property no user property wraps yet; the number of properties.
    int WrapUserProperties(KQovObject* object);
    // The properties of the object's set that no record wraps yet (none while the records wait
    // with the rows).
    std::vector<KProperty*> UnwrappedProperties(KQovObject* object);
    // Older files: user properties take their values from the current take's channels.
    void SetUserPropertiesFromTake(KQovNode* node);
    void ReadNullProperties(KQovNull* null);
    void ReadMarkerProperties(KQovMarker* marker);
    void ReadCamera(KQovCamera* camera);
    void ReadLight(KQovLight* light);
    void ReadCameraSwitcher(KQovCameraSwitcher* switcher);
    void ReadSwitcherSection(KQovScene* scene);

    // Geometry, layers and shading.
    // Geometry fields of the current block; a missing field leaves the geometry as it is.
    // Indices past what they index are dropped or zeroed with the field file's invalid-data error.
    void ReadGeometry(KQovMesh* mesh);
    bool ReadNurb(KQovNurb* nurb);
    bool ReadPatch(KQovPatch* patch);
    // Blend shapes (switch 5) and cluster links (switch 4) of any geometry.
    bool ReadShapes(KQovGeometry* geometry);
    bool ReadShapeContent(KQovShape* shape, KQovGeometry* base);
    bool ReadLinks(KQovGeometry* geometry);
    // False when the link cannot be used; its control points are checked against `geometry`.
    bool ReadLinkContent(KQovLink* link, KQovGeometryBase* geometry);
    bool ReadDeformerContent(KQovDeformer* deformer);
    // Version-6 layer elements and the "Layer" sections placing them.
    bool ReadLayers(KQovGeometry* geometry);
    // Version-5 "GeometryLayer" sections; false when one was not understood.
    bool ReadGeometryLayers(KQovGeometry* geometry);
    bool ReadLayerTextureInfo(KQovGeometry* geometry, int layer);
    // Version-5 materials and textures of the current model and the indexes into them.
    bool ReadModelMaterials(KQovGeometry* geometry);
    bool ReadModelTextures(KQovGeometry* geometry);
    bool ReadMaterialIndexes(KQovGeometry* geometry);
    bool ReadTextureIds(KQovGeometry* geometry);
    bool FixOldTextureReferences(KQovGeometry* geometry);
    bool ReadMaterial(KQovMaterial* material);
    bool ReadTexture(KQovTexture* texture);
    // True when the clip ends with a file name.
    bool ReadVideo(KQovVideo* video);
    // The version-5 "Media" clips, then textures, camera backgrounds and gobos naming a clip.
    bool ReadMediaAndResolveNames(KQovScene* scene, const char* folder);
    // The file name a media record of the current block stands for (extracted when embedded).
    KString ReadMediaFileName(const char* folder);
    KString ResolveMediaPath(const char* fileName, const char* relativeName);
    // Embedded media named `name` could not be extracted: the read fails once it is done.
    void NoteMediaLost(const char* name);
    // Version-6 materials, textures, videos and deformers; false for another type.
    bool ReadShadingObject(KQovScene* scene, const char* type, const char* subType,
                           const char* name);
    // Twins (by the objects' equality) are destroyed and every reference goes to the one kept.
    void MergeDuplicateTextures(KQovScene* scene);
    void MergeDuplicateMaterials(KQovScene* scene);
    // The selected takes' long key lists decoded by a thread of their own (KFCurveKeysAhead)
    // while the sections before them are read; the field file ends it with the read.
    void StartKeysAhead();
    bool TakeFileExists(KQovFieldReader& tree, int32_t block);
    // True, with the error set, when the take file at `path` that `takeFile` failed to open is
    // there and the system did not give it; false for one that is not there, or that holds
    // no take: the main file's take stands in (so it does for an empty name, which callers
    // leave out: it names the main file's folder).
    bool TakeFileRefused(const KQovFieldFile& takeFile, const char* path);
    // A large mesh's control points, decoded by a thread of their own while the polygons
    // after them are read (they need only their count); FinishVertices waits for them.
    struct VerticesAside;
    bool ReadVertices(KQovGeometryBase* geometry, VerticesAside* aside = nullptr);
    void FinishVertices(VerticesAside& aside);
    bool ReadNormals(KQovGeometryBase* geometry);
    bool ReadPolygonVertexIndex(KQovMesh* mesh);
    bool ReadMaterialAndTextureMode(KQovMesh* mesh);
    bool ReadMappingInformationType(KQovMesh* mesh);
    bool ReadTextureUV(KQovMesh* mesh);
    bool ReadTextureUVIndex(KQovMesh* mesh);
    bool ReadPolygonGroup(KQovMesh* mesh);
    // False, with no colours kept, when they do not fit the mesh.
    bool ReadVertexColors(KQovMesh* mesh);
    // "UExtendedCount" to "VCount": the surface settings a mesh may carry.
    bool ReadPatchSurfaceFields(KQovMesh* mesh);
    // The current field's next text as a patch type, without regard to case.
    int32_t ReadPatchType();
    static int32_t MappingModeFromName(const char* name);
    static int32_t BlendModeFromName(const char* name);
    static int32_t FindNameInList(const char* name, const std::vector<KString>& list);

    // Names recorded while objects were read, resolved afterwards.
    void ConnectChildrenByName(KQovNode* root);
    void ResolveBackgroundTextures(KQovScene* scene);
    bool FinishOldLayoutNodes(KQovNode* root);
    // The switcher's camera-index curves renumbered from its name list to the scene's
    // camera nodes in tree order.
    void RenumberSwitcherCameras(KQovScene* scene);

    // Scene-wide sections of the main read, each at the current block.
    void ReadSceneGenericPersistence(KQovScene* scene);
    void ReadAmbientRenderSettings(KQovScene* scene);
    void ReadFogOptions(KQovScene* scene);
    void ReadShadowPlanes(KQovScene* scene);
    void ReadTimeSettings(KQovScene* scene);
    void ReadRendererSetting(KQovScene* scene);
    // "RendererSetting" and a "Settings" that also holds the producer cameras.
    void ReadVersion5Settings(KQovScene* scene);
    // "Model::" taken off the producer cameras' and the camera switcher's names.
    static KString StripProducerPrefix(const KString& name);

    // Poses, characters, control sets, gobos, connections and takes.
    // Character poses nest whole scenes in one file; deeper nesting is skipped.
    static constexpr int kMaxPoseSceneDepth = 8;
    // Samples of one curve resampled through a time warp; a longer warp is not applied.
    static constexpr int64_t kMaxWarpSamples = 10000000;
    bool ReadPoseNodes(KQovPose* pose, bool bindPose);
    void ReadPoses(KQovScene* scene);
    void ReadPoseList(KQovScene* scene, bool characterPoses);
    void ReadPose(KQovScene* scene, const char* name, bool bindPose);
    // Made in the scene, read, and removed again when its scene cannot be read.
    void ReadCharacterPose(KQovScene* scene, const char* name);
    // 1 when no bind or rest pose was read.
    int32_t ReadPosesAndCharacterPoses(KQovScene* scene);
    bool ReadCharacterPoseScene(KQovCharacterPose* pose);
    // The object types of "Objects" read here: "Pose", "Constraint" and "ControlSetPlug";
    // false for any other type.
    bool ReadLinkedObject(KQovScene* scene, const char* type, const char* subType,
                          const char* name);
    bool ReadCharacter(KQovCharacter* character, int32_t& inputIndex);
    void ReadCharacters(KQovScene* scene);
    // Version-6 files: a character connected to a character's "Character" property becomes
    // its input.
    void SetCharacterInputsFromConnections(KQovScene* scene);
    void ReadCharacterRoleGroup(KQovCharacter* character, int group);
    void ReadControlSetRoleGroup(KQovControlSet* set, int group);
    void ReadControlSet(KQovControlSet* set);
    void ReadCharacterLink(KQovCharacter* character, int slot);
    void ReadControlSetLink(KQovControlSet* set, int slot);
    void ReadControlSetEffector(KQovControlSet* set);
    void ReadControlSetAuxiliary(KQovControlSet* set);
    void ReadCharacterParameters(KQovSolverParameterStore* store);
    void ReadGoboManager(KQovScene* scene);
    bool ReadConnections();
    // Names that several models of the file share, or that a model shares with the root, with
    // those models in file order and how many have been placed; a warning for each.
    struct SharedName {
        std::vector<KQovNode*> models;
        size_t placed = 0;
    };
    using SharedModelNames = std::unordered_map<std::string, SharedName>;
    SharedModelNames FindSharedModelNames();
    // A warning naming the models the connections left out of the scene's tree.
    void WarnModelsLeftOut(KQovScene* scene);
    bool CheckPassword(const char* password);
    void ReadTimeWarps(KQovFieldFile& file, KFCurveTimeWarpTable& warps);
    bool ReadTakes(KQovScene* scene);
    bool ReadTake(KQovScene* scene, KQovTakeInfo& take);
    bool ReadTakeContent(KQovFieldFile& file, KQovScene* scene, KQovTakeInfo& take);
    void ProcessChannelTree(KFCurveNode* channel, KFCurveNode* inheritedWarp);
    bool AlignTakeTime(KQovScene* scene, KQovTakeInfo& take);
    // The main read's gobos and version-5 characters (after the media), and its tail:
    // connections, takes and the version-6 finishing passes (after the global settings).
    void ReadGobosAndCharacters(KQovScene* scene);
    void ReadConnectionsAndTakes(KQovScene* scene, bool& ok);

private:
    void Report(const char* text, float percent);
    int32_t ReadInt(const char* name, int32_t defaultValue);
    double ReadDouble(const char* name, double defaultValue);
    bool ReadFlag(const char* name, int32_t defaultValue);
    // False (and `out` untouched) when the field is absent.
    bool ReadDoubles(const char* name, double* out, int count);
    // Begins the field and its block; false (field ended) when either is missing.
    bool OpenBlock(const char* name);
    void CloseBlock();
    // The node read under "Model::" + `name` (any prefix of `name` dropped), or null.
    KQovNode* FindModel(const char* name) const;
    // Objects by full name, each name giving the first object added under it and cast to
    // `Object` (null when it is not one): one table for all the names a file lists rather than
    // a search of the objects for each.
    template <class Object, class Added = Object>
    class FirstByName {
    public:
        void Add(Added* object) {
            if (object) mObjects.emplace(object->GetName(), object);
        }
        Object* Find(const std::string& fullName) const {
            const auto found = mObjects.find(fullName);
            return found == mObjects.end() ? nullptr : dynamic_cast<Object*>(found->second);
        }

    private:
        std::unordered_map<std::string, Added*> mObjects;
    };
    // The nodes under `root`, added in the order root->FindChild(name, true) meets them, so
    // that a name gives what that search gives.
    static void AddNodesUnder(KQovNode* root, FirstByName<KQovNode>& nodes);
    void ResolveTargets(KQovNode* root, KStringMap& names, bool upVector);
    void ReadSceneContent(KQovScene* scene, bool& ok);
    void ReadSceneInfoIntoOptions();
    void CountVersion6Objects();
    // The field file's invalid-data error; the read goes on.
    void InvalidData(const char* text);
    void ReadMetaData(KQovSceneInfo& info);
    void ReadTimeFields(KQovScene* scene);
    void ReadGlobalSettings(KQovScene* scene);

    // Geometry, layers and shading.
    bool Switch(int index) const { return !mOptions || mOptions->GetSwitch(index); }
    void CountError(const char* text);
    // False (out untouched) when the field is absent.
    bool ReadInts(const char* name, int32_t* out, int count);
    // The field must hold exactly as many values as `out` has entries, else a count error.
    void ReadIntVector(const char* name, KArrayInt& out, const char* message);
    void ReadDoubleVector(const char* name, KArrayDouble& out, const char* message);
    void ReadSurfaceTail(KQovGeometry* geometry);
    // An embedded TIFF standing in for another format, turned back into it (or kept as TIFF).
    KString ConvertEmbeddedImage(const KString& extracted, const char* originalName);
    // The file the first converter that takes `image` writes for `name` (its extension chooses
    // the converter), made beside the media in `folder` and read back; false when none does.
    bool ConvertedBytes(const std::string& folder, const char* name, KImage& image,
                        std::vector<uint8_t>& bytes);
    // Version-6 twins merge once connections filled the layers; the read's lists are emptied.
    void FinishShading(KQovScene* scene);
    template <class T>
    void RemapObjectNames(const std::vector<std::pair<T*, T*>>& pairs);
    template <class T>
    void MergeTwins(KQovScene* scene, std::vector<T*>& list);
    void ReadTexturePlacement(KQovTexture* texture);
    // Links get their models once every model is read.
    void ResolveLinkModels();
    struct PendingLink {
        KQovLink* link;
        KString model, associate;
    };
    std::vector<PendingLink> mPendingLinks;
    // The current version-5 model's textures; every texture and material this read made.
    std::vector<KQovTexture*> mModelTextures;
    // Its materials and textures that no layer names, and whether the one just read is one;
    // connected to their nodes once the nodes are in the scene, which then lists them.
    std::vector<KQovObject*> mModelOnlyShading;
    bool mOfModelOnly = false;
    std::vector<std::pair<KQovNode*, KQovObject*>> mModelOnlyConnections;
    std::vector<KQovTexture*> mReadTextures;
    std::vector<KQovMaterial*> mReadMaterials;
    // The current model's shapes as read: the file's name, the shape, where it was added.
    struct ReadShape {
        std::string fileName;
        const KQovShape* shape;
        int index;
    };
    std::vector<ReadShape> mModelShapes;
    // Models whose geometry renamed a shape as read: channels of the file's shape names, in
    // "Default" and the other takes, go to those shapes' own channels, in file order.
    struct RenamedShapes {
        const KQovGeometry* geometry;
        std::vector<ReadShape> shapes;
    };
    std::unordered_map<const KQovNode*, RenamedShapes> mRenamedShapes;
    // The geometry's renaming warnings into the status, and the model listed above when a
    // shape has a name other than the file's: after the shapes, and again once the node's
    // properties claimed their channels' names.
    void KeepRenamedShapes(KQovNode* node);
    struct ShapeRoutes;
    std::unique_ptr<ShapeRoutes> RoutesOfShapes(KQovNode* node, KQovTakeNode* takeNode);
    // The same as KFCurveNode::Retrieve takes it; empty when no shape was renamed.
    std::function<KFCurveNode*(const std::string&)> RouteOfShapes(KQovNode* node,
                                                                  KQovTakeNode* takeNode);
    // The shapes' names as read, listed under the file's names in file order (empty when none
    // was renamed): the model's property block gives each renamed shape its own value.
    std::unordered_map<std::string, std::vector<std::string>> ShapeNameTurns(KQovNode* node);

    std::unique_ptr<KQovPropertyFieldFile> mOwnFile;
    // The "Default" take models' channels are checked against (nodes alike share it).
    std::unique_ptr<KQovDefaultTakeSketch> mPlannedTakes;
    // The field file in use: the reader's own, or one a caller lends for one call.
    KQovPropertyFieldFile* mLent = nullptr;
    KQovImporter* mImporter;
    KStreamOptionsQov* mOptions = nullptr;
    KStringMap mNodes{20};
    std::vector<KQovNode*> mNodesInFileOrder;  // mNodes as the file gives them
    std::string mMediaLost;  // why the read's first media that could not be extracted were not
    std::vector<const KProperty*> mWrappedSlots;          // WrapUserProperties' table
    std::vector<std::unique_ptr<KFCurveNode>> mHeldKeys;  // KeepHeldKeys' channels
    KStringMap mLookAtNames{20};
    KStringMap mUpVectorNames{20};
    KStringMap mBackgroundNames{20};
    // Each camera's "Position" as the file gives it: a producer camera takes it from here, its
    // read node's translation having gone through a channel's single-precision default.
    std::unordered_map<const KQovCamera*, std::array<double, 3>> mCameraPositions;
    KQovCameraResolution mResolution;

    struct FileRef {
        KQovReaderQov* reader;
        KQovPropertyFieldFile* get() const {
            return reader->mLent ? reader->mLent : reader->mOwnFile.get();
        }
        KQovPropertyFieldFile* operator->() const { return get(); }
        explicit operator bool() const { return get() != nullptr; }
    } mFile{this};
};

// The "Summary" section of `options` at the current position of a file being written.
void KQovWriteSummary(KQovFieldFile* file, const KStreamOptionsQov& options);
