#include "scene/KObject.h"

#include <algorithm>
#include <new>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "foundation/KNameNumbers.h"
#include "scene/KDataType.h"
#include "scene/KPlugFilter.h"
#include "scene/KProperty.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovUserProperty.h"
#include "scene/KTypedProperty.h"

const KWeakRef KObject::kEmptyRef{};

namespace {

uint32_t gStampCounter = 1;

KProperty* AsProperty(KPlug* plug) {
    return plug && plug->IsA(KProperty::ClassId()) ? static_cast<KProperty*>(plug) : nullptr;
}

}  // namespace

namespace {

// Shorter lists are walked: an index would cost more than it saves.
constexpr size_t kIndexedProperties = 64;

}  // namespace

// The keys are the text of the first property of each name, which outlives its entry: a
// property leaves the list before its name goes, and a rename drops the index first.
struct KObject::PropertyNames {
    struct Entry {
        KProperty* first;
        size_t count;
    };
    std::unordered_map<std::string_view, Entry> byName;
    // The numbers CreateProperty gave names of properties made under a name taken ("Name 0",
    // "Name 1" ...), kept while no name is freed.
    KNameNumbers numbers;

    // May throw (the caller then drops the index).
    void Add(KProperty* property) {
        ++byName.try_emplace(property->GetName(), Entry{property, 0}).first->second.count;
    }
    // Allocates nothing. `list` no longer lists this place of `property`.
    void Remove(KProperty* property, const std::vector<KProperty*>& list) {
        const auto at = byName.find(property->GetName());
        if (at == byName.end()) return;
        if (--at->second.count == 0) {
            byName.erase(at);
            numbers.Clear();
            return;
        }
        if (at->second.first != property) return;
        // The next of the name takes the key, which must be its own text.
        for (KProperty* next : list) {
            if (std::strcmp(next->GetName(), property->GetName()) != 0) continue;
            auto entry = byName.extract(at);
            entry.key() = next->GetName();
            entry.mapped().first = next;
            byName.insert(std::move(entry));
            return;
        }
    }
};

KObject::KObject() = default;

KObject::~KObject() {
    mCallbacks.reset();
    if (GetSrcCount() > 0) DisconnectSourceObjects();
    if (KPlug* owner = mOwner.Resolve()) owner->DisconnectSrc(this);
    // Properties left by a caller that skipped PrepareDestroy (none while still deferred).
    if (!MadeProperties().empty()) DestroyProperties();
    if (mIndexTable) mIndexTable->Remove(this);
    if (!mChanges) return;
    for (const KWeakRef& ref : mChanges->pendingProperties) {
        KPlug* p = ref.Resolve();
        if (p && p->GetParent() == this) p->SetParent(nullptr);
    }
}

KObject::Changes& KObject::GetChanges() {
    if (!mChanges) mChanges = std::make_unique<Changes>();
    return *mChanges;
}

void* KObject::GetInterface(uint32_t id) {
    if (id == kObjectInterfaceId) return static_cast<KObject*>(this);
    return KPlug::GetInterface(id);
}

void KObject::OnAttach(void* index) {
    if (index) static_cast<KSparseIndexTable*>(index)->Add(this);
}

void KObject::PrepareDestroy() {
    mUserFlags |= eUserFlagDestroying;
    SetFlags(mState & ~uint32_t(1));
    SendEvent(eObjectDestroying, &kEmptyRef, nullptr, -1);
    DisconnectAll();
    DestroyProperties();
    if (mIndexTable) mIndexTable->Remove(this);
    KPlug::PrepareDestroy();
}

KProperty* KObject::GetProperty(int index) const {
    const std::vector<KProperty*>& list = Properties();
    return index >= 0 && size_t(index) < list.size() ? list[size_t(index)] : nullptr;
}

// --- Events ---

bool KObject::SendValueEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                             const void* b, const void* c) {
    bool answer = true;
    if (KPlug* owner = mOwner.Resolve())
        answer = owner->SendValueEvent(chain, code, sender, a, b, c);
    return KPlug::SendValueEvent(chain, code, sender, a, b, c) && answer;
}

bool KObject::SendStateEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                             const void* b, const void* c) {
    // A property about to be renamed gives its old name; the index may hold its text.
    if (code == KProperty::eRenaming && sender != this && mPropertyNames && b &&
        mPropertyNames->byName.count(static_cast<const char*>(b)) > 0)
        mPropertyNames.reset();
    bool answer = true;
    if (KPlug* owner = mOwner.Resolve())
        answer = owner->SendStateEvent(chain, code, sender, a, b, c);
    return KPlug::SendStateEvent(chain, code, sender, a, b, c) && answer;
}

