#include "scene/KQovObject.h"

#include <algorithm>
#include <cstring>

#include "scene/KQovUserProperty.h"

KString KMakePrefixedName(const char* prefix, const char* name) {
    const KString rest = KStripNamePrefix(name);
    KString result(prefix ? prefix : "");
    result += rest.IsEmpty() ? "Name" : rest.Buffer();
    return result;
}

const char* GetDeformerPrefix(const char* kind) {
    return kind && KString(kind).CompareNoCase("Cluster") == 0 ? "SubDeformer::" : "Deformer::";
}

KQovObject::KQovObject(KQovObjectManager* manager, const char* name) : mManager(manager) {
    mNames.initialName = name ? name : "";
    mNames.currentName = mNames.initialName;
}

KQovObject::~KQovObject() = default;

void KQovObject::CollectProperties(std::vector<KProperty*>&) {}

void KQovObject::SetName(const char* name) {
    mNames.currentName = KMakePrefixedName(GetClassPrefix().Buffer(), name);
}

void KQovObject::SetInitialName(const char* name) {
    mNames.initialName = name ? name : "";
    mNames.currentName = mNames.initialName;
}

KString KQovObject::GetClassPrefix(int objectType) {
    switch (objectType) {
        case 1:
            return KString("Model::");
        case 2:
            return KString("Texture::");
        case 3:
            return KString("Material::");
        case 4:
        case 5:
            return KString("Video::");
        case 6:
        case 8:
            return KString("Constraint::");
        case 7:
            return KString("MarkerSet::");
        case 9:
        case 11:
            return KString("Pose::");
        case 12:
            return KString("ControlSetPlug::");
        default:
            return KString("");
    }
}

KStringList KQovObject::OneTypeName(const char* name) {
    KStringList names;
    names.Add(name);
    return names;
}

KString KQovObject::GetNameWithoutPrefix() const {
    const KString prefix = GetClassPrefix();
    const char* name = GetName();
    const size_t length = std::strlen(prefix.Buffer());
    if (std::strncmp(name, prefix.Buffer(), length) == 0) return KString(name + length);
    return KStripNamePrefix(name);
}

KQovUserProperty* KQovObject::GetUserProperty(int index) const {
    return index >= 0 && index < GetUserPropertyCount() ? mUserProperties[size_t(index)] : nullptr;
}

KQovUserProperty* KQovObject::FindUserProperty(const KProperty* property) const {
    if (!property) return nullptr;
    for (KQovUserProperty* up : mUserProperties)
        if (up->Wraps(property)) return up;
    return nullptr;
}

KQovUserProperty* KQovObject::FindUserProperty(const char* name) const {
    if (!name) return nullptr;
    for (KQovUserProperty* up : mUserProperties)
        if (up->GetName() == name) return up;
    return nullptr;
}

void KQovObject::AddUserProperty(KQovUserProperty* userProperty) {
    if (!userProperty) return;
    if (std::find(mUserProperties.begin(), mUserProperties.end(), userProperty) !=
        mUserProperties.end())
        return;
    mUserProperties.push_back(userProperty);
    AttachUserProperty(userProperty);
}

bool KQovObject::ForgetUserProperty(KQovUserProperty* userProperty) {
    auto it = std::find(mUserProperties.begin(), mUserProperties.end(), userProperty);
    if (it == mUserProperties.end()) return false;
    mUserProperties.erase(it);
    return true;
}
