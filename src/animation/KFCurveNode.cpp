#include "animation/KFCurveNode.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "animation/KFCurve.h"
#include "animation/KFCurveSceneTypes.h"
#include "foundation/KLocale.h"
#include "foundation/KTreeWalk.h"

namespace {

// Shorter lists are walked: an index would cost more than it saves.
constexpr size_t kIndexedChildren = 16;

// Raised whenever a name may change; an index of another count is made again.
std::atomic<uint64_t> gNameCount{0};

bool EqualNoCase(const char* a, std::string_view b) {
    if (!a) a = "";
    size_t i = 0;
    for (; i < b.size(); ++i) {
        if (a[i] == '\0' || KToLower(a[i]) != KToLower(b[i])) return false;
    }
    return a[i] == '\0';
}

// The transform data type a one-letter segment also matches; null for other letters.
const KDataType* SegmentType(std::string_view segment) {
    switch (segment[0]) {
        case 'T':
            return KFCurveLclTranslationType();
        case 'R':
            return KFCurveLclRotationType();
        case 'S':
            return KFCurveLclScalingType();
        default:
            return nullptr;
    }
}

KFCurve* CopyCurve(const KFCurve& source) {
    auto curve = std::make_unique<KFCurve>();
    curve->CopyFrom(source, true);
    return curve.release();
}

}  // namespace

// Construction and destruction.

KFCurveNode* KFCurveNode::Create(const char* name, const KDataType* dataType, int layerType,
                                 int layerId) {
    bool warp = dataType && dataType == KFCurveTimeWarpType();
    return new KFCurveNode(name, warp ? nullptr : name, dataType, layerType, layerId);
}

KFCurveNode* KFCurveNode::CreateCopy(KFCurveNode* source) {
    return new KFCurveNode(source);
}

KFCurveNode::KFCurveNode(const char* name, const char* secondName, const KDataType* dataType,
                         int layerType, int layerId)
    : mNameRecord(new KFCurveNodeNameRecord), mBaseLayer(this), mLayerId(layerId) {
    try {
        mNameRecord->mName = name ? name : "";
        SetSecondName(secondName);
        mNameRecord->mDataType = dataType;
        SetLayerType(layerType, nullptr);
    } catch (...) {
        ReleaseNameRecord();  // no destructor runs for a node that was never made
        throw;
    }
}

const char* KFCurveNode::GetSecondName() const {
    const KFCurveNodeNameRecord* record = mNameRecord;
    return record->mSecondName ? record->mSecondName->Buffer() : record->mName.c_str();
}

void KFCurveNode::SetSecondName(const char* name) {
    // Most channels keep their name as their second one: no text of its own then.
    if (name && mNameRecord->mName == name)
        mNameRecord->mSecondName.reset();
    else
        mNameRecord->mSecondName = std::make_unique<KString>(name);
}

KFCurveNode::KFCurveNode(KFCurveNode* source) : mBaseLayer(this), mCopySource(source) {
    ShareNameRecord(source->mNameRecord);
    SetLayerType(source->mLayerType, nullptr);
    mRotationOrder = source->mRotationOrder;
    mQuaternionInterpolation = source->mQuaternionInterpolation;
    mCacheTime = source->mCacheTime;
    mCacheState[0] = source->mCacheState[0];
    mCacheState[1] = source->mCacheState[1];
    std::copy(source->mCache, source->mCache + 4, mCache);
}

KFCurveNode::~KFCurveNode() {
    NotifyChange(KFCURVENODE_CHANGE_DESTROY);
    delete mChangeRecord;
    mChangeRecord = nullptr;
    KFCurveNode::Clear();
    if (mParent) {
        auto& siblings = mParent->Children();
        auto it = std::find(siblings.begin(), siblings.end(), this);
        if (it != siblings.end()) {
            siblings.erase(it);
            mParent->ForgetIndexedName(this);
        }
    }
    ReleaseNameRecord();
}