bool KObject::SendEvent(int code, const KWeakRef* reference, const void* detail, int index) {
    if (!reference) reference = &kEmptyRef;
    if (code == eObjectDestroying)
        SendStateEvent(nullptr, eStateDestroying, this, nullptr, nullptr, nullptr);
    const KWeakRef self = GetWeakRef();
    if (KObject* owner = GetOwner())
        owner->OnOwnedObjectEvent(self, code, reference, detail, index);
    // The view of the objects is looked up, not made: an event (one of destruction above all)
    // allocates nothing. Without the view, its destinations are this object's own that pass its
    // filter, in the order a view made now would hold them.
    KClassIdFilter* filter = KClassRegistry::GetClassIdFilter(KObject::ClassId());
    KPlug* sub = FindSubPlug(filter);
    KPlug* list = sub ? sub : this;
    if (!self.Resolve()) return true;
    const KWeakRef listRef = list->GetWeakRef();
    for (int i = 0; listRef.Resolve() && i < list->GetDstCount(); ++i) {
        KPlug* dst = list->GetDst(i);
        if (!dst) break;
        if (!sub && filter && !filter->Accept(dst)) continue;
        if (KObject* object = FromPlug(dst))
            object->OnSourceObjectEvent(code, &self, reference, detail);
    }
    return true;
}

bool KObject::OnSourceObjectEvent(int, const KWeakRef*, const KWeakRef*, const void*) {
    return false;
}

bool KObject::OnOwnedObjectEvent(const KWeakRef&, int, const KWeakRef*, const void*, int) {
    return true;
}

bool KObject::FireCallbacks(KPlug* sender, int kind, const KWeakRef* reference, int) {
    if (sender != this) return true;
    KObjectEventRecord record;
    record.eventId = kCallbackEventId;
    record.sender = sender;
    record.object = GetWeakRef();
    KPlug* other = reference ? reference->Resolve() : nullptr;
    if (other) record.reference = other->GetWeakRef();
    record.kind = kind;
    if (mCallbacks) mCallbacks->Dispatch(nullptr, &record);
    return true;
}

void KObject::SetCallbackList(std::unique_ptr<KCallbackList> list) {
    mCallbacks = std::move(list);
}

bool KObject::HandleConnectionEvent(int kind, const KWeakRef* other, int index) {
    const bool live = other && other->Resolve();
    switch (kind) {
        case 1:
            if (live) SendEvent(eSourceObjectAdding, other, nullptr, -1);
            break;
        case 2:
            if (live) SendEvent(eSourceObjectRemoving, other, nullptr, -1);
            break;
        case 4:
            SendEvent(eSourceObjectAdded, other, nullptr, index);
            SendEvent(eSourceObjectsChanged, other, nullptr, index);
            break;
        case 5:
            SendEvent(eSourceObjectRemoved, other, nullptr, -1);
            SendEvent(eSourceObjectsChanged, other, nullptr, index);
            break;
        case 14:
            if (live) SendEvent(eConnection14, other, nullptr, index);
            break;
        case 15:
            if (live) SendEvent(eConnection15, other, nullptr, index);
            break;
        default:
            break;
    }
    return true;
}

bool KObject::OnDestinationConnectionEvent(int, const KWeakRef*, int) {
    return true;
}

bool KObject::OnPropertyListEvent(int, KProperty*, uint32_t, int) {
    return true;
}

bool KObject::IsLinked(KPlug* a, KPlug* b) {
    if (!mChanges) return false;
    for (const LinkPair& pair : mChanges->linkPairs) {
        if ((pair.a == a && pair.b == b) || (pair.a == b && pair.b == a)) return true;
    }
    return false;
}

