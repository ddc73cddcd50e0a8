#include "character/KQovCharacterProperties.h"

#include <cmath>
#include <string>
#include <vector>

#include "character/KQovCharacter.h"
#include "character/KQovCharacterRoleTable.h"
#include "character/KQovControlSet.h"
#include "character/KQovControlSetPlug.h"
#include "character/KQovSolverParameterStore.h"
#include "character/KQovSolverParameterTable.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovNodeProperties.h"

namespace {

using Spec = KQovCharacterPropertySpec;
using List = KQovSolverLabelList;

// Null-terminated labels of each list, for the enum rows.
const char* const* Labels(List list) {
    static std::vector<std::vector<const char*>> lists = [] {
        std::vector<std::vector<const char*>> all;
        for (int l = 0; l <= int(List::ContactBehaviour); ++l) {
            std::vector<const char*> labels;
            for (int i = 0; i < KQovSolverGetLabelCount(List(l)); ++i)
                labels.push_back(KQovSolverGetLabel(List(l), i));
            labels.push_back(nullptr);
            all.push_back(std::move(labels));
        }
        return all;
    }();
    return lists[size_t(list)].data();
}

struct Rows {
    std::vector<std::string> names;  // the descriptors point into these
    std::vector<KQovPropertyDescriptor> descriptors;
    std::vector<Spec> specs;

