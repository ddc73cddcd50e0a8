#include "animation/KFCurveFilterKeySync.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"

namespace {

const char* const kKeySyncStatus[] = {"No key", "Left unchanged", "Multiple key count",
                                      "Unsynched keys", "Too many curves"};

const KTime kSyncTick(1);

}  // namespace

KFCurveFilterKeySync::KFCurveFilterKeySync()
    : KFCurveFilter("FCurve Key Synchronizer", kKeySyncStatus, 5) {
    KFCurveFilter::Reset();
}

void KFCurveFilterKeySync::RefuseSingle() {
    mError.SetErrorWithText(1, "KeySyncFilter, No key were changed by filter.");
}

void KFCurveFilterKeySync::RefuseTooMany() {
    mError.SetErrorWithText(4,
                            "KeySyncFilter, Curve count is too mush. No support above 20 curves..");
}

bool KFCurveFilterKeySync::NeedApply(KFCurve&) {
    RefuseSingle();
    return false;
}

bool KFCurveFilterKeySync::Apply(KFCurve&) {
    RefuseSingle();
    return false;
}

bool KFCurveFilterKeySync::NeedApply(KFCurve** curves, int count) {
    if (!curves || count < 1 || !curves[0]) return false;
    const int keyCount = curves[0]->KeyGetCount();
    for (int c = 1; c < count; ++c) {
        if (!curves[c] || curves[c]->KeyGetCount() != keyCount) {
            mError.SetErrorWithText(
                2, "KeySyncFilter, Key count is different in the Curves to be filtered.");
            return true;
        }
    }
    for (int k = 0; k < keyCount; ++k) {
        const KTime time = curves[0]->KeyGetTime(k);
        for (int c = 1; c < count; ++c) {
            if (curves[c]->KeyGetTime(k) != time) {
                mError.SetErrorWithText(3, "KeySyncFilter, keys are not synchronized.");
                return true;
            }
        }
    }
    return false;
}

namespace {

// Inserts a key at every time, valued as the curve was before, one insertion at a time.
void InsertOneByOne(KFCurve& curve, const std::vector<KTime>& times) {
    std::unique_ptr<KFCurve> before(curve.Clone());
    int hint = 0;
    int beforeHint = 0;
    for (const KTime& t : times) {
        const int index = curve.KeyInsert(t, &hint);
        curve.KeySetValue(index, static_cast<float>(before->Evaluate(t, &beforeHint)));
    }
}

// The same result in one pass. An insertion only reads and rewrites the keys on either side
// of the new one, so it runs on a small window of neighbours; the curve's keys are rebuilt
// once at the end instead of being moved up at every insertion. Outside the keys the window
// must see what the curve sees, so only constant extrapolation goes this way.
void InsertInOnePass(KFCurve& curve, const std::vector<KTime>& times) {
    const int count = curve.KeyGetCount();
    std::vector<KFCurveKey> ahead(static_cast<size_t>(count));  // keys not yet passed
    for (int k = 0; k < count; ++k) ahead[static_cast<size_t>(k)] = *curve.KeyGet(k);
    std::vector<KFCurveKey> done;
    done.reserve(ahead.size() + times.size());
    std::unique_ptr<KFCurve> window(KFCurve::Create());
    window->CopyFrom(curve, false);
    constexpr size_t kReach = 3;  // neighbours loaded on each side
    size_t next = 0;
    int hint = 0;
    for (const KTime& t : times) {
        while (next < ahead.size() && ahead[next].GetTime() < t) done.push_back(ahead[next++]);
        const float value = static_cast<float>(curve.Evaluate(t, &hint));
        if (next < ahead.size() && ahead[next].GetTime() == t) {
            ahead[next].SetValue(value);
            continue;
        }
        const size_t left = std::min(done.size(), kReach);
        const size_t right = std::min(ahead.size() - next, kReach);
        const int loaded = static_cast<int>(left + right);
        window->PrepareKeys(loaded);
        for (size_t k = 0; k < left; ++k) {
            *window->KeyGet(static_cast<int>(k)) = done[done.size() - left + k];
        }
        for (size_t k = 0; k < right; ++k) {
            *window->KeyGet(static_cast<int>(left + k)) = ahead[next + k];
        }
        window->CommitKeys(loaded);
        const int at = window->KeyInsert(t);
        window->KeySetValue(at, value);
        if (left > 0) done.back() = *window->KeyGet(at - 1);
        done.push_back(*window->KeyGet(at));
        if (right > 0) ahead[next] = *window->KeyGet(at + 1);
    }
    while (next < ahead.size()) done.push_back(ahead[next++]);
    const int total = static_cast<int>(done.size());
    curve.PrepareKeys(total);
    for (int k = 0; k < total; ++k) *curve.KeyGet(k) = done[static_cast<size_t>(k)];
    curve.NotifyChange(KFCURVE_EVENT_KEYS, -1);
    curve.CommitKeys(total);
}

}  // namespace

bool KFCurveFilterKeySync::Apply(KFCurve** curves, int count) {
    if (!curves || count < 2) {
        RefuseSingle();
        return false;
    }
    if (count > kMaxCurves) {
        RefuseTooMany();
        return false;
    }
    for (int c = 0; c < count; ++c) {
        if (!curves[c]) {
            RefuseSingle();
            return false;
        }
    }
    // Every key time of any curve after the start (less one tick) and up to the stop.
    const KTime after = mStart == KTIME_MINUS_INFINITE ? mStart : mStart - kSyncTick;
    std::vector<KTime> times;
    for (int c = 0; c < count; ++c) {
        const KFCurve& curve = *curves[c];
        for (int k = 0; k < curve.KeyGetCount(); ++k) {
            const KTime t = curve.KeyGetTime(k);
            if (t > after && t <= mStop && t != KTIME_INFINITE) times.push_back(t);
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    if (times.empty()) return true;

    for (int c = 0; c < count; ++c) {
        KFCurve& curve = *curves[c];
        curve.SuspendChangeNotification();
        if (curve.KeyGetCount() > 0 &&
            curve.GetPreExtrapolation() == KFCURVE_EXTRAPOLATION_CONSTANT &&
            curve.GetPostExtrapolation() == KFCURVE_EXTRAPOLATION_CONSTANT) {
            InsertInOnePass(curve, times);
        } else {
            InsertOneByOne(curve, times);
        }
        curve.ResumeChangeNotification();
    }
    return true;
}

namespace {

std::vector<KFCurve*> ChildCurves(KFCurveNode& node) {
    std::vector<KFCurve*> curves;
    for (int i = 0; i < node.GetCount(); ++i) {
        KFCurveNode* child = node.Get(i);
        if (child && child->GetCurve()) curves.push_back(child->GetCurve());
    }
    return curves;
}

}  // namespace

bool KFCurveFilterKeySync::NeedApply(KFCurveNode& node, bool) {
    if (node.GetCount() > kMaxCurves) {
        RefuseTooMany();
        return false;
    }
    std::vector<KFCurve*> curves = ChildCurves(node);
    return NeedApply(curves.data(), static_cast<int>(curves.size()));
}

bool KFCurveFilterKeySync::Apply(KFCurveNode& node, bool) {
    if (node.GetCount() > kMaxCurves) {
        RefuseTooMany();
        return false;
    }
    std::vector<KFCurve*> curves = ChildCurves(node);
    return Apply(curves.data(), static_cast<int>(curves.size()));
}