bool KObject::Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other,
                     int type, void* extra) {
    KWeakRef otherRef;
    if (KObject* o = FromPlug(other)) otherRef = o->GetWeakRef();
    const bool live = otherRef.Resolve() != nullptr;

    switch (code) {
        case eDestinationReplacing:
            GetChanges().linkPairs.push_back({sender, other, extra, true});
            break;
        case eSourceReplacing:
            GetChanges().linkPairs.push_back({sender, other, extra, false});
            break;
        case eDestinationReplaced:
        case eSourceReplaced: {
            // Removed as recorded, whichever order the pair comes back in.
            if (!mChanges) break;
            const bool sourceEnd = code == eDestinationReplaced;
            auto& pairs = mChanges->linkPairs;
            auto it = std::find_if(pairs.begin(), pairs.end(), [&](const LinkPair& p) {
                if (p.sourceEnd != sourceEnd) return false;
                return (p.a == sender && p.b == other) ||
                       (!sourceEnd && p.a == other && p.b == sender);
            });
            if (it != pairs.end()) pairs.erase(it);
            break;
        }
        default:
            break;
    }

    if (live && sender == this) {
        bool answer = true;
        switch (code) {
            case eSourceAdding:
                FireCallbacks(this, 1, &otherRef, index);
                answer = HandleConnectionEvent(1, &otherRef, index);
                break;
            case eSourceAdded:
                FireCallbacks(this, 4, &otherRef, index);
                answer = HandleConnectionEvent(4, &otherRef, index);
                break;
            case eSourceRemoving:
                FireCallbacks(this, 2, &otherRef, index);
                answer = HandleConnectionEvent(2, &otherRef, index);
                break;
            case eSourceRemoved:
                FireCallbacks(this, 5, &otherRef, index);
                answer = HandleConnectionEvent(5, &otherRef, index);
                break;
            case 14:
            case 15:
                answer = HandleConnectionEvent(code, &otherRef, index);
                break;
            case eDestinationAdding:
                answer = OnDestinationConnectionEvent(1, &otherRef, index);
                break;
            case eDestinationAdded:
                answer = OnDestinationConnectionEvent(4, &otherRef, index);
                break;
            case eDestinationRemoving:
                answer = OnDestinationConnectionEvent(2, &otherRef, index);
                break;
            case eDestinationRemoved:
                answer = OnDestinationConnectionEvent(5, &otherRef, index);
                break;
            default:
                break;
        }
        if (!answer) return false;
    } else if (live) {
        switch (code) {
            case eSourceAdding:
                FireCallbacks(sender, 1, &otherRef, index);
                break;
            case eSourceAdded:
                FireCallbacks(sender, 4, &otherRef, index);
                break;
            case eSourceRemoving:
                FireCallbacks(sender, 2, &otherRef, index);
                break;
            case eSourceRemoved:
                if (!(mUserFlags & eUserFlagDestroying)) FireCallbacks(sender, 5, &otherRef, index);
                break;
            default:
                break;
        }
    } else {
        if (code == eDestinationRemoving && !IsLinked(sender, other)) {
            KProperty* from = AsProperty(sender);
            KProperty* reference = AsProperty(other);
            // A reference property loses its referenced property: it goes too.
            if (from && reference && reference->IsReference()) {
                if (KObject* owner = reference->GetOwnerObject()) {
                    int at = owner->IndexOfProperty(reference);
                    if (at >= 0) owner->DestroyProperty(at);
                }
            }
        }
        if (code == 16 && !FireCallbacks(sender, 6, &otherRef, index)) return false;
        if (code == 17 && !FireCallbacks(sender, 7, &otherRef, index)) return false;
    }

    if (KPlug* owner = mOwner.Resolve()) {
        if (!owner->Notify(chain, code, sender, index, other, type, extra)) return false;
    }
    return KPlug::Notify(chain, code, sender, index, other, type, extra);
}

// --- State word ---

void KObject::SetToggle(bool on) {
    mToggle = on;
    SendEvent(on ? eToggleSet : eToggleCleared, &kEmptyRef, nullptr, -1);
}

bool KObject::SetFlags(uint32_t word) {
    const uint32_t old = mState;
    if (word == old && (word & 1)) {
        SendEvent(eReselected, &kEmptyRef, nullptr, -1);
        SendStateEvent(nullptr, eStateReselected, this, nullptr, nullptr, nullptr);
        return false;
    }
    mState = word;
    if ((word & 1) && !(old & 1)) {
        mStamp = ++gStampCounter;
        SendEvent(eSelected, &kEmptyRef, nullptr, -1);
        SendStateEvent(nullptr, eStateSelected, this, nullptr, nullptr, nullptr);
    } else if (!(word & 1) && (old & 1)) {
        SendEvent(eDeselected, &kEmptyRef, nullptr, -1);
        SendStateEvent(nullptr, eStateDeselected, this, nullptr, nullptr, nullptr);
    } else if (word & 1) {
        mStamp = ++gStampCounter;
        SendEvent(eReselected, &kEmptyRef, nullptr, -1);
        SendStateEvent(nullptr, eStateReselected, this, nullptr, nullptr, nullptr);
    }
    if ((word ^ old) & 2) SendEvent(word & 2 ? eFlag2Set : eFlag2Cleared, &kEmptyRef, nullptr, -1);
    return true;
}

void KObject::ResetFlags() {
    SetFlags(mState & ~uint32_t(1));
    mStamp = 0;
}

void KObject::SetUserFlags(uint32_t bits, bool on) {
    if (on)
        mUserFlags |= bits;
    else
        mUserFlags &= ~bits;
}

