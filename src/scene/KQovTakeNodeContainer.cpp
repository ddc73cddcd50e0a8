#include "scene/KQovTakeNodeContainer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "foundation/KError.h"
#include "scene/KDataType.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovUserProperty.h"

namespace {

const char kIndexOutOfRange[] = "Index out of range";
const char kUnknownTakeName[] = "Unknown take node name";
const char kTakeDoesNotExist[] = "Take node does not exist";
const char kCannotRemoveDefault[] = "Cannot remove default take node";
const char kTakeExists[] = "Take node already exists";

// The channel of a property under a take node's root.
KFCurveNode* FindChannel(KFCurveNode* root, const char* propertyName) {
    if (!root || !propertyName) return nullptr;
    const char* channel = KQovTakeNodeContainer::GetChannelName(propertyName);
    if (channel != propertyName) return root->Find(channel);
    const int at = root->FindIndexByName(channel);
    return at >= 0 ? root->Get(at) : nullptr;
}

// Sets a curve's default value without running its callbacks.
void WriteDefaultQuietly(KFCurve* curve, double value) {
    curve->SuspendChangeNotification();
    curve->SetValue(float(value));
    curve->DiscardPendingChanges();
    curve->ResumeChangeNotification();
}

// Number of channel components of a property; 0 when it gets no channel.
int ChannelComponents(const KProperty* property) {
    if (const KDataType* type = property->GetDataType()) {
        const int count = type->GetComponentCount();
        if (count > 4) return 0;  // no component names past the fourth
        return std::max(count, 1);
    }
    switch (property->GetTypeCode()) {
        case KProperty::eVECTOR3D:
        case KProperty::eCOLORRGB:
            return 3;
        case KProperty::eVECTOR4D:
        case KProperty::eCOLORRGBA:
            return 4;
        default:
            return 1;
    }
}

bool IsVectorUserProperty(const KQovUserProperty* up) {
    const int type = up->GetType();
    return type == KQovUserProperty::eVector || type == KQovUserProperty::eColor;
}

// The values a user property writes into its channel: three for a vector or
// colour, else one.
int UserPropertyValues(const KQovUserProperty* up, double* values) {
    if (IsVectorUserProperty(up)) {
        up->GetVector(values[0], values[1], values[2]);
        return 3;
    }
    up->GetValue(values[0]);
    return 1;
}

}  // namespace

KQovTakeNodeContainer::KQovTakeNodeContainer(KQovObjectManager* manager, const char* name,
                                             KError* error)
    : KQovObject(manager, name), mError(error) {}

KQovTakeNodeContainer::~KQovTakeNodeContainer() {
    // Links first: deleting the take nodes destroys the linked curves.
    while (!mLinks.empty()) RemoveLink(mLinks.back().get());
    while (!mTakeNodes.empty()) mTakeNodes.pop_back();
    mCurrent = -1;
}

void KQovTakeNodeContainer::SetError(const char* text) {
    if (mError) mError->SetErrorWithText(eTakeNodeError, text);
}

const char* KQovTakeNodeContainer::GetChannelName(const char* propertyName) {
    if (!propertyName) return nullptr;
    if (std::strcmp(propertyName, "Lcl Translation") == 0) return "T";
    if (std::strcmp(propertyName, "Lcl Rotation") == 0) return "R";
    if (std::strcmp(propertyName, "Lcl Scaling") == 0) return "S";
    return propertyName;
}

const char* KQovTakeNodeContainer::GetComponentName(int index) {
    static const char* const kNames[] = {"X", "Y", "Z", "toto"};
    return index >= 0 && index < 4 ? kNames[index] : nullptr;
}

bool KQovTakeNodeContainer::IsDefaultTakeName(const char* name) {
    return name && KString(name).CompareNoCase("Default") == 0;
}

void KQovTakeNodeContainer::CollectProperties(std::vector<KProperty*>& out) {
    if (KQovPropertyHandler* handler = GetPropertyHandler()) handler->CollectProperties(out);
}

KQovUserProperty* KQovTakeNodeContainer::CreateManagerRecord(KProperty* property) {
    if (!property || !GetObjectManager()) return nullptr;
    return GetObjectManager()->CreateUserPropertyFromProperty(property);
}

// --- Takes ---

bool KQovTakeNodeContainer::SetCurrentTakeNode(int index) {
    if (index >= 0 && index < GetTakeNodeCount()) {
        mCurrent = index;
        return true;
    }
    SetError(kIndexOutOfRange);
    mCurrent = 0;
    return false;
}