size_t KFCurveNodeNameHash::operator()(std::string_view name) const {
    uint64_t hash = 14695981039346656037ull;
    for (char c : name) hash = (hash ^ uint8_t(KToLower(c))) * 1099511628211ull;
    return size_t(hash);
}

bool KFCurveNodeNameEqual::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (KToLower(a[i]) != KToLower(b[i])) return false;
    return true;
}

// Children named by a property are left out (a property renamed is not told); while one is
// listed every lookup walks. The keys are the first children's own names.
struct KFCurveNode::NameIndex {
    using FoldedHash = KFCurveNodeNameHash;
    using FoldedEqual = KFCurveNodeNameEqual;
    struct Entry {
        KFCurveNode* first;
        size_t count;
        size_t at;  // where `first` was last seen; children only move down until it is again
    };
    std::unordered_map<std::string_view, Entry, FoldedHash, FoldedEqual> byName;
    size_t propertyNamed = 0;
    uint64_t nameCount = 0;

    // May throw (the caller then drops the index). `at`: the child's place.
    void Add(KFCurveNode* child, size_t at) {
        if (child->GetProperty()) {
            ++propertyNamed;
            return;
        }
        Entry& entry = byName.try_emplace(child->GetName(), Entry{child, 0, at}).first->second;
        ++entry.count;
    }
    // Allocates nothing. `children` no longer lists this place of `child`.
    void Remove(KFCurveNode* child, const std::vector<KFCurveNode*>& children) {
        if (child->GetProperty()) {
            --propertyNamed;
            return;
        }
        const auto at = byName.find(child->GetName());
        if (at != byName.end()) Remove(at, child, children);
    }
    // The same for the entry of the child's name.
    void Remove(std::unordered_map<std::string_view, Entry, FoldedHash, FoldedEqual>::iterator at,
                KFCurveNode* child, const std::vector<KFCurveNode*>& children) {
        if (--at->second.count == 0) {
            byName.erase(at);
            return;
        }
        if (at->second.first != child) return;
        // Another of the name follows: the first of them takes the key (moved, not made anew).
        FoldedEqual equal;
        for (size_t i = 0; i < children.size(); ++i) {
            KFCurveNode* next = children[i];
            if (!next || next->GetProperty() || !equal(next->GetName(), child->GetName())) continue;
            auto entry = byName.extract(at);
            entry.key() = next->GetName();
            entry.mapped().first = next;
            entry.mapped().at = i;
            byName.insert(std::move(entry));
            return;
        }
    }
    // The place of the entry's child in `children`, searched down from where it was last seen.
    static size_t PlaceOf(Entry& entry, const std::vector<KFCurveNode*>& children) {
        size_t i = std::min(entry.at, children.size() - 1);
        while (children[i] != entry.first && i > 0) --i;
        if (children[i] != entry.first)
            i = size_t(std::find(children.begin(), children.end(), entry.first) - children.begin());
        return entry.at = i;
    }
};

void KFCurveNode::SetProperty(KProperty* property) {
    mNameRecord->mProperty = property;
    ++gNameCount;
}

KFCurveNode::NameIndex* KFCurveNode::IndexedNames() const {
    // A reference lists children that do not tell it when they go.
    if (mFlags & KFCURVENODE_REFERENCE) {
        mNameIndex.reset();
        return nullptr;
    }
    if (mNameIndex && mNameIndex->nameCount == gNameCount) return mNameIndex.get();
    mNameIndex.reset();
    const std::vector<KFCurveNode*>& children = Children();
    if (children.size() < kIndexedChildren) return nullptr;
    try {
        auto index = std::make_unique<NameIndex>();
        index->nameCount = gNameCount;
        index->byName.reserve(children.size());
        for (size_t i = 0; i < children.size(); ++i) index->Add(children[i], i);
        mNameIndex = std::move(index);
    } catch (const std::bad_alloc&) {
        return nullptr;  // walked instead
    }
    return mNameIndex.get();
}

void KFCurveNode::ForgetIndexedName(KFCurveNode* child) {
    if (!mNameIndex) return;
    if (mNameIndex->nameCount != gNameCount || (mFlags & KFCURVENODE_REFERENCE))
        mNameIndex.reset();
    else
        mNameIndex->Remove(child, mChildren);
}