// --- Names ---

bool KObject::Rename(const char* text, bool current) {
    if (!text) text = "";
    if (mName == text) return false;
    while (*text == ' ') ++text;
    KString name(*text ? text : "1");
    SendEvent(current ? eCurrentNameChanging : eNameChanging, &kEmptyRef, name.Buffer(), -1);
    SendStateEvent(nullptr, eStateRenaming, this, name.Buffer(), mName.Buffer(), nullptr);
    if (!current) {
        if (mMoreNames) mMoreNames->initialNameSet = false;  // the same as the name again
    } else if (!mMoreNames || !mMoreNames->initialNameSet) {
        MoreNames& more = More();
        more.initialName = mName;  // what it was until now
        more.initialNameSet = true;
    }
    mName = name;
    MarkChanged(false);
    SendEvent(current ? eCurrentNameChanged : eNameChanged, &kEmptyRef, name.Buffer(), -1);
    SendStateEvent(nullptr, eStateRenamed, this, name.Buffer(), mName.Buffer(), nullptr);
    return true;
}

void KObject::SetName(const char* text) {
    Rename(text, false);
}

void KObject::SetCurrentName(const char* text) {
    Rename(text, true);
}

bool KObject::SetSpace(const char* text, bool current) {
    if (!text) text = "";
    if (std::strcmp(GetNameSpace(), text) == 0) return false;
    KString space(text);
    SendEvent(current ? eCurrentNameSpaceChanging : eNameSpaceChanging, &kEmptyRef, space.Buffer(),
              -1);
    SendStateEvent(nullptr, eStateNameSpace, this, space.Buffer(), GetNameSpace(), nullptr);
    MoreNames& more = More();
    more.nameSpace = space;
    if (!current) more.initialNameSpace = space;
    MarkChanged(true);
    SendEvent(current ? eCurrentNameSpaceChanged : eNameSpaceChanged, &kEmptyRef, space.Buffer(),
              -1);
    SendStateEvent(nullptr, current ? eStateNameSpace : eStateRenamed, this, space.Buffer(),
                   GetNameSpace(), nullptr);
    return true;
}

void KObject::SetNameSpace(const char* text) {
    SetSpace(text, false);
}

void KObject::SetCurrentNameSpace(const char* text) {
    SetSpace(text, true);
}

void KObject::SetFullName(const char* text) {
    KString before, prefix, space, name;
    SplitFullName(text, before, prefix, space, name);
    SetNameSpace(space.Buffer());
    SetName(name.Buffer());
}

void KObject::MarkChanged(bool) {
    mChanged = true;
}

KObject::MoreNames& KObject::More() {
    if (!mMoreNames) mMoreNames = std::make_unique<MoreNames>();
    return *mMoreNames;
}

const KString& KObject::GetFullName() {
    KString& full = More().fullName;
    if (mChanged) {
        full = ComposeName(GetNamePrefix(), GetNameSpace(), GetName());
        if (!full.IsEmpty()) mChanged = false;
    }
    return full;
}

KString KObject::GetNameWithNameSpace() const {
    return ComposeName("", GetNameSpace(), GetName());
}

void KObject::SplitFullName(const char* full, KString& beforeTriple, KString& classPrefix,
                            KString& nameSpace, KString& name) {
    std::string rest = full ? full : "";
    auto cut = [&rest](const char* mark, KString& before) {
        size_t at = rest.rfind(mark);
        if (at == std::string::npos) {
            before = "";
            return;
        }
        before = rest.substr(0, at).c_str();
        rest = rest.substr(at + std::strlen(mark));
    };
    cut(":::", beforeTriple);
    cut("::", classPrefix);
    cut(":", nameSpace);
    name = rest.c_str();
}

KString KObject::ComposeName(const char* classPrefix, const char* nameSpace, const char* name) {
    std::string text;
    if (classPrefix && *classPrefix) text = std::string(classPrefix) + "::";
    if (nameSpace && *nameSpace) text += std::string(nameSpace) + ":";
    if (name) text += name;
    return KString(text.c_str());
}

KString KObject::JoinNameSpace(const char* nameSpace, const char* name) {
    std::string ns = nameSpace ? nameSpace : "";
    std::string n = name ? name : "";
    std::string text;
    if (!ns.empty() && !n.empty())
        text = n[0] == ':' ? ns + n : ns + ":" + n;
    else if (!ns.empty())
        text = ns;
    else
        text = !n.empty() && n[0] == ':' ? n.substr(1) : n;
    if (!text.empty() && text.back() == ':') text.pop_back();
    return KString(text.c_str());
}

