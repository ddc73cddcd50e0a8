#pragma once
// Key-frame tracks and animation curves. Writing samples curves once per
// frame at 30 frames per second; reading turns a track's keys into TCB keys.

#include <vector>

#include "animation/KFCurve.h"
#include "formats/geometry/3ds/Chunk3ds.h"
#include "foundation/KQuaternion.h"
#include "foundation/KVector4.h"

// One channel to sample: its curve, or its default value when the curve is
// missing or has no keys.
struct Channel3ds {
    KFCurve* curve = nullptr;
    double value = 0.0;
    double At(int64_t frame) const;
};

// Keys 0 to count - 1 of a track stand for frames 0 to count - 1.
void FillPositionKeys3ds(Track3ds<Point3ds>& track, const Channel3ds (&xyz)[3], int count);
void FillScaleKeys3ds(Track3ds<Point3ds>& track, const Channel3ds (&xyz)[3], int count);
void FillColorKeys3ds(Track3ds<Point3ds>& track, const Channel3ds (&rgb)[3], int count);
void FillValueKeys3ds(Track3ds<float>& track, const Channel3ds& channel, int count);
// Each key holds the rotation since the key before it (the first from identity).
void FillRotationKeys3ds(Track3ds<Rotation3ds>& track, const Channel3ds (&xyz)[3], int count);
// A hide key at each of frames 0 to count - 1 where the curve's visibility (0.5 or more: seen)
// turns over, visible before frame 0; without a curve of keys, one at frame 0 when the node
// is not `visibleAtRest`.
void FillHideKeys3ds(Track3ds<NoValue3ds>& track, KFCurve* visibility, bool visibleAtRest,
                     int count);
// The channels' values at frames 0 to count - 1.
std::vector<KVector4> SampleFrames3ds(const Channel3ds (&xyz)[3], int count);
// The same tracks from values already sampled, one per frame (rotations as Euler XYZ degrees).
void FillPositionKeys3ds(Track3ds<Point3ds>& track, const std::vector<KVector4>& frames);
void FillScaleKeys3ds(Track3ds<Point3ds>& track, const std::vector<KVector4>& frames);
void FillRotationKeys3ds(Track3ds<Rotation3ds>& track, const std::vector<KVector4>& frames);

// Keys a reader takes: the first, then each whose frame passes the last taken, up to frame
// `last`; the keys past it are added to `*past`.
std::vector<size_t> RisingKeys3ds(const std::vector<KeyHeader3ds>& keys, uint32_t last = UINT32_MAX,
                                  size_t* past = nullptr);
// Scene Euler XYZ angles (degrees) of the taken rotation keys, each key
// composed with the ones before.
std::vector<KVector4> ReadRotations3ds(const Track3ds<Rotation3ds>& track,
                                       const std::vector<size_t>& taken);
// A rotation track as the file means it, in scene axes: each key turns by its angle about its
// axis from the key before (the first from no turn), the whole turn kept however large, and
// the keys are joined by a spherical spline through their tension, continuity and bias whose
// tangents take each turn the short way, as other programs evaluate these tracks.
class RotationSpline3ds {
public:
    RotationSpline3ds(const Track3ds<Rotation3ds>& track, const std::vector<size_t>& taken);
    bool Empty() const { return mKeys.empty(); }
    uint32_t FirstFrame() const { return mKeys.empty() ? 0 : mKeys.front().frame; }
    uint32_t LastFrame() const { return mKeys.empty() ? 0 : mKeys.back().frame; }
    // The rotation at a frame: the first key's before it, the last key's after.
    KQuaternion At(double frame) const;

private:
    struct Key {
        uint32_t frame;
        KQuaternion q;   // the rotation at the key
        KVector4 turn;   // from the key before: the axis times half the angle
        KQuaternion a, b;  // the spline's inner points after and before the key
        float tension, continuity, bias;
    };
    std::vector<Key> mKeys;
};
// Euler XYZ angles (degrees) of a rotation.
KVector4 EulerOf3ds(const KQuaternion& q);

// TCB keys of the taken keys on `count` curves, value i of each key on curve i.
// With `weighSpacing`, keys of uneven spacing, or whose end keys carry spline values, get the
// tangents of the file's spline instead: each weighed by the frames on its side (less the more
// continuity) where TCB keys weigh slopes, the end keys' tangents their neighbour's chord.
void SetTrackCurves3ds(KFCurve* const* curves, int count, const std::vector<KeyHeader3ds>& keys,
                       const std::vector<size_t>& taken, const std::vector<KVector4>& values,
                       bool weighSpacing = false);
