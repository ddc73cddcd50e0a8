// Key editing: adding, inserting and removing keys, tangent setters, value scaling and
// the replacement of a time span by another curve's keys.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "animation/KFCurve.h"

namespace {

constexpr float kOffsetEpsilon = 1e-7f;
const KTime kOneTick(1);

bool IsAuto(uint32_t mode) {
    return mode == KFCURVE_TANGENT_AUTO || mode == KFCURVE_TANGENT_AUTO_BREAK;
}
bool IsUserOrBreak(uint32_t mode) {
    return mode == KFCURVE_TANGENT_USER || mode == KFCURVE_TANGENT_BREAK;
}

// A key made by the library: cubic auto, auto values 0, unweighted.
KFCurveKey LibraryKey(KTime time, float value) {
    KFCurveKey key;
    key.Set(time, value, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0.0f, 0.0f,
            KFCURVE_WEIGHTED_NONE, KFCURVE_WEIGHT_DEFAULT, KFCURVE_WEIGHT_DEFAULT, 0.0f, 0.0f);
    return key;
}

void NegateTangents(KFCurveKey& key) {
    if (!IsUserOrBreak(key.GetTangentMode())) return;
    key.SetDataFloat(KFCURVE_DATA_0, -key.GetDataFloat(KFCURVE_DATA_0));
    key.SetDataFloat(KFCURVE_DATA_1, -key.GetDataFloat(KFCURVE_DATA_1));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Adding and replacing

void KFCurve::OpenSlot(int index) {
    // Keys before the slot keep their place; the ones after it shift up by one.
    const size_t count = static_cast<size_t>(mKeyCount);
    mKeys.Reserve(count + 1);
    mKeys.MoveBackward(static_cast<size_t>(index), count, count + 1);
    mKeys[static_cast<size_t>(index)] = KFCurveKey();
    ++mKeyCount;
}

void KFCurve::CloseSlots(int first, int count) {
    mKeys.MoveForward(static_cast<size_t>(first + count), static_cast<size_t>(mKeyCount),
                      static_cast<size_t>(first));
    mKeyCount -= count;
}

int KFCurve::KeyAdd(KTime time, const KFCurveKey& source, int* hint) {
    if (hint == nullptr) hint = &mLastIndex;
    // The record may be one of this curve's own keys, which the insertion moves.
    const KFCurveKey key = source;
    int index = 0;
    if (mKeyCount > 0) {
        const KFCurveKeyPosition position = KeyFindPosition(time, hint);
        if (position.mExact) {
            KFCurveKey replacement = key;
            replacement.mTime = time;
            KeyReplace(position.mLower, replacement);
            return position.mLower;
        }
        index = position.mUpper;
    }
    OpenSlot(index);
    K(index) = key;
    K(index).mTime = time;
    *hint = index;
    ForgetEvaluationCache();
    ++mChangeCounter;
    NotifyChange(KFCURVE_EVENT_KEYS, index);
    return index;
}

int KFCurve::KeyReplace(int index, const KFCurveKey& key) {
    assert(index >= 0 && index < mKeyCount);
    if (index < 0 || index >= mKeyCount) return 1;
    if (index > 0 && key.mTime.Get() <= K(index - 1).mTime.Get()) return 1;
    if (index < mKeyCount - 1 && key.mTime.Get() >= K(index + 1).mTime.Get()) return 1;
    K(index) = key;
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEYS, index);
    return 0;
}

int KFCurve::KeyReplaceFrom(int index, const KFCurve& other, int otherIndex) {
    return KeyReplace(index, *other.KeyGet(otherIndex));
}

int KFCurve::KeyAppendFast(KTime time, float value) {
    const int index = mKeyCount;
    OpenSlot(index);
    K(index) = LibraryKey(time, value);
    ForgetEvaluationCache();
    ++mChangeCounter;
    return index;
}

int KFCurve::KeyAddEvaluated(KTime time, int* hint) {
    const float value = static_cast<float>(Evaluate(time, hint));
    return KeyAdd(time, LibraryKey(time, value), hint);
}

int KFCurve::KeyInsert(KTime time, int* hint) {
    if (hint == nullptr) hint = &mLastIndex;
    if (mKeyCount == 0) {
        KeyAddEvaluated(time, hint);
        return 0;
    }
    const KFCurveKeyPosition position = KeyFindPosition(time, hint);
    if (position.mExact) return position.mLower;
    // The new key goes to mUpper (count after the last key); its predecessor gives the kind.
    const KFCurveKey& predecessor = K(std::max(position.mUpper - 1, 0));
    const uint32_t interpolation = predecessor.GetInterpolation();
    const uint32_t mode = predecessor.GetTangentMode();
    const float value = static_cast<float>(EvaluateCached(time, hint));
    return InsertKeyAt(time, value, hint, interpolation, mode, false, true, 0.0);
}

int KFCurve::KeyInsertAtCache(int* hint, uint32_t interpolation, uint32_t tangentMode,
                              bool autoBreak, bool retype, KTime time, double window) {
    if (time != KTIME_INFINITE) mCacheTime = time;
    if (mCacheTime == KTIME_INFINITE) return 1;
    InsertKeyAt(mCacheTime, mCacheValue, hint, interpolation, tangentMode, autoBreak, retype,
                window);
    return 0;
}

// Inserts (or updates) the key at t with value v so that the neighbours keep the tangents
// facing it and the new key follows the curve's slopes at t. Returns the key's index.
int KFCurve::InsertKeyAt(KTime t, float v, int* hint, uint32_t interpolation, uint32_t tangentMode,
                         bool autoBreak, bool retype, double window) {
    if (hint == nullptr) hint = &mLastIndex;
    const bool cubic = interpolation == KFCURVE_INTERPOLATION_CUBIC;
    auto build = [&](KFCurveKey& key, bool newKey) {
        if (!cubic || tangentMode != KFCURVE_TANGENT_TCB) {
            uint32_t mode = tangentMode;
            float data0 = 0.0f;
            if (newKey && cubic && tangentMode == KFCURVE_TANGENT_AUTO && autoBreak) {
                mode = KFCURVE_TANGENT_AUTO_BREAK;
                data0 = 100.0f;
            }
            key.Set(t, v, interpolation, mode, data0, 0.0f, KFCURVE_WEIGHTED_NONE,
                    KFCURVE_WEIGHT_DEFAULT, KFCURVE_WEIGHT_DEFAULT, 0.0f, 0.0f);
        } else {
            key.SetTCB(t, v, 0.0f, autoBreak ? -1.0f : 0.0f, 0.0f);
        }
    };
    if (mKeyCount == 0) {
        KFCurveKey key;
        build(key, true);
        return KeyAdd(t, key, hint);
    }

    const KFCurveKeyPosition position = KeyFindPosition(t, &mLastIndex);
    int a = position.mLower, b = position.mUpper;
    if (window != 0.0 && std::isfinite(window)) {
        // Snap to a key within the window (in key-index units).
        const double x = position.mIndex;
        a = static_cast<int>(std::clamp(std::floor(x + window), -1.0, mKeyCount - 1.0));
        b = static_cast<int>(std::clamp(std::ceil(x - window), 0.0, double(mKeyCount)));
        if (a > b) a = b = std::clamp(static_cast<int>(std::lround(x)), 0, mKeyCount - 1);
    }
    int e = -1;
    if (a == b) {
        e = a;
        a = e - 1;
        b = e + 1;
    }
    KFCurveKeyTangentInfo rightOfA, leftOfB;
    if (a >= 0) rightOfA = KeyGetRightTangentInfo(a);
    if (b < mKeyCount) leftOfB = KeyGetLeftTangentInfo(b);
    // Outside the keys the curve is flat: the old last (first) key faces the new key with
    // slope 0.
    if (e < 0 && a == mKeyCount - 1) rightOfA.mDerivative = 0.0f;
    if (e < 0 && b == 0) leftOfB.mDerivative = 0.0f;

    KFCurveKeyTangentInfo left, right;
    if (e >= 0) {
        left = KeyGetLeftTangentInfo(e);
        right = KeyGetRightTangentInfo(e);
        if (retype) {
            build(K(e), false);
        } else {
            K(e).mValue = v;
            K(e).mTime = t;
        }
        ForgetEvaluationCache();
        NotifyChange(KFCURVE_EVENT_KEYS, e);
    } else {
        left.mDerivative = static_cast<float>(EvaluateLeftDerivative(t));
        right.mDerivative = static_cast<float>(EvaluateRightDerivative(t));
        KFCurveKey key;
        build(key, true);
        e = KeyAdd(t, key, hint);
        b = e + 1;
    }

    if (autoBreak) {
        left.mDerivative = right.mDerivative = 0.0f;
        left.mAuto = right.mAuto = 100.0f;
        if (cubic) {
            KFCurveKey& key = K(e);
            if (tangentMode == KFCURVE_TANGENT_AUTO) {
                key.SetTangentMode(KFCURVE_TANGENT_AUTO_BREAK);
            } else if (tangentMode == KFCURVE_TANGENT_USER) {
                key.SetTangentMode(KFCURVE_TANGENT_USER);
            } else if (tangentMode == KFCURVE_TANGENT_TCB) {
                key.SetTCB(key.mTime, key.mValue, 0.0f, -1.0f, 0.0f);
            }
        }
    }

    KeySetLeftTangentInfo(e, left);
    KeySetRightTangentInfo(e, right);
    if (a >= 0) KeySetRightTangentInfo(a, rightOfA);
    if (b < mKeyCount) RestoreLeftTangentInfo(b, leftOfB);
    return e;
}

// Gives key i back the left side it had. Only that side: the left setters of a user key also
// set its right side, which differs from the left one after a linear or constant key.
void KFCurve::RestoreLeftTangentInfo(int index, const KFCurveKeyTangentInfo& info) {
    if (index < 1 || index >= mKeyCount) return;
    const float right = K(index).mData[0];
    KeySetLeftTangentInfo(index, info);
    K(index).mData[0] = right;
}

// ---------------------------------------------------------------------------------------------
// Removing

int KFCurve::KeyRemoveAt(int index) {
    if (index < 0 || index >= mKeyCount) return 1;
    if (mKeyCount == 1) mDefaultValue = K(0).mValue;
    const bool follower = index < mKeyCount - 1;
    KFCurveKeyTangentInfo info;
    if (follower) info = KeyGetLeftTangentInfo(index + 1);
    CloseSlots(index, 1);
    ForgetEvaluationCache();
    if (follower) RestoreLeftTangentInfo(index, info);
    NotifyChange(KFCURVE_EVENT_KEYS, index - 1);
    return 0;
}

bool KFCurve::KeyRemove(int first, int last) {
    if (mKeyCount == 0) return false;
    first = std::max(first, 0);
    last = std::min(last, mKeyCount - 1);
    if (first > last) return true;
    if (first == last) {
        KeyRemoveAt(first);
        return true;
    }
    if (first == 0 && last == mKeyCount - 1) {
        const float firstValue = K(0).mValue;
        KeyClear();
        mDefaultValue = firstValue;
        NotifyChange(KFCURVE_EVENT_DEFAULT_VALUE, -1);
        ++mChangeCounter;
        return true;
    }
    KFCurveKeyTangentInfo info;
    if (last + 1 < mKeyCount) info = KeyGetLeftTangentInfo(last + 1);
    CloseSlots(first, last - first + 1);
    ForgetEvaluationCache();
    RestoreLeftTangentInfo(first, info);
    NotifyChange(KFCURVE_EVENT_KEYS, -1);
    return true;
}

// Infinite ends are open: a key at the smallest or largest time goes too.
void KFCurve::KeyRemoveSpan(KTime start, KTime stop) {
    if (mKeyCount == 0) return;
    int first = 0;
    if (start > KTIME_MINUS_INFINITE) {
        int hint = 0;
        const KFCurveKeyPosition position = KeyFindPosition(start, &hint);
        first = position.mExact ? position.mLower + 1 : position.mUpper;
    }
    int last = mKeyCount - 1;
    if (stop != KTIME_INFINITE) {
        int hint = mKeyCount - 1;
        const KFCurveKeyPosition position = KeyFindPosition(stop, &hint);
        last = position.mExact ? position.mLower - 1 : position.mLower;
    }
    if (first <= last) KeyRemove(first, last);
}

// ---------------------------------------------------------------------------------------------
// Tangent setters

void KFCurve::KeySetRightDerivative(int index, float derivative) {
    assert(index >= 0 && index < mKeyCount);
    if (index < 0 || index >= mKeyCount - 1) return;
    KFCurveKey& key = K(index);
    if (!key.IsCubic()) return;
    const uint32_t mode = key.GetTangentMode();
    if (IsUserOrBreak(mode)) {
        key.mData[0] = derivative;
    } else if (IsAuto(mode)) {
        key.mData[0] = static_cast<float>(KeyGetRightAutoFromDerivative(derivative, index));
    } else {
        return;
    }
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEYS, index);
}

