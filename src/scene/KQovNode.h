#pragma once
// A scene node ("Model::"): one place in the hierarchy with its transform
// properties and pivot sets, an optional node attribute saying what it is, its
// animation per take, and back-links from the characters that use it.
//
// The hierarchy is kept as connections between property sets: a child's set is
// a source of its parent's set.

#include <bitset>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/KError.h"
#include "foundation/KMatrix.h"
#include "foundation/KQovLimits.h"
#include "foundation/KString.h"
#include "foundation/KTime.h"
#include "foundation/KVector4.h"
#include "scene/KQovNodeLinkOwner.h"
#include "scene/KQovTakeNodeContainer.h"

class KQovEntityContainer;
class KQovNodeAttribute;
class KQovNodeProperties;
struct KQovPivotSet;
class KQovNull;
class KQovMarker;
class KQovSkeleton;
class KQovGeometry;
class KQovMesh;
class KQovNurb;
class KQovPatch;
class KQovCamera;
class KQovCameraSwitcher;
class KQovLight;
class KQovOpticalReference;
class KQovNode;
class KQovTakeNode;

// What KQovNode::SketchDefaultTake keeps between nodes: the last take it made and the plan
// it was made from.
class KQovDefaultTakeSketch {
public:
    KQovDefaultTakeSketch();
    ~KQovDefaultTakeSketch();
    KQovDefaultTakeSketch(const KQovDefaultTakeSketch&) = delete;
    KQovDefaultTakeSketch& operator=(const KQovDefaultTakeSketch&) = delete;
    // Changes whenever the take handed out is made anew: the same number, the same channels.
    uint64_t GetGeneration() const { return mGeneration; }

private:
    friend class KQovNode;
    struct State;
    std::unique_ptr<State> mState;
    uint64_t mGeneration = 0;
};


class KQovNode : public KQovTakeNodeContainer {
public:
    // Node error codes.
    enum : int {
        eTakeNodeError = 0,
        eNodeNameClash = 1,
        eMaterialNameClash = 2,
        eTextureNameClash = 3,
        eNotAChild = 4,
        eCyclicGraph = 5,
        eIndexOutOfRange = 6,
        eRootBelowSettings = 7,
        eRootOfAnotherScene = 8,
        eSecondParent = 9,
        eErrorCount = 10,
    };
    enum : int { eCullingOff = 0, eCullingOnCCW = 1, eCullingOnCW = 2 };
    // Back-link kinds.
    enum : int { eCharacterSlot = 0, eControlSetLink = 1, eEffector = 2, eAuxiliaryEffector = 3 };

    KQovNode(KQovObjectManager* manager, const char* name);
    // Unbinds the attribute (the manager owns it), clears the character slots
    // naming this node and destroys the property set; children become roots.
    ~KQovNode() override;

