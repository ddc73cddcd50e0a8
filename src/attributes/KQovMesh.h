#pragma once
// The polygon mesh: control points plus polygons, each a run of polygon vertices naming control
// points. Per-polygon materials and textures, per-polygon-vertex UVs and normals live in layer 0.
// Besides building and querying, the mesh splits shared control points so that every polygon
// vertex owns one, merges such split points back, and finds duplicate points for both.

#include <vector>

#include "attributes/KQovGeometry.h"

struct KQovPolygon {
    int32_t first;  // first polygon-vertex index
    int32_t size;
    int32_t group;
};

// One use of a control point found by the split: polygon-vertex position, the control point it
// gets, and the normal it had there.
struct KQovSplitVertex {
    int32_t position;
    int32_t index;
    KVector4 normal;
};
using KQovSplitLists = std::vector<std::vector<KQovSplitVertex>>;

// Patch-surface settings of one direction that a mesh may carry: kept and written with it,
// not used by the mesh itself.
struct KQovMeshSurfaceFields {
    int32_t extendedCount = 0;
    bool closed = false;
    bool topCap = false;
    int32_t step = 0;
    int32_t count = 0;
};

// A polygon list checked as it is built, for a reader decoding a stored list in one pass: each
// vertex is checked against the control points as it comes, so the mesh takes the list over
// without a second look at every vertex. A vertex outside the control points, or past the room
// asked for, is dropped and noted; polygons keep the vertices that were kept. Memory runs out
// only at construction: the list then has no room and drops every vertex.
class KQovPolygonList {
public:
    // Room for `vertices` vertices of a mesh with `controlPoints` control points.
    KQovPolygonList(int controlPoints, int vertices);
    KQovPolygonList(const KQovPolygonList&) = delete;
    KQovPolygonList& operator=(const KQovPolygonList&) = delete;

    // Adds `n` values of a list in its stored form, where ~v marks the last vertex of a
    // polygon: each ends the polygon being built. Branch-free but for polygon ends: a dropped
    // vertex goes to the slot after the last one the room holds.
    void AddMarked(const int32_t* values, int n) {
        if (n <= mRoom - mKept && n <= mPolygonRoom - mPolygonCount && AddMarkedWhole(values, n))
            return;
        // Locals, which the stores into the list cannot alias.
        int32_t* const vertex = mVertex;
        const uint32_t points = mPoints;
        const int room = mRoom;
        int kept = mKept;
        bool dropped = false;
        for (int i = 0; i < n; ++i) {
            const int32_t v = values[i];
            const int32_t u = v < 0 ? ~v : v;
            const bool keep = uint32_t(u) < points && kept < room;
            vertex[kept] = u;
            kept += keep;
            dropped |= !keep;
            if (v < 0) {
                mKept = kept;
                EndPolygon();
            }
        }
        mKept = kept;
        mDropped |= dropped;
    }
    // Ends the polygon being built (empty when no vertex was kept since the last end).
    void EndPolygon() {
        if (mPolygonCount == mPolygonRoom && !GrowPolygons()) {
            mDropped = true;
            return;
        }
        mPolygon[mPolygonCount++] = KQovPolygon{mFirst, mKept - mFirst, -1};
        mFirst = mKept;
    }
    // True when a vertex or polygon was dropped (or memory ran out).
    bool HasDropped() const { return mDropped; }
    bool HasRoom() const { return mRoom > 0; }
    int GetPolygonCount() const { return mPolygonCount; }
    // Vertices of the ended polygons; those added since the last end are not part of the list.
    int GetVertexCount() const { return mFirst; }

private:
    friend class KQovMesh;
    // AddMarked when the room holds all `n` values and a polygon for each: the vertices in one
    // pass without branches, then the polygon ends. False, with nothing kept, when a vertex is
    // outside the control points (the slots it wrote are written again by the checked path).
    bool AddMarkedWhole(const int32_t* values, int n) {
        int32_t* const vertex = mVertex + mKept;
        const uint32_t points = mPoints;
        uint32_t outside = 0;
        for (int i = 0; i < n; ++i) {
            const int32_t v = values[i];
            const int32_t u = v ^ (v >> 31);  // ~v for a polygon's last vertex
            vertex[i] = u;
            outside |= uint32_t(uint32_t(u) >= points);
        }
        if (outside) return false;
        KQovPolygon* const polygon = mPolygon + mPolygonCount;
        const int kept = mKept;
        int first = mFirst, ended = 0;
        for (int i = 0; i < n; ++i) {
            if (values[i] >= 0) continue;
            polygon[ended++] = KQovPolygon{first, kept + i + 1 - first, -1};
            first = kept + i + 1;
        }
        mPolygonCount += ended;
        mFirst = first;
        mKept = kept + n;
        return true;
    }
    bool GrowPolygons();
    // Back to an empty list without room, once the mesh has taken the arrays.
    void Empty();

    KArrayInt mVertices{1024};
    KArrayOf<KQovPolygon> mPolygons{256};
    int32_t mSpare = 0;
    int32_t* mVertex = &mSpare;
    KQovPolygon* mPolygon = nullptr;
    uint32_t mPoints = 0;
    int mRoom = 0, mKept = 0, mFirst = 0, mPolygonCount = 0, mPolygonRoom = 0;
    bool mDropped = false;
};

