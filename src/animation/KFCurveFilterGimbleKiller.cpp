#include "animation/KFCurveFilterGimbleKiller.h"

#include <algorithm>
#include <memory>

#include "animation/KEulerContinuity.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveFilterKeySync.h"
#include "animation/KFCurveNode.h"
#include "foundation/KMatrix.h"
#include "foundation/KQuaternion.h"
#include "foundation/KRotationOrder.h"

namespace {

const char* const kGimbleKillerStatus[] = {"No key", "Left unchanged", "Not 3 curve",
                                           "Not rotation node"};
const char* const kAxisNames[3] = {"X", "Y", "Z"};

constexpr double kJumpThreshold = 75.0;                  // squared Euler distance, degrees
constexpr double kSmallestStep = 0.0008333333333333334;  // seconds
constexpr int kRoomStep = 250;
// Keys far apart in time whose Euler triples stay far apart (near gimbal lock) would
// otherwise be split at every 1/1200 s; past this many inserted keys the key is written.
constexpr int kMaxInsertedPerKey = 2400;

// The three output curves, written from index 0 on.
class Output {
public:
    Output(KFCurve* const source[3], int room) : mRoom(room) {
        for (int a = 0; a < 3; ++a) {
            mCurves[a].reset(KFCurve::Create());
            mCurves[a]->CopyFrom(*source[a], false);
            mCurves[a]->PrepareKeys(mRoom);
        }
    }

    void CopyKey(KFCurve* const source[3], int sourceIndex) {
        Grow();
        for (int a = 0; a < 3; ++a) *mCurves[a]->KeyGet(mCount) = *source[a]->KeyGet(sourceIndex);
        ++mCount;
    }

    void Write(const KTime time[3], const double value[3]) {
        Grow();
        for (int a = 0; a < 3; ++a) {
            mCurves[a]->KeySet(mCount, time[a], static_cast<float>(value[a]),
                               KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0.0f, 0.0f,
                               KFCURVE_WEIGHTED_NONE, KFCURVE_WEIGHT_DEFAULT,
                               KFCURVE_WEIGHT_DEFAULT, 0.0f, 0.0f);
        }
        ++mCount;
    }

    KFCurve* Commit(int axis) {
        mCurves[axis]->CommitKeys(mCount);
        return mCurves[axis].release();
    }

private:
    void Grow() {
        if (mCount < mRoom) return;
        mRoom = std::max(mRoom + kRoomStep, mRoom * 2);
        for (auto& curve : mCurves) curve->ResizeKeyBuffer(mRoom);
    }

    std::unique_ptr<KFCurve> mCurves[3];
    int mRoom;
    int mCount = 0;
};

double SquaredDistance(const double a[3], const double b[3]) {
    double d[3];
    KVectorSubtract(d, a, b, 3);
    return KVectorSquaredLength(d, 3);
}

void ToMatrix(KMatrix& m, const KRotationOrder& order, const double angles[3]) {
    order.EulerToMatrix(m, KVector4(angles[0], angles[1], angles[2]));
}

}  // namespace

void KVectorSubtract(double* out, const double* a, const double* b, int n) {
    for (int i = 0; i < n; ++i) out[i] = a[i] - b[i];
}

double KVectorSquaredLength(const double* v, int n) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += v[i] * v[i];
    return sum;
}

KFCurveFilterGimbleKiller::KFCurveFilterGimbleKiller()
    : KFCurveFilter("Gimble Killer", kGimbleKillerStatus, 4), mKeySync(true) {
    KFCurveFilter::Reset();
}

void KFCurveFilterGimbleKiller::Reset() {
    mKeySync = true;
    KFCurveFilter::Reset();
}

bool KFCurveFilterGimbleKiller::Apply(KFCurve&) {
    mError.SetError(2);
    return false;
}

bool KFCurveFilterGimbleKiller::Apply(KFCurve** curves, int count) {
    if (count != 3 || !curves || !curves[0] || !curves[1] || !curves[2]) {
        mError.SetErrorWithText(2, "Need 3 KFCurve to apply a gimble killer filter.");
        return false;
    }
    return ApplyRotationCurves(curves[0], curves[1], curves[2]);
}

