#include "animation/KFCurveFilterMatrixConverter.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveFilterConstantKeyReducer.h"
#include "animation/KFCurveFilterResample.h"
#include "animation/KFCurveFilterUnroll.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSceneTypes.h"
#include "animation/KFCurveUtilities.h"
#include "foundation/KRotationOrder.h"

namespace {

const char* const kMatrixConverterStatus[] = {
    "No key", "Left unchanged",
    "Invalid Apply method.  Use KFCurveFilterMatrixConverter::Apply(KFCurveNode&, bool)",
    ("Missing at least a transform KFCurve.  pCurveNode must possess T(x, y, z), R(x, y, z), S(x, "
     "y, z) KFCurves")};

constexpr double kIdentityTolerance = 1e-6;

enum { kT = 0, kR = 1, kS = 2 };

const char* const kChannelNames[3] = {"T", "R", "S"};
const char* const kMatrixAxisNames[3] = {"X", "Y", "Z"};

bool IsIdentity(const KMatrix& m) {
    static const KMatrix identity;
    return KMatrixCompareAffine(m, identity, kIdentityTolerance) == 0;
}

// m <- step x m: the step acts before everything composed so far.
void Then(KMatrix& m, const KMatrix& step) {
    KMatrixMultiply(m, step, m);
}

KMatrix Translation(const KVector4& t) {
    KMatrix m;
    for (int c = 0; c < 3; ++c) m[3][c] = t[c];
    return m;
}

KMatrix Scaling(const KVector4& s) {
    KMatrix m;
    for (int c = 0; c < 3; ++c) m[c][c] = s[c];
    return m;
}

KMatrix Inverse(const KMatrix& m) {
    KMatrix inverse;
    KMatrixInverseOrthogonal(inverse, m);
    return inverse;
}

// The transform channel nodes and their X, Y, Z children.
struct Channels {
    KFCurveNode* mNode[3] = {nullptr, nullptr, nullptr};
    KFCurveNode* mAxis[3][3] = {};
    KFCurve* mCurve[3][3] = {};
};

KFCurveNode* FindChannel(KFCurveNode& node, int channel) {
    if (KFCurveNode* found = node.Find(kChannelNames[channel])) return found;
    const KDataType* type = channel == kT   ? KFCurveLclTranslationType()
                            : channel == kR ? KFCurveLclRotationType()
                                            : KFCurveLclScalingType();
    return type ? node.FindOfType(type) : nullptr;
}

bool FindChannels(KFCurveNode& node, Channels& out) {
    for (int c = 0; c < 3; ++c) {
        out.mNode[c] = FindChannel(node, c);
        if (!out.mNode[c]) return false;
        for (int a = 0; a < 3; ++a) {
            out.mAxis[c][a] = out.mNode[c]->Find(kMatrixAxisNames[a]);
            out.mCurve[c][a] = out.mAxis[c][a] ? out.mAxis[c][a]->GetCurve() : nullptr;
            if (!out.mCurve[c][a]) return false;
        }
    }
    return true;
}

// The three values of a channel at a time: the node's own evaluation (layers and rotation
// interpolation included) when it gives exactly X, Y, Z, else the three curves.
KVector4 EvaluateChannel(const Channels& channels, int c, KTime t) {
    KFCurveNode* node = channels.mNode[c];
    KVector4 out;
    if (node->GetValueCount() == 3 && !node->GetCurve()) {
        double values[3];
        node->Evaluate(values, 3, t);
        out.Set(values[0], values[1], values[2], 0.0);
        return out;
    }
    for (int a = 0; a < 3; ++a) out[a] = channels.mCurve[c][a]->Evaluate(t);
    return out;
}

struct KeyKind {
    uint32_t mInterpolation = KFCURVE_INTERPOLATION_CUBIC;
    uint32_t mTangentMode = KFCURVE_TANGENT_AUTO;
};

KeyKind KindAt(KFCurve& curve, KTime t) {
    KeyKind kind;
    if (curve.KeyGetCount() == 0) return kind;
    const int k = static_cast<int>(curve.KeyFind(t));
    if (k < 0 || k >= curve.KeyGetCount()) return kind;
    kind.mInterpolation = curve.KeyGetInterpolation(k);
    const uint32_t mode = curve.KeyGetTangentMode(k);
    if (mode == KFCURVE_TANGENT_AUTO || mode == KFCURVE_TANGENT_AUTO_BREAK ||
        mode == KFCURVE_TANGENT_TCB || mode == KFCURVE_TANGENT_USER ||
        mode == KFCURVE_TANGENT_BREAK) {
        kind.mTangentMode = mode;
    }
    return kind;
}

}  // namespace

void KFCurveFilterMatrixConverter::MatrixSet::Reset() {
    for (int i = 0; i < kMatrixCount; ++i) {
        KMatrixSetIdentity(mMatrix[i]);
        mIsIdentity[i] = true;
    }
    mAllIdentity = true;
}

