// The version-6 "Connections" section, the password check, and the objects of "Objects" that
// tie other objects together: poses, characters and control-set plugs.

#include <cstring>
#include <string>

#include "character/KQovCharacter.h"
#include "character/KQovControlSetPlug.h"
#include "foundation/KEventEmitter.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KObject.h"
#include "scene/KProperty.h"
#include "scene/KQovNode.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovScene.h"

namespace {

// Connection kinds are short words; a longer text is cut, never copied whole.
constexpr size_t kMaxKindLength = 31;

KQovNode* NodeOf(KObject* object) {
    auto* set = dynamic_cast<KQovPropertyHandler*>(object);
    return set ? dynamic_cast<KQovNode*>(set->GetOwner()) : nullptr;
}

// Whether `source` is already a source of `destination`. A two-sided link is listed on both
// plugs, so the shorter list answers: a parent's list of children may be long, a child's
// list of parents is not. One-sided links and sub-plugs' mirrored lists are asked as they are.
bool IsLinked(const KPlug* destination, const KPlug* source) {
    const bool twoSided = !(destination->GetPlugFlags() & KPlug::eOneSidedDestination) &&
                          !destination->IsSubPlug() && !source->IsSubPlug();
    if (twoSided && source->GetDstCount() < destination->GetSrcCount())
        return source->IsConnectedDst(destination);
    return destination->IsConnectedSrc(source);
}

}  // namespace

bool KQovReaderQov::ReadLinkedObject(KQovScene* scene, const char* type, const char* subType,
                                     const char* name) {
    const std::string kind = type;
    const std::string sub = subType;
    if (kind == "Pose") {
        if (sub == "CharacterPose") {
            // Older writers put the nested scene in a "PoseScene" block, others inline.
            const bool wrapped = OpenBlock("PoseScene");
            ReadCharacterPose(scene, name);
            if (wrapped) CloseBlock();
        } else if (sub == "BindPose" || sub == "RestPose") {
            ReadPose(scene, name, sub == "BindPose");
        }
        return true;
    }
    if (kind == "Constraint") {
        if (sub != "Character") return true;
        const int index = scene->CreateCharacter(name);
        if (index < 0) return true;
        KQovCharacter* character = scene->GetCharacter(index);
        int32_t input = -1;
        ReadCharacter(character, input);
        mFile->RegisterObject(character->GetName(), character->GetPropertyHandler());
        return true;
    }
    if (kind == "ControlSetPlug") {
        if (sub != "ControlSetPlug") return true;
        const int index = scene->CreateControlSetPlug(name);
        if (index < 0) return true;
        KQovControlSetPlug* plug = scene->GetControlSetPlug(index);
        ReadInt("Version", 100);
        ReadPropertyBlock(plug);
        WrapUserProperties(plug);
        mFile->RegisterObject(plug->GetName(), plug->GetPropertyHandler());
        return true;
    }
    return false;
}

bool KQovReaderQov::ReadConnections() {
    if (mFile->IsVersion5Layout() || !OpenBlock("Connections")) return true;
    auto lookUp = [this](const char* name) -> KObject* {
        KPlug* plug = mFile->FindObject(name);
        return plug && plug->IsA(KObject::ClassId()) ? static_cast<KObject*>(plug) : nullptr;
    };
    while (mFile->FieldReadBegin("Connect")) {
        const char* text = mFile->FieldReadC();
        const std::string kind(text, strnlen(text, kMaxKindLength));
        if (kind == "OO" || kind == "OP") {
            KObject* source = lookUp(mFile->FieldReadC());
            KObject* destinationObject = lookUp(mFile->FieldReadC());
            KPlug* destination = destinationObject;
            if (kind == "OP")
                destination = destinationObject
                                  ? destinationObject->FindProperty(mFile->FieldReadC())
                                  : nullptr;
            if (source && destination && !IsLinked(destination, source)) {
                // Between nodes the connection is parenthood: the node moves the child from a
                // former parent and refuses a link that would close a cycle.
                KQovNode* child = NodeOf(source);
                KQovNode* parent = kind == "OO" ? NodeOf(destinationObject) : nullptr;
                if (child && parent)
                    parent->AddChild(child);
                else
                    destination->ConnectSrc(source, 0);
            }
        }
        mFile->FieldReadEnd();
    }
    CloseBlock();
    return true;
}

bool KQovReaderQov::CheckPassword(const char* password) {
    if (!mFile || !mFile->HasPassword()) return true;
    if (mFile->CheckPassword(password)) return true;
    // A listener may unlock the file with the right password.
    KEventEmitter::Emit(mFile.get(), KEventEmitter::kCodeWriteFailed);
    return !mFile->HasPassword();
}
