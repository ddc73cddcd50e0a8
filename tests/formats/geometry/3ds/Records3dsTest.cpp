#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "Test3ds.h"
#include "formats/geometry/3ds/Keyframe3ds.h"
#include "formats/geometry/3ds/Material3ds.h"
#include "formats/geometry/3ds/Mesh3ds.h"
#include "formats/geometry/3ds/Motion3ds.h"

namespace {

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
        const std::string& map2 = material->maps[1].name;
        lines.push_back("material " + material->name + " " + (map.empty() ? "-" : map) + " " +
                        (map2.empty() ? "-" : map2));
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
    SpotlightMotion3ds* spot = nullptr;
    for (size_t i = 0; i < CountNodesOfTag3ds(ctx, db, 0xB007); ++i) {
        GetSpotlightMotionByIndex3ds(ctx, db, i, &spot);
        // lib3ds calls a spotlight node a light and its target node a spot.
        lines.push_back("node light " + spot->name + " " + Keys(spot->pos) + " " +
                        Keys(spot->color));
        if (!spot->targetPos.keys.empty())
            lines.push_back("node spot " + spot->name + " " + Keys(spot->targetPos));
    }
    ReleaseSpotlightMotion3ds(&spot);
    // What a file leaves out, lib3ds shows as its defaults: length 100, segment 0 to 100.
    KfSets3ds* sets = nullptr;
    GetKfSets3ds(ctx, db, &sets);
    const bool segment = sets && sets->segmentUsed;
    lines.push_back("keyframes " + std::to_string(sets ? sets->anim : 100) + " " +
                    std::to_string(segment ? sets->segmentStart : 0) + " " +
                    std::to_string(segment ? sets->segmentEnd : 100));
    ReleaseKfSets3ds(&sets);
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(Records3ds, RealFilesAgreeWithLib3ds) {
    for (const std::string& name : TestFiles3ds()) {
        SCOPED_TRACE(name);
        Loaded3ds f(name);
        std::vector<std::string> ours = ToolkitLines(f.ctx, f.db);
        EXPECT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
        EXPECT_EQ(ours, Lib3dsLines(name));
    }
}

TEST(Records3ds, LongNamesAgreeWithLib3ds) {
    // Names past the format's limits, as other programs write them.
    Bytes3ds mesh =
        Chunk(0x4000, Str("A_Long_Object_Name") +
                          Chunk(0x4100, Chunk(0x4110, U16(1) + F32(1) + F32(2) + F32(3)) +
                                            Chunk(0x4120, U16(0))));
    Bytes3ds material = Chunk(0xAFFF, Chunk(0xA000, Str("A_Rather_Long_Material")) +
                                          Chunk(0xA200, Chunk(0xA300, Str("bricks_diffuse.png"))));
    Bytes3ds track = U16(0) + U32(0) + U32(0) + U32(1) + U32(0) + U16(0) + F32(1) + F32(2) + F32(3);
    Bytes3ds node =
        Chunk(0xB002, Chunk(0xB030, U16(0)) +
                          Chunk(0xB010, Str("A_Long_Object_Name") + U16(0) + U16(0) + U16(0xFFFF)) +
                          Chunk(0xB020, track));
    Loaded3ds f(Chunk(0x4D4D, Chunk(0x0002, U32(3)) +
                                  Chunk(0x3D3D, Chunk(0x3D3E, U32(3)) + material + mesh) +
                                  Chunk(0xB000, Chunk(0xB00A, U16(5) + Str("") + U32(30)) + node)));
    std::vector<std::string> ours = ToolkitLines(f.ctx, f.db);
    EXPECT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
    EXPECT_EQ(ours, Lib3dsLines(f.temp.path));
    EXPECT_EQ(ours.size(), 4u);
}

KeyHeader3ds Key(uint32_t frame) {
    KeyHeader3ds key;
    key.time = frame;
    return key;
}

// A scene of every record kind, put into a new database and saved.
struct Written3ds {
    Context3ds ctx;
    TempPath3ds temp{"written.3ds"};

