#pragma once
// Geometry: control points and layer-0 normals (the base of every surface and of blend shapes),
// then what a deformable surface on a node adds: cluster links, blend shapes with their names
// and animation channels, and a pivot. The geometry owns its links and shapes; with an object
// manager they are made and destroyed through it, so the manager lists every one of them.

#include <memory>
#include <utility>
#include <vector>

#include "attributes/KQovLayerContainer.h"
#include "attributes/KQovLink.h"
#include "foundation/KAffineMatrix.h"
#include "foundation/KArrayVector4.h"
#include "foundation/KError.h"
#include "foundation/KGapList.h"

class KNameNumbers;
class KFCurve;
class KFCurveNode;

class KQovGeometryBase : public KQovLayerContainer {
public:
    explicit KQovGeometryBase(KQovObjectManager* manager) : KQovLayerContainer(manager) {}

    // count zero points (a negative count counts as 0); false when they cannot be held.
    bool InitControlPoints(int count);
    int GetControlPointsCount() const { return mPoints.GetCount(); }
    KArrayVector4& GetControlPoints() { return mPoints; }
    const KArrayVector4& GetControlPoints() const { return mPoints; }
    // Layer 0's normal array; null without one.
    KArrayVector4* GetNormals() const;
    // Mapping by control point, or by polygon vertex for a count of 1 or more that differs from
    // the control-point count; zero normals, direct reference.
    void InitNormals(int count);
    // The same with the normals left for the caller to write (nothing zero-filled first): their
    // address, null when there is none or they cannot be held.
    KVector4* InitNormalsUninitialised(int count);
    // Needs layer-0 normals; grows points and normals to index + 1. A negative index does nothing.
    void SetControlPointAt(const KVector4& point, const KVector4& normal, int index);

private:
    KArrayVector4 mPoints{256};
};

class KQovGeometry;

// Blend-shape geometry: no node, attribute type 0.
class KQovShape : public KQovGeometryBase {
public:
    explicit KQovShape(KQovObjectManager* manager) : KQovGeometryBase(manager) {}
    // Leaves the geometry holding it.
    ~KQovShape() override;
    int GetAttributeType() const override { return eShape; }
private:
    friend class KQovGeometry;
    friend class KGapList<KQovShape>;
    KQovGeometry* mHolder = nullptr;
    size_t mGapSlot = 0;  // its place in the holder's list
    KString mHeldName;    // the shape's name in its geometry
};

// Made through the manager (which then lists it) when there is one, directly otherwise.
KQovLink* KQovNewLink(KQovObjectManager* manager);
KQovShape* KQovNewShape(KQovObjectManager* manager);
// Destroyed through the manager when it lists the object, deleted otherwise; null does nothing.
void KQovDisposeLink(KQovObjectManager* manager, KQovLink* link);
void KQovDisposeShape(KQovObjectManager* manager, KQovShape* shape);
void KQovDisposeAttribute(KQovObjectManager* manager, KQovNodeAttribute* attribute);

class KQovGeometry : public KQovGeometryBase {
public:
    enum : int {
        eParameterOutOfRange = 0,
        eParameterIsNull = 1,
        eMaterialNotFound = 2,
        eMaterialAlreadyAdded = 3,
        eTextureNotFound = 4,
        eTextureAlreadyAdded = 5,
        eShapeAlreadyAdded = 6,
        eShapeNameInvalid = 7,
        eShapeNameUsed = 8,
        eNoShapeCurve = 9,
        eOtherManager = 10,
    };

    explicit KQovGeometry(KQovObjectManager* manager);
    ~KQovGeometry() override;

    void SetNode(KQovNode* node) override;
    void ClearNode() override;
    void ForgetEntityContainer(const KQovEntityContainer* scene) override;
    // The shapes' uses move with the geometry's.
    void MoveToEntityContainer(KQovEntityContainer* scene) override;
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;
    void RemoveTakeNodeChannels(KQovTakeNode* takeNode) override;
    // Only the shapes have channels.
    bool HasTakeNodeChannels() const override { return GetShapeCount() > 0; }

    KError& GetError() { return mError; }

    int GetLinkCount() const { return int(mLinks.size()); }
    KQovLink* GetLink(int index);
    // Takes the link over; returns its index (-1 for null, a link a geometry holds already or
    // one of another manager).
    int AddLink(KQovLink* link);
    // A link or shape going away leaves the lists (its shape channels go too).
    void ForgetLink(const KQovLink* link);
    void ForgetShape(const KQovShape* shape);
    // Empties the list without destroying the links: those the manager lists stay its own,
    // the others become the caller's.
    std::vector<KQovLink*> RemoveAllLinks();

    int GetShapeCount() const { return int(mShapes.size()); }
    KQovShape* GetShape(int index);
    const char* GetShapeName(int index);
    // Takes the shape over on success; -1 with an error (and nothing taken) otherwise, also for
    // a shape another geometry holds or one of another manager. Each shape has a channel of its
    // own: a name that equals another shape's but for letter case is used, and so is one that
    // names another channel or property of the node (eShapeNameUsed).
    int AddShape(KQovShape* shape, const char* name);
    // The name when AddShape would take it, else one it takes, made from it ("Smile 1",
    // "Smile 2" ..., "Shape" for an empty one).
    KString FreeShapeName(const char* name) { return FreeShapeName(name, GetNode()); }
    // AddShape under FreeShapeName (name); a shape so renamed leaves a warning.
    int AddShapeRenaming(KQovShape* shape, const char* name);
    // A name given to AddShapeRenaming later, in this order: when it needs no change, no
    // number made for another shape takes it. Forgotten by ForgetShapeNamesAside.
    void SetShapeNameAside(const char* name);
    void ForgetShapeNamesAside();
    // The warnings of the shapes renamed since the last call (FreeShapeName's callers here, and
    // SetNode for names that the node's channels use), one line each; empty for none.
    KString TakeShapeWarnings();
    KFCurve* GetShapeChannel(KQovTakeNode* takeNode, int index);
    double GetDefaultShapeChannelValue(int index);
    void InitShapeChannel(KQovTakeNode* takeNode, int index);
    void RemoveShapeChannel(KQovTakeNode* takeNode, int index);

