#include "animation/KFCurve.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

// ---------------------------------------------------------------------------------------------
// KFCurveKey

void KFCurveKey::Init() {
    mValue = 0.0f;
    mTime = KTime(0);
    mFlags = 0;
}

void KFCurveKey::Set(KTime time, float value, uint32_t interpolation, uint32_t tangentMode,
                     float data0, float data1, uint32_t weightMode, float rightWeight,
                     float nextLeftWeight, float rightVelocity, float nextLeftVelocity) {
    mTime = time;
    mValue = value;
    SetInterpolation(interpolation);
    SetTangentMode(tangentMode);
    mData[0] = data0;
    mData[1] = data1;
    mFlags = (mFlags & ~KFCURVE_WEIGHTED_ALL) | (weightMode & KFCURVE_WEIGHTED_ALL);
    SetDataFloat(KFCURVE_RIGHT_WEIGHT, rightWeight);
    SetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT, nextLeftWeight);
    SetDataFloat(KFCURVE_RIGHT_VELOCITY, rightVelocity);
    SetDataFloat(KFCURVE_NEXT_LEFT_VELOCITY, nextLeftVelocity);
    mFlags &= ~KFCURVE_SET_CLEARED;
}

void KFCurveKey::SetTCB(KTime time, float value, float tension, float continuity, float bias) {
    mTime = time;
    mValue = value;
    if (!IsCubic()) ResetCubicExtras();
    mFlags = (mFlags & ~0xD06u) | KFCURVE_TANGENT_TCB | KFCURVE_INTERPOLATION_CUBIC;
    // The bias has its own field, so stale weights must not make the key read as weighted.
    mFlags &= ~KFCURVE_WEIGHTED_ALL;
    mWeight[0] = mWeight[1] = KFCURVE_WEIGHT_DEFAULT_STORED;
    mData[0] = tension;
    mData[1] = continuity;
    mBias = bias;
    mFlags &= ~KFCURVE_SET_CLEARED;
}

// ---------------------------------------------------------------------------------------------
// Construction, copy

KFCurve::KFCurve() = default;

KFCurve::~KFCurve() {
    KeyClear();
    mNotificationEnabled = true;
    mImmediateNotification = true;
    NotifyChange(KFCURVE_EVENT_DESTROY, -1);
    mCallbacks.clear();
}

KFCurve* KFCurve::Create() {
    return new KFCurve();
}

KFCurve* KFCurve::Create(double value, float r, float g, float b) {
    KFCurve* curve = new KFCurve();
    curve->SetValue(float(value));
    const float colour[3] = {r, g, b};
    curve->SetColor(colour);
    return curve;
}

KFCurve* KFCurve::Clone(KTime start, KTime stop) const {
    KFCurve* curve = new KFCurve();
    if (start == KTIME_MINUS_INFINITE && stop == KTIME_INFINITE) {
        curve->CopyFrom(*this, true);
    } else {
        curve->mDefaultValue = mDefaultValue;
        curve->mTag = mTag;
        curve->mCacheTime = mCacheTime;
        curve->mCacheValue = mCacheValue;
        curve->mChangeCounter = mChangeCounter;
    }
    return curve;
}

void KFCurve::CopyFrom(const KFCurve& other, bool withKeys) {
    if (&other == this) return;
    if (!withKeys) {
        KeyClear();
    } else {
        ResizeKeyBuffer(other.mKeyCount);
        for (int i = 0; i < other.mKeyCount; ++i) mKeys[size_t(i)] = other.mKeys[size_t(i)];
        mKeyCount = other.mKeyCount;
        ForgetEvaluationCache();
        ++mChangeCounter;
        SetImmediateNotification(true);
    }
    mDefaultValue = other.mDefaultValue;
    std::copy(other.mColor, other.mColor + 3, mColor);
    mTag = other.mTag;
    mCacheTime = other.mCacheTime;
    mCacheValue = other.mCacheValue;
    mPreType = other.mPreType;
    mPreCount = other.mPreCount;
    mPostType = other.mPostType;
    mPostCount = other.mPostCount;
    ++mChangeCounter;
    NotifyChange(KFCURVE_EVENT_KEYS, -1);
}

