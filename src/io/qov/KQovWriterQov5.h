#pragma once
// The writer of version-5 QOV files (ASCII, binary, binary and encrypted): the file, the
// options it obeys and the fixed order of its sections. The caller's scene is never changed
// by a write: what a section needs changed (producer cameras, current takes, shape channels)
// is put back on every exit, and values that would be stored into the scene are kept here.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/KString.h"
#include "io/KQovWriter.h"
#include "scene/KQovTakeInfo.h"

class KFCurveNode;
class KQovCamera;
class KQovCharacter;
class KQovControlSet;
class KQovDefaultTakeSketch;
class KQovFieldFile;
class KQovIO;
class KQovGeometry;
class KQovLayer;
class KQovLight;
class KQovLink;
class KQovMaterial;
class KQovMesh;
class KQovNurb;
class KQovPatch;
class KQovTexture;
class KQovMarker;
class KQovNode;
class KQovObject;
class KQovPose;
class KQovPropertyFieldFile;
class KQovScene;
class KQovSkeleton;
class KQovUserProperty;
class KStreamOptions;
class KStreamOptionsQov;

class KQovWriterQov5 : public KQovWriter {
public:
    enum FileMode { eAscii = 0, eBinary = 1, eEncrypted = 2 };
    static constexpr int kFileVersion = 5800;
    // Character poses nest whole scenes; deeper nesting than this is refused.
    static constexpr int kMaxNesting = 8;

    KQovWriterQov5(KQovObjectManager* manager, KQovIO* owner);
    using KQovWriter::Write;
    ~KQovWriterQov5() override;

    void SetFileMode(int mode) { mMode = mode; }
    int GetFileMode() const { return mMode; }

    bool DoFileCreate(const char* fileName) override;
    bool DoFileClose() override;
    void DoFileDiscard() override;
    bool IsFileOpen() override { return mOwnFile != nullptr; }
    KStreamOptions* GetWriteOptions() override { return CreateWriteOptions(0); }
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override {
        return Write(scene, options, nullptr);
    }
    virtual KStreamOptions* CreateWriteOptions(int kind);
    // With a field file, writes into it where it stands: no end of file, no Summary.
    virtual bool Write(KQovScene* scene, KStreamOptions* options, KQovPropertyFieldFile* file);

    void SetNestingDepth(int depth) { mDepth = depth; }

    // The texts "Bool", "Real", "Color", "Integer", "Vector" in " (...)" cut off a name's end.
    static KString StripTypeSuffix(const KString& name);
    // Rotations equal to zero, also as the equivalent triple (x + 180, 180 - y, z + 180).
    static bool IsZeroRotation(double x, double y, double z);
    // The camera format's name as files carry it.
    static const char* CameraFormatName(int format);
    // The name a node goes into the file under: its own, unless this write made it unique.
    const char* WrittenName(const KQovObject* node) const;
    // The name a pose entry naming `name` is written under: poses name their nodes by text,
    // the first node of a name when several share it.
    const char* WrittenPoseName(const char* name) const;

protected:
    // The file version and layout a subclass writes (the version-6 writer).
    virtual int FileVersion() const { return kFileVersion; }
    virtual bool IsVersion5() const { return true; }
    // One channel of a take, in the form of the file's layout.
    void StoreChannel(KFCurveNode* channel);