void KFCurveNode::ShareNameRecord(KFCurveNodeNameRecord* record) {
    if (record == mNameRecord) return;
    // The parent's index may hold the text of the record let go.
    if (mParent) mParent->mNameIndex.reset();
    ++record->mRefCount;
    ReleaseNameRecord();
    mNameRecord = record;
}

void KFCurveNode::ReleaseNameRecord() {
    if (mNameRecord && --mNameRecord->mRefCount <= 0) delete mNameRecord;
    mNameRecord = nullptr;
}

void KFCurveNode::AddShare(KFCurveNode* node) {
    if (node) ++node->mShareCount;
}

// Nodes released while another release is destroying nodes wait in its list, so that long
// warp or layer chains are destroyed in a loop, not by recursion.
void KFCurveNode::ReleaseShare(KFCurveNode* node) {
    if (!node || --node->mShareCount >= 1) return;
    static thread_local std::vector<KFCurveNode*>* sPending = nullptr;
    if (sPending) {
        sPending->push_back(node);
        return;
    }
    std::vector<KFCurveNode*> pending{node};
    sPending = &pending;
    while (!pending.empty()) {
        KFCurveNode* next = pending.back();
        pending.pop_back();
        delete next;
    }
    sPending = nullptr;
}

// Children.

void KFCurveNode::Clear() {
    mNameIndex.reset();
    for (int i = GetCount() - 1; i >= 0; --i) {
        if (mFlags & KFCURVENODE_REFERENCE)
            Remove(i);
        else
            Delete(i);
    }
    mChildren.clear();
    mChildren.shrink_to_fit();
    mHoles = 0;
    delete mCurve;
    mCurve = nullptr;
    KFCurveNode* next = mNextLayer;
    mNextLayer = nullptr;
    ReleaseShare(next);
    mBaseLayer = this;
    ClearTimeWarpQuietly();
}

void KFCurveNode::ClearTimeWarpQuietly() {
    KFCurveNode* warp = mTimeWarp;
    mTimeWarp = nullptr;
    ReleaseShare(warp);
}

int KFCurveNode::Add(KFCurveNode* child) {
    if (!child) return -1;
    mChildren.push_back(child);  // behind any hole: the places of the others stay
    if (!(mFlags & KFCURVENODE_REFERENCE)) child->SetParent(this);
    if (mNameIndex && mNameIndex->nameCount != gNameCount) mNameIndex.reset();
    if (mNameIndex) {
        try {
            mNameIndex->Add(child, mChildren.size() - 1);
        } catch (const std::bad_alloc&) {
            mNameIndex.reset();  // made again by the next lookup
        }
    }
    return GetCount() - 1;
}

int KFCurveNode::Remove(int index) {
    if (index < 0 || index >= GetCount()) return GetCount();
    KFCurveNode* child = Children()[size_t(index)];
    if (!(mFlags & KFCURVENODE_REFERENCE)) child->SetParent(nullptr);
    Children().erase(Children().begin() + index);
    ForgetIndexedName(child);
    return GetCount();
}

void KFCurveNode::Delete(int index) {
    if (index < 0 || index >= GetCount()) return;
    KFCurveNode* child = Children()[size_t(index)];
    if (!(mFlags & KFCURVENODE_REFERENCE)) child->SetParent(nullptr);
    Children().erase(Children().begin() + index);
    ForgetIndexedName(child);
    delete child;
}

KFCurveNode* KFCurveNode::Get(int index) const {
    return (index >= 0 && index < GetCount()) ? Children()[size_t(index)] : nullptr;
}

bool KFCurveNode::IsChild(const KFCurveNode* node, bool recursive) const {
    for (const KFCurveNode* child : Children()) {
        if (child == node) return true;
    }
    if (!recursive) return false;
    for (const KFCurveNode* child : Children()) {
        if (child->IsChild(node, true)) return true;
    }
    return false;
}

