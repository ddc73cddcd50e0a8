#pragma once
// Drawing entities turned into mesh geometry: LINE, 3DFACE, SOLID, TRACE, MESH and POLYLINE
// with its VERTEX entities are read into collections (the points and face records of one
// layer, block or entity), and a collection becomes a mesh. Drawing points (X, Y, Z) become scene points
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
// Layer name -> true colour (group 420, 0xRRGGBB) of the layers that give one.
using KDxfLayerTrueColours = std::map<std::string, int, KDxfCaseLess>;

// Colours as the collections hold them: 1 to 255 a colour number, kDxfTrueColour plus
// 0xRRGGBB a true colour; any other value selects no material.
constexpr int kDxfTrueColour = 1 << 24;
// Group 62 not given: the entity takes its layer's colour.
constexpr int kDxfColourUnset = -(1 << 30);
inline bool KDxfIsMaterialColour(int colour) {
    return (colour >= 1 && colour <= 255) ||
           (colour >= kDxfTrueColour && colour <= kDxfTrueColour + 0xFFFFFF);
}

// What entities inside a block take from the instance that places it: the instance's layer
// for entities on layer 0, its colour for BYBLOCK (62 = 0).
struct KDxfBlockColours {
    bool inBlock = false;
    std::string layer;
    int colour = 0;
};

// The axes of an object coordinate system (groups 210/220/230, the arbitrary axis rule),
// file axes; the identity for the default direction (0, 0, 1).
struct KDxfObjectAxes {
    explicit KDxfObjectAxes(const double extrusion[3]);
    bool IsIdentity() const { return mIdentity; }
    // An object point (or direction) in file coordinates.
    void ToFile(const double in[3], double out[3]) const;

    double x[3] = {1, 0, 0}, y[3] = {0, 1, 0}, z[3] = {0, 0, 1};

private:
    bool mIdentity = true;
};

// The geometry of one layer, block or entity while it is read.
class KDxfCollection {
public:
    // Index of the point: with `weld`, an earlier point within 1e-6 in x, y and z is reused.
    int AddPoint(const KVector4& point, bool weld);
    // A record of 2 or more corners; colours KDxfIsMaterialColour takes select a material.
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

// Gives the material of a colour (see KDxfIsMaterialColour), made on first use.
class KDxfMaterialSource {
public:
    virtual ~KDxfMaterialSource() = default;
    virtual KQovMaterial* GetMaterial(int colour) = 0;
};

// Fills `mesh` (which should be empty) from a collection: the points in order, one polygon
// per record, two-corner records closed into a degenerate triangle, materials by polygon.
void KDxfBuildMesh(const KDxfCollection& collection, KQovMesh& mesh, KDxfMaterialSource* materials);

// A LINE, 3DFACE, SOLID or TRACE as read.
struct KDxfFace {
    std::string layer;
    int colour = 0;   // resolved (ResolveColour)
    int count = 0;    // corners: 2 for a line, 3 or 4 for a face
    KVector4 corners[4];
};

// A MESH as read: its base cage.
struct KDxfSubdMesh {
    std::string layer;
    int colour = 0;
    bool subdivided = false;  // group 91 above 0
    std::vector<KVector4> points;
    std::vector<std::vector<int>> faces;  // each of 3 or more valid point numbers
    int facesDropped = 0;                 // of fewer than 3 corners or a point not there
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
    KDxfEntityReader(KDxfGroupReader& groups, const KDxfLayerTable& layers,
                     const KDxfLayerTrueColours& trueColours)
        : mGroups(groups), mLayers(layers), mTrueColours(trueColours) {}

    // The instance whose block is being read (null or !inBlock: none), for colours.
    void SetBlock(const KDxfBlockColours* block) { mBlock = block; }
    const KDxfBlockColours* GetBlock() const { return mBlock; }

    // False when the file ends inside the entity.
    bool ReadLine(KDxfFace& line) { return ReadCorners(line, 2, false); }
    bool Read3DFace(KDxfFace& face) { return ReadCorners(face, 4, false); }
    // Corners in the order 1, 2, 4, 3 (3 when the fourth repeats the third), placed from
    // their object coordinate system.
    bool ReadSolid(KDxfFace& face) { return ReadCorners(face, 4, true); }
    bool ReadMesh(KDxfSubdMesh& mesh);
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
    // Layer, colour and corner points of a LINE (2 corners), 3DFACE or SOLID (4).
    bool ReadCorners(KDxfFace& face, int corners, bool solid);

public:
    // The colour of an entity of group 62 `colour` (kDxfColourUnset when not given) and
    // group 420 `trueColour` (-1 when not given) on `layer`, in the block being read: a true
    // colour first; unset (and 256 in a block) -> the layer's (layer 0 in a block: the
    // instance's layer); 0 -> the instance's colour in a block, else the layer's; others as
    // they are.
    int ResolveColour(int colour, int trueColour, const std::string& layer) const;
    // The colour of a layer: its true colour, else the absolute value of its number, 0
    // for a layer not in the table.
    int LayerColour(const std::string& layer) const;

private:
    // One VERTEX, up to and with the (0, type) group after it, whose type goes to `next`.
    // False when the file ends.
    bool ReadVertex(KDxfCollection& collection, int base, int colour, std::string_view& next);
    // The vertices of a polygon mesh, then its quads.
    bool ReadMeshVertices(const KDxfPolyline& polyline, KDxfCollection& collection);

    KDxfGroupReader& mGroups;
    const KDxfLayerTable& mLayers;
    const KDxfLayerTrueColours& mTrueColours;
    const KDxfBlockColours* mBlock = nullptr;
    std::set<size_t> mMeshesSkipped;  // where they stand: a block's, once however placed
    std::set<size_t> mPolylinesSkipped;
};
