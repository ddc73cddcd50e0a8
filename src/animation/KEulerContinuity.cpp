#include "animation/KEulerContinuity.h"

#include <cmath>

namespace {

constexpr double kOneOver360 = 1.0 / 360.0;
constexpr double kGimbalTolerance = 0.000001;

double EulerSquaredDistance(const double a[3], const double b[3]) {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum;
}

}  // namespace

double ClosestAngle(double a, double ref) {
    double whole;
    double fraction = std::modf((ref - a) * kOneOver360, &whole);
    if (fraction > 0.5)
        whole += 1.0;
    else if (fraction < -0.5)
        whole -= 1.0;
    return a + 360.0 * whole;
}

bool ClosestEquivalent(double out[3], const double value[3], const double ref[3],
                       const int row[3]) {
    const int i = row[0], j = row[1], k = row[2];
    double plain[3], flipped[3];
    plain[i] = ClosestAngle(value[i], ref[i]);
    plain[j] = ClosestAngle(value[j], ref[j]);
    plain[k] = ClosestAngle(value[k], ref[k]);
    flipped[i] = ClosestAngle(value[i] + 180.0, ref[i]);
    flipped[j] = ClosestAngle(180.0 - value[j], ref[j]);
    flipped[k] = ClosestAngle(value[k] + 180.0, ref[k]);
    bool flip = !(EulerSquaredDistance(plain, ref) < EulerSquaredDistance(flipped, ref));
    const double* chosen = flip ? flipped : plain;
    for (int n = 0; n < 3; ++n) out[n] = chosen[n];

    // In gimbal lock only the sum or the difference of the outer angles counts: share the
    // distance to the reference between them. Odd axis permutations turn the other way,
    // which swaps the two locks.
    double middle = std::fmod(std::fmod(out[j], 360.0) + 360.0, 360.0);
    const bool odd = (j - i + 3) % 3 != 1;
    if (odd) middle = std::fmod(360.0 - middle, 360.0);
    if (std::fabs(middle - 90.0) <= kGimbalTolerance) {
        double d = ((ref[k] - out[k]) + (ref[i] - out[i])) / 2.0;
        out[i] += d;
        out[k] += d;
    } else if (std::fabs(middle - 270.0) <= kGimbalTolerance) {
        double d = ((ref[i] - out[i]) - (ref[k] - out[k])) / 2.0;
        out[i] += d;
        out[k] -= d;
    }
    return flip;
}

bool KRotationOrderGetRow(int order, int row[3]) {
    static const int kRows[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 2, 0},
                                    {1, 0, 2}, {2, 0, 1}, {2, 1, 0}};
    if (order < 0 || order > 11) return false;
    for (int n = 0; n < 3; ++n) row[n] = kRows[order / 2][n];
    return true;
}

bool KRotationOrderClosestEquivalent(int order, double out[3], const double value[3],
                                     const double ref[3]) {
    int row[3];
    if (!KRotationOrderGetRow(order, row)) {
        for (int n = 0; n < 3; ++n) out[n] = value[n];
        return false;
    }
    return ClosestEquivalent(out, value, ref, row);
}
