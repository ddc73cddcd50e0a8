#include "scene/KQovNode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "foundation/KLocale.h"
#include "foundation/KThreadScratch.h"
#include "scene/KDataType.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KClassRegistry.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovNameWatcher.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovScene.h"

namespace {

const char* const kNodeErrors[KQovNode::eErrorCount] = {
    "Take node error",
    "Node name clash",
    "Material name clash",
    "Texture name clash",
    "Target node is not a child of this object",
    "Operation with a target of the entity would generate a cyclic graph",
    "Index out of range",
    "A scene's root cannot go below a camera switcher or producer camera",
    "A scene's root cannot go below another scene's node",
    "A node has one parent, linked both ways",
};

using P = KQovNodeProperties;

// The pivot-set fields and the properties that mirror them.
struct PivotMirror {
    KVector4 KQovPivotSet::*field;
    int row;
};
const PivotMirror kPivotMirrors[] = {
    {&KQovPivotSet::rotationOffset, P::eRotationOffset},
    {&KQovPivotSet::rotationPivot, P::eRotationPivot},
    {&KQovPivotSet::rotationPivotUpdateOffset, P::eRotationPivotUpdateOffset},
    {&KQovPivotSet::preRotation, P::ePreRotation},
    {&KQovPivotSet::postRotation, P::ePostRotation},
    {&KQovPivotSet::scalingOffset, P::eScalingOffset},
    {&KQovPivotSet::scalingPivot, P::eScalingPivot},
    {&KQovPivotSet::scalingPivotUpdateOffset, P::eScalingPivotUpdateOffset},
    {&KQovPivotSet::geometricTranslation, P::eGeometricTranslation},
    {&KQovPivotSet::geometricRotation, P::eGeometricRotation},
    {&KQovPivotSet::geometricScaling, P::eGeometricScaling},
};

// The limit records and the properties that mirror them: active, min, max, then
// the six per-axis flags.
struct LimitMirror {
    KQovLimits KQovNodeLimits::*limits;
    bool KQovNodeLimits::*active;
    int firstRow;  // "...Active"; min, max and the six flags follow in row order
};
const LimitMirror kLimitMirrors[] = {
    {&KQovNodeLimits::translation, &KQovNodeLimits::translationActive, P::eTranslationActive},
    {&KQovNodeLimits::rotation, &KQovNodeLimits::rotationActive, P::eRotationActive},
    {&KQovNodeLimits::scaling, &KQovNodeLimits::scalingActive, P::eScalingActive},
};
bool KQovLimits::*const kAxisFlags[6] = {&KQovLimits::minActiveX, &KQovLimits::minActiveY,
                                         &KQovLimits::minActiveZ, &KQovLimits::maxActiveX,
                                         &KQovLimits::maxActiveY, &KQovLimits::maxActiveZ};

bool Near(double a, double b) {
    return std::fabs(a - b) <= 1e-6;
}
bool NearXYZ(const KVector4& a, const KVector4& b) {
    return Near(a[0], b[0]) && Near(a[1], b[1]) && Near(a[2], b[2]);
}
void CopyXYZ(KVector4& out, const KVector4& in) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
}

// What a reset sets besides the table defaults.
void ResetTransformExtras(KQovNodeProperties* properties) {
    properties->SetVector(P::eGeometricScaling, KVector4(1.0, 1.0, 1.0, 1.0));
    // These four are written with their events; rows not built yet have no one to hear them.
    const double zero = 0.0;
    for (int row : {P::eQuaternionInterpolate, P::eRotationStiffnessX, P::eRotationStiffnessY,
                    P::eRotationStiffnessZ}) {
        if (properties->IsTableDeferred())
            properties->SetNumber(row, zero);
        else
            KQovSetPropertyNumbers(properties->GetTableProperty(row), &zero, 1);
    }
    properties->ResetStoredPivotSet(0);
    properties->ResetStoredPivotSet(1);
}

}  // namespace

// The children of a node with many, by current name: a look-up by name then costs no walk of
// them. Told of every link, unlink and rename of a child; once memory is refused it is broken,
// and look-ups walk the children until it is built again. A child's entry is found by the child:
// taking it out allocates nothing and costs the same however many children share its name.
class KQovNode::ChildIndex final : public KQovNameWatcher {
public:
    // Fewer children are walked: building the index would cost more than it saves.
    static constexpr int kFewest = 32;

    ChildIndex() = default;
    ChildIndex(const ChildIndex&) = delete;
    ChildIndex& operator=(const ChildIndex&) = delete;
    ~ChildIndex() {
        for (auto& entry : mNameOf) Unwatch(entry.first);
    }

    bool IsBroken() const { return mBroken; }
    void Add(KQovNode* child) noexcept {
        if (mBroken) return;
        try {
            Enter(child, true);
        } catch (const std::bad_alloc&) {
            mBroken = true;
        }
    }
    void Remove(KQovNode* child) noexcept {
        Unwatch(child);
        Erase(child);
    }
    // False when the index cannot tell (a name held twice, or once since it was); else `found`
    // is the only child of that name, or null for none.
    bool Find(const char* name, KQovNode*& found) const {
        const auto at = mByName.find(name);
        found = at == mByName.end() ? nullptr : at->second.only;
        return at == mByName.end() || (at->second.count == 1 && found);
    }

    // Watched still: the object goes on telling its other watchers.
    void NameChanged(KQovObject* object, const char* /*oldName*/) override {
        auto* child = static_cast<KQovNode*>(object);
        Erase(child);
        try {
            if (!mBroken) Enter(child, false);
        } catch (const std::bad_alloc&) {
            mBroken = true;
        }
        if (mBroken) Unwatch(child);
    }
    void ObjectGoing(KQovObject* object) override { Erase(static_cast<KQovNode*>(object)); }

private:
    struct Holders {
        size_t count = 0;
        KQovNode* only = nullptr;  // null once a second held the name
    };
    // Watched last: a watched child is always in mNameOf, which the destructor unwatches.
    void Enter(KQovNode* child, bool watch) {
        const auto placed = mNameOf.emplace(child, mByName.end());
        if (!placed.second) return;
        try {
            const auto at = mByName.try_emplace(child->GetName()).first;
            placed.first->second = at;
            Holders& holders = at->second;
            holders.only = holders.count++ == 0 ? child : nullptr;
            if (watch) Watch(child);
        } catch (...) {
            Erase(child);
            throw;
        }
    }
    void Erase(KQovNode* child) noexcept {
        const auto at = mNameOf.find(child);
        if (at == mNameOf.end()) return;
        const auto name = at->second;
        mNameOf.erase(at);
        if (name == mByName.end()) return;
        if (--name->second.count == 0)
            mByName.erase(name);
        else if (name->second.only == child)
            name->second.only = nullptr;
    }

    // Ordered: its iterators stay valid whatever is added, and a name is looked up as it is given.
    using ByName = std::map<std::string, Holders, std::less<>>;
    ByName mByName;
    std::unordered_map<KQovNode*, ByName::iterator> mNameOf;
    bool mBroken = false;
};