// ---------------------------------------------------------------------------------------------
// Storage

void KFCurve::ResizeKeyBuffer(int keyCount) {
    if (keyCount > 0) mKeys.Reserve(static_cast<size_t>(keyCount));
    ForgetEvaluationCache();
}

void KFCurve::KeyClear() {
    ForgetEvaluationCache();
    mKeys.Release();
    mKeyCount = 0;
    NotifyChange(KFCURVE_EVENT_KEYS, -1);
}

void KFCurve::PrepareKeys(int keyCount) {
    SetImmediateNotification(false);
    ResizeKeyBuffer(keyCount);
}

void KFCurve::PrepareKeysForOverwrite(int keyCount) {
    SetImmediateNotification(false);
    if (keyCount > 0) mKeys.ReserveForOverwrite(static_cast<size_t>(keyCount));
    ForgetEvaluationCache();
}

void KFCurve::AdoptKeysForOverwrite(KFCurveKeyBlocks<KFCurveKey>& keys) {
    SetImmediateNotification(false);
    mKeys.Swap(keys);
    ForgetEvaluationCache();
}

void KFCurve::CommitKeys(int keyCount) {
    assert(keyCount >= 0 && static_cast<size_t>(keyCount) <= mKeys.size());
    mKeyCount = std::clamp(keyCount, 0, static_cast<int>(mKeys.size()));
    ForgetEvaluationCache();
    ++mChangeCounter;
    SetImmediateNotification(true);
}

// ---------------------------------------------------------------------------------------------
// Key accessors

KFCurveKey* KFCurve::KeyGet(int index) {
    assert(index >= 0 && index < static_cast<int>(mKeys.size()));
    return &mKeys[static_cast<size_t>(index)];
}

const KFCurveKey* KFCurve::KeyGet(int index) const {
    assert(index >= 0 && index < static_cast<int>(mKeys.size()));
    return &mKeys[static_cast<size_t>(index)];
}

void KFCurve::KeySetValue(int index, float value) {
    KeyGet(index)->mValue = value;
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEY_VALUE, index);
}

void KFCurve::KeyIncValue(int index, float delta) {
    KeyGet(index)->mValue += delta;
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEY_VALUE, index);
}

void KFCurve::KeySetInterpolation(int index, uint32_t interpolation) {
    KeyGet(index)->SetInterpolation(interpolation);
    ForgetEvaluationCache();
}

void KFCurve::KeySetTangentMode(int index, uint32_t mode) {
    KeyGet(index)->SetTangentMode(mode);
    ForgetEvaluationCache();
}

void KFCurve::KeySetDataFloat(int index, int slot, float value) {
    KeyGet(index)->SetDataFloat(slot, value);
    ForgetEvaluationCache();
}

float KFCurve::KeyGetDataSlot(int index, int slot) const {
    const KFCurveKey* key = KeyGet(index);
    if (slot == KFCURVE_DATA_0 || slot == KFCURVE_DATA_1) return key->mData[slot];
    if (slot == KFCURVE_TCB_BIAS) return key->mBias;
    assert(false && "data slot out of range");
    return 0.0f;
}

void KFCurve::KeySet(int index, KTime time, float value, uint32_t interpolation,
                     uint32_t tangentMode, float data0, float data1, uint32_t weightMode,
                     float rightWeight, float nextLeftWeight, float rightVelocity,
                     float nextLeftVelocity) {
    KeyGet(index)->Set(time, value, interpolation, tangentMode, data0, data1, weightMode,
                       rightWeight, nextLeftWeight, rightVelocity, nextLeftVelocity);
    ForgetEvaluationCache();
}

