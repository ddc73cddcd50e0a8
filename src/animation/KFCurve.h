#pragma once
// Animation curve: one animated scalar channel made of time-ordered keys, with
// extrapolation, a one-entry evaluation cache and change callbacks.

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "animation/KFCurveKeyBlocks.h"
#include "foundation/KTime.h"

// Key flag word.
enum : uint32_t {
    KFCURVE_INTERPOLATION_CONSTANT = 0x00000002,
    KFCURVE_INTERPOLATION_LINEAR = 0x00000004,
    KFCURVE_INTERPOLATION_CUBIC = 0x00000008,
    KFCURVE_INTERPOLATION_ALL = 0x0000000E,

    KFCURVE_CONSTANT_STANDARD = 0x00000000,
    KFCURVE_CONSTANT_NEXT = 0x00000100,

    KFCURVE_TANGENT_AUTO = 0x00000100,
    KFCURVE_TANGENT_TCB = 0x00000200,
    KFCURVE_TANGENT_USER = 0x00000400,
    KFCURVE_GENERIC_BREAK = 0x00000800,
    KFCURVE_TANGENT_BREAK = 0x00000C00,
    KFCURVE_TANGENT_AUTO_BREAK = 0x00000900,
    KFCURVE_TANGENT_ALL = 0x00000F00,

    KFCURVE_SELECT_POINT = 0x00010000,
    KFCURVE_MARKED_ALL = 0x003F0000,
    KFCURVE_SET_CLEARED = 0x00300000,

    KFCURVE_WEIGHTED_NONE = 0x00000000,
    KFCURVE_WEIGHTED_RIGHT = 0x01000000,
    KFCURVE_WEIGHTED_NEXT_LEFT = 0x02000000,
    KFCURVE_WEIGHTED_ALL = 0x03000000,

    KFCURVE_VELOCITY_NONE = 0x00000000,
    KFCURVE_VELOCITY_RIGHT = 0x10000000,
    KFCURVE_VELOCITY_NEXT_LEFT = 0x20000000,
    KFCURVE_VELOCITY_ALL = 0x30000000,
};

// Extrapolation types; a repetition count of KFCURVE_REPETITION_UNLIMITED never ends.
enum : int {
    KFCURVE_EXTRAPOLATION_NONE = 0,
    KFCURVE_EXTRAPOLATION_CONSTANT = 1,
    KFCURVE_EXTRAPOLATION_REPETITION = 2,
    KFCURVE_EXTRAPOLATION_MIRROR_REPETITION = 3,
    KFCURVE_EXTRAPOLATION_KEEP_SLOPE = 4,
};
constexpr uint32_t KFCURVE_REPETITION_UNLIMITED = 0xFFFFFFFFu;

// Change kinds reported to the callbacks.
enum : uint32_t {
    KFCURVE_EVENT_DEFAULT_VALUE = 1,
    KFCURVE_EVENT_KEYS = 16,
    KFCURVE_EVENT_DESTROY = 512,
    KFCURVE_EVENT_KEY_VALUE = 2048,
};

// Data slots of a key: two floats, then the four 16-bit weight and velocity fields.
enum : int {
    KFCURVE_DATA_0 = 0,
    KFCURVE_DATA_1 = 1,
    KFCURVE_RIGHT_WEIGHT = 2,
    KFCURVE_NEXT_LEFT_WEIGHT = 3,
    KFCURVE_RIGHT_VELOCITY = 4,
    KFCURVE_NEXT_LEFT_VELOCITY = 5,
    // KFCurve::KeyGetDataSlot only: the TCB bias.
    KFCURVE_TCB_BIAS = 2,
};

constexpr float KFCURVE_WEIGHT_UNIT = 0.00010001f;  // one stored unit of weight or velocity
constexpr float KFCURVE_WEIGHT_MIN = 0.00010001f;
constexpr float KFCURVE_WEIGHT_MAX = 0.99f;
constexpr float KFCURVE_WEIGHT_DEFAULT = 0.33333334f;
constexpr int16_t KFCURVE_WEIGHT_DEFAULT_STORED = 3333;

class KFCurve;

// One side of a key's tangent.
struct KFCurveKeyTangentInfo {
    float mDerivative = 0.0f;
    float mWeight = KFCURVE_WEIGHT_DEFAULT;
    bool mWeighted = false;
    float mVelocity = 0.0f;
    bool mHasVelocity = false;
    float mAuto = 0.0f;
};

