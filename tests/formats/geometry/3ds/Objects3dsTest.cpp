#include <gtest/gtest.h>
#include <cstring>

#include "Test3ds.h"
#include "formats/geometry/3ds/Material3ds.h"
#include "formats/geometry/3ds/Mesh3ds.h"
#include "formats/geometry/3ds/Motion3ds.h"

namespace {

Bytes3ds Object(const std::string& name, const Bytes3ds& body) {
    return Chunk(0x4000, Str(name) + body);
}
Bytes3ds MeshFile(const Bytes3ds& meshData) {
    return Chunk(0x4D4D, Chunk(0x0002, U32(3)) + Chunk(0x3D3D, Chunk(0x3D3E, U32(3)) + meshData));
}
Bytes3ds CameraBody(float lens) {
    return Chunk(0x4700, F32(1) + F32(2) + F32(3) + F32(4) + F32(5) + F32(6) + F32(0) + F32(lens));
}

// A database made in memory.
struct Memory3ds {
    Context3ds ctx;
    Database3ds* db = nullptr;
    explicit Memory3ds(DatabaseType3ds type = kMeshFile3ds) {
        InitDatabase3ds(ctx, &db);
        CreateNewDatabase3ds(ctx, db, type);
    }
    ~Memory3ds() { ReleaseDatabase3ds(ctx, &db); }
};

TEST(Objects3ds, ReadsAfterAnEarlierErrorEndCleanly) {
    // The type chunk is not the object's first child, so a copy cut short by the
    // pending error would lack it.
    Bytes3ds flag = Chunk(0x4010, {});
    Bytes3ds spot = Chunk(0x4600, F32(0) + F32(0) + F32(0) +
                                      Chunk(0x4610, F32(1) + F32(1) + F32(1) + F32(20) + F32(30)));
    Bytes3ds tri = Chunk(0x4100, Chunk(0x4110, U16(0)));
    Loaded3ds f(MeshFile(Object("S", flag + spot) + Object("C", flag + CameraBody(48)) +
                         Object("M", flag + tri)));
    ASSERT_FALSE(f.ctx.ErrorPending());
    UpdateNamedObjectIndex3ds(f.ctx, f.db);
    PushError3ds(f.ctx, ERR_READING_FILE);
    Light3ds* light = nullptr;
    GetSpotlightByIndex3ds(f.ctx, f.db, 0, &light);
    ReleaseLight3ds(&light);
    Camera3ds* camera = nullptr;
    GetCameraByIndex3ds(f.ctx, f.db, 0, &camera);
    ReleaseCamera3ds(&camera);
    Mesh3ds* mesh = nullptr;
    GetMeshByIndex3ds(f.ctx, f.db, 0, &mesh);
    ReleaseMesh3ds(&mesh);
    EXPECT_TRUE(f.ctx.ErrorPending());
}

TEST(Objects3ds, RecordsPutKeepToTheFormatsNameLimits) {
    // Long names read from other programs' files; records put are kept to the limits.
    Memory3ds m;
    Camera3ds* camera = nullptr;
    InitCamera3ds(m.ctx, &camera);
    camera->name = "ElevenChars";
    PutCamera3ds(m.ctx, m.db, camera);
    EXPECT_EQ(m.ctx.ErrorAt(0).code, ERR_STRING_TOO_LONG);
    EXPECT_EQ(FindChunk3ds(m.db->topChunk, 0x4000), nullptr);
    ReleaseCamera3ds(&camera);
    Memory3ds n;
    Material3ds* material = nullptr;
    InitMaterial3ds(n.ctx, &material);
    material->name = "Mat";
    material->maps[0].name = "seventeen_chars_1";
    PutMaterial3ds(n.ctx, n.db, material);
    EXPECT_EQ(n.ctx.ErrorAt(0).code, ERR_STRING_TOO_LONG);
    ReleaseMaterial3ds(&material);
}

TEST(Cameras3ds, LensAndFieldOfView) {
    Loaded3ds f(MeshFile(Object("A", CameraBody(48)) + Object("B", CameraBody(0)) +
                         Object("C", CameraBody(-3))));
    ASSERT_EQ(GetCameraCount3ds(f.ctx, f.db), 3u);
    Camera3ds* camera = nullptr;
    GetCameraByIndex3ds(f.ctx, f.db, 0, &camera);
    EXPECT_FLOAT_EQ(camera->fov, 50);
    EXPECT_EQ(camera->target.x, 4);
    GetCameraByIndex3ds(f.ctx, f.db, 1, &camera);
    EXPECT_EQ(camera->fov, 45);
    GetCameraByIndex3ds(f.ctx, f.db, 2, &camera);
    EXPECT_EQ(camera->fov, 45);
    // Writing: 2400 / field of view; none or a negative one stores the default view.
    Memory3ds m;
    camera->name = "W";
    camera->fov = 0;
    PutCamera3ds(m.ctx, m.db, camera);
    auto* data = PayloadAs3ds<CameraData3ds>(FindChunk3ds(m.db->topChunk, 0x4700));
    ASSERT_NE(data, nullptr);
    EXPECT_FLOAT_EQ(data->lens, 2400.0f / 45);
    ReleaseCamera3ds(&camera);
    EXPECT_FALSE(f.ctx.ErrorPending());
}

TEST(Cameras3ds, PuttingAnExistingNameReplacesInPlaceAndKeepsXData) {
    Bytes3ds xdata = Chunk(0x8000, Chunk(0x8001, Chunk(0x8002, Str("app"))));
    Loaded3ds f(MeshFile(Object("Cam", CameraBody(48) + xdata) + Object("Box", {})));
    Camera3ds* camera = nullptr;
    InitCamera3ds(f.ctx, &camera);
    camera->name = "Cam";
    PutCamera3ds(f.ctx, f.db, camera);
    ReleaseCamera3ds(&camera);
    ASSERT_FALSE(f.ctx.ErrorPending());
    UpdateNamedObjectIndex3ds(f.ctx, f.db);
    ASSERT_EQ(f.db->objList.size(), 2u);
    EXPECT_EQ(f.db->objList[0].name, "Cam");
    Chunk3ds* data = FindChunk3ds(f.db->objList[0].chunk, 0x4700);
    EXPECT_NE(FindChunk3ds(data, 0x8002), nullptr);
    EXPECT_FLOAT_EQ(PayloadAs3ds<CameraData3ds>(data)->lens, 2400.0f / 45);
    // Cameras go only into 3DS files; lights also into project files.
    Memory3ds project(kProjectFile3ds);
    InitCamera3ds(project.ctx, &camera);
    PutCamera3ds(project.ctx, project.db, camera);
    EXPECT_EQ(project.ctx.ErrorAt(0).code, ERR_WRONG_DATABASE);
    ReleaseCamera3ds(&camera);
    Memory3ds project2(kProjectFile3ds);
    Light3ds* light = nullptr;
    InitLight3ds(project2.ctx, &light);
    light->name = "L";
    PutLight3ds(project2.ctx, project2.db, light);
    EXPECT_FALSE(project2.ctx.ErrorPending());
    ReleaseLight3ds(&light);
}

TEST(Lights3ds, ColoursByteScalesAndOrder) {
    Bytes3ds light =
        Chunk(0x4600, F32(0) + F32(0) + F32(0) + Chunk(0x0010, F32(0.1f) + F32(0.2f) + F32(0.3f)) +
                          Chunk(0x0011, Bytes3ds{255, 255, 255}));
    Bytes3ds ambient = Chunk(0x2100, Chunk(0x0011, Bytes3ds{255, 255, 255}));
    Loaded3ds f(MeshFile(ambient + Object("L", light)));
    Light3ds* l = nullptr;
    GetOmnilightByIndex3ds(f.ctx, f.db, 0, &l);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->color.g, 1.0f);
    MeshSettings3ds* s = nullptr;
    GetMeshSettings3ds(f.ctx, f.db, &s);
    EXPECT_EQ(s->ambient.b, 0.99609375f);
    ReleaseMeshSettings3ds(&s);
    // No spotlight here: the by-index read leaves the record alone.
    l->name = "kept";
    GetSpotlightByIndex3ds(f.ctx, f.db, 0, &l);
    EXPECT_EQ(l->name, "kept");
    ReleaseLight3ds(&l);
    EXPECT_FALSE(f.ctx.ErrorPending());
}