void KFCurve::KeySetRightAuto(int index, float autoValue) {
    assert(index >= 0 && index < mKeyCount);
    if (index < 0 || index >= mKeyCount) return;
    KFCurveKey& key = K(index);
    if (!key.IsCubic()) return;
    const uint32_t mode = key.GetTangentMode();
    if (IsAuto(mode)) {
        key.mData[0] = autoValue;
    } else if (IsUserOrBreak(mode) && index < mKeyCount - 1) {
        key.mData[0] = static_cast<float>(KeyGetRightAutoDerivative(autoValue, index));
    } else {
        return;
    }
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEYS, index);
}

// Key i may be missing (i == count): the left side lives on key i-1.
void KFCurve::KeySetLeftDerivative(int index, float derivative) {
    assert(index >= 0 && index <= mKeyCount);
    if (index < 1 || index > mKeyCount) return;
    ForgetEvaluationCache();
    KFCurveKey& previous = K(index - 1);
    const bool exists = index < mKeyCount;
    const bool keyCubic = exists && K(index).IsCubic();
    const uint32_t keyMode = exists ? K(index).GetTangentMode() : 0;
    switch (previous.GetInterpolation()) {
        case KFCURVE_INTERPOLATION_CONSTANT:
        case KFCURVE_INTERPOLATION_LINEAR:
            previous.mData[1] = derivative;
            break;
        case KFCURVE_INTERPOLATION_CUBIC: {
            const uint32_t mode = previous.GetTangentMode();
            const auto autoValue = [&] {
                return static_cast<float>(KeyGetLeftAutoFromDerivative(derivative, index));
            };
            if (IsAuto(mode)) {
                const bool raw = !exists || (keyCubic && (keyMode & KFCURVE_TANGENT_USER));
                previous.mData[1] = raw ? derivative : autoValue();
            } else if (IsUserOrBreak(mode)) {
                const bool autoSide = keyCubic && !(keyMode & KFCURVE_TANGENT_USER);
                previous.mData[1] = autoSide ? autoValue() : derivative;
            }
            break;
        }
        default:
            break;
    }
    if (keyCubic && keyMode == KFCURVE_TANGENT_USER) KeySetRightDerivative(index, derivative);
    NotifyChange(KFCURVE_EVENT_KEYS, index);
}