bool KFCurveFilterGimbleKiller::Apply(KFCurveNode& node, bool) {
    if (node.GetCount() != 3) {
        mError.SetErrorWithText(2, "Gimble Killer. ioCurveNode does not have 3 childs.");
        return false;
    }
    if (node.GetLayerType() != KFCURVENODE_LAYER_EULER_ROTATION) {
        mError.SetErrorWithText(3, "Gimble Killer. Not a Rotation node!");
        return false;
    }
    // The curves are read from the children named X, Y, Z and written back to the same.
    int childIndex[3];
    KFCurve* source[3];
    for (int a = 0; a < 3; ++a) {
        childIndex[a] = node.FindIndexByName(kAxisNames[a]);
        KFCurveNode* child = node.Get(childIndex[a]);
        source[a] = child ? child->GetCurve() : nullptr;
        if (!source[a]) {
            mError.SetErrorWithText(2, "Need 3 KFCurve to apply a gimble killer filter.");
            return false;
        }
    }
    if (source[0]->KeyGetCount() == 0) {
        mError.SetError(0);
        return false;
    }
    // Synchronised copies: a node refused below keeps its curves as they were, and the
    // repair replaces the keys of the span anyway.
    std::unique_ptr<KFCurve> synced[3];
    if (mKeySync) {
        KFCurveFilterKeySync sync;
        sync.SetStart(mStart);
        sync.SetStop(mStop);
        if (sync.NeedApply(source, 3)) {
            for (int a = 0; a < 3; ++a) {
                synced[a].reset(source[a]->Clone());
                source[a] = synced[a].get();
            }
            sync.Apply(source, 3);
        }
    }
    const int n = source[0]->KeyGetCount();
    if (source[1]->KeyGetCount() != n || source[2]->KeyGetCount() != n) {
        mError.SetErrorWithText(2, "Need 3 KFCurve to apply a gimble killer filter.");
        return false;
    }

    const KRotationOrder order(node.GetRotationOrder());
    const bool spheric = order.mOrder == kRotationOrderSpheric;
    const int i0 = GetStartKeyIndex(*source[0]);
    Output output(source, n - i0);
    output.CopyKey(source, i0);
    double prev[3];
    for (int a = 0; a < 3; ++a) prev[a] = source[a]->KeyGetValue(i0);
    double tPrev = source[0]->KeyGetTime(i0).GetSecondDouble();

    for (int k = i0 + 1; k < n; ++k) {
        double cur[3];
        for (int a = 0; a < 3; ++a) cur[a] = source[a]->KeyGetValue(k);
        const double tCur = source[0]->KeyGetTime(k).GetSecondDouble();
        const KTime keyTimes[3] = {source[0]->KeyGetTime(k), source[1]->KeyGetTime(k),
                                   source[2]->KeyGetTime(k)};
        for (int inserted = 0;; ++inserted) {
            if (!spheric) {
                double closest[3];
                KRotationOrderClosestEquivalent(order.mOrder, closest, cur, prev);
                std::copy(closest, closest + 3, cur);
            }
            if (SquaredDistance(cur, prev) < kJumpThreshold || tCur - tPrev < kSmallestStep ||
                inserted >= kMaxInsertedPerKey) {
                output.Write(keyTimes, cur);
                std::copy(cur, cur + 3, prev);
                tPrev = tCur;
                break;
            }
            // An intermediate key on the shortest rotation from prev (s = 0) to cur (s = 1).
            KMatrix from;
            KMatrix to;
            ToMatrix(from, order, prev);
            ToMatrix(to, order, cur);
            KMatrix relative;
            KMatrixMultiplyTransposed3x3(relative, to, from);
            KQuaternion q;
            KQuaternionFromMatrix(q, relative);
            double s = 0.5;
            double mid[3];
            double tMid;
            for (;;) {
                tMid = (1.0 - s) * tPrev + s * tCur;
                KQuaternion partial(s * q[0], s * q[1], s * q[2], s * q[3] + (1.0 - s));
                KMatrix step;
                KQuaternionToMatrix(step, partial);
                KMatrix rotation;
                KMatrixMultiply3x3(rotation, step, from);
                KVector4 angles;
                order.MatrixToEuler(angles, rotation);
                double raw[3] = {angles[0], angles[1], angles[2]};
                if (spheric) {
                    std::copy(raw, raw + 3, mid);
                } else {
                    KRotationOrderClosestEquivalent(order.mOrder, mid, raw, prev);
                }
                if (!(SquaredDistance(mid, prev) >= kJumpThreshold &&
                      tMid - tPrev >= kSmallestStep)) {
                    break;
                }
                s *= 0.5;
            }
            KTime midTime;
            midTime.SetSecondDouble(tMid);
            const KTime midTimes[3] = {midTime, midTime, midTime};
            output.Write(midTimes, mid);
            std::copy(mid, mid + 3, prev);
            tPrev = tMid;
        }
    }

    std::unique_ptr<KFCurveNode> copy(node.Clone(true, false, false));
    for (int a = 0; a < 3; ++a) copy->Get(childIndex[a])->SetCurve(output.Commit(a), true);
    node.Replace(copy.get(), mStart, mStop);
    return true;
}