class KQovMesh : public KQovGeometry {
public:
    explicit KQovMesh(KQovObjectManager* manager) : KQovGeometry(manager) { Reset(); }

    int GetAttributeType() const override { return eMesh; }
    KString GetTypeName() const override { return KString("Mesh"); }

    void Reset();
    void Copy(const KQovMesh& source);

    void BeginPolygon(int material = -1, int texture = -1, int group = -1);
    // New size of the polygon being built; -1 (nothing changed) before any BeginPolygon.
    int AddPolygonVertex(int controlPoint, int uvIndex = -1);
    // Replaces every polygon at once: polygon p has polygonSizes[p] vertices, taken in turn
    // from vertexIndices (a size of 0 gives the empty polygon BeginPolygon alone gives). Groups
    // become -1; per-polygon material and texture indices are unset, as BeginPolygon leaves
    // them. False, and the mesh unchanged, for a negative count or size, a missing array, or an
    // index outside the control points.
    bool SetPolygons(const int* vertexIndices, const int* polygonSizes, int polygonCount);
    // The same taking the vertex list over instead of copying it: its items are the vertex
    // indices, and the sizes must add up to its count. On false `vertexIndices` is left as given.
    bool SetPolygons(KArrayInt&& vertexIndices, const int* polygonSizes, int polygonCount);
    // The same taking over a list checked as it was built; the list is left empty. Its
    // vertices are checked again only when the mesh has fewer control points than the list was
    // built for (false, and both left as they were, when one is outside them).
    bool SetPolygons(KQovPolygonList&& list);
    void InitMaterialIndices(int mode);
    void InitTextureIndices(int mode);
    void InitTextureUVIndices(int mode);
    void InitTextureUV(int count);
    int AddTextureUV(double u, double v);

    // The first polygon with a vertex naming a control point the mesh does not have (a copy
    // whose points were not given yet), and that point; false when there is none.
    bool FindMissingPoint(int& polygon, int& point) const;

    int GetPolygonCount() const { return mPolygons.GetCount(); }
    int GetPolygonSize(int p) const;
    int GetPolygonVertex(int p, int k) const;
    const KArrayInt& GetPolygonVertices() const { return mVertices; }
    KQovPolygon GetPolygon(int p) const { return mPolygons.GetAt(p); }
    // All GetPolygonCount() polygons at once (null when there is none): for callers walking
    // every polygon, one call instead of one per polygon.
    const KQovPolygon* GetPolygonArray() const { return mPolygons.GetArray(); }
    void SetPolygonGroup(int p, int group) {
        if (p >= 0 && p < GetPolygonCount()) mPolygons.GetArray()[p].group = group;
    }
    void GetPolygonVertexNormal(int p, int k, KVector4& out) const;
    int GetTextureUVIndex(int p, int k) const;
    KArrayOf<KVector2>* GetTextureUV() const;
    int GetTextureUVCount() const;
    int GetMaterialMappingMode() const;
    int GetTextureUVMappingMode() const;
    int GetTextureMappingMode() const;
    int GetNormalsMappingMode() const;
    KArrayInt* GetMaterialIndices() const;
    KArrayInt* GetTextureIndices() const;
    // The surface settings of the U and the V direction.
    KQovMeshSurfaceFields& GetUSurface() { return mSurface[0]; }
    KQovMeshSurfaceFields& GetVSurface() { return mSurface[1]; }
    const KQovMeshSurfaceFields& GetUSurface() const { return mSurface[0]; }
    const KQovMeshSurfaceFields& GetVSurface() const { return mSurface[1]; }

    // Conversions for per-polygon-vertex normals.
    bool FindDuplicateControlPoints(std::vector<int>& map, int reserved, bool all) const;
    void SplitPolygonVertices(KQovSplitLists& lists, int reserved) const;
    void ApplySplitPolygonVertices(const KQovSplitLists& lists);
    // False, and the mesh unchanged, when the map does not describe duplicates that all sit at
    // the end of the control points; true otherwise (also when there is none).
    bool MergeDuplicateControlPoints(const std::vector<int>& map);

private:
    // The vertex count the sizes add up to; -1 when a size, the count or the arrays are bad,
    // the sizes add up to more than the `available` indices, or an index lies outside the
    // control points.
    int64_t CheckPolygons(const int* vertexIndices, int64_t available, const int* polygonSizes,
                          int polygonCount) const;
    // Takes the checked vertex list and sizes as the polygons.
    bool AdoptPolygons(KArrayInt&& vertices, const int* polygonSizes, int polygonCount);
    // Per-polygon material and texture indices follow new polygons, unset.
    void UnsetPerPolygonIndices(int polygonCount);
    // Position of polygon vertex k of polygon p; -1 out of range.
    int VertexPosition(int p, int k) const;

    KArrayOf<KQovPolygon> mPolygons{256};
    KArrayInt mVertices{1024};
    KQovMeshSurfaceFields mSurface[2];
};
