// The version-6 "Connections" section, the password check, and the objects of "Objects" that
// tie other objects together: poses, characters and control-set plugs.

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "character/KQovCharacter.h"
#include "character/KQovControlSetPlug.h"
#include "foundation/KEventEmitter.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KObject.h"
#include "scene/KProperty.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovScene.h"

namespace {

// Connection kinds are short words; a longer text is cut, never copied whole.
constexpr size_t kMaxKindLength = 31;
// The name a file gives its root in connections.
const char* const kFileRoot = "Model::Scene";
// Shared names named one by one in the warnings; more are counted.
constexpr int kSharedNamesWarned = 10;
// Links between models left out (cycles, the root below a model) named one by one.
constexpr int kRefusedLinksWarned = 10;
// Models left out of the scene's tree named one by one; more are counted.
constexpr int kModelsLeftOutWarned = 10;

KQovNode* NodeOf(KObject* object) {
    auto* set = dynamic_cast<KQovPropertyHandler*>(object);
    return set ? dynamic_cast<KQovNode*>(set->GetOwner()) : nullptr;
}

// A model of a name the file gives its producer cameras, which are under no parent: the
// scene's camera settings stand for them.
bool IsProducerCamera(const KQovNode* node) {
    const KString name = node->GetNameWithoutPrefix();
    for (int i = 0; i < KQovGlobalCameraSettings::eProducerCount; ++i)
        if (name == KQovGlobalCameraSettings::GetProducerName(i)) return true;
    return false;
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

KQovReaderQov::SharedModelNames KQovReaderQov::FindSharedModelNames() {
    SharedModelNames shared;
    std::unordered_map<std::string_view, int> count;
    bool repeated = false;
    for (const KQovNode* node : mNodesInFileOrder) {
        const std::string_view name = node->GetName();
        repeated |= ++count[name] > 1 || name == kFileRoot;
    }
    if (!repeated) return shared;
    for (KQovNode* node : mNodesInFileOrder) {
        const std::string_view name = node->GetName();
        if (count[name] > 1 || name == kFileRoot) shared[std::string(name)].models.push_back(node);
    }
    int warned = 0;
    for (KQovNode* node : mNodesInFileOrder) {
        const auto models = shared.find(node->GetName());
        if (models == shared.end() || models->second.models.front() != node) continue;
        if (++warned > kSharedNamesWarned) continue;
        const int n = int(models->second.models.size());
        const std::string many = n == 1 ? std::string("A model is") : KFormatC("%d models are", n);
        mStatus +=
            (models->first == kFileRoot
                 ? many +
                       " named \"Scene\", as the file's root is: what the file connects "
                       "to that name is read under the root\n"
                 : many + " named \"" + KQovMessageText(KQovStripPrefix(node->GetName()).Buffer()) +
                       "\": what the file connects to that name goes to the first\n")
                .c_str();
    }
    if (warned > kSharedNamesWarned)
        mStatus += KFormatC("%d more name%s that models share\n", warned - kSharedNamesWarned,
                            warned - kSharedNamesWarned == 1 ? "" : "s")
                       .c_str();
    return shared;
}

bool KQovReaderQov::ReadConnections() {
    if (mFile->IsVersion5Layout() || !OpenBlock("Connections")) return true;
    auto lookUp = [this](const char* name) -> KObject* {
        KPlug* plug = mFile->FindObject(name);
        return plug && plug->IsA(KObject::ClassId()) ? static_cast<KObject*>(plug) : nullptr;
    };
    // Models that share a name, or have the root's, are told apart by the connections that
    // give them their parents: the k-th such connection from the name places the k-th model
    // of it. The root is never a source, so that name as a source is the model's.
    SharedModelNames shared = FindSharedModelNames();
    std::string sourceName;
    int refused = 0;
    // Below a model the root would leave the scene's tree, and the file written its nodes.
    const KQovNode* root = NodeOf(lookUp(kFileRoot));
    while (mFile->FieldReadBegin("Connect")) {
        const char* text = mFile->FieldReadC();
        const std::string kind(text, strnlen(text, kMaxKindLength));
        if (kind == "OO" || kind == "OP") {
            const char* named = mFile->FieldReadC();
            KObject* source = lookUp(named);
            if (!shared.empty()) sourceName = named;
            // Read texts stay valid until the field ends.
            const char* destinationName = mFile->FieldReadC();
            KObject* destinationObject = lookUp(destinationName);
            const auto models = shared.empty() ? shared.end() : shared.find(sourceName);
            if (models != shared.end()) {
                SharedName& same = models->second;
                const bool parent = kind == "OO" && NodeOf(destinationObject);
                KQovNode* model = parent && same.placed < same.models.size()
                                      ? same.models[same.placed++]
                                  : sourceName == kFileRoot || !source ? same.models.front()
                                                                       : nullptr;
                if (model) source = model->GetPropertyHandler();
            }
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
                if (child && parent) {
                    parent->GetNodeError().ClearError();
                    const bool placed = child != root && parent->AddChild(child);
                    if (!placed && ++refused <= kRefusedLinksWarned) {
                        const std::string what = KQovMessageText(KQovStripPrefix(named).Buffer());
                        const std::string where =
                            KQovMessageText(KQovStripPrefix(destinationName).Buffer());
                        mStatus += KFormatC("Model \"%s\" is not read below \"%s\": %s\n",
                                            what.c_str(), where.c_str(),
                                            child == root ? "the file's root is no model's child"
                                                          : parent->GetNodeError().GetErrorText())
                                       .c_str();
                    }
                } else {
                    destination->ConnectSrc(source, 0);
                }
            }
        }
        mFile->FieldReadEnd();
    }
    if (refused > kRefusedLinksWarned)
        mStatus += KFormatC("%d more models are not read below the models the file names\n",
                            refused - kRefusedLinksWarned)
                       .c_str();
    CloseBlock();
    return true;
}

void KQovReaderQov::WarnModelsLeftOut(KQovScene* scene) {
    // A model the connections placed nowhere below the root is below a top of its own: its
    // subtree goes with the file, but for the switcher the scene keeps and a producer camera
    // its settings take.
    const KQovNode* root = scene->GetRootNode();
    KQovNode* switcher = scene->GetCameraSwitcherNode();
    std::unordered_set<const KQovNode*> kept;
    if (switcher && switcher->GetParent())
        for (const KQovNode* node : KQovListNodes(switcher)) kept.insert(node);
    std::unordered_set<const KQovNode*> out;
    for (KQovNode* top : mNodesInFileOrder) {
        if (top == root || top == switcher || top->GetParent()) continue;
        for (const KQovNode* node : KQovListNodes(top))
            if ((node != top || !IsProducerCamera(top)) && !kept.count(node)) out.insert(node);
    }
    if (out.empty()) return;
    int warned = 0;
    for (const KQovNode* node : mNodesInFileOrder) {
        if (!out.count(node) || ++warned > kModelsLeftOutWarned) continue;
        mStatus +=
            KFormatC("Model \"%s\" is not read: no connection leads from it to the file's root\n",
                     KQovMessageText(node->GetNameWithoutPrefix().Buffer()).c_str())
                .c_str();
    }
    if (warned > kModelsLeftOutWarned)
        mStatus += KFormatC(
                       "%d more models are not read: no connection leads from them to the "
                       "file's root\n",
                       warned - kModelsLeftOutWarned)
                       .c_str();
}

bool KQovReaderQov::CheckPassword(const char* password) {
    if (!mFile || !mFile->HasPassword()) return true;
    if (mFile->CheckPassword(password)) return true;
    // A listener may unlock the file with the right password.
    KEventEmitter::Emit(mFile.get(), KEventEmitter::kCodeWriteFailed);
    return !mFile->HasPassword();
}
