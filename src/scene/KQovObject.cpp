#include "scene/KQovObject.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "scene/KQovNameWatcher.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPropertyHandler.h"
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

KQovObject::~KQovObject() {
    // Moved out first: a watcher letting go finds nothing left to unlink.
    const std::vector<KQovNameWatcher*> watchers = std::move(mNameWatchers);
    for (KQovNameWatcher* watcher : watchers) watcher->ObjectGoing(this);
    LetGoOfAllUserProperties();
    // The place kept for records never made goes with the object.
    if (mRecordsDeferred && mManager) mManager->DropDeferredRecords(this, mDeferredRecordCount);
}

void KQovObject::DeferRecords(int count) {
    if (mRecordsDeferred || !mManager || count <= 0) return;
    mRecordsDeferred = true;
    mDeferredRecordCount = count;
    mManager->ListDeferredRecords(this, count);
}

void KQovObject::MakeDeferredRecords() {
    if (!mRecordsDeferred) return;
    mRecordsDeferred = false;
    const auto outer = mManager->BeginDeferredRecords(this, mDeferredRecordCount);
    CreateDeferredRecords();
    mManager->EndDeferredRecords(outer);
}

bool KQovObject::WouldHaveDeferredRecord(const char* name) const {
    const KQovPropertyHandler* handler = mRecordsDeferred && name ? GetPropertyHandler() : nullptr;
    for (int i = 0; handler && i < handler->GetTableRowCount(); ++i)
        if (std::strcmp(handler->GetTableRow(i)->name, name) == 0) return true;
    return false;
}

const std::vector<KQovUserProperty*>& KQovObject::Records() const {
    return const_cast<KQovObject*>(this)->Records();
}

std::vector<KQovUserProperty*>& KQovObject::Records() {
    if (mRecordsDeferred) {
        // Building the set's rows makes the records too.
        if (KQovPropertyHandler* handler = GetPropertyHandler()) handler->GetPropertyCount();
        MakeDeferredRecords();
    }
    return mUserProperties;
}

void KQovObject::CollectProperties(std::vector<KProperty*>&) {}

void KQovObject::SetName(const char* name) {
    KString old = KMakePrefixedName(GetClassPrefix().Buffer(), name);
    std::swap(mNames.currentName, old);
    NoteRename(old);
}

void KQovObject::SetInitialName(const char* name) {
    KString old = name ? name : "";
    mNames.initialName = old;
    std::swap(mNames.currentName, old);
    NoteRename(old);
}

void KQovObject::SetNamePair(KQovNamePair names) {
    std::swap(mNames.initialName, names.initialName);
    std::swap(mNames.currentName, names.currentName);
    NoteRename(names.currentName);
}

void KQovObject::NoteRename(const KString& old) {
    if (mNameWatchers.empty() || old == mNames.currentName) return;
    // A watcher may let go of the object while it is told (Unwatch): the next one then takes
    // its place in the list.
    for (size_t i = 0; i < mNameWatchers.size();) {
        KQovNameWatcher* watcher = mNameWatchers[i];
        watcher->NameChanged(this, old.Buffer());
        if (i < mNameWatchers.size() && mNameWatchers[i] == watcher) ++i;
    }
}

void KQovNameWatcher::Watch(KQovObject* object) {
    std::vector<KQovNameWatcher*>& watchers = object->mNameWatchers;
    if (std::find(watchers.begin(), watchers.end(), this) == watchers.end())
        watchers.push_back(this);
}

void KQovNameWatcher::Unwatch(KQovObject* object) {
    std::vector<KQovNameWatcher*>& watchers = object->mNameWatchers;
    const auto at = std::find(watchers.begin(), watchers.end(), this);
    if (at != watchers.end()) watchers.erase(at);
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
    const std::vector<KQovUserProperty*>& records = Records();
    return index >= 0 && size_t(index) < records.size() ? records[size_t(index)] : nullptr;
}

KQovUserProperty* KQovObject::FindUserProperty(const KProperty* property) const {
    if (!property) return nullptr;
    for (KQovUserProperty* up : Records())
        if (up->Wraps(property)) return up;
    return nullptr;
}

KQovUserProperty* KQovObject::FindUserProperty(const char* name) const {
    if (!name) return nullptr;
    for (KQovUserProperty* up : Records())
        if (up->GetName() == name) return up;
    return nullptr;
}

void KQovObject::AddUserProperty(KQovUserProperty* userProperty) {
    if (!userProperty) return;
    // Another manager's record would be destroyed under this object with that manager.
    KQovObjectManager* maker = userProperty->GetManager();
    if (maker && mManager && maker != mManager) return;
    std::vector<KQovUserProperty*>& records = Records();
    if (userProperty->IsListedBy(this)) return;
    userProperty->AddLister(this);
    try {
        records.push_back(userProperty);
    } catch (...) {
        userProperty->RemoveLister(this);
        throw;
    }
    AttachUserProperty(userProperty);
}

void KQovObject::LetGoOfUserProperty(const KQovUserProperty* userProperty) {
    // The list itself: records still to be made are not this one, and need not be made.
    const auto at = std::find(mUserProperties.begin(), mUserProperties.end(), userProperty);
    if (at != mUserProperties.end()) mUserProperties.erase(at);
}

void KQovObject::LetGoOfAllUserProperties() {
    for (KQovUserProperty* record : std::exchange(mUserProperties, {})) record->RemoveLister(this);
}

bool KQovObject::ForgetUserProperty(KQovUserProperty* userProperty) {
    std::vector<KQovUserProperty*>& records = Records();
    auto it = std::find(records.begin(), records.end(), userProperty);
    if (it == records.end()) return false;
    records.erase(it);
    userProperty->RemoveLister(this);
    return true;
}