// --- Properties ---

KObject::PropertyNames* KObject::IndexedProperties() const {
    if (mPropertyNames || Properties().size() < kIndexedProperties) return mPropertyNames.get();
    const std::vector<KProperty*>& list = Properties();
    try {
        auto index = std::make_unique<PropertyNames>();
        index->byName.reserve(list.size());
        for (KProperty* p : list) index->Add(p);
        mPropertyNames = std::move(index);
    } catch (const std::bad_alloc&) {
        return nullptr;  // walked instead
    }
    return mPropertyNames.get();
}

void KObject::ForgetPropertyName(KProperty* property) {
    if (mPropertyNames) mPropertyNames->Remove(property, MadeProperties());
}

KProperty* KObject::FindProperty(const char* name) const {
    if (!name) return nullptr;
    if (const PropertyNames* index = IndexedProperties()) {
        const auto at = index->byName.find(name);
        return at == index->byName.end() ? nullptr : at->second.first;
    }
    // The first byte settles most comparisons without a call.
    const char first = name[0];
    for (KProperty* p : Properties()) {
        const char* own = p->GetName();
        if (own[0] == first && std::strcmp(own, name) == 0) return p;
    }
    return nullptr;
}

bool KObject::IsPropertyNameTaken(const char* name, const KProperty* except) const {
    if (!name) return false;
    if (const PropertyNames* index = IndexedProperties()) {
        const auto at = index->byName.find(name);
        if (at == index->byName.end()) return false;
        if (at->second.first != except) return true;
        if (at->second.count == 1) return false;
        // `except` and others of its name: the list says whether one is another property.
    }
    for (KProperty* p : Properties())
        if (p && p != except && std::strcmp(p->GetName(), name) == 0) return true;
    return false;
}

int KObject::IndexOfProperty(const KProperty* property) const {
    const std::vector<KProperty*>& list = Properties();
    auto it = std::find(list.begin(), list.end(), property);
    return it == list.end() ? -1 : int(it - list.begin());
}

KProperty* KObject::CreateProperty(const char* name, int typeCode, KDataType* dataType,
                                   bool animatable, bool isUserProperty, KProperty* referenced) {
    if ((mCapabilities & eCapabilityNoUserProperties) && isUserProperty) return nullptr;
    const std::string base = name ? name : "";
    std::string candidate = base;
    uint64_t number = 0;
    bool numbered = false;
    if (FindProperty(base.c_str())) {
        const auto free = [&](uint64_t k) {
            candidate = base + " " + std::to_string(k);
            return !FindProperty(candidate.c_str());
        };
        // Among few properties (no index) every search starts again from 0.
        PropertyNames* index = IndexedProperties();
        number = index ? index->numbers.Find(base, 0, free) : KNameNumbers::FirstFree(0, free);
        numbered = true;
    }
    const char* n = candidate.c_str();
    KProperty* p = nullptr;
    switch (typeCode) {
        case KProperty::eINT:
            p = new KPropertyInt(this, n, dataType, isUserProperty);
            break;
        case KProperty::eBOOL:
            p = new KPropertyBool(this, n, dataType, isUserProperty);
            break;
        case KProperty::eDOUBLE:
            p = new KPropertyDouble(this, n, dataType, isUserProperty);
            break;
        case KProperty::eENUM:
            p = new KPropertyInt(this, n, dataType, isUserProperty);
            p->SetTypeCode(KProperty::eENUM);
            break;
        case KProperty::eTIME:
            p = new KPropertyTime(this, n, dataType, isUserProperty);
            break;
        case KProperty::eSTRING:
            p = new KPropertyString(this, n, dataType, isUserProperty);
            break;
        case KProperty::eOBJECT:
            p = new KPropertyObject(this, n, dataType, isUserProperty);
            break;
        case KProperty::eVECTOR3D:
            p = new KPropertyVector3D(this, n, dataType, isUserProperty);
            break;
        case KProperty::eCOLORRGB:
            p = new KPropertyColorRGB(this, n, dataType, isUserProperty);
            break;
        case KProperty::eCOLORRGBA:
            p = new KPropertyColorRGBA(this, n, dataType, isUserProperty);
            break;
        case KProperty::eACTION:
            p = new KPropertyBool(this, n, dataType, isUserProperty);
            p->SetTypeCode(KProperty::eACTION);
            break;
        case KProperty::eREFERENCE:
            p = new KPropertyReference(this, n, dataType, isUserProperty, referenced);
            break;
        default:
            return nullptr;
    }
    // The index may have gone or come with the property's events: asked again.
    if (numbered && mPropertyNames && FindProperty(n) == p)
        mPropertyNames->numbers.Take(base, number);
    p->SetMinMax(0.0, 100.0);
    if (animatable) p->SetFlag(KProperty::eAnimatable, true);
    return p;
}

