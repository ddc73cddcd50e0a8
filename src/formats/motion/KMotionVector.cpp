#include "formats/motion/KMotionVector.h"

#include <cmath>

namespace {

double Dot3(const double a[4], const double b[4]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

}  // namespace

void KMotionVectorCross(double out[4], const double a[4], const double b[4]) {
    const double x = a[1] * b[2] - b[1] * a[2];
    const double y = a[2] * b[0] - a[0] * b[2];
    const double z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

void KMotionFrameCopy(KMotionFrame out, const KMotionFrame in) {
    for (int axis = 0; axis < 3; ++axis)
        for (int i = 0; i < 3; ++i) out[axis][i] = in[axis][i];
}

void KMotionFrameNormalize(KMotionFrame out, const KMotionFrame in) {
    for (int axis = 0; axis < 3; ++axis) {
        const double length = std::sqrt(Dot3(in[axis], in[axis]));
        // A zero axis has no direction: dividing would fill the frame with NaN.
        const double scale = length > 0.0 ? 1.0 / length : 1.0;
        for (int i = 0; i < 3; ++i) out[axis][i] = in[axis][i] * scale;
    }
}

void KMotionQuaternionFromXAxis(double out[4], const double v[4]) {
    const double x = v[0], y = v[1], z = v[2];
    out[0] = 0.0;
    out[1] = -z;
    out[2] = y;
    out[3] = x + 1.0;
}

void KMotionQuaternionBetween(double out[4], const double a[4], const double b[4]) {
    const double w = Dot3(a, b) + std::sqrt(Dot3(a, a)) * std::sqrt(Dot3(b, b));
    KMotionVectorCross(out, a, b);
    out[3] = w;
}
