// Layer chains, neutral values and the evaluation of channel trees.

#include <algorithm>
#include <cmath>

#include "animation/KEulerContinuity.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSceneTypes.h"
#include "foundation/KMatrix.h"
#include "foundation/KQuaternion.h"
#include "foundation/KRotationOrder.h"
#include "foundation/KThreadScratch.h"

namespace {

constexpr int kMaxWarpDepth = 64;

bool IsRotationNode(int layerType, int childCount) {
    return layerType == KFCURVENODE_LAYER_EULER_ROTATION && childCount == 3;
}

double NeutralValue(int layerType, int position) {
    if (layerType == KFCURVENODE_LAYER_SCALING) return 1.0;
    if (layerType == KFCURVENODE_LAYER_QUATERNION_ROTATION && position == 3) return 1.0;
    return 0.0;
}

void Lerp4(double* out, const double* a, const double* b, double u) {
    for (int k = 0; k < 4; ++k) out[k] = a[k] + (b[k] - a[k]) * u;
}

// Repeated linear interpolation of four control points.
void Bezier4(double* out, const KVector4& p0, const KVector4& p1, const KVector4& p2,
             const KVector4& p3, double u) {
    double a[4], b[4], c[4], ab[4], bc[4];
    Lerp4(a, p0, p1, u);
    Lerp4(b, p1, p2, u);
    Lerp4(c, p2, p3, u);
    Lerp4(ab, a, b, u);
    Lerp4(bc, b, c, u);
    Lerp4(out, ab, bc, u);
}

// TCB velocity from the slopes before (a) and after (b) a key: sign 1 leaving the key,
// -1 arriving at it (the continuity then weighs the other way).
KVector4 TcbVelocity(const KFCurve& curve, int key, const KVector4& a, const KVector4& b,
                     double sign) {
    double tension = curve.KeyGetDataSlot(key, KFCURVE_DATA_0);
    double continuity = sign * curve.KeyGetDataSlot(key, KFCURVE_DATA_1);
    double bias = curve.KeyGetDataSlot(key, KFCURVE_TCB_BIAS);
    return (a * ((1 + continuity) * (1 + bias)) + b * ((1 - continuity) * (1 - bias))) *
           (0.5 * (1 - tension));
}

void AlignSign(const KVector4& reference, KVector4& q) {
    if (KVector4Dot(reference, q) < 0.0) q.Negate();
}

}  // namespace

// Layer type and chain.

void KFCurveNode::SetLayerType(int type, KFCurveNode* baseNode) {
    if (type == mLayerType) return;
    if (GetCount() == 3 && type == KFCURVENODE_LAYER_QUATERNION_ROTATION) {
        KFCurveNode* w = new KFCurveNode("W", "W", KFCurveNumberType(), 0, mLayerId);
        w->mCurve = new KFCurve;
        if (baseNode) w->mBaseLayer = baseNode;
        Add(w);
    } else if (GetCount() == 4 && mLayerType == KFCURVENODE_LAYER_QUATERNION_ROTATION &&
               type == KFCURVENODE_LAYER_EULER_ROTATION) {
        Delete(3);
    }
    mLayerType = type;
}

void KFCurveNode::SetNextLayer(KFCurveNode* layer, bool destroyOld) {
    if (layer == mNextLayer) return;
    if (destroyOld) delete mNextLayer;
    mNextLayer = layer;
    mBaseLayer->NotifyChange(KFCURVENODE_CHANGE_LAYER);
}

KFCurveNode* KFCurveNode::MakeLayer(int layerId) {
    KFCurveNode* layer = Clone(false, false, true, layerId);
    // Neutral defaults so that the new layer changes nothing; colours follow the base curves.
    if (layer->mCurve && mCurve) {
        layer->mCurve->SetValue(float(NeutralValue(mLayerType, 0)));
        layer->mCurve->SetColor(mCurve->GetColor());
    }
    for (int i = 0; i < layer->GetCount() && i < GetCount(); ++i) {
        KFCurve* curve = layer->Children()[size_t(i)]->mCurve;
        KFCurve* base = Children()[size_t(i)]->mCurve;
        if (!curve || !base) continue;
        curve->SetValue(float(NeutralValue(mLayerType, i)));
        curve->SetColor(base->GetColor());
    }
    return layer;
}

