#include "animation/KFCurveUtilities.h"

#include <cmath>

#include "animation/KFCurve.h"

namespace {

bool IsUserTangent(uint32_t mode) {
    return mode == KFCURVE_TANGENT_USER || mode == KFCURVE_TANGENT_BREAK;
}

void SetSample(KFCurve& target, int index, KTime time, double value, uint32_t interpolation,
               uint32_t tangentMode, float data0, float data1) {
    target.KeySet(index, time, static_cast<float>(value), interpolation, tangentMode, data0, data1,
                  KFCURVE_WEIGHTED_NONE, KFCURVE_WEIGHT_DEFAULT, KFCURVE_WEIGHT_DEFAULT, 0.0f,
                  0.0f);
}

// Calls sample(index, time) for every sample time; returns the count, 0 when refused.
template <typename Sample>
int SampleTimes(KFCurve& target, KTime start, KTime stop, KTime period, bool addStopKey,
                Sample sample) {
    const int64_t total = FCurveSampleCount(start, stop, period, addStopKey);
    if (total == 0) return 0;
    const int count = static_cast<int>(total);
    const int64_t regular = (stop - start) / period + 1;
    target.KeyClear();
    target.PrepareKeys(count);
    KTime time = start;
    for (int i = 0; i < regular; ++i, time += period) sample(i, time);
    if (regular < total) sample(count - 1, stop);
    target.CommitKeys(count);
    return count;
}

}  // namespace

int64_t FCurveSampleCount(KTime start, KTime stop, KTime period, bool addStopKey) {
    if (!(stop > start) || !(period > KTIME_ZERO)) return 0;
    // The span in ticks may not fit in 64 bits: divide in 128.
    const __int128 span = static_cast<__int128>(stop.Get()) - start.Get();
    const __int128 quotient = span / period.Get();
    const __int128 remainder = span % period.Get();
    const __int128 total = quotient + 1 + ((addStopKey && remainder > 0) ? 1 : 0);
    if (total > kFCurveMaxSampleCount) return 0;
    return static_cast<int64_t>(total);
}

bool FCurveKeyStatistics(const KFCurve& curve, int counts[7]) {
    for (int i = 0; i < 7; ++i) counts[i] = 0;
    for (int i = 0; i < curve.KeyGetCount(); ++i) {
        switch (curve.KeyGetInterpolation(i)) {
            case KFCURVE_INTERPOLATION_CONSTANT:
                ++counts[0];
                break;
            case KFCURVE_INTERPOLATION_LINEAR:
                ++counts[1];
                break;
            case KFCURVE_INTERPOLATION_CUBIC:
                switch (curve.KeyGetTangentMode(i)) {
                    case KFCURVE_TANGENT_AUTO:
                        ++counts[2];
                        break;
                    case KFCURVE_TANGENT_AUTO_BREAK:
                        ++counts[3];
                        break;
                    case KFCURVE_TANGENT_USER:
                        ++counts[4];
                        break;
                    case KFCURVE_TANGENT_BREAK:
                        ++counts[5];
                        break;
                    case KFCURVE_TANGENT_TCB:
                        ++counts[6];
                        break;
                    default:
                        break;
                }
                break;
            default:
                break;
        }
    }
    return true;
}

bool FCurveResample(KFCurve& source, KFCurve& target, KTime start, KTime stop, KTime period,
                    int interpolation, int tangentMode, bool addStopKey) {
    int hint = 0;
    return SampleTimes(target, start, stop, period, addStopKey, [&](int i, KTime t) {
               SetSample(target, i, t, source.Evaluate(t, &hint),
                         static_cast<uint32_t>(interpolation), static_cast<uint32_t>(tangentMode),
                         0.0f, 0.0f);
           }) > 0;
}

bool FCurveResampleKeepKind(KFCurve& source, KFCurve& target, KTime start, KTime stop, KTime period,
                            bool addStopKey) {
    int hint = 0;
    return SampleTimes(target, start, stop, period, addStopKey, [&](int i, KTime t) {
               const double index = source.KeyFind(t, &hint);
               const double value = source.Evaluate(t, &hint);
               uint32_t interpolation = KFCURVE_INTERPOLATION_CUBIC;
               uint32_t mode = KFCURVE_TANGENT_AUTO;
               float data0 = 0.0f;
               float data1 = 0.0f;
               if (index >= 0.0 && index <= source.KeyGetCount() - 1) {
                   const int k = static_cast<int>(index);
                   interpolation = source.KeyGetInterpolation(k);
                   mode = source.KeyGetTangentMode(k);
                   if (interpolation == KFCURVE_INTERPOLATION_CUBIC) {
                       if (IsUserTangent(mode)) {
                           data0 = static_cast<float>(source.EvaluateLeftDerivative(t, &hint));
                           data1 = static_cast<float>(source.EvaluateRightDerivative(t, &hint));
                       } else if (mode == KFCURVE_TANGENT_TCB) {
                           mode = KFCURVE_TANGENT_AUTO;
                       }
                   }
               }
               SetSample(target, i, t, value, interpolation, mode, data0, data1);
           }) > 0;
}

void FCurveMerge(KFCurve& base, KFCurve& rewritten, KFCurve& target) {
    if (&target == &base || &target == &rewritten) return;
    const int na = base.KeyGetCount();
    const int nb = rewritten.KeyGetCount();
    if (na == 0) {
        if (nb != 0) target.CopyFrom(rewritten, true);
        return;
    }
    if (nb == 0) {
        target.CopyFrom(base, true);
        return;
    }
    const KTime b0 = rewritten.KeyGetTime(0);
    const KTime bN = rewritten.KeyGetTime(nb - 1);
    if (b0 <= base.KeyGetTime(0) && bN >= base.KeyGetTime(na - 1)) {
        target.CopyFrom(rewritten, true);
        return;
    }
    const int c = static_cast<int>(std::ceil(base.KeyFind(b0)));
    const int f = static_cast<int>(std::floor(base.KeyFind(bN)));
    const int total = na + (c - f + nb) - 1;
    target.KeyClear();
    target.PrepareKeys(total);
    int out = 0;
    for (int i = 0; i < c; ++i) *target.KeyGet(out++) = *base.KeyGet(i);
    for (int i = 0; i < nb; ++i) *target.KeyGet(out++) = *rewritten.KeyGet(i);
    for (int i = f + 1; i < na; ++i) *target.KeyGet(out++) = *base.KeyGet(i);

    // The base's slopes at the seams keep the curve smooth where the stretch joins.
    if (c - 1 >= 0 && c < na && base.KeyGetInterpolation(c - 1) == KFCURVE_INTERPOLATION_CUBIC &&
        IsUserTangent(base.KeyGetTangentMode(c - 1))) {
        target.KeyGet(c - 1)->SetDataFloat(KFCURVE_DATA_1,
                                           static_cast<float>(base.EvaluateLeftDerivative(b0)));
    }
    if (f >= 0 && f < na - 1 && base.KeyGetInterpolation(f) == KFCURVE_INTERPOLATION_CUBIC &&
        IsUserTangent(base.KeyGetTangentMode(f))) {
        KFCurveKey* last = target.KeyGet(c + nb - 1);
        last->SetInterpolation(KFCURVE_INTERPOLATION_CUBIC);
        last->SetTangentMode(KFCURVE_TANGENT_BREAK);
        last->SetDataFloat(KFCURVE_DATA_0, static_cast<float>(base.EvaluateRightDerivative(bN)));
        last->SetDataFloat(KFCURVE_DATA_1, base.KeyGetDataFloat(f, KFCURVE_DATA_1));
    }
    target.CommitKeys(total);
}
