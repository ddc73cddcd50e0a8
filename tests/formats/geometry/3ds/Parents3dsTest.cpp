// Meshes below cameras, lights and meshes: where lib3ds places their vertices in the written
// file (node matrix x translate(-pivot) x inverse mesh matrix x stored vertex) against where
// the scene has them, for the library's writer and for qovtool's 3DS and OBJ outputs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "Reading3ds.h"
#include "Test3ds.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/Mesh3ds.h"
#include "formats/geometry/3ds/Motion3ds.h"
#include "foundation/KAffineMatrix.h"
#include "io/KQovExporter.h"
#include "scene/KQovNodeWalk.h"

namespace {

using Points = std::vector<std::pair<std::string, KVector4>>;

// A tetrahedron of four triangles, its corners apart from every other mesh's.
KQovMesh* Tetrahedron(KQovObjectManager& m, double size) {
    KQovMesh* mesh = m.CreateMesh();
    const double corners[4][3] = {{0, 0, 0}, {size, 0, 0}, {0, size, 0}, {0, 0, size}};
    mesh->InitControlPoints(4);
    for (int i = 0; i < 4; ++i)
        mesh->GetControlPoints().SetAt(i, KVector4(corners[i][0], corners[i][1], corners[i][2], 1));
    const int faces[4][3] = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
    for (const auto& f : faces) {
        mesh->BeginPolygon();
        for (int c : f) mesh->AddPolygonVertex(c);
    }
    return mesh;
}

KQovNode* Add(KQovObjectManager& m, KQovNode* parent, const char* name, KQovNodeAttribute* a,
              const KVector4& t, const KVector4& r, const KVector4& s = KVector4(1, 1, 1)) {
    KQovNode* node = m.CreateNode(name);
    node->SetNodeAttribute(a);
    node->SetLocalTranslation(t[0], t[1], t[2]);
    node->SetLocalRotation(r[0], r[1], r[2]);
    node->SetLocalScaling(s[0], s[1], s[2]);
    parent->AddChild(node);
    return node;
}

KQovLight* Light(KQovObjectManager& m, int type) {
    KQovLight* light = m.CreateLight();
    light->SetLightType(type);
    return light;
}

// A mesh below a turned camera, a spotlight, an omni light and a mesh, each parent placed
// away from the origin; mirrored meshes (negative scaling), one with a mesh below it.
KQovScene* ParentScene(KQovObjectManager& m) {
    KQovScene* scene = m.CreateScene();
    KQovNode* root = scene->GetRootNode();
    KQovNode* cam = Add(m, root, "Cam", m.CreateCamera(), {50, 20, -30}, {0, 40, 0});
    Add(m, cam, "Kid", Tetrahedron(m, 1), {3, 4, 5}, {10, 20, 30}, {1, 2, 1});
    Add(m, cam, "Lamp", Light(m, 0), {-6, 2, 8}, {0, 0, 0});
    KQovNode* spot = Add(m, root, "Spot", Light(m, 2), {-40, 60, 10}, {30, 0, 0});
    Add(m, spot, "Glow", Tetrahedron(m, 2), {1, -2, 3}, {0, 0, 15});
    Add(m, spot, "Eye", m.CreateCamera(), {4, 0, -3}, {0, 90, 0});
    KQovNode* bulb = Add(m, root, "Bulb", Light(m, 0), {7, -8, 9}, {0, 0, 0});
    Add(m, bulb, "Bead", Tetrahedron(m, 3), {-1, 1, 0}, {45, 0, 0});
    KQovNode* box = Add(m, root, "Box", Tetrahedron(m, 4), {1, 2, 3}, {0, 0, 45});
    Add(m, box, "Sub", Tetrahedron(m, 5), {0, 5, 0}, {0, 30, 0});
    KQovNode* flip = Add(m, root, "Flip", Tetrahedron(m, 4), {10, 1, -5}, {0, 30, 0}, {-1, 1.5, 2});
    Add(m, flip, "Under", Tetrahedron(m, 2), {1, 1, 1}, {0, 0, 20});
    Add(m, box, "Twice", Tetrahedron(m, 3), {2, 0, 1}, {10, 0, 0}, {-1, -1, -1});
    return scene;
}

// Origins of cameras and lights are named "at:" and the node's name.
bool IsOrigin(const std::string& name) {
    return name.rfind("at:", 0) == 0;
}

// Every mesh vertex of the scene, and the origin of every camera and light, placed by the
// local transforms of its node and ancestors, in the 3DS file's axes.
Points ScenePoints(KQovNode* node) {
    Points out;
    KAffineMatrix global;
    for (KQovNode* n = node; n; n = n->GetParent()) {
        KVector4 t, r, s;
        n->GetLocalTranslation(t);
        n->GetLocalRotation(r);
        n->GetLocalScaling(s);
        global = global * KAffineMatrix(t, r, s);
    }
    const std::string name = node->GetNameWithoutPrefix().Buffer();
    auto add = [&](const std::string& as, const KVector4& point) {
        const KVector4 p = global.MultT(point);
        out.emplace_back(as, KVector4(p[0], -p[2], p[1]));
    };
    if (auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute()))
        for (int i = 0; i < mesh->GetControlPointsCount(); ++i)
            add(name, mesh->GetControlPoints().GetArray()[i]);
    if (node->GetCamera() || node->GetLight()) add("at:" + name, KVector4(0, 0, 0, 1));
    for (int i = 0; i < node->GetChildCount(); ++i) {
        const Points below = ScenePoints(node->GetChild(i));
        out.insert(out.end(), below.begin(), below.end());
    }
    return out;
}