KFCurveNode* KFCurveNode::AddLayer(int layerId, bool destroyOld) {
    if (!(mFlags & KFCURVENODE_LAYERING)) return nullptr;
    KFCurveNode* layer = MakeLayer(layerId);
    SetNextLayer(layer, destroyOld);
    return layer;
}

KFCurveNode* KFCurveNode::EnsureLayer(int layerId) {
    if (!(mFlags & KFCURVENODE_LAYERING) || layerId == mLayerId) return nullptr;
    if (layerId < mLayerId) return nullptr;
    KFCurveNode* at = this;
    while (at->mNextLayer && at->mNextLayer->mLayerId < layerId) at = at->mNextLayer;
    KFCurveNode* next = at->mNextLayer;
    if (next && next->mLayerId == layerId) return next;
    KFCurveNode* layer = MakeLayer(layerId);
    layer->mNextLayer = next;
    at->mNextLayer = layer;
    mBaseLayer->NotifyChange(KFCURVENODE_CHANGE_LAYER);
    return layer;
}

KFCurveNode* KFCurveNode::FindLayer(int layerId) const {
    for (const KFCurveNode* node = this; node; node = node->mNextLayer) {
        if (node->mLayerId == layerId) return const_cast<KFCurveNode*>(node);
        if (node->mLayerId > layerId) return nullptr;
    }
    return nullptr;
}

void KFCurveNode::SyncLayersFrom(KFCurveNode* source, bool moveCurves) {
    if (!source || source == this) return;
    // Layers of one chain would be copied while they are being dropped.
    for (KFCurveNode* n = mNextLayer; n; n = n->mNextLayer)
        if (n == source) return;
    for (KFCurveNode* n = source->mNextLayer; n; n = n->mNextLayer)
        if (n == this) return;
    KFCurveNode* at = this;
    auto dropNext = [](KFCurveNode* node) {
        KFCurveNode* gone = node->mNextLayer;
        node->mNextLayer = gone->mNextLayer;
        gone->mNextLayer = nullptr;
        delete gone;
    };
    for (KFCurveNode* s = source->mNextLayer; s; s = s->mNextLayer) {
        while (at->mNextLayer && at->mNextLayer->mLayerId < s->mLayerId) dropNext(at);
        KFCurveNode* next = at->mNextLayer;
        if (!next || next->mLayerId != s->mLayerId) {
            KFCurveNode* layer = MakeLayer(s->mLayerId);
            layer->mNextLayer = next;
            at->mNextLayer = layer;
            next = layer;
        }
        next->CopyContent(s, moveCurves);
        at = next;
    }
    while (at->mNextLayer) dropNext(at);
    mBaseLayer->NotifyChange(KFCURVENODE_CHANGE_LAYER);
}

void KFCurveNode::SetQuaternionInterpolation(bool on) {
    for (KFCurveNode* node = this; node; node = node->mNextLayer)
        node->mQuaternionInterpolation = on;
    for (KFCurveNode* node = mBaseLayer; node; node = node->mNextLayer) node->InvalidateNode();
    mBaseLayer->NotifyChange(KFCURVENODE_CHANGE_LAYER);
}

void KFCurveNode::SetRotationOrder(int order) {
    for (KFCurveNode* node = this; node; node = node->mNextLayer) node->mRotationOrder = order;
}

void KFCurveNode::InvalidateNode() {
    if (mCurve) mCurve->ForgetEvaluationCache();
    mCacheTime = KTIME_INFINITE;
    mCacheState[0] = mCacheState[1] = 1;
    for (KFCurveNode* child : Children()) child->InvalidateNode();
}

