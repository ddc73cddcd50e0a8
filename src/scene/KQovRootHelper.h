#pragma once
// Helper root nodes that an exporter wraps a scene in: their names contain
// "Qov_Root". The filter helper decides, on import, which of them only carry
// the axis/unit conversion and can be dissolved, and which nodes moved.

#include <vector>

#include "foundation/KMatrix.h"
#include "foundation/KString.h"

class KQovNode;

class KQovRootHelper {
public:
    KQovRootHelper() : mRootName("Qov_Root") {}
    virtual ~KQovRootHelper() = default;
    // Further root nodes a subclass recognises.
    virtual bool IsExtraRoot(KQovNode*) { return false; }

    KString GetRootName() const { return mRootName; }
    // The class-prefixed name contains the root name (case-sensitive), or IsExtraRoot.
    bool IsRoot(KQovNode* node);

private:
    KString mRootName;
};

class KQovRootFilterHelper : public KQovRootHelper {
public:
    // Not moved and not a dissolved root.
    virtual bool IsPlainNode(KQovNode* node);
    // The matrix taking the file's axes and units to the host's.
    virtual void GetConversionMatrix(KMatrix& matrix) = 0;
    // Stores the matrix's translation, Euler XYZ rotation and scaling as the
    // node's "Lcl" values; returns its recomputed pivot-set 0 global matrix.
    virtual KMatrix ApplyRootTransform(KQovNode* node, const KMatrix& matrix);

    bool IsDissolvedRoot(KQovNode* node);
    // Sorts the helper roots below sceneRoot: one whose transform only undoes
    // the conversion is dissolved (its children move), any other moves itself;
    // then the conversion goes onto sceneRoot.
    void DissolveRoots(KQovNode* sceneRoot);

    const std::vector<KQovNode*>& GetMovedNodes() const { return mMovedNodes; }
    const std::vector<KQovNode*>& GetDissolvedRoots() const { return mDissolvedRoots; }

private:
    std::vector<KQovNode*> mMovedNodes;
    std::vector<KQovNode*> mDissolvedRoots;
};
