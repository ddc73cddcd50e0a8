#include "animation/KFCurveFilterConstantKeyReducer.h"

#include <cstring>
#include <memory>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"

namespace {

const char* const kStatus[] = {"No key", "Left unchanged"};

constexpr double kDefaultPrecision = 0.009;
constexpr double kDefaultScalingPrecision = 0.004;

}  // namespace

KFCurveFilterConstantKeyReducer::KFCurveFilterConstantKeyReducer()
    : KFCurveFilter("Constant Key Reducer", kStatus, 2) {
    Reset();
}

void KFCurveFilterConstantKeyReducer::Reset() {
    mSparePrecision = kDefaultPrecision;
    mPrecision = kDefaultPrecision;
    mTranslationPrecision = kDefaultPrecision;
    mRotationPrecision = kDefaultPrecision;
    mScalingPrecision = kDefaultScalingPrecision;
    mOtherPrecision = kDefaultPrecision;
    mFlag = false;
    mKeepFirstKey = false;
    KFCurveFilter::Reset();
}

namespace {

// The curve as the reduction sees it while removing runs from the last key down. Runs are
// only marked; the keys below the current position keep their indices, the survivors
// above are reached through links, and the tangent fix-up that a removal makes at its
// seam is replayed on a few neighbouring keys. The curve is rebuilt once at the end, so
// the pass stays linear however many runs go.
class RunRemover {
public:
    explicit RunRemover(KFCurve& curve)
        : mCurve(curve), mCount(curve.KeyGetCount()), mUp(static_cast<size_t>(mCount)) {
        for (int k = 0; k < mCount; ++k) mUp[static_cast<size_t>(k)] = k + 1;
        mWindow.reset(KFCurve::Create());
    }

    int Count() const { return mCount - mRemoved; }
    // The next surviving key above a key; the original count when there is none.
    int Up(int k) const { return k < mCount ? mUp[static_cast<size_t>(k)] : mCount; }

    bool IsFlat(int i) {
        const uint32_t flags = mCurve.KeyGet(i)->GetFlags();
        if (!(flags & KFCURVE_TANGENT_AUTO)) return false;
        int keys[3];
        int n = 0;
        if (i > 0) keys[n++] = i - 1;
        const int at = n;
        keys[n++] = i;
        if (Up(i) < mCount) keys[n++] = Up(i);
        Load(keys, n);
        return mWindow->KeyIsFlat(at);
    }

    // Removes original keys lo..hi (alive and contiguous), as KFCurve::KeyRemove would.
    void Remove(int lo, int hi) {
        int keys[5];
        int n = 0;
        if (lo >= 2) keys[n++] = lo - 2;
        if (lo >= 1) keys[n++] = lo - 1;
        const int at = n;
        keys[n++] = hi;
        const int s = Up(hi);
        if (s < mCount) {
            keys[n++] = s;
            if (Up(s) < mCount) keys[n++] = Up(s);
        }
        Load(keys, n);
        mWindow->KeyRemoveAt(at);
        for (int w = 0, k = 0; k < n; ++k) {
            if (k == at) continue;
            *mCurve.KeyGet(keys[k]) = *mWindow->KeyGet(w++);
        }
        if (lo >= 1) mUp[static_cast<size_t>(lo - 1)] = s;
        for (int k = lo; k <= hi; ++k) mUp[static_cast<size_t>(k)] = -1;
        mRemoved += hi - lo + 1;
    }

    // Writes the survivors back as the curve's keys.
    void Commit() {
        if (mRemoved == 0) return;
        std::vector<KFCurveKey> kept;
        kept.reserve(static_cast<size_t>(Count()));
        for (int k = 0; k < mCount; ++k) {
            if (mUp[static_cast<size_t>(k)] >= 0) kept.push_back(*mCurve.KeyGet(k));
        }
        const int n = static_cast<int>(kept.size());
        mCurve.KeyClear();
        mCurve.PrepareKeys(n);
        for (int k = 0; k < n; ++k) *mCurve.KeyGet(k) = kept[static_cast<size_t>(k)];
        mCurve.CommitKeys(n);
    }

private:
    void Load(const int* keys, int n) {
        mWindow->PrepareKeys(n);
        for (int k = 0; k < n; ++k) *mWindow->KeyGet(k) = *mCurve.KeyGet(keys[k]);
        mWindow->CommitKeys(n);
    }