void KFCurveNode::InvalidateCache(int layerId, bool wholeChain) {
    if (!(mFlags & KFCURVENODE_LAYERING)) layerId = 0;
    KFCurveNode* node = this;
    while (node && node->mLayerId < layerId) node = node->mNextLayer;
    if (!node || node->mLayerId != layerId) return;
    node->InvalidateNode();
    if (!wholeChain) return;
    std::vector<KFCurveNode*> rest;
    for (KFCurveNode* n = node->mNextLayer; n; n = n->mNextLayer) rest.push_back(n);
    for (size_t i = rest.size(); i-- > 0;) rest[i]->InvalidateNode();
}

int KFCurveNode::GetNeutralValues(double* out, int capacity) const {
    int count = (mCurve && Children().empty()) ? 1 : GetCount();
    for (int i = 0; i < count && i < capacity; ++i) out[i] = NeutralValue(mLayerType, i);
    return std::min(count, std::max(capacity, 0));
}

// Evaluation.

int KFCurveNode::ValueCount(bool layerForm) const {
    int count = mCurve ? 1 : 0;
    if (mLayerType == KFCURVENODE_LAYER_QUATERNION_ROTATION && mLayerId == 0 && !layerForm)
        return count + 3;
    if (IsRotationNode(mLayerType, GetCount())) return count + 3;
    for (const KFCurveNode* child : Children()) count += child->ValueCount(layerForm);
    return count;
}

int KFCurveNode::GetValueCount(bool layerForm) const {
    return ValueCount(layerForm);
}

bool KFCurveNode::CanUseCache() const {
    for (const KFCurveNode* child : Children()) {
        if (!child->Children().empty()) return false;
    }
    return ValueCount(false) <= 4;
}

namespace {

// The values of one evaluation go to the end of the thread's list and leave it when it is done,
// so that evaluating frame after frame takes no memory once the list is as long as a channel.
struct EvaluationValues {
    std::vector<double> values;
};

class ScratchValues {
public:
    ScratchValues() : mValues(KThreadScratch<EvaluationValues>().values), mStart(mValues.size()) {}
    ~ScratchValues() {
        mValues.resize(mStart);
        // A list grown for a huge channel tree is not kept for the rest of the thread.
        if (mStart == 0 && mValues.capacity() > 4096) std::vector<double>().swap(mValues);
    }
    ScratchValues(const ScratchValues&) = delete;
    ScratchValues& operator=(const ScratchValues&) = delete;

    std::vector<double>& List() { return mValues; }
    double* CopyOut(double* out, int capacity) const {
        const size_t n = std::min(mValues.size() - mStart, size_t(std::max(capacity, 0)));
        std::copy(mValues.begin() + long(mStart), mValues.begin() + long(mStart + n), out);
        return out + n;
    }

private:
    std::vector<double>& mValues;
    size_t mStart;
};

}  // namespace

double* KFCurveNode::Evaluate(double* out, int capacity, KTime time, int* keyHint) {
    ScratchValues values;
    EvaluateInto(values.List(), time, keyHint, true);
    return values.CopyOut(out, capacity);
}

std::vector<double> KFCurveNode::Evaluate(KTime time) {
    std::vector<double> values;
    values.reserve(size_t(ValueCount(false)));
    EvaluateInto(values, time, nullptr, true);
    return values;
}

double* KFCurveNode::EvaluateLayer(double* out, int capacity, KTime time, int layerId,
                                   int* keyHint) {
    ScratchValues values;
    EvaluateLayerInto(values.List(), time, layerId, keyHint);
    return values.CopyOut(out, capacity);
}

double* KFCurveNode::EvaluatePlain(double* out, int capacity, KTime time, int* keyHint) {
    ScratchValues values;
    EvaluatePlainInto(values.List(), time, keyHint);
    return values.CopyOut(out, capacity);
}

void KFCurveNode::EvaluatePlainInto(std::vector<double>& out, KTime time, int* keyHint) {
    if (mCurve) out.push_back(mCurve->Evaluate(time, keyHint));
    for (KFCurveNode* child : Children()) child->EvaluatePlainInto(out, time, keyHint);
}

