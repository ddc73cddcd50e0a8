// Characters, control sets, solver parameters and the gobo manager of the QOV reader. Both
// layouts share the character content; version-5 files keep characters in "CHARACTER"
// sections, version-6 files as "Constraint" objects of sub-type "Character".

#include <string>
#include <vector>

#include "attributes/KQovLight.h"
#include "character/KQovCharacter.h"
#include "character/KQovCharacterProperties.h"
#include "character/KQovCharacterRoleTable.h"
#include "character/KQovControlSet.h"
#include "character/KQovSolverParameterStore.h"
#include "character/KQovSolverParameterTable.h"
#include "foundation/KLocale.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KProperty.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

namespace {

struct RoleField {
    const char* name;
    int number;  // group, or slot for single roles
};

// Single roles of a character, with their slots.
const RoleField kSingleRoles[] = {{"REFERENCE", KQovCharacterRoleTable::kReferenceSlot},
                                  {"LEFT_FLOOR", 68},
                                  {"RIGHT_FLOOR", 69},
                                  {"LEFT_HANDFLOOR", 88},
                                  {"RIGHT_HANDFLOOR", 89}};

// Groups in the order both forms read them; characters add PROPS and, in version-5 files,
// GAMEMODEPARENT.
const RoleField kGroups[] = {{"BASE", 0},      {"AUXILIARY", 1}, {"SPINE", 2},    {"NECK", 9},
                             {"ROLL", 3},      {"SPECIAL", 4},   {"LEFTHAND", 5}, {"RIGHTHAND", 6},
                             {"LEFTFOOT", 10}, {"RIGHTFOOT", 11}};

// A gobo of the "GoboManager" section; lights take copies of its values.
struct GoboRecord {
    KString name;
    KString fileName;
    bool groundProjection = false;
    bool volumetric = false;
    bool frontFacingVolumetric = false;
};

}  // namespace

template <class Owner, class ReadLink>
static void ReadRoleGroup(KQovPropertyFieldFile* file, int group, Owner* owner, ReadLink read) {
    if (!file->FieldReadBegin("LINK")) return;
    const bool named = file->FieldReadC()[0] != '\0';
    file->FieldReadEnd();
    file->FieldReadRewind();
    const int count = KQovCharacterRoleTable::GetRoleCount(group);
    for (int i = 0; file->FieldReadBegin("LINK"); ++i) {
        int slot = -1;
        if (named) {
            int foundGroup = group, index = 0;
            if (KQovCharacterRoleTable::FindRoleByName(file->FieldReadC(), true, foundGroup, index))
                slot = KQovCharacterRoleTable::GetRoleSlot(foundGroup, index);
        } else if (i < count) {
            slot = KQovCharacterRoleTable::GetRoleSlot(group, i);
        }
        if (slot >= 0 && file->FieldReadBlockBegin()) {
            read(owner, slot);
            file->FieldReadBlockEnd();
        }
        file->FieldReadEnd();
    }
}

void KQovReaderQov::ReadCharacterRoleGroup(KQovCharacter* character, int group) {
    ReadRoleGroup(mFile.get(), group, character,
                  [this](KQovCharacter* c, int slot) { ReadCharacterLink(c, slot); });
}

void KQovReaderQov::ReadControlSetRoleGroup(KQovControlSet* set, int group) {
    ReadRoleGroup(mFile.get(), group, set,
                  [this](KQovControlSet* s, int slot) { ReadControlSetLink(s, slot); });
}

void KQovReaderQov::ReadCharacterLink(KQovCharacter* character, int slot) {
    KQovCharacterLink link;
    // Version-6 files connect the models onto the link properties; the slots without one (the
    // floor contacts) keep their model in the record.
    if (mFile->IsVersion5Layout() || !character->GetLinkProperty(slot)) {
        const KString model = mFile->FieldReadC("MODEL", "");
        if (!model.IsEmpty()) link.model = FindModel(model.Buffer());
    }
    const KString name = mFile->FieldReadC("NAME", "");
    if (!name.IsEmpty()) link.name = name;
    static const char* const kOffsets[3][3] = {{"TOFFSETX", "TOFFSETY", "TOFFSETZ"},
                                               {"ROFFSETX", "ROFFSETY", "ROFFSETZ"},
                                               {"SOFFSETX", "SOFFSETY", "SOFFSETZ"}};
    KVector4* offsets[3] = {&link.translationOffset, &link.rotationOffset, &link.scalingOffset};
    for (int kind = 0; kind < 3; ++kind)
        for (int axis = 0; axis < 3; ++axis)
            (*offsets[kind])[axis] = ReadDouble(kOffsets[kind][axis], kind == 2 ? 1.0 : 0.0);
    character->SetCharacterLink(slot, link, true);
}

void KQovReaderQov::ReadControlSetLink(KQovControlSet* set, int slot) {
    KQovControlSetLink link;
    const KString model = mFile->FieldReadC("MODEL", "");
    if (!model.IsEmpty()) link.model = FindModel(model.Buffer());
    link.name = mFile->FieldReadC("NAME", "");
    if (link.model || !link.name.IsEmpty()) set->SetFKLink(slot, link);
}