int KQovTakeNodeContainer::FindTakeNodeIndex(const char* name) const {
    if (!name) return -1;
    const int count = GetTakeNodeCount();
    if (count >= kIndexedTakes && (!mTakeIndex || mTakeIndex->count != count)) {
        mTakeIndex.reset();
        try {
            auto index = std::make_unique<TakeIndex>();
            index->first.reserve(size_t(count));
            for (int i = 0; i < count; ++i)
                if (!index->first.emplace(TakeNameAt(i), i).second) index->duplicates = true;
            index->count = count;
            mTakeIndex = std::move(index);
        } catch (const std::bad_alloc&) {
            // Looked for one by one instead.
        }
    }
    if (count >= kIndexedTakes && mTakeIndex) {
        const auto found = mTakeIndex->first.find(name);
        return found == mTakeIndex->first.end() ? -1 : found->second;
    }
    for (int i = 0; i < count; ++i)
        if (std::strcmp(TakeNameAt(i), name) == 0) return i;
    return -1;
}

void KQovTakeNodeContainer::TakeRenaming(const KQovTakeNode* take) {
    if (!mTakeIndex) return;
    // Its entry goes while the view still shows the old name.
    TakeIndex& index = *mTakeIndex;
    const auto found = index.duplicates ? index.first.end() : index.first.find(take->GetName());
    if (found != index.first.end() && index.count == GetTakeNodeCount() &&
        mTakeNodes[size_t(found->second)].get() == take) {
        index.renaming = found->second;
        index.first.erase(found);
        return;
    }
    mTakeIndex.reset();
}

void KQovTakeNodeContainer::TakeRenamed(const KQovTakeNode* take) {
    if (!mTakeIndex) return;
    const int at = std::exchange(mTakeIndex->renaming, -1);
    if (at < 0) {
        mTakeIndex.reset();
        return;
    }
    try {
        const auto [entry, added] = mTakeIndex->first.emplace(take->GetName(), at);
        if (!added) {
            mTakeIndex->duplicates = true;
            entry->second = std::min(entry->second, at);
        }
    } catch (const std::bad_alloc&) {
        mTakeIndex.reset();
    }
}

bool KQovTakeNodeContainer::SetCurrentTakeNode(const char* name) {
    const int index = FindTakeNodeIndex(name);
    if (index >= 0) {
        mCurrent = index;
        return true;
    }
    SetError(kUnknownTakeName);
    mCurrent = 0;
    return false;
}

KQovTakeNode* KQovTakeNodeContainer::TakeAt(int index) const {
    if (index == 0 && mDefaultDeferred) MakeDeferredDefaultTake();
    return mTakeNodes[size_t(index)].get();
}

const char* KQovTakeNodeContainer::TakeNameAt(int index) const {
    if (index == 0 && mDefaultDeferred) return "Default";
    return mTakeNodes[size_t(index)]->GetName();
}

KQovTakeNode* KQovTakeNodeContainer::GetTakeNode(int index) {
    if (index < 0 || index >= GetTakeNodeCount()) {
        SetError(kTakeDoesNotExist);
        return nullptr;
    }
    return TakeAt(index);
}

const char* KQovTakeNodeContainer::GetTakeNodeName(int index) {
    if (index < 0 || index >= GetTakeNodeCount()) {
        SetError(kTakeDoesNotExist);
        return nullptr;
    }
    return TakeNameAt(index);
}

KQovTakeNode* KQovTakeNodeContainer::GetCurrentTakeNode() {
    return GetTakeNode(mCurrent);
}

const char* KQovTakeNodeContainer::GetCurrentTakeNodeName() {
    return GetTakeNodeName(mCurrent);
}

KQovTakeNode* KQovTakeNodeContainer::GetDefaultTakeNode() const {
    return mTakeNodes.empty() ? nullptr : TakeAt(0);
}

