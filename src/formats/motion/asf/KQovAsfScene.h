#pragma once
// A skeleton of bone records carried from the skeleton file to the motion file that follows:
// units, a tree of bones with their axis frames, the local transforms of the nodes they turn
// into, and the keys a motion file gives them.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/KMatrix.h"
#include "foundation/KTime.h"
#include "scene/KObject.h"

class KQovNode;
class KQovObjectManager;

// Channel codes, the indices of the channel words.
enum { kAsfTx, kAsfTy, kAsfTz, kAsfRz, kAsfRy, kAsfRx };

// The node transform of one bone at one frame.
struct KAsfKey {
    int frame = 0;  // the frame number; a file's counted from 1 at the take's first frame
    KVector4 translation;
    KVector4 rotation;  // Euler X, Y, Z, degrees
};

struct KAsfBone {
    static constexpr int kMaxChannels = 6;
    static constexpr int kMaxName = 50;

    std::string name;
    // The name of the node the bone was built from, when the file could not hold it as it is.
    std::string source;
    int id = 0;
    int channelCount = 0;
    int channels[kMaxChannels] = {};
    int axisOrder = 0;
    KVector4 axisAngles;  // degrees
    KVector4 boneVector;  // the root's position
    KVector4 direction;
    double length = 0.0;  // centimetres
    KAsfBone* parent = nullptr;
    std::vector<std::unique_ptr<KAsfBone>> children;
    KMatrix axis, axisTranspose;
    KMatrix parentAxis, parentTranspose;
    KVector4 offset;  // the parent's bone vector
    KVector4 localTranslation;
    KVector4 localRotation;  // Euler X, Y, Z, degrees
    std::vector<KAsfKey> keys;
    // The scene node the bone was built from or turned into.
    KQovNode* node = nullptr;

    bool HasTranslation() const;
    bool HasRotation() const;
    // Axis matrix and transpose from the axis angles and order.
    void SetAxis();
    // Local transform of the bone's node from channel values in channel-list order:
    // translations in centimetres, angles in degrees.
    KAsfKey Pose(const double* values, int count) const;
    // The channel values, in channel-list order, that give `key` (the reverse of Pose).
    void Values(const KAsfKey& key, double values[kMaxChannels]) const;
    // The key of a frame number, null when the bone has none.
    const KAsfKey* FindKey(int frame) const;
    // The end node's translation: the bone vector in the bone's own frame.
    KVector4 EndTranslation() const;
};

class KQovAsfScene : public KObject {
    KQOV_CLASS(KQovAsfScene)
public:
    KQovAsfScene();
    ~KQovAsfScene() override;

    std::string mName;
    double mMassUnit = 1.0;
    double mLengthUnit = 1.0;
    double mAngleFactor = 1.0;
    std::unique_ptr<KAsfBone> mRoot;
    // Names of the bones restructuring removed: motion lines may still name them.
    std::vector<std::string> mRemoved;
    std::string mNameWarnings;

    // Scene centimetres per file length unit.
    double GetLengthScale() const;
    KAsfBone* FindBone(const char* name) const;
    // Every bone by name, the first of a name in GetBones order: for callers that look up many
    // names. Valid until the tree changes.
    std::unordered_map<std::string, KAsfBone*> IndexBones() const;
    // Bone vectors, offsets, parent frames and rest transforms, parents before children.
    void CompleteFrames();
    // Bone names the readers take back whole and apart (source keeps a changed one's node).
    void NameBones();
    // Removes every bone below the root that has no channels and children; they move up.
    void Restructure();
    // Every bone, parents before children.
    std::vector<KAsfBone*> GetBones() const;

    // Scene side (KQovAsfSceneNodes.cpp).
    // Nodes for `bone` and its subtree, at rest; `limits` sets up their transform limits.
    KQovNode* BuildNodes(KQovObjectManager* manager, KAsfBone& bone, bool limits);
    // The bones' keys as curves of the take `take` on the nodes below `parent` of the same
    // names; bones without a node get new ones. A key of frame number n lies at
    // start + period x (n - 1).
    void ApplyMotion(KQovObjectManager* manager, KQovNode* parent, const char* take, KTime start,
                     KTime period, bool limits);
    // A skeleton of the tree below `root` for writing: the root bone turns and moves freely,
    // every other bone turns (and moves when its node's translation is keyed in the current
    // take); bones are bound to their nodes.
    void BuildFromNodes(KQovNode* root);
    // What BuildFromNodes renamed so that the ASF and AMC readers take each bone back apart;
    // a warning line per bone.
    const std::string& GetNameWarnings() const { return mNameWarnings; }
    // Binds every bone with channels to the node of its name below `root` (the root bone to
    // `root`); false when one has none.
    bool BindNodes(KQovNode* root);
    // Each bound bone's key for frame number `frame` from its node at `time`; the root's in the
    // scene's space when `global`.
    void SampleNodes(KTime time, int frame, bool global);
};