TEST(Lights3ds, SpotlightRoundTrip) {
    Memory3ds m;
    Light3ds* l = nullptr;
    InitSpotlight3ds(m.ctx, &l);
    l->name = "S";
    l->spot->localShadowFlag = 1;
    l->spot->localShadowMapSize = 1024;
    l->spot->projectorFlag = 1;
    l->spot->projectorName = "gobo.tga";
    PutLight3ds(m.ctx, m.db, l);
    EXPECT_EQ(FindChunk3ds(m.db->topChunk, 0x4657), nullptr);  // aspect 1.0 is not written
    Light3ds* back = nullptr;
    GetSpotlightByIndex3ds(m.ctx, m.db, 0, &back);
    ASSERT_NE(back, nullptr);
    ASSERT_NE(back->spot, nullptr);
    EXPECT_EQ(back->spot->aspect, 1.0f);
    EXPECT_EQ(back->spot->localShadowMapSize, 1024);
    EXPECT_EQ(back->spot->projectorName, "gobo.tga");
    EXPECT_EQ(back->spot->hotspot, 44.0f);
    uint32_t bits = 0;  // the default grey, bit for bit
    std::memcpy(&bits, &back->color.r, sizeof bits);
    EXPECT_EQ(bits, 0x3F357753u);
    ReleaseLight3ds(&l);
    ReleaseLight3ds(&back);
    EXPECT_FALSE(m.ctx.ErrorPending());
}