KQovTakeNode* KQovTakeNodeContainer::AddTakeNode(const char* name) {
    if (!name) name = "";
    if (KQovPropertyHandler* set = GetPropertyHandler()) set->GetPropertyCount();
    if (FindTakeNodeIndex(name) >= 0) {
        SetError(kTakeExists);
        return nullptr;
    }
    // An index made by that search is kept, with the new take added to it.
    std::unique_ptr<KQovTakeNode> take;
    try {
        if (KQovTakeNode* first = GetDefaultTakeNode()) {
            take = std::make_unique<KQovTakeNode>(*first, name);
        } else {
            take = std::make_unique<KQovTakeNode>(name);
            InitTakeNodeChannels(take.get());
        }
        mTakeNodes.push_back(std::move(take));
        mTakeNodes.back()->SetNameWatcher(this);
    } catch (...) {
        // Out of memory: no link may outlive the curves of a take that goes.
        if (take) RemoveLinksUnder(take->GetRoot());
        throw;
    }
    if (mTakeIndex && mTakeIndex->count + 1 == GetTakeNodeCount()) {
        try {
            mTakeIndex->first.emplace(mTakeNodes.back()->GetName(), mTakeIndex->count);
            mTakeIndex->count = GetTakeNodeCount();
        } catch (const std::bad_alloc&) {
            mTakeIndex.reset();
        }
    }
    return mTakeNodes.back().get();
}

KQovTakeNode* KQovTakeNodeContainer::AddDefaultTakeNode() {
    KQovTakeNode* take = AddTakeNode("Default");
    mCurrent = 0;
    return take;
}

void KQovTakeNodeContainer::AddDeferredDefaultTakeNode() {
    if (!mTakeNodes.empty()) return;
    mTakeNodes.emplace_back();
    mDefaultDeferred = true;
    mCurrent = 0;
}

void KQovTakeNodeContainer::MakeDeferredDefaultTake() const {
    if (!mDefaultDeferred) return;
    // Rows not built yet are built first, as they were before any take was: their records
    // must find the take still deferred.
    if (KQovPropertyHandler* set = GetPropertyHandler()) set->GetPropertyCount();
    // Listed objects are never const: the take is made as the object would have had it.
    auto* self = const_cast<KQovTakeNodeContainer*>(this);
    // Made before the take stops being deferred: out of memory, it stays deferred, never null.
    auto take = std::make_unique<KQovTakeNode>("Default");
    self->mDefaultDeferred = false;
    self->mTakeNodes.front() = std::move(take);
    self->mTakeNodes.front()->SetNameWatcher(self);
    self->BuildDeferredDefaultTake(self->mTakeNodes.front().get());
    if (!mDefaultLent) self->ForgetDeferredPlan();
}

KQovTakeNode* KQovTakeNodeContainer::LendDefaultTakeNode() {
    if (mTakeNodes.empty()) return nullptr;
    mDefaultLent = mDefaultDeferred;
    return TakeAt(0);
}

void KQovTakeNodeContainer::ReturnDefaultTakeNode() {
    if (!mDefaultLent) return;
    mDefaultLent = false;
    // Back to what it was before the loan: the links go with the curves, the plan stays.
    if (KQovTakeNode* take = mTakeNodes.front().get()) RemoveLinksUnder(take->GetRoot());
    mTakeIndex.reset();  // it may hold a view of the name of the take that goes
    mTakeNodes.front().reset();
    if (mLinks.empty()) decltype(mLinks)().swap(mLinks);
    mDefaultDeferred = true;
}

bool KQovTakeNodeContainer::RemoveTakeNode(int index) {
    if (index == 0) {
        SetError(kCannotRemoveDefault);
        return false;
    }
    if (index < 0 || index >= GetTakeNodeCount()) {
        SetError(kIndexOutOfRange);
        return false;
    }
    // The current take stays current when a take below it goes.
    if (mCurrent >= index) --mCurrent;
    ForgetTakeNode(mTakeNodes[size_t(index)].get());
    RemoveLinksUnder(mTakeNodes[size_t(index)]->GetRoot());
    mTakeIndex.reset();
    mTakeNodes.erase(mTakeNodes.begin() + index);
    return true;
}

bool KQovTakeNodeContainer::HasAnimation(const char* name1, const char* name2,
                                         const char* name3) {
    for (int i = 1; i < GetTakeNodeCount(); ++i)
        if (mTakeNodes[size_t(i)]->HasKeys(name1, name2, name3)) return true;
    return false;
}

bool KQovTakeNodeContainer::HasAnimation(const char* name1, const char* name2,
                                         const KDataType* dataType) {
    for (int i = 1; i < GetTakeNodeCount(); ++i)
        if (mTakeNodes[size_t(i)]->HasKeysByType(name1, name2, dataType)) return true;
    return false;
}

