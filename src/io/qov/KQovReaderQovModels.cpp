// Objects and models of the QOV reader: the "Definitions" type list, the version-6 "Objects"
// section, the version-5 "Model" sections, one model with its node attribute, generic nodes,
// and the part of the main read that builds the scene's nodes.

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovGeometry.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/KQovSkeleton.h"
#include "io/KQovIOHooks.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovOpticalReference.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovScene.h"

bool KQovReaderQov::ReadDefinitions(std::vector<KString>& types) {
    if (mFile->IsVersion5Layout() || !OpenBlock("Definitions")) return true;
    std::unordered_set<std::string> listed;
    for (const KString& known : types) listed.insert(known.Buffer());
    while (mFile->FieldReadBegin("ObjectType")) {
        const char* type = mFile->FieldReadC();
        if (listed.insert(type).second) types.push_back(type);
        mFile->FieldReadEnd();
    }
    CloseBlock();
    return true;
}

bool KQovReaderQov::ReadObjects(KQovScene* scene, const std::vector<KString>& types) {
    if (!OpenBlock("Objects")) return true;
    for (const KString& type : types) {
        while (mFile->FieldReadBegin(type.Buffer())) {
            const KString name = mFile->FieldReadC();
            const KString subType = mFile->FieldReadC();
            if (mFile->FieldReadBlockBegin()) {
                ReadObject(scene, type.Buffer(), subType.Buffer(), name.Buffer());
                mFile->FieldReadBlockEnd();
            }
            mFile->FieldReadEnd();
        }
    }
    CloseBlock();
    return true;
}

bool KQovReaderQov::ReadModels() {
    const int count = mFile->FieldReadGetOccurrenceCount("Model");
    Report("Retrieving models", 0.0f);
    for (int i = 0; i < count; ++i) {
        Report(nullptr, float(i) * 100.0f / float(count));
        if (!mFile->FieldReadBegin("Model")) break;
        KQovNode* node = mManager->CreateNode(mFile->FieldReadC());
        if (node) {
            mNodes.Add(node->GetName(), node);
            mNodesInFileOrder.push_back(node);
            if (mFile->FieldReadBlockBegin()) {
                ReadModel(node);
                mFile->FieldReadBlockEnd();
            }
            mFile->RegisterObject(node->GetName(), node->GetPropertyHandler());
        }
        mFile->FieldReadEnd();
    }
    KQovIOHooks::GetInstance().StepDone();
    return true;
}

void KQovReaderQov::ReadObject(KQovScene* scene, const char* type, const char* subType,
                               const char* name) {
    if (ReadShadingObject(scene, type, subType, name)) return;
    if (ReadLinkedObject(scene, type, subType, name)) return;
    // Materials, textures, videos, deformers, poses, characters and control-set plugs have
    // readers of their own; the others create nothing.
    if (std::strcmp(type, "SceneInfo") == 0) {
        scene->SetSceneInfo(ReadUserData(subType));
    } else if (std::strcmp(type, "Model") == 0) {
        KQovNode* node = mManager->CreateNode(name);
        if (!node) return;
        mNodes.Add(node->GetName(), node);
        mNodesInFileOrder.push_back(node);
        ReadModel(node);
        // Registered under the name the object got, which is what connections refer to.
        mFile->RegisterObject(node->GetName(), node->GetPropertyHandler());
    } else if (std::strcmp(type, "GenericNode") == 0) {
        KQovGenericNode* node = mManager->CreateGenericNode(name);
        if (!node) return;
        ReadGenericNode(node);
        node->SetEntity(scene->GetEntityContainer());
        mFile->RegisterObject(node->GetName(), node->GetPropertyHandler());
    }
}