// One key. The left-side data of key i (derivative, weight, velocity) live on key i-1.
// A key's time in storage aligned as its other fields, so that a key takes 36 bytes rather than
// 40: a long curve read from a file fills that much less fresh memory.
class KFCurveKeyTime {
public:
    KFCurveKeyTime() = default;
    KFCurveKeyTime(KTime time) { Set(time.Get()); }  // NOLINT: converts as KTime does
    operator KTime() const { return KTime(Get()); }
    int64_t Get() const {
        int64_t ticks;
        std::memcpy(&ticks, mTicks, sizeof ticks);
        return ticks;
    }

private:
    void Set(int64_t ticks) { std::memcpy(mTicks, &ticks, sizeof ticks); }
    uint32_t mTicks[2] = {0, 0};
};

class KFCurveKey {
public:
    void Init();

    float GetValue() const { return mValue; }
    void SetValue(float value) { mValue = value; }
    KTime GetTime() const { return mTime; }
    void SetTime(KTime time) { mTime = time; }
    uint32_t GetFlags() const { return mFlags; }
    void SetFlags(uint32_t flags) { mFlags = flags; }

    uint32_t GetInterpolation() const { return mFlags & KFCURVE_INTERPOLATION_ALL; }
    // Making a non-cubic key cubic resets weights (1/3) and velocities (0).
    void SetInterpolation(uint32_t interpolation) {
        if (!IsCubic() && interpolation == KFCURVE_INTERPOLATION_CUBIC) ResetCubicExtras();
        mFlags =
            (mFlags & ~KFCURVE_INTERPOLATION_ALL) | (interpolation & KFCURVE_INTERPOLATION_ALL);
    }
    uint32_t GetTangentMode() const { return mFlags & KFCURVE_TANGENT_ALL; }
    void SetTangentMode(uint32_t mode) {
        mFlags = (mFlags & ~KFCURVE_TANGENT_ALL) | (mode & KFCURVE_TANGENT_ALL);
    }
    void SetConstantMode(uint32_t mode) {
        mFlags = (mFlags & ~KFCURVE_CONSTANT_NEXT) | (mode & KFCURVE_CONSTANT_NEXT);
    }
    bool IsCubic() const { return GetInterpolation() == KFCURVE_INTERPOLATION_CUBIC; }

    // Slots 0-1 raw; slots 2-5 stored x 9999 (weights clamped to [0.00010001, 0.99]).
    // Inline: file readers and writers call them several times per key.
    float GetDataFloat(int slot) const {
        switch (slot) {
            case KFCURVE_DATA_0:
            case KFCURVE_DATA_1:
                return mData[slot];
            case KFCURVE_RIGHT_WEIGHT:
            case KFCURVE_NEXT_LEFT_WEIGHT:
                return mWeight[slot - KFCURVE_RIGHT_WEIGHT] * KFCURVE_WEIGHT_UNIT;
            case KFCURVE_RIGHT_VELOCITY:
            case KFCURVE_NEXT_LEFT_VELOCITY:
                return mVelocity[slot - KFCURVE_RIGHT_VELOCITY] * KFCURVE_WEIGHT_UNIT;
            default:
                assert(false && "data slot out of range");
                return 0.0f;
        }
    }
    void SetDataFloat(int slot, float value) {
        switch (slot) {
            case KFCURVE_DATA_0:
            case KFCURVE_DATA_1:
                mData[slot] = value;
                break;
            case KFCURVE_RIGHT_WEIGHT:
            case KFCURVE_NEXT_LEFT_WEIGHT:
                mWeight[slot - KFCURVE_RIGHT_WEIGHT] = StoreUnits(ClampWeight(value));
                break;
            case KFCURVE_RIGHT_VELOCITY:
            case KFCURVE_NEXT_LEFT_VELOCITY:
                mVelocity[slot - KFCURVE_RIGHT_VELOCITY] = StoreUnits(value);
                break;
            default:
                assert(false && "data slot out of range");
        }
    }
    float GetBias() const { return mBias; }