KFCurveFilterMatrixConverter::KFCurveFilterMatrixConverter()
    : KFCurveFilter("FCurve Matrix Converter", kMatrixConverterStatus, 4),
      mPeriod(0),
      mSourceOrder(0),
      mTargetOrder(0) {
    Reset();
}

void KFCurveFilterMatrixConverter::Reset() {
    mSource.Reset();
    mTarget.Reset();
    mAlignToPeriod = true;
    mApplyUnroll = true;
    mApplyConstantKeyReducer = true;
    mSampleAtStop = true;
    mConvertTranslation = true;
    KFCurveFilter::Reset();
}

void KFCurveFilterMatrixConverter::SetSourceMatrix(int index, const KMatrix& matrix) {
    if (index < 0 || index >= kMatrixCount) return;
    KMatrixCopyAffine(mSource.mMatrix[index], matrix);
    mSource.mIsIdentity[index] = IsIdentity(mSource.mMatrix[index]);
    mSource.mAllIdentity = std::all_of(mSource.mIsIdentity, mSource.mIsIdentity + kMatrixCount,
                                       [](bool identity) { return identity; });
}

void KFCurveFilterMatrixConverter::SetSourceRotationOrder(int nodeOrder) {
    mSourceOrder = KRotationOrderFromNodeOrder(nodeOrder);
}

void KFCurveFilterMatrixConverter::SetDestinationRotationOrder(int nodeOrder) {
    mTargetOrder = KRotationOrderFromNodeOrder(nodeOrder);
}

bool KFCurveFilterMatrixConverter::RefuseMethod() {
    mError.SetErrorWithText(2, "MatrixConverter, invalid apply method.");
    return false;
}

bool KFCurveFilterMatrixConverter::Apply(KFCurve&) {
    return RefuseMethod();
}

bool KFCurveFilterMatrixConverter::Apply(KFCurve**, int) {
    return RefuseMethod();
}

void KFCurveFilterMatrixConverter::ConvertSample(KVector4& t, KVector4& r, KVector4& s) {
    const KMatrix* src = mSource.mMatrix;
    auto has = [this](int k) { return !mSource.mIsIdentity[k]; };
    KMatrix rotation;
    KRotationOrder(mSourceOrder).EulerToMatrix(rotation, r);

    KMatrix m = src[0];
    if (has(1)) Then(m, src[1]);
    Then(m, Translation(t));
    if (has(2)) Then(m, src[2]);
    if (has(8)) {
        KMatrix p = has(3) ? src[3] : has(9) ? src[9] : KMatrix();
        Then(p, rotation);
        if (has(4)) {
            Then(p, src[4]);
        } else if (has(10)) {
            Then(p, src[10]);
        }
        Then(p, src[8]);
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) p[row][col] = row == col ? 1.0 : 0.0;
        }
        Then(m, p);
        mConvertTranslation = true;
    }
    if (has(11)) Then(m, src[11]);
    if (has(3)) Then(m, src[3]);
    Then(m, rotation);
    if (has(4)) Then(m, src[4]);
    if (has(11)) {
        Then(m, Inverse(src[11]));
        mConvertTranslation = true;
    }
    if (has(12)) Then(m, src[12]);
    if (has(5)) Then(m, src[5]);
    Then(m, Scaling(s));
    if (has(6)) Then(m, src[6]);
    if (has(12)) {
        Then(m, Inverse(src[12]));
        mConvertTranslation = true;
    }
    if (has(7)) Then(m, src[7]);

    KMatrixGetScaling(s, m);
    KMatrixGetEulerXYZ(r, m);  // divides each axis row by its signed scaling
    for (int c = 0; c < 3; ++c) t[c] = m[3][c];
    if (mTargetOrder != 0) {
        KMatrix xyz(r[0], r[1], r[2]);
        KRotationOrder(mTargetOrder).MatrixToEuler(r, xyz);
    }
}