    KAffineMatrix GetPivot() const { return mPivot; }
    void SetPivot(const KMatrix& m) { mPivot = m; }
    void CopyPivot(const KQovGeometry& other) { mPivot = other.mPivot; }
    void ApplyPivot();
    bool GetPivotMatrix(KMatrix& out) const override {
        out = mPivot;
        return true;
    }
    void SetPivotMatrix(const KMatrix& m, bool applyToPoints) override {
        mPivot = m;
        if (applyToPoints) ApplyPivot();
    }

    // Layers, links, shapes and pivot; not the control points. Refused (nothing copied) for a
    // source of another manager, whose objects would outlive it here.
    void Copy(const KQovGeometry& source);

    // A shape of that name, letter case aside, takes a free one, with its property and its
    // channels, and a warning.
    void YieldChannelName(const char* name) override;

    // Gives back what a version-5 renaming set aside first (RestoreShapeChannels).
    void ClearSavedShapeNames();
    // The shapes' channels under the names a version-5 file gives them; the shapes renamed
    // so that each keeps a channel of its own (name, name given), the first time only. A
    // refused allocation throws and leaves this take's channels as they were.
    std::vector<std::pair<KString, KString>> RenameShapeChannelsForVersion5(KQovTakeNode* takeNode);
    // Every take's channels, and the shapes' names, back as they were before the renaming: the
    // very channels, in their places. Allocates nothing: it only swaps what the renaming made.
    void RestoreShapeChannels();
    // A take node leaving the node gets its channels back first.
    void ForgetTakeNode(KQovTakeNode* takeNode) override;
    void ConvertShapeChannels(KQovTakeNode* takeNode);
    static KString MakeShapeChannelName(const char* name);
    static KString MakeDefaultShapeChannelName(int index);

protected:
    void RemoveAllShapes();
    // True, with the error set, for a source of another manager.
    bool CopyRefused(const KQovGeometry& source);

private:
    bool ValidShape(int index);
    // Whether AddShape would refuse the name as used (by a shape other than `self`).
    bool ShapeNameUsed(const char* name, KQovNode* node, const KQovShape* self = nullptr);
    KString FreeShapeName(const char* name, KQovNode* node);
    bool NodeChannelNamed(KQovNode* node, const char* name);
    struct ShapeNames;
    ShapeNames* IndexedShapeNames();
    void CreateShapeProperty(int index);
    // The take's channel `from`, letter case aside, under the name `to`, keys and all.
    static void RenameChannel(KQovTakeNode* takeNode, const char* from, const char* to);
    void SaveVersion5Names(std::vector<std::pair<KString, KString>>& given);
    void RemoveChannelNamed(KQovTakeNode* takeNode, const char* name);
    // The channel of `shape` that a version-5 renaming set aside from the take goes; false when
    // the take's channels are not set aside.
    bool ForgetChannelSetAside(KQovTakeNode* takeNode, const KQovShape* shape);
    // Copies of the take's shape channels under their version-5 names stand in their place;
    // throws, changing nothing, when memory is refused.
    void SetChannelsAside(KQovTakeNode* takeNode);

    struct SavedName {
        // `held` is swapped with the shape's name: the written one while the file is written.
        KString current, written, channel, held;
    };
    // A shape's own channel, listed nowhere until given back (the root stays its parent; null
    // once the shape is destroyed), and the copy listed in its place.
    struct ChannelAside {
        const KQovShape* shape;
        KFCurveNode* own;
        KFCurveNode* copy;
    };
    // A take whose shape channels a version-5 write renamed: the root's list of channels as it
    // was, the list given to it (to tell whether the write's callbacks changed it) and the
    // channels set aside.
    struct ChannelsAside {
        KQovTakeNode* take;
        std::vector<KFCurveNode*> children;
        std::vector<KFCurveNode*> written;
        std::vector<ChannelAside> channels;
    };
    // One take's channels back in its root; allocates nothing.
    static void GiveBack(ChannelsAside& aside);

    void DestroyAllLinks();
    KString& ShapeName(size_t index) const { return mShapes[index]->mHeldName; }

    // Links and shapes destroyed one by one leave in linear time.
    KGapList<KQovLink> mLinks;
    KGapList<KQovShape> mShapes;
    // The shapes by name, letter case aside; made by a lookup among many, dropped by a rename.
    std::unique_ptr<ShapeNames> mShapeNames;
    // Shape names set aside, letter case aside (KNameNumbers::SetAside); null for none.
    std::unique_ptr<KNameNumbers> mShapesAside;
    KString mShapeWarnings;
    std::vector<SavedName> mSaved;
    std::vector<ChannelsAside> mAside;
    bool mNamesWritten = false;  // the shapes hold the names of mSaved's `written`
    KAffineMatrix mPivot;
    KError mError;
};