    void Set(KTime time, float value, uint32_t interpolation, uint32_t tangentMode, float data0,
             float data1, uint32_t weightMode, float rightWeight, float nextLeftWeight,
             float rightVelocity, float nextLeftVelocity);
    // A TCB key is never weighted: both weight bits are cleared and the weights reset.
    void SetTCB(KTime time, float value, float tension, float continuity, float bias);

private:
    friend class KFCurve;
    void ResetCubicExtras() {
        mFlags &= ~(KFCURVE_WEIGHTED_ALL | KFCURVE_VELOCITY_ALL);
        mWeight[0] = mWeight[1] = KFCURVE_WEIGHT_DEFAULT_STORED;
        mVelocity[0] = mVelocity[1] = 0;
    }
    // Stored weights and velocities are value x 9999 in a 16-bit field; float product,
    // truncated.
    static int16_t StoreUnits(float value) {
        if (std::isnan(value)) return 0;
        const float units = std::trunc(value * 9999.0f);
        if (units >= 32767.0f) return 32767;
        if (units <= -32768.0f) return -32768;
        return static_cast<int16_t>(units);
    }
    static float ClampWeight(float weight) {
        if (!(weight >= KFCURVE_WEIGHT_MIN)) return KFCURVE_WEIGHT_MIN;  // NaN too
        if (weight > KFCURVE_WEIGHT_MAX) return KFCURVE_WEIGHT_MAX;
        return weight;
    }

    float mValue = 0.0f;
    KFCurveKeyTime mTime;
    uint32_t mFlags = 0;
    float mData[2] = {0.0f, 0.0f};
    int16_t mWeight[2] = {0, 0};    // right, next left
    int16_t mVelocity[2] = {0, 0};  // right, next left
    float mBias = 0.0f;
};
static_assert(sizeof(KFCurveKey) == 36, "key records without padding");

// What changed since the last delivery, handed to every callback.
struct KFCurveEvent {
    uint32_t mType = 0;  // OR of the KFCURVE_EVENT_ kinds
    uint8_t mFlags = 0;
    int mKeyIndexStart = -1;
    int mKeyIndexStop = -1;
    int mEventCount = 0;

    void Clear() { *this = KFCurveEvent(); }
};

typedef void (*KFCurveCallback)(KFCurve* curve, KFCurveEvent* event, void* data);

// Where a time falls among the keys. mIndex is the fractional key index (-1 without keys,
// -0.5 before the first key, count - 0.5 after the last); exact-key decisions use mExact,
// never the integrality of mIndex.
struct KFCurveKeyPosition {
    double mIndex = -1.0;
    int mLower = -1;         // key at or before the time (-1 when none)
    int mUpper = -1;         // key at or after the time (count when none)
    double mFraction = 0.0;  // elapsed part of the segment mLower -> mUpper
    bool mExact = false;     // mLower == mUpper is a key at exactly the time
};

// Secant solve of function(s) = 0 from two starting points, in single precision.
typedef double (*KFCurveSecantFunction)(float s, const void* data);
float KFCurveSolveSecant(KFCurveSecantFunction function, const void* data, float first,
                         float second);
// Time error of a weighted segment: the Bezier 1, 1 - lw, rw, 0 at s, minus u.
double KFCurveBezierTimeError(float s, float rightWeight, float leftWeight, double u);

// Slope and auto-tangent helpers shared with the curve nodes.
double KFCurveAutoBlend(double a, double x, double y);
double KFCurveAutoToLeftDerivative(double a, double left, double right);
double KFCurveAutoToRightDerivative(double a, double left, double right);
double KFCurveLeftDerivativeToAuto(double derivative, double left, double right);
double KFCurveRightDerivativeToAuto(double derivative, double left, double right);

class KFCurve {
public:
    KFCurve();
    virtual ~KFCurve();
    KFCurve(const KFCurve&) = delete;
    KFCurve& operator=(const KFCurve&) = delete;

    static KFCurve* Create();
    // A new curve with its default value (at single precision) and display colour.
    static KFCurve* Create(double value, float r, float g, float b);
    // A full copy over the infinite span, else only the default value, tag, cache and counter.
    KFCurve* Clone(KTime start = KTIME_MINUS_INFINITE, KTime stop = KTIME_INFINITE) const;
    KFCurve* Copy(KTime start = KTIME_MINUS_INFINITE, KTime stop = KTIME_INFINITE) const {
        return Clone(start, stop);
    }
    void CopyFrom(const KFCurve& other, bool withKeys = true);

    // Storage.
    void ResizeKeyBuffer(int keyCount);
    void KeyClear();
    void PrepareKeys(int keyCount);
    // As PrepareKeys, but the slots it adds below keyCount are left unset: for a caller that
    // assigns every key 0 .. keyCount-1 whole (a file reader) before anything reads it.
    void PrepareKeysForOverwrite(int keyCount);
    // PrepareKeysForOverwrite on a curve without key storage, with records made and filled
    // apart (on another thread): `keys` are swapped in.
    void AdoptKeysForOverwrite(KFCurveKeyBlocks<KFCurveKey>& keys);
    void CommitKeys(int keyCount);
    int KeyGetCount() const { return mKeyCount; }

