#include "formats/geometry/3ds/Axes3ds.h"

#include "foundation/KQuaternion.h"
#include "foundation/KRotationOrder.h"

KVector4 ConvertPosition3ds(const KVector4& v) {
    return KVector4(v[0], -v[2], v[1], v[3]);
}

KVector4 ConvertScaling3ds(const KVector4& v) {
    return KVector4(v[0], v[2], v[1], v[3]);
}

KVector4 ConvertRotation3ds(const KVector4& rXYZ) {
    KMatrix m;
    KMatrixSetRotationXYZ(m, rXYZ);
    KQuaternion q;
    KQuaternionFromMatrix(q, m);
    KQuaternionToMatrix(m, KQuaternion(q[0], -q[2], q[1], q[3]));
    KVector4 out;
    KMatrixToEulerXYZ(out, m);
    return out;
}

KTime FrameTime3ds(int64_t frame) {
    KTime t;
    t.SetTime(0, 0, 0, frame, 0, KTime::eFRAMES30);
    return t;
}