int KObject::AddProperty(KProperty* property) {
    if (!property) return -1;
    const uint32_t typed = property->GetAttributes() & KProperty::eTyped;
    OnPropertyListEvent(8, property, typed, 0);
    Properties().push_back(property);
    if (mPropertyNames) {
        try {
            mPropertyNames->Add(property);
        } catch (const std::bad_alloc&) {
            mPropertyNames.reset();  // made again by the next lookup
        }
    }
    OnPropertyListEvent(11, property, typed, 0);
    return -1;
}

int KObject::RemovePropertyAt(int index) {
    KProperty* p = GetProperty(index);
    if (!p) return 1;
    // Properties connected in a ring reach this one again through the
    // referencing properties: it is already on its way out.
    if (mChanges && std::find(mChanges->removing.begin(), mChanges->removing.end(), p) !=
                        mChanges->removing.end())
        return 1;
    const uint32_t typed = p->GetAttributes() & KProperty::eTyped;
    OnPropertyListEvent(9, p, typed, 0);
    // Only a property others refer to can lead back here (most never connected).
    if (!p->IsReference() && p->GetDstCount() > 0) {
        GetChanges().removing.push_back(p);
        DeleteReferencingProperties(p);
        auto& removing = GetChanges().removing;
        removing.erase(std::find(removing.begin(), removing.end(), p));
    }
    // Mostly still where it was: no search then.
    std::vector<KProperty*>& list = Properties();
    if (size_t(index) < list.size() && list[size_t(index)] == p) {
        list.erase(list.begin() + index);
        ForgetPropertyName(p);
    } else {
        ForgetProperty(p);
    }
    OnPropertyListEvent(12, p, typed, 0);
    return 0;
}

void KObject::ForgetProperty(KProperty* property) {
    // A name the index does not hold is listed by no property: nothing to walk for (a property
    // destroyed after it left the list asks here too).
    if (mPropertyNames && property && !mPropertyNames->byName.count(property->GetName())) return;
    std::vector<KProperty*>& list = Properties();
    auto it = std::find(list.begin(), list.end(), property);
    if (it == list.end()) return;
    list.erase(it);
    ForgetPropertyName(property);
}

int KObject::DestroyProperty(int index) {
    KProperty* p = GetProperty(index);
    const KWeakRef ref = p ? p->GetWeakRef() : KWeakRef{};
    int result = RemovePropertyAt(index);
    if (result != 0 || !ref.Resolve()) return result;
    if (p->TestFlag(KProperty::eTyped)) {
        // Unlisted now, but still this object's child until it is gone: its
        // destruction may wait for a connection change, and its last
        // notifications may reach this object's end.
        p->Destroy();
        // Only a destruction that waits is noted (a destruction allocates nothing otherwise).
        if (ref.Resolve()) {
            try {
                auto dead = [](const KWeakRef& r) { return !r.Resolve(); };
                auto& pending = GetChanges().pendingProperties;
                pending.erase(std::remove_if(pending.begin(), pending.end(), dead),
                              pending.end());
                pending.push_back(ref);
            } catch (const std::bad_alloc&) {
                // Not to be found again at this object's end: let go of it now.
                if (p->GetParent() == this) p->SetParent(nullptr);
            }
        }
    } else {
        p->DisconnectAllSrc();
        if (ref.Resolve()) p->DisconnectAllDst();
    }
    return result;
}

void KObject::DestroyProperties() {
    if (ArePropertiesDeferred()) {
        DropDeferredProperties();
        return;
    }
    for (int i = GetPropertyCount(); i-- > 0;) {
        if (i >= GetPropertyCount()) continue;
        DestroyProperty(i);
    }
}

void KObject::DestroyPropertyAndClear(KProperty*& property) {
    if (!property) return;
    int at = IndexOfProperty(property);
    if (at >= 0) DestroyProperty(at);
    property = nullptr;
}