    // Key accessors (0 <= index < count).
    KFCurveKey* KeyGet(int index);
    const KFCurveKey* KeyGet(int index) const;
    // Key `index` and the keys after it that lie next to it in memory, their number (up to
    // the key count) in `run`; null with a run of 0 outside the keys. Walks keys a run at a
    // time instead of a lookup per key.
    KFCurveKey* KeyGetRun(int index, int& run) {
        return const_cast<KFCurveKey*>(static_cast<const KFCurve*>(this)->KeyGetRun(index, run));
    }
    const KFCurveKey* KeyGetRun(int index, int& run) const {
        if (index < 0 || index >= mKeyCount) {
            run = 0;
            return nullptr;
        }
        run =
            static_cast<int>(mKeys.Run(static_cast<size_t>(index), static_cast<size_t>(mKeyCount)));
        return &mKeys[static_cast<size_t>(index)];
    }
    KFCurveKey KeyGetRecord(int index) const { return *KeyGet(index); }
    float KeyGetValue(int index) const { return KeyGet(index)->mValue; }
    void KeySetValue(int index, float value);
    void KeyIncValue(int index, float delta);
    KTime KeyGetTime(int index) const { return KeyGet(index)->mTime; }
    // Neither checks the key order nor notifies.
    void KeySetTime(int index, KTime time) {
        KeyGet(index)->mTime = time;
        ForgetEvaluationCache();
    }
    uint32_t KeyGetInterpolation(int index) const { return KeyGet(index)->GetInterpolation(); }
    void KeySetInterpolation(int index, uint32_t interpolation);
    uint32_t KeyGetTangentMode(int index) const { return KeyGet(index)->GetTangentMode(); }
    void KeySetTangentMode(int index, uint32_t mode);
    float KeyGetDataFloat(int index, int slot) const { return KeyGet(index)->GetDataFloat(slot); }
    void KeySetDataFloat(int index, int slot, float value);
    // Slots 0 and 1 (raw floats) and KFCURVE_TCB_BIAS.
    float KeyGetDataSlot(int index, int slot) const;
    void KeySet(int index, KTime time, float value,
                uint32_t interpolation = KFCURVE_INTERPOLATION_CUBIC,
                uint32_t tangentMode = KFCURVE_TANGENT_AUTO, float data0 = 0.0f, float data1 = 0.0f,
                uint32_t weightMode = KFCURVE_WEIGHTED_NONE,
                float rightWeight = KFCURVE_WEIGHT_DEFAULT,
                float nextLeftWeight = KFCURVE_WEIGHT_DEFAULT, float rightVelocity = 0.0f,
                float nextLeftVelocity = 0.0f);
    void KeySetTCB(int index, KTime time, float value, float tension = 0.0f,
                   float continuity = 0.0f, float bias = 0.0f);

    // Default value, colour, tag, extrapolation.
    float GetValue() const { return mDefaultValue; }
    void SetValue(float value);
    const float* GetColor() const { return mColor; }
    void SetColor(const float* rgb);
    uint32_t GetTag() const { return mTag; }
    void SetTag(uint32_t tag) { mTag = tag; }
    int GetPreExtrapolation() const { return mPreType; }
    void SetPreExtrapolation(int type);
    uint32_t GetPreExtrapolationCount() const { return mPreCount; }
    void SetPreExtrapolationCount(uint32_t count);
    int GetPostExtrapolation() const { return mPostType; }
    void SetPostExtrapolation(int type);
    uint32_t GetPostExtrapolationCount() const { return mPostCount; }
    void SetPostExtrapolationCount(uint32_t count);
    uint32_t GetChangeCounter() const { return mChangeCounter; }

    // Change notification.
    void NotifyChange(uint32_t kind, int keyIndex);
    void SetImmediateNotification(bool on);
    bool GetImmediateNotification() const { return mImmediateNotification; }
    void SuspendChangeNotification() { SetImmediateNotification(false); }
    void ResumeChangeNotification();
    void DiscardPendingChanges() { mPending.Clear(); }
    void AddCallback(KFCurveCallback function, void* data);
    void RemoveCallback(KFCurveCallback function, void* data);

