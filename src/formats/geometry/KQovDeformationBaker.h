#pragma once
// Blend-shape and cluster-link deformations baked into a working copy of a mesh's points, for
// writers of formats that store plain points. The scene's own geometry is left as it was.

#include <functional>
#include <utility>
#include <vector>

#include "foundation/KAffineMatrix.h"

class KQovGeometry;
class KQovMesh;
class KQovNode;

class KQovDeformationBaker {
public:
    // How the writer places a node in the world (local to world).
    using GlobalMatrix = std::function<KAffineMatrix(KQovNode* node)>;

    explicit KQovDeformationBaker(GlobalMatrix global) : mGlobal(std::move(global)) {}

    // Shape weights act as plain factors on the differences to the points before the change;
    // `source` is the node's own geometry, which holds the weights.
    static void ApplyShapes(KQovMesh* mesh, KQovGeometry* source, std::vector<KVector4>& points);
    // The mesh's cluster links in the mode of its first link; `meshGlobal` places the mesh.
    void ApplyLinks(const KAffineMatrix& meshGlobal, KQovMesh* mesh,
                    std::vector<KVector4>& points) const;

private:
    GlobalMatrix mGlobal;
};