void KFCurve::KeySetLeftAuto(int index, float autoValue) {
    assert(index >= 0 && index <= mKeyCount);
    if (index < 1 || index > mKeyCount) return;
    KFCurveKey& previous = K(index - 1);
    const bool exists = index < mKeyCount;
    const bool keyCubic = exists && K(index).IsCubic();
    const uint32_t keyFlags = exists ? K(index).mFlags : 0;
    switch (previous.GetInterpolation()) {
        case KFCURVE_INTERPOLATION_CONSTANT:
        case KFCURVE_INTERPOLATION_LINEAR:
            previous.mData[1] = autoValue;
            break;
        case KFCURVE_INTERPOLATION_CUBIC: {
            const uint32_t mode = previous.GetTangentMode();
            if (!IsAuto(mode) && !IsUserOrBreak(mode)) break;
            const bool keep = !exists || (keyCubic && (keyFlags & KFCURVE_TANGENT_AUTO)) ||
                              (IsAuto(mode) && !keyCubic);
            previous.mData[1] =
                keep ? autoValue : static_cast<float>(KeyGetLeftAutoDerivative(autoValue, index));
            break;
        }
        default:
            break;
    }
    ForgetEvaluationCache();
    if (keyCubic && K(index).GetTangentMode() == KFCURVE_TANGENT_USER) {
        KeySetRightAuto(index, autoValue);
    }
    NotifyChange(KFCURVE_EVENT_KEYS, index);
}