    // One row; `noSetter` rows carry user flag 32.
    void Add(const std::string& name, int type, bool animatable, bool noSetter, Spec spec,
             double initial = 0.0, const char* const* labels = nullptr) {
        names.push_back(name);
        KQovPropertyDescriptor d{nullptr, type};
        d.animatable = animatable;
        // An animatable property carries user flag 8 as the attribute sets' do, so a read
        // that wraps it as a user property finds the flags it had.
        d.userFlags = (noSetter ? KQovCharacterProperties::kNoSetterFlag : 0) |
                      (animatable ? KQovCharacterProperties::kAnimatableFlag : 0);
        d.defaultValue[0] = initial;
        d.enumLabels = labels;
        descriptors.push_back(d);
        specs.push_back(spec);
    }
    // Shorthands by kind.
    void Bool(const std::string& n, int modeRow) {  // filled from and pushed as a mode
        Add(n, KProperty::eBOOL, false, false, Spec{Spec::eMode, Spec::eMode, int16_t(modeRow)});
    }
    void Enum(const std::string& n, List list, uint8_t kind, int row) {
        Add(n, KProperty::eENUM, false, false, Spec{kind, kind, int16_t(row)}, 0.0, Labels(list));
    }
    // Animatable, setter-less, filled from a value row.
    void Read(const std::string& n, int valueRow) {
        Add(n, KProperty::eDOUBLE, true, true, Spec{Spec::eValue, Spec::eNone, int16_t(valueRow)});
    }
    // Pushed as a value, clamped to [low, high].
    void Measure(const std::string& n, int valueRow, double low = 0.01, double high = 1000.0) {
        Add(n, KProperty::eDOUBLE, false, false,
            Spec{Spec::eValue, Spec::eValue, int16_t(valueRow), low, high});
    }
    // An animatable double with a plain setter, then its "Mode" twin.
    void WithMode(const std::string& n, int row, bool fillDouble, int modeType, List list) {
        Add(n, KProperty::eDOUBLE, true, false,
            Spec{fillDouble ? Spec::eValue : Spec::eNone, Spec::eNone, int16_t(row)});
        if (modeType == KProperty::eBOOL)
            Bool(n + "Mode", row);
        else
            Enum(n + "Mode", list, Spec::eMode, row);
    }
};

const Rows& Table() {
    static const Rows rows = [] {
        Rows r;
        const Spec none{};
        r.Add("Active", KProperty::eBOOL, false, false, none, 1.0);
        r.Add("Lock", KProperty::eBOOL, false, false, none);
        r.Add("Weight", KProperty::eDOUBLE, true, false, none, 100.0);
        r.Measure("PullIterationCount", 0, 0.0, 30.0);
        r.Enum("Posture", List::Posture, Spec::eValue, 1);
        r.Bool("ForceActorSpace", 2);
        int row = 3;
        for (const char* n : {"ScaleCompensation", "HipsHeightCompensation",
                              "AnkleHeightCompensation", "AnkleProximityCompensation"})
            r.WithMode(n, row++, false, KProperty::eENUM, List::CompensationMode);
        r.Read("MassCenterCompensation", 7);
        r.Bool("ApplyLimits", 8);
        row = 9;
        for (const char* n :
             {"ChestReduction", "CollarReduction", "NeckReduction", "HeadReduction"})
            r.Read(n, row++);
        for (row = 13; row <= 37; ++row)  // row 31's name is doubled in the solver table
            r.Read(row == 31 ? "ReachActorLeftAnkleRotation"
                             : KQovSolverParameterTable::GetParameterName(row),
                   row);
        r.Add("HipsTOffset", KProperty::eVECTOR3D, true, true,
              Spec{Spec::eVector, Spec::eNone, 38});
        r.Add("ChestTOffset", KProperty::eVECTOR3D, true, true,
              Spec{Spec::eVector, Spec::eNone, 41});
        row = 67;
        for (const char* n : {"LeftUpLegRoll", "LeftLegRoll", "RightUpLegRoll", "RightLegRoll",
                              "LeftArmRoll", "LeftForeArmRoll", "RightArmRoll", "RightForeArmRoll"})
            r.WithMode(n, row++, true, KProperty::eBOOL, List::Posture);
        r.Enum("RollExtractionMode", List::RollExtraction, Spec::eValue, 66);
        r.Bool("FootFloorContact", 44);
        r.Bool("FootAutomaticToes", 52);
        r.Enum("FootFloorPivot", List::FootFloorPivot, Spec::eValue, 53);
        row = 45;
        for (const char* n :
             {"FootBottomToAnkle", "FootBackToAnkle", "FootMiddleToAnkle", "FootFrontToMiddle",
              "FootInToAnkle", "FootOutToAnkle", "FootContactSize"})
            r.Measure(n, row++);
        r.Read("FootContactStiffness", 54);
        r.Read("FootFingerContactRollStiffness", 173);
        r.Bool("HandFloorContact", 55);
        r.Bool("HandAutomaticFingers", 63);
        r.Enum("HandFloorPivot", List::HandFloorPivot, Spec::eValue, 64);
        row = 56;
        for (const char* n :
             {"HandBottomToWrist", "HandBackToWrist", "HandMiddleToWrist", "HandFrontToMiddle",
              "HandInToWrist", "HandOutToWrist", "HandContactSize"})
            r.Measure(n, row++);
        r.Read("HandContactStiffness", 65);
        r.Read("HandFingerContactRollStiffness", 169);
        for (row = 89; row <= 122; ++row)
            r.Read(KQovSolverParameterTable::GetParameterName(row), row);
        r.Read("CtrlSpineStiffness", 123);
        r.Read("CtrlNeckStiffness", 124);
        r.Bool("MirrorMode", 125);
        r.Read("ShoulderCorrection", 127);
        row = 128;
        for (const char* n : {"LeftKneeKillPitch", "RightKneeKillPitch", "LeftElbowKillPitch",
                              "RightElbowKillPitch"})
            r.Bool(n, row++);
        r.Enum("HipsTranslationMode", List::HipsTranslation, Spec::eValue, 132);
        r.Bool("WriteReference", 175);
        r.Bool("SyncMode", 176);
        r.Read("Damping", 75);
        r.WithMode("OrientationDamping", 76, true, KProperty::eENUM, List::CompensationMode);
        r.WithMode("DisplacementDamping", 77, true, KProperty::eENUM, List::CompensationMode);
        row = 78;
        for (const char* n : {"DisplacementMemory", "HipsDisplacementDamping",
                              "AnkleDisplacementDamping", "WristDisplacementDamping"})
            r.WithMode(n, row++, true, KProperty::eENUM, List::AutoOrUser);
        r.Read("Stabilization", 82);
        r.WithMode("AnkleStabilizationTime", 83, true, KProperty::eENUM, List::AutoOrUser);
        r.WithMode("AnkleStabilizationPerimeter", 84, true, KProperty::eENUM, List::AutoOrUser);
        row = 85;
        for (const char* n :
             {"AnkleStabilizationAngularPerimeter", "AnkleStabilizationFloorProximity",
              "AnkleStabilizationDamping", "AnkleStabilizationRecoveryTime"})
            r.WithMode(n, row++, true, KProperty::eENUM, List::CompensationMode);
        for (row = 141; row <= 164; ++row)
            r.Measure(KQovSolverParameterTable::GetParameterName(row), row);
        r.Bool("FingerSolving", 165);
        r.Bool("FootFingerContact", 171);
        r.Enum("FootContactType", List::FootContactType, Spec::eValue, 170);
        r.Enum("FootFingerContactMode", List::FingerContactMode, Spec::eValue, 172);
        r.Bool("HandFingerContact", 167);
        r.Enum("HandContactType", List::HandContactType, Spec::eValue, 166);
        r.Enum("HandFingerContactMode", List::FingerContactMode, Spec::eValue, 168);
        r.Enum("ContactBehaviour", List::ContactBehaviour, Spec::eValue, 174);
        for (size_t i = 0; i < r.names.size(); ++i) r.descriptors[i].name = r.names[i].c_str();
        return r;
    }();
    return rows;
}

// Object-list flags of the five lists added last.
struct ObjectList {
    const char* name;
    uint32_t direction;
    uint32_t subPlug;
};
const ObjectList kObjectLists[] = {
    {"SourceObject", KPlug::eAcceptsSources, KPlug::eSubPlug},
    {"DestinationObject", KPlug::eAcceptsDestinations, KPlug::eSubPlug},
    {"Actor", KPlug::eAcceptsSources, 0},
    {"Character", KPlug::eAcceptsSources, 0},
    {"ControlSet", KPlug::eAcceptsSources, 0},
};

}  // namespace

