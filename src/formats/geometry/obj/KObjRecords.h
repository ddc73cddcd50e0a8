#pragma once
// What an OBJ file and its MTL libraries hold, as read, before any scene object is made.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/KVector2.h"
#include "foundation/KVector4.h"

// One face corner: 0-based indices into the vertex, texture-vertex and normal lists, -1 none.
struct KObjCorner {
    int v = -1;
    int vt = -1;
    int vn = -1;
};

struct KObjFace {
    int firstCorner = 0;  // into the group's corner list
    int cornerCount = 0;
    int material = -1;  // into the material list, -1 none
    int smoothing = 0;
    bool normalsPresent = true;
    bool textured = false;
};

struct KObjGroup {
    std::string name;
    std::vector<KObjFace> faces;
    std::vector<KObjCorner> corners;
    bool allNormals = true;
    bool allTextured = true;
    bool someTextured = false;
};

// Where a map lies on the surface: its -o and -s options (u and v) and -clamp.
struct KObjMapPlacement {
    double offset[2] = {0, 0};
    double scale[2] = {1, 1};
    bool clamp = false;
    bool IsDefault() const {
        return offset[0] == 0 && offset[1] == 0 && scale[0] == 1 && scale[1] == 1 && !clamp;
    }
};

// A material named by usemtl, filled from the first library that defines it.
struct KObjMaterial {
    std::string name;  // as on the first usemtl line naming it
    bool defined = false;
    bool hasAmbient = false, hasDiffuse = false, hasSpecular = false, hasEmissive = false;
    double ambient[3] = {0, 0, 0}, diffuse[3] = {0, 0, 0}, specular[3] = {0, 0, 0};
    double emissive[3] = {0, 0, 0};
    bool hasShininess = false;
    double shininess = 0.0;  // Ns / 1000
    bool hasOpacity = false;
    double opacity = 1.0;
    int illum = 2;
    std::string diffuseMap;  // empty: no texture
    KObjMapPlacement diffusePlacement;
    std::string bumpMap;  // empty: none
    KObjMapPlacement bumpPlacement;
};

// A rational B-spline surface that fits its knots: nU x nV control points.
struct KObjSurface {
    std::string group;
    int material = -1;
    int degreeU = 0, degreeV = 0;
    double range[4] = {0, 0, 0, 0};  // s0, s1, t0, t1
    std::vector<int> points;         // vertex indices, file order
    std::vector<double> uKnots, vKnots;
    // -1 when the degree does not fit the knots (any degree a file gives, in 64 bits).
    int CountU() const { return Count(uKnots.size(), degreeU); }
    int CountV() const { return Count(vKnots.size(), degreeV); }

private:
    static int Count(size_t knots, int degree) {
        const int64_t count = int64_t(knots) - degree - 1;
        return degree < 0 || count < 0 || count > INT32_MAX ? -1 : int(count);
    }
};

// The mesh of one group: unique (vertex, normal, texture vertex) triples become control points.
struct KObjMeshData {
    std::vector<KObjCorner> pointCorners;  // the triple of each control point
    bool hasUVs = false;                   // some corner of the group names a texture vertex
    std::vector<KVector4> points;
    std::vector<KVector4> normals;  // one per control point
    std::vector<KVector2> uvs;      // one per control point, or none
    std::vector<int> polygonSizes;
    std::vector<int> polygonVertices;   // control points, polygon after polygon
    std::vector<int> polygonMaterials;  // material list index per polygon, -1 none
};