void KFCurve::KeySetRightBezierValue(int index, float value) {
    if (index < 0 || index >= mKeyCount - 1) return;
    const double length = SegmentSeconds(index, index + 1);
    if (length == 0.0) return;
    KeySetRightDerivative(index, static_cast<float>((value - K(index).mValue) * 3.0 / length));
}

void KFCurve::KeySetLeftBezierValue(int index, float value) {
    if (index < 1 || index >= mKeyCount) return;
    const double length = SegmentSeconds(index - 1, index);
    if (length == 0.0) return;
    KeySetLeftDerivative(index, static_cast<float>((K(index).mValue - value) * 3.0 / length));
}

// Right-side data of key i, or (left side) the next-left data kept on key i-1.
KFCurveKey* KFCurve::TangentOwner(int index, bool rightSide) {
    if (rightSide)
        return index >= 0 && index < mKeyCount - 1 && K(index).IsCubic() ? &K(index) : nullptr;
    return index >= 1 && index <= mKeyCount && K(index - 1).IsCubic() ? &K(index - 1) : nullptr;
}

void KFCurve::SetTangentBit(int index, bool rightSide, uint32_t bit, bool on) {
    KFCurveKey* key = TangentOwner(index, rightSide);
    if (key == nullptr) return;
    const uint32_t flags = on ? key->mFlags | bit : key->mFlags & ~bit;
    if (flags == key->mFlags) return;
    key->mFlags = flags;
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEYS, index);
}