void KFCurve::KeySetTCB(int index, KTime time, float value, float tension, float continuity,
                        float bias) {
    KeyGet(index)->SetTCB(time, value, tension, continuity, bias);
    ForgetEvaluationCache();
}

// ---------------------------------------------------------------------------------------------
// Default value, colour, extrapolation

void KFCurve::SetValue(float value) {
    mDefaultValue = value;
    NotifyChange(KFCURVE_EVENT_DEFAULT_VALUE, -1);
    ++mChangeCounter;
}

void KFCurve::SetColor(const float* rgb) {
    if (rgb == nullptr) return;
    std::copy(rgb, rgb + 3, mColor);
}

void KFCurve::SetPreExtrapolation(int type) {
    mPreType = type;
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEYS, -1);
}

void KFCurve::SetPreExtrapolationCount(uint32_t count) {
    mPreCount = count;
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEYS, -1);
}

void KFCurve::SetPostExtrapolation(int type) {
    mPostType = type;
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEYS, -1);
}

void KFCurve::SetPostExtrapolationCount(uint32_t count) {
    mPostCount = count;
    ForgetEvaluationCache();
    NotifyChange(KFCURVE_EVENT_KEYS, -1);
}

// ---------------------------------------------------------------------------------------------
// Change notification

void KFCurve::NotifyChange(uint32_t kind, int keyIndex) {
    if (!mNotificationEnabled) return;
    ++mPending.mEventCount;
    mPending.mType |= kind;
    if (mPending.mKeyIndexStart == -1 || keyIndex < mPending.mKeyIndexStart) {
        mPending.mKeyIndexStart = keyIndex;
    }
    if (keyIndex > mPending.mKeyIndexStop) mPending.mKeyIndexStop = keyIndex;
    ++mChangeCounter;
    if (mImmediateNotification) Deliver();
}

// The record is taken out before the calls, so a change made by a callback starts (and
// delivers) a record of its own; callbacks removed during the dispatch are not called.
void KFCurve::Deliver() {
    KFCurveEvent event = mPending;
    mPending.Clear();
    if (mCallbacks.empty()) return;
    // The callbacks of now, by id: one may remove itself or another. A curve's few fit
    // without the heap, so a curve destroyed when memory ran out still tells its own.
    uint64_t few[8];
    std::vector<uint64_t> many;
    uint64_t* ids = few;
    if (mCallbacks.size() > 8) {
        many.resize(mCallbacks.size());
        ids = many.data();
    }
    const size_t count = mCallbacks.size();
    for (size_t i = 0; i < count; ++i) ids[i] = mCallbacks[i].mId;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t id = ids[i];
        auto it = std::find_if(mCallbacks.begin(), mCallbacks.end(),
                               [id](const Callback& callback) { return callback.mId == id; });
        if (it == mCallbacks.end()) continue;
        const Callback callback = *it;
        callback.mFunction(this, &event, callback.mData);
    }
}

void KFCurve::SetImmediateNotification(bool on) {
    if (on == mImmediateNotification) return;
    mImmediateNotification = on;
    if (on && mPending.mEventCount > 0) Deliver();
}

void KFCurve::ResumeChangeNotification() {
    ForgetEvaluationCache();
    ++mChangeCounter;
    SetImmediateNotification(true);
}

void KFCurve::AddCallback(KFCurveCallback function, void* data) {
    mCallbacks.push_back(Callback{function, data, mNextCallbackId++});
}

void KFCurve::RemoveCallback(KFCurveCallback function, void* data) {
    for (auto it = mCallbacks.rbegin(); it != mCallbacks.rend(); ++it) {
        if (it->mFunction == function && it->mData == data) {
            mCallbacks.erase(std::next(it).base());
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Evaluation cache

void KFCurve::ForgetEvaluationCache() {
    mCacheTime = KTIME_INFINITE;
    mCacheValue = 0.0f;
}

void KFCurve::SetEvaluationCache(KTime time, float value) {
    mCacheTime = time;
    mCacheValue = value;
}