void KQovReaderQov::ReadModel(KQovNode* node) {
    mModelShapes.clear();
    ReadVisibilityAndShading(node);
    ReadCulling(node);
    ReadLookAt(node);
    ReadChildren(node);
    ReadNodeAttribute(node);
    const bool old = mFile->IsVersion5Layout();
    if (old) {
        ReadLimits(node);
        if (mOptions->GetSwitch(KStreamOptionsQov::ePivots)) ReadPivots(node);
    } else {
        auto turns = ShapeNameTurns(node);
        struct Turns {
            KQovPropertyFieldFile* file;
            ~Turns() { file->SetShapeNameTurns(nullptr); }
        } held{mFile.get()};
        if (!turns.empty()) mFile->SetShapeNameTurns(&turns);
        ReadPropertyBlock(node);
    }
    node->SetMultiLayer(ReadInt("MultiLayer", 1) != 0);
    node->SetMultiTake(ReadInt("MultiTake", 0));
    // The user properties are taken from the channels next: a channel the file does not
    // hold must carry what the sections above set (visibility, a camera's position).
    if (old) node->WritePropertyDefaults();
    ReadDefaultChannels(node);
    if (old) SetUserPropertiesFromTake(node);
    WrapUserProperties(node);
    GiveHeldKeys(node);
    // Older files may lack the shape channels the geometry needs in the default take.
    KQovGeometry* geometry = node->GetGeometry();
    if (old && geometry) geometry->InitTakeNodeChannels(node->GetDefaultTakeNode());
}

void KQovReaderQov::ReadNodeAttribute(KQovNode* node) {
    const bool hasType = mFile->FieldReadBegin("Type");
    // A producer camera's model gives its projection as "Type"; "TypeFlags" names its kind.
    const bool named = hasType && mFile->FieldReadGetType() == 'S';
    KString type = named ? mFile->FieldReadC() : "";
    if (hasType) mFile->FieldReadEnd();
    const bool old = mFile->IsVersion5Layout();
    if (hasType && !named && !old && KString(mFile->FieldReadC("TypeFlags", "")) == "Camera")
        type = "Camera";
    KQovNodeAttribute* attribute = nullptr;
    bool userProperties = old;
    static const char* const kMarkers[] = {"Marker", "OpticalMarker", "IKEffector", "FKEffector"};
    static const char* const kSkeletons[] = {"Root", "Limb", "LimbNode", "Effector"};
    int marker = -1, skeleton = -1;
    for (int i = 0; i < 4; ++i) {
        if (type == kMarkers[i]) marker = i;
        if (type == kSkeletons[i]) skeleton = i;
    }
    double rgb[3];
    if (!hasType) {
        KQovMesh* mesh = mManager->CreateMesh();
        if (mesh) ReadGeometry(mesh);
        attribute = mesh;
    } else if (type == "Null") {
        KQovNull* null = mManager->CreateNull();
        if (null) ReadNullProperties(null);
        attribute = null;
    } else if (marker >= 0) {
        if (KQovMarker* m = mManager->CreateMarker()) {
            m->SetType(marker);
            node->SetNodeAttribute(m);
            ReadMarkerProperties(m);
        }
    } else if (skeleton >= 0) {
        KQovSkeleton* s = mManager->CreateSkeleton();
        if (s) {
            s->SetSkeletonType(skeleton);
            if (skeleton == KQovSkeleton::eLimb && mFile->FieldReadBegin("LimbLength")) {
                s->SetLimbLength(mFile->FieldReadD());
                mFile->FieldReadEnd();
            }
            if (skeleton < 3 && OpenBlock("Properties")) {
                if (mFile->FieldReadBegin("Size")) {
                    s->SetSize(mFile->FieldReadD());
                    mFile->FieldReadEnd();
                }
                if (skeleton > 0 && ReadDoubles("Color", rgb, 3))
                    s->SetColor(rgb[0], rgb[1], rgb[2]);
                CloseBlock();
            } else if (skeleton == KQovSkeleton::eLimbNode && mFile->FieldReadBegin("Size")) {
                // A bare size was written in hundredths.
                s->SetSize(mFile->FieldReadD() * 100.0);
                mFile->FieldReadEnd();
            }
        }
        attribute = s;
    } else if (type == "Nurb") {
        KQovNurb* nurb = mManager->CreateNurb();
        if (nurb) ReadNurb(nurb);
        attribute = nurb;
    } else if (type == "Patch") {
        KQovPatch* patch = mManager->CreatePatch();
        if (patch) ReadPatch(patch);
        attribute = patch;
    } else if (type == "Light") {
        if (KQovLight* light = mManager->CreateLight()) {
            node->SetNodeAttribute(light);
            ReadLight(light);
        }
    } else if (type == "Camera") {
        // Attached first: the camera keeps its position in its node.
        if (KQovCamera* camera = mManager->CreateCamera()) {
            node->SetNodeAttribute(camera);
            ReadCamera(camera);
        }
    } else if (type == "CameraSwitcher") {
        if (KQovCameraSwitcher* switcher = mManager->CreateCameraSwitcher()) {
            node->SetNodeAttribute(switcher);
            ReadCameraSwitcher(switcher);
        }
        userProperties = false;
    } else if (type == "Optical") {
        attribute = mManager->CreateOpticalReference();
    } else {
        userProperties = false;
    }
    if (attribute) node->SetNodeAttribute(attribute);
    if (userProperties) ReadUserProperties(node);
    KeepRenamedShapes(node);
    mModelTextures.clear();
    if (node->GetGeometry())
        for (KQovObject* object : mModelOnlyShading)
            mModelOnlyConnections.emplace_back(node, object);
    mModelOnlyShading.clear();
}