void KFCurve::SetTangentData(int index, bool rightSide, uint32_t bit, int slot, float value) {
    KFCurveKey* key = TangentOwner(index, rightSide);
    if (key == nullptr) return;
    key->mFlags |= bit;
    key->SetDataFloat(slot, value);
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEYS, index);
}

void KFCurve::KeySetRightTangentWeight(int index, float weight) {
    SetTangentData(index, true, KFCURVE_WEIGHTED_RIGHT, KFCURVE_RIGHT_WEIGHT, weight);
}

void KFCurve::KeySetLeftTangentWeight(int index, float weight) {
    SetTangentData(index, false, KFCURVE_WEIGHTED_NEXT_LEFT, KFCURVE_NEXT_LEFT_WEIGHT, weight);
}

void KFCurve::KeySetRightTangentWeightedMode(int index, bool on) {
    SetTangentBit(index, true, KFCURVE_WEIGHTED_RIGHT, on);
}

void KFCurve::KeySetLeftTangentWeightedMode(int index, bool on) {
    SetTangentBit(index, false, KFCURVE_WEIGHTED_NEXT_LEFT, on);
}

void KFCurve::KeySetRightTangentVelocity(int index, float velocity) {
    SetTangentData(index, true, KFCURVE_VELOCITY_RIGHT, KFCURVE_RIGHT_VELOCITY, velocity);
}

void KFCurve::KeySetLeftTangentVelocity(int index, float velocity) {
    SetTangentData(index, false, KFCURVE_VELOCITY_NEXT_LEFT, KFCURVE_NEXT_LEFT_VELOCITY, velocity);
}

void KFCurve::KeySetRightTangentVelocityMode(int index, bool on) {
    SetTangentBit(index, true, KFCURVE_VELOCITY_RIGHT, on);
}

void KFCurve::KeySetLeftTangentVelocityMode(int index, bool on) {
    SetTangentBit(index, false, KFCURVE_VELOCITY_NEXT_LEFT, on);
}

void KFCurve::KeySetRightTangentInfo(int index, const KFCurveKeyTangentInfo& info) {
    if (index < 0 || index >= mKeyCount) return;
    KFCurveKey& key = K(index);
    const bool autoKey = key.IsCubic() && (key.mFlags & KFCURVE_TANGENT_AUTO);
    if (index == mKeyCount - 1) {
        if (autoKey) {
            key.mData[0] = info.mAuto;
            ForgetEvaluationCache();
        }
        return;
    }
    KeySetRightTangentWeight(index, info.mWeight);
    KeySetRightTangentWeightedMode(index, info.mWeighted);
    KeySetRightTangentVelocity(index, info.mVelocity);
    KeySetRightTangentVelocityMode(index, info.mHasVelocity);
    if (autoKey) {
        KeySetRightAuto(index, info.mAuto);
    } else {
        KeySetRightDerivative(index, info.mDerivative);
    }
}

