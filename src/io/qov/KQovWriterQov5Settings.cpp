// Version-5 scene-wide sections: ambient light, fog, shadow planes, renderer settings, the
// producer cameras with the time settings, the gobo list of the lights and the constraint
// list of the characters.

#include <functional>
#include <string>
#include <vector>

#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "character/KQovCharacter.h"
#include "foundation/KTimeModeTable.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

namespace {

void Int(KQovFieldFile* f, const char* name, int value) {
    f->FieldWriteBegin(name);
    f->FieldWriteI(value);
    f->FieldWriteEnd();
}

void Double(KQovFieldFile* f, const char* name, double value) {
    f->FieldWriteBegin(name);
    f->FieldWriteD(value);
    f->FieldWriteEnd();
}

void Rgba(KQovFieldFile* f, const char* name, const KColor& c, double alpha) {
    f->FieldWriteBegin(name);
    for (double v : {c.mRed, c.mGreen, c.mBlue, alpha}) f->FieldWriteD(v);
    f->FieldWriteEnd();
}

struct Gobo {
    std::string name;
    std::string path;
    bool flags[3];
};

}  // namespace

void KQovWriterQov5::WriteGlobalSettings(KQovScene* scene) {
    KQovFieldFile* f = mFile;
    KQovGlobalLightSettings& light = scene->GetGlobalLightSettings();
    f->FieldWriteBegin("AmbientRenderSettings");
    f->FieldWriteBlockBegin();
    Int(f, "Version", 101);
    const KColor ambient = light.GetAmbientColor();
    Rgba(f, "AmbientLightColor", ambient, ambient.mAlpha);
    f->FieldWriteBlockEnd();
    f->FieldWriteEnd();

    f->FieldWriteBegin("FogOptions");
    f->FieldWriteBlockBegin();
    Int(f, "FlogEnable", light.GetFogEnable() ? 1 : 0);
    Int(f, "FogMode", light.GetFogMode());
    Double(f, "FogDensity", light.GetFogDensity());
    Double(f, "FogStart", light.GetFogStart());
    Double(f, "FogEnd", light.GetFogEnd());
    Rgba(f, "FogColor", light.GetFogColor(), 1.0);
    f->FieldWriteBlockEnd();
    f->FieldWriteEnd();

    KQovWriteShadowPlanes(f, scene);

    KQovGlobalCameraSettings& camera = scene->GetGlobalCameraSettings();
    f->FieldWriteBegin("RendererSetting");
    f->FieldWriteBlockBegin();
    f->FieldWriteC("DefaultCamera", camera.GetDefaultCamera());
    Int(f, "DefaultViewingMode", camera.GetDefaultViewingMode());
    f->FieldWriteBlockEnd();
    f->FieldWriteEnd();

    f->FieldWriteBegin("Settings");
    f->FieldWriteBlockBegin();
    WriteProducerCameras(scene);
    KQovGlobalTimeSettings& time = scene->GetGlobalTimeSettings();
    Int(f, "TimeMode", KTimeModeToFileCode(time.GetTimeMode()));
    f->FieldWriteC("FrameRate", KTimeModeToName(time.GetTimeMode()));
    Int(f, "TimeFormat", time.GetTimeFormat());
    Int(f, "SnapOnFrames", time.GetSnapOnFrames());
    Int(f, "ReferenceTimeIndex", time.GetReferenceTimeIndex());
    for (int i = 0; i < time.GetTimeMarkerCount(); ++i) {
        const KQovTimeMarker* marker = time.GetTimeMarker(i);
        f->FieldWriteBegin("TimeMarker");
        f->FieldWriteC(marker->name.Buffer());
        f->FieldWriteBlockBegin();
        f->FieldWriteBegin("Time");
        f->FieldWriteT(marker->time);
        f->FieldWriteEnd();
        Int(f, "Loop", marker->loop);
        f->FieldWriteBlockEnd();
        f->FieldWriteEnd();
    }
    f->FieldWriteBlockEnd();
    f->FieldWriteEnd();
}