void KQovReaderQov::ReadGenericNode(KQovGenericNode* node) {
    ReadInt("Version", 100);
    ReadPropertyBlock(node);
    WrapUserProperties(node);
}

namespace {

// The camera nodes below `root` in tree order; a stack, as a file may nest models deeply.
std::vector<KQovNode*> ListCameraNodes(KQovNode* root) {
    std::vector<KQovNode*> cameras, pending;
    for (int i = root->GetChildCount(); i-- > 0;) pending.push_back(root->GetChild(i));
    while (!pending.empty()) {
        KQovNode* node = pending.back();
        pending.pop_back();
        if (!node) continue;
        if (node->GetCamera()) cameras.push_back(node);
        for (int i = node->GetChildCount(); i-- > 0;) pending.push_back(node->GetChild(i));
    }
    return cameras;
}

// Removes every entry whose value is in `gone`, in one pass; equal keys keep their order.
void DropValues(KStringMap& map, const std::unordered_set<const void*>& gone) {
    std::vector<std::pair<std::string, void*>> kept;
    for (int i = 0; i < map.GetCount(); ++i) {
        const char* key = nullptr;
        void* value = map.GetAt(i, &key);
        if (!gone.count(value)) kept.emplace_back(key ? key : "", value);
    }
    map.Clear();
    for (const auto& entry : kept) map.Add(entry.first.c_str(), entry.second);
}

// A stored camera number 1..n becomes map[number - 1]; anything else (0, past n, no camera
// of that name, a value no int holds) is kept as it is.
float Renumbered(float value, const std::vector<int>& map) {
    if (!(value > -2147483649.0f && value < 2147483648.0f)) return value;
    const long long number = static_cast<long long>(value);
    if (number < 1 || number > static_cast<long long>(map.size())) return value;
    const int to = map[size_t(number - 1)];
    return to == -1 ? value : float(to);
}

}  // namespace

void KQovReaderQov::RenumberSwitcherCameras(KQovScene* scene) {
    KQovNode* switcherNode = scene->GetCameraSwitcherNode();
    KQovCameraSwitcher* switcher = switcherNode ? switcherNode->GetCameraSwitcher() : nullptr;
    if (!switcher || switcher->GetCameraNameCount() == 0) return;
    KQovNode* root = scene->GetRootNode();
    const std::vector<KQovNode*> cameras = root ? ListCameraNodes(root) : std::vector<KQovNode*>();
    // Both lists come from the file: positions by name, the first camera of a name kept.
    std::unordered_map<std::string, int> positions;
    for (size_t c = 0; c < cameras.size(); ++c)
        positions.emplace(cameras[c]->GetName(), int(c) + 1);
    std::vector<int> map(size_t(switcher->GetCameraNameCount()), -1);
    for (size_t i = 0; i < map.size(); ++i) {
        const auto at =
            positions.find(KMakePrefixedName("Model::", switcher->GetCameraName(int(i))).Buffer());
        if (at != positions.end()) map[i] = at->second;
    }
    for (int t = 0; t < switcherNode->GetTakeNodeCount(); ++t) {
        KQovTakeNode* take = switcherNode->GetTakeNode(t);
        KFCurve* curve = take ? take->GetCameraIndex() : nullptr;
        if (!curve) continue;
        curve->SetValue(Renumbered(curve->GetValue(), map));
        for (int k = 0; k < curve->KeyGetCount(); ++k)
            curve->KeySetValue(k, Renumbered(curve->KeyGetValue(k), map));
    }
}

