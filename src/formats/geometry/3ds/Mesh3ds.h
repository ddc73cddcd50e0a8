#pragma once
// Triangle meshes of a 3DS database: a named object (0x4000) with a triangle-mesh
// chunk (0x4100) below it, as a plain record.

#include <string>
#include <vector>

#include "formats/geometry/3ds/Settings3ds.h"

struct MatGroup3ds {
    std::string name;  // at most 16 characters
    std::vector<uint16_t> faces;
};

// Arrays of InitMesh3ds by flag bit.
enum MeshArray3ds {
    kMeshVertices3ds = 1,
    kMeshTexVerts3ds = 2,
    kMeshFaces3ds = 4,
    kMeshMatGroups3ds = 8,
    kMeshSmoothing3ds = 16,
    kMeshProcData3ds = 32,
    kMeshVertexFlags3ds = 64,
};

struct Mesh3ds {
    std::string name;  // at most 10 characters
    uint8_t flag4010 = 0, flag4011 = 0, flag4013 = 0, flag4012 = 0, flag4014 = 0, flag4017 = 0,
            flag4016 = 0;
    std::vector<Point3ds> vertices;
    std::vector<uint16_t> vertexFlags;
    std::vector<TexVert3ds> texVerts;
    uint8_t mappingPresent = 0;
    uint16_t mapType = 0;
    float mapping[21] = {1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1};
    float localAxes[12] = {};
    std::vector<Face3ds> faces;
    std::vector<uint32_t> smoothing;  // one mask per face
    uint8_t boxMapPresent = 0;
    std::string boxMap[6];  // at most 16 characters each
    uint8_t colorIndex = 0;
    std::vector<MatGroup3ds> matGroups;
    uint8_t flag4015 = 0;
    std::string procName;  // at most 12 characters
    std::vector<uint8_t> procData;
};

// Allocates or resets the record; vertices and faces get the counts, and the flag bits
// 2, 64 and 16 add texture vertices and vertex flags (one per vertex) and smoothing
// groups (one per face).
void InitMesh3ds(Context3ds& ctx, Mesh3ds** mesh, uint16_t vertexCount, uint16_t faceCount,
                 int arrays);
void ReleaseMesh3ds(Mesh3ds** mesh);
// Replaces a material group's face list by `count` zeroed entries.
void InitMatGroupFaces3ds(Context3ds& ctx, Mesh3ds* mesh, size_t group, uint16_t count);

size_t GetMeshCount3ds(Context3ds& ctx, Database3ds* database);
void GetMeshByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index, Mesh3ds** mesh);
void ReadMesh3ds(Context3ds& ctx, Chunk3ds* object, Mesh3ds** mesh);
void PutMesh3ds(Context3ds& ctx, Database3ds* database, const Mesh3ds* mesh);
uint16_t CountMaterialGroups3ds(Chunk3ds* chunk);
