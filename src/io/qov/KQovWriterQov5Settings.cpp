// Version-5 scene-wide sections: ambient light, fog, shadow planes, renderer settings, the
// producer cameras with the time settings, the gobo list of the lights and the constraint
// list of the characters.

#include <functional>
#include <string>
#include <vector>

#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "character/KQovCharacter.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"
#include "scene/KQovNodeWalk.h"

namespace {

struct Gobo {
    std::string name;
    std::string path;
    bool flags[3];
};

}  // namespace

void KQovWriterQov5::WriteGlobalSettings(KQovScene* scene) {
    KQovWriteAmbientAndFog(mFile, scene);
    KQovWriteShadowPlanes(mFile, scene);
    KQovWriteRendererSetting(mFile, scene);
    KQovWriteBlockBegin(mFile, "Settings");
    WriteProducerCameras(scene);
    KQovWriteTimeFields(mFile, scene);
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WriteProducerCameras(KQovScene* scene) {
    using P = KQovGlobalCameraSettings;
    static const int kOrder[] = {P::ePerspective, P::eTop,  P::eFront, P::eRight,
                                 P::eLeft,        P::eBack, P::eBottom};
    KQovGlobalCameraSettings& cameras = scene->GetGlobalCameraSettings();
    for (int producer : kOrder) {
        KQovNode* node = cameras.GetProducerNode(producer);
        if (!node || !node->GetCamera()) continue;
        KQovWriteBlockBegin(mFile, "Camera", P::GetProducerName(producer));
        WriteModelContent(node, true);
        KQovWriteBlockEnd(mFile);
    }
}

void KQovWriterQov5::WriteGoboManager(KQovScene* scene) {
    std::vector<KQovNode*> lights;
    for (KQovNode* node : KQovListNodes(scene->GetRootNode())) {
        KQovLight* light = node->GetLight();
        if (light && light->GetGoboFileName() && light->GetGoboFileName()[0])
            lights.push_back(node);
    }
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
    KQovWriteBlockBegin(mFile, "GoboManager");
    for (auto it = gobos.rbegin(); it != gobos.rend(); ++it) {
        KQovWriteBlockBegin(mFile, "Gobo");
        KQovWriteIntField(mFile, "Version", 250);
        mFile->FieldWriteC("GoboName", it->name.c_str());
        mFile->FieldWriteC("GoboPath", it->path.c_str());
        mFile->FieldWriteBegin("DrawComponent");
        for (bool flag : it->flags) mFile->FieldWriteI(flag ? 1 : 0);
        mFile->FieldWriteEnd();
        KQovWriteBlockEnd(mFile);
    }
    for (const auto& link : links) {
        mFile->FieldWriteBegin("LightGobo");
        mFile->FieldWriteC(WrittenName(link.first));
        mFile->FieldWriteC(link.second.c_str());
        mFile->FieldWriteEnd();
    }
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WriteConstraints(KQovScene* scene) {
    if (scene->GetCharacterCount() == 0) return;
    KQovWriteBlockBegin(mFile, "Constraints");
    KQovWriteDoubleField(mFile, "Version", 4.0);
    KQovWriteBlockBegin(mFile, "Group", "Constraint Group");
    for (int i = 0; i < scene->GetCharacterCount(); ++i) {
        KQovCharacter* character = scene->GetCharacter(i);
        if (!character) continue;
        KQovWriteBlockBegin(mFile, "Constraint", character->GetName());
        mFile->FieldWriteC("Type", "Character");
        KQovWriteIntField(mFile, "MultiLayer", 1);
        mFile->FieldWriteC("Flags", "Active");
        mFile->FieldWriteC("Description", "Character");
        KQovWriteBlockEnd(mFile);
    }
    KQovWriteBlockEnd(mFile);
    KQovWriteBlockEnd(mFile);
}