void KQovReaderQov::ReadControlSetEffector(KQovControlSet* set) {
    const int number = KQovControlSet::FindEffector(mFile->FieldReadC("NAME", "Unknown"));
    if (number < 0) return;
    const KString name = mFile->FieldReadC("MODEL", "");
    KQovNode* model = name.IsEmpty() ? nullptr : FindModel(name.Buffer());
    if (!model) return;
    KQovEffectorRecord flags;
    set->GetEffector(number, &flags);
    flags.show = ReadFlag("SHOW", flags.show);
    flags.translationActive = ReadFlag("TACTIVE", flags.translationActive);
    flags.rotationActive = ReadFlag("RACTIVE", flags.rotationActive);
    flags.candidateTranslationActive =
        ReadFlag("CANDIDATE_TACTIVE", flags.candidateTranslationActive);
    flags.candidateRotationActive = ReadFlag("CANDIDATE_RACTIVE", flags.candidateRotationActive);
    set->SetEffector(number, model, flags);
}

void KQovReaderQov::ReadControlSetAuxiliary(KQovControlSet* set) {
    const int number = KQovControlSet::FindEffector(mFile->FieldReadC("NAME", "Unknown"));
    if (number < 0) return;
    const KString name = mFile->FieldReadC("MODEL", "");
    if (KQovNode* model = name.IsEmpty() ? nullptr : FindModel(name.Buffer()))
        set->SetAuxEffector(number, model, 1);
}

void KQovReaderQov::ReadCharacterParameters(KQovSolverParameterStore* store) {
    while (mFile->FieldReadBegin("PARAM")) {
        if (mFile->FieldReadBlockBegin()) {
            const std::string name = mFile->FieldReadC("NAME", "PARAM");
            const int32_t mode = ReadInt("MODE", 0);
            const double value = ReadDouble("VALUE", 0.0);
            double values[3];
            values[0] = ReadDouble("VALUE0", value);
            ReadDouble("MIN", 0.0);
            ReadDouble("MAX", 0.0);
            auto set = [&](const std::string& parameter, double v) {
                const int index = KQovSolverParameterTable::FindParameter(parameter.c_str());
                if (index < 0) return;
                store->SetMode(index, mode);
                store->SetValue(index, v);
            };
            if (name == "ChestTOffset" || name == "HipsTOffset") {
                values[1] = ReadDouble("VALUE1", values[0]);
                values[2] = ReadDouble("VALUE2", values[0]);
                for (int axis = 0; axis < 3; ++axis) set(name + char('X' + axis), values[axis]);
            } else {
                set(name, values[0]);
            }
            mFile->FieldReadBlockEnd();
        }
        mFile->FieldReadEnd();
    }
}

void KQovReaderQov::ReadControlSet(KQovControlSet* set) {
    set->SetType(ReadInt("TYPE", set->GetType()));
    set->SetLockTransform(uint8_t(ReadInt("LOCK_XFORM", set->GetLockTransform())));
    set->SetLockPick(uint8_t(ReadInt("LOCK_PICK", set->GetLockPick())));
    if (OpenBlock("REFERENCE")) {
        ReadControlSetLink(set, KQovCharacterRoleTable::kReferenceSlot);
        CloseBlock();
    }
    for (const RoleField& group : kGroups) {
        if (!OpenBlock(group.name)) continue;
        ReadControlSetRoleGroup(set, group.number);
        CloseBlock();
    }
    for (int aux = 0; aux < 2; ++aux) {
        if (!OpenBlock(aux ? "EFFECTOR_AUX1" : "EFFECTOR")) continue;
        ForEachBlock(mFile.get(), "LINK", [&] {
            if (aux)
                ReadControlSetAuxiliary(set);
            else
                ReadControlSetEffector(set);
        });
        CloseBlock();
    }
}

bool KQovReaderQov::ReadCharacter(KQovCharacter* character, int32_t& inputIndex) {
    const bool old = mFile->IsVersion5Layout();
    if (!old) {
        ReadPropertyBlock(character);
        WrapUserProperties(character);
    }
    for (const char* ignored : {"CHARACTERIZE", "LOCK_XFORM", "LOCK_PICK"}) ReadInt(ignored, 0);
    if (old) {
        mFile->FieldReadC("CONSTRAINT", "");
        const int32_t type = ReadInt("INPUTOUTPUTTYPE", character->GetInputType());
        if (type == KQovCharacter::eInputActor) inputIndex = ReadInt("ACTORINDEX", -1);
        if (type == KQovCharacter::eInputCharacter) inputIndex = ReadInt("CHARACTERINDEX", -1);
        character->SetInput(type, nullptr);
    }
    for (const RoleField& role : kSingleRoles) {
        if (!OpenBlock(role.name)) continue;
        ReadCharacterLink(character, role.number);
        CloseBlock();
    }
    std::vector<RoleField> groups(std::begin(kGroups), std::end(kGroups));
    groups.push_back({"PROPS", 7});
    if (old) groups.push_back({"GAMEMODEPARENT", 8});
    for (const RoleField& group : groups) {
        if (!OpenBlock(group.name)) continue;
        ReadCharacterRoleGroup(character, group.number);
        CloseBlock();
    }
    if (OpenBlock("FILTERSET")) {
        ReadCharacterParameters(character->GetSolverStore());
        CloseBlock();
    }
    if (OpenBlock("CONTROLSET") || OpenBlock("OV_CONTROLSET")) {
        ReadControlSet(character->GetControlSet());
        CloseBlock();
    }
    return true;
}

