#include "animation/KFCurveFilterResample.h"

#include <memory>

#include "animation/KFCurve.h"
#include "animation/KFCurveUtilities.h"

namespace {

const char* const kResampleStatus[] = {"Bad Period", "Bad Interval"};

KTime OneFrame() {
    KTime frame;
    frame.SetTime(0, 0, 0, 1, 0);
    return frame;
}

// The first multiple of the period at or after the time (floor division, so negative
// starts align too).
KTime AlignUp(KTime time, KTime period) {
    const __int128 p = period.Get();
    __int128 q = time.Get() / p;
    if (q * p < time.Get()) ++q;
    const __int128 aligned = q * p;
    if (aligned > KTime::kInfinite) return time;
    return KTime(static_cast<int64_t>(aligned));
}

}  // namespace

KFCurveFilterResample::KFCurveFilterResample()
    : KFCurveFilter("FCurve Resample", kResampleStatus, 2),
      mAlignToPeriod(false),
      mPeriod(0),
      mKeepKeyKind(false) {
    Reset();
}

void KFCurveFilterResample::Reset() {
    mAlignToPeriod = false;
    mPeriod = OneFrame();
    mKeepKeyKind = false;
    KFCurveFilter::Reset();
}

bool KFCurveFilterResample::Apply(KFCurve& curve) {
    if (!(mPeriod > KTIME_ZERO)) {
        mError.SetErrorWithText(0, "Bad Period");
        return false;
    }
    const int count = curve.KeyGetCount();
    const KTime first = count > 0 ? curve.KeyGetTime(0) : KTIME_MINUS_INFINITE;
    const KTime last = count > 0 ? curve.KeyGetTime(count - 1) : KTIME_INFINITE;
    KTime t0 = mStart == KTIME_MINUS_INFINITE ? first : mStart;
    const KTime t1 = mStop == KTIME_INFINITE ? last : mStop;
    if (t0 == KTIME_MINUS_INFINITE || t1 == KTIME_INFINITE) {
        mError.SetErrorWithText(1, "Bad Interval");
        return false;
    }
    if (mAlignToPeriod) t0 = AlignUp(t0, mPeriod);
    if (!(t1 > t0)) {
        mError.SetErrorWithText(1, "Bad Interval");
        return false;
    }
    if (FCurveSampleCount(t0, t1, mPeriod, true) == 0) {
        // Too many samples for the span: the period is too small to use.
        mError.SetErrorWithText(0, "Bad Period");
        return false;
    }

    // Sampling leaves the curve's keys alone, so the curve is its own source.
    std::unique_ptr<KFCurve> sampled(KFCurve::Create());
    sampled->CopyFrom(curve, false);
    if (mKeepKeyKind) {
        FCurveResampleKeepKind(curve, *sampled, t0, t1, mPeriod, true);
    } else {
        FCurveResample(curve, *sampled, t0, t1, mPeriod, KFCURVE_INTERPOLATION_CUBIC,
                       KFCURVE_TANGENT_AUTO, true);
    }
    const int sampledCount = sampled->KeyGetCount();
    if (count > 0 && sampled->KeyGetTime(0) <= first &&
        sampled->KeyGetTime(sampledCount - 1) >= last) {
        curve.CopyFrom(*sampled, true);  // every key was inside the span
    } else {
        std::unique_ptr<KFCurve> original(KFCurve::Create());
        original->CopyFrom(curve, true);
        FCurveMerge(*original, *sampled, curve);
    }
    return true;
}
