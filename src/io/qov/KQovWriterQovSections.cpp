#include "io/qov/KQovWriterQovSections.h"

#include "attributes/KQovMesh.h"
#include "io/qov/KQovFieldFile.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

bool KQovWriteMultiLayerAndTake(KQovFieldFile* file, const KQovNode* node) {
    file->FieldWriteBegin("MultiLayer");
    file->FieldWriteI(node->GetMultiLayer() ? 1 : 0);
    file->FieldWriteEnd();
    file->FieldWriteBegin("MultiTake");
    file->FieldWriteI(node->GetMultiTake());
    return file->FieldWriteEnd();
}

bool KQovWriteVisibilityAndShading(KQovFieldFile* file, const KQovNode* node) {
    bool ok = true;
    if (!node->GetVisibility()) ok = file->FieldWriteC("Hidden", "True");
    static const char kModes[] = "WFYTU";
    const int mode = node->GetShadingMode();
    if (mode >= 1 && mode <= 5) {
        file->FieldWriteBegin("Shading");
        file->FieldWriteCh(kModes[mode - 1]);
        ok = file->FieldWriteEnd() && ok;
    }
    return ok;
}

bool KQovWriteShadowPlanes(KQovFieldFile* file, KQovScene* scene) {
    KQovGlobalLightSettings& light = scene->GetGlobalLightSettings();
    file->FieldWriteBegin("ShadowPlanes");
    file->FieldWriteBlockBegin();
    const int count = light.GetShadowPlaneCount();
    file->FieldWriteBegin("Count");
    file->FieldWriteI(count);
    file->FieldWriteEnd();
    for (int i = 0; i < count; ++i) {
        const KQovShadowPlane* plane = light.GetShadowPlane(i);
        file->FieldWriteBegin("Plane");
        for (int k = 0; k < 3; ++k) file->FieldWriteD(plane->origin[k]);
        for (int k = 0; k < 3; ++k) file->FieldWriteD(plane->normal[k]);
        file->FieldWriteI(plane->enabled ? 1 : 0);
        file->FieldWriteEnd();
    }
    file->FieldWriteBegin("UseShadow");
    file->FieldWriteI(light.GetShadowEnable() ? 1 : 0);
    file->FieldWriteEnd();
    file->FieldWriteBegin("ShadowIntensity");
    file->FieldWriteD(light.GetShadowIntensity());
    file->FieldWriteEnd();
    file->FieldWriteBlockEnd();
    return file->FieldWriteEnd();
}

bool KQovWritePolygonVertexIndex(KQovFieldFile* file, const KQovMesh* mesh) {
    file->FieldWriteBegin("PolygonVertexIndex");
    const int polygons = mesh->GetPolygonCount();
    for (int p = 0; p < polygons; ++p) {
        const int size = mesh->GetPolygonSize(p);
        for (int k = 0; k < size; ++k) {
            const int v = mesh->GetPolygonVertex(p, k);
            file->FieldWriteI(k + 1 == size ? ~v : v);
        }
    }
    return file->FieldWriteEnd();
}