void KFCurve::KeySetLeftTangentInfo(int index, const KFCurveKeyTangentInfo& info) {
    if (index < 1 || index >= mKeyCount) return;
    KeySetLeftTangentWeight(index, info.mWeight);
    KeySetLeftTangentWeightedMode(index, info.mWeighted);
    KeySetLeftTangentVelocity(index, info.mVelocity);
    KeySetLeftTangentVelocityMode(index, info.mHasVelocity);
    const KFCurveKey& key = K(index);
    const KFCurveKey& previous = K(index - 1);
    const bool keyAuto = key.IsCubic() && (key.mFlags & KFCURVE_TANGENT_AUTO);
    const bool previousAuto = previous.IsCubic() && (previous.mFlags & KFCURVE_TANGENT_AUTO);
    if (keyAuto || (!key.IsCubic() && previousAuto)) {
        KeySetLeftAuto(index, info.mAuto);
    } else {
        KeySetLeftDerivative(index, info.mDerivative);
    }
}

// ---------------------------------------------------------------------------------------------
// Values

void KFCurve::ScaleValues(bool markedOnly, float factor) {
    mNotificationEnabled = false;
    ForgetEvaluationCache();
    if (!markedOnly) SetValue(mDefaultValue * factor);
    int first = -1, last = -1;
    for (int i = 0; i < mKeyCount; ++i) {
        KFCurveKey& key = K(i);
        if (markedOnly && !(key.mFlags & KFCURVE_SELECT_POINT)) continue;
        key.mValue *= factor;
        if (key.IsCubic() && IsUserOrBreak(key.GetTangentMode())) {
            key.mData[0] *= factor;
            key.mData[1] *= factor;
        }
        if (first < 0) first = i;
        last = i;
    }
    mNotificationEnabled = true;
    SetImmediateNotification(false);
    NotifyChange(KFCURVE_EVENT_KEYS, first);
    NotifyChange(KFCURVE_EVENT_KEYS, last);
    ForgetEvaluationCache();
    ++mChangeCounter;
    SetImmediateNotification(true);
}

// ---------------------------------------------------------------------------------------------
// Span replacement

void KFCurve::Replace(KFCurve* source, KTime start, KTime stop, bool keepSpan, bool boundaryKeys) {
    ReplaceArgs args{ReplaceForm::Plain, 0.0f, 0.0f, false, false, 1.0f, 1.0f};
    ReplaceSpan(source, start, stop, keepSpan, boundaryKeys, args);
}

void KFCurve::ReplaceContinuous(KFCurve* source, KTime start, KTime stop, float startOffset,
                                float endOffset, bool startMirrored, bool endMirrored,
                                bool keepSpan, bool boundaryKeys) {
    ReplaceArgs args{
        ReplaceForm::Continuous, startOffset, endOffset, startMirrored, endMirrored, 1.0f, 1.0f};
    ReplaceSpan(source, start, stop, keepSpan, boundaryKeys, args);
}

void KFCurve::ReplaceQuaternion(KFCurve* source, KTime start, KTime stop, float startScale,
                                float endScale, bool keepSpan, bool boundaryKeys) {
    ReplaceArgs args{ReplaceForm::Quaternion, 0.0f, 0.0f, false, false, startScale, endScale};
    ReplaceSpan(source, start, stop, keepSpan, boundaryKeys, args);
}

namespace {

// Scale of a copied quaternion key: P at start, Q at stop; fixed where the fraction is undefined.
float QuaternionFactor(KTime time, KTime start, KTime stop, float startScale, float endScale) {
    const bool openStart = start <= KTIME_MINUS_INFINITE;
    const bool openStop = stop == KTIME_INFINITE;
    if (openStart && openStop) return 1.0f;
    if (openStart) return endScale;
    if (openStop || stop <= start) return startScale;
    const long double elapsed =
        static_cast<long double>(static_cast<__int128>(time.Get()) - start.Get());
    const long double length =
        static_cast<long double>(static_cast<__int128>(stop.Get()) - start.Get());
    const float u = static_cast<float>(static_cast<double>(elapsed / length));
    return (1.0f - u) * startScale + u * endScale;
}

}  // namespace

