#include "io/KQovWriteOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "io/KStreamOptionsBase.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"

namespace {

const KStreamOptionsMotion* AsMotion(const KStreamOptions* options) {
    return options && options->IsA(KStreamOptionsMotion::ClassId())
               ? static_cast<const KStreamOptionsMotion*>(options)
               : nullptr;
}

// Marks every node with a marker attribute, the root's tree walked without recursion; the
// number marked.
int MarkMarkers(KQovNode* root) {
    int marked = 0;
    std::vector<KQovNode*> pending{root};
    while (!pending.empty()) {
        KQovNode* node = pending.back();
        pending.pop_back();
        const KQovNodeAttribute* attribute = node->GetNodeAttribute();
        if (attribute && attribute->GetAttributeType() == KQovNodeAttribute::eMarker) {
            node->SetMarked(true);
            ++marked;
        }
        for (int i = node->GetChildCount(); i-- > 0;) pending.push_back(node->GetChild(i));
    }
    return marked;
}

// Calls `visit` with every curve of the current take below `root`.
template <typename Visit>
void ForEachCurve(KQovNode* root, Visit visit) {
    for (KQovNode* node : KQovListNodes(root)) {
        KTime first = KTIME_INFINITE, last = KTIME_MINUS_INFINITE;
        // A take without keys (or one not made yet) is not asked for its channels.
        if (!node->KQovTakeNodeContainer::GetAnimationInterval(first, last)) continue;
        KQovTakeNode* take = node->GetCurrentTakeNode();
        std::vector<KFCurveNode*> pending{take ? take->GetRoot() : nullptr};
        while (!pending.empty()) {
            KFCurveNode* channel = pending.back();
            pending.pop_back();
            if (!channel) continue;
            if (KFCurve* curve = channel->GetCurve()) visit(*curve);
            for (int i = 0; i < channel->GetCount(); ++i) pending.push_back(channel->Get(i));
        }
    }
}

// The regular grid the keys below `root` lie on.
struct KeyGrid {
    // About the smallest step in ticks between two keys of a curve, when every key is a whole
    // number of steps from the first key of all; 0 when there is none (no curve with two keys,
    // or keys off any grid).
    double period = 0.0;
    // Some curve has a key at every step from its first key to its last, three keys at least:
    // samples of a recording rather than keys set at a few moments.
    bool sampled = false;
    // Some key shapes the curve after it as its author set it (TCB, or tangents of the
    // user's): key frames, whose motion between keys is the scene's, not samples' to join.
    // Their grid is a rate only where it is finer than the scene's frames: sampled there,
    // every key and the motion between them is kept (captures beside them too).
    bool keyFramed = false;
};

// A cubic key of TCB or of set tangents: the readers of captures make automatic tangents,
// lines and steps only.
bool ShapedKey(const KFCurve& curve, int k) {
    if (curve.KeyGetInterpolation(k) != KFCURVE_INTERPOLATION_CUBIC) return false;
    const uint32_t mode = curve.KeyGetTangentMode(k);
    return mode == KFCURVE_TANGENT_TCB || (mode & KFCURVE_TANGENT_USER) != 0;
}

KeyGrid FindKeyGrid(KQovNode* root) {
    KeyGrid grid;
    int64_t first = INT64_MAX, last = INT64_MIN, step = 0;
    // Key times may lie anywhere a file puts them: their differences stop at the longest
    // time rather than overflow.
    auto since = [](int64_t later, int64_t earlier) {
        return KTimeSaturatingSub(KTime(later), KTime(earlier)).Get();
    };
    ForEachCurve(root, [&](const KFCurve& curve) {
        for (int k = 0; k < curve.KeyGetCount(); ++k) {
            const int64_t t = curve.KeyGetTime(k).Get();
            // The last key shapes nothing after it.
            if (k + 1 < curve.KeyGetCount() && ShapedKey(curve, k)) grid.keyFramed = true;
            first = std::min(first, t);
            last = std::max(last, t);
            const int64_t gap = k > 0 ? since(t, curve.KeyGetTime(k - 1).Get()) : 0;
            if (gap > 0 && (step == 0 || gap < step)) step = gap;
        }
    });
    if (step <= 0) return grid;
    // Keys placed at rounded times sit a tick or so off the grid; the period is the whole
    // span's, so that those ticks do not add up.
    const double span = double(since(last, first));
    const double period = span / std::floor(span / double(step) + 0.5);
    const double tolerance = std::max(2.0, period * 1e-4);
    bool regular = true, sampled = false;
    ForEachCurve(root, [&](const KFCurve& curve) {
        double firstStep = 0.0, steps = 0.0;
        const int count = curve.KeyGetCount();
        for (int k = 0; regular && k < count; ++k) {
            const double offset = double(since(curve.KeyGetTime(k).Get(), first));
            steps = std::floor(offset / period + 0.5);
            regular = std::fabs(offset - steps * period) <= tolerance;
            if (k == 0) firstStep = steps;
        }
        // Keys on the grid in time order: as many as steps spanned, none left out.
        if (regular && count >= 3 && steps - firstStep == double(count - 1)) sampled = true;
    });
    if (regular) grid.period = period, grid.sampled = sampled;
    return grid;
}

// The current take's local time span; without a record of it, the span of the keys below
// the root; frame 0 alone when there are none.
void TakeSpan(KQovScene& scene, KTime& start, KTime& stop) {
    start = stop = KTIME_ZERO;
    if (const KQovTakeInfo* take = scene.FindTakeInfo(scene.GetCurrentTakeName())) {
        start = take->localTimeSpan.GetStart();
        stop = take->localTimeSpan.GetStop();
    } else if (!scene.GetRootNode() || !scene.GetRootNode()->GetAnimationInterval(start, stop) ||
               start == KTIME_MINUS_INFINITE || stop == KTIME_INFINITE) {
        start = stop = KTIME_ZERO;
    }
}

}  // namespace