bool KFCurveFilterMatrixConverter::Convert(KFCurveNode& node) {
    Channels channels;
    if (!FindChannels(node, channels)) {
        mError.SetErrorWithText(3, "MatrixConverter, Missing curve.");
        return false;
    }
    bool anyKey = false;
    KTime first = KTIME_INFINITE;
    KTime last = KTIME_MINUS_INFINITE;
    for (auto& row : channels.mCurve) {
        for (KFCurve* curve : row) {
            const int count = curve->KeyGetCount();
            if (count == 0) continue;
            anyKey = true;
            first = std::min(first, curve->KeyGetTime(0));
            last = std::max(last, curve->KeyGetTime(count - 1));
        }
    }
    // Sampling span and key count, settled before anything changes.
    const KTime tEnd = std::min(mStop, last);
    KTime tStart = std::min(std::max(mStart, first), tEnd);
    KTime epsilon;
    int loopCount = 0;
    if (anyKey) {
        if (!(mPeriod > KTIME_ZERO)) {
            mError.SetErrorWithText(1, "MatrixConverter, No key were changed by filter.");
            return false;
        }
        if (mAlignToPeriod) tStart = KTime((tStart.Get() / mPeriod.Get()) * mPeriod.Get());
        epsilon.SetSecondDouble(0.025 * mPeriod.GetSecondDouble());
        // Samples tStart + i x period while they are before tEnd - epsilon.
        const __int128 limit = static_cast<__int128>(tEnd.Get()) - epsilon.Get();
        const __int128 span = limit - tStart.Get();
        const __int128 samples = span > 0 ? (span + mPeriod.Get() - 1) / mPeriod.Get() : 0;
        if (samples + 1 > kFCurveMaxSampleCount) {
            mError.SetErrorWithText(1, "MatrixConverter, No key were changed by filter.");
            return false;
        }
        loopCount = static_cast<int>(samples);
    }

    std::unique_ptr<KFCurve> output[3][3];
    for (int c = 0; c < 3; ++c) {
        for (int a = 0; a < 3; ++a) {
            output[c][a].reset(KFCurve::Create());
            output[c][a]->CopyFrom(*channels.mCurve[c][a], false);
        }
    }

    // Default values.
    KVector4 values[3];
    for (int c = 0; c < 3; ++c) {
        for (int a = 0; a < 3; ++a) values[c][a] = channels.mCurve[c][a]->GetValue();
    }
    ConvertSample(values[kT], values[kR], values[kS]);
    for (int c = 0; c < 3; ++c) {
        for (int a = 0; a < 3; ++a) output[c][a]->SetValue(static_cast<float>(values[c][a]));
    }

    if (anyKey) {
        const int total = loopCount + 1;
        for (auto& row : output) {
            for (auto& curve : row) curve->PrepareKeys(total);
        }
        auto sample = [&](int i, KTime t) {
            KeyKind kinds[3][3];
            for (int c = 0; c < 3; ++c) {
                values[c] = EvaluateChannel(channels, c, t);
                for (int a = 0; a < 3; ++a) kinds[c][a] = KindAt(*channels.mCurve[c][a], t);
            }
            ConvertSample(values[kT], values[kR], values[kS]);
            for (int c = 0; c < 3; ++c) {
                for (int a = 0; a < 3; ++a) {
                    KFCurve& curve = *output[c][a];
                    curve.KeySet(i, t, static_cast<float>(values[c][a]),
                                 KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0.0f, 0.0f,
                                 KFCURVE_WEIGHTED_NONE, KFCURVE_WEIGHT_DEFAULT,
                                 KFCURVE_WEIGHT_DEFAULT, 0.0f, 0.0f);
                    curve.KeySetInterpolation(i, kinds[c][a].mInterpolation);
                    curve.KeySetTangentMode(i, kinds[c][a].mTangentMode);
                }
            }
        };
        KTime t = tStart;
        for (int i = 0; i < loopCount; ++i, t += mPeriod) sample(i, t);
        sample(loopCount, mSampleAtStop ? tEnd : t);
        for (auto& row : output) {
            for (auto& curve : row) curve->CommitKeys(total);
        }
    }

    for (int c = 0; c < 3; ++c) {
        if (c == kT && !mConvertTranslation) continue;
        for (int a = 0; a < 3; ++a) channels.mAxis[c][a]->ReplaceCurve(output[c][a].release());
    }
    return true;  // curves not attached are destroyed with their holders
}

bool KFCurveFilterMatrixConverter::Apply(KFCurveNode& node, bool) {
    bool result;
    bool same = true;
    for (int i = 0; i < kMatrixCount && same; ++i) {
        same =
            KMatrixCompareAffine(mSource.mMatrix[i], mTarget.mMatrix[i], kIdentityTolerance) == 0;
    }
    if (same) {
        mError.SetErrorWithText(1, "MatrixConverter, No key were changed by filter.");
        result = false;
    } else {
        auto invertTargets = [this] {
            if (mTarget.mAllIdentity) return;
            for (int i = 0; i < kMatrixCount; ++i) {
                if (!mTarget.mIsIdentity[i]) {
                    KMatrix inverse;
                    KMatrixInverseOrthogonal(inverse, mTarget.mMatrix[i]);
                    mTarget.mMatrix[i] = inverse;
                }
            }
        };
        invertTargets();
        result = Convert(node);
        invertTargets();
    }

    KFCurveNode* rotation = node.Find("R");
    if (mApplyUnroll && rotation) {
        KFCurveFilterUnroll unroll;
        unroll.Apply(*rotation, true);
        KFCurveFilterResample resample;
        resample.SetKeepKeyKind(true);
        resample.SetPeriod(mPeriod);
        resample.SetAlignToPeriod(mAlignToPeriod);
        resample.Apply(*rotation, true);
    }
    if (mApplyConstantKeyReducer) {
        KFCurveFilterConstantKeyReducer reducer;
        reducer.Apply(node, true);
    }
    return result;
}