KQovNode::KQovNode(KQovObjectManager* manager, const char* name)
    : KQovTakeNodeContainer(manager, name, &mError), mError(kNodeErrors, eErrorCount) {
    mLimits.node = this;
    // No destructor runs when the rest of the construction throws: the properties go then.
    const auto destroy = [this](KQovNodeProperties* properties) {
        mProperties = nullptr;
        properties->Destroy();
    };
    std::unique_ptr<KQovNodeProperties, decltype(destroy)> held(new KQovNodeProperties(this),
                                                                destroy);
    mProperties = held.get();
    // The rows were just made with their table defaults: only what differs from them is set.
    ResetTransformExtras(mProperties);
    // The "Default" take is made when first used, with the values the properties hold now.
    AddDeferredDefaultTakeNode();
    DeferDefaultChannels();
    SetVisibility(true);
    mShadingMode = 3;
    // The records of rows not built yet are made with them.
    if (mProperties->IsTableWaiting())
        DeferRecords(mProperties->GetTableRowCount());
    else
        CreateUserPropertiesFromPropertySet();
    held.release();
}

KQovNode::~KQovNode() {
    if (mEntityContainer) mEntityContainer->ForgetNode(this);
    // The manager owns the attribute: it only loses its node (and channels).
    if (mAttribute) {
        KQovNodeAttribute* attribute = mAttribute;
        mAttribute = nullptr;
        if (attribute->GetNode() == this) attribute->ClearNode();
    }
    const std::vector<CharacterLink> links = std::move(mCharacterLinks);
    mCharacterLinkHoles = 0;
    for (const CharacterLink& link : links)
        if (link.owner) link.owner->ClearNodeLink(this, link.kind, link.slot, link.subIndex);
    KQovNodeProperties* properties = mProperties;
    mProperties = nullptr;
    properties->Destroy();
}

void KQovNode::PrepareDestroy() {
    if (mProperties) mProperties->PrepareDestroy();
}

KQovPropertyHandler* KQovNode::GetPropertyHandler() const {
    return mProperties;
}

void KQovNode::CollectProperties(std::vector<KProperty*>& out) {
    if (mProperties) mProperties->CollectProperties(out);
    if (mAttribute) mAttribute->CollectProperties(out);
}

KString KQovNode::GetTypeName() const {
    return mAttribute ? mAttribute->GetTypeName() : KString("Null");
}

KStringList KQovNode::GetTypeNames() const {
    if (mAttribute) return mAttribute->GetTypeNames();
    KStringList names;
    names.Add("Null");
    return names;
}

bool KQovNode::SetCurrentTakeNode(const char* name) {
    InvalidateChannelTransforms();
    return KQovTakeNodeContainer::SetCurrentTakeNode(name);
}

bool KQovNode::SetCurrentTakeNode(int index) {
    InvalidateChannelTransforms();
    return KQovTakeNodeContainer::SetCurrentTakeNode(index);
}

bool KQovNode::GetAnimationInterval(KTime& start, KTime& stop) {
    KTime first = KTIME_INFINITE;
    KTime last = KTIME_MINUS_INFINITE;
    bool found = false;
    for (KQovNode* node : KQovListNodes(this))
        found = node->KQovTakeNodeContainer::GetAnimationInterval(first, last) || found;
    if (!found) return false;
    if (first < start) start = first;
    if (last > stop) stop = last;
    return true;
}

// --- Channels ---

namespace {

// The node's own channels ahead of the other properties', with their table rows.
struct OwnChannel {
    const char* property;
    const char* channel;
    double neutral;
    int row;
};
const OwnChannel kOwnChannels[] = {{"Lcl Translation", "T", 0.0, P::eLclTranslation},
                                   {"Lcl Rotation", "R", 0.0, P::eLclRotation},
                                   {"Lcl Scaling", "S", 1.0, P::eLclScaling},
                                   {"Visibility", "Visibility", 1.0, P::eVisibility}};
constexpr int kOwnChannelCount = 4;
const float kComponentColours[3][3] = {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};

bool IsOwnChannelProperty(const char* name) {
    return std::any_of(
        std::begin(kOwnChannels), std::end(kOwnChannels),
        [name](const OwnChannel& own) { return std::strcmp(own.property, name) == 0; });
}

}  // namespace

void KQovNode::PlanChannels(std::vector<ChannelPlan>& plan) const {
    plan.clear();
    for (const OwnChannel& own : kOwnChannels) {
        KProperty* property = nullptr;
        if (mProperties) {
            // The table row holds it unless it went; table names are unique and come first.
            property = mProperties->GetTableProperty(own.row);
            if (!property || std::strcmp(property->GetName(), own.property) != 0)
                property = mProperties->FindProperty(own.property);
        }
        ChannelPlan entry{property, own.row, 3, 3, {own.neutral, own.neutral, own.neutral, 1.0}};
        if (std::strcmp(own.property, "Visibility") == 0) entry.count = entry.written = 1;
        KQovGetPropertyNumbers(property, entry.values);
        plan.push_back(entry);
    }
    // A property whose channel name is taken already gets none: the root holds "Transform",
    // "Visibility" and the channels planned before it.
    auto taken = [&plan](const char* name) {
        if (KStrCaseCmp(name, "Transform") == 0 || KStrCaseCmp(name, "Visibility") == 0)
            return true;
        for (size_t i = kOwnChannelCount; i < plan.size(); ++i)
            if (KStrCaseCmp(GetChannelName(plan[i].property->GetName()), name) == 0) return true;
        return false;
    };
    for (int i = 0; mProperties && i < mProperties->GetPropertyCount(); ++i) {
        KProperty* property = mProperties->GetProperty(i);
        if (!property->IsAnimatable() || IsOwnChannelProperty(property->GetName())) continue;
        const int count = GetChannelComponentCount(property);
        if (count == 0 || taken(GetChannelName(property->GetName()))) continue;
        ChannelPlan entry{property, i, count, 0, {0.0, 0.0, 0.0, 1.0}};
        entry.written = ReadChannelValues(property, count, entry.values);
        plan.push_back(entry);
    }
}