// "point NAME x y z" and "at NAME x y z" lines of lib3ds at `frame`.
Points Lib3dsPoints(const std::string& path, int frame = 0) {
    Points out;
    for (const std::string& line : Lib3dsLines(path, std::to_string(frame) + " points")) {
        std::istringstream in(line);
        std::string kind, name;
        double x, y, z;
        if (in >> kind >> name >> x >> y >> z && (kind == "point" || kind == "at"))
            out.emplace_back(kind == "at" ? "at:" + name : name, KVector4(x, y, z));
    }
    return out;
}

// Vertices of an OBJ file, in the file's Y-up axes turned to the 3DS file's.
std::vector<KVector4> ObjPoints(const std::string& path) {
    std::vector<KVector4> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        double x, y, z;
        if (words >> kind >> x >> y >> z && kind == "v") out.emplace_back(x, -z, y);
    }
    return out;
}

// Points of the polyface vertices (flags 192) of a DXF file: its Z-up axes are the 3DS file's.
std::vector<KVector4> DxfPoints(const std::string& path) {
    std::vector<KVector4> out;
    std::ifstream in(path);
    std::string code, value;
    KVector4 p;
    bool vertex = false;
    while (std::getline(in, code) && std::getline(in, value)) {
        const int group = std::stoi(code);
        if (group == 0) vertex = value == "VERTEX";
        if (!vertex) continue;
        if (group >= 10 && group <= 30 && group % 10 == 0) p[group / 10 - 1] = std::stod(value);
        if (group == 70 && std::stoi(value) == 192) out.push_back(p);
    }
    return out;
}

bool Near(const KVector4& a, const KVector4& b) {
    return std::fabs(a[0] - b[0]) < 2e-3 && std::fabs(a[1] - b[1]) < 2e-3 &&
           std::fabs(a[2] - b[2]) < 2e-3;
}

// Each expected vertex found in `found` under its node's name, and nothing else there.
void ExpectSamePoints(const Points& expected, const Points& found) {
    ASSERT_EQ(found.size(), expected.size());
    for (const auto& [name, p] : expected) {
        bool seen = false;
        for (const auto& f : found) seen = seen || (f.first == name && Near(f.second, p));
        EXPECT_TRUE(seen) << name << " (" << p[0] << ", " << p[1] << ", " << p[2] << ")";
    }
}

std::string Convert(const std::string& from, const std::string& to) {
    return ConvertWithQovtool3ds(from, to);
}

TEST(Parents3ds, MeshesBelowCamerasLightsAndMeshesStayWhereTheSceneHasThem) {
    Reading3ds source;
    KQovScene* scene = ParentScene(source.manager);
    const Points expected = ScenePoints(scene->GetRootNode());
    ASSERT_EQ(expected.size(), 37u);
    TempPath3ds written("parents.3ds");
    ASSERT_TRUE(source.Write(written.path, scene)) << source.status.Buffer();
    {
        SCOPED_TRACE("library writer");
        ExpectSamePoints(expected, Lib3dsPoints(written.path));
    }

    // Through the tool: 3DS to 3DS, and 3DS to OBJ, whose vertices sit at the same places.
    const std::string again = written.folder + "/again.3ds";
    const std::string obj = written.folder + "/again.obj";
    ASSERT_EQ(Convert(written.path, again), "");
    ASSERT_EQ(Convert(written.path, obj), "");
    {
        SCOPED_TRACE("qovtool 3DS to 3DS");
        ExpectSamePoints(expected, Lib3dsPoints(again));
    }
    const std::vector<KVector4> objPoints = ObjPoints(obj);
    ASSERT_EQ(objPoints.size(), 32u);
    for (const KVector4& p : objPoints) {
        bool seen = false;
        for (const auto& e : expected) seen = seen || (!IsOrigin(e.first) && Near(e.second, p));
        EXPECT_TRUE(seen) << "OBJ vertex (" << p[0] << ", " << p[1] << ", " << p[2] << ")";
    }

    // Read back, the meshes hang on the camera and the lights again.
    Reading3ds back;
    ASSERT_TRUE(back.Read(again)) << back.status.Buffer();
    for (const auto& [child, parent] :
         {std::pair("Kid", "Cam"), std::pair("Lamp", "Cam"), std::pair("Glow", "Spot"),
          std::pair("Eye", "Spot"), std::pair("Bead", "Bulb"), std::pair("Sub", "Box"),
          std::pair("Under", "Flip"), std::pair("Twice", "Box")}) {
        KQovNode* node = back.Find(back.scene->GetRootNode(), child);
        ASSERT_TRUE(node && node->GetParent()) << child;
        EXPECT_STREQ(node->GetParent()->GetNameWithoutPrefix().Buffer(), parent);
    }
}

