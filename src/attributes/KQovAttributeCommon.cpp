#include "attributes/KQovAttributeCommon.h"

#include <memory>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSceneTypes.h"
#include "animation/KQovTakeNode.h"
#include "scene/KQovNode.h"

namespace KQovAttributeRows {

KQovPropertyDescriptor Embedded(const char* name, int typeCode, double x, double y, double z,
                                const char* const* enumLabels) {
    KQovPropertyDescriptor d{name, typeCode};
    d.defaultValue[0] = x;
    d.defaultValue[1] = y;
    d.defaultValue[2] = z;
    d.enumLabels = enumLabels;
    return d;
}

KQovPropertyDescriptor Animatable(const char* name, const char* dataType, double x, double y,
                                  double z) {
    KQovPropertyDescriptor d = Embedded(name, 0, x, y, z);
    d.dataType = dataType;
    d.form = KQovPropertyDescriptor::eCreated;
    d.animatable = true;
    d.userFlags = 8;
    return d;
}

}  // namespace KQovAttributeRows

KStringList KQovTypeNames(std::initializer_list<const char*> names) {
    KStringList list;
    for (const char* name : names) list.Add(name);
    return list;
}

KQovAttributeProperties::KQovAttributeProperties(const KQovPropertyDescriptor* rows, int count)
    : KQovPropertyHandler(nullptr) {
    CreateTableProperties(rows, count);
}

double KQovAttributeProperties::GetNumber(int row, int component) const {
    const KQovEmbeddedProperty* member = GetEmbedded(row);
    return member && component >= 0 && component < 3 ? member->GetNumbers()[component] : 0.0;
}

void KQovAttributeProperties::SetNumber(int row, double value) {
    if (KQovEmbeddedProperty* member = GetEmbedded(row)) member->SetNumbers(&value, 1);
}

void KQovAttributeProperties::SetNumbers(int row, double x, double y, double z) {
    const double values[3] = {x, y, z};
    if (KQovEmbeddedProperty* member = GetEmbedded(row)) member->SetNumbers(values, 3);
}

KColor KQovAttributeProperties::GetColor(int row) const {
    return KColor(GetNumber(row, 0), GetNumber(row, 1), GetNumber(row, 2), 1.0);
}

void KQovPropertySetAttribute::CollectProperties(std::vector<KProperty*>& out) {
    if (mSet) mSet->CollectProperties(out);
}

KQovPropertySetAttribute::~KQovPropertySetAttribute() {
    if (mSet) mSet->Destroy();
}

void KQovLeaveNode(KQovNodeAttribute* attribute) {
    KQovNode* node = attribute ? attribute->GetNode() : nullptr;
    if (!node) return;
    if (node->GetNodeAttribute() == attribute)
        node->SetNodeAttribute(nullptr);
    else
        attribute->ClearNode();
}

void KQovInitAttributeChannel(KQovNodeAttribute* attribute, KQovTakeNode* take,
                              const KQovAttributeChannel& channel, KProperty* property,
                              const double* defaults) {
    if (!take || !take->GetRoot() || !channel.name || !defaults) return;
    KFCurveNode* root = take->GetRoot();
    KFCurveNode* node = nullptr;
    const int at = root->FindIndexByName(channel.name);
    if (at >= 0) {
        node = root->Get(at);
    } else {
        // Owned until the root holds it: a root that cannot grow leaves no channel behind.
        std::unique_ptr<KFCurveNode> made(KFCurveNode::Create(
            channel.name, channel.dataType ? KFCurveGetDataType(channel.dataType) : nullptr));
        root->Add(made.get());
        node = made.release();
    }
    KQovNode* owner = attribute ? attribute->GetNode() : nullptr;
    const bool linked =
        owner && property && KQovTakeNodeContainer::IsDefaultTakeName(take->GetName());
    static const float kComponentColors[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    KFCurve* curves[3] = {};
    if (channel.components == 1) {
        if (!node->GetCurve()) node->SetCurve(KFCurve::Create());
        curves[0] = node->GetCurve();
    } else {
        for (int i = 0; i < channel.components && i < 3; ++i)
            curves[i] = node->FindOrCreateChild(KQovTakeNodeContainer::GetComponentName(i), true)
                            ->GetCurve();
    }
    for (int i = 0; i < 3 && curves[i]; ++i)
        if (linked) owner->LinkPropertyToCurve(property, i, curves[i]);
    // After linking: the link carries each default into the property.
    for (int i = 0; i < 3 && curves[i]; ++i) {
        curves[i]->SetValue(float(defaults[i]));
        curves[i]->SetColor(channel.components == 1 ? channel.color : kComponentColors[i]);
    }
}

void KQovRemoveAttributeChannel(KQovTakeNode* take, const char* name) {
    KFCurveNode* root = take && name ? take->GetRoot() : nullptr;
    const int at = root ? root->FindIndexByName(name) : -1;
    // Destroying the curves also drops their property links.
    if (at >= 0) root->DeleteChild(root->Get(at));
}

KFCurve* KQovGetDefaultCurve(const KQovNodeAttribute* attribute, const char* channel,
                             const char* component) {
    KQovNode* node = attribute ? attribute->GetNode() : nullptr;
    KQovTakeNode* take = node ? node->GetDefaultTakeNode() : nullptr;
    KFCurveNode* root = take ? take->GetRoot() : nullptr;
    if (!root || !channel) return nullptr;
    int at = root->FindIndexByName(channel);
    KFCurveNode* found = at >= 0 ? root->Get(at) : nullptr;
    if (found && component) {
        at = found->FindIndexByName(component);
        found = at >= 0 ? found->Get(at) : nullptr;
    }
    return found ? found->GetCurve() : nullptr;
}

double KQovGetDefaultValue(const KQovNodeAttribute* attribute, const char* channel,
                           const char* component, KProperty* property, int index) {
    if (KFCurve* curve = KQovGetDefaultCurve(attribute, channel, component))
        return curve->GetValue();
    double values[4] = {0.0, 0.0, 0.0, 0.0};
    const int count = KQovGetPropertyNumbers(property, values);
    return index >= 0 && index < count ? values[index] : 0.0;
}

void KQovSetDefaultValue(const KQovNodeAttribute* attribute, const char* channel,
                         const char* component, KProperty* property, int index, double value) {
    if (KFCurve* curve = KQovGetDefaultCurve(attribute, channel, component))
        curve->SetValue(float(value));
    double values[4] = {0.0, 0.0, 0.0, 1.0};
    const int count = KQovGetPropertyNumbers(property, values);
    if (index < 0 || index >= count) return;
    values[index] = value;
    KQovSetPropertyNumbers(property, values, count);
}

void KQovSetDefaultValues(const KQovNodeAttribute* attribute, const char* channel,
                          KProperty* property, const double* values, int count) {
    // All curves before the property: a linked curve would leave the property
    // at single precision.
    for (int i = 0; i < count && i < 3; ++i)
        if (KFCurve* curve =
                KQovGetDefaultCurve(attribute, channel, KQovTakeNodeContainer::GetComponentName(i)))
            curve->SetValue(float(values[i]));
    double stored[4] = {0.0, 0.0, 0.0, 1.0};
    const int storedCount = KQovGetPropertyNumbers(property, stored);
    for (int i = 0; i < count && i < storedCount; ++i) stored[i] = values[i];
    if (storedCount > 0) KQovSetPropertyNumbers(property, stored, storedCount);
}