void KQovNode::BuildChannels(KQovTakeNode* takeNode, const std::vector<ChannelPlan>& plan) {
    const bool link = IsDefaultTakeName(takeNode->GetName());
    if (link) {
        size_t links = 0;
        for (const ChannelPlan& entry : plan) links += size_t(entry.count);
        ReserveLinks(links);
    }
    // Owned here until the take's root holds them: out of memory, what was made goes again
    // (a curve that goes takes its property link with it).
    std::unique_ptr<KFCurveNode> transform(KFCurveNode::Create("Transform"));
    transform->Reserve(3);
    for (int part = 0; part < 3; ++part) {
        const ChannelPlan& entry = plan[size_t(part)];
        const OwnChannel& own = kOwnChannels[part];
        std::unique_ptr<KFCurveNode> channel(
            KFCurveNode::Create(own.channel, KDataType::FindByName(own.property)));
        channel->Reserve(3);
        for (int c = 0; c < 3; ++c) {
            std::unique_ptr<KFCurveNode> component(KFCurveNode::Create(GetComponentName(c)));
            const float* colour = kComponentColours[c];
            KFCurve* curve = KFCurve::Create(entry.values[c], colour[0], colour[1], colour[2]);
            component->SetCurve(curve);
            channel->Add(component.release());
            if (link) LinkPropertyToCurve(entry.property, c, curve);
        }
        transform->Add(channel.release());
    }
    const ChannelPlan& shown = plan[3];
    std::unique_ptr<KFCurveNode> visibility(
        KFCurveNode::Create("Visibility", KDataType::FindByName("Visibility")));
    KFCurve* curve = KFCurve::Create(shown.values[0], 0.75f, 0.0f, 0.0f);
    visibility->SetCurve(curve);
    if (link) LinkPropertyToCurve(shown.property, 0, curve);
    KFCurveNode* root = takeNode->GetRoot();
    root->Reserve(root->GetCount() + int(plan.size()) - 2);
    root->Add(transform.release());
    root->Add(visibility.release());
    for (size_t i = kOwnChannelCount; i < plan.size(); ++i) {
        const ChannelPlan& entry = plan[i];
        InitPropertyChannel(entry.property, takeNode, entry.count, entry.values, entry.written);
    }
}

void KQovNode::ForgetTakeNode(KQovTakeNode* takeNode) {
    if (mAttribute) mAttribute->ForgetTakeNode(takeNode);
}

void KQovNode::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    if (!takeNode || !takeNode->GetRoot()) return;
    std::vector<ChannelPlan> plan;
    PlanChannels(plan);
    BuildChannels(takeNode, plan);
    if (mAttribute) mAttribute->InitTakeNodeChannels(takeNode);
}

// Each list is its own call's: one call may run inside another.
struct KQovNode::ThreadLists {
    // The last plan made on this thread: nodes read one after the other mostly repeat it.
    std::shared_ptr<const DeferredPlan> lastPlan;
    // Nodes read alike share the list of layer types.
    std::shared_ptr<const LayerTypes> lastLayers;
    std::vector<ChannelPlan> deferPlan;
    DeferredPlan deferChannels;
    DeferredPlan writeChannels;
    std::vector<ChannelPlan> writePlan;
    std::vector<KProperty*> properties;
    // With only the node's own channels planned, a row's channel follows from its name alone:
    // found once per table (the thread's last one).
    struct RowChannels {
        const KQovPropertyDescriptor* first = nullptr;
        std::vector<int> at;
    } rowChannels;
    DeferredPlan sketchChannels;
    std::vector<ChannelPlan> sketchPlan;
};

KQovNode::ThreadLists& KQovNode::GetThreadLists() {
    return KThreadScratch<ThreadLists>();
}

std::shared_ptr<const KQovNode::DeferredPlan> KQovNode::SharedPlan(const DeferredPlan& plan) {
    std::shared_ptr<const DeferredPlan>& last = GetThreadLists().lastPlan;
    static_assert(sizeof(DeferredChannel) == 20, "compared bit for bit: no padding");
    const auto same = [&plan](const DeferredPlan& other) {
        // Bit for bit: the curves are to get exactly these values.
        return other.size() == plan.size() &&
               std::memcmp(other.data(), plan.data(), plan.size() * sizeof(DeferredChannel)) == 0;
    };
    if (!last || !same(*last)) last = std::make_shared<const DeferredPlan>(plan);
    return last;
}

bool KQovNode::PlanWaitingChannels(DeferredPlan& channels) const {
    // What PlanChannels finds in rows built now: the node's own four, then every other
    // animatable row (none in the node's table; one found builds the rows after all).
    channels.clear();
    if (!mProperties || !mProperties->IsTableWaiting()) return false;
    // Whether the table has such a row, found once per table.
    const int rows = mProperties->GetTableRowCount();
    const bool otherAnimatable =
        KQovPerTable<bool>(mProperties->GetTableRow(0), rows, [this, rows] {
            for (int i = 0; i < rows; ++i) {
                const KQovPropertyDescriptor* row = mProperties->GetTableRow(i);
                if (row->animatable && !IsOwnChannelProperty(row->name)) return true;
            }
            return false;
        });
    if (otherAnimatable) return false;
    for (const OwnChannel& own : kOwnChannels) {
        const KQovPropertyDescriptor* row = mProperties->GetTableRow(own.row);
        if (!row || std::strcmp(row->name, own.property) != 0) return false;
        const bool single = std::strcmp(own.property, "Visibility") == 0;
        double values[4] = {own.neutral, own.neutral, own.neutral, 1.0};
        mProperties->GetWaitingRowNumbers(own.row, values);
        DeferredChannel channel{
            uint16_t(own.row), uint8_t(single ? 1 : 3), uint8_t(single ? 1 : 3), {}};
        for (int c = 0; c < 4; ++c) channel.values[c] = float(values[c]);
        channels.push_back(channel);
    }
    return true;
}

void KQovNode::DeferDefaultChannels() {
    // Scratch lists kept by the thread: a node made costs no list of its own.
    ThreadLists& lists = GetThreadLists();
    std::vector<ChannelPlan>& plan = lists.deferPlan;
    DeferredPlan& channels = lists.deferChannels;
    if (PlanWaitingChannels(channels)) {
        mDeferredPlan = SharedPlan(channels);
        return;
    }
    PlanChannels(plan);
    channels.clear();
    const int rows = mProperties ? mProperties->GetTableRowCount() : 0;
    for (size_t i = 0; i < plan.size(); ++i) {
        const ChannelPlan& entry = plan[i];
        int row = entry.row;
        if (entry.property &&
            (row >= rows || mProperties->GetTableProperty(row) != entry.property)) {
            row = 0;
            while (row < rows && mProperties->GetTableProperty(row) != entry.property) ++row;
        }
        if (entry.property && (row >= rows || row >= kNoRow)) {
            // Only table rows can be found again later: no deferring.
            MakeDeferredDefaultTake();
            return;
        }
        const uint16_t stored = entry.property ? uint16_t(row) : kNoRow;
        DeferredChannel channel{stored, uint8_t(entry.count), uint8_t(entry.written), {}};
        for (int c = 0; c < 4; ++c) channel.values[c] = float(entry.values[c]);
        channels.push_back(channel);
    }
    mDeferredPlan = SharedPlan(channels);
}

void KQovNode::ResolveDeferredPlan(std::vector<ChannelPlan>& plan, bool properties) const {
    plan.clear();
    if (!mDeferredPlan) return;
    const DeferredPlan& channels = *mDeferredPlan;
    plan.reserve(channels.size());
    // Values only, from rows not built yet: the node's own four need no property then.
    const bool waiting = !properties && mProperties && mProperties->IsTableWaiting() &&
                         channels.size() == size_t(kOwnChannelCount);
    for (size_t i = 0; i < channels.size(); ++i) {
        const DeferredChannel& channel = channels[i];
        KProperty* property = channel.row == kNoRow || !mProperties || waiting
                                  ? nullptr
                                  : mProperties->GetTableProperty(channel.row);
        // A property gone takes its channel with it; the node's own channels stay, unlinked.
        if (!property && i >= kOwnChannelCount) continue;
        ChannelPlan entry{property, channel.row, channel.count, channel.written, {}};
        for (int c = 0; c < 4; ++c) entry.values[c] = double(channel.values[c]);
        plan.push_back(entry);
    }
}

