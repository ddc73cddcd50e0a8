#include "character/KQovControlSet.h"

#include <cstring>

#include "character/KQovCharacter.h"
#include "character/KQovControlSetPlug.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"

namespace {

const char* const kEffectorNames[KQovControlSet::kEffectorCount] = {
    "HipsEffector",
    "LeftAnkleEffector",
    "RightAnkleEffector",
    "LeftWristEffector",
    "RightWristEffector",
    "LeftKneeEffector",
    "RightKneeEffector",
    "LeftElbowEffector",
    "RightElbowEffector",
    "ChestOriginEffector",
    "ChestEndEffector",
    "LeftFootEffector",
    "RightFootEffector",
    "LeftShoulderEffector",
    "RightShoulderEffector",
    "HeadEffector",
    "LeftHipEffector",
    "RightHipEffector",
    "LeftHandEffector",
    "RightHandEffector",
    "LeftHandThumbEffector",
    "LeftHandIndexEffector",
    "LeftHandMiddleEffector",
    "LeftHandRingEffector",
    "LeftHandPinkyEffector",
    "LeftHandExtraFingerEffector",
    "RightHandThumbEffector",
    "RightHandIndexEffector",
    "RightHandMiddleEffector",
    "RightHandRingEffector",
    "RightHandPinkyEffector",
    "RightHandExtraFingerEffector",
    "LeftFootThumbEffector",
    "LeftFootIndexEffector",
    "LeftFootMiddleEffector",
    "LeftFootRingEffector",
    "LeftFootPinkyEffector",
    "LeftFootExtraFingerEffector",
    "RightFootThumbEffector",
    "RightFootIndexEffector",
    "RightFootMiddleEffector",
    "RightFootRingEffector",
    "RightFootPinkyEffector",
    "RightFootExtraFingerEffector",
};

// The node behind a connected property set; null for anything else.
KQovNode* NodeOf(KObject* object) {
    auto* set = KObjectSafeCast<KQovNodeProperties>(object);
    return set ? set->GetNode() : nullptr;
}

}  // namespace

KQovControlSet::KQovControlSet() {
    SetDefaultFlags();
}

KQovControlSet::~KQovControlSet() {
    Reset();
}

void KQovControlSet::AddBackLink(KQovNode* node, int kind, int index, int subIndex) {
    if (node && mOwner) node->AddCharacterLink(mOwner, kind, index, subIndex);
}

void KQovControlSet::RemoveBackLink(KQovNode* node, int kind, int index, int subIndex) {
    if (node && mOwner) node->RemoveCharacterLink(mOwner, kind, index, subIndex);
}

void KQovControlSet::SetDefaultFlags() {
    for (KQovEffectorRecord& e : mEffectors) {
        e.show = 1;
        e.translationActive = e.rotationActive = 0;
        e.candidateTranslationActive = e.candidateRotationActive = 0;
    }
    mEffectors[0].translationActive = mEffectors[0].rotationActive = 1;
    for (int i : {1, 2}) {
        KQovEffectorRecord& e = mEffectors[size_t(i)];
        e.translationActive = e.rotationActive = 1;
        e.candidateTranslationActive = e.candidateRotationActive = 1;
    }
    for (int i : {3, 4}) {
        KQovEffectorRecord& e = mEffectors[size_t(i)];
        e.translationActive = e.candidateTranslationActive = 1;
    }
}

bool KQovControlSet::SetFKLink(int slot, const KQovControlSetLink& link) {
    if (slot < 0 || slot >= kLinkCount) return false;
    KQovControlSetLink& own = mLinks[size_t(slot)];
    RemoveBackLink(own.model, KQovNode::eControlSetLink, slot, 0);
    own.model = link.model;
    own.name = link.name;
    AddBackLink(own.model, KQovNode::eControlSetLink, slot, 0);
    return true;
}

bool KQovControlSet::GetFKLink(int slot, KQovControlSetLink* link) const {
    if (slot < 0 || slot >= kLinkCount) return false;
    const KQovControlSetLink& own = mLinks[size_t(slot)];
    if (!own.model && own.name.IsEmpty()) return false;
    if (link) *link = own;
    return true;
}

bool KQovControlSet::SetEffector(int number, KQovNode* model, const KQovEffectorRecord& flags) {
    if (number < 0 || number >= kEffectorCount) return false;
    KQovEffectorRecord& own = mEffectors[size_t(number)];
    RemoveBackLink(own.model, KQovNode::eEffector, number, 0);
    if (!model) {
        own = KQovEffectorRecord{};
        return true;
    }
    own = flags;
    own.model = model;
    AddBackLink(model, KQovNode::eEffector, number, 0);
    return true;
}

