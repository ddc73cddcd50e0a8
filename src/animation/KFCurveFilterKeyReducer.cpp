#include "animation/KFCurveFilterKeyReducer.h"

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveFilterKeySync.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveUtilities.h"

namespace {

const char* const kKeyReducerStatus[] = {"No key", "Left unchanged"};

// A key of the fitted curve, kept at the index of the source key it was taken from.
struct FitKey {
    bool mPresent = false;
    float mValue = 0.0f;
    float mData0 = 0.0f;
    float mData1 = 0.0f;
    uint32_t mTangentMode = KFCURVE_TANGENT_USER;
};

void SetFitKey(KFCurve& curve, int index, KTime time, const FitKey& key) {
    curve.KeySet(index, time, key.mValue, KFCURVE_INTERPOLATION_CUBIC, key.mTangentMode, key.mData0,
                 key.mData1, KFCURVE_WEIGHTED_NONE, KFCURVE_WEIGHT_DEFAULT, KFCURVE_WEIGHT_DEFAULT,
                 0.0f, 0.0f);
}

// Keys are reduced curve by curve, then synchronised once over them all when asked.
template <class Reduce, class Sync>
bool ReduceThenSync(KFCurveFilterKeyReducer& filter, bool syncable, Reduce reduce, Sync sync) {
    const bool keySync = filter.GetKeySync();
    filter.SetKeySync(false);
    const bool result = reduce();
    if (keySync && syncable) {
        KFCurveFilterKeySync syncFilter;
        syncFilter.SetStart(filter.GetStart());
        syncFilter.SetStop(filter.GetStop());
        sync(syncFilter);
    }
    filter.SetKeySync(keySync);
    return result;
}

}  // namespace

KFCurveFilterKeyReducer::KFCurveFilterKeyReducer()
    : KFCurveFilter("Bezier Fit/Key Reducer", kKeyReducerStatus, 2),
      mPrecision(1.0),
      mKeySync(false) {
    KFCurveFilter::Reset();
}

void KFCurveFilterKeyReducer::Reset() {
    mPrecision = 1.0;
    mKeySync = false;
    KFCurveFilter::Reset();
}

bool KFCurveFilterKeyReducer::Reduce(KFCurve& source, KFCurve& fitted, KTime t0, KTime t1) {
    const int i0 = static_cast<int>(std::floor(source.KeyFind(t0)));
    const int i1 = static_cast<int>(std::ceil(source.KeyFind(t1)));
    if (i0 < 0 || i1 <= i0 || i1 >= source.KeyGetCount()) return false;

    // Between two keys of the fitted curve that are neighbours while their stretch is
    // worked on, its shape depends on those two keys alone; so a two-key curve stands
    // for the segment and no key of the growing curve ever has to move.
    std::vector<FitKey> keys(static_cast<size_t>(i1 - i0 + 1));
    auto key = [&](int sourceIndex) -> FitKey& {
        return keys[static_cast<size_t>(sourceIndex - i0)];
    };
    key(i0) = {true, source.KeyGetValue(i0), source.KeyGetRightDerivative(i0),
               source.KeyGetLeftDerivative(i1), KFCURVE_TANGENT_USER};
    key(i1) = {true, source.KeyGetValue(i1), 0.0f, 0.0f, KFCURVE_TANGENT_AUTO};

    std::unique_ptr<KFCurve> segment(KFCurve::Create());
    const double limit = mPrecision * mPrecision;
    // Stretches still to fit; the left one of a split is worked on first.
    std::vector<std::pair<int, int>> work;
    work.emplace_back(i0, i1);
    while (!work.empty()) {
        const auto [a, b] = work.back();
        work.pop_back();

        segment->PrepareKeys(2);
        SetFitKey(*segment, 0, source.KeyGetTime(a), key(a));
        SetFitKey(*segment, 1, source.KeyGetTime(b), key(b));
        segment->CommitKeys(2);

        double worst = 0.0;
        int worstIndex = a;
        int hint = 0;
        for (int i = a; i < b; ++i) {
            const double error =
                segment->Evaluate(source.KeyGetTime(i), &hint) - source.KeyGetValue(i);
            if (error * error > worst) {
                worst = error * error;
                worstIndex = i;
            }
        }
        if (!(worst > limit) || worstIndex == a) continue;

        const int k = worstIndex;
        const float right = source.KeyGetRightDerivative(k);
        const float left = source.KeyGetLeftDerivative(k);
        key(k) = {true, source.KeyGetValue(k), right, key(a).mData1,
                  left == right ? KFCURVE_TANGENT_USER : KFCURVE_TANGENT_BREAK};
        key(a).mData1 = left;
        if (b - k > 1) work.emplace_back(k, b);
        if (k - a > 1) work.emplace_back(a, k);
    }

    int count = 0;
    for (const FitKey& k : keys) count += k.mPresent ? 1 : 0;
    fitted.KeyClear();
    fitted.PrepareKeys(count);
    int out = 0;
    for (int i = i0; i <= i1; ++i) {
        if (key(i).mPresent) SetFitKey(fitted, out++, source.KeyGetTime(i), key(i));
    }
    fitted.CommitKeys(count);
    return true;
}

bool KFCurveFilterKeyReducer::Apply(KFCurve& curve) {
    const int count = curve.KeyGetCount();
    if (count < 2) {
        mError.SetErrorWithText(1, "KeyReducer, No key were changed by filter.");
        return false;
    }
    const KTime first = curve.KeyGetTime(0);
    const KTime last = curve.KeyGetTime(count - 1);
    const KTime t0 = mStart > first ? mStart : first;
    const KTime t1 = mStop < last ? mStop : last;
    // Compared, not subtracted: keys near both ends of time span more than 64 bits of ticks.
    if (t1 <= t0) {
        mError.SetErrorWithText(1, "KeyReducer, Invalid Time Span. No key were changed by filter.");
        return false;
    }
    std::unique_ptr<KFCurve> fitted(KFCurve::Create());
    fitted->CopyFrom(curve, false);
    if (!Reduce(curve, *fitted, t0, t1)) return false;
    std::unique_ptr<KFCurve> original(KFCurve::Create());
    original->CopyFrom(curve, true);
    FCurveMerge(*original, *fitted, curve);
    return true;
}

bool KFCurveFilterKeyReducer::Apply(KFCurve** curves, int count) {
    return ReduceThenSync(
        *this, count >= 2, [&] { return ApplyCurveArray(curves, count); },
        [&](KFCurveFilterKeySync& sync) { sync.Apply(curves, count); });
}

bool KFCurveFilterKeyReducer::Apply(KFCurveNode& node, bool recursive) {
    return ReduceThenSync(
        *this, node.GetCount() > 1, [&] { return ApplyCurveNode(node, recursive); },
        [&](KFCurveFilterKeySync& sync) { sync.Apply(node, recursive); });
}
