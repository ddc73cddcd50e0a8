#pragma once
// Node of an animation channel tree: a named channel with an optional curve, children,
// a time warp and a chain of animation layers.
//
// Output buffers are (pointer, capacity) pairs; GetValueCount() and GetCurveCount() size them.
// Values beyond the capacity are dropped, never written.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/KString.h"
#include "foundation/KTime.h"

class KDataType;
class KProperty;
class KFCurve;
class KFCurveNode;
class KQovFieldFile;

// Layer types.
enum : int {
    KFCURVENODE_LAYER_PLAIN = 0,
    KFCURVENODE_LAYER_TRANSLATION = 1,
    KFCURVENODE_LAYER_EULER_ROTATION = 2,
    KFCURVENODE_LAYER_SCALING = 3,
    KFCURVENODE_LAYER_QUATERNION_ROTATION = 4,
};

// Flag bits.
enum : uint32_t {
    KFCURVENODE_CLONED = 0x02,
    KFCURVENODE_REFERENCE = 0x08,  // lists children it does not own
    KFCURVENODE_LAYERING = 0x40,
    KFCURVENODE_CACHE_ANY_TIME = 0x80,
    KFCURVENODE_DEFAULT_FLAGS = 0x60,
};

// Change bits.
enum : uint32_t {
    KFCURVENODE_CHANGE_DESTROY = 2,
    KFCURVENODE_CHANGE_CURVE = 4,
    KFCURVENODE_CHANGE_TIME_WARP = 8,
    KFCURVENODE_CHANGE_LAYER = 16,
};

// Channel names as the tree tells them apart, letter case aside: a hash and a test for maps.
struct KFCurveNodeNameHash {
    size_t operator()(std::string_view name) const;
};
struct KFCurveNodeNameEqual {
    bool operator()(std::string_view a, std::string_view b) const;
};

// Shared name record of the nodes of one channel (a node, its copies and its layers).
struct KFCurveNodeNameRecord {
    std::string mName;
    std::unique_ptr<KString> mSecondName;  // null while it is the name's own text
    const KDataType* mDataType = nullptr;
    KProperty* mProperty = nullptr;
    int mRefCount = 1;
};

// Accumulated change bits and the callbacks that receive them.
struct KFCurveNodeChangeRecord;
typedef void (*KFCurveNodeCallback)(KFCurveNode* node, KFCurveNodeChangeRecord* record, void* data);
struct KFCurveNodeChangeRecord {
    uint32_t mBits = 0;
    int mCounter = 0;
    int mReserved = 0;
    std::vector<KFCurveNodeCallback> mCallbacks;
    std::vector<void*> mData;
    bool mOn = true;
};

class KFCurveNode {
public:
    static KFCurveNode* Create(const char* name, const KDataType* dataType = nullptr,
                               int layerType = KFCURVENODE_LAYER_PLAIN, int layerId = 0);
    static KFCurveNode* CreateCopy(KFCurveNode* source);

    KFCurveNode(const char* name, const char* secondName, const KDataType* dataType,
                int layerType = KFCURVENODE_LAYER_PLAIN, int layerId = 0);
    // Shares the source's name record; children, curve and links are not copied.
    explicit KFCurveNode(KFCurveNode* source);
    virtual ~KFCurveNode();
    KFCurveNode(const KFCurveNode&) = delete;
    KFCurveNode& operator=(const KFCurveNode&) = delete;

    // Children.
    virtual void Clear();
    virtual int Add(KFCurveNode* child);
    virtual int Remove(int index);   // out of range: nothing removed
    virtual void Delete(int index);  // out of range: nothing deleted
    virtual int GetCount() const { return static_cast<int>(mChildren.size() - mHoles); }
    virtual KFCurveNode* Get(int index) const;
    virtual bool IsChild(const KFCurveNode* node, bool recursive) const;
    virtual KFCurveNode* FindChildOfType(const KDataType* dataType) const;
    virtual int FindIndex(const KFCurveNode* child) const;
    virtual int FindIndexByName(std::string_view name) const;
    // The child FindIndexByName finds; null when none. Among many children a name index finds
    // it without a walk.
    KFCurveNode* FindChildByName(std::string_view name) const;
    virtual void SetParent(KFCurveNode* parent) { mParent = parent; }
    virtual KFCurveNode* GetParent() const { return mParent; }
    virtual int AddSorted(KFCurveNode* child);
    void DeleteChild(KFCurveNode* child);
    // Deletes the child FindChildByName finds; false when none.
    bool DeleteChildByName(std::string_view name);
    // Exchanges the list of children with `children`, allocating nothing; every child keeps its
    // parent (the caller sets those of the ones that come or go). A caller that must give a list
    // back whatever happens makes the other list first and swaps twice.
    void SwapChildren(std::vector<KFCurveNode*>& children);
    // Room for `count` children, for a caller that knows how many it adds.
    void Reserve(int count) {
        if (count > 0) mChildren.reserve(size_t(count) + mHoles);
    }