// Meshes below nulls and joints, animated: a mesh on a turning null, a mesh at the end of a
// joint chain whose knee bends, a mesh below a null below a mesh, a mesh below a light of a
// kind the file has not (written as a dummy), and a mesh below a turning spotlight below an
// omni light below a null.
KQovScene* NullScene(KQovObjectManager& m) {
    KQovScene* scene = m.CreateScene();
    KQovNode* root = scene->GetRootNode();
    auto keyed = [](KQovNode* node, KFCurve* (KQovTakeNode::*curve)(),
                    std::vector<std::pair<int, double>> keys) {
        node->AddTakeNode("take");
        node->SetCurrentTakeNode("take");
        Keys3ds((node->GetCurrentTakeNode()->*curve)(), keys);
    };
    KQovNode* hold = Add(m, root, "Hold", m.CreateNull(), {10, 5, -3}, {0, 30, 0}, {2, 1, 1});
    keyed(hold, &KQovTakeNode::GetRotationY, {{0, 30}, {20, 120}});
    Add(m, hold, "Cup", Tetrahedron(m, 1), {1, 2, 3}, {20, 0, 0});
    KQovNode* hip = Add(m, root, "Hip", m.CreateSkeleton(), {-5, 40, 2}, {0, 0, 10});
    KQovNode* knee = Add(m, hip, "Knee", m.CreateSkeleton(), {0, -20, 0}, {0, 0, 0});
    keyed(knee, &KQovTakeNode::GetRotationX, {{0, 0}, {10, 45}, {20, 90}});
    Add(m, knee, "Shin", Tetrahedron(m, 2), {0, -10, 1}, {0, 15, 0});
    KQovNode* box = Add(m, root, "Box.1", Tetrahedron(m, 3), {-20, 0, 0}, {0, 0, 45});
    KQovNode* grip = Add(m, box, "Grip", m.CreateNull(), {0, 6, 0}, {30, 0, 0}, {1, 3, 1});
    keyed(grip, &KQovTakeNode::GetTranslationZ, {{0, 0}, {20, 8}});
    Add(m, grip, "Nub", Tetrahedron(m, 4), {2, 0, 0}, {0, 0, 0});
    KQovNode* sun = Add(m, root, "Sun", Light(m, 1), {0, 50, 0}, {0, 0, 60});
    Add(m, sun, "Ray", Tetrahedron(m, 5), {3, 0, 0}, {0, 0, 0});
    KQovNode* post = Add(m, root, "Post", m.CreateNull(), {30, 0, 0}, {0, 90, 0});
    KQovNode* lamp = Add(m, post, "Lamp", Light(m, 0), {0, 4, 5}, {0, 40, 0}, {2, 2, 2});
    KQovNode* beam = Add(m, lamp, "Beam", Light(m, 2), {3, 0, 1}, {20, 0, 10});
    keyed(beam, &KQovTakeNode::GetRotationZ, {{0, 10}, {20, 70}});
    Add(m, beam, "Tip", Tetrahedron(m, 1), {0, -2, 0}, {0, 0, 30});
    // The take's unkeyed channels hold the nodes' values, as a read file's do.
    for (KQovNode* node : KQovListDescendants(root)) {
        node->AddTakeNode("take");
        node->SetCurrentTakeNode("take");
        KVector4 t, r, s;
        node->GetLocalTranslation(t);
        node->GetLocalRotation(r);
        node->GetLocalScaling(s);
        KQovTakeNode* take = node->GetCurrentTakeNode();
        for (int i = 0; i < 3; ++i) {
            const char* axis = i == 0 ? "X" : i == 1 ? "Y" : "Z";
            for (auto [channel, value] : {std::pair("T", t[i]), {"R", r[i]}, {"S", s[i]}})
                if (KFCurve* curve = take->FindCurve("Transform", channel, axis))
                    if (curve->KeyGetCount() == 0) curve->SetValue(float(value));
        }
    }
    return scene;
}