    // Evaluation cache.
    void ForgetEvaluationCache();
    void SetEvaluationCache(KTime time, float value);
    KTime GetEvaluationCacheTime() const { return mCacheTime; }
    float GetEvaluationCacheValue() const { return mCacheValue; }

    // Evaluation. A null hint uses the curve's own key-index hint.
    KFCurveKeyPosition KeyFindPosition(KTime time, int* hint = nullptr);
    double KeyFind(KTime time, int* hint = nullptr) { return KeyFindPosition(time, hint).mIndex; }
    KFCurveKeyPosition KeyFindExtrapolatedPosition(KTime time, int* hint = nullptr);
    double KeyFindExtrapolated(KTime time, int* hint = nullptr) {
        return KeyFindExtrapolatedPosition(time, hint).mIndex;
    }
    double EvaluateIndex(double index) const;
    double Evaluate(KTime time, int* hint = nullptr);
    double EvaluateCached(KTime time, int* hint = nullptr);
    double EvaluateLeftDerivative(KTime time, int* hint = nullptr);
    double EvaluateRightDerivative(KTime time, int* hint = nullptr);

    // Key tangents as evaluated (values per second).
    float KeyGetLeftDerivative(int index) const;
    float KeyGetRightDerivative(int index) const;
    float KeyGetLeftAuto(int index) const;
    float KeyGetRightAuto(int index) const;
    double KeyGetLeftAutoDerivative(double autoValue, int index) const;
    double KeyGetRightAutoDerivative(double autoValue, int index) const;
    double KeyGetLeftAutoFromDerivative(double derivative, int index) const;
    double KeyGetRightAutoFromDerivative(double derivative, int index) const;
    float KeyGetLeftTangentWeight(int index) const;
    float KeyGetRightTangentWeight(int index) const;
    float KeyGetLeftTangentVelocity(int index) const;
    float KeyGetRightTangentVelocity(int index) const;
    bool KeyIsLeftTangentWeighted(int index) const;
    bool KeyIsRightTangentWeighted(int index) const;
    float KeyGetLeftBezierValue(int index) const;
    float KeyGetRightBezierValue(int index) const;
    bool KeyIsFlat(int index) const;
    KFCurveKeyTangentInfo KeyGetLeftTangentInfo(int index) const;
    KFCurveKeyTangentInfo KeyGetRightTangentInfo(int index) const;
    // Secant slopes to the neighbouring keys (0 where a segment has no length).
    void KeyGetSlopes(int index, double& left, double& right) const;

    // Adding and replacing keys.
    int KeyAdd(KTime time, const KFCurveKey& key, int* hint = nullptr);
    int KeyReplace(int index, const KFCurveKey& key);
    int KeyReplaceFrom(int index, const KFCurve& other, int otherIndex);
    int KeyAppendFast(KTime time, float value);
    int KeyAddEvaluated(KTime time, int* hint = nullptr);
    int KeyInsert(KTime time, int* hint = nullptr);
    int KeyInsertAtCache(int* hint, uint32_t interpolation, uint32_t tangentMode, bool autoBreak,
                         bool retype, KTime time = KTIME_INFINITE, double window = 0.0);

    // Removing keys.
    int KeyRemoveAt(int index);
    bool KeyRemove(int first, int last);
    void KeyRemoveSpan(KTime start, KTime stop);

    // Tangent setters.
    void KeySetRightDerivative(int index, float derivative);
    void KeySetLeftDerivative(int index, float derivative);
    void KeySetRightAuto(int index, float autoValue);
    void KeySetLeftAuto(int index, float autoValue);
    void KeySetRightBezierValue(int index, float value);
    void KeySetLeftBezierValue(int index, float value);
    void KeySetRightTangentWeight(int index, float weight);
    void KeySetLeftTangentWeight(int index, float weight);
    void KeySetRightTangentWeightedMode(int index, bool on);
    void KeySetLeftTangentWeightedMode(int index, bool on);
    void KeySetRightTangentVelocity(int index, float velocity);
    void KeySetLeftTangentVelocity(int index, float velocity);
    void KeySetRightTangentVelocityMode(int index, bool on);
    void KeySetLeftTangentVelocityMode(int index, bool on);
    void KeySetRightTangentInfo(int index, const KFCurveKeyTangentInfo& info);
    void KeySetLeftTangentInfo(int index, const KFCurveKeyTangentInfo& info);

    void ScaleValues(bool markedOnly, float factor);