    // Sections, each written at the current position of the field file.
    void WriteModel(KQovNode* node);
    void WriteModelContent(KQovNode* node, bool producer);
    void WriteLimits(KQovNode* node);
    // The version-6 property block, with the pivots and limits copied in for the write only.
    void WritePivotsAsProperties(KQovNode* node);
    // The same for a node whose rows wait, without building them; false when they must be.
    bool WriteWaitingPivotsAsProperties(KQovNode* node);
    // The name each user property of `node` is written under, by its place (none for one not
    // written): the reader takes names alike letter case aside for one, so a later twin gets
    // a number, and a warning says so.
    using UserNames = std::vector<std::optional<KString>>;
    UserNames UserPropertyNames(KQovNode* node);
    void WriteAnimatedLists(KQovNode* node, const UserNames& userNames);
    void WriteUserProperties(KQovObject* object, const UserNames& userNames);
    void WriteUserPropertyValue(const KQovUserProperty* user);
    void WriteDefaultChannels(KQovNode* node);
    // The channel each user property written under another name shares, as a copy under that
    // name; with the properties' own values for the default take.
    void StoreRenamedUserChannels(const KQovObject* object, KFCurveNode* root, bool values);
    void WriteSwitcher(KQovScene* scene);
    void WriteNodeAttribute(KQovNode* node);
    void WriteNullSection(double size);
    void WriteMarkerSection(KQovNode* node, KQovMarker* marker);
    void WriteSkeletonSection(KQovSkeleton* skeleton);
    void WriteLightSection(KQovLight* light);
    void WriteCameraSection(KQovNode* node, KQovCamera* camera, bool producer);
    void WriteGlobalSettings(KQovScene* scene);
    void WriteProducerCameras(KQovScene* scene);
    void WriteGoboManager(KQovScene* scene);
    void WriteConstraints(KQovScene* scene);
    void WriteTakes(KQovScene* scene);
    void WriteSceneGenericPersistence(KQovScene* scene);
    // A bind or rest pose's "Type", "NbPoseNodes" and "PoseNode" records.
    void WritePoseContent(KQovPose* pose);
    void WriteSummary(KQovScene* scene);

    // One clip of the "Media" section: its name, its cleaned path and the name as the texture has
    // it.
    struct MediaEntry {
        KString name;
        KString path;
        KString fileName;
    };
    void CollectMedia(KQovScene* scene, std::vector<MediaEntry>& entries);
    // The clip written for the texture's file; its own media name when none was.
    KString MediaNameOf(KQovTexture* texture) const;

    void WriteMedia(KQovScene* scene);
    // A clip's "Version", "OriginalFormat", "OriginalFilename", ("Filename",) "RelativeFilename"
    // and, when embedding, its "Content", in the writer's layout.
    void WriteClipFields(const MediaEntry& entry, bool embed);
    void WriteCharacters(KQovScene* scene);
    // A character's fields, roles, solver parameters and control set, in the writer's layout.
    void WriteCharacterContent(KQovScene* scene, KQovCharacter* character);
    void WriteCharacterPoses(KQovScene* scene);
    void WriteControlSet(KQovScene* scene, KQovControlSet* set);
    virtual void WriteGeometrySection(KQovNode* node);
    // `ofModelOnly`: a material or texture connected to the model that no layer names.
    void WriteMaterial(KQovMaterial* material, bool ofModelOnly = false);
    void WriteTexture(KQovTexture* texture, bool ofModelOnly = false);