bool KQovTakeNodeContainer::GetAnimationInterval(KTime& start, KTime& stop) {
    if (mCurrent < 0 || mCurrent >= GetTakeNodeCount()) return false;
    // A take not made yet holds no key.
    if (mCurrent == 0 && mDefaultDeferred) return false;
    KTime first = KTIME_INFINITE;
    KTime last = KTIME_MINUS_INFINITE;
    if (!mTakeNodes[size_t(mCurrent)]->GetAnimationInterval(first, last)) return false;
    if (first < start) start = first;
    if (last > stop) stop = last;
    return true;
}

// --- Channels and values ---

void KQovTakeNodeContainer::WriteChannelValues(KFCurveNode* channel, const double* values,
                                               int count) {
    if (!channel || !values || count <= 0) return;
    if (count == 1) {
        if (!channel->GetCurve()) channel->SetCurve(KFCurve::Create());
        WriteDefaultQuietly(channel->GetCurve(), values[0]);
        return;
    }
    for (int i = 0; i < count && i < 4; ++i) {
        KFCurveNode* component = channel->Get(i);
        if (!component) {
            component = KFCurveNode::Create(GetComponentName(i));
            channel->Add(component);
        }
        if (!component->GetCurve()) component->SetCurve(KFCurve::Create());
        WriteDefaultQuietly(component->GetCurve(), values[i]);
    }
}

void KQovTakeNodeContainer::InitAnimatableChannels(KQovPropertyHandler* set, KQovTakeNode* takeNode) {
    for (int i = 0; i < set->GetPropertyCount(); ++i) {
        KProperty* property = set->GetProperty(i);
        if (property && property->IsAnimatable()) InitPropertyChannel(property, takeNode);
    }
}

int KQovTakeNodeContainer::GetChannelComponentCount(const KProperty* property) {
    return property ? ChannelComponents(property) : 0;
}

int KQovTakeNodeContainer::ReadChannelValues(KProperty* property, int count, double* values) {
    const int n = property && count > 0 ? KQovGetPropertyNumbers(property, values) : 0;
    if (n <= 0) return 0;
    return count == 1 ? 1 : std::min(n, count);
}

void KQovTakeNodeContainer::InitPropertyChannel(KProperty* property, KQovTakeNode* takeNode) {
    if (!property || !takeNode) return;
    const int count = ChannelComponents(property);
    double values[4] = {0.0, 0.0, 0.0, 1.0};
    const int written = ReadChannelValues(property, count, values);
    InitPropertyChannel(property, takeNode, count, values, written);
}

void KQovTakeNodeContainer::InitPropertyChannel(KProperty* property, KQovTakeNode* takeNode,
                                                int count, const double* values, int written) {
    if (!property || !takeNode || count <= 0) return;
    KFCurveNode* root = takeNode->GetRoot();
    const char* name = GetChannelName(property->GetName());
    if (root->FindIndexByName(name) >= 0) return;
    const bool linked = IsDefaultTakeName(takeNode->GetName());
    KFCurveNode* channel = KFCurveNode::Create(name, property->GetDataType());
    root->Add(channel);
    if (count == 1) {
        channel->SetCurve(KFCurve::Create());
        if (linked) LinkPropertyToCurve(property, 0, channel->GetCurve());
    } else {
        for (int i = 0; i < count; ++i) {
            KFCurveNode* component = channel->Get(i);
            if (!component) {
                component = KFCurveNode::Create(GetComponentName(i));
                component->SetCurve(KFCurve::Create());
                channel->Add(component);
            }
            if (linked) LinkPropertyToCurve(property, i, component->GetCurve());
        }
    }
    if (written > 0) WriteChannelValues(channel, values, written);
}

void KQovTakeNodeContainer::WritePropertyDefaults() {
    if (mDefaultDeferred && WriteDeferredDefaults()) return;
    KQovTakeNode* take = GetDefaultTakeNode();
    if (!take || !take->GetRoot()) return;
    std::vector<KProperty*> properties;
    CollectProperties(properties);
    for (KProperty* property : properties) {
        KFCurveNode* channel = FindChannel(take->GetRoot(), GetChannelName(property));
        if (!channel) continue;
        double values[4] = {0.0, 0.0, 0.0, 1.0};
        const int n = KQovGetPropertyNumbers(property, values);
        if (n > 0) WriteChannelValues(channel, values, n);
    }
}