    void PrepareDestroy() override;
    int GetObjectType() const override { return eNode; }
    KQovPropertyHandler* GetPropertyHandler() const override;
    KQovNodeProperties* GetNodeProperties() const { return mProperties; }
    // The set's properties, then the attribute's.
    void CollectProperties(std::vector<KProperty*>& out) override;
    // The attribute's, or "Null" without one.
    KString GetTypeName() const override;
    KStringList GetTypeNames() const override;
    bool SetCurrentTakeNode(const char* name) override;
    bool SetCurrentTakeNode(int index) override;
    // Widens [start, stop] over the current take of this node and its subtree.
    bool GetAnimationInterval(KTime& start, KTime& stop) override;
    // "Transform" (T, R, S with X, Y, Z) and "Visibility", the other animatable
    // properties, then the attribute's channels; linked in "Default".
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;
    void ForgetTakeNode(KQovTakeNode* takeNode) override;
    void AfterPropertiesRead() override { CopyPropertiesToPivots(); }
    // For writers: the "Default" take as LendDefaultTakeNode and WritePropertyDefaults would
    // give it, while the node has not made it: made from the node's plan, without links, in
    // `sketch` (kept as it is when the last node sketched there had the same plan). The node
    // is not changed. Null when the node made its take, or would have to make it to write its
    // values into it: borrow it then.
    KQovTakeNode* SketchDefaultTake(KQovDefaultTakeSketch& sketch);
    // For readers: the "Default" take holding the node's current values, in `sketch` as
    // SketchDefaultTake gives it, when its curves keep those values exactly (a curve read sets
    // its property to the float it holds). Null otherwise: make the take then.
    KQovTakeNode* SketchPlannedTake(KQovDefaultTakeSketch& sketch);
    // For readers that found the sketch in a file: the plan takes the node's current values,
    // and the layer types the read gave the channels (tree order, root first; none past the
    // plain kinds) are kept for the take made later. False, with nothing changed, when the
    // take cannot keep them: make it then.
    bool KeepReadChannels(const std::vector<int8_t>& types);

protected:
    void BuildDeferredDefaultTake(KQovTakeNode* takeNode) override;
    void ForgetDeferredPlan() override;
    bool WriteDeferredDefaults() override;
    int DeferredLinkCount() const override;
    bool HasDeferredChannel(const char* propertyName) const override;

public:
    KError& GetNodeError() { return mError; }
    // The container of the scene holding the node; null when none.
    KQovEntityContainer* GetEntityContainer() const { return mEntityContainer; }
    // Moves the subtree with the materials, textures and videos it uses into
    // `container` (none: out of its container). Mode 1 also refuses clashes
    // with the new container's objects and empties it first. False and the
    // clash's code (node 1, material 2, texture 3, video 4) on a clash.
    bool SetEntityContainer(KQovEntityContainer* container, int mode = 0);

    // Hierarchy.
    KQovNode* GetParent() const;
    KQovNode* GetChild(int index) const;
    int GetChildCount(bool recursive = false) const;
    // Moves the node (to the end when it already is a child). Refuses null and
    // what any link between node sets refuses (KQovNodeProperties::Notify): this
    // node and its ancestors (error eCyclicGraph), a subtree holding a scene's
    // root below a camera switcher or producer camera (eRootBelowSettings) or
    // below another scene's node (eRootOfAnotherScene); a refused connection
    // leaves the node where it was.
    bool AddChild(KQovNode* node);
    KQovNode* RemoveChild(KQovNode* node);
    // The child named "Model::" + name (current name, or initial with the flag),
    // depth-first when recursive.
    KQovNode* FindChild(const char* name, bool recursive = false, bool initialName = false) const;
    void AddChildName(const char* text);
    int GetChildNameCount() const { return int(mChildNames.size()); }
    // Null out of range.
    const char* GetChildName(int index) const;

    // Attribute. Returns the previous attribute (which stays the manager's), or
    // null when nothing changed.
    KQovNodeAttribute* SetNodeAttribute(KQovNodeAttribute* attribute);
    KQovNodeAttribute* GetNodeAttribute() const { return mAttribute; }
    // The attribute when its type is `type`, else null.
    KQovNodeAttribute* GetAttributeOfType(int type) const;
    // Typed views (the class must be complete where they are called).
    template <class T = KQovNull>
    T* GetNull() const {
        return static_cast<T*>(GetAttributeOfType(1));
    }
    template <class T = KQovMarker>
    T* GetMarker() const {
        return static_cast<T*>(GetAttributeOfType(2));
    }
    template <class T = KQovSkeleton>
    T* GetSkeleton() const {
        return static_cast<T*>(GetAttributeOfType(3));
    }
    template <class T = KQovGeometry>
    T* GetGeometry() const {
        return static_cast<T*>(IsGeometry() ? mAttribute : nullptr);
    }
    template <class T = KQovMesh>
    T* GetMesh() const {
        return static_cast<T*>(GetAttributeOfType(4));
    }
    template <class T = KQovNurb>
    T* GetNurb() const {
        return static_cast<T*>(GetAttributeOfType(5));
    }
    template <class T = KQovPatch>
    T* GetPatch() const {
        return static_cast<T*>(GetAttributeOfType(6));
    }
    template <class T = KQovCamera>
    T* GetCamera() const {
        return static_cast<T*>(GetAttributeOfType(7));
    }
    template <class T = KQovCameraSwitcher>
    T* GetCameraSwitcher() const {
        return static_cast<T*>(GetAttributeOfType(8));
    }
    template <class T = KQovLight>
    T* GetLight() const {
        return static_cast<T*>(GetAttributeOfType(9));
    }
    template <class T = KQovOpticalReference>
    T* GetOpticalReference() const {
        return static_cast<T*>(GetAttributeOfType(10));
    }
    // Mesh, NURBS or patch.
    bool IsGeometry() const;

