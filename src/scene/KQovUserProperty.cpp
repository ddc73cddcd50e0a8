#include "scene/KQovUserProperty.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "foundation/KColor.h"
#include "scene/KObject.h"
#include "scene/KProperty.h"
#include "scene/KQovObject.h"
#include "scene/KTypedProperty.h"

namespace {

const char* const kUserTypeNames[] = {"Unidentified", "Bool", "Real", "Color", "Integer", "Vector"};
constexpr int kTypeCount = int(sizeof(kUserTypeNames) / sizeof(kUserTypeNames[0]));

uint32_t AttributesOf(int flags) {
    uint32_t attributes = 0;
    if (flags & KQovUserProperty::eFlagAnimatable) attributes |= KProperty::eAnimatable;
    if (flags & KQovUserProperty::eFlagUserProperty) attributes |= KProperty::eUserProperty;
    if (flags & KQovUserProperty::eFlagFromDescription) attributes |= KProperty::eFromDescription;
    return attributes;
}

bool IsColor(const KProperty* p) {
    return p->GetTypeCode() == KProperty::eCOLORRGB || p->GetTypeCode() == KProperty::eCOLORRGBA;
}

// The first three components of a vector or colour property; false when the
// property keeps its value in another layout.
bool ReadComponents(KProperty* p, double out[3]) {
    if (p->GetStorageCode() != p->GetTypeCode()) return false;
    switch (p->GetTypeCode()) {
        case KProperty::eVECTOR3D:
        case KProperty::eCOLORRGB: {
            std::array<double, 3> v{};
            p->GetValue(&v);
            std::memcpy(out, v.data(), sizeof(double) * 3);
            return true;
        }
        case KProperty::eCOLORRGBA: {
            std::array<double, 4> v{};
            p->GetValue(&v);
            std::memcpy(out, v.data(), sizeof(double) * 3);
            return true;
        }
        default:
            return false;
    }
}

// Writes (x, y, z) and, for a four-component colour, `alpha`.
bool WriteComponents(KProperty* p, double x, double y, double z, double alpha) {
    if (p->GetStorageCode() != p->GetTypeCode()) return false;
    switch (p->GetTypeCode()) {
        case KProperty::eVECTOR3D:
        case KProperty::eCOLORRGB: {
            const std::array<double, 3> v{x, y, z};
            p->SetValue(&v);
            return true;
        }
        case KProperty::eCOLORRGBA: {
            const std::array<double, 4> v{x, y, z, alpha};
            p->SetValue(&v);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

struct KQovUserProperty::Description {
    KString name;
    int32_t type = eUnidentified;
    KString label;
    double min = -HUGE_VAL;
    double max = HUGE_VAL;
    int32_t flags = 0;
    KQovObjectManager* manager = nullptr;
};

class KQovUserProperty::Block {
public:
    Block(KQovObjectManager* owner, uint32_t room) : manager(owner), capacity(room) {}

    static size_t Bytes(size_t room) {
        return sizeof(Block) + room * sizeof(KQovUserProperty) + (room + 63) / 64 * 8;
    }
    char* Place(size_t at) {
        return reinterpret_cast<char*>(this) + sizeof(Block) + at * sizeof(KQovUserProperty);
    }
    // One bit per place, set while its record lives; after the records.
    uint64_t* Live() { return reinterpret_cast<uint64_t*>(Place(capacity)); }
    bool IsLive(size_t at) { return (Live()[at / 64] >> (at % 64) & 1) != 0; }

    KQovObjectManager* manager;
    uint32_t capacity;
    uint32_t used = 0;
    uint32_t live = 0;
    // The creator's own, the manager list's once it lists the block, and one per live record.
    uint32_t references = 1;
    bool listed = false;
};

KQovUserProperty::KQovUserProperty(KQovObjectManager* manager, const char* name,
                                   const char* typeName, const char* label) {
    auto* description = new Description;
    description->name = name ? name : "";
    description->type = GetTypeFromName(typeName);
    description->label = label ? label : "";
    description->manager = manager;
    mHome = reinterpret_cast<uintptr_t>(description) | eHomeDescription;
}

KQovUserProperty::KQovUserProperty(KQovObjectManager* manager, KProperty* property)
    : mHome(reinterpret_cast<uintptr_t>(manager)) {
    if (property) mProperty = property->GetWeakRef();
}

KQovUserProperty::KQovUserProperty(KProperty* property, Block* block)
    : mHome(reinterpret_cast<uintptr_t>(block) | eHomeBlock) {
    if (property) mProperty = property->GetWeakRef();
}

// In no order. Past a few, each lister's place is kept too: a record that many objects list
// is added to, and left by, each of them in constant time.
struct KQovUserProperty::Listers {
    static constexpr size_t kPlaced = 8;
    std::vector<KQovObject*> objects;
    std::unordered_map<const KQovObject*, size_t> at;

    size_t Find(const KQovObject* object) const {
        if (!at.empty()) {
            const auto found = at.find(object);
            return found == at.end() ? objects.size() : found->second;
        }
        return size_t(std::find(objects.begin(), objects.end(), object) - objects.begin());
    }
    void Add(KQovObject* object) {
        objects.push_back(object);
        try {
            if (!at.empty()) {
                at.emplace(object, objects.size() - 1);
            } else if (objects.size() > kPlaced) {
                at.reserve(objects.size() * 2);
                for (size_t i = 0; i < objects.size(); ++i) at.emplace(objects[i], i);
            }
        } catch (...) {
            objects.pop_back();
            at.clear();
            throw;
        }
    }
    // The last lister takes the place of the one that goes.
    void Remove(size_t index) {
        if (!at.empty()) {
            at.erase(objects[index]);
            if (index + 1 < objects.size()) at[objects.back()] = index;
        }
        objects[index] = objects.back();
        objects.pop_back();
    }
};

KQovUserProperty::~KQovUserProperty() {
    LeaveListers();
    delete GetDescription();
}

KQovUserProperty::Listers* KQovUserProperty::GetListers() const {
    return mListedBy & 1 ? reinterpret_cast<Listers*>(mListedBy & ~uintptr_t(1)) : nullptr;
}

void KQovUserProperty::AddLister(KQovObject* object) {
    if (!object) return;
    if (mListedBy == 0) {
        mListedBy = reinterpret_cast<uintptr_t>(object);
        return;
    }
    if (Listers* listers = GetListers()) {
        listers->Add(object);
        return;
    }
    auto listers = std::make_unique<Listers>();
    listers->objects.reserve(2);
    listers->objects.push_back(reinterpret_cast<KQovObject*>(mListedBy));
    listers->objects.push_back(object);
    mListedBy = reinterpret_cast<uintptr_t>(listers.release()) | 1;
}

void KQovUserProperty::RemoveLister(const KQovObject* object) {
    Listers* listers = GetListers();
    if (!listers) {
        if (mListedBy == reinterpret_cast<uintptr_t>(object)) mListedBy = 0;
        return;
    }
    std::vector<KQovObject*>& objects = listers->objects;
    const size_t at = listers->Find(object);
    if (at < objects.size()) listers->Remove(at);
    if (objects.size() > 1) return;
    mListedBy = objects.empty() ? 0 : reinterpret_cast<uintptr_t>(objects.front());
    delete listers;
}

bool KQovUserProperty::IsListedBy(const KQovObject* object) const {
    if (!object) return false;
    if (const Listers* listers = GetListers())
        return listers->Find(object) < listers->objects.size();
    return mListedBy == reinterpret_cast<uintptr_t>(object);
}

void KQovUserProperty::LeaveListers() {
    if (mListedBy == 0) return;
    // Taken first: each object letting go finds the record no longer listing it.
    Listers* listers = GetListers();
    KQovObject* one = listers ? nullptr : reinterpret_cast<KQovObject*>(mListedBy);
    mListedBy = 0;
    if (one) one->LetGoOfUserProperty(this);
    if (!listers) return;
    for (KQovObject* object : listers->objects) object->LetGoOfUserProperty(this);
    delete listers;
}

KQovUserProperty::Description* KQovUserProperty::GetDescription() const {
    return HomeKind() == eHomeDescription ? reinterpret_cast<Description*>(mHome & ~eHomeMask)
                                          : nullptr;
}

KQovUserProperty::Block* KQovUserProperty::GetBlock() const {
    return HomeKind() == eHomeBlock ? reinterpret_cast<Block*>(mHome & ~eHomeMask) : nullptr;
}

KQovObjectManager* KQovUserProperty::GetManager() const {
    if (const Description* description = GetDescription()) return description->manager;
    if (const Block* block = GetBlock()) return block->manager;
    return reinterpret_cast<KQovObjectManager*>(mHome);
}

KQovUserProperty::Block* KQovUserProperty::CreateBlock(KQovObjectManager* manager,
                                                       size_t capacity) {
    static_assert(sizeof(Block) % alignof(KQovUserProperty) == 0, "records follow the header");
    static_assert(alignof(Block) > eHomeMask && alignof(Description) > eHomeMask &&
                      alignof(KQovObjectManager*) > eHomeMask,
                  "the low bits of mHome tell what it holds");
    constexpr size_t kMost = (uint32_t(-1) - sizeof(Block)) / (sizeof(KQovUserProperty) + 1);
    if (capacity == 0 || capacity > kMost) return nullptr;
    void* memory = ::operator new(Block::Bytes(capacity));
    auto* block = new (memory) Block(manager, uint32_t(capacity));
    std::memset(block->Live(), 0, (capacity + 63) / 64 * 8);
    return block;
}

void KQovUserProperty::ReleaseBlock(Block* block) {
    if (!block || --block->references != 0) return;
    block->~Block();
    ::operator delete(block);
}

KQovUserProperty* KQovUserProperty::CreateInBlock(Block* block, KProperty* property) {
    if (!block || block->used == block->capacity) return nullptr;
    const size_t at = block->used++;
    block->Live()[at / 64] |= uint64_t(1) << (at % 64);
    ++block->live;
    ++block->references;
    return new (block->Place(at)) KQovUserProperty(property, block);
}

void KQovUserProperty::Dispose(KQovUserProperty* userProperty) {
    if (!userProperty) return;
    Block* block = userProperty->GetBlock();
    if (!block) {
        delete userProperty;
        return;
    }
    const size_t at =
        size_t(reinterpret_cast<char*>(userProperty) - block->Place(0)) / sizeof(KQovUserProperty);
    block->Live()[at / 64] &= ~(uint64_t(1) << (at % 64));
    --block->live;
    userProperty->~KQovUserProperty();
    ReleaseBlock(block);
}

bool KQovUserProperty::ListBlock(Block* block) {
    if (!block || block->listed) return false;
    block->listed = true;
    ++block->references;
    return true;
}

bool KQovUserProperty::IsBlockListed(const Block* block) {
    return block && block->listed;
}

size_t KQovUserProperty::GetBlockUsed(const Block* block) {
    return block ? block->used : 0;
}

size_t KQovUserProperty::GetBlockLive(const Block* block) {
    return block ? block->live : 0;
}

KQovUserProperty* KQovUserProperty::GetBlockRecord(Block* block, size_t place) {
    if (!block || place >= block->used || !block->IsLive(place)) return nullptr;
    return std::launder(reinterpret_cast<KQovUserProperty*>(block->Place(place)));
}

ptrdiff_t KQovUserProperty::GetBlockPlace(Block* block, const void* record) {
    if (!block) return -1;
    // Compared as numbers: the pointer may be anything, and is not read.
    const auto first = reinterpret_cast<uintptr_t>(block->Place(0));
    const auto at = reinterpret_cast<uintptr_t>(record);
    if (at < first || at >= first + block->used * sizeof(KQovUserProperty)) return -1;
    if ((at - first) % sizeof(KQovUserProperty) != 0) return -1;
    return ptrdiff_t((at - first) / sizeof(KQovUserProperty));
}

const char* KQovUserProperty::GetTypeName(int type) {
    return type >= 0 && type < kTypeCount ? kUserTypeNames[type] : nullptr;
}

int KQovUserProperty::GetTypeFromName(const char* name) {
    if (!name) return eUnidentified;
    for (int type = eBool; type < kTypeCount; ++type) {
        if (std::strcmp(name, kUserTypeNames[type]) == 0) return type;
    }
    return eUnidentified;
}

KProperty* KQovUserProperty::GetProperty() const {
    return KObjectSafeCast<KProperty>(mProperty.Resolve());
}

void KQovUserProperty::Bind(KProperty* property, KQovUserPropertyOwner* owner) {
    mProperty = property ? property->GetWeakRef() : KWeakRef{};
    mOwner = owner;
}

void KQovUserProperty::Changed() {
    if (mOwner) mOwner->UserPropertyChanged(this);
}

int KQovUserProperty::GetType() const {
    if (const KProperty* p = GetProperty()) {
        switch (p->GetTypeCode()) {
            case KProperty::eBOOL:
                return eBool;
            case KProperty::eFLOAT:
            case KProperty::eDOUBLE:
                return eReal;
            case KProperty::eCOLORRGB:
            case KProperty::eCOLORRGBA:
                return eColor;
            case KProperty::eINT:
                return eInteger;
            case KProperty::eVECTOR3D:
                return eVector;
            default:
                return eUnidentified;
        }
    }
    const Description* description = GetDescription();
    return description ? description->type : eUnidentified;
}

KString KQovUserProperty::GetName() const {
    if (const KProperty* p = GetProperty()) return KString(p->GetName());
    const Description* description = GetDescription();
    return description ? description->name : KString("");
}

void KQovUserProperty::GetLabel(KString& out, bool nameWhenEmpty) const {
    if (const KProperty* p = GetProperty())
        out = p->GetLabel() ? p->GetLabel() : "";
    else if (const Description* description = GetDescription())
        out = description->label.Buffer();
    else
        out = "";
    if (nameWhenEmpty && out.IsEmpty()) out = GetName();
}

bool KQovUserProperty::Wraps(const KProperty* property) const {
    // A live property's reference names it alone: no need to resolve ours.
    return property && !mProperty.IsEmpty() && mProperty == property->GetWeakRef();
}

void KQovUserProperty::SetFlag(int flag, bool on) {
    if (Description* description = GetDescription()) {
        if (on)
            description->flags |= flag;
        else
            description->flags &= ~flag;
    }
    if (KProperty* p = GetProperty()) p->SetFlag(AttributesOf(flag), on);
}

bool KQovUserProperty::GetFlag(int flag) const {
    if (const KProperty* p = GetProperty()) return p->TestFlag(AttributesOf(flag));
    const Description* description = GetDescription();
    return description && (description->flags & flag) != 0;
}

void KQovUserProperty::SetMin(double value) {
    if (Description* description = GetDescription()) description->min = value;
    if (KProperty* p = GetProperty()) p->SetMin(value);
}

void KQovUserProperty::SetMax(double value) {
    if (Description* description = GetDescription()) description->max = value;
    if (KProperty* p = GetProperty()) p->SetMax(value);
}

double KQovUserProperty::GetMin() const {
    if (const KProperty* p = GetProperty()) return p->GetMin();
    const Description* description = GetDescription();
    return description ? description->min : -HUGE_VAL;
}

double KQovUserProperty::GetMax() const {
    if (const KProperty* p = GetProperty()) return p->GetMax();
    const Description* description = GetDescription();
    return description ? description->max : HUGE_VAL;
}

void KQovUserProperty::SetValue(bool value) {
    SetValue(value ? 1 : 0);
}

void KQovUserProperty::SetValue(int value) {
    KProperty* p = GetProperty();
    if (!p) return;
    p->SetInt(value);
    Changed();
}

void KQovUserProperty::SetValue(double value) {
    KProperty* p = GetProperty();
    if (!p) return;
    p->SetDouble(value);
    Changed();
}

void KQovUserProperty::SetValue(double x, double y, double z) {
    KProperty* p = GetProperty();
    if (!p) return;
    if (IsColor(p)) {
        SetColor(KColor(x, y, z, 1.0));
    } else if (p->GetTypeCode() == KProperty::eVECTOR3D) {
        if (WriteComponents(p, x, y, z, 1.0)) Changed();
    }
}

void KQovUserProperty::SetColor(const KColor& color) {
    KProperty* p = GetProperty();
    if (!p || !IsColor(p)) return;
    if (WriteComponents(p, color.mRed, color.mGreen, color.mBlue, 1.0)) Changed();
}

void KQovUserProperty::GetValue(bool& value) const {
    if (KProperty* p = GetProperty()) value = p->GetInt() != 0;
}

void KQovUserProperty::GetValue(int& value) const {
    if (KProperty* p = GetProperty()) value = p->GetInt();
}

void KQovUserProperty::GetValue(double& value) const {
    if (KProperty* p = GetProperty()) value = p->GetDouble();
}

void KQovUserProperty::GetColor(KColor& color) const {
    KProperty* p = GetProperty();
    double v[3];
    if (p && IsColor(p) && ReadComponents(p, v)) color.Set(v[0], v[1], v[2], color.mAlpha);
}

void KQovUserProperty::GetVector(double& x, double& y, double& z) const {
    KProperty* p = GetProperty();
    double v[3];
    if (!p || !ReadComponents(p, v)) return;
    x = v[0];
    y = v[1];
    z = v[2];
}