KFCurveNode* KFCurveNode::FindChildOfType(const KDataType* dataType) const {
    if (!dataType) return nullptr;
    for (KFCurveNode* child : Children()) {
        if (child->GetDataType() == dataType) return child;
    }
    return nullptr;
}

int KFCurveNode::FindIndex(const KFCurveNode* child) const {
    auto it = std::find(Children().begin(), Children().end(), child);
    return it == Children().end() ? -1 : int(it - Children().begin());
}

int KFCurveNode::FindIndexByName(std::string_view name) const {
    if (NameIndex* index = IndexedNames(); index && index->propertyNamed == 0) {
        const auto at = index->byName.find(name);
        return at == index->byName.end() ? -1 : int(NameIndex::PlaceOf(at->second, Children()));
    }
    for (size_t i = 0; i < Children().size(); ++i) {
        if (EqualNoCase(Children()[i]->GetName(), name)) return int(i);
    }
    return -1;
}

KFCurveNode* KFCurveNode::FindChildByName(std::string_view name) const {
    if (const NameIndex* index = IndexedNames(); index && index->propertyNamed == 0) {
        const auto at = index->byName.find(name);
        return at == index->byName.end() ? nullptr : at->second.first;
    }
    return Get(FindIndexByName(name));
}

int KFCurveNode::AddSorted(KFCurveNode* child) {
    if (!child) return -1;
    mNameIndex.reset();  // made again by the next lookup
    size_t at = 0;
    while (at < Children().size() && KStrCaseCmp(child->GetName(), Children()[at]->GetName()) > 0)
        ++at;
    Children().insert(Children().begin() + long(at), child);
    if (!(mFlags & KFCURVENODE_REFERENCE)) child->SetParent(this);
    return int(at);
}

void KFCurveNode::DeleteChild(KFCurveNode* child) {
    if (!child) return;
    if (!(mFlags & KFCURVENODE_REFERENCE)) child->SetParent(nullptr);
    // Its place is left empty: the others keep theirs, and the name index stays true.
    const size_t at = PlaceOfChild(child);
    if (at < mChildren.size()) {
        mChildren[at] = nullptr;
        ++mHoles;
        ForgetIndexedName(child);
    }
    delete child;
}

void KFCurveNode::SwapChildren(std::vector<KFCurveNode*>& children) {
    if (mHoles) CloseHoles();
    mChildren.swap(children);
    mHoles = size_t(std::count(mChildren.begin(), mChildren.end(), nullptr));
    mNameIndex.reset();  // made again by the next lookup
}

bool KFCurveNode::DeleteChildByName(std::string_view name) {
    NameIndex* index = IndexedNames();
    if (!index || index->propertyNamed != 0) {
        KFCurveNode* child = Get(FindIndexByName(name));
        DeleteChild(child);
        return child != nullptr;
    }
    // One lookup finds the child, its place and its entry.
    const auto at = index->byName.find(name);
    if (at == index->byName.end()) return false;
    KFCurveNode* child = at->second.first;
    mChildren[NameIndex::PlaceOf(at->second, mChildren)] = nullptr;
    ++mHoles;
    child->SetParent(nullptr);  // an indexed node lists children of its own
    index->Remove(at, child, mChildren);
    delete child;
    return true;
}

size_t KFCurveNode::PlaceOfChild(const KFCurveNode* child) const {
    if (mNameIndex && mNameIndex->nameCount == gNameCount && !(mFlags & KFCURVENODE_REFERENCE) &&
        !child->GetProperty()) {
        const auto at = mNameIndex->byName.find(child->GetName());
        if (at != mNameIndex->byName.end() && at->second.first == child)
            return NameIndex::PlaceOf(at->second, mChildren);
    }
    // From the end: children made last mostly go first.
    const auto it = std::find(mChildren.rbegin(), mChildren.rend(), child);
    return it == mChildren.rend() ? mChildren.size() : size_t(std::next(it).base() - mChildren.begin());
}