bool KObject::CreatePropertyFromDescription(KQovUserProperty* userProperty) {
    if (!userProperty || userProperty->GetProperty()) return false;
    KDataType* type = KDataType::FindByName(KQovUserProperty::GetTypeName(userProperty->GetType()));
    if (!type) return false;
    KProperty* p = CreateProperty(userProperty->GetName().Buffer(),
                                  KProperty::TypeCodeFromDataType(type), type, false, false);
    if (!p) return false;
    if (userProperty->GetFlag(KQovUserProperty::eFlagAnimatable)) {
        p->SetFlag(KProperty::eAnimatable, true);
        p->SetUserFlag(0x8, true);
    }
    if (userProperty->GetFlag(KQovUserProperty::eFlagUserProperty))
        p->SetFlag(KProperty::eUserProperty, true);
    if (userProperty->GetFlag(KQovUserProperty::eFlagFromDescription))
        p->SetFlag(KProperty::eFromDescription, true);
    KString label;
    userProperty->GetLabel(label, true);
    if (!label.IsEmpty()) p->SetLabel(label.Buffer());
    // The limits the description was given, not the 0..100 of a new property.
    p->SetMinMax(userProperty->GetMin(), userProperty->GetMax());
    // Only property sets implement the owner side.
    userProperty->Bind(p, dynamic_cast<KQovUserPropertyOwner*>(this));
    return true;
}

void KObject::DeleteReferencingProperties(KProperty* property) {
    // Without destinations nothing refers to it: no property view of them need be made to see so
    // (most properties going with their object never connected).
    if (!property || property->IsReference() || property->GetDstCount() == 0) return;
    std::vector<KWeakRef> referencing;
    for (int i = 0;; ++i) {
        KProperty* q = KProperty::GetDstProperty(property, i);
        if (!q) break;
        referencing.push_back(q->GetWeakRef());
    }
    for (size_t i = referencing.size(); i-- > 0;) {
        KProperty* q = AsProperty(referencing[i].Resolve());
        KObject* owner = q ? q->GetOwnerObject() : nullptr;
        if (!owner) continue;
        int at = owner->IndexOfProperty(q);
        if (at >= 0) owner->DestroyProperty(at);
    }
}

KProperty* KObject::CreateReferenceProperty(KProperty* property, const char* name) {
    if (!property || property->GetTypeCode() == KProperty::eOBJECT) return nullptr;
    KString refName;
    if (name) {
        refName = name;
    } else {
        KObject* owner = property->GetOwnerObject();
        refName = owner ? owner->GetName() : "";
        refName += ".";
        refName += property->GetName();
    }
    const KWeakRef referenced = property->GetWeakRef();
    KProperty* q = CreateProperty(refName.Buffer(), KProperty::eREFERENCE, nullptr,
                                  property->IsAnimatable(), true, property);
    if (!q) return nullptr;
    // The connection's notifications may have destroyed the referenced property.
    if (!referenced.Resolve() || !q->IsConnectedSrc(property)) {
        int at = IndexOfProperty(q);
        if (at >= 0) DestroyProperty(at);
        return nullptr;
    }
    if (name) q->SetFlag(KProperty::eNamedReference, true);
    q->SetMinMax(property->GetMin(), property->GetMax());
    return q;
}

KProperty* KObject::CloneProperty(KProperty* p) {
    if (!p) return nullptr;
    KProperty* referenced = p->IsReference() ? p->GetReferencedProperty() : nullptr;
    const bool user = p->TestFlag(KProperty::eUserProperty);
    KProperty* clone =
        p->IsAnimatable()
            ? CreateProperty(p->GetName(), KProperty::TypeCodeFromDataType(p->GetDataType()),
                             p->GetDataType(), true, user, referenced)
            : CreateProperty(p->GetName(), p->GetTypeCode(), nullptr, false, user, referenced);
    if (clone) clone->SetMinMax(p->GetMin(), p->GetMax());
    return clone;
}

int KObject::GetUserPropertyCount() const {
    const std::vector<KProperty*>& list = Properties();
    return int(std::count_if(list.begin(), list.end(), [](const KProperty* p) {
        return p->TestFlag(KProperty::eUserProperty);
    }));
}

KProperty* KObject::GetUserProperty(int index) const {
    if (index < 0) return nullptr;
    for (KProperty* p : Properties()) {
        if (p->TestFlag(KProperty::eUserProperty) && index-- == 0) return p;
    }
    return nullptr;
}

void KObject::CopyUserProperties(KObject* other) {
    if (!other) return;
    const int count = other->GetUserPropertyCount();
    for (int i = 0; i < count; ++i) CloneProperty(other->GetUserProperty(i));
}

void KObject::CopyFrom(KObject* other, uint32_t mask) {
    if (mask & 0x1) CopyPropertyValues(other);
    if (mask & 0x4) CopyUserProperties(other);
    if (mask & 0x8) CopyUserPropertyValues(other);
}