    KFCurve& mCurve;
    const int mCount;
    int mRemoved = 0;
    std::vector<int> mUp;  // -1 once removed
    std::unique_ptr<KFCurve> mWindow;
};

}  // namespace

bool KFCurveFilterConstantKeyReducer::Apply(KFCurve& curve) {
    if (curve.KeyGetCount() == 0) {
        mError.SetErrorWithText(0, "ConstantKeyReducer, No key to be filtered.");
        return false;
    }
    const int first = GetStartKeyIndex(curve);
    // Indices below the current key are the curve's own; `last` is the original index of
    // the last surviving key in range.
    int last = GetStopKeyIndex(curve) - 1;
    RunRemover keys(curve);
    auto passes = [&](int i, float lo, float hi) {
        if (curve.KeyGetInterpolation(i) == KFCURVE_INTERPOLATION_CUBIC && !keys.IsFlat(i)) {
            return false;
        }
        const int above = keys.Up(i);
        const int twoAbove = keys.Up(above);
        const int order[5] = {twoAbove, above, i, i - 1, i - 2};
        for (int j : order) {
            if (j < first || j > last) continue;
            const float value = curve.KeyGetValue(j);
            if (!(lo <= value && value <= hi)) return false;  // NaN fails too
        }
        return true;
    };

    int i = last;
    while (i >= first) {
        const float value = curve.KeyGetValue(i);
        const float lo = static_cast<float>(value - mPrecision);
        const float hi = static_cast<float>(value + mPrecision);
        int count = 0;
        int low = i;
        while (i >= first) {
            if (!passes(i, lo, hi)) {
                --i;  // the failing key does not start a new run
                break;
            }
            low = i;
            ++count;
            --i;
        }
        if (count == 0) continue;
        if (count != keys.Count()) {
            keys.Remove(low, low + count - 1);
            if (low + count - 1 == last) last = low - 1;
        } else if (mKeepFirstKey) {
            if (first + 1 <= last) curve.KeyRemove(first + 1, last);
            return true;
        } else {
            const float kept = curve.KeyGetValue(0);
            curve.KeyClear();
            curve.SetValue(kept);
            return true;
        }
    }
    keys.Commit();
    return true;
}

namespace {

enum Channel { kRotation, kScaling, kTranslation, kOther };

bool IsOneOf(const char* name, const char* a, const char* b) {
    return std::strcmp(name, a) == 0 || std::strcmp(name, b) == 0;
}

Channel ClassifyChannel(const KFCurveNode& node) {
    const char* name = node.GetName();
    const KFCurveNode* parent = node.GetParent();
    const char* parentName = parent ? parent->GetName() : "";
    if (IsOneOf(name, "R", "Lcl Rotation") || IsOneOf(parentName, "R", "Lcl Rotation")) {
        return kRotation;
    }
    if (IsOneOf(name, "S", "Lcl Scaling") || IsOneOf(parentName, "S", "Lcl Scaling")) {
        return kScaling;
    }
    if (IsOneOf(name, "T", "Lcl Translation") || IsOneOf(parentName, "T", "Lcl Translation")) {
        return kTranslation;
    }
    return kOther;
}

// Exact comparison of the bit patterns: only an untouched default is replaced.
bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof(double)) == 0;
}

}  // namespace

bool KFCurveFilterConstantKeyReducer::Apply(KFCurveNode& node, bool recursive) {
    const double savedSpare = mSparePrecision;
    const double savedPrecision = mPrecision;
    double defaultValue = kDefaultPrecision;
    double channelPrecision = mOtherPrecision;
    switch (ClassifyChannel(node)) {
        case kRotation:
            channelPrecision = mRotationPrecision;
            break;
        case kScaling:
            // Only a caller's 0.004 gives way on scaling channels; 0.009 is kept.
            defaultValue = kDefaultScalingPrecision;
            channelPrecision = mScalingPrecision;
            break;
        case kTranslation:
            channelPrecision = mTranslationPrecision;
            break;
        case kOther:
            break;
    }
    if (SameBits(mSparePrecision, defaultValue)) mSparePrecision = channelPrecision;
    if (SameBits(mPrecision, defaultValue)) mPrecision = channelPrecision;
    const bool result = ApplyCurveNode(node, recursive);
    mSparePrecision = savedSpare;
    mPrecision = savedPrecision;
    return result;
}
