#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "Test3ds.h"
#include "formats/geometry/3ds/Material3ds.h"
#include "formats/geometry/3ds/Mesh3ds.h"
#include "formats/geometry/3ds/Motion3ds.h"

namespace {

// What lib3ds finds in a file, one sorted line per item (tests/programs/lib3ds_counts).
std::vector<std::string> Lib3dsLines(const std::string& path) {
    std::string command = std::string(QOV_PROGRAMS_DIR) + "/lib3ds_counts '" + path + "'";
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return lines;
    char line[512];
    while (fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        lines.push_back(text);
    }
    pclose(pipe);
    std::sort(lines.begin(), lines.end());
    return lines;
}

template <class V>
std::string Keys(const Track3ds<V>& track) {
    return std::to_string(track.keys.size());
}

// The same items as the toolkit's records read them.
std::vector<std::string> ToolkitLines(Context3ds& ctx, Database3ds* db) {
    std::vector<std::string> lines;
    Mesh3ds* mesh = nullptr;
    for (size_t i = 0; i < GetMeshCount3ds(ctx, db); ++i) {
        GetMeshByIndex3ds(ctx, db, i, &mesh);
        lines.push_back("mesh " + mesh->name + " " + std::to_string(mesh->vertices.size()) + " " +
                        std::to_string(mesh->faces.size()) + " " +
                        std::to_string(mesh->texVerts.size()));
    }
    ReleaseMesh3ds(&mesh);
    Material3ds* material = nullptr;
    for (size_t i = 0; i < GetMaterialCount3ds(ctx, db); ++i) {
        GetMaterialByIndex3ds(ctx, db, i, &material);
        const std::string& map = material->maps[0].name;
        lines.push_back("material " + material->name + " " + (map.empty() ? "-" : map));
    }
    ReleaseMaterial3ds(&material);
    Camera3ds* camera = nullptr;
    for (size_t i = 0; i < GetCameraCount3ds(ctx, db); ++i) {
        GetCameraByIndex3ds(ctx, db, i, &camera);
        lines.push_back("camera " + camera->name);
    }
    ReleaseCamera3ds(&camera);
    Light3ds* light = nullptr;
    for (size_t i = 0; i < GetOmnilightCount3ds(ctx, db); ++i) {
        GetOmnilightByIndex3ds(ctx, db, i, &light);
        lines.push_back("light " + light->name + " 0");
    }
    for (size_t i = 0; i < CountNamedObjectsOfType3ds(ctx, db, 0x4600, 1); ++i) {
        GetSpotlightByIndex3ds(ctx, db, i, &light);
        lines.push_back("light " + light->name + " 1");
    }
    ReleaseLight3ds(&light);
    ObjectMotion3ds* object = nullptr;
    for (size_t i = 0; i < GetObjectNodeCount3ds(ctx, db); ++i) {
        GetObjectMotionByIndex3ds(ctx, db, i, &object);
        lines.push_back("node object " + object->name + " " + Keys(object->pos) + " " +
                        Keys(object->rot) + " " + Keys(object->scale) + " " + Keys(object->morph) +
                        " " + Keys(object->hide));
    }
    ReleaseObjectMotion3ds(&object);
    CameraMotion3ds* cameraMotion = nullptr;
    for (size_t i = 0; i < GetCameraNodeCount3ds(ctx, db); ++i) {
        GetCameraMotionByIndex3ds(ctx, db, i, &cameraMotion);
        lines.push_back("node camera " + cameraMotion->name + " " + Keys(cameraMotion->pos) + " " +
                        Keys(cameraMotion->fov) + " " + Keys(cameraMotion->roll));
        if (!cameraMotion->targetPos.keys.empty())
            lines.push_back("node target " + cameraMotion->name + " " +
                            Keys(cameraMotion->targetPos));
    }
    ReleaseCameraMotion3ds(&cameraMotion);
    OmnilightMotion3ds* omni = nullptr;
    for (size_t i = 0; i < GetOmnilightNodeCount3ds(ctx, db); ++i) {
        GetOmnilightMotionByIndex3ds(ctx, db, i, &omni);
        lines.push_back("node light " + omni->name + " " + Keys(omni->pos) + " " +
                        Keys(omni->color));
    }
    ReleaseOmnilightMotion3ds(&omni);
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(Records3ds, RealFilesAgreeWithLib3ds) {
    for (const std::string& name : TestFiles3ds()) {
        SCOPED_TRACE(name);
        Context3ds ctx;
        Database3ds* db = nullptr;
        InitDatabase3ds(ctx, &db);
        LoadDatabase3ds(ctx, OpenFile3ds(ctx, name.c_str(), "rb"), db);
        std::vector<std::string> ours = ToolkitLines(ctx, db);
        EXPECT_FALSE(ctx.ErrorPending()) << ctx.ErrorAt(0).message;
        EXPECT_EQ(ours, Lib3dsLines(name));
        ReleaseDatabase3ds(ctx, &db);
    }
}

}  // namespace