    // Name and type.
    const char* GetName() const;
    const char* GetSecondName() const;
    void SetSecondName(const char* name);
    const KDataType* GetDataType() const { return mNameRecord->mDataType; }
    KProperty* GetProperty() const { return mNameRecord->mProperty; }
    // The name may change: every name index is made again.
    void SetProperty(KProperty* property);
    const KFCurveNodeNameRecord* GetNameRecord() const { return mNameRecord; }

    uint32_t GetFlags() const { return mFlags; }
    void SetFlags(uint32_t flags) { mFlags = flags; }
    void* GetUserData() const { return mUserData; }
    void SetUserData(void* data) { mUserData = data; }
    int GetShareCount() const { return mShareCount; }
    uint32_t GetChangeCount() const { return mChangeCount; }
    KFCurveNode* GetCopySource() const { return mCopySource; }

    // Lookups. Paths are split at '/' without writing to the text.
    KFCurveNode* Find(std::string_view path) const;
    KFCurveNode* FindOfType(const KDataType* dataType) const;
    KFCurveNode* FindOrCreateChild(const char* name, bool withCurve);
    bool GetTransformCurves(KFCurve* t[3], KFCurve* r[3], KFCurve* s[3]) const;

    // Curve.
    KFCurve* GetCurve() const { return mCurve; }
    KFCurve* SetCurve(KFCurve* curve, bool destroyOld = true);
    void ReplaceCurve(KFCurve* curve);
    void EnsureCurves();

    // Time warp (shared through its share count). False, and nothing changed, when the warp
    // would make an evaluation loop.
    bool SetTimeWarp(KFCurveNode* warp);
    KFCurveNode* GetTimeWarp() const { return mTimeWarp; }
    // Takes one share of a node; the last release destroys it.
    static void AddShare(KFCurveNode* node);
    static void ReleaseShare(KFCurveNode* node);

    // Layer chain (Part of the layers' interface).
    void SetNextLayer(KFCurveNode* layer, bool destroyOld);
    KFCurveNode* GetNextLayer() const { return mNextLayer; }
    KFCurveNode* GetBaseLayerNode() const { return mBaseLayer; }
    int GetLayerType() const { return mLayerType; }
    void SetLayerType(int type, KFCurveNode* baseNode = nullptr);
    int GetLayerId() const { return mLayerId; }
    void SetLayerId(int id) { mLayerId = id; }
    KFCurveNode* AddLayer(int layerId, bool destroyOld);
    KFCurveNode* EnsureLayer(int layerId);
    KFCurveNode* FindLayer(int layerId) const;
    void SyncLayersFrom(KFCurveNode* source, bool moveCurves);
    void SetQuaternionInterpolation(bool on);
    bool GetQuaternionInterpolation() const { return mQuaternionInterpolation; }
    void SetRotationOrder(int order);
    int GetRotationOrder() const { return mRotationOrder; }
    void InvalidateCache(int layerId, bool wholeChain);

    // Key spans and counts.
    bool GetAnimationInterval(KTime& start, KTime& stop) const;
    int GetTotalKeyCount(bool withLayers) const;

    // Value counts: of Evaluate (of EvaluateLayer with layerForm), and of the pre-order curve
    // walks (EvaluatePlain, Get/SetDefaultValues, AppendKeys).
    int GetValueCount(bool layerForm = false) const;
    int GetCurveCount() const;

    // Default values, one per curve in pre-order. Return the number of curves visited.
    int GetDefaultValues(double* out, int capacity) const;
    int SetDefaultValues(const double* in, int count);

    // Copies.
    KFCurveNode* Clone(bool copyConstruct, bool withKeys = true, bool withEmptyCurves = false,
                       int layerId = -1) const;
    void CopyFrom(KFCurveNode* source, bool moveCurves);
    void Replace(KFCurveNode* source, KTime start, KTime stop, bool keepSpan = false,
                 bool boundaryKeys = true);

    // Evaluation. Each returns out advanced past the values written.
    double* Evaluate(double* out, int capacity, KTime time, int* keyHint = nullptr);
    double* EvaluateLayer(double* out, int capacity, KTime time, int layerId,
                          int* keyHint = nullptr);
    double* EvaluatePlain(double* out, int capacity, KTime time, int* keyHint = nullptr);
    std::vector<double> Evaluate(KTime time);
    int GetNeutralValues(double* out, int capacity) const;