// Every mesh vertex and every light's origin where the scene's own evaluation puts it at
// `frame`, in the 3DS file's axes.
Points ScenePointsAt(KQovNode* node, int frame) {
    Points out;
    const KMatrix global = node->GetGlobalMatrixAtTime(FrameTime3ds(frame));
    const std::string name = node->GetNameWithoutPrefix().Buffer();
    auto add = [&](const std::string& as, const KVector4& point) {
        KVector4 p;
        KMatrixTransformPoint(p, global, point);
        out.emplace_back(as, KVector4(p[0], -p[2], p[1]));
    };
    if (auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute()))
        for (int i = 0; i < mesh->GetControlPointsCount(); ++i)
            add(name, mesh->GetControlPoints().GetArray()[i]);
    if (const KQovLight* light = node->GetLight())
        if (light->GetLightType() != 1) add("at:" + name, KVector4(0, 0, 0, 1));
    for (int i = 0; i < node->GetChildCount(); ++i) {
        const Points below = ScenePointsAt(node->GetChild(i), frame);
        out.insert(out.end(), below.begin(), below.end());
    }
    return out;
}

// Written by the library, from a QOV file by the tool, and from that 3DS file through QOV
// back to 3DS, every node hangs on the node written for its parent: lib3ds moves each vertex
// with its nulls and joints, frame by frame.
TEST(Parents3ds, MeshesBelowNullsAndJointsMoveWithThem) {
    Reading3ds source;
    KQovScene* scene = NullScene(source.manager);
    TempPath3ds written("nulls.3ds");
    const std::string qov = written.folder + "/nulls.qov";
    KQovExporter exporter(&source.manager);
    ASSERT_TRUE(exporter.Initialize(qov.c_str()));
    ASSERT_TRUE(exporter.Export(scene, nullptr));
    ASSERT_TRUE(source.Write(written.path, scene)) << source.status.Buffer();
    const std::string fromQov = written.folder + "/fromqov.3ds";
    const std::string via = written.folder + "/via.qov";
    const std::string again = written.folder + "/again.3ds";
    ASSERT_EQ(Convert(qov, fromQov), "");
    ASSERT_EQ(Convert(written.path, via), "");
    ASSERT_EQ(Convert(via, again), "");
    // Lights switched off: the lights are dummies, the mesh below them stays.
    const std::string noLights = written.folder + "/nolights.3ds";
    ASSERT_TRUE(source.Write(noLights, scene, {{11, 0}})) << source.status.Buffer();
    for (int frame : {7, 20}) {
        SCOPED_TRACE(frame);
        const Points expected = ScenePointsAt(scene->GetRootNode(), frame);
        ASSERT_EQ(expected.size(), 26u);
        for (const std::string& path : {written.path, fromQov, again}) {
            SCOPED_TRACE(path);
            ExpectSamePoints(expected, Lib3dsPoints(path, frame));
        }
        Points meshes;
        for (const auto& point : expected)
            if (!IsOrigin(point.first)) meshes.push_back(point);
        ExpectSamePoints(meshes, Lib3dsPoints(noLights, frame));
    }
}

// A file of master scale 1/2.54 (the reader's scale is then 1), its records put by `fill`.
void Save3ds(const std::string& path, const std::function<void(Context3ds&, Database3ds*)>& fill) {
    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
    MeshSettings3ds* settings = nullptr;
    InitMeshSettings3ds(ctx, &settings);
    settings->masterScale = float(1 / 2.54);
    PutMeshSettings3ds(ctx, db, settings);
    ReleaseMeshSettings3ds(&settings);
    fill(ctx, db);
    File3ds* file = OpenFile3ds(ctx, path.c_str(), "wb");
    SaveDatabase3ds(ctx, file, db);
    ReleaseDatabase3ds(ctx, &db);
    CloseAllFiles3ds(ctx);
    ASSERT_FALSE(ctx.ErrorPending());
}

void PutMesh(Context3ds& ctx, Database3ds* db, const char* name, std::vector<Point3ds> vertices,
             std::vector<Face3ds> faces, const std::array<float, 12>& axes) {
    Mesh3ds m;
    m.name = name;
    m.vertices = std::move(vertices);
    m.faces = std::move(faces);
    std::copy(axes.begin(), axes.end(), m.localAxes);
    PutMesh3ds(ctx, db, &m);
}

