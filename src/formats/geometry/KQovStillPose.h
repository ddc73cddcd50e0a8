#pragma once
// Where a writer of a format that holds one still pose (OBJ, DXF) puts each node: as the
// scene stands at the start of its current take. A channel keyed in that take is evaluated
// there; the others keep the node's property values, as a scene without animation is written.
// Each node's global matrix is made once, from its parent's, so a deep chain costs one product
// per node.

#include <string>
#include <unordered_map>

#include "foundation/KAffineMatrix.h"
#include "foundation/KTime.h"

class KQovNode;
class KQovScene;

class KQovStillPose {
public:
    // A local matrix of a translation, Euler XYZ rotation in degrees, and scaling.
    using LocalBuilder = KAffineMatrix (*)(const KVector4& t, const KVector4& r, const KVector4& s);

    // At the start of the scene's current take.
    KQovStillPose(KQovScene& scene, LocalBuilder build);

    KTime GetTime() const { return mTime; }
    // The node's transform at the pose's time, and the same chained through its parents.
    KAffineMatrix Local(KQovNode* node);
    const KAffineMatrix& Global(KQovNode* node);

private:
    LocalBuilder mBuild;
    KTime mTime;
    std::string mTake;
    std::unordered_map<const KQovNode*, KAffineMatrix> mGlobals;
};