void KQovWriterQov5::WriteProducerCameras(KQovScene* scene) {
    using P = KQovGlobalCameraSettings;
    static const int kOrder[] = {P::ePerspective, P::eTop,  P::eFront, P::eRight,
                                 P::eLeft,        P::eBack, P::eBottom};
    KQovGlobalCameraSettings& cameras = scene->GetGlobalCameraSettings();
    for (int producer : kOrder) {
        KQovNode* node = cameras.GetProducerNode(producer);
        if (!node || !node->GetCamera()) continue;
        mFile->FieldWriteBegin("Camera");
        mFile->FieldWriteC(P::GetProducerName(producer));
        mFile->FieldWriteBlockBegin();
        WriteModelContent(node, true);
        mFile->FieldWriteBlockEnd();
        mFile->FieldWriteEnd();
    }
}

void KQovWriterQov5::WriteGoboManager(KQovScene* scene) {
    std::vector<KQovNode*> lights;
    std::function<void(KQovNode*)> collect = [&](KQovNode* node) {
        if (!node) return;
        KQovLight* light = node->GetLight();
        if (light && light->GetGoboFileName() && light->GetGoboFileName()[0]) lights.push_back(node);
        for (int i = 0; i < node->GetChildCount(); ++i) collect(node->GetChild(i));
    };
    collect(scene->GetRootNode());
    std::vector<Gobo> gobos;
    std::vector<std::pair<KQovNode*, std::string>> links;
    int counter = 0;
    for (auto it = lights.rbegin(); it != lights.rend(); ++it) {
        KQovLight* light = (*it)->GetLight();
        Gobo gobo{"gobo-" + std::to_string(counter++),
                  light->GetGoboFileName(),
                  {light->GetDrawGroundProjection(), light->GetDrawVolumetricLight(),
                   light->GetDrawFrontFacingVolumetricLight()}};
        std::string name = gobo.name;
        bool duplicate = false;
        for (const Gobo& listed : gobos) {
            if (listed.path == gobo.path && listed.flags[0] == gobo.flags[0] &&
                listed.flags[1] == gobo.flags[1] && listed.flags[2] == gobo.flags[2]) {
                name = listed.name;
                duplicate = true;
                break;
            }
        }
        if (!duplicate) gobos.push_back(gobo);
        links.emplace_back(*it, name);
    }
    mFile->FieldWriteBegin("GoboManager");
    mFile->FieldWriteBlockBegin();
    for (auto it = gobos.rbegin(); it != gobos.rend(); ++it) {
        mFile->FieldWriteBegin("Gobo");
        mFile->FieldWriteBlockBegin();
        Int(mFile, "Version", 250);
        mFile->FieldWriteC("GoboName", it->name.c_str());
        mFile->FieldWriteC("GoboPath", it->path.c_str());
        mFile->FieldWriteBegin("DrawComponent");
        for (bool flag : it->flags) mFile->FieldWriteI(flag ? 1 : 0);
        mFile->FieldWriteEnd();
        mFile->FieldWriteBlockEnd();
        mFile->FieldWriteEnd();
    }
    for (const auto& link : links) {
        mFile->FieldWriteBegin("LightGobo");
        mFile->FieldWriteC(link.first->GetName());
        mFile->FieldWriteC(link.second.c_str());
        mFile->FieldWriteEnd();
    }
    mFile->FieldWriteBlockEnd();
    mFile->FieldWriteEnd();
}

void KQovWriterQov5::WriteConstraints(KQovScene* scene) {
    if (scene->GetCharacterCount() == 0) return;
    mFile->FieldWriteBegin("Constraints");
    mFile->FieldWriteBlockBegin();
    Double(mFile, "Version", 4.0);
    mFile->FieldWriteBegin("Group");
    mFile->FieldWriteC("Constraint Group");
    mFile->FieldWriteBlockBegin();
    for (int i = 0; i < scene->GetCharacterCount(); ++i) {
        KQovCharacter* character = scene->GetCharacter(i);
        if (!character) continue;
        mFile->FieldWriteBegin("Constraint");
        mFile->FieldWriteC(character->GetName());
        mFile->FieldWriteBlockBegin();
        mFile->FieldWriteC("Type", "Character");
        Int(mFile, "MultiLayer", 1);
        mFile->FieldWriteC("Flags", "Active");
        mFile->FieldWriteC("Description", "Character");
        mFile->FieldWriteBlockEnd();
        mFile->FieldWriteEnd();
    }
    mFile->FieldWriteBlockEnd();
    mFile->FieldWriteEnd();
    mFile->FieldWriteBlockEnd();
    mFile->FieldWriteEnd();
}