TEST(Background3ds, RoundTrip) {
    Memory3ds m;
    Background3ds* b = nullptr;
    InitBackground3ds(m.ctx, &b);
    b->bitmap = "sky.jpg";
    b->solid = {0.25f, 0.5f, 0.75f};
    b->gradient[2] = {1, 0, 1};
    b->use = kGradientBackground3ds;
    PutBackground3ds(m.ctx, m.db, b);
    b->use = kSolidBackground3ds;
    PutBackground3ds(m.ctx, m.db, b);  // the use chunk is replaced in place
    Background3ds* back = nullptr;
    GetBackground3ds(m.ctx, m.db, &back);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->bitmap, "sky.jpg");
    EXPECT_EQ(back->solid.g, 0.5f);
    EXPECT_EQ(back->gradient[2].b, 1.0f);
    EXPECT_EQ(back->use, kSolidBackground3ds);
    ReleaseBackground3ds(&b);
    ReleaseBackground3ds(&back);
    EXPECT_FALSE(m.ctx.ErrorPending());
}

TEST(Meshes3ds, CountSkipsOtherObjectsAndFlagsFollowTheRules) {
    Bytes3ds tri =
        Chunk(0x4100, Chunk(0x4110, U16(1) + F32(1) + F32(2) + F32(3)) + Chunk(0x4120, U16(0)));
    Loaded3ds f(MeshFile(Object("Cam", CameraBody(48)) + Object("Box", tri + Chunk(0x4010, {}))));
    EXPECT_EQ(GetMeshCount3ds(f.ctx, f.db), 1u);
    Mesh3ds* mesh = nullptr;
    GetMeshByIndex3ds(f.ctx, f.db, 0, &mesh);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->name, "Box");
    EXPECT_EQ(mesh->vertices[0].z, 3);
    EXPECT_EQ(mesh->flag4010, 1);
    EXPECT_TRUE(mesh->matGroups.empty());
    EXPECT_TRUE(mesh->smoothing.empty());
    EXPECT_EQ(mesh->boxMapPresent, 0);
    // Flag bytes other than 0 count as set; 0x4015 needs 1 and procedure data.
    Memory3ds m;
    mesh->flag4011 = 7;
    mesh->flag4015 = 1;
    PutMesh3ds(m.ctx, m.db, mesh);
    Chunk3ds* object = FindChunk3ds(m.db->topChunk, 0x4000);
    EXPECT_NE(FindNextChunk3ds(object->child, 0x4011), nullptr);
    EXPECT_EQ(FindNextChunk3ds(object->child, 0x4015), nullptr);
    EXPECT_EQ(FindChunk3ds(object, 0x4120), nullptr);  // no faces, no face chunk
    EXPECT_NE(FindChunk3ds(object, 0x4160), nullptr);
    // Material groups need faces and an index below the group count.
    InitMatGroupFaces3ds(m.ctx, mesh, 0, 3);
    EXPECT_EQ(m.ctx.ErrorAt(0).code, ERR_INVALID_DATA);
    ReleaseMesh3ds(&mesh);
}

