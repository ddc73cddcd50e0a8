// Curve evaluation: key search, extrapolation, interpolation and tangent derivatives.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>

#include "animation/KFCurve.h"

namespace {

// Keys passed one by one before the search switches to bisection (keeps random access O(log n)
// while sequential evaluation stays one comparison per key).
constexpr int kLinearSteps = 8;
constexpr double kSmallDerivative = 0.00001;

bool IsAutoMode(uint32_t mode) {
    return mode == KFCURVE_TANGENT_AUTO || mode == KFCURVE_TANGENT_AUTO_BREAK;
}
bool IsUserOrBreakMode(uint32_t mode) {
    return mode == KFCURVE_TANGENT_USER || mode == KFCURVE_TANGENT_BREAK;
}

double Lerp(double a, double b, double u) {
    return a + (b - a) * u;
}

double Bezier(double p0, double p1, double p2, double p3, double u) {
    const double q0 = Lerp(p0, p1, u), q1 = Lerp(p1, p2, u), q2 = Lerp(p2, p3, u);
    return Lerp(Lerp(q0, q1, u), Lerp(q1, q2, u), u);
}

KFCurveKeyPosition ExactPosition(int index) {
    KFCurveKeyPosition position;
    position.mIndex = index;
    position.mLower = position.mUpper = index;
    position.mExact = true;
    return position;
}

double Divide(double numerator, double denominator) {
    return denominator != 0.0 ? numerator / denominator : 0.0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Weighted segments

double KFCurveBezierTimeError(float s, float rightWeight, float leftWeight, double u) {
    const float p1 = 1.0f - leftWeight;
    return Bezier(1.0, p1, rightWeight, 0.0, s) - u;
}

float KFCurveSolveSecant(KFCurveSecantFunction function, const void* data, float first,
                         float second) {
    const float firstError = static_cast<float>(function(first, data));
    const float secondError = static_cast<float>(function(second, data));
    float current = second, currentError = secondError, previous = first,
          previousError = firstError;
    if (std::fabs(firstError) < std::fabs(secondError)) {
        current = first;
        currentError = firstError;
        previous = second;
        previousError = secondError;
    }
    float result = current;
    for (int step = 0; step < 15; ++step) {
        const float denominator = currentError - previousError;
        if (denominator == 0.0f) break;  // flat: no secant step exists
        const float delta = (previous - current) * currentError / denominator;
        result = current + delta;
        previous = current;
        previousError = currentError;
        current = result;
        currentError = static_cast<float>(function(current, data));
        if (std::fabs(delta) < 1e-6f || currentError == 0.0f) break;
    }
    return result;
}

namespace {

struct TimeErrorData {
    float rightWeight, leftWeight;
    double u;
};

double TimeError(float s, const void* data) {
    const auto* d = static_cast<const TimeErrorData*>(data);
    return KFCurveBezierTimeError(s, d->rightWeight, d->leftWeight, d->u);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Auto tangents

double KFCurveAutoBlend(double a, double x, double y) {
    return ((100.0 - a) * 0.01 * y + (a + 100.0) * 0.01 * x) * 0.5;
}

double KFCurveAutoToLeftDerivative(double a, double left, double right) {
    if (a == 100.0) return left;
    if (a == -100.0) return right;
    const double sigma = left <= right ? 1.0 : -1.0;
    const double blend = KFCurveAutoBlend(a, left, right);
    if (a > 500.0) {
        const double q = (a - 500.0) * 0.002;
        return blend - sigma * 1000.0 * q * q;
    }
    if (a < -500.0) {
        const double q = (a + 500.0) * -0.002;
        return blend + sigma * 1000.0 * q * q;
    }
    return blend;
}

double KFCurveAutoToRightDerivative(double a, double left, double right) {
    const double sigma = left <= right ? 1.0 : -1.0;
    const double blend = KFCurveAutoBlend(a, right, left);
    if (a > 500.0) {
        const double q = (a - 500.0) * 0.002;
        return blend + sigma * 1000.0 * q * q;
    }
    if (a < -500.0) {
        const double q = (a + 500.0) * -0.002;
        return blend - sigma * 1000.0 * q * q;
    }
    return blend;
}

namespace {

// Solves the forward conversion of one side for the auto value giving derivative d.
double DerivativeToAuto(double d, double left, double right, bool leftSide) {
    double u = KFCurveAutoToLeftDerivative(500.0, left, right);
    double v = KFCurveAutoToRightDerivative(500.0, left, right);
    if (std::fabs(u) < kSmallDerivative) u = 0.0;
    if (std::fabs(v) < kSmallDerivative) v = 0.0;
    if (std::fabs(d) < kSmallDerivative) d = 0.0;

    enum { kLinear, kUpper, kLower } region = kLinear;
    double k = 0.0;
    if (leftSide) {
        if (left > right) {
            if (d > u)
                region = kUpper, k = 1000.0;
            else if (d < v)
                region = kLower, k = -1000.0;
        } else {
            if (d < u)
                region = kUpper, k = -1000.0;
            else if (d > v)
                region = kLower, k = 1000.0;
        }
    } else {
        if (left <= right) {
            if (d > v)
                region = kUpper, k = 1000.0;
            else if (d < u)
                region = kLower, k = -1000.0;
        } else {
            if (d < v)
                region = kUpper, k = -1000.0;
            else if (d > u)
                region = kLower, k = 1000.0;
        }
    }
    const double g = leftSide ? left - right : right - left;
    if (region == kLinear) {
        if (left == right) return 0.0;
        return (200.0 * d - 100.0 * left - 100.0 * right) / g;
    }
    const double c2 = 0.000004 * k;
    const double c0 = 0.5 * (left + right) + k - d;
    const double c1 = region == kUpper ? 0.005 * g - 0.004 * k : 0.005 * g + 0.004 * k;
    // Rounding can push a touching root's discriminant just below zero.
    const double w = std::sqrt(std::max(0.0, c1 * c1 - 4.0 * c2 * c0));
    const double r1 = (-c1 - w) / (2.0 * c2);
    const double r2 = (w - c1) / (2.0 * c2);
    return region == kUpper ? std::max(r1, r2) : std::min(r1, r2);
}

}  // namespace

double KFCurveLeftDerivativeToAuto(double derivative, double left, double right) {
    return DerivativeToAuto(derivative, left, right, true);
}

double KFCurveRightDerivativeToAuto(double derivative, double left, double right) {
    return DerivativeToAuto(derivative, left, right, false);
}

// ---------------------------------------------------------------------------------------------
// Key search

KFCurveKeyPosition KFCurve::KeyFindPosition(KTime time, int* hint) {
    if (hint == nullptr) hint = &mLastIndex;
    const int count = mKeyCount;
    if (count == 0) return KFCurveKeyPosition();
    const int start = std::clamp(*hint, 0, count - 1);
    const int64_t t = time.Get();
    const int64_t startTime = K(start).mTime.Get();
    if (t == startTime) {
        *hint = start;
        return ExactPosition(start);
    }
    int lower, upper;
    if (t > startTime) {
        // First key at or after t, past the hint.
        int j = start + 1;
        for (int n = 0; n < kLinearSteps && j < count && K(j).mTime.Get() < t; ++n) ++j;
        if (j < count && K(j).mTime.Get() < t) {
            j = FirstKeyAtOrAfter(j, count, t);
        }
        if (j >= count) {
            *hint = count;
            KFCurveKeyPosition position;
            position.mIndex = count - 0.5;
            position.mLower = count - 1;
            position.mUpper = count;
            return position;
        }
        *hint = j;
        if (K(j).mTime.Get() == t) return ExactPosition(j);
        lower = j - 1;
        upper = j;
    } else {
        // Last key at or before t, below the hint.
        int j = start - 1;
        for (int n = 0; n < kLinearSteps && j >= 0 && K(j).mTime.Get() > t; ++n) --j;
        if (j >= 0 && K(j).mTime.Get() > t) {
            j = FirstKeyAfter(0, j + 1, t) - 1;
        }
        if (j < 0) {
            *hint = 0;
            KFCurveKeyPosition position;
            position.mIndex = -0.5;
            position.mLower = -1;
            position.mUpper = 0;
            return position;
        }
        *hint = j;
        if (K(j).mTime.Get() == t) return ExactPosition(j);
        lower = j;
        upper = j + 1;
    }
    const __int128 elapsed = TickDiff(time, K(lower).mTime);
    const __int128 length = TickDiff(K(upper).mTime, K(lower).mTime);
    double fraction = 1.0;  // a segment without length (keys out of order) ends at its upper key
    if (length > 0) {
        fraction = static_cast<double>(static_cast<long double>(elapsed) /
                                       static_cast<long double>(length));
        fraction = std::clamp(fraction, 0.0, 1.0);
    }
    KFCurveKeyPosition position;
    position.mLower = lower;
    position.mUpper = upper;
    position.mFraction = fraction;
    position.mIndex = lower + fraction;
    return position;
}

KFCurveKeyPosition KFCurve::KeyFindExtrapolatedPosition(KTime time, int* hint) {
    if (hint == nullptr) hint = &mLastIndex;
    const int count = mKeyCount;
    if (count == 0) return KFCurveKeyPosition();
    const KTime firstTime = K(0).mTime, lastTime = K(count - 1).mTime;
    const __int128 span = TickDiff(lastTime, firstTime);
    const __int128 t = time.Get();
    constexpr __int128 kMin = std::numeric_limits<int64_t>::min();
    constexpr __int128 kMax = std::numeric_limits<int64_t>::max();

    if (time < firstTime) {
        if (mPreType == KFCURVE_EXTRAPOLATION_CONSTANT) {
            *hint = 0;
            return ExactPosition(0);
        }
        if (mPreType != KFCURVE_EXTRAPOLATION_REPETITION &&
            mPreType != KFCURVE_EXTRAPOLATION_MIRROR_REPETITION) {
            return KeyFindPosition(time, hint);
        }
        const __int128 t0 = firstTime.Get();
        __int128 limit = t0;
        if (span > 0) {
            limit = t0 - static_cast<__int128>(mPreCount) * span;
            if (limit < kMin) limit = t0 + ((kMin - t0) / span + 1) * span;
        }
        if (t <= limit) {
            *hint = 0;
            return ExactPosition(0);
        }
        const __int128 elapsed = t - t0;  // negative
        const __int128 k = elapsed / span;
        const __int128 offset = elapsed - k * span;  // in (-span, 0]
        __int128 mapped = lastTime.Get() + offset;
        if (mPreType == KFCURVE_EXTRAPOLATION_MIRROR_REPETITION && (-k) % 2 == 0) {
            mapped = t0 - offset;
        }
        return KeyFindPosition(KTime(static_cast<int64_t>(mapped)), hint);
    }
    if (time > lastTime) {
        if (mPostType == KFCURVE_EXTRAPOLATION_CONSTANT) {
            *hint = count - 1;
            return ExactPosition(count - 1);
        }
        if (mPostType != KFCURVE_EXTRAPOLATION_REPETITION &&
            mPostType != KFCURVE_EXTRAPOLATION_MIRROR_REPETITION) {
            return KeyFindPosition(time, hint);
        }
        const __int128 tl = lastTime.Get();
        __int128 limit = tl;
        if (span > 0) limit = std::min(tl + static_cast<__int128>(mPostCount) * span, kMax);
        if (t >= limit) {
            *hint = count - 1;
            return ExactPosition(count - 1);
        }
        const __int128 elapsed = t - tl;
        const __int128 k = elapsed / span;
        const __int128 offset = elapsed - k * span;  // in [0, span)
        __int128 mapped = firstTime.Get() + offset;
        if (mPostType == KFCURVE_EXTRAPOLATION_MIRROR_REPETITION && k % 2 == 0) {
            mapped = tl - offset;
        }
        return KeyFindPosition(KTime(static_cast<int64_t>(mapped)), hint);
    }
    return KeyFindPosition(time, hint);
}

// ---------------------------------------------------------------------------------------------
// Values

double KFCurve::SegmentSeconds(int from, int to) const {
    return ToSeconds(TickDiff(K(to).mTime, K(from).mTime));
}

double KFCurve::EvaluateSegment(int a, int b, double u) const {
    const KFCurveKey& ka = K(a);
    const KFCurveKey& kb = K(b);
    switch (ka.GetInterpolation()) {
        case KFCURVE_INTERPOLATION_CONSTANT:
            return (ka.mFlags & KFCURVE_CONSTANT_NEXT) ? kb.mValue : ka.mValue;
        case KFCURVE_INTERPOLATION_LINEAR:
            return ka.mValue + u * (static_cast<double>(kb.mValue) - ka.mValue);
        case KFCURVE_INTERPOLATION_CUBIC:
            break;
        default:
            return 0.0;
    }
    const double length = SegmentSeconds(a, b);
    if (!(ka.mFlags & KFCURVE_WEIGHTED_ALL)) {
        const float p1 = static_cast<float>(ka.mValue + KeyGetRightDerivative(a) * length / 3.0);
        const float p2 = static_cast<float>(kb.mValue - KeyGetLeftDerivative(b) * length / 3.0);
        return Bezier(ka.mValue, p1, p2, kb.mValue, u);
    }
    const float rightWeight = KeyGetRightTangentWeight(a);
    const float leftWeight = KeyGetLeftTangentWeight(b);
    const float p1 =
        static_cast<float>(ka.mValue + KeyGetRightDerivative(a) * length * rightWeight);
    const float p2 = static_cast<float>(kb.mValue - KeyGetLeftDerivative(b) * length * leftWeight);
    const TimeErrorData data{rightWeight, leftWeight, u};
    const float s = KFCurveSolveSecant(&TimeError, &data, 0.0f, 1.0f);
    return Bezier(ka.mValue, p1, p2, kb.mValue, 1.0 - static_cast<double>(s));
}

double KFCurve::EvaluateIndex(double index) const {
    const int count = mKeyCount;
    if (count == 0) return mDefaultValue;
    if (count == 1 || !(index >= 0.0)) return K(0).mValue;
    if (index > count - 1) return K(count - 1).mValue;
    const double lower = std::floor(index);
    const int a = static_cast<int>(lower);
    const int b = static_cast<int>(std::ceil(index));
    if (a == b) return K(a).mValue;
    return EvaluateSegment(a, b, index - lower);
}

double KFCurve::Evaluate(KTime time, int* hint) {
    const int count = mKeyCount;
    if (count > 1) {
        const KTime firstTime = K(0).mTime, lastTime = K(count - 1).mTime;
        const __int128 span = TickDiff(lastTime, firstTime);
        if (mPreType == KFCURVE_EXTRAPOLATION_KEEP_SLOPE && time < firstTime) {
            const double slope = KeyGetRightDerivative(0);
            __int128 elapsed = TickDiff(time, firstTime);
            if (mPreCount != KFCURVE_REPETITION_UNLIMITED) {
                elapsed = std::max(elapsed, -span * static_cast<__int128>(mPreCount));
            }
            return K(0).mValue + slope * ToSeconds(elapsed);
        }
        if (mPostType == KFCURVE_EXTRAPOLATION_KEEP_SLOPE && time > lastTime) {
            const double slope = KeyGetLeftDerivative(count - 1);
            __int128 elapsed = TickDiff(time, lastTime);
            if (mPostCount != KFCURVE_REPETITION_UNLIMITED) {
                elapsed = std::min(elapsed, span * static_cast<__int128>(mPostCount));
            }
            return K(count - 1).mValue + slope * ToSeconds(elapsed);
        }
    }
    const KFCurveKeyPosition position = KeyFindExtrapolatedPosition(time, hint);
    if (count == 0) return mDefaultValue;
    if (position.mExact) return K(position.mLower).mValue;
    if (count == 1 || position.mLower < 0) return K(0).mValue;
    if (position.mUpper > count - 1) return K(count - 1).mValue;
    return EvaluateSegment(position.mLower, position.mUpper, position.mFraction);
}

double KFCurve::EvaluateCached(KTime time, int* hint) {
    if (time != KTIME_INFINITE && time == mCacheTime) return mCacheValue;
    const float value = static_cast<float>(Evaluate(time, hint));
    SetEvaluationCache(time, value);
    return value;
}

double KFCurve::EvaluateLeftDerivative(KTime time, int* hint) {
    return EvaluateSlope(time, hint, false);
}

double KFCurve::EvaluateRightDerivative(KTime time, int* hint) {
    return EvaluateSlope(time, hint, true);
}

// Inside a segment both sides agree; they differ only at keys.
double KFCurve::EvaluateSlope(KTime time, int* hint, bool rightSide) {
    if (mKeyCount < 2) return 0.0;
    const KFCurveKeyPosition position = KeyFindPosition(time, hint);
    if (position.mLower < 0) return 0.0;
    if (position.mExact) {
        return rightSide ? KeyGetRightDerivative(position.mLower)
                         : KeyGetLeftDerivative(position.mLower);
    }
    if (position.mUpper > mKeyCount - 1) return 0.0;
    const int a = position.mLower, b = position.mUpper;
    const double u = position.mFraction;
    const KFCurveKey& ka = K(a);
    const KFCurveKey& kb = K(b);
    const double length = SegmentSeconds(a, b);
    switch (ka.GetInterpolation()) {
        case KFCURVE_INTERPOLATION_LINEAR:
            return Divide(static_cast<double>(kb.mValue) - ka.mValue, length);
        case KFCURVE_INTERPOLATION_CUBIC: {
            if (length == 0.0) return 0.0;
            const float p1 =
                static_cast<float>(ka.mValue + KeyGetRightDerivative(a) * length / 3.0);
            const float p2 = static_cast<float>(kb.mValue - KeyGetLeftDerivative(b) * length / 3.0);
            const double d0 = static_cast<double>(p1) - ka.mValue;
            const double d1 = static_cast<double>(p2) - p1;
            const double d2 = static_cast<double>(kb.mValue) - p2;
            return 3.0 * Lerp(Lerp(d0, d1, u), Lerp(d1, d2, u), u) / length;
        }
        default:
            return 0.0;
    }
}

// ---------------------------------------------------------------------------------------------
// Key derivatives

void KFCurve::KeyGetSlopes(int index, double& left, double& right) const {
    left = right = 0.0;
    const int count = mKeyCount;
    if (count < 2) return;
    if (index > 0) {
        left = Divide(K(index).mValue - K(index - 1).mValue, SegmentSeconds(index - 1, index));
    }
    if (index < count - 1) {
        right = Divide(K(index + 1).mValue - K(index).mValue, SegmentSeconds(index, index + 1));
    }
    if (index == 0) left = right;
    if (index == count - 1) right = left;
}

// TCB slope on the right of key i (0 < i < count - 1 uses both neighbours).
float KFCurve::TcbRight(int i) const {
    const KFCurveKey& key = K(i);
    const double tension = key.mData[0], continuity = key.mData[1], bias = key.mBias;
    const double next = Divide(K(i + 1).mValue - key.mValue, SegmentSeconds(i, i + 1));
    if (i == 0) return static_cast<float>((1 - tension) * (1 - continuity) * (1 - bias) * next);
    const float n = static_cast<float>(next * (1 - bias) * (1 - continuity));
    const double previous = Divide(key.mValue - K(i - 1).mValue, SegmentSeconds(i - 1, i));
    return static_cast<float>((previous * (1 + bias) * (1 + continuity) + n) * (1 - tension) * 0.5);
}

// TCB slope on the left of key i with the given parameters.
float KFCurve::TcbLeft(int i, float tension, float continuity, float bias) const {
    const double previous = Divide(K(i).mValue - K(i - 1).mValue, SegmentSeconds(i - 1, i));
    const double t = tension, c = continuity, b = bias;
    if (i == mKeyCount - 1) return static_cast<float>((1 - t) * (1 - c) * (1 + b) * previous);
    const double next = Divide(K(i + 1).mValue - K(i).mValue, SegmentSeconds(i, i + 1));
    const float n = static_cast<float>(next * (1 - b) * (1 + c));
    return static_cast<float>((previous * (1 - c) * (1 + b) + n) * (1 - t) * 0.5);
}

float KFCurve::KeyGetRightDerivative(int index) const {
    const int count = mKeyCount;
    assert(index >= 0 && index < count);
    if (count == 0 || index < 0) return 0.0f;
    if (index >= count - 1) return count > 1 ? KeyGetLeftDerivative(count - 1) : 0.0f;
    const KFCurveKey& key = K(index);
    switch (key.GetInterpolation()) {
        case KFCURVE_INTERPOLATION_LINEAR:
            return static_cast<float>(
                Divide(K(index + 1).mValue - key.mValue, SegmentSeconds(index, index + 1)));
        case KFCURVE_INTERPOLATION_CUBIC:
            break;
        default:
            return 0.0f;
    }
    const uint32_t mode = key.GetTangentMode();
    if (IsUserOrBreakMode(mode)) return key.mData[0];
    if (IsAutoMode(mode)) return static_cast<float>(KeyGetRightAutoDerivative(key.mData[0], index));
    if (mode == KFCURVE_TANGENT_TCB) return TcbRight(index);
    return 0.0f;
}

float KFCurve::KeyGetLeftDerivative(int index) const {
    const int count = mKeyCount;
    assert(index >= 0 && index < count);
    if (count == 0) return 0.0f;
    if (index <= 0) return count > 1 ? KeyGetRightDerivative(0) : 0.0f;
    if (index >= count) index = count - 1;
    const KFCurveKey& previous = K(index - 1);
    const KFCurveKey& key = K(index);
    switch (previous.GetInterpolation()) {
        case KFCURVE_INTERPOLATION_LINEAR:
            return static_cast<float>(
                Divide(key.mValue - previous.mValue, SegmentSeconds(index - 1, index)));
        case KFCURVE_INTERPOLATION_CUBIC:
            break;
        default:
            return 0.0f;
    }
    const uint32_t previousMode = previous.GetTangentMode();
    const bool previousTcb = previousMode == KFCURVE_TANGENT_TCB;
    const uint32_t interpolation = key.GetInterpolation();
    if (interpolation == KFCURVE_INTERPOLATION_LINEAR ||
        interpolation == KFCURVE_INTERPOLATION_CONSTANT) {
        if (IsUserOrBreakMode(previousMode)) return previous.mData[1];
        if (IsAutoMode(previousMode)) {
            return static_cast<float>(KeyGetLeftAutoDerivative(previous.mData[1], index));
        }
        if (previousTcb && interpolation == KFCURVE_INTERPOLATION_LINEAR) {
            return index < count - 1 ? KeyGetRightDerivative(index) : 0.0f;
        }
        return 0.0f;
    }
    if (interpolation != KFCURVE_INTERPOLATION_CUBIC) return 0.0f;
    switch (key.GetTangentMode()) {
        case KFCURVE_TANGENT_USER:
            if (previousTcb) return index < count - 1 ? key.mData[0] : 0.0f;
            return previous.mData[1];
        case KFCURVE_TANGENT_AUTO:
        case KFCURVE_TANGENT_AUTO_BREAK:
            return static_cast<float>(KeyGetLeftAutoDerivative(previous.mData[1], index));
        case KFCURVE_TANGENT_TCB:
            return TcbLeft(index, key.mData[0], key.mData[1], key.mBias);
        case KFCURVE_TANGENT_BREAK:
            if (previousTcb) {
                return TcbLeft(index, previous.mData[0], previous.mData[1], previous.mBias);
            }
            return previous.mData[1];
        default:
            return 0.0f;
    }
}

namespace {

// An auto value and a derivative convert through the key's secant slopes.
double ThroughSlopes(const KFCurve& curve, int index, double value,
                     double (*convert)(double, double, double)) {
    if (curve.KeyGetCount() == 0) return 0.0;
    double left, right;
    curve.KeyGetSlopes(index, left, right);
    return convert(value, left, right);
}

}  // namespace

double KFCurve::KeyGetLeftAutoDerivative(double autoValue, int index) const {
    return ThroughSlopes(*this, index, autoValue, KFCurveAutoToLeftDerivative);
}

double KFCurve::KeyGetRightAutoDerivative(double autoValue, int index) const {
    return ThroughSlopes(*this, index, autoValue, KFCurveAutoToRightDerivative);
}

double KFCurve::KeyGetLeftAutoFromDerivative(double derivative, int index) const {
    return ThroughSlopes(*this, index, derivative, KFCurveLeftDerivativeToAuto);
}

double KFCurve::KeyGetRightAutoFromDerivative(double derivative, int index) const {
    return ThroughSlopes(*this, index, derivative, KFCurveRightDerivativeToAuto);
}

float KFCurve::KeyGetRightAuto(int index) const {
    const KFCurveKey& key = K(index);
    if (key.IsCubic() && IsAutoMode(key.GetTangentMode())) return key.mData[0];
    if (index >= mKeyCount - 1) return 0.0f;
    return static_cast<float>(KeyGetRightAutoFromDerivative(KeyGetRightDerivative(index), index));
}

float KFCurve::KeyGetLeftAuto(int index) const {
    const KFCurveKey& key = K(index);
    const bool keyAuto = key.IsCubic() && IsAutoMode(key.GetTangentMode());
    if (index <= 0) return keyAuto ? key.mData[0] : 0.0f;
    const KFCurveKey& previous = K(index - 1);
    switch (previous.GetInterpolation()) {
        case KFCURVE_INTERPOLATION_LINEAR:
            return 100.0f;
        case KFCURVE_INTERPOLATION_CUBIC:
            if (keyAuto) return previous.mData[1];
            return static_cast<float>(
                KeyGetLeftAutoFromDerivative(KeyGetLeftDerivative(index), index));
        default:
            return 0.0f;
    }
}

// ---------------------------------------------------------------------------------------------
// Weights, velocities, Bezier values

namespace {
bool HasWeightableTangent(const KFCurveKey& key) {
    return key.IsCubic() && (key.GetTangentMode() & (KFCURVE_TANGENT_AUTO | KFCURVE_TANGENT_USER |
                                                     KFCURVE_GENERIC_BREAK)) != 0;
}
}  // namespace

bool KFCurve::KeyIsRightTangentWeighted(int index) const {
    if (index >= mKeyCount - 1) return false;
    const KFCurveKey& key = K(index);
    return HasWeightableTangent(key) && (key.mFlags & KFCURVE_WEIGHTED_RIGHT);
}

bool KFCurve::KeyIsLeftTangentWeighted(int index) const {
    return index >= 1 && (K(index - 1).mFlags & KFCURVE_WEIGHTED_NEXT_LEFT);
}

float KFCurve::KeyGetRightTangentWeight(int index) const {
    if (!KeyIsRightTangentWeighted(index)) return KFCURVE_WEIGHT_DEFAULT;
    return K(index).GetDataFloat(KFCURVE_RIGHT_WEIGHT);
}

float KFCurve::KeyGetLeftTangentWeight(int index) const {
    if (!KeyIsLeftTangentWeighted(index)) return KFCURVE_WEIGHT_DEFAULT;
    return K(index - 1).GetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT);
}

float KFCurve::KeyGetRightTangentVelocity(int index) const {
    if (index >= mKeyCount - 1) return 0.0f;
    const KFCurveKey& key = K(index);
    if (!HasWeightableTangent(key) || !(key.mFlags & KFCURVE_VELOCITY_RIGHT)) return 0.0f;
    return key.GetDataFloat(KFCURVE_RIGHT_VELOCITY);
}

float KFCurve::KeyGetLeftTangentVelocity(int index) const {
    if (index < 1 || !(K(index - 1).mFlags & KFCURVE_VELOCITY_NEXT_LEFT)) return 0.0f;
    return K(index - 1).GetDataFloat(KFCURVE_NEXT_LEFT_VELOCITY);
}

float KFCurve::KeyGetRightBezierValue(int index) const {
    const int count = mKeyCount;
    if (count == 0) return 0.0f;
    if (count == 1) return K(0).mValue;
    if (index >= count - 1) return K(count - 1).mValue;
    const KFCurveKey& key = K(index);
    const uint32_t interpolation = key.GetInterpolation();
    if (interpolation == KFCURVE_INTERPOLATION_CONSTANT) return key.mValue;
    if (interpolation != KFCURVE_INTERPOLATION_LINEAR &&
        interpolation != KFCURVE_INTERPOLATION_CUBIC) {
        return 0.0f;
    }
    return static_cast<float>(key.mValue + KeyGetRightDerivative(index) *
                                               SegmentSeconds(index, index + 1) / 3.0);
}

float KFCurve::KeyGetLeftBezierValue(int index) const {
    const int count = mKeyCount;
    if (count == 0) return 0.0f;
    if (count == 1 || index <= 0) return K(0).mValue;
    const uint32_t interpolation = K(index - 1).GetInterpolation();
    if (interpolation == KFCURVE_INTERPOLATION_CONSTANT) return K(index).mValue;
    if (interpolation != KFCURVE_INTERPOLATION_LINEAR &&
        interpolation != KFCURVE_INTERPOLATION_CUBIC) {
        return 0.0f;
    }
    return static_cast<float>(K(index).mValue -
                              KeyGetLeftDerivative(index) * SegmentSeconds(index - 1, index) / 3.0);
}

bool KFCurve::KeyIsFlat(int index) const {
    const KFCurveKey& key = K(index);
    return key.IsCubic() && (key.mFlags & KFCURVE_TANGENT_AUTO) && KeyGetLeftAuto(index) == 0.0f &&
           KeyGetRightAuto(index) == 0.0f && !KeyIsLeftTangentWeighted(index) &&
           !KeyIsRightTangentWeighted(index);
}

KFCurveKeyTangentInfo KFCurve::KeyGetRightTangentInfo(int index) const {
    KFCurveKeyTangentInfo info;
    info.mDerivative = KeyGetRightDerivative(index);
    info.mWeight = KeyGetRightTangentWeight(index);
    info.mWeighted = KeyIsRightTangentWeighted(index);
    info.mVelocity = KeyGetRightTangentVelocity(index);
    info.mHasVelocity = (K(index).mFlags & KFCURVE_VELOCITY_RIGHT) != 0;
    info.mAuto = KeyGetRightAuto(index);
    return info;
}

KFCurveKeyTangentInfo KFCurve::KeyGetLeftTangentInfo(int index) const {
    KFCurveKeyTangentInfo info;
    info.mDerivative = KeyGetLeftDerivative(index);
    info.mWeight = KeyGetLeftTangentWeight(index);
    info.mWeighted = KeyIsLeftTangentWeighted(index);
    info.mVelocity = KeyGetLeftTangentVelocity(index);
    info.mHasVelocity = index >= 1 && (K(index - 1).mFlags & KFCURVE_VELOCITY_NEXT_LEFT) != 0;
    info.mAuto = KeyGetLeftAuto(index);
    return info;
}