void KQovNode::BuildDeferredDefaultTake(KQovTakeNode* takeNode) {
    if (!mDeferredPlan) {
        InitTakeNodeChannels(takeNode);
        return;
    }
    std::vector<ChannelPlan> plan;
    ResolveDeferredPlan(plan, true);
    // An attribute listed meanwhile added no channel (one that does makes the take first).
    BuildChannels(takeNode, plan);
    ApplyReadLayerTypes(takeNode);
}

void KQovNode::ForgetDeferredPlan() {
    mDeferredPlan.reset();
    mReadLayers.reset();
}

namespace {

void CountChannels(const KFCurveNode* channel, size_t& count) {
    ++count;
    for (int i = 0; i < channel->GetCount(); ++i) CountChannels(channel->Get(i), count);
}

void SetLayerTypes(KFCurveNode* channel, const std::vector<int8_t>& types, size_t& at) {
    channel->SetLayerType(types[at++], nullptr);
    for (int i = 0; i < channel->GetCount(); ++i) SetLayerTypes(channel->Get(i), types, at);
}

}  // namespace

void KQovNode::ApplyReadLayerTypes(KQovTakeNode* takeNode) const {
    KFCurveNode* root = takeNode ? takeNode->GetRoot() : nullptr;
    if (!mReadLayers || !root) return;
    size_t count = 0;
    CountChannels(root, count);
    // Kept only for plans of the node's own channels, whose tree does not change.
    if (count != mReadLayers->size()) return;
    size_t at = 0;
    SetLayerTypes(root, *mReadLayers, at);
}

bool KQovNode::KeepReadChannels(const std::vector<int8_t>& types) {
    if (!IsDefaultTakeDeferred() || !mDeferredPlan ||
        mDeferredPlan->size() != size_t(kOwnChannelCount))
        return false;
    for (int8_t type : types)
        if (type < KFCURVENODE_LAYER_PLAIN || type > KFCURVENODE_LAYER_SCALING) return false;
    // The values read are the node's own: the plan takes them, as the made take's curves would.
    if (!WriteDeferredDefaults()) return false;
    // Nodes read alike share the list (the thread's last one).
    std::shared_ptr<const LayerTypes>& last = GetThreadLists().lastLayers;
    if (!last || *last != types) last = std::make_shared<const LayerTypes>(types);
    mReadLayers = last;
    return true;
}

int KQovNode::DeferredLinkCount() const {
    std::vector<ChannelPlan> plan;
    ResolveDeferredPlan(plan, true);
    int links = 0;
    for (const ChannelPlan& entry : plan)
        if (entry.property) links += entry.count;
    return links;
}

std::bitset<256> KQovNode::PlannedFirstLetters(const std::vector<ChannelPlan>& plan) {
    std::bitset<256> letters;
    for (size_t i = kOwnChannelCount; i < plan.size(); ++i)
        letters.set(static_cast<unsigned char>(KToLower(plan[i].property->GetName()[0])));
    return letters;
}

int KQovNode::FindPlannedChannel(const char* name, const std::vector<ChannelPlan>& plan,
                                 const std::bitset<256>* letters) {
    if (!name) return -1;
    // Most names start with a letter no channel starts with.
    const char first = KToLower(name[0]);
    bool possible = first == 'l' || first == 't' || first == 'v';
    if (!possible && letters) possible = letters->test(static_cast<unsigned char>(first));
    for (size_t i = kOwnChannelCount; i < plan.size() && !possible && !letters; ++i)
        possible = KToLower(plan[i].property->GetName()[0]) == first;
    if (!possible) return -1;
    const char* mapped = GetChannelName(name);
    // "T", "R", "S" are found under "Transform", the root's first channel.
    if (mapped != name) return mapped[0] == 'T' ? 0 : mapped[0] == 'R' ? 1 : 2;
    if (KStrCaseCmp(name, "Transform") == 0) return -2;
    if (KStrCaseCmp(name, "Visibility") == 0) return 3;
    for (size_t i = kOwnChannelCount; i < plan.size(); ++i)
        if (KStrCaseCmp(GetChannelName(plan[i].property->GetName()), name) == 0) return int(i);
    return -1;
}

bool KQovNode::HasDeferredChannel(const char* propertyName) const {
    // FindPlannedChannel without resolving the whole plan: asked for every property a record
    // is made for.
    if (!propertyName) return false;
    if (GetChannelName(propertyName) != propertyName ||
        KStrCaseCmp(propertyName, "Transform") == 0 || KStrCaseCmp(propertyName, "Visibility") == 0)
        return true;
    for (size_t i = kOwnChannelCount; mDeferredPlan && i < mDeferredPlan->size(); ++i) {
        const KProperty* property =
            mProperties ? mProperties->GetTableProperty((*mDeferredPlan)[i].row) : nullptr;
        if (property && KStrCaseCmp(GetChannelName(property->GetName()), propertyName) == 0)
            return true;
    }
    return false;
}

bool KQovNode::WriteDeferredDefaults() {
    if (!mDeferredPlan) return false;
    // What WritePropertyDefaults would write into the made channels, written into the plan
    // instead; a write that would add a curve or a component makes the take first.
    // Scratch lists kept by the thread: the reader calls this once for every node it reads.
    ThreadLists& lists = GetThreadLists();
    DeferredPlan& channels = lists.writeChannels;
    std::vector<ChannelPlan>& plan = lists.writePlan;
    channels = *mDeferredPlan;
    ResolveDeferredPlan(plan, false);
    if (!WriteDefaultsIntoPlan(channels, plan)) return false;
    mDeferredPlan = SharedPlan(channels);
    return true;
}