TEST(Meshes3ds, TooManyVerticesAreRefused) {
    Memory3ds m;
    Mesh3ds* mesh = nullptr;
    InitMesh3ds(m.ctx, &mesh, 0, 0, 0);
    mesh->name = "Big";
    mesh->vertices.resize(70000);
    PutMesh3ds(m.ctx, m.db, mesh);
    EXPECT_EQ(m.ctx.ErrorAt(0).code, ERR_INVALID_DATA);
    EXPECT_EQ(FindChunk3ds(m.db->topChunk, 0x4000), nullptr);
    ReleaseMesh3ds(&mesh);
}

TEST(Materials3ds, MapsFlagsAndUnknownChildren) {
    Bytes3ds map = Chunk(0xA200, Chunk(0x0030, U16(50)) + Chunk(0xA300, Str("ABCDEFGHIJKL.PNG")) +
                                     Chunk(0xA351, U16(0x11)));
    Bytes3ds map2 = Chunk(0xA33E, Chunk(0xA300, Str("b.png")) + Chunk(0xA351, U16(0x01)));
    Bytes3ds entry =
        Chunk(0xAFFF, Chunk(0xA000, Str("Mat")) + Chunk(0x7777, U32(1)) +
                          Chunk(0xA052, Chunk(0x0030, U16(40))) + Chunk(0xA08A, {}) + map + map2);
    Loaded3ds f(MeshFile(entry));
    Material3ds* mat = nullptr;
    GetMaterialByIndex3ds(f.ctx, f.db, 0, &mat);
    ASSERT_NE(mat, nullptr);
    EXPECT_FALSE(f.ctx.ErrorPending());
    EXPECT_EQ(mat->name, "Mat");
    EXPECT_EQ(mat->maps[0].name, "ABCDEFGHIJKL.PNG");  // 16 characters
    EXPECT_FLOAT_EQ(mat->maps[0].percent, 0.5f);
    EXPECT_FLOAT_EQ(mat->maps[1].percent, 1.0f);  // no amount given: in full, as lib3ds reads it
    EXPECT_EQ(mat->maps[0].tiling, kTileDecal3ds);
    EXPECT_EQ(mat->maps[1].tiling, kTileBoth3ds);
    EXPECT_FLOAT_EQ(mat->transparencyFalloff, -0.4f);
    EXPECT_EQ(mat->transparency, 0.0f);
    // Written back: flags 0x11, the falloff's magnitude and its sign chunk.
    Memory3ds m;
    PutMaterial3ds(m.ctx, m.db, mat);
    PutMaterial3ds(m.ctx, m.db, mat);
    EXPECT_EQ(GetMaterialCount3ds(m.ctx, m.db), 1u);
    EXPECT_EQ(*PayloadAs3ds<uint16_t>(FindChunk3ds(m.db->topChunk, 0xA351)), 0x11);
    EXPECT_NE(FindChunk3ds(m.db->topChunk, 0xA08A), nullptr);
    EXPECT_EQ(FindChunk3ds(FindChunk3ds(m.db->topChunk, 0xA200), 0xA354), nullptr);
    Material3ds* back = nullptr;
    GetMaterialByIndex3ds(m.ctx, m.db, 0, &back);
    EXPECT_FLOAT_EQ(back->transparencyFalloff, -0.4f);
    EXPECT_EQ(back->maps[0].name, "ABCDEFGHIJKL.PNG");
    ReleaseMaterial3ds(&mat);
    ReleaseMaterial3ds(&back);
    EXPECT_FALSE(m.ctx.ErrorPending());
}

