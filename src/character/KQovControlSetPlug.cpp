#include "character/KQovControlSetPlug.h"

#include "character/KQovCharacterRoleTable.h"
#include "character/KQovControlSet.h"
#include "scene/KPropertyObjectList.h"

namespace {

const char* const kPlugErrors[] = {"Error"};
const char* const kNoLabels[] = {nullptr};

enum : int { eUseAxisRow, eControlSetTypeRow };

const KQovPropertyDescriptor* PlugRows() {
    static const KQovPropertyDescriptor rows[] = {
        [] {
            KQovPropertyDescriptor d{"UseAxis", KProperty::eBOOL};
            d.defaultValue[0] = 1.0;
            return d;
        }(),
        [] {
            KQovPropertyDescriptor d{"ControlSetType", KProperty::eENUM};
            d.enumLabels = kNoLabels;
            return d;
        }(),
    };
    return rows;
}

constexpr uint32_t kBothSides = KPlug::eAcceptsSources | KPlug::eAcceptsDestinations;

}  // namespace

void KQovInitAnimatableChannels(KQovTakeNodeContainer* owner, KQovPropertyHandler* set,
                                KQovTakeNode* takeNode) {
    if (!owner || !set) return;
    for (int i = 0; i < set->GetPropertyCount(); ++i) {
        KProperty* property = set->GetProperty(i);
        if (property && property->IsAnimatable()) owner->InitPropertyChannel(property, takeNode);
    }
}

KQovControlSetPlugProperties::KQovControlSetPlugProperties(KQovControlSetPlug* plug)
    : KQovPropertyHandler(plug) {
    CreateTableProperties(PlugRows(), 2);
    for (int slot = 0; slot < KQovCharacterRoleTable::kSlotCount; ++slot) {
        const char* name = nullptr;
        if (!KQovCharacterRoleTable::GetSlotName(slot, name)) continue;
        KPropertyObjectList* list =
            KObject::CreateObjectListProperty(this, name, 0, -1, 1, kBothSides, 0);
        mLinks.push_back(Link{list->GetWeakRef(), slot});
    }
    for (int number = 0; number < KQovControlSet::kEffectorCount; ++number) {
        KPropertyObjectList* list =
            KObject::CreateObjectListProperty(this, KQovControlSet::GetEffectorName(number), 0, -1,
                                              KQovControlSet::kAuxiliaryCount + 1, kBothSides, 0);
        mEffectors.push_back(list->GetWeakRef());
    }
}

KQovControlSetPlugProperties::~KQovControlSetPlugProperties() = default;

bool KQovControlSetPlugProperties::GetUseAxis() const {
    const KQovEmbeddedProperty* p = GetEmbedded(eUseAxisRow);
    return p && p->GetNumbers()[0] != 0.0;
}

void KQovControlSetPlugProperties::SetUseAxis(bool value) {
    if (KQovEmbeddedProperty* p = GetEmbedded(eUseAxisRow)) p->SetValue(&value);
}

int KQovControlSetPlugProperties::GetControlSetType() const {
    const KQovEmbeddedProperty* p = GetEmbedded(eControlSetTypeRow);
    return p ? int(p->GetNumbers()[0]) : 0;
}

void KQovControlSetPlugProperties::SetControlSetType(int value) {
    const int32_t v = value;
    if (KQovEmbeddedProperty* p = GetEmbedded(eControlSetTypeRow)) p->SetValue(&v);
}

KPropertyObjectList* KQovControlSetPlugProperties::GetLinkProperty(int index) const {
    if (index < 0 || index >= GetLinkPropertyCount()) return nullptr;
    return KObjectSafeCast<KPropertyObjectList>(mLinks[size_t(index)].property.Resolve());
}

int KQovControlSetPlugProperties::GetLinkSlot(int index) const {
    return index >= 0 && index < GetLinkPropertyCount() ? mLinks[size_t(index)].slot : -1;
}

KPropertyObjectList* KQovControlSetPlugProperties::GetEffectorProperty(int number) const {
    if (number < 0 || number >= GetEffectorPropertyCount()) return nullptr;
    return KObjectSafeCast<KPropertyObjectList>(mEffectors[size_t(number)].Resolve());
}

KQovControlSetPlug::KQovControlSetPlug(KQovObjectManager* manager, const char* name)
    : KQovTakeNodeContainer(manager, name, &mError), mError(kPlugErrors, 1) {
    mProperties = new KQovControlSetPlugProperties(this);
    AddDefaultTakeNode();
}

KQovControlSetPlug::~KQovControlSetPlug() {
    KQovControlSetPlugProperties* properties = mProperties;
    mProperties = nullptr;
    properties->Destroy();
}

void KQovControlSetPlug::PrepareDestroy() {
    if (mProperties) mProperties->PrepareDestroy();
}

KStringList KQovControlSetPlug::GetTypeNames() const {
    KStringList names;
    names.Add("ControlSetPlug");
    return names;
}

void KQovControlSetPlug::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    KQovInitAnimatableChannels(this, mProperties, takeNode);
}
