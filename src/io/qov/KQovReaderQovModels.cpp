// Objects and models of the QOV reader: the "Definitions" type list, the version-6 "Objects"
// section, the version-5 "Model" sections, one model with its node attribute, generic nodes,
// and the part of the main read that builds the scene's nodes.

#include <cstring>

#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraSwitcher.h"
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
#include "scene/KQovScene.h"

bool KQovReaderQov::ReadDefinitions(std::vector<KString>& types) {
    if (mFile->IsVersion5Layout() || !OpenBlock("Definitions")) return true;
    while (mFile->FieldReadBegin("ObjectType")) {
        const KString type = mFile->FieldReadC();
        bool listed = false;
        for (const KString& known : types) listed = listed || known == type;
        if (!listed) types.push_back(type);
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
    // Materials, textures, videos, deformers, poses, characters, control-set plugs and the
    // scene information have readers of their own; the others create nothing.
    if (std::strcmp(type, "Model") == 0) {
        KQovNode* node = mManager->CreateNode(name);
        if (!node) return;
        mNodes.Add(node->GetName(), node);
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
        ReadPropertyBlock(node);
    }
    node->SetMultiLayer(ReadInt("MultiLayer", 1) != 0);
    node->SetMultiTake(ReadInt("MultiTake", 0));
    ReadDefaultChannels(node);
    WrapUserProperties(node);
}

void KQovReaderQov::ReadNodeAttribute(KQovNode* node) {
    const bool hasType = mFile->FieldReadBegin("Type");
    const KString type = hasType ? mFile->FieldReadC() : "";
    if (hasType) mFile->FieldReadEnd();
    const bool old = mFile->IsVersion5Layout();
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
        userProperties = old && skeleton != 3;
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
        userProperties = false;
    } else {
        userProperties = false;
    }
    if (attribute) node->SetNodeAttribute(attribute);
    if (userProperties) ReadUserProperties(node);
    mModelTextures.clear();
}

void KQovReaderQov::ReadGenericNode(KQovGenericNode* node) {
    ReadInt("Version", 100);
    ReadPropertyBlock(node);
    WrapUserProperties(node);
}

void KQovReaderQov::ReadSceneContent(KQovScene* scene, bool& ok) {
    scene->Clear();
    mNodes.Clear();
    mLookAtNames.Clear();
    mUpVectorNames.Clear();
    mBackgroundNames.Clear();
    if (!ok) return;
    std::vector<KString> types;
    ok = ReadDefinitions(types);
    if (!ok) return;
    ReadSwitcherSection(scene);
    mFile->FieldReadRewind();
    ok = mFile->IsVersion5Layout() ? ReadModels() : ReadObjects(scene, types);
    KQovNode* root = scene->GetRootNode();
    if (root) {
        mFile->UnregisterObject("Model::Scene");
        mFile->RegisterObject("Model::Scene", root->GetPropertyHandler());
    }
    if (!ok) return;
    ok = FinishOldLayoutNodes(root);
    if (!ok) return;
    if (!mFile->IsVersion5Layout()) {
        // Producer cameras and the camera switcher, in key order; the last switcher stays.
        KQovNode* switcherNode = nullptr;
        for (int i = 0; i < mNodes.GetCount(); ++i) {
            auto* node = static_cast<KQovNode*>(mNodes.GetAt(i));
            if (KQovCamera* camera = node->GetCamera())
                scene->GetGlobalCameraSettings().CopyProducerCamera(node->GetNameWithoutPrefix(),
                                                                    camera);
            if (node->GetCameraSwitcher()) switcherNode = node;
        }
        for (int i = mNodes.GetCount(); i-- > 0;) {
            const char* key = nullptr;
            auto* node = static_cast<KQovNode*>(mNodes.GetAt(i, &key));
            if (!node->GetCameraSwitcher() || node == switcherNode) continue;
            mFile->UnregisterObject(key);
            mNodes.RemoveAt(i);
            mManager->DestroyNode(node, false);
        }
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
}
