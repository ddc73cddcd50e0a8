#include "io/KQovWriteOptions.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "io/KStreamOptionsBase.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
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

}  // namespace

KQovWriteTiming KQovGetWriteTiming(KQovScene& scene, const KStreamOptions* readOptions) {
    KQovWriteTiming timing;
    KStreamOptionsMotion rate;  // only for its rate rules and frame period
    const KStreamOptionsMotion* read = AsMotion(readOptions);
    if (read && read->GetFrameRate() > 0.0)
        rate.SetFrameRate(read->GetTimeMode(), read->GetFrameRate());
    else
        rate.SetFrameRate(scene.GetGlobalTimeSettings().GetTimeMode(), 0.0);
    timing.timeMode = rate.GetTimeMode();
    timing.rate = rate.GetFrameRate();

    KTime start, stop;
    if (const KQovTakeInfo* take = scene.GetTakeInfo(scene.GetCurrentTakeName())) {
        start = take->localTimeSpan.GetStart();
        stop = take->localTimeSpan.GetStop();
    } else if (!scene.GetRootNode() || !scene.GetRootNode()->GetAnimationInterval(start, stop) ||
               start == KTIME_MINUS_INFINITE || stop == KTIME_INFINITE) {
        start = stop = KTIME_ZERO;
    }
    timing.start = start;
    const double period = double(rate.GetFramePeriod().Get());
    const double frames = stop > start && period > 0.0
                              ? std::floor(double((stop - start).Get()) / period + 0.5)
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
