#pragma once
// Turns a scene mesh into 3DS mesh records: polygons into triangles, control
// points into the parent's space in file axes, flat faces into smoothing
// groups of their own. 3DS indices are 16-bit, so a mesh over 65,535 vertices
// or faces becomes several records.

#include <array>
#include <string>
#include <vector>

#include "attributes/KQovMesh.h"
#include "formats/geometry/3ds/Mesh3ds.h"

struct MeshPiece3ds {
    Mesh3ds record;
    std::vector<int> facePolygons;  // the scene polygon of each face
};

struct MeshExportInput3ds {
    const KQovMesh* mesh = nullptr;
    KVector4 translation, rotation, scaling{1, 1, 1};  // the node's, scene axes
    bool textured = false;                             // write texture vertices
    size_t maxIndex = 65535;                           // vertices or faces per record
    // Receives the count of polygons cut plainly as their outline could not be followed.
    int* fallbacks = nullptr;
};

// Triangles of a convex polygon of n corners, as corner positions, fanning from both ends;
// the records cut concave polygons along their outline.
std::vector<std::array<int, 3>> TriangulatePolygon3ds(int n);

// Smoothing groups of flat faces: bits 2, 4, .., 30, then 1, 3, .., 31, then again.
class FlatGroupCycle3ds {
public:
    uint32_t Next();

private:
    static uint32_t Double(uint32_t bits) { return bits == 0x80000000u ? 2u : bits << 1; }
    uint32_t mBits = 4;
};

// Records of the mesh, none when it has no polygons or control points. Names
// are left to the caller.
std::vector<MeshPiece3ds> ExportMesh3ds(const MeshExportInput3ds& input);

// Faces of one combination of material and textures (-1 none).
struct FaceCombination3ds {
    int material = 0, first = -1, second = -1;
    std::vector<uint16_t> faces;
};

// The combinations the faces of a record use, ordered by material, then first
// and second texture, no texture after every texture.
std::vector<FaceCombination3ds> FaceCombinations3ds(const KQovMesh& mesh, const MeshPiece3ds& piece,
                                                    bool textured);

// A copy of `source` in which every polygon vertex is a control point of its
// own carrying its UV (exchanged when the polygon's texture swaps U and V), so
// that UVs map by control point; the source is left as it is.
void SplitPolygonVertices3ds(const KQovMesh& source, KQovMesh& copy);