    // Flags.
    void SetShadingMode(int mode) { mShadingMode = mode; }
    int GetShadingMode() const { return mShadingMode; }
    void SetCullingMode(int mode) { mCullingMode = mode; }
    int GetCullingMode() const { return mCullingMode; }
    void SetMultiLayer(bool on) { mMultiLayer = on ? 1 : 0; }
    bool GetMultiLayer() const { return mMultiLayer != 0; }
    void SetMultiTake(int value) { mMultiTake = value; }
    int GetMultiTake() const { return mMultiTake; }
    // "Show" and "Visibility".
    void SetVisibility(bool visible);
    // False without a "Visibility" property; NaN counts as visible.
    bool GetVisibility() const;
    void SetMarked(bool marked, bool recursive = false);
    bool IsMarked(bool recursive = false) const;
    // A scene's root, camera switcher and producer cameras: the scene destroys them, the
    // manager's destroyers refuse them.
    void SetSceneOwned(bool owned) { mSceneOwned = owned; }
    bool IsSceneOwned() const { return mSceneOwned; }

    // Back-links from characters. Returns the record index (-1 when none).
    int AddCharacterLink(KQovNodeLinkOwner* owner, int kind, int slot, int subIndex);
    int FindCharacterLink(const KQovNodeLinkOwner* owner, int kind, int slot, int subIndex) const;
    int RemoveCharacterLink(const KQovNodeLinkOwner* owner, int kind, int slot, int subIndex);
    int GetCharacterLinkCount() const { return int(mCharacterLinks.size() - mCharacterLinkHoles); }

    // Targets: a new target replaces the old one; neither becomes a child.
    void SetLookAtTarget(KQovNode* node);
    KQovNode* GetLookAtTarget() const;
    void SetUpVectorTarget(KQovNode* node);
    KQovNode* GetUpVectorTarget() const;
    void SetPostTargetRotation(double x, double y, double z, double w);
    const KVector4& GetPostTargetRotation() const { return mPostTargetRotation; }
    void SetUpTargetRotation(double x, double y, double z, double w);
    const KVector4& GetUpTargetRotation() const { return mUpTargetRotation; }

    // Local transform properties (x, y, z; rotation in degrees). A missing
    // property leaves `out` unchanged / does nothing.
    void SetLocalTranslation(double x, double y, double z);
    void GetLocalTranslation(KVector4& out) const;
    void SetLocalRotation(double x, double y, double z);
    void GetLocalRotation(KVector4& out) const;
    void SetLocalScaling(double x, double y, double z);
    void GetLocalScaling(KVector4& out) const;
    // "InheritType", written without events.
    void SetInheritType(int type);
    int GetInheritType() const;