    Written3ds() {
        Database3ds* db = nullptr;
        InitDatabase3ds(ctx, &db);
        CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
        MeshSettings3ds* settings = nullptr;
        InitMeshSettings3ds(ctx, &settings);
        settings->masterScale = 2.5f;
        PutMeshSettings3ds(ctx, db, settings);
        ReleaseMeshSettings3ds(&settings);

        Material3ds* material = nullptr;
        InitMaterial3ds(ctx, &material);
        material->name = "Brick";
        material->diffuse = {0.5f, 1, 0};
        material->shininess = 0.756f;
        material->maps[0].name = "BRICK.JPG";
        material->maps[0].percent = 0.756f;
        material->maps[0].uScale = 2.0f;
        material->maps[0].tiling = kTileDecal3ds;
        PutMaterial3ds(ctx, db, material);
        ReleaseMaterial3ds(&material);

        Mesh3ds* mesh = nullptr;
        InitMesh3ds(ctx, &mesh, 4, 2, kMeshTexVerts3ds | kMeshSmoothing3ds);
        mesh->name = "Quad";
        mesh->vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
        mesh->faces = {{0, 1, 2, 7}, {0, 2, 3, 7}};
        mesh->smoothing = {1, 2};
        mesh->matGroups = {{"Brick", {0, 1}}};
        PutMesh3ds(ctx, db, mesh);
        mesh->name = "Empty";
        mesh->faces.clear();
        mesh->matGroups.clear();
        PutMesh3ds(ctx, db, mesh);
        ReleaseMesh3ds(&mesh);

        Camera3ds* camera = nullptr;
        InitCamera3ds(ctx, &camera);
        camera->name = "Cam";
        camera->fov = 50;
        camera->position = {1, 2, 3};
        PutCamera3ds(ctx, db, camera);
        ReleaseCamera3ds(&camera);

        Light3ds* light = nullptr;
        InitLight3ds(ctx, &light);
        light->name = "Omni";
        light->excludes = {"Quad"};
        PutLight3ds(ctx, db, light);
        InitSpotlight3ds(ctx, &light);
        light->name = "Spot";
        light->spot->hotspot = 20;
        PutLight3ds(ctx, db, light);
        ReleaseLight3ds(&light);

        ObjectMotion3ds* object = nullptr;
        InitObjectMotion3ds(ctx, &object, 2, 3, 1, 0, 1);
        object->name = "Quad";
        object->pos.keys[1] = Key(10);
        object->pos.values[1] = {5, 6, 7};
        PutObjectMotion3ds(ctx, db, object);
        ReleaseObjectMotion3ds(&object);
        InitObjectMotion3ds(ctx, &object, 1, 1, 1, 0, 0);
        object->name = "Empty";
        object->parent = "Quad";
        PutObjectMotion3ds(ctx, db, object);
        ReleaseObjectMotion3ds(&object);

        CameraMotion3ds* cameraMotion = nullptr;
        InitCameraMotion3ds(ctx, &cameraMotion, 1, 1, 1, 2);
        cameraMotion->name = "Cam";
        PutCameraMotion3ds(ctx, db, cameraMotion);
        ReleaseCameraMotion3ds(&cameraMotion);

        OmnilightMotion3ds* omni = nullptr;
        InitOmnilightMotion3ds(ctx, &omni, 1, 2);
        omni->name = "Omni";
        PutOmnilightMotion3ds(ctx, db, omni);
        ReleaseOmnilightMotion3ds(&omni);

        SpotlightMotion3ds* spot = nullptr;
        InitSpotlightMotion3ds(ctx, &spot, 3, 1, 1, 1, 1, 2);
        spot->name = "Spot";
        PutSpotlightMotion3ds(ctx, db, spot);
        ReleaseSpotlightMotion3ds(&spot);

        KfSets3ds* sets = nullptr;
        InitKfSets3ds(ctx, &sets);
        sets->anim = 100;
        sets->segmentUsed = true;
        sets->segmentStart = 10;
        sets->segmentEnd = 90;
        PutKfSets3ds(ctx, db, sets);
        ReleaseKfSets3ds(&sets);

        File3ds* file = OpenFile3ds(ctx, temp.path.c_str(), "wb");
        SaveDatabase3ds(ctx, file, db);
        ReleaseDatabase3ds(ctx, &db);
        CloseAllFiles3ds(ctx);
    }
};

TEST(Records3ds, WrittenRecordsReadBackWithBothReaders) {
    Written3ds written;
    ASSERT_FALSE(written.ctx.ErrorPending()) << written.ctx.ErrorAt(0).message;
    std::vector<std::string> expected = {
        "camera Cam",
        "keyframes 100 10 90",
        "light Omni 0",
        "light Spot 1",
        "material Brick BRICK.JPG -",
        "mesh Empty 4 0 4",
        "mesh Quad 4 2 4",
        "node camera Cam 1 1 1",
        "node light Omni 1 2",
        "node light Spot 3 1",
        "node object Empty 1 1 1 0 0",
        "node object Quad 2 3 1 0 1",
        "node spot Spot 2",
        "node target Cam 2",
    };
    EXPECT_EQ(Lib3dsLines(written.temp.path), expected);

    Loaded3ds f(written.temp.path);
    Context3ds& ctx = f.ctx;
    Database3ds* db = f.db;
    EXPECT_EQ(ToolkitLines(ctx, db), expected);

    Mesh3ds* mesh = nullptr;
    GetMeshByIndex3ds(ctx, db, 0, &mesh);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->name, "Quad");
    EXPECT_EQ(mesh->faces[1].v3, 3);
    EXPECT_EQ(mesh->smoothing, (std::vector<uint32_t>{1, 2}));
    ASSERT_EQ(mesh->matGroups.size(), 1u);
    EXPECT_EQ(mesh->matGroups[0].name, "Brick");
    GetMeshByIndex3ds(ctx, db, 1, &mesh);
    EXPECT_EQ(mesh->faces.size(), 0u);
    EXPECT_TRUE(mesh->matGroups.empty());
    ReleaseMesh3ds(&mesh);

