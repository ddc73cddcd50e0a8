#pragma once
// Scene-wide settings, background, cameras and lights of a 3DS database as plain records.

#include <memory>
#include <string>
#include <vector>

#include "formats/geometry/3ds/Database3ds.h"

struct Color3ds {
    float r = 0, g = 0, b = 0;
};

struct MeshSettings3ds {
    float masterScale = 1.0f;
    float spare = 0;  // neither read nor written
    float shadowBias = 1.0f;
    float rayBias = 1.0f;
    uint16_t shadowMapSize = 512;
    float shadowFilter = 3.0f;
    Color3ds ambient{0.3f, 0.3f, 0.3f};
    Point3ds constants;
};

enum BackgroundUse3ds {
    kNoBackground3ds = 0,
    kSolidBackground3ds,
    kGradientBackground3ds,
    kBitmapBackground3ds
};

struct Background3ds {
    std::string bitmap;
    Color3ds solid;
    float gradientMid = 0.5f;
    Color3ds gradient[3];
    int use = kNoBackground3ds;
};

struct Camera3ds {
    std::string name;  // at most 10 characters
    Point3ds position;
    Point3ds target{1, 1, 1};
    float roll = 0;
    float fov = 45.0f;
    bool showCone = false;
    float nearRange = 10.0f, farRange = 1000.0f;
};

struct Spotlight3ds {
    Point3ds target{1, 1, 1};
    float hotspot = 44.0f, falloff = 45.0f;
    float roll = 0;
    float aspect = 1.0f;
    uint8_t shadowFlag = 0;
    uint32_t coneFlag = 0;
    uint8_t localShadowFlag = 0;
    float localShadowBias = 1.0f, localShadowFilter = 3.0f;
    uint16_t localShadowMapSize = 512;
    float rayBias = 1.0f;
    uint32_t flag4651 = 0;
    uint8_t flag4650 = 0, flag4652 = 0;
    uint8_t projectorFlag = 0;
    std::string projectorName;
};

struct Light3ds {
    std::string name;  // at most 10 characters
    Point3ds position;
    // The grey of the float with bits 0x3F357753 (about 0.70885).
    Color3ds color{0x1.6aeea6p-1f, 0x1.6aeea6p-1f, 0x1.6aeea6p-1f};
    float multiplier = 1.0f;
    uint8_t off = 0, attenuation = 0;
    float innerRange = 10.0f, outerRange = 100.0f;
    std::vector<std::string> excludes;
    std::unique_ptr<Spotlight3ds> spot;
};

void InitMeshSettings3ds(Context3ds& ctx, MeshSettings3ds** settings);
void ReleaseMeshSettings3ds(MeshSettings3ds** settings);
void GetMeshSettings3ds(Context3ds& ctx, Database3ds* database, MeshSettings3ds** settings);
void PutMeshSettings3ds(Context3ds& ctx, Database3ds* database, const MeshSettings3ds* settings);

void InitBackground3ds(Context3ds& ctx, Background3ds** background);
void ReleaseBackground3ds(Background3ds** background);
void GetBackground3ds(Context3ds& ctx, Database3ds* database, Background3ds** background);
void PutBackground3ds(Context3ds& ctx, Database3ds* database, const Background3ds* background);

void InitCamera3ds(Context3ds& ctx, Camera3ds** camera);
void ReleaseCamera3ds(Camera3ds** camera);
size_t GetCameraCount3ds(Context3ds& ctx, Database3ds* database);
void GetCameraByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index, Camera3ds** camera);
void ReadCamera3ds(Context3ds& ctx, Chunk3ds* object, Camera3ds** camera);
void PutCamera3ds(Context3ds& ctx, Database3ds* database, const Camera3ds* camera);

void InitLight3ds(Context3ds& ctx, Light3ds** light);
void InitSpotlight3ds(Context3ds& ctx, Light3ds** light);
void ReleaseLight3ds(Light3ds** light);
size_t GetOmnilightCount3ds(Context3ds& ctx, Database3ds* database);
void GetOmnilightByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index, Light3ds** light);
void GetSpotlightByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index, Light3ds** light);
void ReadLight3ds(Context3ds& ctx, Chunk3ds* object, Light3ds** light);
void PutLight3ds(Context3ds& ctx, Database3ds* database, const Light3ds* light);
void AddFloatChunk3ds(Context3ds& ctx, Chunk3ds* parent, uint32_t tag, float value);

// Shared by the named-object operations (cameras, lights, meshes).
// The n-th named object that has a chunk of `typeTag` below it (and, when `spot` is
// not 0, has (1) or lacks (-1) a spotlight chunk); null when there are fewer.
Chunk3ds* FindNamedObjectOfType3ds(Context3ds& ctx, Database3ds* database, uint32_t typeTag,
                                   size_t index, int spot = 0);
size_t CountNamedObjectsOfType3ds(Context3ds& ctx, Database3ds* database, uint32_t typeTag,
                                  int spot = 0);
// The named object of a name below the mesh-data chunk, emptied in place or new, with
// its name as payload; `xdata` receives a copy of the old object's XDATA chunk.
Chunk3ds* PutNamedObject3ds(Context3ds& ctx, Database3ds* database, const std::string& name,
                            Chunk3ds** xdata);
Color3ds ToColor3ds(const Point3ds& p);
Point3ds FromColor3ds(const Color3ds& c);
Color3ds ByteColor3ds(const Color24_3ds& c, float scale);