void KFCurveNode::EvaluateInto(std::vector<double>& out, KTime time, int* keyHint, bool useCache) {
    int localHint = 0;
    if (!keyHint) keyHint = &localHint;
    // Warps of warps nest the evaluation: a file could chain any number of them.
    static thread_local int sWarpDepth = 0;
    // Inner evaluations (warp, quaternion parts, next layer) go after this one's values in
    // `out` and are taken off again once read.
    if (mTimeWarp && sWarpDepth < kMaxWarpDepth) {
        const size_t warped = out.size();
        // Counted down even when the warp throws: a depth left behind would skip warps for good.
        struct Nesting {
            Nesting() { ++sWarpDepth; }
            ~Nesting() { --sWarpDepth; }
        } nesting;
        mTimeWarp->EvaluateInto(out, time, nullptr, true);
        if (out.size() > warped) time.SetSecondDouble(out[warped]);
        out.resize(warped);
    }
    bool cacheable = useCache && mLayerId == 0 && CanUseCache();
    if (cacheable && mCacheState[1] == 2 &&
        (mCacheTime == time || (mFlags & KFCURVENODE_CACHE_ANY_TIME))) {
        int count = ValueCount(false);
        out.insert(out.end(), mCache, mCache + count);
        return;
    }
    size_t start = out.size();
    if (mCurve)
        out.push_back(useCache ? mCurve->EvaluateCached(time, keyHint)
                               : mCurve->Evaluate(time, keyHint));
    bool quaternion = mLayerType == KFCURVENODE_LAYER_QUATERNION_ROTATION && mLayerId == 0;
    KQuaternion q(0.0, 0.0, 0.0, 1.0);
    if (quaternion) {
        for (int i = 0; i < GetCount() && i < 4; ++i) {
            const size_t child = out.size();
            Children()[size_t(i)]->EvaluateInto(out, time, keyHint, useCache);
            q[i] = out.size() > child ? out[child] : 0.0;
            out.resize(child);
        }
    } else if (IsRotationNode(mLayerType, GetCount())) {
        EvaluateRotation(out, time, keyHint, useCache);
    } else {
        for (KFCurveNode* child : Children()) child->EvaluateInto(out, time, keyHint, useCache);
    }
    if (mNextLayer) {
        const size_t layer = out.size();
        mNextLayer->EvaluateInto(out, time, nullptr, useCache);
        const int layerCount = int(out.size() - layer);
        if (quaternion)
            CombineLayer(q, 4, out.data() + layer, layerCount);
        else
            CombineLayer(out.data() + start, int(layer - start), out.data() + layer, layerCount);
        out.resize(layer);
    }
    if (quaternion) {
        KMatrix m;
        KQuaternionToMatrix(m, q);
        KVector4 euler;
        KMatrixToEulerXYZ(euler, m);
        out.insert(out.end(), {euler[0], euler[1], euler[2]});
    }
    if (cacheable) {
        size_t count = std::min<size_t>(out.size() - start, 4);
        std::copy(out.begin() + long(start), out.begin() + long(start + count), mCache);
        mCacheTime = time;
        mCacheState[1] = 2;
    }
}

void KFCurveNode::CombineLayer(double* p, int pCount, const double* l, int lCount) const {
    // A node with its own curve has one value: rotations do not combine there.
    int n = mCurve ? std::min({pCount, lCount, 1}) : std::min(pCount, lCount);
    KFCurveNodeCombineValues(mLayerType, mRotationOrder, p, l, n);
}

