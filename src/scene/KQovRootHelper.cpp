#include "scene/KQovRootHelper.h"

#include <algorithm>
#include <cstring>

#include "scene/KQovNode.h"

namespace {

bool Contains(const std::vector<KQovNode*>& list, const KQovNode* node) {
    return std::find(list.begin(), list.end(), node) != list.end();
}

}  // namespace

bool KQovRootHelper::IsRoot(KQovNode* node) {
    if (!node) return false;
    if (std::strstr(node->GetName(), mRootName.Buffer())) return true;
    return IsExtraRoot(node);
}

bool KQovRootFilterHelper::IsDissolvedRoot(KQovNode* node) {
    return IsRoot(node) && Contains(mDissolvedRoots, node);
}

bool KQovRootFilterHelper::IsPlainNode(KQovNode* node) {
    if (Contains(mMovedNodes, node)) return false;
    return !IsDissolvedRoot(node);
}

KMatrix KQovRootFilterHelper::ApplyRootTransform(KQovNode* node, const KMatrix& matrix) {
    if (!node) return KMatrix();
    KVector4 r, s;
    KMatrixGetEulerXYZ(r, matrix);
    KMatrixGetScaling(s, matrix);
    node->SetLocalTranslation(matrix[3][0], matrix[3][1], matrix[3][2]);
    node->SetLocalRotation(r[0], r[1], r[2]);
    node->SetLocalScaling(s[0], s[1], s[2]);
    return node->GetGlobalMatrix(0, true);
}

void KQovRootFilterHelper::DissolveRoots(KQovNode* sceneRoot) {
    if (!sceneRoot) return;
    KMatrix conversion;
    GetConversionMatrix(conversion);
    std::vector<KQovNode*> roots;
    for (int i = 0; KQovNode* child = sceneRoot->GetChild(i); ++i)
        if (IsRoot(child)) roots.push_back(child);
    mMovedNodes.clear();
    static const KMatrix identity;
    for (KQovNode* root : roots) {
        KMatrix product;
        KMatrixMultiply(product, conversion, root->GetGlobalMatrix(0, true));  // conversion first
        if (KMatrixCompareAffine(product, identity, 0.0001) == 0) {
            for (int i = 0; KQovNode* child = root->GetChild(i); ++i) mMovedNodes.push_back(child);
            mDissolvedRoots.push_back(root);
        } else {
            mMovedNodes.push_back(root);
        }
    }
    ApplyRootTransform(sceneRoot, conversion);
}