const KQovPropertyDescriptor* KQovCharacterProperties::GetDescriptors() {
    return Table().descriptors.data();
}

const KQovCharacterPropertySpec* KQovCharacterProperties::GetSpecs() {
    return Table().specs.data();
}

KQovCharacterProperties::KQovCharacterProperties(KQovCharacter* character)
    : KQovPropertyHandler(character), mCharacter(character) {
    const Rows& rows = Table();
    CreateTableProperties(rows.descriptors.data(), int(rows.descriptors.size()));
    for (int i = 0; i < GetTableRowCount(); ++i) mValueRows[GetTableProperty(i)] = i;
    FillFromStore();
    CreateLinkProperties();
    // The last list is "ControlSet".
    for (const ObjectList& list : kObjectLists)
        mControlSet = KObject::CreateObjectListProperty(this, list.name, list.subPlug, -1, 1,
                                                        list.direction, 0);
}

KQovCharacterProperties::~KQovCharacterProperties() = default;

void KQovCharacterProperties::FillFromStore() {
    const KQovSolverParameterStore* store = mCharacter->GetSolverStore();
    const Rows& rows = Table();
    mFilling = true;
    for (int i = 0; i < GetTableRowCount(); ++i) {
        const Spec& spec = rows.specs[size_t(i)];
        if (spec.fill == Spec::eNone) continue;
        double v[3] = {0.0, 0.0, 0.0};
        int count = 1;
        const int type = rows.descriptors[size_t(i)].typeCode;
        if (spec.fill == Spec::eVector) {
            for (int k = 0; k < 3; ++k) v[k] = store->GetValue(spec.row + k);
            count = 3;
        } else if (spec.fill == Spec::eMode) {
            const int32_t mode = store->GetMode(spec.row);
            v[0] = type == KProperty::eBOOL ? (mode != 0 ? 1.0 : 0.0) : double(mode);
        } else {
            v[0] = store->GetValue(spec.row);
            if (type == KProperty::eENUM) v[0] = std::trunc(v[0]);
        }
        // Animatable rows and the damping and stabilisation modes announce their value.
        const bool announce = rows.descriptors[size_t(i)].animatable ||
                              (spec.fill == Spec::eMode && spec.row >= 76 && spec.row <= 88);
        if (announce)
            KQovSetPropertyNumbers(GetTableProperty(i), v, count);
        else if (KQovEmbeddedProperty* p = GetEmbedded(i))
            p->SetNumbers(v, count);
    }
    mFilling = false;
}

