#pragma once
// Key-frame motions of a 3DS database: object, camera, omni-light and spotlight nodes
// with their key tracks, as plain records.

#include <string>

#include "formats/geometry/3ds/Keyframe3ds.h"

// What every motion record starts with: the node header's fields and the parent name.
struct NodePart3ds {
    std::string name;    // at most 10 characters
    std::string parent;  // parent node's name, or name.instance; empty for none
    uint16_t flags1 = 0, flags2 = 0;
};

// A target node (of a camera or spotlight): its parent name and flag words.
struct TargetPart3ds {
    std::string parent;
    uint16_t flags1 = 0, flags2 = 0;
};

struct ObjectMotion3ds : NodePart3ds {
    std::string instance;  // at most 10 characters
    Point3ds pivot;
    Point3ds boundMin, boundMax;
    float morphSmooth = 24.0f;
    Track3ds<Point3ds> pos;
    Track3ds<Rotation3ds> rot;  // angle, then the axis
    Track3ds<Point3ds> scale;
    Track3ds<MorphName3ds> morph;
    Track3ds<NoValue3ds> hide;
};

struct CameraMotion3ds : NodePart3ds {
    TargetPart3ds target;
    Track3ds<Point3ds> pos;
    Track3ds<float> fov, roll;
    Track3ds<Point3ds> targetPos;
};

struct OmnilightMotion3ds : NodePart3ds {
    Track3ds<Point3ds> pos;
    Track3ds<Point3ds> color;
};

struct SpotlightMotion3ds : NodePart3ds {
    TargetPart3ds target;
    Track3ds<Point3ds> pos;
    Track3ds<Point3ds> color;
    Track3ds<float> hotspot, falloff, roll;
    Track3ds<Point3ds> targetPos;
};

// A count of 0 leaves that track as it is; any other count gives it that many keys
// with zeroed headers and default values.
void InitObjectMotion3ds(Context3ds& ctx, ObjectMotion3ds** motion, uint32_t pos, uint32_t rot,
                         uint32_t scale, uint32_t morph, uint32_t hide);
void InitCameraMotion3ds(Context3ds& ctx, CameraMotion3ds** motion, uint32_t pos, uint32_t fov,
                         uint32_t roll, uint32_t target);
void InitOmnilightMotion3ds(Context3ds& ctx, OmnilightMotion3ds** motion, uint32_t pos,
                            uint32_t color);
void InitSpotlightMotion3ds(Context3ds& ctx, SpotlightMotion3ds** motion, uint32_t pos,
                            uint32_t color, uint32_t hotspot, uint32_t falloff, uint32_t roll,
                            uint32_t target);
void ReleaseObjectMotion3ds(ObjectMotion3ds** motion);
void ReleaseCameraMotion3ds(CameraMotion3ds** motion);
void ReleaseOmnilightMotion3ds(OmnilightMotion3ds** motion);
void ReleaseSpotlightMotion3ds(SpotlightMotion3ds** motion);

size_t GetObjectNodeCount3ds(Context3ds& ctx, Database3ds* database);
size_t GetCameraNodeCount3ds(Context3ds& ctx, Database3ds* database);
size_t GetOmnilightNodeCount3ds(Context3ds& ctx, Database3ds* database);

void GetObjectMotionByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                               ObjectMotion3ds** motion);
void GetCameraMotionByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                               CameraMotion3ds** motion);
void GetOmnilightMotionByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                                  OmnilightMotion3ds** motion);
void GetSpotlightMotionByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                                  SpotlightMotion3ds** motion);
// The target node read with the index-th camera (0xB003) or spotlight (0xB007) node; null for
// none.
Chunk3ds* FindTargetNodeByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                                   uint32_t tag);

void GetObjectMotion3ds(Context3ds& ctx, Chunk3ds* node, ObjectMotion3ds** motion);
void GetCameraMotion3ds(Context3ds& ctx, Chunk3ds* node, Chunk3ds* target,
                        CameraMotion3ds** motion);
void GetOmnilightMotion3ds(Context3ds& ctx, Chunk3ds* node, OmnilightMotion3ds** motion);
void GetSpotlightMotion3ds(Context3ds& ctx, Chunk3ds* node, Chunk3ds* target,
                           SpotlightMotion3ds** motion);

void PutObjectMotion3ds(Context3ds& ctx, Database3ds* database, const ObjectMotion3ds* motion);
void PutCameraMotion3ds(Context3ds& ctx, Database3ds* database, const CameraMotion3ds* motion);
void PutOmnilightMotion3ds(Context3ds& ctx, Database3ds* database,
                           const OmnilightMotion3ds* motion);
void PutSpotlightMotion3ds(Context3ds& ctx, Database3ds* database,
                           const SpotlightMotion3ds* motion);