    // Pivot sets 0 and 1; another set index does nothing, reads 0 or null.
    void SetPivotState(int set, int state);
    int GetPivotState(int set) const;
    void SetRotationOrder(int set, int order);
    int GetRotationOrder(int set) const;
    void SetRotationOffset(int set, double x, double y, double z, double w = 1.0);
    const KVector4* GetRotationOffset(int set) const;
    void SetRotationPivot(int set, double x, double y, double z, double w = 1.0);
    const KVector4* GetRotationPivot(int set) const;
    void SetPreRotation(int set, double x, double y, double z, double w = 1.0);
    const KVector4* GetPreRotation(int set) const;
    void SetPostRotation(int set, double x, double y, double z, double w = 1.0);
    const KVector4* GetPostRotation(int set) const;
    void SetScalingOffset(int set, double x, double y, double z, double w = 1.0);
    const KVector4* GetScalingOffset(int set) const;
    void SetScalingPivot(int set, double x, double y, double z, double w = 1.0);
    const KVector4* GetScalingPivot(int set) const;
    void SetGeometricTranslation(int set, double x, double y, double z, double w = 1.0);
    void GetGeometricTranslation(int set, KVector4& out) const;
    void SetGeometricRotation(int set, double x, double y, double z, double w = 1.0);
    void GetGeometricRotation(int set, KVector4& out) const;
    void SetGeometricScaling(int set, double x, double y, double z, double w = 1.0);
    void GetGeometricScaling(int set, KVector4& out) const;
    void SetRotationSpaceForLimitOnly(int set, bool on);
    bool GetRotationSpaceForLimitOnly(int set) const;
    KQovPivotSet* GetPivotSet(int set) const;

    // Between the properties and the pivot sets / limits.
    void ResetTransformProperties();
    // Set 0 and the limits into the properties (before writing a file).
    void CopyPivotsToProperties();
    // The properties into set 0 (making it in use) when any is not neutral, and
    // into the limits when they differ (after reading a file).
    void CopyPropertiesToPivots();
    void SetRotationActive(bool on);
    KQovNodeLimits& GetLimits() { return mLimits; }
    const KQovNodeLimits& GetLimits() const { return mLimits; }

    // Channel transforms, from the "T", "R", "S" channels: local = TRS, global =
    // local x parent's global (row vectors, the local acts first). The default
    // ones read the "Default" take's default values, the timed ones the current
    // take; each is cached until the time or the take changes.
    KMatrix GetDefaultLocalMatrix();
    KMatrix GetLocalMatrix(KTime time);
    KMatrix GetDefaultGlobalMatrix();
    KMatrix GetGlobalMatrixAtTime(KTime time);

    // Evaluated transforms, stored by explicit walks (recursive: the whole
    // subtree, depth first). A pass computes each global once per id.
    void SetEvaluatedLocalToDefault(bool recursive);
    void EvaluateLocalMatrix(KTime time, bool recursive);
    void SetEvaluationId(int id, bool recursive);
    void EvaluateGlobalMatrix(int id, bool recursive);
    const KMatrix& GetEvaluatedGlobalMatrix() const;
    void SetEvaluatedGlobalMatrix(const KMatrix& m);

    // Pivot-set transforms from the "Lcl" properties and one pivot set:
    // S x Post x R x Pre x Translate(t) x parent's global. ComputeGlobalMatrix
    // stores it for the node and its subtree; GetGlobalMatrix recomputes from
    // the topmost ancestor when the stored one is not valid or when forced.
    // Another set index gives the identity.
    void ComputeGlobalMatrix(int set);
    KMatrix GetGlobalMatrix(int set, bool force = false);
    KVector4 GetGlobalTranslation(int set, bool force = false);
    KVector4 GetGlobalRotation(int set, bool force = false);
    KVector4 GetGlobalScaling(int set, bool force = false);
    // Neutral pivots, offsets, pre/post-rotations and geometric transform for
    // the node and its subtree; the pivot state and update offsets stay.
    void ResetPivotSet(int set);
    // Re-expresses the animation without pivots (set 1, then set 0, cleared).
    void ResetPivots();
    // Rewrites the translation defaults and keys, and through the matrix
    // converter the T, R, S channels of every take, so that the transform
    // under targetSet matches the one under the other set (node and subtree).
    void ConvertPivotAnimation(int targetSet, double framesPerSecond, bool reduceKeys);
    // The same compensating the parent's pivots too, with pre/post-rotations only.
    void ConvertPivotAnimationInHierarchy(int targetSet, double framesPerSecond,
                                          bool reduceKeys);

