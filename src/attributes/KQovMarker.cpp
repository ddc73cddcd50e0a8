#include "attributes/KQovMarker.h"

#include "animation/KFCurve.h"

namespace {

const char* const kLookNames[] = {"Cube", "Hard Cross", "Light Cross", "Sphere", nullptr};

const KQovPropertyDescriptor kMarkerRows[] = {
    KQovAttributeRows::Embedded("Look", KProperty::eENUM, 0.0, 0.0, 0.0, kLookNames),
    KQovAttributeRows::Embedded("Size", KProperty::eDOUBLE, 100.0),
    KQovAttributeRows::Embedded("Color", KProperty::eCOLORRGB, 1.0, 0.0, 0.0),
    KQovAttributeRows::Embedded("ShowLabel", KProperty::eBOOL),
    KQovAttributeRows::Embedded("IKPivot", KProperty::eVECTOR3D),
};

const char kReachTranslation[] = "IK Reach Translation";
const char kReachRotation[] = "IK Reach Rotation";
const char kOcclusion[] = "Occlusion";

// The channels of a marker kind (null-terminated), each typed by its own name.
const char* const* ChannelsOf(int kind) {
    static const char* const kReach[] = {kReachTranslation, kReachRotation, nullptr};
    static const char* const kOptical[] = {kOcclusion, nullptr};
    static const char* const kNone[] = {nullptr};
    if (kind == KQovMarker::eIKEffector) return kReach;
    if (kind == KQovMarker::eOptical) return kOptical;
    return kNone;
}

}  // namespace

KQovMarkerProperties::KQovMarkerProperties() : KQovAttributeProperties(kMarkerRows, eRowCount) {}

KQovMarker::KQovMarker(KQovObjectManager* manager)
    : KQovPropertySetAttribute(manager, new KQovMarkerProperties()) {
    mProperties = static_cast<KQovMarkerProperties*>(GetPropertySet());
    Reset();
}

KString KQovMarker::GetTypeName() const {
    switch (mKind) {
        case eOptical:
            return KString("OpticalMarker");
        case eIKEffector:
            return KString("IKEffector");
        case eFKEffector:
            return KString("FKEffector");
        default:
            return KString("Marker");
    }
}

void KQovMarker::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    static const double kZero[3] = {0.0, 0.0, 0.0};
    for (const char* const* name = ChannelsOf(mKind); *name; ++name) {
        KQovAttributeChannel channel{*name};
        channel.dataType = *name;
        channel.color[0] = 0.75f;
        KQovInitAttributeChannel(this, takeNode, channel, nullptr, kZero);
    }
}

void KQovMarker::RemoveTakeNodeChannels(KQovTakeNode* takeNode) {
    for (const char* const* name = ChannelsOf(mKind); *name; ++name)
        KQovRemoveAttributeChannel(takeNode, *name);
}

void KQovMarker::SetType(int kind) {
    if (kind == mKind) return;
    // The old kind's channels go while the old kind still names them.
    KQovNode* node = GetNode();
    ClearNode();
    mKind = kind;
    if (node) SetNode(node);
}

void KQovMarker::SetLook(int look) {
    mProperties->SetNumber(KQovMarkerProperties::eLook, look);
}

int KQovMarker::GetLook() const {
    return mProperties->GetInt(KQovMarkerProperties::eLook);
}

void KQovMarker::SetSize(double size) {
    mProperties->SetNumber(KQovMarkerProperties::eSize, size);
}

double KQovMarker::GetSize() const {
    return mProperties->GetNumber(KQovMarkerProperties::eSize);
}

void KQovMarker::SetColor(double r, double g, double b, double) {
    mProperties->SetNumbers(KQovMarkerProperties::eColor, r, g, b);
}

void KQovMarker::SetColorFromKColor(const KColor& color) {
    SetColor(color.mRed, color.mGreen, color.mBlue);
}

KColor KQovMarker::GetColor() const {
    return mProperties->GetColor(KQovMarkerProperties::eColor);
}

void KQovMarker::SetShowLabel(bool show) {
    mProperties->SetNumber(KQovMarkerProperties::eShowLabel, show ? 1.0 : 0.0);
}

bool KQovMarker::GetShowLabel() const {
    return mProperties->GetBool(KQovMarkerProperties::eShowLabel);
}

void KQovMarker::SetIKPivot(const KVector4& pivot) {
    mProperties->SetNumbers(KQovMarkerProperties::eIKPivot, pivot[0], pivot[1], pivot[2]);
}

KVector4 KQovMarker::GetIKPivot() const {
    const int row = KQovMarkerProperties::eIKPivot;
    return KVector4(mProperties->GetNumber(row, 0), mProperties->GetNumber(row, 1),
                    mProperties->GetNumber(row, 2), 1.0);
}

double KQovMarker::GetReach(const char* channel) const {
    KFCurve* curve = mKind == eIKEffector ? KQovGetDefaultCurve(this, channel) : nullptr;
    return curve ? curve->GetValue() : 0.0;
}

void KQovMarker::SetReach(const char* channel, double value) {
    KFCurve* curve = mKind == eIKEffector ? KQovGetDefaultCurve(this, channel) : nullptr;
    if (curve) curve->SetValue(float(value));
}

double KQovMarker::GetDefaultIKReachTranslation() const {
    return GetReach(kReachTranslation);
}

double KQovMarker::GetDefaultIKReachRotation() const {
    return GetReach(kReachRotation);
}

void KQovMarker::SetDefaultIKReachTranslation(double value) {
    SetReach(kReachTranslation, value);
}

void KQovMarker::SetDefaultIKReachRotation(double value) {
    SetReach(kReachRotation, value);
}

void KQovMarker::Reset() {
    SetType(eStandard);  // an attached effector loses its channels too
    mProperties->ResetTableDefaults();
}