void KQovReaderQov::ReadSceneContent(KQovScene* scene, bool& ok) {
    scene->Clear();
    mNodes.Clear();
    mNodesInFileOrder.clear();
    mLookAtNames.Clear();
    mUpVectorNames.Clear();
    mBackgroundNames.Clear();
    mCameraPositions.clear();
    if (!ok) return;
    StartKeysAhead();
    std::vector<KString> types;
    ok = ReadDefinitions(types);
    if (!ok) return;
    ReadSwitcherSection(scene);
    mFile->FieldReadRewind();
    ok = mFile->IsVersion5Layout() ? ReadModels() : ReadObjects(scene, types);
    KQovNode* root = scene->GetRootNode();
    if (root) {
        // Every model of that name goes: the name is the root's from here on.
        while (mFile->UnregisterObject("Model::Scene")) {
        }
        mFile->RegisterObject("Model::Scene", root->GetPropertyHandler());
    }
    if (!ok) return;
    ok = FinishOldLayoutNodes(root);
    if (!ok) return;
    // Nodes in key order cost a sort of every name: walked only when cameras or switchers
    // are there to be handled.
    const bool cameras =
        std::any_of(mNodesInFileOrder.begin(), mNodesInFileOrder.end(), [](const KQovNode* node) {
            return node->GetCamera() || node->GetCameraSwitcher();
        });
    if (!mFile->IsVersion5Layout() && cameras) {
        // Producer cameras and the camera switcher, in key order; the last switcher stays.
        KQovNode* switcherNode = nullptr;
        for (int i = 0; i < mNodes.GetCount(); ++i) {
            auto* node = static_cast<KQovNode*>(mNodes.GetAt(i));
            if (KQovCamera* camera = node->GetCamera()) {
                KQovGlobalCameraSettings& settings = scene->GetGlobalCameraSettings();
                const KString name = node->GetNameWithoutPrefix();
                settings.CopyProducerCamera(name, camera);
                const auto read = mCameraPositions.find(camera);
                for (int p = 0; read != mCameraPositions.end() &&
                                p < KQovGlobalCameraSettings::eProducerCount; ++p) {
                    KQovNode* producer = settings.GetProducerNode(p);
                    if (producer && producer->GetCamera() &&
                        name == KQovGlobalCameraSettings::GetProducerName(p))
                        producer->SetLocalTranslation(read->second[0], read->second[1],
                                                      read->second[2]);
                }
            }
            if (node->GetCameraSwitcher()) switcherNode = node;
        }
        // The others are destroyed. They leave both maps by value: names in a file may repeat,
        // and a name may also stand for a model that stays.
        std::vector<KQovNode*> dropped;
        std::unordered_set<const void*> gone;
        for (int i = 0; i < mNodes.GetCount(); ++i) {
            auto* node = static_cast<KQovNode*>(mNodes.GetAt(i));
            if (!node->GetCameraSwitcher() || node == switcherNode) continue;
            dropped.push_back(node);
            gone.insert(node);
            gone.insert(static_cast<KPlug*>(node->GetPropertyHandler()));  // as registered
        }
        if (!dropped.empty()) {
            DropValues(mNodes, gone);
            DropValues(*mFile->GetObjectMap(), gone);
            mNodesInFileOrder.erase(
                std::remove_if(mNodesInFileOrder.begin(), mNodesInFileOrder.end(),
                               [&gone](KQovNode* node) { return gone.count(node) != 0; }),
                mNodesInFileOrder.end());
        }
        for (KQovNode* node : dropped) mManager->DestroyNode(node, false);
        if (switcherNode) scene->SetCameraSwitcherNode(switcherNode);
    }
    ResolveBackgroundTextures(scene);
    ResolveLinkModels();
    // The version-6 layout merges twins once connections filled the layers (FinishShading).
    if (mFile->IsVersion5Layout()) {
        MergeDuplicateTextures(scene);
        MergeDuplicateMaterials(scene);
    }
    if (mOptions->GetSwitch(KStreamOptionsQov::eTexturesAndMedia))
        ReadMediaAndResolveNames(scene, "");
    ReadGobosAndCharacters(scene);
    ReadSceneGenericPersistence(scene);
    if (mOptions->GetSwitch(KStreamOptionsQov::eGlobalSettings)) ReadGlobalSettings(scene);
    ReadConnectionsAndTakes(scene, ok);
    if (ok) RenumberSwitcherCameras(scene);
}