bool KQovNode::WriteDefaultsIntoPlan(DeferredPlan& channels, const std::vector<ChannelPlan>& plan) {
    if (plan.size() != channels.size()) return false;
    ThreadLists& lists = GetThreadLists();
    std::vector<KProperty*>& properties = lists.properties;
    properties.clear();
    const std::bitset<256> letters = PlannedFirstLetters(plan);
    // Rows not built yet give the numbers they would hold (before the attribute's properties,
    // as built rows would).
    const bool waiting = mProperties && mProperties->IsTableWaiting();
    const int rows = waiting ? mProperties->GetTableRowCount() : 0;
    if (waiting) {
        if (mAttribute) mAttribute->CollectProperties(properties);
    } else {
        CollectProperties(properties);
    }
    ThreadLists::RowChannels& rowChannels = lists.rowChannels;
    const bool ownOnly = plan.size() == size_t(kOwnChannelCount);
    if (waiting && ownOnly &&
        (rowChannels.first != mProperties->GetTableRow(0) ||
         rowChannels.at.size() != size_t(rows))) {
        rowChannels.first = mProperties->GetTableRow(0);
        rowChannels.at.resize(size_t(rows));
        for (int i = 0; i < rows; ++i)
            rowChannels.at[size_t(i)] =
                FindPlannedChannel(mProperties->GetTableRow(i)->name, plan, nullptr);
    }
    for (int i = 0; i < rows + int(properties.size()); ++i) {
        KProperty* property = i < rows ? nullptr : properties[size_t(i - rows)];
        const int at = !property && ownOnly
                           ? rowChannels.at[size_t(i)]
                           : FindPlannedChannel(property ? GetChannelName(property)
                                                         : mProperties->GetTableRow(i)->name,
                                                plan, &letters);
        if (at == -2) return false;
        if (at < 0) continue;
        DeferredChannel* target = &channels[size_t(at)];
        double values[4] = {0.0, 0.0, 0.0, 1.0};
        const int n = property ? KQovGetPropertyNumbers(property, values)
                               : mProperties->GetWaitingRowNumbers(i, values);
        if (n <= 0) continue;
        const int m = n == 1 ? 1 : std::min(n, 4);
        const bool ownCurve = target->count == 1;
        if (n == 1 ? !ownCurve : (ownCurve || m > target->count || target->written == 1))
            return false;
        for (int c = 0; c < m; ++c) target->values[c] = float(values[c]);
        target->written = uint8_t(std::max(int(target->written), m));
    }
    return true;
}

struct KQovDefaultTakeSketch::State {
    KQovNode::DeferredPlan channels;
    std::shared_ptr<const KQovNode::LayerTypes> layers;
    // The channel name and data type of each channel past the node's own four.
    std::vector<std::pair<std::string, const KDataType*>> names;
    std::unique_ptr<KQovTakeNode> take;
};

KQovDefaultTakeSketch::KQovDefaultTakeSketch() : mState(std::make_unique<State>()) {}
KQovDefaultTakeSketch::~KQovDefaultTakeSketch() = default;

KQovTakeNode* KQovNode::SketchDefaultTake(KQovDefaultTakeSketch& sketch) {
    if (!IsDefaultTakeDeferred() || !mDeferredPlan) return nullptr;
    ThreadLists& lists = GetThreadLists();
    DeferredPlan& channels = lists.sketchChannels;
    std::vector<ChannelPlan>& plan = lists.sketchPlan;
    channels = *mDeferredPlan;
    ResolveDeferredPlan(plan, false);
    if (!WriteDefaultsIntoPlan(channels, plan)) return nullptr;
    KQovDefaultTakeSketch::State& last = *sketch.mState;
    bool same = last.take && last.channels.size() == channels.size() &&
                std::memcmp(last.channels.data(), channels.data(),
                            channels.size() * sizeof(DeferredChannel)) == 0 &&
                last.names.size() + kOwnChannelCount == plan.size() &&
                (last.layers == mReadLayers ||
                 (last.layers && mReadLayers && *last.layers == *mReadLayers));
    for (size_t i = kOwnChannelCount; same && i < plan.size(); ++i) {
        const auto& name = last.names[i - kOwnChannelCount];
        same = name.first == GetChannelName(plan[i].property->GetName()) &&
               name.second == plan[i].property->GetDataType();
    }
    if (same) return last.take.get();
    // Not named "Default": made without links to the node's properties.
    last.take = std::make_unique<KQovTakeNode>("Sketch");
    ++sketch.mGeneration;
    for (size_t i = 0; i < plan.size(); ++i) {
        plan[i].written = channels[i].written;
        for (int c = 0; c < 4; ++c) plan[i].values[c] = double(channels[i].values[c]);
    }
    BuildChannels(last.take.get(), plan);
    ApplyReadLayerTypes(last.take.get());
    last.layers = mReadLayers;
    last.channels = channels;
    last.names.clear();
    for (size_t i = kOwnChannelCount; i < plan.size(); ++i)
        last.names.emplace_back(GetChannelName(plan[i].property->GetName()),
                                plan[i].property->GetDataType());
    return last.take.get();
}

KQovTakeNode* KQovNode::SketchPlannedTake(KQovDefaultTakeSketch& sketch) {
    if (!mDeferredPlan) return nullptr;
    KQovTakeNode* take = SketchDefaultTake(sketch);
    if (!take) return nullptr;
    const DeferredPlan& channels = sketch.mState->channels;
    const bool waiting = mProperties && mProperties->IsTableWaiting();
    for (const DeferredChannel& channel : channels) {
        if (channel.row == kNoRow) continue;  // no property: no link to write it
        if (!mProperties || channel.row >= mProperties->GetTableRowCount()) return nullptr;
        double values[4] = {0.0, 0.0, 0.0, 1.0};
        const int n = waiting ? mProperties->GetWaitingRowNumbers(channel.row, values)
                              : KQovGetPropertyNumbers(mProperties->GetTableProperty(channel.row),
                                                       values);
        for (int c = 0; c < int(channel.count) && c < 4; ++c) {
            if (c >= n) continue;  // a component the property lacks is never written back
            const float kept = float(values[c]);
            if (double(kept) != values[c] ||
                std::memcmp(&kept, &channel.values[c], sizeof(float)) != 0)
                return nullptr;
        }
    }
    return take;
}

// --- Hierarchy ---

KQovNode* KQovNode::NodeOf(KPlug* plug) {
    auto* properties = KObjectSafeCast<KQovNodeProperties>(plug);
    return properties ? properties->GetNode() : nullptr;
}

KQovNode* KQovNode::GetParent() const {
    if (!mProperties) return nullptr;
    return NodeOf(mProperties->GetDstObject(0, KQovNodeProperties::ClassId()));
}

KQovNode* KQovNode::GetChild(int index) const {
    if (!mProperties || index < 0) return nullptr;
    return NodeOf(mProperties->GetConnectedObject(index, KQovNodeProperties::ClassId()));
}

int KQovNode::GetChildCount(bool recursive) const {
    if (!mProperties) return 0;
    const int count = mProperties->GetConnectedObjectCount(KQovNodeProperties::ClassId());
    if (!recursive) return count;
    return int(KQovListNodes(this).size()) - 1;
}

bool KQovNode::IsSelfOrAncestorOf(const KQovNode* node) const {
    for (const KQovNode* p = node; p; p = p->GetParent())
        if (p == this) return true;
    return false;
}

int KQovNode::RefusalOfChild(const KQovNode* child) const {
    // Only a node with children can be an ancestor: a tree joined from the top down, as files
    // list it, then costs no walk up a long chain per join.
    if (child == this || (child->GetChildCount() > 0 && child->IsSelfOrAncestorOf(this)))
        return eCyclicGraph;
    if (KQovScene::RootWouldGoBelowSettings(this, child)) return eRootBelowSettings;
    if (KQovScene::RootWouldLeaveItsScene(this, child)) return eRootOfAnotherScene;
    return -1;
}