void KQovReaderQov::ReadCharacters(KQovScene* scene) {
    if (!mFile->IsVersion5Layout()) return;
    std::vector<int32_t> inputs;
    int unnamed = 0;
    ForEachBlock(mFile.get(), "CHARACTER", [&] {
        KString name = mFile->FieldReadC("CONSTRAINT", "");
        if (mFile->FieldReadGetOccurrenceCount("CONSTRAINT") == 0) {
            name = unnamed == 0 ? KString("Character")
                                : KString("Character") + KFormatC("%d", unnamed).c_str();
            ++unnamed;
        }
        mFile->FieldReadRewind();
        const int index = scene->CreateCharacter(name.Buffer());
        if (index >= 0) {
            int32_t input = -1;
            ReadCharacter(scene->GetCharacter(index), input);
            inputs.resize(size_t(index) + 1, -1);
            inputs[size_t(index)] = input;
        }
    });
    const int count = scene->GetCharacterCount();
    for (int i = 0; i < count && i < int(inputs.size()); ++i) {
        KQovCharacter* character = scene->GetCharacter(i);
        const int32_t input = inputs[size_t(i)];
        if (character->GetInputType() == KQovCharacter::eInputCharacter && input >= 0 &&
            input < count)
            character->SetInput(KQovCharacter::eInputCharacter, scene->GetCharacter(input));
    }
}

void KQovReaderQov::SetCharacterInputsFromConnections(KQovScene* scene) {
    for (int i = 0; i < scene->GetCharacterCount(); ++i) {
        KQovCharacter* character = scene->GetCharacter(i);
        KQovPropertyHandler* set = character ? character->GetPropertyHandler() : nullptr;
        KProperty* input = set ? set->FindProperty("Character") : nullptr;
        if (!input || input->GetSrcCount() == 0) continue;
        if (auto* source = dynamic_cast<KQovCharacterProperties*>(input->GetSrc(0)))
            character->SetInput(KQovCharacter::eInputCharacter, source->GetCharacter());
    }
}

void KQovReaderQov::ReadGoboManager(KQovScene* scene) {
    // The records live only while the section is read: each light keeps copies of the values.
    std::vector<GoboRecord> gobos;
    ForEachBlock(mFile.get(), "Gobo", [&] {
        GoboRecord gobo;
        gobo.name = mFile->FieldReadC("GoboName", "");
        gobo.fileName = mFile->FieldReadC("GoboPath", "");
        if (mFile->FieldReadBegin("DrawComponent")) {
            gobo.groundProjection = mFile->FieldReadI() != 0;
            gobo.volumetric = mFile->FieldReadI() != 0;
            gobo.frontFacingVolumetric = mFile->FieldReadI() != 0;
            mFile->FieldReadEnd();
        }
        gobos.push_back(gobo);
    });
    KQovNode* root = scene->GetRootNode();
    while (mFile->FieldReadBegin("LightGobo")) {
        const KString lightName = mFile->FieldReadC();
        const KString goboName = mFile->FieldReadC();
        mFile->FieldReadEnd();
        // Among the nodes read: in the version-6 layout they reach the root only through the
        // connections, which come later.
        KQovNode* node = FindModel(lightName.Buffer());
        if (!node && root) node = root->FindChild(KQovStripPrefix(lightName.Buffer()).Buffer(), true);
        KQovLight* light = node ? node->GetLight() : nullptr;
        if (!light) continue;
        for (const GoboRecord& gobo : gobos) {
            if (gobo.name != goboName) continue;
            light->SetGoboFileName(gobo.fileName.Buffer());
            light->SetDrawGroundProjection(gobo.groundProjection);
            light->SetDrawVolumetricLight(gobo.volumetric);
            light->SetDrawFrontFacingVolumetricLight(gobo.frontFacingVolumetric);
            break;
        }
    }
}

void KQovReaderQov::ReadGobosAndCharacters(KQovScene* scene) {
    if (mOptions->GetSwitch(KStreamOptionsQov::eGobos) && OpenBlock("GoboManager")) {
        ReadGoboManager(scene);
        CloseBlock();
    }
    if (mOptions->GetSwitch(KStreamOptionsQov::eCharacters)) ReadCharacters(scene);
}
