#pragma once
// A cluster link: a set of a geometry's control points, one weight each, bound to a linked node,
// with the four transform sets a skin or cluster deformation is stored with.

#include "foundation/KAffineMatrix.h"
#include "foundation/KArray.h"
#include "foundation/KString.h"
#include "foundation/KVector4.h"
#include "scene/KQovNodeLinkOwner.h"

template <class T>
class KGapList;

class KQovGeometry;
class KQovObjectManager;

// A destroyed node leaves the links that name it (as linked node or associate model).
class KQovLink : public KQovNodeLinkOwner {
public:
    // The four stored transform sets.
    enum : int { eTransform = 0, eTransformLink = 1, eTransformAssociateModel = 2, eTransformParent = 3 };

    KQovLink() { Reset(); }
    KQovLink(const KQovLink&) = delete;
    KQovLink& operator=(const KQovLink&) = delete;
    // Leaves the geometry holding it and the nodes it names.
    virtual ~KQovLink();

    void Reset();
    void Copy(const KQovLink& source);

    // A null node is ignored.
    void SetLink(KQovNode* node);
    KQovNode* GetLink() const { return mNode; }
    KString GetLinkName() const { return mLinkName; }
    // The full names a file gives before their nodes are found; a node set later replaces them.
    void SetNames(const char* link, const char* associate) {
        mLinkName = link ? link : "";
        mAssociateName = associate ? associate : "";
    }
    void SetAssociateModel(KQovNode* node);
    void ClearNodeLink(KQovNode* node, int kind, int slot, int subIndex) override;
    KQovNode* GetAssociateModel() const { return mAssociate; }
    // The manager that made and lists it; null for a link made directly.
    KQovObjectManager* GetObjectManager() const { return mManager; }
    KString GetAssociateModelName();

    void SetLinkMode(int mode) { mMode = mode; }
    int GetLinkMode() const { return mMode; }

    void SetUserData(const char* id, const char* data);
    KString GetUserDataID() const { return mUserDataId; }
    KString GetUserData() const { return mUserData; }
    // The data when id matches the stored id without regard to case, else "".
    KString GetUserData(const char* id) const;

    void SetTransformMatrix(const KAffineMatrix& m) { SetSet(eTransform, m); }
    void SetTransformLinkMatrix(const KAffineMatrix& m) { SetSet(eTransformLink, m); }
    void SetTransformAssociateModelMatrix(const KAffineMatrix& m) { SetSet(eTransformAssociateModel, m); }
    // Also marks the parent set present.
    void SetTransformParentMatrix(const KAffineMatrix& m);
    KAffineMatrix GetTransformMatrix() const { return GetSet(eTransform); }
    KAffineMatrix GetTransformLinkMatrix() const { return GetSet(eTransformLink); }
    KAffineMatrix GetTransformAssociateModelMatrix() const { return GetSet(eTransformAssociateModel); }
    KAffineMatrix GetTransformParentMatrix() const { return GetSet(eTransformParent); }
    bool HasTransformParent() const { return mHasParent; }

    // Separate parts of a set (set 0..3; others are ignored or read identity parts).
    void SetT(int set, const KVector4& t);
    void SetR(int set, const KVector4& r);
    void SetS(int set, const KVector4& s);
    KVector4 GetT(int set) const;
    KVector4 GetR(int set) const;
    KVector4 GetS(int set) const;

    // A negative index is ignored.
    void AddControlPointIndex(int index, double weight);
    int GetControlPointIndicesCount() const { return mIndices.GetCount(); }
    const int32_t* GetControlPointIndices() const { return mIndices.GetArray(); }
    const double* GetControlPointWeights() const { return mWeights.GetArray(); }
    double GetControlPointWeight(int i) const { return mWeights.GetAt(i); }
    int GetControlPointIndex(int i) const { return mIndices.GetAt(i); }
    // Drops the entries whose control point is not below limit; weights keep their order.
    void KeepControlPointsBelow(int limit);

private:
    friend class KQovGeometry;
    friend class KQovObjectManager;
    friend class KGapList<KQovLink>;
    struct TRS {
        KVector4 t, r, s;
    };
    void SetSet(int set, const KAffineMatrix& m);
    KAffineMatrix GetSet(int set) const;
    static bool ValidSet(int set) { return set >= 0 && set < 4; }
    // Points `field` at `node`, moving the back-link the node keeps.
    void Watch(KQovNode*& field, KQovNode* node, int kind);

    KQovNode* mNode = nullptr;
    KString mLinkName;
    int mMode;
    KQovNode* mAssociate = nullptr;
    KString mAssociateName;
    KString mUserDataId;
    KString mUserData;
    TRS mSets[4];
    bool mHasParent;
    KArrayInt mIndices{256};
    KArrayDouble mWeights{256};
    // The geometry that lists it and the place there; neither reset nor copied.
    KQovGeometry* mHolder = nullptr;
    size_t mGapSlot = 0;
    KQovObjectManager* mManager = nullptr;
};