bool KQovNode::AddChild(KQovNode* node) {
    if (!node || !node->mProperties || !mProperties) return false;
    // Asked before the node leaves its former parent: a refused node stays where it was.
    const int refused = RefusalOfChild(node);
    if (refused >= 0) {
        mError.SetError(refused);
        return false;
    }
    KQovNode* former = node->GetParent();
    const int formerIndex = former ? former->mProperties->IndexOfSrc(node->mProperties) : -1;
    if (former) former->RemoveChild(node);
    bool linked = false;
    mCheckedChild = node;
    try {
        linked = mProperties->ConnectSrc(node->mProperties);
    } catch (...) {
        mCheckedChild = nullptr;
        throw;
    }
    mCheckedChild = nullptr;
    if (linked) return true;
    // Refused: back where it was.
    if (former && formerIndex >= 0) former->mProperties->ConnectSrcAt(formerIndex, node->mProperties);
    return false;
}

KQovNode* KQovNode::RemoveChild(KQovNode* node) {
    if (!node) return nullptr;
    if (mProperties && node->mProperties) mProperties->DisconnectSrc(node->mProperties);
    return node;
}

void KQovNode::ChildLinked(KQovNode* child) {
    if (mChildIndex) mChildIndex->Add(child);
}

void KQovNode::ChildUnlinked(KQovNode* child) {
    if (mChildIndex) mChildIndex->Remove(child);
}