void KFCurve::ReplaceSpan(KFCurve* source, KTime start, KTime stop, bool keepSpan,
                          bool boundaryKeys, const ReplaceArgs& args) {
    assert(source != nullptr && source != this);
    if (source == nullptr || source == this) return;
    const bool quaternion = args.mForm == ReplaceForm::Quaternion;
    const bool continuous = args.mForm == ReplaceForm::Continuous;
    if (!quaternion) SetImmediateNotification(false);

    // Source keys inside the span.
    const int sourceCount = source->mKeyCount;
    int s0 = 0, s1 = -1;
    if (sourceCount > 0) {
        int hint = 0;
        if (quaternion) {
            source->KeyFindPosition(KTimeSaturatingSub(start, kOneTick), &hint);
            s0 = hint;
            hint = 0;
            source->KeyFindPosition(stop, &hint);
            s1 = std::min(hint, sourceCount - 1);
        } else {
            const KFCurveKeyPosition first = source->KeyFindPosition(start, &hint);
            s0 = first.mUpper;
            s1 = std::min(source->KeyFindPosition(stop, &hint).mLower, sourceCount - 1);
        }
    }
    // The span shrinks to the source keys inside it; with none there it is empty and this
    // curve's keys stay.
    bool keepKeys = false;
    if (!keepSpan && sourceCount > 0) {
        if (s0 <= s1 && s0 < sourceCount && s1 >= 0) {
            start = source->K(s0).mTime;
            stop = source->K(s1).mTime;
        } else {
            keepKeys = true;
        }
    }

    int hint = 0;
    const float leftSlope = static_cast<float>(EvaluateLeftDerivative(start, &hint));
    const float rightSlope = static_cast<float>(EvaluateRightDerivative(stop, &hint));

    if (!keepKeys) {
        // Quaternion form: a key exactly at start stays.
        const KTime from = quaternion ? start : KTimeSaturatingSub(start, kOneTick);
        KeyRemoveSpan(from, KTimeSaturatingAdd(stop, kOneTick));
    }

    if (sourceCount == 0) {
        if (boundaryKeys) InsertBoundaryKeys(*source, start, stop);
    } else {
        ForgetEvaluationCache();
        int copyHint = 0, firstCopied = -1, lastCopied = -1;
        const bool offsetStart = continuous && std::fabs(args.mStartOffset) > kOffsetEpsilon;
        int sourceHint = 0;
        const KFCurveKeyPosition from = source->KeyFindPosition(start, &sourceHint);
        for (int j = from.mUpper; j >= 0 && j < sourceCount && KTime(source->K(j).mTime) <= stop;
             ++j) {
            KFCurveKey key = source->K(j);
            if (offsetStart && !args.mStartMirrored) {
                key.mValue += args.mStartOffset;
            } else if (offsetStart) {
                key.mValue = args.mStartOffset - key.mValue;
                NegateTangents(key);
            } else if (quaternion) {
                key.mValue *=
                    QuaternionFactor(key.mTime, start, stop, args.mStartScale, args.mEndScale);
            }
            const int index = KeyAdd(key.mTime, key, &copyHint);
            if (firstCopied < 0) firstCopied = index;
            lastCopied = index;
        }
        if (offsetStart && args.mStartMirrored && firstCopied > 0) {
            // The first copied key's left derivative lives on the key before it.
            KFCurveKey& before = K(firstCopied - 1);
            if (IsUserOrBreak(before.GetTangentMode())) before.mData[1] = -before.mData[1];
        }

        // Left seam; a span that received no key gets none.
        if (start != KTIME_MINUS_INFINITE && firstCopied >= 0) {
            if (quaternion) {
                int seamHint = 0;
                const KFCurveKeyPosition at = KeyFindPosition(start, &seamHint);
                if (at.mUpper >= 0 && at.mUpper < mKeyCount) {
                    KeySetLeftDerivative(at.mUpper, leftSlope);
                }
            } else if (K(firstCopied).mFlags & (KFCURVE_TANGENT_USER | KFCURVE_TANGENT_AUTO)) {
                KeySetLeftDerivative(firstCopied, leftSlope);
            }
        }
        // Right seam.
        if (stop != KTIME_INFINITE && lastCopied >= 0 &&
            (K(lastCopied).mFlags & (KFCURVE_TANGENT_USER | KFCURVE_TANGENT_AUTO))) {
            KeySetRightDerivative(lastCopied, rightSlope);
        }
        if (continuous && std::fabs(args.mEndOffset) > kOffsetEpsilon) {
            int after = lastCopied + 1;
            if (lastCopied < 0) {
                int afterHint = 0;
                const KFCurveKeyPosition at = KeyFindPosition(stop, &afterHint);
                after = at.mExact ? at.mLower + 1 : at.mUpper;
            }
            for (int i = std::max(after, 0); i < mKeyCount; ++i) {
                KFCurveKey& key = K(i);
                if (args.mEndMirrored) {
                    key.mValue = args.mEndOffset - key.mValue;
                    NegateTangents(key);
                } else {
                    key.mValue += args.mEndOffset;
                }
            }
            if (args.mEndMirrored && lastCopied >= 0) {
                KFCurveKey& key = K(lastCopied);
                if (IsUserOrBreak(key.GetTangentMode())) key.mData[1] = -key.mData[1];
            }
        }
    }

    NotifyChange(KFCURVE_EVENT_KEYS, -1);
    ForgetEvaluationCache();
    ++mChangeCounter;
    SetImmediateNotification(true);
}

