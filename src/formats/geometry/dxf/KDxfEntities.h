#pragma once
// Drawing entities turned into mesh geometry: LINE, 3DFACE and POLYLINE with its VERTEX
// entities are read into collections (the points and face records of one layer, block or
// entity), and a collection becomes a mesh. Drawing points (X, Y, Z) become scene points
// (X, Z, -Y): the file is Z-up, the scene Y-up.

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/KArrayVector4.h"
#include "foundation/KLocale.h"

class KDxfGroupReader;
class KQovMaterial;
class KQovMesh;

struct KDxfCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return KStrCaseCmp(a.c_str(), b.c_str()) < 0;
    }
};
// Layer name -> colour number as read (negative: the layer is off); names match in any case.
using KDxfLayerTable = std::map<std::string, int, KDxfCaseLess>;

// The geometry of one layer, block or entity while it is read.
class KDxfCollection {
public:
    // Index of the point: with `weld`, an earlier point within 1e-6 in x, y and z is reused.
    int AddPoint(const KVector4& point, bool weld);
    // A record of 2 to 4 corners; colours 1 to 255 select a material.
    void AddRecord(int colour, const int* indices, int count);

    const KArrayVector4& GetPoints() const { return mPoints; }
    // Records: corner count, colour, then the corners.
    const std::vector<int>& GetRecords() const { return mRecords; }
    bool HasMaterial() const { return mHasMaterial; }

private:
    KArrayVector4 mPoints;
    std::vector<int> mRecords;
    bool mHasMaterial = false;
    // Points by grid cell, so that welding does not search every point.
    std::unordered_map<unsigned long long, std::vector<int>> mCells;
    int mCellsHold = 0;  // points entered in mCells
};

// Gives the material of a colour number (1 to 255), made on first use.
class KDxfMaterialSource {
public:
    virtual ~KDxfMaterialSource() = default;
    virtual KQovMaterial* GetMaterial(int colour) = 0;
};

// Fills `mesh` (which should be empty) from a collection: the points in order, one polygon
// per record, two-corner records closed into a degenerate triangle, materials by polygon.
void KDxfBuildMesh(const KDxfCollection& collection, KQovMesh& mesh, KDxfMaterialSource* materials);

// A LINE or 3DFACE as read.
struct KDxfFace {
    std::string layer;
    int colour = 0;   // the layer's colour when the entity gives 0
    int count = 0;    // corners: 2 for a line, 3 or 4 for a face
    KVector4 corners[4];
};

struct KDxfPolyline {
    std::string layer;
    int colour = 0;
    int flags = 0;
    int meshM = 0, meshN = 0;  // groups 71 and 72: the grid of a polygon mesh (flag 16)
};

// Reads entities from the group after their (0, type) group. LINE, 3DFACE and the POLYLINE
// header stop at the code-0 group that ends them and leave the reader at its start; the
// vertices are read on through SEQEND, which they consume.
class KDxfEntityReader {
public:
    KDxfEntityReader(KDxfGroupReader& groups, const KDxfLayerTable& layers)
        : mGroups(groups), mLayers(layers) {}

    // False when the file ends inside the entity.
    bool ReadLine(KDxfFace& line) { return ReadCorners(line, 2); }
    bool Read3DFace(KDxfFace& face) { return ReadCorners(face, 4); }
    bool ReadPolyline(KDxfPolyline& polyline);
    // The VERTEX entities after a POLYLINE header into the collection; flags 9 (a closed
    // polyline) close the outline; a polygon mesh (flag 16) becomes the quads of its M x N
    // grid, or nothing when its vertices do not fill the grid (counted in
    // GetMeshesSkipped). False when the file ends inside.
    bool ReadVertices(const KDxfPolyline& polyline, KDxfCollection& collection);
    int GetMeshesSkipped() const { return int(mMeshesSkipped.size()); }
    // Polylines none of whose vertices is of a kind read (2D polylines).
    int GetPolylinesSkipped() const { return int(mPolylinesSkipped.size()); }

    // A line as one segment record; a face as one record of its corners in file order.
    // With `dropFlat`, a face whose first three corners meet in one point is dropped.
    static void AddLine(const KDxfFace& line, KDxfCollection& collection, bool weld);
    static void AddFace(const KDxfFace& face, KDxfCollection& collection, bool weld,
                        bool dropFlat);

private:
    // Reads the groups of one entity up to its ending code-0 group and steps back to it;
    // `take` sees every other group. False when the file ends.
    template <class Take>
    bool ReadGroups(Take take);
    // Layer, colour and corner points of a LINE (2 corners) or 3DFACE (4).
    bool ReadCorners(KDxfFace& face, int corners);
    // 0 -> the colour of the layer (its absolute value), 0 without one.
    int ResolveColour(int colour, const std::string& layer) const;
    // One VERTEX, up to and with the (0, type) group after it, whose type goes to `next`.
    // False when the file ends.
    bool ReadVertex(KDxfCollection& collection, int base, int colour, std::string_view& next);
    // The vertices of a polygon mesh, then its quads.
    bool ReadMeshVertices(const KDxfPolyline& polyline, KDxfCollection& collection);

    KDxfGroupReader& mGroups;
    const KDxfLayerTable& mLayers;
    std::set<size_t> mMeshesSkipped;  // where they stand: a block's, once however placed
    std::set<size_t> mPolylinesSkipped;
};