void KFCurveNode::CloseHoles() const {
    // The places the index holds move down with their children: searched down from the old
    // ones, each lookup would walk past every hole closed.
    if (mNameIndex) {
        try {
            std::vector<size_t> holesBefore(mChildren.size());
            size_t holes = 0;
            for (size_t i = 0; i < mChildren.size(); ++i) {
                holesBefore[i] = holes;
                if (!mChildren[i]) ++holes;
            }
            for (auto& named : mNameIndex->byName)
                named.second.at -= holesBefore[std::min(named.second.at, mChildren.size() - 1)];
        } catch (const std::bad_alloc&) {
            mNameIndex.reset();  // made again by the next lookup
        }
    }
    mChildren.erase(std::remove(mChildren.begin(), mChildren.end(), nullptr), mChildren.end());
    mHoles = 0;
}

// Names and lookups.

const char* KFCurveNode::GetName() const {
    if (mNameRecord->mProperty) {
        const char* name = KFCurvePropertyName(mNameRecord->mProperty);
        if (name) return name;
    }
    return mNameRecord->mName.c_str();
}

template <class Match>
KFCurveNode* KFCurveNode::FindBelow(const KFCurveNode* root, Match&& match) {
    return const_cast<KFCurveNode*>(KFindBelow(
        root, [](const KFCurveNode* n) { return int(n->Children().size()); },
        [](const KFCurveNode* n, int i) { return n->Children()[size_t(i)]; }, match));
}