    // The text and flag left by the name-clash renaming.
    KString GetRenameInfo(uint8_t& flag) const {
        flag = mRenameFlag;
        return mRenameInfo;
    }
    void SetRenameInfo(const char* text, uint8_t flag) {
        mRenameInfo = text ? text : "";
        mRenameFlag = flag;
    }

private:
    friend class KQovNodeAttribute;
    friend class KQovEntityContainer;
    friend class KQovNodeProperties;
    // The attribute is going away: no channel calls, only the pointer and flags.
    void ForgetAttribute(const KQovNodeAttribute* attribute);
    void UpdateAttributeFlags();
    // The node's own part of ComputeGlobalMatrix and ResetPivotSet; false when it has no such
    // set (its subtree is then left alone).
    bool ComputeOwnGlobalMatrix(int set);
    bool ResetOwnPivotSet(int set);
    // This subtree of the set holds a computed matrix again: the stale marks above end.
    void ClearStaleAbove(int set);
    // A child was linked under this node.
    void ChildJoined(KQovNode* child);
    // The node's own part of the two pivot animation conversions; false when it has none.
    bool ConvertOwnPivotAnimation(int targetSet, double framesPerSecond, bool reduceKeys,
                                  bool inHierarchy);
    bool ConvertOwnPivotAnimationInHierarchy(int targetSet, double framesPerSecond,
                                             bool reduceKeys);

    struct CharacterLink {
        KQovNodeLinkOwner* owner;
        int32_t kind;
        int32_t slot;
        int32_t subIndex;
    };
    static KQovNode* NodeOf(KPlug* plug);
    bool IsSelfOrAncestorOf(const KQovNode* node) const;
    // The children by current name where a node has many (ChildIndex); null until a look-up
    // by name builds it.
    class ChildIndex;
    mutable std::unique_ptr<ChildIndex> mChildIndex;
    // A child was linked below this node, or is being unlinked: the index follows.
    void ChildLinked(KQovNode* child);
    void ChildUnlinked(KQovNode* child);
    // The only child of that current name from the index (built here when the node has many
    // children); false when the index cannot tell (few children, a name twice, memory refused).
    bool FindIndexedChild(const KString& name, KQovNode*& found) const;
    // The error code that refuses `child` below this node, or -1: the tree's rules, asked by
    // every link between node sets whatever call makes it.
    int RefusalOfChild(const KQovNode* child) const;
    void SetTarget(int row, KQovNode* node);
    KQovNode* GetTarget(int row) const;
    void SetPivotVector(int set, KVector4 KQovPivotSet::*field, double x, double y, double z,
                        double w);
    const KVector4* GetPivotVector(int set, KVector4 KQovPivotSet::*field) const;
    void SetLocal(const char* name, double x, double y, double z);
    void GetLocal(const char* name, int row, KVector4& out) const;

    // One channel of the node's own that InitTakeNodeChannels makes: the property behind it,
    // its number of component curves (1: the channel's own curve), how many of them get a
    // value, and those values.
    struct ChannelPlan {
        KProperty* property;
        int row;  // its table row, or where to look first
        int count;
        int written;
        double values[4];
    };
    // T, R, S, Visibility, then the other animatable properties, as they are now.
    void PlanChannels(std::vector<ChannelPlan>& plan) const;
    void BuildChannels(KQovTakeNode* takeNode, const std::vector<ChannelPlan>& plan);
    // Keeps the plan of the "Default" take instead of making it; makes it at once when a
    // property is not one of the node's table rows.
    void DeferDefaultChannels();
    // The deferred plan with each property found again by its row (null once gone).
    // Without `properties`, a set whose rows wait is left so: the plan holds values only.
    void ResolveDeferredPlan(std::vector<ChannelPlan>& plan, bool properties) const;
    // The plan entry of the channel a property name is looked up by, as in a made take: 0 to
    // 2 for "T", "R", "S" (under "Transform"), 3 for "Visibility", the entry of the other
    // channels; -2 for "Transform" itself, -1 for none.
    // `letters`, when given, holds the lowered first letters of the channels past the node's
    // own (PlannedFirstLetters), for a plan asked about many names.
    static int FindPlannedChannel(const char* propertyName, const std::vector<ChannelPlan>& plan,
                                  const std::bitset<256>* letters = nullptr);
    static std::bitset<256> PlannedFirstLetters(const std::vector<ChannelPlan>& plan);