    Material3ds* material = nullptr;
    GetMaterialByIndex3ds(ctx, db, 0, &material);
    EXPECT_NEAR(material->diffuse.r, 127 / 255.0, 1e-6);
    EXPECT_NEAR(material->shininess, 0.75, 1e-6);
    EXPECT_NEAR(material->maps[0].percent, 0.76, 1e-6);
    EXPECT_EQ(material->maps[0].tiling, kTileDecal3ds);
    EXPECT_EQ(material->maps[0].uScale, 2.0f);
    EXPECT_EQ(material->maps[0].vScale, 1.0f);
    EXPECT_TRUE(material->maps[1].name.empty());
    ReleaseMaterial3ds(&material);

    Camera3ds* camera = nullptr;
    GetCameraByIndex3ds(ctx, db, 0, &camera);
    EXPECT_NEAR(camera->fov, 50, 1e-4);
    EXPECT_EQ(camera->position.z, 3);
    ReleaseCamera3ds(&camera);

    Light3ds* light = nullptr;
    GetOmnilightByIndex3ds(ctx, db, 0, &light);
    EXPECT_EQ(light->excludes, (std::vector<std::string>{"Quad"}));
    EXPECT_EQ(light->spot, nullptr);
    GetSpotlightByIndex3ds(ctx, db, 0, &light);
    ASSERT_NE(light->spot, nullptr);
    EXPECT_EQ(light->spot->hotspot, 20);
    EXPECT_EQ(light->spot->aspect, 1.0f);
    ReleaseLight3ds(&light);

    ObjectMotion3ds* object = nullptr;
    GetObjectMotionByIndex3ds(ctx, db, 1, &object);
    EXPECT_EQ(object->name, "Empty");
    EXPECT_EQ(object->parent, "Quad");
    GetObjectMotionByIndex3ds(ctx, db, 0, &object);
    EXPECT_EQ(object->pos.keys[1].time, 10u);
    EXPECT_EQ(object->pos.values[1].y, 6);
    EXPECT_EQ(object->rot.values[2].z, 1);
    EXPECT_EQ(object->hide.keys.size(), 1u);
    ReleaseObjectMotion3ds(&object);
    MeshSettings3ds* settings = nullptr;
    GetMeshSettings3ds(ctx, db, &settings);
    EXPECT_EQ(settings->masterScale, 2.5f);
    ReleaseMeshSettings3ds(&settings);
    EXPECT_FALSE(ctx.ErrorPending()) << ctx.ErrorAt(0).message;
}

}  // namespace