void KObject::CopyPropertyValues(KObject* other) {
    if (!other || other == this || !IsA(other->GetClassId())) return;
    const int count = std::min(GetPropertyCount(), other->GetPropertyCount());
    for (int i = 0; i < count; ++i) {
        KProperty* mine = GetProperty(i);
        KProperty* theirs = other->GetProperty(i);
        if (!mine || !theirs || mine->IsAnimatable() || theirs->IsAnimatable()) continue;
        if (std::strcmp(mine->GetName(), theirs->GetName()) != 0) continue;
        mine->SetValueFromProperty(theirs);
    }
}

void KObject::CopyUserPropertyValues(KObject* other) {
    if (!other || other == this || !IsA(other->GetClassId())) return;
    const int count = other->GetUserPropertyCount();
    for (int i = 0; i < count; ++i) {
        KProperty* theirs = other->GetUserProperty(i);
        KProperty* mine = theirs ? FindProperty(theirs->GetName()) : nullptr;
        if (mine && mine->TestFlag(KProperty::eUserProperty)) mine->SetValueFromProperty(theirs);
    }
}

KPropertyObjectList* KObject::CreateObjectListProperty(KObject* owner, const char* name,
                                                       uint32_t subPlugFlag, int classId, int limit,
                                                       uint32_t direction, uint32_t userFlags) {
    return new KPropertyObjectList(owner, name, subPlugFlag, classId, limit, direction, userFlags);
}

// --- Connections ---

void KObject::DisconnectAll() {
    // Properties never made were never connected.
    for (int i = ArePropertiesDeferred() ? 0 : GetPropertyCount(); i-- > 0;) {
        KProperty* p = GetProperty(std::min(i, GetPropertyCount() - 1));
        // Most properties never connected: nothing to undo, and no handle to look at.
        if (!p || (p->GetSrcCount() == 0 && p->GetDstCount() == 0)) continue;
        const KWeakRef ref = p->GetWeakRef();
        p->DisconnectAllSrc();
        if (ref.Resolve()) p->DisconnectAllDst();
    }
    DisconnectAllSrc();
    KPlug* owner = mOwner.Resolve();
    for (int i = GetDstCount(); i-- > 0;) {
        if (i >= GetDstCount()) i = GetDstCount() - 1;
        if (i < 0) break;
        KPlug* dst = GetDst(i);
        if (owner && dst == owner) continue;
        DisconnectDstAt(i);
    }
}

void KObject::DisconnectSourceObjects() {
    for (int i = GetSrcCount(); i-- > 0;) {
        if (i >= GetSrcCount()) i = GetSrcCount() - 1;
        if (i < 0) break;
        if (KObject* src = FromPlug(GetSrc(i))) DisconnectSrc(src);
    }
}

bool KObject::IsUnconnected(int x) const {
    if (x != 0 || GetSrcCount() > 0 || GetDstCount() > 1) return false;
    if (GetDstCount() == 1 && !mOwner.Resolve()) return false;
    for (const KProperty* p : MadeProperties()) {
        if (p->GetSrcCount() > 0 || p->GetDstCount() > 0) return false;
    }
    return true;
}

bool KObject::ConfirmWithDestinations() {
    const int count = GetDstCount();
    for (int i = 0; i < count && i < GetDstCount(); ++i) {
        KPlug* dst = GetDst(i);
        if (!dst) return true;
        KObject* candidate = FromPlug(dst->GetParent() ? dst->GetParent() : dst);
        if (candidate && !candidate->Confirm(this)) return false;
    }
    return true;
}

int KObject::GetConnectedObjectCount(int classId) {
    KClassIdFilter* filter = KClassRegistry::GetClassIdFilter(classId);
    if (!filter) return 0;  // no such class
    return CountFiltered(filter, true);
}

KObject* KObject::GetConnectedObject(int index, int classId) {
    return FromPlug(GetSrcObject(index, classId));
}

// --- Sparse index ---

void KObject::SetIndexTableEntry(KSparseIndexTable* table, int index) {
    mIndexTable = table;
    mIndexPosition = table ? index : -2;
}

KProperty* KObject::IndexedProperty(int i) const {
    for (KProperty* p : Properties()) {
        if (p->TestUserFlag(0x10) && i-- == 0) return p;
    }
    return nullptr;
}

int KObject::GetIndexedPropertyCount() {
    const std::vector<KProperty*>& list = Properties();
    return int(std::count_if(list.begin(), list.end(),
                             [](const KProperty* p) { return p->TestUserFlag(0x10); }));
}

void* KObject::GetIndexedProperty(int i) {
    return IndexedProperty(i);
}

uint16_t& KObject::IndexedPropertyIndex(int i) {
    static uint16_t none = 0xFFFF;
    KProperty* p = IndexedProperty(i);
    if (p) return p->IndexField();
    none = 0xFFFF;
    return none;
}