    // Euler continuity and key setting.
    bool GetEquivalentOffsets(double out[3], const double value[3], const double ref[3]) const;
    // mask: one flag for the own curve, then one per child (null or short: the rest true).
    KTime GetPreviousKeyTime(KTime time, const bool* mask = nullptr, int maskCount = 0) const;
    void MakeContinuous(double out[3], const double value[3], KTime time);
    const double* AppendKeys(KTime time, const double* values, int count, bool continuous);

    // Change notification.
    void AddCallback(KFCurveNodeCallback callback, void* data);
    void NotifyChange(uint32_t bits);

    // Storage in the field file (KFCurveNodeStorage.cpp).
    void Store(KQovFieldFile& file, bool noLayers, bool shortNames, bool noUserName,
               const char* fieldName, bool curveFlagA, bool curveFlagB);
    // `route`, when given, names the parent's child a channel of the file goes to before any
    // lookup by name (null: looked up as usual).
    static KFCurveNode* Retrieve(KQovFieldFile& file, KFCurveNode* parent, bool curveFlagA,
                                 bool create, bool curveFlagB,
                                 const std::function<KFCurveNode*(const std::string&)>& route = {});
    void RetrieveContent(KQovFieldFile& file, bool curveFlagA, bool create, bool curveFlagB);

private:
    struct NameIndex;
    // The list of children, its holes closed: every use but deletion and Add goes through it.
    std::vector<KFCurveNode*>& Children() const {
        if (mHoles) CloseHoles();
        return mChildren;
    }
    void CloseHoles() const;
    // The place of `child` in the list as it stands, holes counted; the list's size when absent.
    size_t PlaceOfChild(const KFCurveNode* child) const;
    NameIndex* IndexedNames() const;
    // After `child` left the list (no longer listed where it was).
    void ForgetIndexedName(KFCurveNode* child);
    void ReleaseNameRecord();
    void CopyContent(KFCurveNode* source, bool moveCurves);
    KFCurveNode* MakeLayer(int layerId);
    void ShareNameRecord(KFCurveNodeNameRecord* record);
    int ValueCount(bool layerForm) const;
    // The first node below `root`, parents before children, that `match` takes.
    template <class Match>
    static KFCurveNode* FindBelow(const KFCurveNode* root, Match&& match);
    void EvaluateInto(std::vector<double>& out, KTime time, int* keyHint, bool useCache);
    void EvaluateLayerInto(std::vector<double>& out, KTime time, int layerId, int* keyHint);
    void EvaluatePlainInto(std::vector<double>& out, KTime time, int* keyHint);
    void EvaluateRotation(std::vector<double>& out, KTime time, int* keyHint, bool useCache);
    bool EvaluateRotationQuaternion(double result[3], KTime time);
    void CombineLayer(double* p, int pCount, const double* l, int lCount) const;
    bool CanUseCache() const;
    void InvalidateNode();
    bool EvaluationReaches(const KFCurveNode* target) const;
    bool GetKeySpan(KTime& first, KTime& last) const;
    int CollectDefaults(double* out, int capacity, int at) const;
    int ApplyDefaults(const double* in, int count, int at);
    void ClearTimeWarpQuietly();

    bool mQuaternionInterpolation = false;
    KFCurveNodeNameRecord* mNameRecord = nullptr;
    uint32_t mFlags = KFCURVENODE_DEFAULT_FLAGS;
    int mShareCount = 0;
    // A child deleted by DeleteChild leaves a null place here, closed by the next use of the
    // list (Children()): deleting many one by one then moves the others once, not once each.
    mutable std::vector<KFCurveNode*> mChildren;
    mutable size_t mHoles = 0;
    KFCurve* mCurve = nullptr;
    KFCurveNode* mTimeWarp = nullptr;
    KFCurveNode* mNextLayer = nullptr;
    KFCurveNode* mBaseLayer = nullptr;
    KFCurveNode* mCopySource = nullptr;
    KFCurveNode* mParent = nullptr;
    int mLayerType = KFCURVENODE_LAYER_PLAIN;
    int mLayerId = 0;
    uint32_t mChangeCount = 0;
    int mRotationOrder = 0;
    int mCacheState[2] = {1, 1};
    double mCache[4] = {0.0, 0.0, 0.0, 0.0};
    KTime mCacheTime = KTIME_INFINITE;
    KFCurveNodeChangeRecord* mChangeRecord = nullptr;
    void* mUserData = nullptr;
    // The first child of each name, case folded; made by a lookup, null while not made.
    mutable std::unique_ptr<NameIndex> mNameIndex;
};

// Combination of layered values (n of them) by layer type; Euler triples in rotation order.
// a = combine(a, b); a = inverse(a).
void KFCurveNodeCombineValues(int layerType, int rotationOrder, double* a, const double* b, int n);
void KFCurveNodeInverseValues(int layerType, int rotationOrder, double* a, int n);

// Writes a field holding one text value.
void WriteTextField(KQovFieldFile& file, const char* name, const char* text);
