#include "animation/KFCurveFilterTimeShiftAndScale.h"

#include "animation/KFCurve.h"

namespace {

const char* const kTimeShiftStatus[] = {"No key", "Left unchanged"};

}  // namespace

KFCurveFilterTimeShiftAndScale::KFCurveFilterTimeShiftAndScale()
    : KFCurveFilter("TimeShiftAndScaleFilter", kTimeShiftStatus, 2), mShift(0), mScale(1.0) {}

bool KFCurveFilterTimeShiftAndScale::Apply(KFCurve& curve) {
    const bool scales = mScale != 1.0 && mScale > 0.0;
    if (mShift == KTIME_ZERO && !scales) {
        mError.SetErrorWithText(1, "TimeShiftAndScaleFilter, No key were changed by filter.");
        return false;
    }
    const int count = curve.KeyGetCount();
    if (count == 0) {
        mError.SetErrorWithText(0, "TimeShiftAndScaleFilter, No key to be filtered.");
        return false;
    }
    curve.SuspendChangeNotification();
    for (int i = 0; i < count; ++i) {
        // A shift past either end stops there: wrapping round would break the key order.
        KTime time = KTimeSaturatingAdd(curve.KeyGetTime(i), mShift);
        if (scales) time.SetSecondDouble(time.GetSecondDouble() * mScale);
        curve.KeySetTime(i, time);
    }
    curve.NotifyChange(KFCURVE_EVENT_KEYS, -1);
    curve.ResumeChangeNotification();
    return true;
}