    virtual bool WriteSections(KQovScene* scene);
    // Runs one section unless an earlier one failed; `failed` once the section left an error
    // of its own, or (with error 3) once the field file has an error.
    void RunSection(bool& failed, bool on, const std::function<void()>& write);
    void WriteModelTree(KQovNode* node);
    void BuildAnimatedMaps(KQovScene* scene);
    void FreeAnimatedMaps();
    // A warning line for each user property of a material or texture, which the layout has no
    // place for.
    void NameShadingUserProperties(KQovScene* scene);
    bool Failed() const;
    void Report(const char* text, float percent);
    void Progress();
    void CollectTakes(KQovScene* scene);
    void ComputeSpans(KQovScene* scene, KQovTakeInfo& take);
    void WriteTake(KQovScene* scene, const KQovTakeInfo& take);
    // The scene's name of a take written (under another name when it clashed).
    const char* SceneTakeName(const KQovTakeInfo& take) const;
    // The name the scene's current take is written under.
    const char* WrittenCurrentTake(KQovScene* scene) const;
    void WriteAnimationBlock(KQovObject* object, const char* blockName, const char* take,
                             bool material);
    bool HasTemplateNode(KQovNode* root) const;
    // Geometry pieces.
    void WriteMesh(KQovMesh* mesh);
    void WriteNurb(KQovNurb* nurb);
    void WritePatch(KQovPatch* patch);
    // A surface's own fields (form, orders, points, knots; patch types and caps).
    void WriteNurbFields(KQovNurb* nurb);
    void WritePatchFields(KQovPatch* patch);
    // `node`: the model written, whose connected textures no layer names are written too.
    void WriteGeometryCommon(KQovGeometry* geometry, KQovNode* node);
    void WriteMaterialsOfModelOnly(KQovNode* node);
    void WriteTexturesOfModelOnly(KQovNode* node);
    void WriteLink(KQovLink* link);
    // "Mode", "UserData", "Indexes", "Weights", "Transform", "TransformLink", "AssociateModel"
    // and "TransformParent": a link's content, also a version-6 cluster's.
    void WriteClusterFields(KQovLink* link);
    void WriteShapes(KQovGeometry* geometry);
    void WriteGeometryLayers(KQovGeometry* geometry);
    // `written`: where each texture first stands among the model's textures written.
    void WriteLayerTextureInfo(KQovGeometry* geometry, KQovLayer* layer,
                               const std::unordered_map<const KQovTexture*, int>& written);
    void WriteMeshMappings(KQovMesh* mesh);
    void WriteMeshUVInfo(KQovMesh* mesh);
    void WriteVertexColors(KQovMesh* mesh);
    // "UExtendedCount" to "VCount", when the mesh has both a U and a V count.
    void WriteMeshSurfaceFields(KQovMesh* mesh);
    void WriteGeometryMaterialIndices(KQovGeometry* geometry);
    // Animated channels of textures (4 flags) and materials (7 flags), by object.
    const std::vector<bool>* AnimatedFlags(const KQovObject* object) const;

    KQovIO* mOwner;
    std::unique_ptr<KQovPropertyFieldFile> mOwnFile;
    KQovPropertyFieldFile* mFile = nullptr;  // the own file or the one lent to Write
    KStreamOptionsQov* mOptions = nullptr;
    int mMode = eBinary;
    int mDepth = 0;
    int mCounter = 0;
    int mTotal = 0;
    int mMediaCount = 0;
    int mModelCount = -1;  // the "Model" objects a version-6 file lists; -1: the scene's nodes
    std::map<KString, KString> mClipOfFile;  // cleaned path -> clip name, of this write
    std::vector<KQovTakeInfo> mTakes;
    std::map<const KQovObject*, std::vector<bool>> mAnimated;
    std::vector<bool> mTakeExisted;  // the scene had a record of the take
    // Takes written under a name other than the scene's: written name -> the scene's.
    std::map<std::string, std::string> mTakeSceneNames;
    // The default takes of nodes that never made theirs, made once for nodes alike.
    std::unique_ptr<KQovDefaultTakeSketch> mTakeSketch;
    // The channels of the sketch's take as last written (binary files): copied for the next
    // node alike instead of written again.
    struct SketchBytes {
        uint64_t generation = 0;
        bool version5 = false;
        bool valid = false;
        int64_t origin = 0;
        std::vector<uint8_t> bytes;
    } mSketchBytes;
    bool mTakesWritten = false;
    // User properties written under another name, by node: the property, the name of the
    // channel it shares and the name written.
    struct RenamedUser {
        KQovUserProperty* user;
        KString channel;
        KString written;
    };
    std::unordered_map<const KQovObject*, std::vector<RenamedUser>> mRenamedUsers;
    // Nodes written under a name other than their own (a version-6 file's clashes).
    std::unordered_map<const KQovObject*, std::string> mWrittenNames;
    // Names whose first node was written under another (one named as the root), and that one.
    std::unordered_map<std::string, std::string> mFirstWrittenAs;
};