KTime KQovGetTakeStart(KQovScene& scene) {
    KTime start, stop;
    TakeSpan(scene, start, stop);
    return start;
}

KQovWriteTiming KQovGetWriteTiming(KQovScene& scene, const KStreamOptions* readOptions) {
    KQovWriteTiming timing;
    KStreamOptionsMotion rate;  // only for its rate rules and frame period
    const KStreamOptionsMotion* read = AsMotion(readOptions);
    if (read && read->GetFrameRate() > 0.0)
        rate.SetFrameRate(read->GetTimeMode(), read->GetFrameRate());
    else
        rate.SetFrameRate(scene.GetGlobalTimeSettings().GetTimeMode(), 0.0);
    if (!(read && read->GetFrameRate() > 0.0) && scene.GetRootNode()) {
        // A scene keeps a rate only as a time mode: keys sampled at another rate (a 250 Hz
        // capture read back from QOV) carry their own on a grid that the mode's frames miss,
        // and those sampled at a lower one (10 Hz in a 30 fps scene) on a grid of every few
        // frames, where frames between would be made up.
        const KeyGrid grid = FindKeyGrid(scene.GetRootNode());
        const double frames = grid.period / double(rate.GetFramePeriod().Get());
        const double whole = std::floor(frames + 0.5);
        double keyRate = grid.period > 0.0 ? double(KTime::kOneSecond) / grid.period : 0.0;
        // Keys at times rounded to ticks put a whole rate a hair off (33.00000001 Hz); a
        // period of whole ticks, by up to a tick a frame (250000.85 Hz for 250 kHz). The
        // roundest whole rate that close is taken.
        const double hair = std::max(1e-8, grid.period > 0.0 ? 1.0 / grid.period : 0.0);
        const double low = keyRate * (1.0 - hair), high = keyRate * (1.0 + hair);
        for (double step = 1e9; step >= 1.0; step /= 10.0) {
            const double candidate = std::max(step, std::ceil(low / step) * step);
            if (candidate <= high) {
                keyRate = candidate;
                break;
            }
        }
        // Within the slack, the fastest rate read is the fastest a file holds.
        const double fastest = KStreamOptionsMotion::kFastestRate;
        if (keyRate > fastest && keyRate <= fastest * (1.0 + KStreamOptionsMotion::kRateSlack))
            keyRate = fastest;
        // Keys closer than a frame of the mode (a 30 kHz capture) are not on its grid, but
        // keys closer than any file holds are keys set at a few moments.
        const bool finer = whole < 1.0 && keyRate <= fastest;
        const bool finerThanFrames = frames < 1.0 - 1e-3 && keyRate <= fastest;
        if (grid.period > 0.0 && (!grid.keyFramed || finerThanFrames) &&
            (finer || std::fabs(frames - whole) > 1e-3 || (whole >= 2.0 && grid.sampled)))
            rate.SetFrameRate(0, keyRate);
    }
    timing.timeMode = rate.GetTimeMode();
    timing.rate = rate.GetFrameRate();

    KTime start, stop;
    TakeSpan(scene, start, stop);
    timing.start = start;
    const double period = double(rate.GetFramePeriod().Get());
    const double frames =
        stop > start && period > 0.0
            ? std::floor(double(KTimeSaturatingSub(stop, start).Get()) / period + 0.5)
            : 0.0;
    // A span no file could hold (a damaged take) is cut rather than allocated.
    timing.frameCount = int(std::min(frames, 1e8)) + 1;
    return timing;
}

int KQovFillWriteOptions(KQovScene& scene, KStreamOptions& options,
                         const KStreamOptions* readOptions) {
    const KStreamOptionsMotion* read = AsMotion(readOptions);
    if (read && read->GetTimeMode() != 0)
        scene.GetGlobalTimeSettings().SetTimeMode(read->GetTimeMode());
    if (options.IsA(KStreamOptionsMotion::ClassId())) {
        auto& motion = static_cast<KStreamOptionsMotion&>(options);
        const KQovWriteTiming timing = KQovGetWriteTiming(scene, readOptions);
        motion.SetFrameRate(timing.timeMode, timing.rate);
        motion.SetStartTime(timing.start);
        motion.SetFrameCount(timing.frameCount);
        return scene.GetRootNode() ? MarkMarkers(scene.GetRootNode()) : 0;
    }
    if (options.IsA(KStreamOptions3ds::ClassId()))
        static_cast<KStreamOptionsBase&>(options).SetTakeName(scene.GetCurrentTakeName());
    return 0;
}