    // Replace this curve's keys inside [start, stop] by the source's keys there.
    void Replace(KFCurve* source, KTime start, KTime stop, bool keepSpan = false,
                 bool boundaryKeys = true);
    void ReplaceContinuous(KFCurve* source, KTime start, KTime stop, float startOffset,
                           float endOffset, bool startMirrored, bool endMirrored,
                           bool keepSpan = false, bool boundaryKeys = true);
    void ReplaceQuaternion(KFCurve* source, KTime start, KTime stop, float startScale,
                           float endScale, bool keepSpan = false, bool boundaryKeys = true);

    // Fit key k's tangents to a sampled source curve.
    static void KeyFitTangents(int index, KFCurve* curve, KFCurve* source, KTime step,
                               double tolerance);
    static int KeyInsertValue(KTime time, float value, KFCurve* curve, KFCurve* source, bool fit,
                              KTime step, double tolerance);

private:
    struct Callback {
        KFCurveCallback mFunction;
        void* mData;
        uint64_t mId;
    };
    enum class ReplaceForm { Plain, Continuous, Quaternion };
    struct ReplaceArgs {
        ReplaceForm mForm;
        float mStartOffset, mEndOffset;  // continuous
        bool mStartMirrored, mEndMirrored;
        float mStartScale, mEndScale;  // quaternion
    };

    // Tick differences never overflow: they are taken in 128 bits.
    static __int128 TickDiff(KTime to, KTime from) {
        return static_cast<__int128>(to.Get()) - static_cast<__int128>(from.Get());
    }
    static double ToSeconds(__int128 ticks) {
        return static_cast<double>(ticks) / static_cast<double>(KTime::kOneSecond);
    }
    const KFCurveKey& K(int index) const {
        assert(index >= 0 && index < mKeyCount);
        return mKeys[static_cast<size_t>(index)];
    }
    KFCurveKey& K(int index) {
        assert(index >= 0 && index < mKeyCount);
        return mKeys[static_cast<size_t>(index)];
    }
    // Binary searches over keys [lo, hi): first key with time >= t, first with time > t.
    int FirstKeyAtOrAfter(int lo, int hi, int64_t t) const {
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (K(mid).mTime.Get() < t)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    int FirstKeyAfter(int lo, int hi, int64_t t) const {
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (K(mid).mTime.Get() <= t)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    double SegmentSeconds(int from, int to) const;
    double EvaluateSegment(int a, int b, double u) const;
    double EvaluateSlope(KTime time, int* hint, bool rightSide);
    float TcbRight(int index) const;
    float TcbLeft(int index, float tension, float continuity, float bias) const;
    void Deliver();
    void OpenSlot(int index);
    void CloseSlots(int first, int count);
    int InsertKeyAt(KTime time, float value, int* hint, uint32_t interpolation,
                    uint32_t tangentMode, bool autoBreak, bool retype, double window);
    KFCurveKey* TangentOwner(int index, bool rightSide);
    void SetTangentBit(int index, bool rightSide, uint32_t bit, bool on);
    void SetTangentData(int index, bool rightSide, uint32_t bit, int slot, float value);
    void SetKeyTangentInfo(int index, const KFCurveKeyTangentInfo& info, bool right);
    void RestoreLeftTangentInfo(int index, const KFCurveKeyTangentInfo& info);
    void ReplaceSpan(KFCurve* source, KTime start, KTime stop, bool keepSpan, bool boundaryKeys,
                     const ReplaceArgs& args);
    void InsertBoundaryKeys(const KFCurve& source, KTime start, KTime stop);

    float mColor[3] = {1.0f, 1.0f, 1.0f};
    float mDefaultValue = 0.0f;
    uint32_t mChangeCounter = 0;
    bool mImmediateNotification = true;
    bool mNotificationEnabled = true;
    // Slots 0 .. size-1 exist (zero-filled when created); keys 0 .. mKeyCount-1 are in use.
    KFCurveKeyBlocks<KFCurveKey> mKeys;
    int mKeyCount = 0;
    int mPreType = KFCURVE_EXTRAPOLATION_CONSTANT;
    uint32_t mPreCount = 0;
    int mPostType = KFCURVE_EXTRAPOLATION_CONSTANT;
    uint32_t mPostCount = 0;
    uint32_t mTag = 0;
    int mLastIndex = 0;
    KTime mCacheTime = KTIME_INFINITE;
    float mCacheValue = 0.0f;
    KFCurveEvent mPending;
    std::vector<Callback> mCallbacks;
    uint64_t mNextCallbackId = 1;
};
