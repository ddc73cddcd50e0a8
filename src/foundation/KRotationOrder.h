#pragma once
// Euler rotation orders and the conversions between Euler angles (degrees)
// and rotation matrices (row-vector convention, see KMatrix.h).
//
// Order codes 0-11 are static-frame Euler sequences: the first angle's axis
// acts first. Axis triples (i, j, k), 0 = X, 1 = Y, 2 = Z:
//   0, 1: X Y Z    2, 3: X Z Y    4, 5: Y Z X    6, 7: Y X Z    8, 9: Z X Y    10, 11: Z Y X
// Codes with bit 0 clear are the sequences i, j, k; with bit 0 set the first axis
// repeats (i, j, i). Bit 1 (codes 2, 3, 6, 7, 10, 11) marks the odd permutations,
// whose angles are negated inside. Code 12 is the spheric order: a twist X about the X axis, then a
// swing of Y and Z about an axis perpendicular to X.

#include "foundation/KVector4.h"

class KMatrix;

enum {
    kRotationOrderXYZ = 0,
    kRotationOrderSpheric = 12,
    kRotationOrderCount = 13,
};

class KRotationOrder {
public:
    explicit KRotationOrder(int order = kRotationOrderXYZ) : mOrder(order) {}

    // Angles are indexed by axis: angles[0] about X, [1] about Y, [2] about Z.
    // Only the 3x3 part of the matrix is written; angles.w is untouched.
    void EulerToMatrix(KMatrix& m, const KVector4& angles) const;
    void MatrixToEuler(KVector4& angles, const KMatrix& m) const;

    int mOrder;
};

// Rotation-order enum of a node (0 "Euler XYZ", 1 "Euler XZY", 2 "Euler YZX",
// 3 "Euler YXZ", 4 "Euler ZXY", 5 "Euler ZYX", 6 "Spheric XYZ") to its order
// code: 2 x enum, the spheric one giving 12. Other values give 0.
int KRotationOrderFromNodeOrder(int nodeOrder);

// 3x3 part from Euler X, Y, Z (order code 0).
void KMatrixSetRotationXYZ(KMatrix& m, double x, double y, double z);
void KMatrixSetRotationXYZ(KMatrix& m, const KVector4& anglesXYZ);
// 3x3 part from angles given in SEQUENCE order: a0 about axis i, a1 about j,
// a2 about k (or i again). For code 12 they are X, Y, Z. A code outside 0-12 counts as 0.
void KMatrixSetRotation(KMatrix& m, double a0, double a1, double a2, int order);
void KMatrixSetRotation(KMatrix& m, const KVector4& sequenceAngles, int order);
// The same with angles indexed by axis (what KRotationOrder::EulerToMatrix does).
void KMatrixSetRotationOrdered(KMatrix& m, const KVector4& anglesXYZ, int order);

// Euler X, Y, Z of a rotation matrix (order code 0). When |m(0,2)| reaches
// 0.999999, Y is -90 or 90 and Z is 0.
void KMatrixToEulerXYZ(KVector4& out, const KMatrix& m);
// Angles in SEQUENCE order (see KMatrixSetRotation); out.w untouched.
void KMatrixToEuler(KVector4& out, const KMatrix& m, int order);