TEST(Materials3ds, NotAMaterialEntryIsRefused) {
    Context3ds ctx;
    Chunk3ds* chunk = nullptr;
    InitChunkAs3ds(ctx, &chunk, 0xA000);
    Material3ds* mat = nullptr;
    ReadMaterial3ds(ctx, chunk, &mat);
    EXPECT_EQ(ctx.ErrorAt(0).code, ERR_INVALID_CHUNK);
    EXPECT_EQ(mat, nullptr);
    DeleteChunkChain3ds(&chunk);
}

TEST(Objects3ds, ByIndexReadsInAnyOrder) {
    Bytes3ds tri = Chunk(0x4100, Chunk(0x4110, U16(0)));
    Loaded3ds f(MeshFile(Object("M0", tri) + Object("C0", CameraBody(48)) + Object("M1", tri) +
                         Object("M2", tri)));
    std::vector<std::string> names;
    Mesh3ds* mesh = nullptr;
    for (size_t i : {0, 1, 2, 1, 0, 2, 3}) {
        if (mesh) mesh->name.clear();
        GetMeshByIndex3ds(f.ctx, f.db, i, &mesh);
        names.push_back(mesh->name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"M0", "M1", "M2", "M1", "M0", "M2", ""}));
    Camera3ds* camera = nullptr;
    GetCameraByIndex3ds(f.ctx, f.db, 0, &camera);
    EXPECT_EQ(camera->name, "C0");
    // A mesh put under a new name joins the index.
    mesh->name = "M3";
    PutMesh3ds(f.ctx, f.db, mesh);
    GetMeshByIndex3ds(f.ctx, f.db, 2, &mesh);
    GetMeshByIndex3ds(f.ctx, f.db, 3, &mesh);
    EXPECT_EQ(mesh->name, "M3");
    ReleaseMesh3ds(&mesh);
    ReleaseCamera3ds(&camera);
    EXPECT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
}

TEST(Motions3ds, CameraNodesByIndexTakeTheFirstOfTheirName) {
    auto node = [](uint16_t tag, const char* name, int keys) {
        Bytes3ds track = U16(0) + U32(0) + U32(0) + U32(uint32_t(keys));
        for (int i = 0; i < keys; ++i) track = track + U32(uint32_t(i)) + U16(0) + F32(0);
        return Chunk(
            tag, Chunk(0xB010, Str(name) + U16(0) + U16(0) + U16(0xFFFF)) +
                     Chunk(tag == 0xB003 ? 0xB023 : 0xB020, tag == 0xB003 ? track : Bytes3ds()));
    };
    Bytes3ds target = Chunk(0xB004, Chunk(0xB010, Str("B") + U16(0) + U16(0) + U16(0xFFFF)) +
                                        Chunk(0xB020, U16(0) + U32(0) + U32(0) + U32(1) + U32(0) +
                                                          U16(0) + F32(1) + F32(2) + F32(3)));
    Loaded3ds f(Chunk(0x4D4D, Chunk(0xB000, node(0xB003, "A", 1) + node(0xB003, "B", 2) +
                                                node(0xB003, "A", 3) + target)));
    CameraMotion3ds* motion = nullptr;
    std::vector<std::string> seen;
    for (size_t i : {0, 1, 2, 0}) {
        GetCameraMotionByIndex3ds(f.ctx, f.db, i, &motion);
        seen.push_back(motion->name + std::to_string(motion->fov.keys.size()) +
                       std::to_string(motion->targetPos.keys.size()));
    }
    // The third node is named like the first and keeps its own tracks.
    EXPECT_EQ(seen, (std::vector<std::string>{"A10", "B21", "A30", "A10"}));
    ReleaseCameraMotion3ds(&motion);
    EXPECT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
}

