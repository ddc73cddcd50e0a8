#pragma once
// The scene is Y-up, 3DS files are Z-up: conversions of positions, scalings
// and Euler rotations from the scene's axes into the file's.

#include "foundation/KMatrix.h"
#include "foundation/KTime.h"
#include "foundation/KVector4.h"

// (x, y, z) -> (x, -z, y): positions, vertices and rotation axes.
KVector4 ConvertPosition3ds(const KVector4& v);
// (x, y, z) -> (x, z, y): scaling factors.
KVector4 ConvertScaling3ds(const KVector4& v);
// Euler XYZ degrees in scene axes -> Euler XYZ degrees in file axes.
KVector4 ConvertRotation3ds(const KVector4& rXYZ);

// Frame k at 30 frames per second, whatever the global time mode.
KTime FrameTime3ds(int64_t frame);
// The last frame the key-frame code samples, and the furthest a file's range is believed
// (about ten hours): a few bytes can claim four billion frames.
constexpr int64_t kLastFrame3ds = int64_t(1) << 20;