// A flat stretch at the source's default value, joined by one-tick segments to the rest.
void KFCurve::InsertBoundaryKeys(const KFCurve& source, KTime start, KTime stop) {
    int hint = 0;
    const bool openStart = start == KTIME_MINUS_INFINITE;
    const bool openStop = stop == KTIME_INFINITE;
    const auto insert = [&] {
        KeyInsertAtCache(&hint, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, false, true);
    };
    if (!openStart) {
        EvaluateCached(KTimeSaturatingSub(start, kOneTick));
        insert();
    }
    if (!openStop) {
        EvaluateCached(KTimeSaturatingAdd(stop, kOneTick));
        insert();
    }
    SetEvaluationCache(start, source.mDefaultValue);
    insert();
    SetEvaluationCache(stop, source.mDefaultValue);
    insert();
    const auto flatten = [&](KTime time) {
        int findHint = 0;
        const KFCurveKeyPosition at = KeyFindPosition(time, &findHint);
        if (!at.mExact) return;
        K(at.mLower).mData[0] = 0.0f;
        if (at.mLower > 0) K(at.mLower - 1).mData[1] = 0.0f;
    };
    if (!openStart) flatten(start);
    if (!openStop) flatten(stop);
    ForgetEvaluationCache();
}

// ---------------------------------------------------------------------------------------------
// Tangent fitting

void KFCurve::KeyFitTangents(int index, KFCurve* curve, KFCurve* source, KTime step,
                             double tolerance) {
    if (curve == nullptr || source == nullptr || step <= KTime(0)) return;
    if (index < 0 || index >= curve->mKeyCount) return;
    const double seconds = ToSeconds(step.Get());
    const KTime time = curve->K(index).mTime;
    const double value = curve->K(index).mValue;
    bool fit = false;
    double leftSlope = 0.0, rightSlope = 0.0;
    if (index > 0) {
        leftSlope = (value - source->Evaluate(KTimeSaturatingSub(time, step))) / seconds;
        if (std::fabs(leftSlope - curve->KeyGetLeftDerivative(index)) > tolerance) fit = true;
    }
    if (index < curve->mKeyCount - 1) {
        rightSlope = (source->Evaluate(KTimeSaturatingAdd(time, step)) - value) / seconds;
        if (std::fabs(rightSlope - curve->KeyGetRightDerivative(index)) > tolerance) fit = true;
    }
    if (!fit) return;
    curve->KeySetTangentMode(index, KFCURVE_TANGENT_BREAK);
    if (index > 0) curve->KeySetLeftDerivative(index, static_cast<float>(leftSlope));
    if (index < curve->mKeyCount - 1) {
        curve->KeySetRightDerivative(index, static_cast<float>(rightSlope));
    }
}

int KFCurve::KeyInsertValue(KTime time, float value, KFCurve* curve, KFCurve* source, bool fit,
                            KTime step, double tolerance) {
    if (curve == nullptr) return -1;
    const int index = curve->KeyInsert(time);
    curve->KeySetValue(index, value);
    if (fit) KeyFitTangents(index, curve, source, step, tolerance);
    return index;
}
