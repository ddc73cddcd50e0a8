#pragma once
// Between node records of a drawing and scene nodes: records become nodes with their meshes,
// visibility, wire-frame shading and local transforms; mesh nodes of a tree become the
// entries the writer writes, in world space.

#include <functional>
#include <string>
#include <vector>

#include "formats/geometry/dxf/KDxfDrawingReader.h"
#include "formats/geometry/dxf/KDxfWriter.h"

class KQovNode;

// Makes a node of a name given without class prefix; null when it cannot.
using KDxfNodeFactory = std::function<KQovNode*(const std::string& name)>;

// The mesh a record's node takes in place of the record's own; null for none.
using KDxfMeshOf = std::function<KQovMesh*(const KDxfNodeRecord& record)>;

// Adds a node per record below `parent`, each taking its record's mesh (or, with `meshOf`,
// the mesh it gives); false when the factory fails (the nodes made so far stay).
bool KDxfAddNodes(KDxfNodeList& records, KQovNode* parent, const KDxfNodeFactory& factory,
                  const KDxfMeshOf& meshOf = nullptr);

// Identity given a translation, rotation and scaling, in that order.
KAffineMatrix KDxfLocalMatrix(const KVector4& t, const KVector4& r, const KVector4& s);
// The same from the node's local translation, rotation and scaling.
KAffineMatrix KDxfLocalMatrix(const KQovNode& node);
// The local matrix followed by those of the parents up to the root.
KAffineMatrix KDxfGlobalMatrix(const KQovNode& node);

// The mesh to write for a node; null for none.
using KDxfMeshSource = std::function<KQovMesh*(KQovNode* node)>;
// Where a node is placed in the world (local to world).
using KDxfPlacement = std::function<KAffineMatrix(KQovNode* node)>;

// Entries for the node and, depth first in child order, its descendants that hold a mesh
// (or for which `meshOf`, when given, names one); hidden nodes too. Each is placed by
// `placeOf`, or without one by KDxfGlobalMatrix.
void KDxfCollectMeshes(KQovNode* node, std::vector<KDxfMeshEntry>& out,
                       const KDxfMeshSource& meshOf = nullptr,
                       const KDxfPlacement& placeOf = nullptr);
