#include "attributes/KQovLimitsUtility.h"

#include <cmath>

#include "attributes/KQovGeometry.h"
#include "attributes/KQovSkeleton.h"
#include "foundation/KMatrix.h"
#include "foundation/KQuaternion.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"

namespace {

constexpr int kEulerXYZ = 0;
constexpr int kSphericXYZ = 6;

// The 3x3 part with each axis row of unit length (scaling removed).
KMatrix UnitAxes(const KMatrix& m) {
    KMatrix out;
    for (int r = 0; r < 3; ++r) {
        KVector4 row = m.GetRow(r);
        row.Normalize();
        for (int c = 0; c < 3; ++c) out[r][c] = row[c];
    }
    return out;
}

KVector4 Translation(const KMatrix& m) {
    return KVector4(m[3][0], m[3][1], m[3][2], 1.0);
}

// Euler XYZ of a x transpose(b): the rotation a relative to b.
KVector4 Relative(const KMatrix& a, const KMatrix& b) {
    KMatrix m;
    KMatrixMultiplyTransposed3x3(m, a, b);
    KVector4 angles;
    KMatrixGetEulerXYZ(angles, m);
    return angles;
}

// Child classes of the direction search: all, unattributed, markers, limbs, roots.
enum { kAll, kPlain, kMarker, kLimb, kRoot, kKinds };

int KindOf(const KQovNode& node) {
    if (!node.GetNodeAttribute()) return kPlain;
    if (node.GetAttributeOfType(KQovNodeAttribute::eMarker)) return kMarker;
    const KQovSkeleton* skeleton = node.GetSkeleton();
    if (!skeleton) return -1;
    return skeleton->GetSkeletonType() != KQovSkeleton::eRoot ? kLimb : kRoot;
}

}  // namespace

KQovLimits* KQovLimitsUtility::Limit(int index) const {
    if (!mLimits) return nullptr;
    switch (index) {
        case eTranslation: return &mLimits->translation;
        case eRotation: return &mLimits->rotation;
        case eScaling: return &mLimits->scaling;
        default: return nullptr;
    }
}

bool* KQovLimitsUtility::Active(int index) const {
    if (!mLimits) return nullptr;
    switch (index) {
        case eTranslation: return &mLimits->translationActive;
        case eRotation: return &mLimits->rotationActive;
        case eScaling: return &mLimits->scalingActive;
        default: return nullptr;
    }
}

void KQovLimitsUtility::SetAuto(int index, bool on) {
    if (index == eRotation) {
        mLimits->SetRotationActive(!on);
        if (!on && Node()) Node()->SetRotationSpaceForLimitOnly(0, true);
    } else if (bool* active = Active(index)) {
        *active = !on;
    }
}

bool KQovLimitsUtility::GetAuto(int index) const {
    const bool* active = Active(index);
    return active && !*active;
}

void KQovLimitsUtility::SetEnable(int index, bool on) {
    KQovLimits* limit = Limit(index);
    if (!limit || limit->IsActive() == on) return;
    limit->SetMinActive(on, on, on);
    limit->SetMaxActive(on, on, on);
}

bool KQovLimitsUtility::GetEnable(int index) const {
    const KQovLimits* limit = Limit(index);
    return limit && limit->IsActive();
}

void KQovLimitsUtility::SetDefault(int index, const KVector4& value) {
    if (index == eRotation) {
        if (Node()) Node()->SetPreRotation(0, value[0], value[1], value[2], value[3]);
    } else if (KQovLimits* limit = Limit(index)) {
        limit->min = limit->max = value;
    }
}

KVector4 KQovLimitsUtility::GetDefault(int index) const {
    if (index == eRotation) {
        const KVector4* pre = Node() ? Node()->GetPreRotation(0) : nullptr;
        return pre ? *pre : KVector4();
    }
    const KQovLimits* limit = Limit(index);
    return limit ? limit->min : KVector4();
}

void KQovLimitsUtility::SetMin(int index, const KVector4& value) {
    if (KQovLimits* limit = Limit(index)) limit->min = value;
}

KVector4 KQovLimitsUtility::GetMin(int index) const {
    const KQovLimits* limit = Limit(index);
    return limit ? limit->min : KVector4();
}

void KQovLimitsUtility::SetMax(int index, const KVector4& value) {
    if (KQovLimits* limit = Limit(index)) limit->max = value;
}

KVector4 KQovLimitsUtility::GetMax(int index) const {
    const KQovLimits* limit = Limit(index);
    return limit ? limit->max : KVector4();
}

void KQovLimitsUtility::SetRotationType(int type) {
    if (Node()) Node()->SetRotationOrder(0, type ? kEulerXYZ : kSphericXYZ);
}

bool KQovLimitsUtility::GetRotationType() const {
    return !IsSphericRotation();
}

bool KQovLimitsUtility::IsSphericRotation() const {
    return Node() && Node()->GetRotationOrder(0) == kSphericXYZ;
}