bool KQovControlSet::GetEffector(int number, KQovEffectorRecord* record) const {
    if (number < 0 || number >= kEffectorCount || !mEffectors[size_t(number)].model) return false;
    if (record) *record = mEffectors[size_t(number)];
    return true;
}

bool KQovControlSet::SetAuxEffector(int number, KQovNode* model, int auxiliary) {
    if (number < 0 || number >= kEffectorCount || auxiliary < 1 || auxiliary > kAuxiliaryCount)
        return false;
    KQovNode*& own = mAuxiliary[size_t(number)][size_t(auxiliary - 1)];
    RemoveBackLink(own, KQovNode::eAuxiliaryEffector, number, auxiliary - 1);
    own = model;
    AddBackLink(own, KQovNode::eAuxiliaryEffector, number, auxiliary - 1);
    return true;
}

bool KQovControlSet::GetAuxEffector(int number, KQovNode** model, int auxiliary) const {
    if (number < 0 || number >= kEffectorCount || auxiliary < 1 || auxiliary > kAuxiliaryCount)
        return false;
    KQovNode* own = mAuxiliary[size_t(number)][size_t(auxiliary - 1)];
    if (!own) return false;
    if (model) *model = own;
    return true;
}

const char* KQovControlSet::GetEffectorName(int number) {
    return number >= 0 && number < kEffectorCount ? kEffectorNames[number] : nullptr;
}

int KQovControlSet::FindEffector(const char* name) {
    if (!name) return -1;
    for (int i = 0; i < kEffectorCount; ++i)
        if (std::strcmp(kEffectorNames[i], name) == 0) return i;
    return -1;
}

void KQovControlSet::Reset() {
    mType = 0;
    mLockTransform = mLockPick = 0;
    for (int slot = 0; slot < kLinkCount; ++slot) {
        KQovControlSetLink& link = mLinks[size_t(slot)];
        if (!link.model) continue;  // a name alone stays
        RemoveBackLink(link.model, KQovNode::eControlSetLink, slot, 0);
        link.model = nullptr;
        link.name = "";
    }
    for (int number = 0; number < kEffectorCount; ++number) {
        KQovEffectorRecord& e = mEffectors[size_t(number)];
        RemoveBackLink(e.model, KQovNode::eEffector, number, 0);
        e = KQovEffectorRecord{};
        for (int aux = 0; aux < kAuxiliaryCount; ++aux) {
            KQovNode*& node = mAuxiliary[size_t(number)][size_t(aux)];
            RemoveBackLink(node, KQovNode::eAuxiliaryEffector, number, aux);
            node = nullptr;
        }
    }
    SetDefaultFlags();
}

void KQovControlSet::FillFromPlug(KQovControlSetPlug* plug) {
    if (!plug) return;
    KQovControlSetPlugProperties* set = plug->GetPlugProperties();
    Reset();
    mType = set->GetControlSetType();
    mUseAxis = set->GetUseAxis() ? 1 : 0;
    for (int i = 0; i < set->GetLinkPropertyCount(); ++i) {
        KPropertyObjectList* property = set->GetLinkProperty(i);
        KQovControlSetLink link;
        // Only a node's property set names a node.
        if (property->GetCount() > 0) link.model = NodeOf(property->GetAt(0));
        SetFKLink(set->GetLinkSlot(i), link);
    }
    for (int number = 0; number < set->GetEffectorPropertyCount(); ++number) {
        KPropertyObjectList* property = set->GetEffectorProperty(number);
        const int count = property->GetCount();
        for (int i = 0; i < count && i <= kAuxiliaryCount; ++i) {
            KQovNode* node = NodeOf(property->GetAt(i));
            if (i == 0)
                SetEffector(number, node, KQovEffectorRecord{});
            else
                SetAuxEffector(number, node, i);
        }
    }
}

void KQovControlSet::ClearNode(KQovNode* node, int kind, int index, int subIndex) {
    switch (kind) {
        case KQovNode::eControlSetLink:
            if (index >= 0 && index < kLinkCount && mLinks[size_t(index)].model == node)
                mLinks[size_t(index)].model = nullptr;
            break;
        case KQovNode::eEffector:
            if (index >= 0 && index < kEffectorCount && mEffectors[size_t(index)].model == node)
                mEffectors[size_t(index)].model = nullptr;
            break;
        case KQovNode::eAuxiliaryEffector:
            if (index >= 0 && index < kEffectorCount && subIndex >= 0 &&
                subIndex < kAuxiliaryCount && mAuxiliary[size_t(index)][size_t(subIndex)] == node)
                mAuxiliary[size_t(index)][size_t(subIndex)] = nullptr;
            break;
        default:
            break;
    }
}
