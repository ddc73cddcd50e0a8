#include "animation/KFCurveFilterKeySync.h"

#include <cmath>
#include <memory>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"

namespace {

const char* const kStatus[] = {"No key", "Left unchanged", "Multiple key count", "Unsynched keys",
                               "Too many curves"};

const KTime kOneTick(1);

}  // namespace

KFCurveFilterKeySync::KFCurveFilterKeySync()
    : KFCurveFilter("FCurve Key Synchronizer", kStatus, 5) {
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
    if (count < 1 || !curves[0]) return false;
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

bool KFCurveFilterKeySync::Apply(KFCurve** curves, int count) {
    if (count < 2) {
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
    int maxKeys = 0;
    for (int c = 0; c < count; ++c) {
        if (curves[c]->KeyGetCount() > maxKeys) maxKeys = curves[c]->KeyGetCount();
    }
    // The copies keep each curve's shape from before the first insertion.
    std::vector<std::unique_ptr<KFCurve>> copies;
    std::vector<int> hints(static_cast<size_t>(count), -1);
    std::vector<int> copyHints(static_cast<size_t>(count), -1);
    for (int c = 0; c < count; ++c) {
        curves[c]->SuspendChangeNotification();
        curves[c]->ResizeKeyBuffer(maxKeys);
        copies.emplace_back(curves[c]->Clone());
    }

    KTime t = mStart == KTIME_MINUS_INFINITE ? mStart : mStart - kOneTick;
    for (;;) {
        KTime next = KTIME_INFINITE;
        for (int c = 0; c < count; ++c) {
            KFCurve& curve = *curves[c];
            const int keys = curve.KeyGetCount();
            if (keys == 0) continue;
            int k = 0;
            if (t != KTIME_MINUS_INFINITE) {
                int& hint = hints[static_cast<size_t>(c)];
                if (hint < 0) hint = 0;
                double index = std::ceil(curve.KeyFind(t, &hint));
                k = index < keys - 1 ? static_cast<int>(index) : keys - 1;
                if (k < 0) k = 0;
            }
            KTime keyTime = curve.KeyGetTime(k);
            // A key exactly at t (only possible at the start) must not hide the next one.
            if (keyTime <= t && k + 1 < keys) keyTime = curve.KeyGetTime(k + 1);
            if (keyTime > t && keyTime < next) next = keyTime;
        }
        if (next == KTIME_INFINITE || next > mStop) break;
        t = next;
        for (int c = 0; c < count; ++c) {
            KFCurve& curve = *curves[c];
            int& hint = hints[static_cast<size_t>(c)];
            if (hint < 0) hint = 0;
            const int index = curve.KeyInsert(t, &hint);
            int& copyHint = copyHints[static_cast<size_t>(c)];
            if (copyHint < 0) copyHint = 0;
            curve.KeySetValue(
                index, static_cast<float>(copies[static_cast<size_t>(c)]->Evaluate(t, &copyHint)));
        }
        t = t + kOneTick;
    }

    for (int c = 0; c < count; ++c) curves[c]->ResumeChangeNotification();
    while (!copies.empty()) copies.pop_back();  // destroyed in reverse order
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