void KQovCharacterProperties::CreateLinkProperties() {
    constexpr uint32_t sides = KPlug::eAcceptsSources | KPlug::eAcceptsDestinations;
    for (int slot = 0; slot < KQovCharacterRoleTable::kSlotCount; ++slot) {
        const char* name = nullptr;
        if (!KQovCharacterRoleTable::GetSlotName(slot, name)) continue;
        const std::string linkName = std::string(name) + "Link";
        mCharacter->SetLinkProperty(
            slot, KObject::CreateObjectListProperty(this, linkName.c_str(), 0, -1, 1, sides, 0));
    }
}

void KQovCharacterProperties::Push(int row) {
    const Spec& spec = Table().specs[size_t(row)];
    KQovEmbeddedProperty* p = GetEmbedded(row);
    if (spec.push == Spec::eNone || !p) return;
    double v = p->GetNumbers()[0];
    if (spec.low < spec.high) {
        v = v < spec.low ? spec.low : v > spec.high ? spec.high : v;
        p->SetNumbers(&v, 1);
    }
    KQovSolverParameterStore* store = mCharacter->GetSolverStore();
    if (spec.push == Spec::eMode)
        store->SetMode(spec.row, int32_t(v));
    else
        store->SetValue(spec.row, v);
}

bool KQovCharacterProperties::SendValueEvent(const KPlugChain* chain, int code, KPlug* sender,
                                             const void* a, const void* b, const void* c) {
    if (code == eValueChanged && !mFilling) {
        auto it = mValueRows.find(sender);
        if (it != mValueRows.end()) Push(it->second);
    }
    return KQovPropertyHandler::SendValueEvent(chain, code, sender, a, b, c);
}

bool KQovCharacterProperties::Notify(const KPlugChain* chain, int code, KPlug* sender, int index,
                                     KPlug* other, int type, void* extra) {
    const bool connecting = code == eSourceAdded;
    if (!connecting && code != eSourceRemoving)
        return KQovPropertyHandler::Notify(chain, code, sender, index, other, type, extra);
    KObject* object = KObject::FromPlug(other);
    if (sender == mControlSet && mControlSet) {
        // Only a control-set plug's property set fills the control set.
        auto* plugSet = KObjectSafeCast<KQovControlSetPlugProperties>(object);
        if (!connecting || !plugSet)
            return KQovPropertyHandler::Notify(chain, code, sender, index, other, type, extra);
        mCharacter->GetControlSet()->FillFromPlug(
            static_cast<KQovControlSetPlug*>(plugSet->GetOwner()));
        return false;
    }
    int slot = 0;
    while (slot < KQovCharacter::kSlotCount && mCharacter->GetLinkProperty(slot) != sender) ++slot;
    auto* nodeSet = KObjectSafeCast<KQovNodeProperties>(object);
    if (slot == KQovCharacter::kSlotCount || !nodeSet || !nodeSet->GetNode())
        return KQovPropertyHandler::Notify(chain, code, sender, index, other, type, extra);
    KQovCharacterLink link = *mCharacter->GetLinkRecord(slot);
    if (connecting) {
        if (link.model != nodeSet->GetNode()) {
            link.model = nodeSet->GetNode();
            mCharacter->SetCharacterLink(slot, link, false);
        }
    } else if (link.model == nodeSet->GetNode()) {
        // Only the slot's own model is let go of.
        link.model = nullptr;
        mCharacter->SetCharacterLink(slot, link, false);
    }
    return false;
}
