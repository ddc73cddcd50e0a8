#pragma once
// Turns a 3DS mesh record into a scene mesh: vertices split where faces of
// disjoint smoothing groups meet, positions into the scene's Y-up axes, one
// polygon per face with per-corner UVs and per-control-point normals.

#include <vector>

#include "attributes/KQovMesh.h"
#include "formats/geometry/3ds/Mesh3ds.h"

struct MeshImportOptions3ds {
    double scale = 1.0;        // lengths are multiplied by it
    bool smoothGroups = true;  // split vertices by smoothing group
    // Vertices as stored (no node places them), not taken into the mesh's local axes.
    bool storedPlace = false;
};

// Control points of the split: one per 3DS vertex first, then one more per
// vertex and set of faces whose smoothing masks share no bit.
class SmoothingSplit3ds {
public:
    SmoothingSplit3ds(const Mesh3ds& mesh, bool split);
    int GetControlPointCount() const { return static_cast<int>(mEntries.size()); }
    // Control point of corner vertex p of a face of smoothing mask m.
    int Find(uint16_t p, uint32_t m) const;

private:
    struct Entry {
        uint32_t mask = 0;
        int32_t next = -1;  // next entry of the same source vertex
        bool used = false;
    };
    int Match(uint16_t p, uint32_t m) const;
    std::vector<Entry> mEntries;
};

// The 3DS point (x, y, z) in scene axes: (x, z, -y).
KVector4 ScenePoint3ds(double x, double y, double z, double scale);

// Fills `mesh` (which should be empty) from the record. `faceMaterials` and
// `faceTextures` give each face's material and texture index (-1 none), or are
// empty. False when a face names a vertex the record does not have.
bool ImportMesh3ds(const Mesh3ds& record, KQovMesh& mesh, const MeshImportOptions3ds& options,
                   const std::vector<int>& faceMaterials, const std::vector<int>& faceTextures);

// Layer 1 of a mesh whose materials carry a second map: the materials, textures
// and UVs of layer 0, and per polygon the texture index of the second map in
// `faceSeconds` (-1 none), blended over layer 0 at full alpha.
void AddSecondTextureLayer3ds(KQovMesh& mesh, const std::vector<int>& faceSeconds);