void KQovTakeNodeContainer::SetPropertyChannelDefault(KQovUserProperty* userProperty) {
    if (!userProperty || !userProperty->GetFlag(KQovUserProperty::eFlagAnimatable)) return;
    if (mCurrent < 0 || mCurrent >= GetTakeNodeCount()) {
        SetError(kTakeDoesNotExist);
        return;
    }
    KQovTakeNode* current = TakeAt(mCurrent);
    if (!current->GetRoot()) return;
    const KString name = ChannelNameOf(userProperty);
    double values[4] = {0.0, 0.0, 0.0, 1.0};
    const int n = UserPropertyValues(userProperty, values);
    WriteChannelValues(FindChannel(current->GetRoot(), name.Buffer()), values, n);
    if (KQovTakeNode* first = GetDefaultTakeNode())
        WriteChannelValues(FindChannel(first->GetRoot(), name.Buffer()), values, n);
}

// --- User properties ---

const char* KQovTakeNodeContainer::GetChannelName(const KProperty* property) const {
    return property ? property->GetName() : nullptr;
}

KString KQovTakeNodeContainer::ChannelNameOf(const KQovUserProperty* userProperty) const {
    const char* channel = GetChannelName(userProperty->GetProperty());
    return channel ? KString(channel) : userProperty->GetName();
}

void KQovTakeNodeContainer::ClaimChannelName(const KProperty* property, const char* name) {
    // A shape's channel of the name is the shape's, not this property's (unless it is the
    // shape's own property, wrapped).
    const bool shapes = property && property->GetDataType() == KDataType::FindByName("Shape");
    if (auto* node = property && !shapes ? dynamic_cast<KQovNode*>(this) : nullptr)
        if (KQovNodeAttribute* attribute = node->GetNodeAttribute())
            attribute->YieldChannelName(name);
}

void KQovTakeNodeContainer::ClaimChannelNames(const std::vector<KProperty*>& properties) {
    for (const KProperty* property : properties)
        if (property && property->TestFlag(KProperty::eAnimatable))
            ClaimChannelName(property, GetChannelName(property));
}

void KQovTakeNodeContainer::AttachUserProperty(KQovUserProperty* userProperty) {
    if (!userProperty) return;
    KQovPropertyHandler* handler = GetPropertyHandler();
    if (!userProperty->GetProperty() && handler) handler->CreatePropertyFromDescription(userProperty);
    if (!userProperty->GetFlag(KQovUserProperty::eFlagAnimatable)) return;
    KProperty* property = userProperty->GetProperty();
    if (property) property->SetUserFlag(0x8, true);
    // A property already carried by a channel of another name gets no second one.
    const KString name = ChannelNameOf(userProperty);
    ClaimChannelName(property, name.Buffer());
    // The only take is the unmade one and it will have the channel: nothing to add.
    if (mDefaultDeferred && HasDeferredChannel(name.Buffer())) return;
    const bool vector = IsVectorUserProperty(userProperty);
    double values[4] = {0.0, 0.0, 0.0, 1.0};
    const int n = UserPropertyValues(userProperty, values);
    for (int i = 0; i < GetTakeNodeCount(); ++i) {
        KFCurveNode* root = TakeAt(i)->GetRoot();
        KFCurveNode* channel = FindChannel(root, name.Buffer());
        // A channel already there (read from a file) keeps its values: the record's own may
        // not even hold the property's components (a colour's).
        if (channel) continue;
        // Held until the root has it: a refused allocation on the way leaves nothing behind.
        std::unique_ptr<KFCurveNode> made(
            KFCurveNode::Create(name.Buffer(), property ? property->GetDataType() : nullptr));
        if (!vector) made->SetCurve(KFCurve::Create());
        root->Add(made.get());
        channel = made.release();
        if (i == 0 && property) {
            if (vector) {
                for (int c = 0; c < 3; ++c) {
                    KFCurveNode* component = channel->FindOrCreateChild(GetComponentName(c), true);
                    LinkPropertyToCurve(property, c, component->GetCurve());
                }
            } else {
                LinkPropertyToCurve(property, 0, channel->GetCurve());
            }
        }
        WriteChannelValues(channel, values, n);
    }
}

void KQovTakeNodeContainer::DetachUserProperty(KQovUserProperty* userProperty) {
    if (!userProperty) return;
    const KString name = userProperty->GetName();
    for (int i = 0; i < GetTakeNodeCount(); ++i) RemovePropertyChannel(name.Buffer(), TakeAt(i));
    KProperty* property = userProperty->GetProperty();
    if (property) {
        RemoveLinksOf(property);
        if (KQovPropertyHandler* handler = GetPropertyHandler()) {
            const int at = handler->IndexOfProperty(property);
            if (at >= 0) handler->DestroyProperty(at);
        }
    }
    userProperty->Unbind();
    ForgetUserProperty(userProperty);
}