void KFCurveNodeCombineValues(int layerType, int rotationOrder, double* a, const double* b, int n) {
    if (n <= 0) return;
    switch (layerType) {
        case KFCURVENODE_LAYER_PLAIN:
        case KFCURVENODE_LAYER_TRANSLATION:
            for (int i = 0; i < n; ++i) a[i] += b[i];
            break;
        case KFCURVENODE_LAYER_SCALING:
            for (int i = 0; i < n; ++i) a[i] *= b[i];
            break;
        case KFCURVENODE_LAYER_EULER_ROTATION: {
            if (n < 3) break;
            // b acts after a, as in live evaluation.
            KRotationOrder order(rotationOrder);
            KMatrix ma, mb, m;
            order.EulerToMatrix(ma, KVector4(a[0], a[1], a[2]));
            order.EulerToMatrix(mb, KVector4(b[0], b[1], b[2]));
            KMatrixMultiply3x3(m, mb, ma);
            KVector4 euler;
            order.MatrixToEuler(euler, m);
            for (int i = 0; i < 3; ++i) a[i] = euler[i];
            break;
        }
        case KFCURVENODE_LAYER_QUATERNION_ROTATION: {
            if (n < 4) break;
            KQuaternion qa(a[0], a[1], a[2], a[3]), qb(b[0], b[1], b[2], b[3]), r;
            KQuaternionMultiply(r, qa, qb);
            for (int i = 0; i < 4; ++i) a[i] = r[i];
            break;
        }
        default:
            break;
    }
}

void KFCurveNodeInverseValues(int layerType, int rotationOrder, double* a, int n) {
    if (n <= 0) return;
    switch (layerType) {
        case KFCURVENODE_LAYER_PLAIN:
        case KFCURVENODE_LAYER_TRANSLATION:
            for (int i = 0; i < n; ++i) a[i] = -a[i];
            break;
        case KFCURVENODE_LAYER_SCALING:
            // A zero scale has no inverse; it stays zero instead of turning infinite.
            for (int i = 0; i < n; ++i) a[i] = a[i] == 0.0 ? 0.0 : 1.0 / a[i];
            break;
        case KFCURVENODE_LAYER_EULER_ROTATION: {
            if (n < 3) break;
            KRotationOrder order(rotationOrder);
            KMatrix m, t;
            order.EulerToMatrix(m, KVector4(a[0], a[1], a[2]));
            KMatrixTranspose3x3(t, m);
            KVector4 euler;
            order.MatrixToEuler(euler, t);
            for (int i = 0; i < 3; ++i) a[i] = euler[i];
            break;
        }
        case KFCURVENODE_LAYER_QUATERNION_ROTATION:
            if (n < 4) break;
            for (int i = 0; i < 3; ++i) a[i] = -a[i];
            break;
        default:
            break;
    }
}

void KFCurveNode::EvaluateLayerInto(std::vector<double>& out, KTime time, int layerId,
                                    int* keyHint) {
    int localHint = 0;
    if (!keyHint) keyHint = &localHint;
    if (!(mFlags & KFCURVENODE_LAYERING)) layerId = 0;
    KFCurveNode* node = FindLayer(layerId);
    if (!node) return;
    if (node->mCurve) out.push_back(node->mCurve->Evaluate(time, keyHint));
    if (IsRotationNode(node->mLayerType, node->GetCount())) {
        node->EvaluateRotation(out, time, keyHint, false);
    } else {
        for (KFCurveNode* child : node->Children())
            child->EvaluateLayerInto(out, time, layerId, keyHint);
    }
}

void KFCurveNode::EvaluateRotation(std::vector<double>& out, KTime time, int* keyHint,
                                   bool useCache) {
    auto own = [&](KFCurveNode* child) {
        if (!child->mCurve) return 0.0;
        return useCache ? child->mCurve->EvaluateCached(time, keyHint)
                        : child->mCurve->Evaluate(time, keyHint);
    };
    double result[3];
    if (mQuaternionInterpolation && EvaluateRotationQuaternion(result, time)) {
        out.insert(out.end(), result, result + 3);
        if (useCache) {
            for (int i = 0; i < 3; ++i) {
                KFCurveNode* child = Children()[size_t(i)];
                if (child->mCurve) child->mCurve->ForgetEvaluationCache();
                if (mLayerId == 0) {
                    child->mCache[0] = result[i];
                    child->mCacheTime = time;
                    child->mCacheState[1] = 2;
                }
            }
        }
        return;
    }
    for (int i = 0; i < 3; ++i) out.push_back(own(Children()[size_t(i)]));
}