void KQovLimitsUtility::SetRotationAxis(const KVector4& angles) {
    if (Node()) Node()->SetPostRotation(0, angles[0], angles[1], angles[2], angles[3]);
}

KVector4 KQovLimitsUtility::GetRotationAxis() const {
    const KVector4* post = Node() ? Node()->GetPostRotation(0) : nullptr;
    return post ? *post : KVector4();
}

KVector4 KQovLimitsUtility::FarthestControlPoint(KQovNode* node) {
    KVector4 result(0.0, 0.0, 0.0, 1.0);
    const KQovGeometry* geometry = node ? node->GetGeometry() : nullptr;
    if (!geometry || geometry->GetControlPointsCount() == 0) return result;
    const KArrayVector4& points = geometry->GetControlPoints();
    double best = 0.0;
    result = KVector4();
    for (int i = 0; i < points.GetCount(); ++i) {
        const KVector4& p = points.GetArray()[i];
        const double length = KVectorLength3(p);
        if (length > best) {
            best = length;
            result = p;
        }
    }
    return result;
}

KVector4 KQovLimitsUtility::GetChildDirection(KQovNode* node) {
    if (!node) return KVector4(0.0, 0.0, 0.0, 1.0);
    double best[kKinds] = {};
    KVector4 chosen[kKinds];
    for (int i = 0; KQovNode* child = node->GetChild(i); ++i) {
        const KVector4 t = Translation(child->GetDefaultLocalMatrix());
        const double length = KVectorLength3(t);
        for (int k : {int(kAll), KindOf(*child)}) {
            if (k >= 0 && length > best[k]) {
                best[k] = length;
                chosen[k] = t;
            }
        }
    }
    for (int k : {KindOf(*node), int(kAll)}) {
        if (k >= 0 && best[k] > 0.0) return KVector4(chosen[k][0], chosen[k][1], chosen[k][2], 1.0);
    }
    return FarthestControlPoint(node);
}

void KQovLimitsUtility::ApplyAutoLimits(KQovNode* node) {
    if (!node || node != Node() || !node->GetParent()) return;
    if (mLimits->translationActive && mLimits->rotationActive && mLimits->scalingActive) return;
    const KMatrix parentGlobal = node->GetParent()->GetDefaultGlobalMatrix();
    const KMatrix global = node->GetDefaultGlobalMatrix();
    const KMatrix local = node->GetDefaultLocalMatrix();

    if (!mLimits->translationActive) mLimits->translation.min = mLimits->translation.max = Translation(local);

    if (!mLimits->rotationActive) {
        const KVector4 d = GetChildDirection(node);
        const double length = KVectorLength3(d);
        const KVector4 p = Translation(global) - Translation(parentGlobal);
        const double parentLength = KVectorLength3(p);
        const KMatrix r = UnitAxes(global);
        const KMatrix parentAxes = UnitAxes(parentGlobal);
        KMatrix frame = r;
        // Without a direction the bone keeps the node's own axes.
        if (length > 0.0) {
            KVector4 u;
            KMatrixRotateVector(u, r, d * (1.0 / length));
            bool framed = false;
            if (parentLength > 0.0) {
                const KVector4 c = (p * (1.0 / parentLength)).CrossProduct(u);
                const double cLength = KVectorLength3(c);
                if (cLength > 0.0) {
                    const KVector4 n = c * (1.0 / cLength);
                    const KVector4 rows[3] = {u, n.CrossProduct(u), n};
                    for (int row = 0; row < 3; ++row)
                        for (int col = 0; col < 3; ++col) frame[row][col] = rows[row][col];
                    framed = true;
                }
            }
            if (!framed) {
                // Shortest arc from X to u; straight back along -X is a half turn about Y.
                const KVector4 x(1.0, 0.0, 0.0, 1.0);
                const KVector4 axis = x.CrossProduct(u);
                KQuaternion q(axis[0], axis[1], axis[2], x.DotProduct(u) + KVectorLength3(u));
                if (KVector4Dot(q, q) < 1e-24) q = KQuaternion(0.0, 1.0, 0.0, 0.0);
                KQuaternionNormalize(q, q);
                KMatrix turn;
                KMatrixSetTQS(turn, KVector4(), q, KVector4(1.0, 1.0, 1.0, 1.0));
                KMatrixMultiply(frame, turn, r);  // the turn acts first
            }
        }
        const KVector4 pre = Relative(parentAxes, frame);
        const KVector4 post = Relative(r, frame);
        node->SetPreRotation(0, pre[0], pre[1], pre[2]);
        SetRotationAxis(KVector4(post[0], post[1], post[2], 1.0));
        mAxisLength = length;
        node->SetRotationOrder(0, parentLength <= 0.0 ? kSphericXYZ : kEulerXYZ);
    }

    if (!mLimits->scalingActive) {
        KVector4 s;
        KMatrixGetScaling(s, local);
        mLimits->scaling.min = mLimits->scaling.max = s;
    }
}
