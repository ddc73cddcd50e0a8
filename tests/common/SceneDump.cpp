#include "common/SceneDump.h"

#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "foundation/KLocale.h"
#include "scene/KDataType.h"
#include "scene/KProperty.h"
#include "scene/KQovNode.h"
#include "scene/KQovObject.h"
#include "scene/KQovUserProperty.h"

namespace SceneDump {
namespace {

std::string Pad(int indent) {
    return std::string(size_t(indent) * 2, ' ');
}

std::string Number(double value) {
    return KFormatC("%.9g", value);
}

std::string PropertyLine(KProperty& property) {
    KString value;
    property.GetValueText(value);
    std::string line = KFormatC("property \"%s\" %s", property.GetName(), property.GetTypeName());
    if (const KDataType* type = property.GetDataType()) line += KFormatC(" [%s]", type->GetName());
    if (property.IsAnimatable()) line += " animatable";
    if (property.GetUserFlags()) line += KFormatC(" user 0x%x", property.GetUserFlags());
    line += " = ";
    line += value.Buffer();
    return line;
}

}  // namespace

std::string Curve(const KFCurve& curve, int indent, unsigned what) {
    const float* colour = curve.GetColor();
    std::string out = Pad(indent) +
                      KFormatC("curve default %s colour %s %s %s keys %d\n",
                               Number(curve.GetValue()).c_str(), Number(colour[0]).c_str(),
                               Number(colour[1]).c_str(), Number(colour[2]).c_str(),
                               curve.KeyGetCount());
    if (!(what & eKeys)) return out;
    for (int i = 0; i < curve.KeyGetCount(); ++i) {
        out += Pad(indent + 1) + KFormatC("key %lld %s 0x%x\n", (long long)curve.KeyGetTime(i).Get(),
                                          Number(curve.KeyGetValue(i)).c_str(),
                                          curve.KeyGet(i)->GetFlags());
    }
    return out;
}

std::string Channels(const KFCurveNode& channel, int indent, unsigned what) {
    std::string out = Pad(indent) + KFormatC("channel \"%s\"", channel.GetName());
    if (const KDataType* type = channel.GetDataType()) out += KFormatC(" [%s]", type->GetName());
    out += "\n";
    if (const KFCurve* curve = channel.GetCurve()) out += Curve(*curve, indent + 1, what);
    for (int i = 0; i < channel.GetCount(); ++i)
        if (const KFCurveNode* child = channel.Get(i)) out += Channels(*child, indent + 1, what);
    return out;
}

std::string Take(const KQovTakeNode& take, int indent, unsigned what, bool current) {
    std::string out =
        Pad(indent) + KFormatC("take \"%s\"%s\n", take.GetName(), current ? " current" : "");
    if (take.GetRoot()) out += Channels(*take.GetRoot(), indent + 1, what);
    return out;
}

std::string Object(KQovObject& object, int indent, unsigned what) {
    std::string out = Pad(indent) + KFormatC("object \"%s\" type %d\n", object.GetName(),
                                             object.GetObjectType());
    if (what & eProperties) {
        std::vector<KProperty*> properties;
        object.CollectProperties(properties);
        for (KProperty* property : properties)
            if (property) out += Pad(indent + 1) + PropertyLine(*property) + "\n";
        for (int i = 0; i < object.GetUserPropertyCount(); ++i) {
            KQovUserProperty* up = object.GetUserProperty(i);
            out += Pad(indent + 1) + KFormatC("user property \"%s\" %s\n", up->GetName().Buffer(),
                                              KQovUserProperty::GetTypeName(up->GetType()));
        }
    }
    if (what & eTakes) {
        if (auto* container = dynamic_cast<KQovTakeNodeContainer*>(&object)) {
            for (int i = 0; i < container->GetTakeNodeCount(); ++i)
                out += Take(*container->GetTakeNode(i), indent + 1, what,
                            i == container->GetCurrentTakeNodeIndex());
        }
    }
    return out;
}

std::string NodeTree(KQovNode& node, unsigned what, int indent) {
    std::string out = Object(node, indent, what);
    for (int i = 0; i < node.GetChildCount(); ++i)
        if (KQovNode* child = node.GetChild(i)) out += NodeTree(*child, what, indent + 1);
    return out;
}

}  // namespace SceneDump