// Cameras and spotlights of one name: each node its own tracks and the target of its rank
// among that name's targets; a node past their count the first target.
TEST(Motions3ds, LightAndCameraNodesOfOneNameKeepTheirOwnTargets) {
    auto header = [](const char* name) {
        return Chunk(0xB010, Str(name) + U16(0) + U16(0) + U16(0xFFFF));
    };
    auto target = [&](uint16_t tag, float x) {
        return Chunk(tag, header("A") + Chunk(0xB020, U16(0) + U32(0) + U32(0) + U32(1) + U32(0) +
                                                          U16(0) + F32(x) + F32(0) + F32(0)));
    };
    for (uint16_t tag : {uint16_t(0xB003), uint16_t(0xB007)}) {
        const uint16_t targetTag = tag == 0xB003 ? 0xB004 : 0xB006;
        Loaded3ds f(Chunk(0x4D4D, Chunk(0xB000, Chunk(tag, header("A")) + target(targetTag, 1) +
                                                    Chunk(tag, header("A")) + target(targetTag, 2) +
                                                    Chunk(tag, header("A")))));
        std::vector<float> xs;
        for (size_t i : {0, 1, 2}) {
            if (tag == 0xB003) {
                CameraMotion3ds* motion = nullptr;
                GetCameraMotionByIndex3ds(f.ctx, f.db, i, &motion);
                ASSERT_TRUE(motion && motion->targetPos.values.size() == 1);
                xs.push_back(motion->targetPos.values[0].x);
                ReleaseCameraMotion3ds(&motion);
            } else {
                SpotlightMotion3ds* motion = nullptr;
                GetSpotlightMotionByIndex3ds(f.ctx, f.db, i, &motion);
                ASSERT_TRUE(motion && motion->targetPos.values.size() == 1);
                xs.push_back(motion->targetPos.values[0].x);
                ReleaseSpotlightMotion3ds(&motion);
            }
        }
        EXPECT_EQ(xs, (std::vector<float>{1, 2, 1})) << std::hex << tag;
        EXPECT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
    }
}

TEST(Motions3ds, InitReplacesOnlyTheTracksAsked) {
    Context3ds ctx;
    ObjectMotion3ds* m = nullptr;
    InitObjectMotion3ds(ctx, &m, 2, 1, 1, 0, 0);
    m->pos.values[1].x = 9;
    InitObjectMotion3ds(ctx, &m, 0, 3, 0, 0, 0);
    EXPECT_EQ(m->pos.values[1].x, 9);
    ASSERT_EQ(m->rot.keys.size(), 3u);
    EXPECT_EQ(m->rot.values[2].z, 1);
    EXPECT_EQ(m->rot.values[2].angle, 0);
    EXPECT_EQ(m->scale.values[0].y, 1);
    ReleaseObjectMotion3ds(&m);
    EXPECT_EQ(m, nullptr);
}