bool KQovNode::FindIndexedChild(const KString& name, KQovNode*& found) const {
    if (mChildIndex && mChildIndex->IsBroken()) mChildIndex.reset();
    if (!mChildIndex) {
        if (GetChildCount() < ChildIndex::kFewest) return false;
        try {
            auto index = std::make_unique<ChildIndex>();
            for (int i = 0; i < GetChildCount(); ++i)
                if (KQovNode* child = GetChild(i)) index->Add(child);
            if (index->IsBroken()) return false;
            mChildIndex = std::move(index);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return mChildIndex->Find(name.Buffer(), found);
}

namespace {

// One node's children as a walk meets them: the set's view of node sets is looked up once per
// node, not once per child.
struct ChildCursor {
    const KQovNode* node;
    KPlug* view;  // null: through GetChild
    int next;
    int count;
};

}  // namespace

KQovNode* KQovNode::FindChild(const char* name, bool recursive, bool initialName) const {
    if (!name) return nullptr;
    const KString wanted = KString("Model::") + name;
    if (!recursive && !initialName) {
        KQovNode* found = nullptr;
        if (FindIndexedChild(wanted, found)) return found;
    }
    KPlugFilter* filter = KClassRegistry::GetClassIdFilter(KQovNodeProperties::ClassId());
    const auto cursor = [filter](const KQovNode* node) {
        // The count makes the view when there is none yet.
        const int count = node->GetChildCount();
        KPlug* view = filter && node->mProperties ? node->mProperties->FindSubPlug(filter) : nullptr;
        return ChildCursor{node, view && view->GetSrcCount() == count ? view : nullptr, 0, count};
    };
    // Pre-order, with each level's next child on a stack: nodes past the match are not touched.
    std::vector<ChildCursor> levels{cursor(this)};
    while (!levels.empty()) {
        ChildCursor& level = levels.back();
        if (level.next >= level.count) {
            levels.pop_back();
            continue;
        }
        const int i = level.next++;
        KQovNode* child = level.view ? NodeOf(level.view->GetSrc(i)) : level.node->GetChild(i);
        if (!child) continue;
        if (wanted == (initialName ? child->GetInitialName() : child->GetName())) return child;
        // A set with no source at all holds no child: a leaf costs no look-up of its view.
        if (recursive && child->mProperties && child->mProperties->GetSrcCount() > 0)
            levels.push_back(cursor(child));
    }
    return nullptr;
}

void KQovNode::AddChildName(const char* text) {
    mChildNames.emplace_back(text ? text : "");
}

const char* KQovNode::GetChildName(int index) const {
    return index >= 0 && index < GetChildNameCount() ? mChildNames[size_t(index)].Buffer() : nullptr;
}

// --- Attribute and flags ---

KQovNodeAttribute* KQovNode::SetNodeAttribute(KQovNodeAttribute* attribute) {
    if (attribute == mAttribute) return nullptr;
    KQovNodeAttribute* previous = mAttribute;
    mAttribute = attribute;
    if (previous) previous->ClearNode();
    if (attribute) {
        if (KQovNode* other = attribute->GetNode(); other && other != this)
            other->SetNodeAttribute(nullptr);
        try {
            attribute->SetNode(this);
        } catch (...) {
            // Not half attached: what it counted goes, the node keeps none.
            mAttribute = nullptr;
            attribute->ClearNode();
            UpdateAttributeFlags();
            throw;
        }
    }
    UpdateAttributeFlags();
    return previous;
}

void KQovNode::ForgetAttribute(const KQovNodeAttribute* attribute) {
    if (attribute != mAttribute) return;
    mAttribute = nullptr;
    UpdateAttributeFlags();
}

void KQovNode::UpdateAttributeFlags() {
    const KQovNodeAttribute* attribute = mAttribute;
    const int type = attribute ? attribute->GetAttributeType() : -1;
    const int kind = attribute ? attribute->GetMarkerKind() : 0;
    const bool marker = type == KQovNodeAttribute::eMarker;
    mMultiLayer = marker && (kind == 2 || kind == 3) ? 1 : 0;
    const bool singleTake = type == KQovNodeAttribute::eLight ||
                            type == KQovNodeAttribute::eCamera || (marker && kind == 1);
    mMultiTake = singleTake ? 0 : 1;
}

KQovNodeAttribute* KQovNode::GetAttributeOfType(int type) const {
    return mAttribute && mAttribute->GetAttributeType() == type ? mAttribute : nullptr;
}

bool KQovNode::IsGeometry() const {
    const int type = mAttribute ? mAttribute->GetAttributeType() : -1;
    return type == KQovNodeAttribute::eMesh || type == KQovNodeAttribute::eNurb ||
           type == KQovNodeAttribute::ePatch;
}

void KQovNode::SetVisibility(bool visible) {
    if (!mProperties) return;
    // Rows not built yet: "Visibility" holds its default 1 until it is built.
    if (visible && mProperties->IsTableWaiting()) {
        mProperties->SetBool(P::eShow, true);
        return;
    }
    if (KProperty* show = mProperties->FindProperty("Show")) show->SetInt(visible ? 1 : 0);
    if (KProperty* visibility = mProperties->FindProperty("Visibility"))
        visibility->SetDouble(visible ? 1.0 : 0.0);
}

bool KQovNode::GetVisibility() const {
    if (!mProperties) return false;
    if (mProperties->IsTableWaiting()) {
        double value[4] = {0.0, 0.0, 0.0, 1.0};
        return mProperties->GetWaitingRowNumbers(P::eVisibility, value) > 0 && value[0] != 0.0;
    }
    // The table row holds it unless it went (as PlanChannels finds it).
    KProperty* visibility = mProperties->GetTableProperty(P::eVisibility);
    if (!visibility || std::strcmp(visibility->GetName(), "Visibility") != 0)
        visibility = mProperties->FindProperty("Visibility");
    return visibility && visibility->GetDouble() != 0.0;
}

void KQovNode::SetMarked(bool marked, bool recursive) {
    mMarked = marked;
    if (!recursive) return;
    for (KQovNode* node : KQovListNodes(this)) node->mMarked = marked;
}

bool KQovNode::IsMarked(bool recursive) const {
    if (mMarked) return true;
    if (!recursive) return false;
    for (const KQovNode* node : KQovListNodes(this))
        if (node->mMarked) return true;
    return false;
}

// --- Character back-links ---

int KQovNode::AddCharacterLink(KQovNodeLinkOwner* owner, int kind, int slot, int subIndex) {
    mCharacterLinks.push_back(CharacterLink{owner, kind, slot, subIndex});
    return int(mCharacterLinks.size()) - 1;
}

int KQovNode::FindCharacterLink(const KQovNodeLinkOwner* owner, int kind, int slot,
                                int subIndex) const {
    const size_t size = mCharacterLinks.size();
    if (!owner || size == 0) return -1;
    auto matches = [&](size_t i) {
        const CharacterLink& link = mCharacterLinks[i];
        return link.owner == owner && link.kind == kind && link.slot == slot &&
               link.subIndex == subIndex;
    };
    // Outwards from the last removal: links mostly go in the order they came, or the reverse.
    const size_t hint = std::min(size_t(mCharacterLinkHint), size - 1);
    for (size_t d = 0; d <= hint || hint + d < size; ++d) {
        if (hint + d < size && matches(hint + d)) return int(hint + d);
        if (d > 0 && d <= hint && matches(hint - d)) return int(hint - d);
    }
    return -1;
}

int KQovNode::RemoveCharacterLink(const KQovNodeLinkOwner* owner, int kind, int slot,
                                  int subIndex) {
    const int at = FindCharacterLink(owner, kind, slot, subIndex);
    if (at < 0) return at;
    mCharacterLinks[size_t(at)].owner = nullptr;
    mCharacterLinkHint = uint32_t(at);
    if (++mCharacterLinkHoles * 2 <= mCharacterLinks.size()) return at;
    size_t kept = 0;
    for (size_t i = 0; i < mCharacterLinks.size(); ++i) {
        if (i == size_t(at)) mCharacterLinkHint = uint32_t(kept);
        if (mCharacterLinks[i].owner) mCharacterLinks[kept++] = mCharacterLinks[i];
    }
    mCharacterLinks.resize(kept);
    mCharacterLinkHoles = 0;
    return at;
}

// --- Targets ---

void KQovNode::SetTarget(int row, KQovNode* node) {
    if (!node || !node->mProperties || !mProperties) return;
    auto* list = static_cast<KPropertyObjectList*>(mProperties->GetTableProperty(row));
    if (!list || list->Find(node->mProperties) >= 0) return;
    // One target: a new one replaces the old.
    list->SetSingle(node->mProperties);
}

KQovNode* KQovNode::GetTarget(int row) const {
    // A list never built holds no target.
    if (mProperties && mProperties->IsTableWaiting()) return nullptr;
    auto* list = mProperties ? static_cast<KPropertyObjectList*>(mProperties->GetTableProperty(row))
                             : nullptr;
    return list && list->GetCount() > 0 ? NodeOf(list->GetAt(0)) : nullptr;
}

void KQovNode::SetLookAtTarget(KQovNode* node) {
    SetTarget(KQovNodeProperties::eLookAtProperty, node);
}

KQovNode* KQovNode::GetLookAtTarget() const {
    return GetTarget(KQovNodeProperties::eLookAtProperty);
}

void KQovNode::SetUpVectorTarget(KQovNode* node) {
    SetTarget(KQovNodeProperties::eUpVectorProperty, node);
}

KQovNode* KQovNode::GetUpVectorTarget() const {
    return GetTarget(KQovNodeProperties::eUpVectorProperty);
}

void KQovNode::SetPostTargetRotation(double x, double y, double z, double w) {
    mPostTargetRotation.Set(x, y, z, w);
}

void KQovNode::SetUpTargetRotation(double x, double y, double z, double w) {
    mUpTargetRotation.Set(x, y, z, w);
}

// --- Local transforms ---

void KQovNode::SetLocal(const char* name, double x, double y, double z) {
    const double values[3] = {x, y, z};
    if (mProperties) KQovSetPropertyNumbers(mProperties->FindProperty(name), values, 3);
}

void KQovNode::GetLocal(const char* name, int row, KVector4& out) const {
    double values[4];
    // Rows that wait are not built for a look: a writer asks every node of a large scene.
    int n = 0;
    if (mProperties && mProperties->IsTableWaiting())
        n = mProperties->GetWaitingRowNumbers(row, values);
    else if (mProperties)
        n = KQovGetPropertyNumbers(mProperties->FindProperty(name), values);
    if (n >= 3) {
        out[0] = values[0];
        out[1] = values[1];
        out[2] = values[2];
    }
}

void KQovNode::SetLocalTranslation(double x, double y, double z) {
    SetLocal("Lcl Translation", x, y, z);
}
void KQovNode::GetLocalTranslation(KVector4& out) const {
    GetLocal("Lcl Translation", P::eLclTranslation, out);
}
void KQovNode::SetLocalRotation(double x, double y, double z) {
    SetLocal("Lcl Rotation", x, y, z);
}
void KQovNode::GetLocalRotation(KVector4& out) const {
    GetLocal("Lcl Rotation", P::eLclRotation, out);
}
void KQovNode::SetLocalScaling(double x, double y, double z) {
    SetLocal("Lcl Scaling", x, y, z);
}
void KQovNode::GetLocalScaling(KVector4& out) const {
    GetLocal("Lcl Scaling", P::eLclScaling, out);
}

void KQovNode::SetInheritType(int type) {
    if (mProperties) mProperties->SetNumber(KQovNodeProperties::eInheritType, type);
}

int KQovNode::GetInheritType() const {
    return mProperties ? int(mProperties->GetNumber(KQovNodeProperties::eInheritType)) : 0;
}

// --- Pivot sets ---

KQovPivotSet* KQovNode::GetPivotSet(int set) const {
    return mProperties ? mProperties->GetPivotSet(set) : nullptr;
}

void KQovNode::SetPivotVector(int set, KVector4 KQovPivotSet::*field, double x, double y,
                              double z, double w) {
    if (KQovPivotSet* pivots = GetPivotSet(set)) (pivots->*field).Set(x, y, z, w);
    InvalidatePivotSet(set);
}

const KVector4* KQovNode::GetPivotVector(int set, KVector4 KQovPivotSet::*field) const {
    const KQovPivotSet* pivots = GetPivotSet(set);
    return pivots ? &(pivots->*field) : nullptr;
}

void KQovNode::SetPivotState(int set, int state) {
    if (KQovPivotSet* pivots = GetPivotSet(set)) pivots->pivotState = state;
    InvalidatePivotSet(set);
}
int KQovNode::GetPivotState(int set) const {
    const KQovPivotSet* pivots = GetPivotSet(set);
    return pivots ? pivots->pivotState : 0;
}
void KQovNode::SetRotationOrder(int set, int order) {
    if (KQovPivotSet* pivots = GetPivotSet(set)) pivots->rotationOrder = order;
    InvalidatePivotSet(set);
}
int KQovNode::GetRotationOrder(int set) const {
    const KQovPivotSet* pivots = GetPivotSet(set);
    return pivots ? pivots->rotationOrder : 0;
}
void KQovNode::SetRotationSpaceForLimitOnly(int set, bool on) {
    if (KQovPivotSet* pivots = GetPivotSet(set)) pivots->rotationSpaceForLimitOnly = on ? 1 : 0;
    InvalidatePivotSet(set);
}
bool KQovNode::GetRotationSpaceForLimitOnly(int set) const {
    const KQovPivotSet* pivots = GetPivotSet(set);
    return pivots && pivots->rotationSpaceForLimitOnly != 0;
}

#define KQOV_PIVOT_VECTOR(Name, field)                                                       \
    void KQovNode::Set##Name(int set, double x, double y, double z, double w) {              \
        SetPivotVector(set, &KQovPivotSet::field, x, y, z, w);                               \
    }                                                                                        \
    const KVector4* KQovNode::Get##Name(int set) const {                                     \
        return GetPivotVector(set, &KQovPivotSet::field);                                    \
    }