// Rotation between two keys of the X curve interpolated through quaternions. False when
// the segment does not qualify (the children are then evaluated as plain curves).
bool KFCurveNode::EvaluateRotationQuaternion(double result[3], KTime time) {
    KFCurve* cx = Children()[0]->mCurve;
    KFCurve* cy = Children()[1]->mCurve;
    KFCurve* cz = Children()[2]->mCurve;
    if (!cx || cx->KeyGetCount() < 2) return false;
    int hint = 0;
    KFCurveKeyPosition px = cx->KeyFindPosition(time, &hint);
    if (px.mExact) return false;
    int keys = cx->KeyGetCount();
    int lo = px.mLower, hi = px.mUpper;
    if (lo < 0 || hi < 0 || lo >= keys || hi >= keys || lo == hi) return false;
    double u = px.mFraction;
    KFCurveKeyPosition py, pz;
    if (cy) py = cy->KeyFindPosition(time, &(hint = 0));
    if (cz) pz = cz->KeyFindPosition(time, &(hint = 0));

    KTime tLo = cx->KeyGetTime(lo), tHi = cx->KeyGetTime(hi);
    bool hasPrev = lo - 1 >= 0, hasNext = hi + 1 < keys;
    KTime tPrev = hasPrev ? cx->KeyGetTime(lo - 1) : tLo * 2 - tHi;
    KTime tNext = hasNext ? cx->KeyGetTime(hi + 1) : tHi * 2 - tLo;
    double dp = (tLo - tPrev).GetSecondDouble();
    double d = (tHi - tLo).GetSecondDouble();
    double dn = (tNext - tHi).GetSecondDouble();

    KRotationOrder order(mRotationOrder);
    auto orientation = [&](KMatrix& m, KTime at, int keyHint) {
        int h = std::max(keyHint, 0);
        KVector4 angles;
        for (int i = 0; i < 3; ++i) {
            KFCurve* c = Children()[size_t(i)]->mCurve;
            angles[i] = c ? c->Evaluate(at, &h) : 0.0;
        }
        order.EulerToMatrix(m, angles);
    };
    KMatrix mPrev, mLo, mHi, mNext;
    orientation(mPrev, tPrev, lo - 1);
    orientation(mLo, tLo, lo);
    orientation(mHi, tHi, hi);
    orientation(mNext, tNext, hi + 1);
    const KMatrix r = mLo;
    for (KMatrix* m : {&mPrev, &mLo, &mHi, &mNext}) KMatrixMultiplyTransposed3x3(*m, r, *m);
    if (!hasPrev) KMatrixTranspose3x3(mPrev, mHi);
    if (!hasNext) KMatrixMultiply3x3(mNext, mHi, mHi);

    KQuaternion qa, qb, qc, qd;
    KQuaternionFromMatrix(qa, mPrev);
    KQuaternionFromMatrix(qb, mLo);
    KQuaternionFromMatrix(qc, mHi);
    KQuaternionFromMatrix(qd, mNext);
    AlignSign(qa, qb);
    AlignSign(qb, qc);
    AlignSign(qc, qd);

    KQuaternion q;
    if (cx->KeyGetInterpolation(lo) != KFCURVE_INTERPOLATION_CUBIC) {
        Lerp4(q, qb, qc, u);
    } else {
        KVector4 d1 = qb - qa, d2 = qc - qb, d3 = qd - qc;
        if (dp > 0.0) d1 /= dp;
        if (d > 0.0) d2 /= d;
        if (dn > 0.0) d3 /= dn;
        // The relative orientation of Euler X, Y, Z angles, as a quaternion.
        auto relative = [&](double x, double y, double z) {
            KMatrix m(KVector4(x, y, z));
            KMatrixMultiplyTransposed3x3(m, r, m);
            KQuaternion out;
            KQuaternionFromMatrix(out, m);
            return out;
        };
        auto keyAt = [](KFCurve* c, int index, KTime at) {
            return c && index >= 0 && index < c->KeyGetCount() && c->KeyGetTime(index) == at;
        };
        KVector4 p0 = qb, p3 = qc, p1, p2;

        uint32_t outMode = cx->KeyGetTangentMode(lo);
        if (outMode == KFCURVE_TANGENT_TCB) {
            p1 = p0 + TcbVelocity(*cx, lo, dp > 0.0 ? d1 : d2, d2, 1.0) * (d / 3.0);
        } else if (outMode & KFCURVE_TANGENT_AUTO) {
            double a[4];
            a[0] = cx->KeyGetRightAuto(lo);
            a[1] =
                (py.mLower > 0 && keyAt(cy, py.mLower, tLo)) ? cy->KeyGetRightAuto(py.mLower) : 0.0;
            a[2] =
                (pz.mLower > 0 && keyAt(cz, pz.mLower, tLo)) ? cz->KeyGetRightAuto(pz.mLower) : 0.0;
            a[3] = (a[0] + a[1] + a[2]) / 3.0;
            KVector4 v;
            for (int k = 0; k < 4; ++k) v[k] = KFCurveAutoToRightDerivative(a[k], d1[k], d2[k]);
            p1 = p0 + v * (d / 3.0);
        } else {
            KTime third = KTime(int64_t((tHi - tLo).Get() / 3));
            double bx = cx->KeyGetRightBezierValue(lo);
            double by = !cy                         ? 0.0
                        : keyAt(cy, py.mLower, tLo) ? cy->KeyGetRightBezierValue(py.mLower)
                                                    : cy->Evaluate(tLo + third);
            double bz = !cz                         ? 0.0
                        : keyAt(cz, pz.mLower, tLo) ? cz->KeyGetRightBezierValue(pz.mLower)
                                                    : cz->Evaluate(tLo + third);
            p1 = relative(bx, by, bz);
        }

        uint32_t inMode = cx->KeyGetTangentMode(hi);
        if (inMode == KFCURVE_TANGENT_TCB) {
            p2 = p3 - TcbVelocity(*cx, hi, d2, dn > 0.0 ? d3 : d2, -1.0) * (d / 3.0);
        } else if (inMode & KFCURVE_TANGENT_AUTO) {
            double a[4];
            a[0] = cx->KeyGetLeftAuto(hi);
            a[1] = (cy && py.mUpper < cy->KeyGetCount() - 1 && keyAt(cy, py.mUpper, tHi))
                       ? cy->KeyGetLeftAuto(py.mUpper)
                       : a[0];
            a[2] = (cz && pz.mUpper < cz->KeyGetCount() - 1 && keyAt(cz, pz.mUpper, tHi))
                       ? cz->KeyGetLeftAuto(pz.mUpper)
                       : a[0];
            a[3] = (a[0] + a[1] + a[2]) / 3.0;
            KVector4 v;
            for (int k = 0; k < 4; ++k) v[k] = KFCurveAutoToLeftDerivative(a[k], d2[k], d3[k]);
            p2 = p3 - v * (d / 3.0);
        } else {
            KTime third = KTime(int64_t((tHi - tLo).Get() / 3));
            double bx = cx->KeyGetLeftBezierValue(hi);
            double by = !cy                         ? 0.0
                        : keyAt(cy, py.mUpper, tHi) ? cy->KeyGetLeftBezierValue(py.mUpper)
                                                    : cy->Evaluate(tHi - third);
            double bz = !cz                         ? 0.0
                        : keyAt(cz, pz.mUpper, tHi) ? cz->KeyGetLeftBezierValue(pz.mUpper)
                                                    : cz->Evaluate(tHi - third);
            p2 = relative(bx, by, bz);
        }
        AlignSign(p0, p1);
        AlignSign(p1, p2);
        AlignSign(p2, p3);
        Bezier4(q, p0, p1, p2, p3, u);
    }

    // Back from the orientation relative to key lo: M = transpose(Mq) x R.
    KMatrix mq, mt, m;
    KQuaternionToMatrix(mq, q);
    KMatrixTranspose3x3(mt, mq);
    KMatrixMultiply3x3(m, mt, r);
    KVector4 angles;
    order.MatrixToEuler(angles, m);
    for (int i = 0; i < 3; ++i) result[i] = angles[i];
    return true;
}
