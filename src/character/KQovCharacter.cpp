#include "character/KQovCharacter.h"

#include "character/KQovCharacterProperties.h"
#include "character/KQovControlSet.h"
#include "character/KQovControlSetPlug.h"
#include "character/KQovSolverParameterStore.h"
#include "scene/KPropertyObjectList.h"

namespace {
const char* const kCharacterErrors[] = {"internal error"};
}  // namespace

void KQovCharacterLink::CopyFrom(const KQovCharacterLink& other) {
    if (&other == this) return;
    model = other.model;
    name = other.name;
    translationOffset = other.translationOffset;
    rotationOffset = other.rotationOffset;
    scalingOffset = other.scalingOffset;
}

void KQovCharacterLink::Reset() { CopyFrom(KQovCharacterLink()); }

KQovCharacter::KQovCharacter(KQovObjectManager* manager, const char* name)
    : KQovTakeNodeContainer(manager, name, &mError), mError(kCharacterErrors, 1) {
    mControlSet = std::make_unique<KQovControlSet>();
    mControlSet->SetOwner(this);
    mStore = std::make_unique<KQovSolverParameterStore>();
    mProperties = new KQovCharacterProperties(this);
    AddDefaultTakeNode();
}

KQovCharacter::~KQovCharacter() {
    KQovCharacterProperties* properties = mProperties;
    mProperties = nullptr;
    properties->Destroy();
    SetInitialName("");
    mInputType = eNoInput;
    if (mInput) Unwatch(mInput);
    mInput = nullptr;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        KQovCharacterLink& link = mLinks[size_t(slot)];
        if (link.model) link.model->RemoveCharacterLink(this, KQovNode::eCharacterSlot, slot, 0);
        link.Reset();
        link.linkProperty = nullptr;  // went with the property set
    }
    mControlSet->Reset();
    mControlSet.reset();
    mStore.reset();
}

void KQovCharacter::PrepareDestroy() {
    if (mProperties) mProperties->PrepareDestroy();
}

KQovPropertyHandler* KQovCharacter::GetPropertyHandler() const {
    return mProperties;
}

KStringList KQovCharacter::GetTypeNames() const {
    KStringList names;
    names.Add("Character");
    return names;
}

void KQovCharacter::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    KQovInitAnimatableChannels(this, mProperties, takeNode);
}

bool KQovCharacter::GetCharacterLink(int slot, KQovCharacterLink* link) const {
    if (slot < 0 || slot >= kSlotCount) return false;
    const KQovCharacterLink& own = mLinks[size_t(slot)];
    if (!own.model && own.name.IsEmpty()) return false;
    if (link) *link = own;
    return true;
}

bool KQovCharacter::SetCharacterLink(int slot, const KQovCharacterLink& link, bool update) {
    if (slot < 0 || slot >= kSlotCount) return false;
    KQovCharacterLink& own = mLinks[size_t(slot)];
    if (own.model) own.model->RemoveCharacterLink(this, KQovNode::eCharacterSlot, slot, 0);
    own = link;
    if (own.model) own.model->AddCharacterLink(this, KQovNode::eCharacterSlot, slot, 0);
    if (update && own.linkProperty) {
        KQovPropertyHandler* set = own.model ? own.model->GetPropertyHandler() : nullptr;
        if (set)
            own.linkProperty->SetSingle(set);
        else
            own.linkProperty->Clear();
    }
    return true;
}

KPropertyObjectList* KQovCharacter::GetLinkProperty(int slot) const {
    return slot >= 0 && slot < kSlotCount ? mLinks[size_t(slot)].linkProperty : nullptr;
}

void KQovCharacter::SetLinkProperty(int slot, KPropertyObjectList* property) {
    if (slot >= 0 && slot < kSlotCount) mLinks[size_t(slot)].linkProperty = property;
}

bool KQovCharacter::InputFits(int type, KQovObject* object) const {
    if (!object) return false;
    if (type == eInputActor) return object->GetObjectType() == kActorObjectType;
    if (type == eInputCharacter) return object->GetObjectType() == eCharacter && object != this;
    return false;
}

void KQovCharacter::SetInput(int type, KQovObject* object) {
    KQovObject* input = InputFits(type, object) ? object : nullptr;
    // Told when the input goes, so that it is never read after.
    if (input) Watch(input);
    if (mInput && mInput != input) Unwatch(mInput);
    mInputType = type;
    mInput = input;
}

void KQovCharacter::ObjectGoing(KQovObject* object) {
    if (object == mInput) mInput = nullptr;
}

KQovObject* KQovCharacter::GetInput() const {
    return InputFits(mInputType, mInput) ? mInput : nullptr;
}

void KQovCharacter::ClearNodeLink(KQovNode* node, int kind, int slot, int subIndex) {
    if (kind == KQovNode::eCharacterSlot) {
        if (slot >= 0 && slot < kSlotCount && mLinks[size_t(slot)].model == node)
            mLinks[size_t(slot)].model = nullptr;
        return;
    }
    if (mControlSet) mControlSet->ClearNode(node, kind, slot, subIndex);
}