TEST(Motions3ds, ObjectNodesReplaceAndDummiesKeepTheirBox) {
    Memory3ds m;
    ObjectMotion3ds* o = nullptr;
    InitObjectMotion3ds(m.ctx, &o, 1, 0, 0, 0, 2);
    o->name = "$$$DUMMY";
    o->instance = "d1";
    o->boundMax = {1, 1, 1};
    PutObjectMotion3ds(m.ctx, m.db, o);
    EXPECT_NE(FindChunk3ds(m.db->topChunk, 0xB014), nullptr);
    o->name = "Box";
    o->instance.clear();
    PutObjectMotion3ds(m.ctx, m.db, o);
    Chunk3ds* box = FindNodeByName3ds(m.ctx, m.db, "Box", 0xB002);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(FindChunk3ds(box, 0xB014), nullptr);
    AddEmptyChunk3ds(m.ctx, 0x8000, box);  // an XDATA section of its own
    // Again under the same name: the old node is emptied, its XDATA moves along.
    PutObjectMotion3ds(m.ctx, m.db, o);
    EXPECT_EQ(box->tag, 0u);
    Chunk3ds* again = FindNodeByName3ds(m.ctx, m.db, "Box", 0xB002);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(FindChunk3ds(again, 0x8000), nullptr);
    EXPECT_EQ(GetObjectNodeCount3ds(m.ctx, m.db), 2u);
    ObjectMotion3ds* back = nullptr;
    GetObjectMotionByIndex3ds(m.ctx, m.db, 1, &back);
    EXPECT_EQ(back->hide.keys.size(), 2u);
    EXPECT_EQ(back->pos.keys.size(), 1u);
    GetObjectMotionByIndex3ds(m.ctx, m.db, 0, &back);
    EXPECT_EQ(back->instance, "d1");
    EXPECT_EQ(back->boundMax.y, 1);
    ReleaseObjectMotion3ds(&o);
    ReleaseObjectMotion3ds(&back);
    EXPECT_FALSE(m.ctx.ErrorPending());
}

TEST(Motions3ds, CamerasWithAndWithoutTargets) {
    Memory3ds m;
    CameraMotion3ds* c = nullptr;
    InitCameraMotion3ds(m.ctx, &c, 1, 1, 0, 0);
    c->name = "Cam";
    PutCameraMotion3ds(m.ctx, m.db, c);
    EXPECT_EQ(FindChunk3ds(m.db->topChunk, 0xB004), nullptr);
    CameraMotion3ds* back = nullptr;
    GetCameraMotionByIndex3ds(m.ctx, m.db, 0, &back);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->targetPos.keys.size(), 0u);
    EXPECT_EQ(back->fov.keys.size(), 1u);
    ReleaseCameraMotion3ds(&c);
    ReleaseCameraMotion3ds(&back);
    EXPECT_FALSE(m.ctx.ErrorPending());
    Memory3ds project(kProjectFile3ds);
    InitCameraMotion3ds(project.ctx, &c, 1, 0, 0, 0);
    PutCameraMotion3ds(project.ctx, project.db, c);
    EXPECT_EQ(project.ctx.ErrorAt(0).code, ERR_INVALID_DATA);
    ReleaseCameraMotion3ds(&c);
}

TEST(Motions3ds, SpotlightMotionRoundTrip) {
    Memory3ds m;
    SpotlightMotion3ds* s = nullptr;
    InitSpotlightMotion3ds(m.ctx, &s, 1, 1, 2, 1, 1, 3);
    s->name = "Spot";
    s->hotspot.values[1] = 30;
    PutSpotlightMotion3ds(m.ctx, m.db, s);
    SpotlightMotion3ds* back = nullptr;
    GetSpotlightMotionByIndex3ds(m.ctx, m.db, 0, &back);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->hotspot.values[1], 30);
    EXPECT_EQ(back->targetPos.keys.size(), 3u);
    // New spotlight colour keys are black, new omni colour keys white.
    EXPECT_EQ(back->color.values[0].x, 0);
    OmnilightMotion3ds* omni = nullptr;
    InitOmnilightMotion3ds(m.ctx, &omni, 1, 1);
    EXPECT_EQ(omni->color.values[0].z, 1);
    ReleaseOmnilightMotion3ds(&omni);
    ReleaseSpotlightMotion3ds(&s);
    ReleaseSpotlightMotion3ds(&back);
    EXPECT_FALSE(m.ctx.ErrorPending());
}

}  // namespace
