#pragma once
// Vector helpers of the motion formats, on plain doubles. A vector is stored in four doubles
// (the fourth not read); a frame is three such vectors, its axes.

using KMotionFrame = double[3][4];

// out = a x b; out may be a or b.
void KMotionVectorCross(double out[4], const double a[4], const double b[4]);
void KMotionFrameCopy(KMotionFrame out, const KMotionFrame in);
// Each axis divided by its length; an axis of length 0 is left as it is.
void KMotionFrameNormalize(KMotionFrame out, const KMotionFrame in);
// (x, y, z, w) = (0, -v.z, v.y, v.x + 1): normalised, it turns the X axis onto the unit
// vector v (v opposite to X is the caller's case).
void KMotionQuaternionFromXAxis(double out[4], const double v[4]);
// x, y, z = a x b and w = a.b + |a||b|: unnormalised, it turns a onto b.
void KMotionQuaternionBetween(double out[4], const double a[4], const double b[4]);
