#include "attributes/KQovShadingChannels.h"

#include <memory>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "scene/KDataType.h"
#include "scene/KQovTakeNodeContainer.h"

namespace {

// Owned here until a parent takes it, so that running out of memory leaves nothing behind.
std::unique_ptr<KFCurveNode> NewChannel(KQovTakeNode* take, const char* name,
                                        const char* dataType) {
    if (!take || !take->GetRoot()) return nullptr;
    return std::unique_ptr<KFCurveNode>(KFCurveNode::Create(name, KDataType::FindByName(dataType)));
}

}  // namespace

void KQovShadingChannels::AddVector(KQovTakeNode* take, const char* name, const char* dataType,
                                    const double* values, KQovTakeNodeContainer* linker,
                                    KProperty* property) {
    std::unique_ptr<KFCurveNode> channel = NewChannel(take, name, dataType);
    if (!channel) return;
    KFCurve* curves[3] = {};
    for (int c = 0; c < 3; ++c) {
        std::unique_ptr<KFCurveNode> component(
            KFCurveNode::Create(KQovTakeNodeContainer::GetComponentName(c)));
        curves[c] = KFCurve::Create(values[c], c == 0, c == 1, c == 2);
        component->SetCurve(curves[c]);
        channel->Add(component.get());
        component.release();
    }
    take->GetRoot()->Add(channel.get());
    channel.release();
    // Linked once the take holds the curves: whoever drops the take unlinks them.
    for (int c = 0; c < 3 && linker; ++c) linker->LinkPropertyToCurve(property, c, curves[c]);
}

void KQovShadingChannels::AddSingle(KQovTakeNode* take, const char* name, const char* dataType,
                                    double value, KQovTakeNodeContainer* linker,
                                    KProperty* property) {
    std::unique_ptr<KFCurveNode> channel = NewChannel(take, name, dataType);
    if (!channel) return;
    KFCurve* curve = KFCurve::Create(value, 0.75f, 0.0f, 0.0f);
    channel->SetCurve(curve);
    take->GetRoot()->Add(channel.get());
    channel.release();
    if (linker) linker->LinkPropertyToCurve(property, 0, curve);
}

KFCurve* KQovShadingChannels::DefaultCurve(const KQovTakeNodeContainer& object, const char* name,
                                           int component) {
    KQovTakeNode* take = object.GetDefaultTakeNode();
    KFCurveNode* channel = take && take->GetRoot() ? take->GetRoot()->Find(name) : nullptr;
    if (channel && component >= 0) {
        const int at = channel->FindIndexByName(KQovTakeNodeContainer::GetComponentName(component));
        channel = at >= 0 ? channel->Get(at) : nullptr;
    }
    return channel ? channel->GetCurve() : nullptr;
}

double KQovShadingChannels::GetDefault(const KQovTakeNodeContainer& object, const char* name,
                                       int component, double fallback) {
    const KFCurve* curve = DefaultCurve(object, name, component);
    return curve ? curve->GetValue() : fallback;
}

bool KQovShadingChannels::SetDefault(const KQovTakeNodeContainer& object, const char* name,
                                     int component, double value) {
    KFCurve* curve = DefaultCurve(object, name, component);
    if (!curve) return false;
    curve->SetValue(float(value));
    return true;
}
