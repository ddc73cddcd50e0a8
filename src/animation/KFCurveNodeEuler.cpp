// Euler continuity of rotation nodes, key setting over a node and span replacement.

#include <cmath>
#include <vector>

#include "animation/KEulerContinuity.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"

namespace {

// The double just above one half: offsets only move on a fraction beyond it.
constexpr double kAboveHalf = 0.5000000000000002;

bool IsEulerRotation(const KFCurveNode* node) {
    return !node->GetCurve() && node->GetCount() == 3;
}

void PlainTriple(const KFCurveNode* node, KTime time, double out[3]) {
    for (int i = 0; i < 3; ++i) {
        KFCurve* curve = node->Get(i) ? node->Get(i)->GetCurve() : nullptr;
        out[i] = curve ? curve->Evaluate(time) : 0.0;
    }
}

}  // namespace

bool KFCurveNode::GetEquivalentOffsets(double out[3], const double value[3],
                                       const double ref[3]) const {
    int row[3];
    if (!KRotationOrderGetRow(mRotationOrder, row)) {
        out[0] = out[1] = out[2] = 0.0;
        return false;
    }
    double closest[3];
    bool flipped = ClosestEquivalent(closest, value, ref, row);
    double base[3] = {value[0], value[1], value[2]};
    if (flipped) {
        base[row[0]] = value[row[0]] + 180.0;
        base[row[1]] = 180.0 - value[row[1]];
        base[row[2]] = value[row[2]] + 180.0;
    }
    for (int a = 0; a < 3; ++a) {
        double whole;
        double fraction = std::modf((ref[a] - base[a]) * (1.0 / 360.0), &whole);
        if (fraction > kAboveHalf)
            whole += 1.0;
        else if (fraction < -kAboveHalf)
            whole -= 1.0;
        out[a] = whole * 360.0 + (flipped ? 180.0 : 0.0);
    }
    return flipped;
}

KTime KFCurveNode::GetPreviousKeyTime(KTime time, const bool* mask, int maskCount) const {
    auto allowed = [&](int i) { return !mask || i >= maskCount || mask[i]; };
    bool found = false;
    KTime best;
    if (mCurve && allowed(0)) {
        int count = mCurve->KeyGetCount();
        double k = std::floor(mCurve->KeyFind(time) - 0.000001);
        if (k >= 0.0 && k < double(count) && mCurve->KeyGetTime(int(k)) < time) {
            best = mCurve->KeyGetTime(int(k));
            found = true;
        }
    }
    for (int i = 0; i < GetCount(); ++i) {
        if (!allowed(i + 1)) continue;
        KTime t = Children()[size_t(i)]->GetPreviousKeyTime(time);
        if (t < time && (!found || t > best)) {
            best = t;
            found = true;
        }
    }
    return found ? best : time;
}

void KFCurveNode::MakeContinuous(double out[3], const double value[3], KTime time) {
    if (!IsEulerRotation(this)) {
        for (int i = 0; i < 3; ++i) out[i] = value[i];
        return;
    }
    double ref[3];
    PlainTriple(this, GetPreviousKeyTime(time), ref);
    KRotationOrderClosestEquivalent(mRotationOrder, out, value, ref);
}

const double* KFCurveNode::AppendKeys(KTime time, const double* values, int count,
                                      bool continuous) {
    int used = 0;
    if (!values || count < 0) count = 0;
    if (mCurve) {
        if (used >= count) return values;
        mCurve->KeyAppendFast(time, float(values[used++]));
    }
    std::vector<double> rest(values + used, values + count);
    if (continuous && IsEulerRotation(this) && rest.size() >= 3) {
        double triple[3];
        MakeContinuous(triple, rest.data(), time);
        for (int i = 0; i < 3; ++i) rest[size_t(i)] = triple[i];
    }
    const double* cursor = rest.data();
    const double* end = rest.data() + rest.size();
    for (KFCurveNode* child : Children())
        cursor = child->AppendKeys(time, cursor, int(end - cursor), false);
    return values + used + (cursor - rest.data());
}

void KFCurveNode::Replace(KFCurveNode* source, KTime start, KTime stop, bool keepSpan,
                          bool boundaryKeys) {
    if (!source || source == this) return;
    bool sameShape = GetCount() == source->GetCount();
    if (mLayerType == KFCURVENODE_LAYER_QUATERNION_ROTATION && sameShape && GetCount() == 4) {
        // Scale the copied quaternion keys so that their length meets this node's at both ends.
        auto length = [](KFCurveNode* node, KTime at) {
            double sum = 0.0;
            for (int i = 0; i < 4; ++i) {
                KFCurve* c = node->Children()[size_t(i)]->mCurve;
                double v = c ? c->Evaluate(at) : 0.0;
                sum += v * v;
            }
            return std::sqrt(sum);
        };
        auto ratio = [](double target, double from) { return from > 0.0 ? target / from : 1.0; };
        float startScale = float(ratio(length(this, start), length(source, start)));
        float endScale = float(ratio(length(this, stop), length(source, stop)));
        for (int i = 0; i < 4; ++i) {
            KFCurve* to = Children()[size_t(i)]->mCurve;
            KFCurve* from = source->Children()[size_t(i)]->mCurve;
            if (to && from)
                to->ReplaceQuaternion(from, start, stop, startScale, endScale, keepSpan,
                                      boundaryKeys);
        }
        return;
    }
    if (mLayerType == KFCURVENODE_LAYER_EULER_ROTATION && sameShape && GetCount() == 3) {
        double mine[3], theirs[3], startOffsets[3], endOffsets[3];
        PlainTriple(this, start, mine);
        PlainTriple(source, start, theirs);
        bool startFlipped = GetEquivalentOffsets(startOffsets, theirs, mine);
        PlainTriple(this, stop, mine);
        PlainTriple(source, stop, theirs);
        bool endFlipped = GetEquivalentOffsets(endOffsets, theirs, mine);
        int row[3] = {0, 1, 2};
        KRotationOrderGetRow(mRotationOrder, row);
        for (int i = 0; i < 3; ++i) {
            KFCurve* to = Children()[size_t(i)]->mCurve;
            KFCurve* from = source->Children()[size_t(i)]->mCurve;
            if (!to || !from) continue;
            bool middle = i == row[1];
            to->ReplaceContinuous(from, start, stop, float(startOffsets[i]), float(endOffsets[i]),
                                  startFlipped && middle, endFlipped && middle, keepSpan,
                                  boundaryKeys);
        }
        return;
    }
    if (mCurve && source->mCurve && mCurve != source->mCurve)
        mCurve->Replace(source->mCurve, start, stop, keepSpan, boundaryKeys);
    if (!sameShape) return;
    for (int i = 0; i < GetCount(); ++i)
        Children()[size_t(i)]->Replace(source->Children()[size_t(i)], start, stop, keepSpan,
                                      boundaryKeys);
}