bool KQovTakeNodeContainer::RemovePropertyChannel(const char* propertyName,
                                                  KQovTakeNode* takeNode) {
    KFCurveNode* channel = takeNode ? FindChannel(takeNode->GetRoot(), propertyName) : nullptr;
    KFCurveNode* parent = channel ? channel->GetParent() : nullptr;
    if (!parent) return false;
    // The subtree is destroyed, so nothing may still point into it.
    RemoveLinksUnder(channel);
    parent->DeleteChild(channel);
    return true;
}

void KQovTakeNodeContainer::CreateUserPropertiesFromPropertySet() {
    KQovPropertyHandler* handler = GetPropertyHandler();
    if (!handler) return;
    std::vector<KProperty*> properties;
    handler->CollectProperties(properties);
    // The wrapped properties, found once: a set has tens of properties and as many records.
    std::vector<const KProperty*> wrapped;
    wrapped.reserve(size_t(GetUserPropertyCount()));
    for (int i = 0; i < GetUserPropertyCount(); ++i)
        if (const KProperty* p = GetUserProperty(i)->GetProperty()) wrapped.push_back(p);
    std::sort(wrapped.begin(), wrapped.end());
    auto isWrapped = [&wrapped](const KProperty* property) {
        return std::binary_search(wrapped.begin(), wrapped.end(), property);
    };
    const size_t fresh =
        properties.size() - size_t(std::count_if(properties.begin(), properties.end(), isWrapped));
    ReserveUserProperties(size_t(GetUserPropertyCount()) + fresh);
    // The new records in one allocation, when the manager's own operation makes them.
    KQovObjectManager::RecordBatch batch(GetObjectManager(), fresh);
    for (KProperty* property : properties) {
        if (isWrapped(property)) continue;
        KQovUserProperty* record = CreateManagerRecord(property);
        if (!record) continue;
        AddUserProperty(record);
        record->SetOwner(handler);
    }
}

// --- Property links ---

void KQovTakeNodeContainer::LinkPropertyToCurve(KProperty* property, int component,
                                                KFCurve* curve) {
    if (!property || !curve) return;
    mLinks.push_back(std::make_unique<PropertyLink>(
        PropertyLink{property->GetWeakRef(), component, curve, this}));
    try {
        curve->AddCallback(&OnLinkedCurve, mLinks.back().get());
    } catch (...) {
        // A link the curve does not know of would outlive the curve.
        mLinks.pop_back();
        throw;
    }
}

void KQovTakeNodeContainer::OnLinkedCurve(KFCurve* curve, KFCurveEvent* event, void* data) {
    auto* link = static_cast<PropertyLink*>(data);
    if (event->mType & KFCURVE_EVENT_DEFAULT_VALUE) {
        if (auto* property = KObjectSafeCast<KProperty>(link->property.Resolve())) {
            const KDataType* type = property->GetDataType();
            const int typed = type ? std::max(type->GetComponentCount(), 1) : 4;
            double values[4] = {0.0, 0.0, 0.0, 1.0};
            const int n = KQovGetPropertyNumbers(property, values);
            if (link->component >= 0 && link->component < std::min(n, typed)) {
                values[link->component] = curve->GetValue();
                KQovSetPropertyNumbers(property, values, n);
            }
        }
    }
    if (event->mType & KFCURVE_EVENT_DESTROY) link->container->RemoveLink(link);
}

void KQovTakeNodeContainer::RemoveLink(PropertyLink* link) {
    auto it = std::find_if(mLinks.begin(), mLinks.end(),
                           [link](const auto& owned) { return owned.get() == link; });
    if (it == mLinks.end()) return;
    link->curve->RemoveCallback(&OnLinkedCurve, link);
    mLinks.erase(it);
}

void KQovTakeNodeContainer::RemoveLinksOf(const KProperty* property) {
    for (size_t i = mLinks.size(); i-- > 0;)
        if (mLinks[i]->property.Resolve() == property) RemoveLink(mLinks[i].get());
}

void KQovTakeNodeContainer::RemoveLinksUnder(KFCurveNode* channel) {
    if (!channel) return;
    if (KFCurve* curve = channel->GetCurve()) {
        for (size_t i = mLinks.size(); i-- > 0;)
            if (mLinks[i]->curve == curve) RemoveLink(mLinks[i].get());
    }
    for (int i = 0; i < channel->GetCount(); ++i) RemoveLinksUnder(channel->Get(i));
}