    void InvalidateChannelTransforms();
    void InvalidatePivotSet(int set);
    // The T, R, S values of a take node at a time (its default values without time).
    void ReadTRS(KQovTakeNode* takeNode, const KTime* time, KVector4 trs[3]);

    // The cached and evaluated transforms, made by the first transform asked for: most nodes
    // of a file that is only converted never need one.
    struct TransformCache {
        KMatrix defaultLocal;
        KMatrix localAtTime;
        KMatrix defaultGlobal;
        KMatrix globalAtTime;
        KTime localTime;
        KTime globalTime;
        bool defaultLocalValid = false;
        bool localValid = false;
        bool defaultGlobalValid = false;
        bool globalValid = false;
        int channelHints[3] = {0, 0, 0};  // key hints of the T, R, S evaluations
        KMatrix evaluatedLocal;
        KMatrix evaluatedGlobal;
        int32_t evaluationId = -1;
    };
    TransformCache& Cache();
    std::unique_ptr<TransformCache> mCache;
    // The channels of the deferred "Default" take, by table row (kNoRow: no property).
    struct DeferredChannel {
        uint16_t row;
        uint8_t count;
        uint8_t written;
        float values[4];  // what the curves hold: they keep floats
    };
    static constexpr uint16_t kNoRow = 0xFFFF;
    using DeferredPlan = std::vector<DeferredChannel>;
    // Nodes made alike share one plan (most of a file's nodes hold the same values).
    static std::shared_ptr<const DeferredPlan> SharedPlan(const DeferredPlan& plan);
    // The plan PlanChannels would make, from the rows of a set that waits; false otherwise.
    bool PlanWaitingChannels(DeferredPlan& channels) const;
    std::shared_ptr<const DeferredPlan> mDeferredPlan;
    // The layer types of the deferred take's channels in tree order, when a read set them.
    using LayerTypes = std::vector<int8_t>;
    std::shared_ptr<const LayerTypes> mReadLayers;
    // Gives the channels of a take made from the plan the layer types kept.
    void ApplyReadLayerTypes(KQovTakeNode* takeNode) const;
    // WritePropertyDefaults into `channels` (the deferred plan, `plan` resolved from it);
    // false when a write would add a curve or a component.
    bool WriteDefaultsIntoPlan(DeferredPlan& channels, const std::vector<ChannelPlan>& plan);
    // The lists and last plans the calls above keep between nodes, one set per thread.
    struct ThreadLists;
    static ThreadLists& GetThreadLists();
    friend class KQovDefaultTakeSketch;

    KError mError;
    KQovNodeProperties* mProperties = nullptr;
    std::vector<KString> mChildNames;
    KVector4 mPostTargetRotation;
    KVector4 mUpTargetRotation;
    KQovNodeAttribute* mAttribute = nullptr;
    int32_t mShadingMode = 3;
    int32_t mCullingMode = eCullingOff;
    uint8_t mMultiLayer = 0;
    int32_t mMultiTake = 1;
    KQovNodeLimits mLimits;
    bool mMarked = false;
    bool mSceneOwned = false;
    // A removed record leaves a hole (no owner) until half are holes, and the search starts
    // where the last one was removed: many links on one node go one by one in linear time.
    std::vector<CharacterLink> mCharacterLinks;
    uint32_t mCharacterLinkHoles = 0;
    uint32_t mCharacterLinkHint = 0;
    KString mRenameInfo;
    uint8_t mRenameFlag = 0;
    KQovEntityContainer* mEntityContainer = nullptr;
    // The child AddChild asked RefusalOfChild about while it links it: not asked twice.
    const KQovNode* mCheckedChild = nullptr;
};