KQOV_PIVOT_VECTOR(RotationOffset, rotationOffset)
KQOV_PIVOT_VECTOR(RotationPivot, rotationPivot)
KQOV_PIVOT_VECTOR(PreRotation, preRotation)
KQOV_PIVOT_VECTOR(PostRotation, postRotation)
KQOV_PIVOT_VECTOR(ScalingOffset, scalingOffset)
KQOV_PIVOT_VECTOR(ScalingPivot, scalingPivot)
#undef KQOV_PIVOT_VECTOR

#define KQOV_GEOMETRIC_VECTOR(Name, field)                                                   \
    void KQovNode::Set##Name(int set, double x, double y, double z, double w) {              \
        SetPivotVector(set, &KQovPivotSet::field, x, y, z, w);                               \
    }                                                                                        \
    void KQovNode::Get##Name(int set, KVector4& out) const {                                 \
        if (const KVector4* v = GetPivotVector(set, &KQovPivotSet::field)) out = *v;         \
    }
KQOV_GEOMETRIC_VECTOR(GeometricTranslation, geometricTranslation)
KQOV_GEOMETRIC_VECTOR(GeometricRotation, geometricRotation)
KQOV_GEOMETRIC_VECTOR(GeometricScaling, geometricScaling)
#undef KQOV_GEOMETRIC_VECTOR

// --- Properties, pivots and limits ---

void KQovNode::ResetTransformProperties() {
    if (!mProperties) return;
    mProperties->ResetTableDefaults();
    ResetTransformExtras(mProperties);
}

void KQovNode::CopyPivotsToProperties() {
    if (!mProperties) return;
    const KQovPivotSet& set = *mProperties->GetPivotSet(0);
    for (const PivotMirror& mirror : kPivotMirrors) mProperties->SetVector(mirror.row, set.*mirror.field);
    mProperties->SetNumber(P::eRotationOrder, set.rotationOrder);
    mProperties->SetBool(P::eRotationSpaceForLimitOnly, set.rotationSpaceForLimitOnly != 0);
    for (const LimitMirror& mirror : kLimitMirrors) {
        const KQovLimits& limits = mLimits.*mirror.limits;
        mProperties->SetBool(mirror.firstRow, mLimits.*mirror.active);
        mProperties->SetVector(mirror.firstRow + 1, limits.min);
        mProperties->SetVector(mirror.firstRow + 2, limits.max);
        for (int axis = 0; axis < 6; ++axis)
            mProperties->SetBool(mirror.firstRow + 3 + axis, limits.*kAxisFlags[axis]);
    }
}

void KQovNode::CopyPropertiesToPivots() {
    if (!mProperties) return;
    bool used = mProperties->GetNumber(P::eRotationOrder) != 0.0;
    const KVector4 zero(0.0, 0.0, 0.0, 1.0);
    const KVector4 one(1.0, 1.0, 1.0, 1.0);
    for (int i = 0; i < int(std::size(kPivotMirrors)) && !used; ++i) {
        const KVector4 value = mProperties->GetVector(kPivotMirrors[i].row);
        const bool scaling = kPivotMirrors[i].row == P::eGeometricScaling;
        used = !NearXYZ(value, scaling ? one : zero);
    }
    if (used) {
        KQovPivotSet& set = *mProperties->GetPivotSet(0);
        for (const PivotMirror& mirror : kPivotMirrors)
            CopyXYZ(set.*mirror.field, mProperties->GetVector(mirror.row));
        set.rotationOrder = int32_t(mProperties->GetNumber(P::eRotationOrder));
        set.rotationSpaceForLimitOnly = mProperties->GetBool(P::eRotationSpaceForLimitOnly) ? 1 : 0;
        set.pivotState = 0;
        set.globalMatrixValid = 0;
        mProperties->ResetStoredPivotSet(1);
    }
    bool same = true;
    for (const LimitMirror& mirror : kLimitMirrors) {
        const KQovLimits& limits = mLimits.*mirror.limits;
        same = same && mLimits.*mirror.active == mProperties->GetBool(mirror.firstRow) &&
               NearXYZ(limits.min, mProperties->GetVector(mirror.firstRow + 1)) &&
               NearXYZ(limits.max, mProperties->GetVector(mirror.firstRow + 2));
        for (int axis = 0; axis < 6; ++axis)
            same = same && limits.*kAxisFlags[axis] == mProperties->GetBool(mirror.firstRow + 3 + axis);
    }
    if (same) return;
    for (const LimitMirror& mirror : kLimitMirrors) {
        KQovLimits& limits = mLimits.*mirror.limits;
        mLimits.*mirror.active = mProperties->GetBool(mirror.firstRow);
        CopyXYZ(limits.min, mProperties->GetVector(mirror.firstRow + 1));
        CopyXYZ(limits.max, mProperties->GetVector(mirror.firstRow + 2));
        for (int axis = 0; axis < 6; ++axis)
            limits.*kAxisFlags[axis] = mProperties->GetBool(mirror.firstRow + 3 + axis);
    }
}

void KQovNode::SetRotationActive(bool on) {
    if (mProperties) mProperties->SetBool(P::eRotationActive, on);
}

void KQovNodeLimits::SetRotationActive(bool on) {
    rotationActive = on;
    if (node) node->SetRotationActive(on);
}
