#pragma once
// Turns the surfaces of a scene into geometry other parts can handle: a mesh, patch or NURBS
// attribute into a triangle mesh (for writers of polygon-only formats), a patch into an
// equivalent NURBS, and a NURBS into the copy the writers store. Layers, the pivot, blend
// shapes with their curves and cluster links (weights re-expressed on the new control points)
// come along.
//
// New objects belong to the object manager; until the manager keeps them, to the caller.
// Refusals leave the reason in the source geometry's error ("Parameter out of range.", or the
// tessellator's message) and change nothing.

class KQovGeometry;
class KQovMesh;
class KQovNode;
class KQovNurb;
class KQovObjectManager;
class KQovPatch;

class KQovGeometryConverter {
public:
    explicit KQovGeometryConverter(KQovObjectManager* manager) : mManager(manager) {}

    // Replaces the node's mesh, patch or NURBS by a triangle mesh, keeping every shape's curve
    // in every take, and destroys the old attribute. False, with the node unchanged, for any
    // other attribute or a surface that cannot be converted.
    bool ConvertToMesh(KQovNode* node);
    // The same with a NURBS in place of the node's patch.
    bool ConvertPatchToNurb(KQovNode* node);

    // A NURBS equal to the patch; null for a "BezierQuadric" or "Cardinal" direction, a
    // direction with fewer control points than its order, or a grid of the wrong size.
    KQovNurb* CreateNurbFromPatch(KQovPatch* patch);
    // A full copy, control points of the surface and of its shapes included.
    KQovNurb* CopyNurbForWriting(KQovNurb* nurb);
    // Every polygon of three or more corners cut into triangles (convex ones plainly, concave
    // ones along their outline); per-polygon and per-polygon-vertex layer data follow their
    // triangles and corners.
    KQovMesh* TriangulateMesh(KQovMesh* mesh);
    // Polygons the last TriangulateMesh cut plainly because their outline could not be
    // followed (it crosses itself).
    int GetFallbackCount() const { return mFallbacks; }
    KQovMesh* PatchToMesh(KQovPatch* patch);
    KQovMesh* NurbToMesh(KQovNurb* nurb);

private:
    bool ReplaceGeometry(KQovNode& node, KQovGeometry* old, KQovGeometry* replacement);

    KQovObjectManager* mManager;
    int mFallbacks = 0;
};