template <typename Track>
void KeyAt(Track& track, std::initializer_list<uint32_t> frames) {
    size_t k = 0;
    for (uint32_t frame : frames)
        if (k < track.keys.size()) track.keys[k++].time = frame;
}

// A mesh's node below `parent`, keyed at `positions` (frames 0, 20) and `turns` (0, 25).
void PutNode(Context3ds& ctx, Database3ds* db, const char* name, const char* parent, Point3ds pivot,
             std::vector<Point3ds> positions, std::vector<Rotation3ds> turns,
             const char* instance = "") {
    ObjectMotion3ds* motion = nullptr;
    InitObjectMotion3ds(ctx, &motion, uint32_t(positions.size()), uint32_t(turns.size()), 1, 0, 0);
    motion->name = name;
    motion->instance = instance;
    motion->parent = parent;
    motion->pivot = pivot;
    motion->pos.values = std::move(positions);
    KeyAt(motion->pos, {0, 20});
    motion->rot.values = std::move(turns);
    KeyAt(motion->rot, {0, 25});
    motion->scale.values[0] = {1, 1, 1};
    PutObjectMotion3ds(ctx, db, motion);
    ReleaseObjectMotion3ds(&motion);
}

// A box below a chain of two animated dummies, the upper one below a still mesh: the box's
// place at every frame comes from its parents only.
void WriteDummyChainFile(const std::string& path) {
    Save3ds(path, [](Context3ds& ctx, Database3ds* db) {
        PutMesh(ctx, db, "Base", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 7}},
                {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
        PutNode(ctx, db, "Base", "", {0, 0, 0}, {{5, 5, 0}}, {{0.3f, 0, 0, 1}});
        PutNode(ctx, db, "$$$DUMMY", "Base", {0, 0, 0}, {{10, 0, 0}, {40, -10, 20}},
                {{0, 0, 0, 1}, {1.2f, 0, 0, 1}}, "Arm");
        PutNode(ctx, db, "$$$DUMMY", "$$$DUMMY.Arm", {0, 0, 0}, {{0, 8, 0}},
                {{0.2f, 1, 0, 0}, {0.9f, 0, 1, 0}}, "Hand");
        PutMesh(ctx, db, "Box", {{0, 0, 0}, {3, 0, 0}, {0, 3, 0}, {0, 0, 3}},
                {{0, 1, 2, 7}, {0, 1, 3, 7}}, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
        PutNode(ctx, db, "Box", "$$$DUMMY.Hand", {0, 0, 0}, {{1, 2, 3}}, {{0, 0, 0, 1}});
    });
}

// A box below animated dummies moves with them, read through QOV and written back to 3DS as
// it does written straight back.
TEST(Parents3ds, AnimatedDummiesKeepTheirChildrenThroughQov) {
    TempPath3ds source("dummies.3ds");
    WriteDummyChainFile(source.path);
    const std::string direct = source.folder + "/direct.3ds";
    const std::string qov = source.folder + "/dummies.qov";
    const std::string again = source.folder + "/again.3ds";
    ASSERT_EQ(Convert(source.path, direct), "");
    ASSERT_EQ(Convert(source.path, qov), "");
    ASSERT_EQ(Convert(qov, again), "");
    for (int frame : {0, 10, 25}) {
        SCOPED_TRACE(frame);
        const Points expected = Lib3dsPoints(source.path, frame);
        ASSERT_EQ(expected.size(), 7u);
        const Points straight = Lib3dsPoints(direct, frame);
        ExpectSamePoints(expected, straight);
        const Points through = Lib3dsPoints(again, frame);
        ASSERT_EQ(through.size(), straight.size());
        for (size_t i = 0; i < through.size(); ++i) {
            EXPECT_EQ(through[i].first, straight[i].first);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(through[i].second[c], straight[i].second[c], 1.5e-4)
                    << through[i].first << " " << c;
        }
    }
}

// The camera "Cam" at (50, -30, 20) looking along +X, keyed at `positions` and `rolls`
// (frames 0, 30).
void PutCamera(Context3ds& ctx, Database3ds* db, std::vector<Point3ds> positions,
               std::vector<float> rolls) {
    Camera3ds* camera = nullptr;
    InitCamera3ds(ctx, &camera);
    camera->name = "Cam";
    camera->position = {50, -30, 20};
    camera->target = {60, -30, 20};
    PutCamera3ds(ctx, db, camera);
    ReleaseCamera3ds(&camera);
    CameraMotion3ds* motion = nullptr;
    InitCameraMotion3ds(ctx, &motion, uint32_t(positions.size()), 1, uint32_t(rolls.size()), 1);
    motion->name = "Cam";
    motion->pos.values = std::move(positions);
    KeyAt(motion->pos, {0, 30});
    motion->fov.values[0] = 45;
    motion->roll.values = std::move(rolls);
    KeyAt(motion->roll, {0, 30});
    motion->targetPos.values[0] = {60, -30, 20};
    PutCameraMotion3ds(ctx, db, motion);
    ReleaseCameraMotion3ds(&motion);
}

// Each of `points` near one of `among`.
void ExpectEachNear(const std::vector<KVector4>& points, const std::vector<KVector4>& among) {
    for (const KVector4& p : points) {
        bool seen = false;
        for (const KVector4& q : among) seen = seen || Near(p, q);
        EXPECT_TRUE(seen) << "(" << p[0] << ", " << p[1] << ", " << p[2] << ")";
    }
}

// The mesh vertices of `points`, times `scale`.
std::vector<KVector4> MeshPoints(const Points& points, double scale = 1) {
    std::vector<KVector4> out;
    for (const auto& [name, p] : points)
        if (!IsOrigin(name)) out.emplace_back(p[0] * scale, p[1] * scale, p[2] * scale);
    return out;
}

// A file as other programs write it: vertices in world space with the object's world matrix
// as the mesh matrix, nodes with pivots, keys relative to their parents. Meshes below a
// camera, a spotlight, an omni light and a mesh.
void WriteForeignFile(const std::string& path) {
    Save3ds(path, [](Context3ds& ctx, Database3ds* db) {
        // Each mesh: a triangle moved by `world` (its mesh matrix) and a node below `parent`.
        auto mesh = [&](const char* name, const char* parent, Point3ds world, Point3ds pivot,
                        Point3ds position, Rotation3ds turn) {
            std::vector<Point3ds> vertices;
            for (const Point3ds& p : {Point3ds{0, 0, 0}, Point3ds{2, 0, 0}, Point3ds{0, 3, 1}})
                vertices.push_back({p.x + world.x, p.y + world.y, p.z + world.z});
            PutMesh(ctx, db, name, vertices, {{0, 1, 2, 7}},
                    {1, 0, 0, 0, 1, 0, 0, 0, 1, world.x, world.y, world.z});
            PutNode(ctx, db, name, parent, pivot, {position}, {turn});
        };
        PutCamera(ctx, db, {{50, -30, 20}}, {0});

        Light3ds* spot = nullptr;
        InitSpotlight3ds(ctx, &spot);
        spot->name = "Spot";
        spot->position = {-40, 10, 60};
        spot->spot->target = {-40, 10, 0};
        PutLight3ds(ctx, db, spot);
        ReleaseLight3ds(&spot);
        SpotlightMotion3ds* spotMotion = nullptr;
        InitSpotlightMotion3ds(ctx, &spotMotion, 1, 1, 1, 1, 1, 1);
        spotMotion->name = "Spot";
        spotMotion->pos.values[0] = {-40, 10, 60};
        spotMotion->targetPos.values[0] = {-40, 10, 0};
        PutSpotlightMotion3ds(ctx, db, spotMotion);
        ReleaseSpotlightMotion3ds(&spotMotion);

        Light3ds* omni = nullptr;
        InitLight3ds(ctx, &omni);
        omni->name = "Bulb";
        omni->position = {7, -9, -8};
        PutLight3ds(ctx, db, omni);
        ReleaseLight3ds(&omni);
        OmnilightMotion3ds* omniMotion = nullptr;
        InitOmnilightMotion3ds(ctx, &omniMotion, 1, 1);
        omniMotion->name = "Bulb";
        omniMotion->pos.values[0] = {7, -9, -8};
        PutOmnilightMotion3ds(ctx, db, omniMotion);
        ReleaseOmnilightMotion3ds(&omniMotion);

        mesh("Kid", "Cam", {53, -35, 24}, {1, 1, 0}, {3, -5, 4}, {0.5f, 0, 0, 1});
        mesh("Glow", "Spot", {-39, 7, 57}, {0, 1, 0}, {1, -3, -2}, {0.3f, 1, 0, 0});
        mesh("Bead", "Bulb", {6, -9, -8}, {0, 0, 1}, {-1, 0, 1}, {0, 1, 0, 0});
        mesh("Box", "", {1, -3, 2}, {0, 0, 0}, {1, -3, 2}, {0.7f, 0, 1, 0});
        mesh("Sub", "Box", {1, -3, 7}, {1, 0, 0}, {0, 0, 5}, {0.2f, 0, 0, 1});
    });
}

// Where lib3ds places the vertices of a file from elsewhere, the tool's 3DS and OBJ outputs
// place them too.
TEST(Parents3ds, AFileFromElsewhereKeepsItsPlacesThroughQovtool) {
    TempPath3ds source("foreign.3ds");
    WriteForeignFile(source.path);
    const Points expected = Lib3dsPoints(source.path);
    ASSERT_EQ(expected.size(), 18u);
    const std::string again = source.folder + "/again.3ds";
    const std::string obj = source.folder + "/again.obj";
    const std::string dxf = source.folder + "/again.dxf";
    ASSERT_EQ(Convert(source.path, again), "");
    ASSERT_EQ(Convert(source.path, obj), "");
    ASSERT_EQ(Convert(source.path, dxf), "");
    {
        SCOPED_TRACE("qovtool 3DS to 3DS");
        ExpectSamePoints(expected, Lib3dsPoints(again));
    }
    for (const auto& [kind, points] :
         {std::pair("OBJ", ObjPoints(obj)), std::pair("DXF", DxfPoints(dxf))}) {
        SCOPED_TRACE(kind);
        ASSERT_EQ(points.size(), 15u);
        ExpectEachNear(MeshPoints(expected), points);
    }
}

// An animated file: a mesh whose rotation and position are keyed at frame 0 and later, with a
// mesh below it, and a mesh below a camera whose position and roll are keyed likewise.
void WriteAnimatedFile(const std::string& path) {
    Save3ds(path, [](Context3ds& ctx, Database3ds* db) {
        PutCamera(ctx, db, {{50, -30, 20}, {-70, 90, 5}}, {10, 80});
        auto mesh = [&](const char* name, const char* parent, Point3ds pivot,
                        std::vector<Point3ds> positions, std::vector<Rotation3ds> turns) {
            PutMesh(ctx, db, name, {{0, 0, 0}, {4, 0, 0}, {0, 5, 2}, {1, 1, 6}},
                    {{0, 1, 2, 7}, {0, 1, 3, 7}}, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
            PutNode(ctx, db, name, parent, pivot, positions, turns);
        };
        mesh("Spin", "", {1, 2, 0}, {{10, -20, 5}, {40, 0, -5}},
             {{0.7f, 0.3f, 0.5f, 0.8f}, {1.2f, 0, 0, 1}});
        mesh("Arm", "Spin", {0, 0, 1}, {{3, 4, 5}, {0, 0, 9}}, {{0.4f, 1, 0, 0}, {0.5f, 0, 1, 0}});
        mesh("Kid", "Cam", {1, 1, 0}, {{3, -5, 4}}, {{0.5f, 0, 0, 1}});
    });
}

// The still formats write each mesh where lib3ds places it at frame 0, the start of the take:
// animated meshes and their children, and a mesh below an animated camera.
TEST(Parents3ds, StillFormatsWriteThePoseAtTheStartOfTheTake) {
    TempPath3ds made("animated.3ds");
    WriteAnimatedFile(made.path);
    const std::string cube = std::string(QOV_TESTDATA_DIR) + "/3ds/RotatingCube.3DS";
    ASSERT_EQ(access(cube.c_str(), R_OK), 0) << "test data file missing: " << cube;
    for (const std::string& source : {made.path, cube}) {
        SCOPED_TRACE(source);
        // The reader scales by 2.54 times the master scale.
        Loaded3ds loaded(source);
        MeshSettings3ds* settings = nullptr;
        GetMeshSettings3ds(loaded.ctx, loaded.db, &settings);
        ASSERT_TRUE(settings);
        const double scale = 2.54 * settings->masterScale;
        ReleaseMeshSettings3ds(&settings);
        const Points expected = Lib3dsPoints(source);
        ASSERT_FALSE(expected.empty());
        const std::string obj = made.folder + "/still.obj";
        const std::string dxf = made.folder + "/still.dxf";
        ASSERT_EQ(Convert(source, obj), "");
        ASSERT_EQ(Convert(source, dxf), "");
        for (const auto& [kind, points] :
             {std::pair("OBJ", ObjPoints(obj)), std::pair("DXF", DxfPoints(dxf))}) {
            SCOPED_TRACE(kind);
            ASSERT_FALSE(points.empty());
            // Every written vertex is one of lib3ds's, and every one of lib3ds's is written.
            ExpectEachNear(points, MeshPoints(expected, scale));
            ExpectEachNear(MeshPoints(expected, scale), points);
        }
    }
}

// A file as many programs write it: mesh data only, no key-frame section. A triangle stored
// at x = 10 in a mesh whose axes are moved to x = 10 and turned 0.5 rad about Z, a camera at
// (5, -20, 7) looking at (1, 2, 3), an orange omni light; a triangle whose axes mirror
// (x turned back, at x = 5).
void WriteFileWithoutKeyframes(const std::string& path) {
    Save3ds(path, [](Context3ds& ctx, Database3ds* db) {
        const float c = std::cos(0.5f), s = std::sin(0.5f);
        PutMesh(ctx, db, "Tri", {{10, 0, 0}, {12, 0, 0}, {10, 3, 1}}, {{0, 1, 2, 7}},
                {c, s, 0, -s, c, 0, 0, 0, 1, 10, 0, 0});
        PutMesh(ctx, db, "Mir", {{0, 0, 0}, {2, 0, 0}, {0, 3, 1}}, {{0, 1, 2, 7}},
                {-1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 5, 0});
        Camera3ds* camera = nullptr;
        InitCamera3ds(ctx, &camera);
        camera->name = "Cam";
        camera->position = {5, -20, 7};
        camera->target = {1, 2, 3};
        camera->roll = 10;
        PutCamera3ds(ctx, db, camera);
        ReleaseCamera3ds(&camera);
        Light3ds* omni = nullptr;
        InitLight3ds(ctx, &omni);
        omni->name = "Lamp";
        omni->position = {-3, 4, 9};
        omni->color = {1, 0.5f, 0.25f};
        PutLight3ds(ctx, db, omni);
        ReleaseLight3ds(&omni);
    });

    // The toolkit always saves a key-frame header: cut the whole section out.
    const std::vector<char> saved = ReadBytes3ds(path);
    Bytes3ds bytes(saved.begin(), saved.end());
    ASSERT_GE(bytes.size(), 6u);
    auto u32 = [&](size_t at) {
        return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
    };
    for (size_t at = 6; at + 6 <= bytes.size(); at += u32(at + 2)) {
        if ((bytes[at] | bytes[at + 1] << 8) != 0xB000) continue;
        bytes.erase(bytes.begin() + long(at), bytes.begin() + long(at + u32(at + 2)));
        const Bytes3ds length = U32(uint32_t(bytes.size()));
        std::copy(length.begin(), length.end(), bytes.begin() + 2);
        break;
    }
    WriteBytes3ds(path, bytes);
}

// "view NAME target fov roll" and "colour NAME r g b" lines of lib3ds at frame 0.
std::map<std::string, std::vector<double>> Lib3dsViews(const std::string& path) {
    std::map<std::string, std::vector<double>> out;
    for (const std::string& line : Lib3dsLines(path, "0 points")) {
        std::istringstream in(line);
        std::string kind, name;
        double v;
        if (!(in >> kind >> name) || (kind != "view" && kind != "colour")) continue;
        std::vector<double>& values = out[kind + ":" + name];
        while (in >> v) values.push_back(v);
    }
    return out;
}

// Without key-frame data, the mesh stays at its stored vertices and the camera and the light
// take their records' places, view and colour: in lib3ds's reading of the tool's 3DS output
// and in its OBJ output.
TEST(Parents3ds, AFileWithoutKeyframesKeepsItsRecordsPlaces) {
    TempPath3ds source("static.3ds");
    WriteFileWithoutKeyframes(source.path);
    const Points expected = Lib3dsPoints(source.path);
    ASSERT_EQ(expected.size(), 8u);
    auto expectViews = [](const std::map<std::string, std::vector<double>>& found,
                          const std::map<std::string, std::vector<double>>& wanted) {
        ASSERT_EQ(found.size(), wanted.size());
        for (const auto& [name, values] : wanted) {
            ASSERT_EQ(found.count(name), 1u) << name;
            ASSERT_EQ(found.at(name).size(), values.size()) << name;
            for (size_t i = 0; i < values.size(); ++i)
                EXPECT_NEAR(found.at(name)[i], values[i], 2e-3) << name << " " << i;
        }
    };
    const std::map<std::string, std::vector<double>> views = {{"view:Cam", {1, 2, 3, 45, 10}},
                                                              {"colour:Lamp", {1, 0.5, 0.25}}};
    expectViews(Lib3dsViews(source.path), views);

    const std::string again = source.folder + "/again.3ds";
    const std::string obj = source.folder + "/again.obj";
    ASSERT_EQ(Convert(source.path, again), "");
    ASSERT_EQ(Convert(source.path, obj), "");
    ExpectSamePoints(expected, Lib3dsPoints(again));
    expectViews(Lib3dsViews(again), views);
    const std::vector<KVector4> objPoints = ObjPoints(obj);
    ASSERT_EQ(objPoints.size(), 6u);
    ExpectEachNear(objPoints, MeshPoints(expected));  // both triangles' corners
}

}  // namespace