KFCurveNode* KFCurveNode::Find(std::string_view path) const {
    const KFCurveNode* current = this;
    size_t start = 0;
    while (current) {
        size_t slash = path.find('/', start);
        std::string_view segment = path.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        // The segment's type is looked up once, and only once a node with a type is met.
        bool typeKnown = false;
        const KDataType* segmentType = nullptr;
        current = FindBelow(current, [&](const KFCurveNode* node) {
            if (EqualNoCase(node->GetName(), segment)) return true;
            const KDataType* type = node->GetDataType();
            if (!type || segment.size() != 1) return false;
            if (!typeKnown) {
                segmentType = SegmentType(segment);
                typeKnown = true;
            }
            return type == segmentType;
        });
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return const_cast<KFCurveNode*>(current);
}

KFCurveNode* KFCurveNode::FindOfType(const KDataType* dataType) const {
    if (!dataType) return nullptr;
    return FindBelow(
        this, [dataType](const KFCurveNode* node) { return node->GetDataType() == dataType; });
}

KFCurveNode* KFCurveNode::FindOrCreateChild(const char* name, bool withCurve) {
    if (!name) name = "";
    KFCurveNode* child = FindChildByName(name);
    if (!child) {
        // Owned until this node holds it: out of memory, no child is left unowned.
        std::unique_ptr<KFCurveNode> made(new KFCurveNode(name, name, nullptr));
        Add(made.get());
        child = made.release();
    }
    if (withCurve && !child->mCurve) {
        child->mCurve = new KFCurve;
        child->NotifyChange(KFCURVENODE_CHANGE_CURVE);
    }
    return child;
}

bool KFCurveNode::GetTransformCurves(KFCurve* t[3], KFCurve* r[3], KFCurve* s[3]) const {
    struct Slot {
        const char* name;
        const KDataType* type;
        KFCurve** out;
    } slots[3] = {{"T", KFCurveLclTranslationType(), t},
                  {"R", KFCurveLclRotationType(), r},
                  {"S", KFCurveLclScalingType(), s}};
    static const char* const kAxes[3] = {"X", "Y", "Z"};
    for (const Slot& slot : slots) {
        KFCurveNode* node = Find(slot.name);
        if (!node) node = FindOfType(slot.type);
        if (!node) return false;
        for (int i = 0; i < 3; ++i) {
            KFCurveNode* axis = node->Find(kAxes[i]);
            if (!axis || !axis->mCurve) return false;
            slot.out[i] = axis->mCurve;
        }
    }
    return true;
}

// Curve.

KFCurve* KFCurveNode::SetCurve(KFCurve* curve, bool destroyOld) {
    if (curve == mCurve) return nullptr;
    KFCurve* old = mCurve;
    if (destroyOld && old) {
        delete old;
        old = nullptr;
    }
    mCurve = curve;
    NotifyChange(KFCURVENODE_CHANGE_CURVE);
    return old;
}

void KFCurveNode::ReplaceCurve(KFCurve* curve) {
    if (curve == mCurve) return;
    delete mCurve;
    mCurve = curve;
    NotifyChange(KFCURVENODE_CHANGE_CURVE);
}

void KFCurveNode::EnsureCurves() {
    if (!Children().empty()) {
        for (KFCurveNode* child : Children()) child->EnsureCurves();
    } else if (!mCurve) {
        mCurve = new KFCurve;
        NotifyChange(KFCURVENODE_CHANGE_CURVE);
    }
}

// Time warp.

bool KFCurveNode::EvaluationReaches(const KFCurveNode* target) const {
    std::unordered_set<const KFCurveNode*> seen;
    std::vector<const KFCurveNode*> stack{this};
    while (!stack.empty()) {
        const KFCurveNode* node = stack.back();
        stack.pop_back();
        if (node == target) return true;
        if (!seen.insert(node).second) continue;
        stack.insert(stack.end(), node->Children().begin(), node->Children().end());
        if (node->mTimeWarp) stack.push_back(node->mTimeWarp);
        if (node->mNextLayer) stack.push_back(node->mNextLayer);
    }
    return false;
}

bool KFCurveNode::SetTimeWarp(KFCurveNode* warp) {
    if (warp == mTimeWarp) return true;
    if (warp && warp->EvaluationReaches(this)) return false;
    KFCurveNode* old = mTimeWarp;
    AddShare(warp);
    mTimeWarp = warp;
    ReleaseShare(old);
    NotifyChange(KFCURVENODE_CHANGE_TIME_WARP);
    return true;
}

// Key spans, counts and default values.

bool KFCurveNode::GetKeySpan(KTime& first, KTime& last) const {
    bool any = false;
    auto widen = [&](KTime a, KTime b) {
        if (!any || a < first) first = a;
        if (!any || b > last) last = b;
        any = true;
    };
    if (mCurve && mCurve->KeyGetCount() > 0)
        widen(mCurve->KeyGetTime(0), mCurve->KeyGetTime(mCurve->KeyGetCount() - 1));
    KTime a, b;
    for (const KFCurveNode* child : Children()) {
        if (child->GetKeySpan(a, b)) widen(a, b);
    }
    if (mNextLayer && mNextLayer->GetKeySpan(a, b)) widen(a, b);
    return any;
}

bool KFCurveNode::GetAnimationInterval(KTime& start, KTime& stop) const {
    KTime first, last;
    if (!GetKeySpan(first, last)) return false;
    if (first < start) start = first;
    if (last > stop) stop = last;
    return true;
}

int KFCurveNode::GetTotalKeyCount(bool withLayers) const {
    int count = mCurve ? mCurve->KeyGetCount() : 0;
    for (const KFCurveNode* child : Children()) count += child->GetTotalKeyCount(false);
    if (withLayers && mNextLayer) count += mNextLayer->GetTotalKeyCount(true);
    return count;
}

int KFCurveNode::GetCurveCount() const {
    int count = mCurve ? 1 : 0;
    for (const KFCurveNode* child : Children()) count += child->GetCurveCount();
    return count;
}

int KFCurveNode::CollectDefaults(double* out, int capacity, int at) const {
    if (mCurve) {
        if (at < capacity) out[at] = mCurve->GetValue();
        ++at;
    }
    for (const KFCurveNode* child : Children()) at = child->CollectDefaults(out, capacity, at);
    return at;
}

int KFCurveNode::ApplyDefaults(const double* in, int count, int at) {
    if (mCurve) {
        if (at < count) mCurve->SetValue(float(in[at]));
        ++at;
    }
    for (KFCurveNode* child : Children()) at = child->ApplyDefaults(in, count, at);
    return at;
}

int KFCurveNode::GetDefaultValues(double* out, int capacity) const {
    return std::min(CollectDefaults(out, capacity, 0), std::max(capacity, 0));
}

int KFCurveNode::SetDefaultValues(const double* in, int count) {
    return std::min(ApplyDefaults(in, count, 0), std::max(count, 0));
}

// Copies.

KFCurveNode* KFCurveNode::Clone(bool copyConstruct, bool withKeys, bool withEmptyCurves,
                                int layerId) const {
    KFCurveNode* self = const_cast<KFCurveNode*>(this);
    // Out of memory part way, the copy made so far goes with its children.
    std::unique_ptr<KFCurveNode> made;
    KFCurveNode* node;
    if (copyConstruct) {
        made.reset(node = CreateCopy(self));
    } else {
        made.reset(node = new KFCurveNode(GetName(), GetSecondName(), GetDataType(), mLayerType,
                                          layerId == -1 ? mLayerId : layerId));
        node->mUserData = mUserData;
        node->SetQuaternionInterpolation(mQuaternionInterpolation);
        node->SetRotationOrder(mRotationOrder);
        node->mFlags |= mFlags & KFCURVENODE_CLONED;
        // Only a layer made from this node belongs to this node's chain.
        if (layerId > 0) {
            node->mBaseLayer = mBaseLayer;
            node->ShareNameRecord(mBaseLayer->mNameRecord);
        }
    }
    if (mCurve) {
        if (withKeys)
            node->mCurve = CopyCurve(*mCurve);
        else if (withEmptyCurves)
            node->mCurve = new KFCurve;
    }
    for (const KFCurveNode* child : Children()) {
        std::unique_ptr<KFCurveNode> copy(
            child->Clone(copyConstruct, withKeys, withEmptyCurves, layerId));
        node->Add(copy.get());
        copy.release();
    }
    return made.release();
}

void KFCurveNode::CopyFrom(KFCurveNode* source, bool moveCurves) {
    if (!source || source == this) return;
    CopyContent(source, moveCurves);
    if (mNextLayer || source->mNextLayer) SyncLayersFrom(source, moveCurves);
}

void KFCurveNode::CopyContent(KFCurveNode* source, bool moveCurves) {
    mCacheTime = source->mCacheTime;
    mCacheState[0] = source->mCacheState[0];
    mCacheState[1] = source->mCacheState[1];
    std::copy(source->mCache, source->mCache + 4, mCache);
    if (moveCurves) {
        if (source->mCurve != mCurve) {
            delete mCurve;
            mCurve = source->mCurve;
            source->mCurve = nullptr;
            NotifyChange(KFCURVENODE_CHANGE_CURVE);
            source->NotifyChange(KFCURVENODE_CHANGE_CURVE);
        }
    } else if (source->mCurve) {
        if (!mCurve)
            mCurve = CopyCurve(*source->mCurve);
        else
            mCurve->CopyFrom(*source->mCurve, true);
    }
    SetLayerType(source->mLayerType, nullptr);
    int count = std::min(GetCount(), source->GetCount());
    for (int i = 0; i < count; ++i)
        Children()[size_t(i)]->CopyContent(source->Children()[size_t(i)], moveCurves);
}

// Change notification.

void KFCurveNode::AddCallback(KFCurveNodeCallback callback, void* data) {
    if (!callback) return;
    if (!mChangeRecord) mChangeRecord = new KFCurveNodeChangeRecord;
    mChangeRecord->mCallbacks.push_back(callback);
    mChangeRecord->mData.push_back(data);
}

void KFCurveNode::NotifyChange(uint32_t bits) {
    KFCurveNodeChangeRecord* record = mChangeRecord;
    if (!record) return;
    record->mBits |= bits;
    ++record->mCounter;
    ++mChangeCount;
    if (!record->mOn) return;
    for (size_t i = record->mCallbacks.size(); i-- > 0;)
        record->mCallbacks[i](this, record, record->mData[i]);
    record->mBits = 0;
    record->mCounter = 0;
    record->mReserved = 0;
}
