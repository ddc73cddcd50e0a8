#include "attributes/KQovLink.h"

#include "attributes/KQovGeometry.h"
#include "scene/KQovNode.h"

namespace {

KString FullName(const KQovNode* node) { return node ? KString(node->GetName()) : KString(""); }

// The kinds of the back-links a link leaves on its nodes (characters use 0 to 3).
constexpr int kLinkedNode = 4;
constexpr int kAssociateNode = 5;

}  // namespace

KQovLink::~KQovLink() {
    if (mHolder) mHolder->ForgetLink(this);
    Watch(mNode, nullptr, kLinkedNode);
    Watch(mAssociate, nullptr, kAssociateNode);
}

void KQovLink::Watch(KQovNode*& field, KQovNode* node, int kind) {
    if (field == node) return;
    if (node) node->AddCharacterLink(this, kind, 0, 0);  // first: a throw changes nothing
    if (field) field->RemoveCharacterLink(this, kind, 0, 0);
    field = node;
}

void KQovLink::ClearNodeLink(KQovNode* node, int kind, int /*slot*/, int /*subIndex*/) {
    if (kind == kLinkedNode && mNode == node) mNode = nullptr;
    if (kind == kAssociateNode && mAssociate == node) mAssociate = nullptr;
}

void KQovLink::Reset() {
    Watch(mNode, nullptr, kLinkedNode);
    mLinkName = "";
    mMode = 1;
    Watch(mAssociate, nullptr, kAssociateNode);
    mAssociateName = "";
    mUserDataId = "";
    mUserData = "";
    for (TRS& set : mSets) set = {KVector4(0, 0, 0, 1), KVector4(0, 0, 0, 1), KVector4(1, 1, 1, 1)};
    mHasParent = false;
    mIndices.Clear();
    mWeights.Clear();
}

void KQovLink::Copy(const KQovLink& source) {
    if (&source == this) return;
    Reset();
    if (source.mNode) {
        Watch(mNode, source.mNode, kLinkedNode);
        mLinkName = source.mLinkName;
    }
    Watch(mAssociate, source.mAssociate, kAssociateNode);
    mAssociateName = source.mAssociateName;
    mUserDataId = source.mUserDataId;
    mUserData = source.mUserData;
    mMode = source.mMode;
    for (int i = 0; i < 4; ++i) mSets[i] = source.mSets[i];
    mHasParent = source.mHasParent;
    mIndices = source.mIndices;
    mWeights = source.mWeights;
}

void KQovLink::SetLink(KQovNode* node) {
    if (!node) return;
    Watch(mNode, node, kLinkedNode);
    mLinkName = FullName(node);
}

void KQovLink::SetAssociateModel(KQovNode* node) {
    Watch(mAssociate, node, kAssociateNode);
    mAssociateName = FullName(node);
}

KString KQovLink::GetAssociateModelName() {
    if (mAssociate) mAssociateName = FullName(mAssociate);
    return mAssociateName;
}

void KQovLink::SetUserData(const char* id, const char* data) {
    mUserDataId = id ? id : "";
    mUserData = data ? data : "";
}

KString KQovLink::GetUserData(const char* id) const {
    return id && mUserDataId.CompareNoCase(id) == 0 ? mUserData : KString("");
}

void KQovLink::SetTransformParentMatrix(const KAffineMatrix& m) {
    SetSet(eTransformParent, m);
    mHasParent = true;
}

void KQovLink::SetSet(int set, const KAffineMatrix& m) {
    mSets[set] = {m.GetT(), m.GetR(), m.GetS()};
}

KAffineMatrix KQovLink::GetSet(int set) const {
    return KAffineMatrix(mSets[set].t, mSets[set].r, mSets[set].s);
}

void KQovLink::SetT(int set, const KVector4& t) {
    if (ValidSet(set)) mSets[set].t = t;
}
void KQovLink::SetR(int set, const KVector4& r) {
    if (ValidSet(set)) mSets[set].r = r;
}
void KQovLink::SetS(int set, const KVector4& s) {
    if (ValidSet(set)) mSets[set].s = s;
}
KVector4 KQovLink::GetT(int set) const { return ValidSet(set) ? mSets[set].t : KVector4(0, 0, 0, 1); }
KVector4 KQovLink::GetR(int set) const { return ValidSet(set) ? mSets[set].r : KVector4(0, 0, 0, 1); }
KVector4 KQovLink::GetS(int set) const { return ValidSet(set) ? mSets[set].s : KVector4(1, 1, 1, 1); }

void KQovLink::AddControlPointIndex(int index, double weight) {
    if (index < 0) return;
    mIndices.Add(index);
    mWeights.Add(weight);
}

void KQovLink::KeepControlPointsBelow(int limit) {
    int kept = 0;
    for (int i = 0; i < mIndices.GetCount(); ++i) {
        if (mIndices.GetAt(i) >= limit) continue;
        mIndices.SetAt(kept, mIndices.GetAt(i));
        mWeights.SetAt(kept++, mWeights.GetAt(i));
    }
    mIndices.SetCount(kept);
    mWeights.SetCount(kept);
}
