#include "foundation/KQuaternion.h"

#include <cmath>

#include "foundation/KMatrix.h"

void KQuaternionNormalize(KQuaternion& out, const KQuaternion& q) {
    const double length = std::sqrt(KVector4Dot(q, q));
    if (!(length > 0.0)) {
        out = q;
        return;
    }
    const double f = 1.0 / length;
    for (int i = 0; i < 4; ++i) out.mData[i] = q.mData[i] * f;
}

void KQuaternionMultiply(KQuaternion& out, const KQuaternion& a, const KQuaternion& b) {
    const double ax = a.mData[0], ay = a.mData[1], az = a.mData[2], aw = a.mData[3];
    const double bx = b.mData[0], by = b.mData[1], bz = b.mData[2], bw = b.mData[3];
    out.mData[0] = aw * bx + ax * bw + ay * bz - az * by;
    out.mData[1] = aw * by + ay * bw + az * bx - ax * bz;
    out.mData[2] = aw * bz + az * bw + ax * by - ay * bx;
    out.mData[3] = aw * bw - ax * bx - ay * by - az * bz;
}

void KQuaternionFromMatrix(KQuaternion& out, const KMatrix& m) {
    const auto& d = m.mData;
    const double s = (d[0][0] + d[1][1] + d[2][2] + 1.0) / 4.0;
    if (s > 1e-10) {
        const double w = std::sqrt(s);
        out.Set((d[1][2] - d[2][1]) * 0.25 / w, (d[2][0] - d[0][2]) * 0.25 / w,
                (d[0][1] - d[1][0]) * 0.25 / w, w);
        return;
    }
    // Near a half turn w is tiny but not always negligible: dividing by it loses
    // every digit, and dropping it is wrong when the axis is near the YZ plane.
    // Start from the largest of x, y, z instead.
    const double squares[3] = {(1.0 + d[0][0] - d[1][1] - d[2][2]) / 4.0,
                               (1.0 - d[0][0] + d[1][1] - d[2][2]) / 4.0,
                               (1.0 - d[0][0] - d[1][1] + d[2][2]) / 4.0};
    int big = 0;
    if (squares[1] > squares[big]) big = 1;
    if (squares[2] > squares[big]) big = 2;
    if (!(squares[big] > 0.0)) {
        out.Set(0.0, 0.0, 1.0, 0.0);  // not a rotation
        return;
    }
    double q[4];  // x, y, z, w
    const double v = std::sqrt(squares[big]);
    const double f = 0.25 / v;
    q[big] = v;
    const int a = (big + 1) % 3, b = (big + 2) % 3;
    q[a] = (d[big][a] + d[a][big]) * f;
    q[b] = (d[big][b] + d[b][big]) * f;
    q[3] = (d[a][b] - d[b][a]) * f;
    // Same sign rule as above and for exact half turns: w >= 0, then x, y, z.
    bool flip = false;
    const int signOrder[4] = {3, 0, 1, 2};
    for (int n : signOrder) {
        if (q[n] != 0.0) {
            flip = q[n] < 0.0;
            break;
        }
    }
    if (flip)
        for (double& c : q) c = -c;
    out.Set(q[0], q[1], q[2], q[3]);
}

void KQuaternionToMatrix(KMatrix& m, const KQuaternion& q) {
    const double x = q.mData[0], y = q.mData[1], z = q.mData[2], w = q.mData[3];
    const double n = x * x + y * y + z * z + w * w;
    const double s = n > 0.0 ? 2.0 / n : 0.0;
    const double xx = x * x * s, xy = x * y * s, xz = x * z * s;
    const double yy = y * y * s, yz = y * z * s, zz = z * z * s;
    const double wx = w * x * s, wy = w * y * s, wz = w * z * s;
    auto& d = m.mData;
    d[0][0] = 1.0 - yy - zz;
    d[0][1] = xy + wz;
    d[0][2] = xz - wy;
    d[1][0] = xy - wz;
    d[1][1] = 1.0 - xx - zz;
    d[1][2] = yz + wx;
    d[2][0] = xz + wy;
    d[2][1] = yz - wx;
    d[2][2] = 1.0 - xx - yy;
}

void KQuaternionGetYAxis(KVector4& out, const KQuaternion& q) {
    const double x = q.mData[0], y = q.mData[1], z = q.mData[2], w = q.mData[3];
    const double ax = 2.0 * (x * y - z * w);
    const double ay = 2.0 * (0.5 - x * x - z * z);
    const double az = 2.0 * (y * z + w * x);
    out.mData[0] = ax;
    out.mData[1] = ay;
    out.mData[2] = az;
}
