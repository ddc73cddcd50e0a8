#include "animation/KQovTakeNode.h"

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSceneTypes.h"

namespace {

const char* const kMessages[] = {"Curve not found"};

// Reference sub-containers are destroyed; the ordinary children of a reference node are only
// listed by it and stay with their owners.
void DeleteReferenceChildren(KFCurveNode* node) {
    for (int i = node->GetCount() - 1; i >= 0; --i) {
        KFCurveNode* child = node->Get(i);
        if (child->GetFlags() & KFCURVENODE_REFERENCE) {
            DeleteReferenceChildren(child);
            node->Delete(i);
        }
    }
}

}  // namespace

KQovTakeNode::KQovTakeNode(const char* takeName)
    : mName(takeName), mRoot(KFCurveNode::Create("Defaults")), mError(kMessages, 1) {}

KQovTakeNode::KQovTakeNode(const KQovTakeNode& other) : KQovTakeNode(other, other.mName.Buffer()) {}

KQovTakeNode::KQovTakeNode(const KQovTakeNode& other, const char* takeName)
    : mName(takeName), mRoot(other.mRoot->Clone(false)), mError(kMessages, 1) {}

void KQovTakeNode::SetName(const char* name) {
    if (mNameWatcher) mNameWatcher->TakeRenaming(this);
    mName = name ? name : "";
    if (mNameWatcher) mNameWatcher->TakeRenamed(this);
}

KQovTakeNode::~KQovTakeNode() {
    if (mRoot->GetFlags() & KFCURVENODE_REFERENCE) DeleteReferenceChildren(mRoot);
    delete mRoot;
}

bool KQovTakeNode::GetAnimationInterval(KTime& start, KTime& stop) const {
    return mRoot->GetAnimationInterval(start, stop);
}

KFCurveNode* KQovTakeNode::Walk(const char* name1, const char* name2) const {
    KFCurveNode* node = mRoot;
    if (name1) node = node->Find(name1);
    if (node && name2) node = node->Find(name2);
    return node;
}

KFCurve* KQovTakeNode::Result(KFCurveNode* node) {
    KFCurve* curve = node ? node->GetCurve() : nullptr;
    if (!curve) mError.SetError(eCurveNotFound);
    return curve;
}

KFCurve* KQovTakeNode::FindCurve(const char* name1, const char* name2, const char* name3) {
    KFCurveNode* node = Walk(name1, name2);
    if (node && name3) node = node->Find(name3);
    return Result(node);
}

KFCurve* KQovTakeNode::FindCurveByType(const char* name1, const char* name2,
                                       const KDataType* dataType) {
    KFCurveNode* node = Walk(name1, name2);
    if (node) node = node->FindOfType(dataType);
    return Result(node);
}

KFCurve* KQovTakeNode::FindCurveByTypeName(const char* typeName) {
    return FindCurveByType(nullptr, nullptr, KFCurveGetDataType(typeName));
}

bool KQovTakeNode::HasKeys(const char* name1, const char* name2, const char* name3) {
    KFCurve* curve = FindCurve(name1, name2, name3);
    return curve && curve->KeyGetCount() != 0;
}

bool KQovTakeNode::HasKeysByType(const char* name1, const char* name2, const KDataType* dataType) {
    KFCurve* curve = FindCurveByType(name1, name2, dataType);
    return curve && curve->KeyGetCount() != 0;
}
