#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <tuple>

#include "Reading3ds.h"
#include "Test3ds.h"

#include "animation/KQovTakeNode.h"
#include "formats/geometry/3ds/Axes3ds.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/LightCamera3ds.h"
#include "formats/geometry/3ds/Motion3ds.h"
#include "formats/geometry/3ds/Tracks3ds.h"
#include "foundation/KRotationOrder.h"

namespace {

KMatrix Rotation(const KVector4& euler) {
    KMatrix m;
    KMatrixSetRotationXYZ(m, euler);
    return m;
}

TEST(Tracks3ds, WrittenRotationsReadBackAtEveryFrame) {
    KFCurve x, y, z;
    Keys3ds(&x, {{0, 10}, {10, 80}, {20, -40}});
    Keys3ds(&y, {{0, -20}, {20, 60}});
    Keys3ds(&z, {{0, 5}, {5, 170}, {20, 30}});
    const Channel3ds euler[3] = {{&x}, {&y}, {&z}};
    Track3ds<Rotation3ds> track;
    FillRotationKeys3ds(track, euler, 21);
    ASSERT_EQ(track.keys.size(), 21u);
    EXPECT_EQ(track.keys[20].time, 20u);
    EXPECT_EQ(track.keys[20].rflags, 7);
    const std::vector<KVector4> back = ReadRotations3ds(track, RisingKeys3ds(track.keys));
    ASSERT_EQ(back.size(), 21u);
    for (int k = 0; k <= 20; ++k) {
        const KMatrix expected = Rotation(KVector4(euler[0].At(k), euler[1].At(k), euler[2].At(k)));
        EXPECT_EQ(KMatrixCompare3x3(Rotation(back[k]), expected, 1e-4), 0) << "frame " << k;
    }
}

TEST(Tracks3ds, RotationKeysComposeAndStillFramesHoldNoTurn) {
    // Two keys of 30 degrees about the file's x axis: -30, then -60 about x.
    Track3ds<Rotation3ds> track;
    track.keys = {KeyHeader3ds{0}, KeyHeader3ds{10}};
    const float a = static_cast<float>(30 * M_PI / 180);
    track.values = {{a, 1, 0, 0}, {a, 1, 0, 0}};
    const std::vector<KVector4> r = ReadRotations3ds(track, RisingKeys3ds(track.keys));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NEAR(r[0][0], -30, 1e-4);
    EXPECT_NEAR(r[1][0], -60, 1e-4);
    EXPECT_NEAR(r[1][1], 0, 1e-4);
    // A rotation held after frame 0: the whole turn in key 0, then no turn.
    const Channel3ds held[3] = {{nullptr, 45}, {nullptr, 0}, {nullptr, 0}};
    Track3ds<Rotation3ds> out;
    FillRotationKeys3ds(out, held, 3);
    EXPECT_NEAR(out.values[0].angle, -45 * M_PI / 180, 1e-6);
    for (int k = 1; k < 3; ++k) {
        EXPECT_EQ(out.values[k].angle, 0.0f);
        EXPECT_EQ(out.values[k].x, -1.0f);
    }
}

TEST(Tracks3ds, PositionScaleColourAndValueKeys) {
    struct Case {
        KVector4 in;
        Point3ds position, scale;
    } cases[] = {
        {KVector4(0, 1, 0), {0, 0, 1}, {0, 0, 1}},
        {KVector4(0, 0, 1), {0, -1, 0}, {0, 1, 0}},
        {KVector4(1, 2, 3), {1, -3, 2}, {1, 3, 2}},
        {KVector4(0, 0, 0), {0, 0, 0}, {1, 1, 1}},  // a vanished scaling writes 1
    };
    for (const Case& c : cases) {
        const Channel3ds v[3] = {{nullptr, c.in[0]}, {nullptr, c.in[1]}, {nullptr, c.in[2]}};
        Track3ds<Point3ds> p, s, col;
        FillPositionKeys3ds(p, v, 1);
        FillScaleKeys3ds(s, v, 1);
        FillColorKeys3ds(col, v, 1);
        auto xyz = [](const Point3ds& q) { return std::make_tuple(q.x, q.y, q.z); };
        EXPECT_EQ(xyz(p.values[0]), xyz(c.position));
        EXPECT_EQ(xyz(s.values[0]), xyz(c.scale));
        EXPECT_EQ(col.values[0].y, static_cast<float>(c.in[1]));
    }
    KFCurve fov;
    Keys3ds(&fov, {{0, 30}, {10, 50}});
    Track3ds<float> values;
    FillValueKeys3ds(values, Channel3ds{&fov, 99}, 11);
    EXPECT_EQ(values.values[10], 50.0f);
    KFCurve empty;  // no keys: the default value
    FillValueKeys3ds(values, Channel3ds{&empty, 45}, 2);
    EXPECT_EQ(values.values.size(), 2u);
    EXPECT_EQ(values.values[1], 45.0f);
}

TEST(Tracks3ds, ReadKeysRiseInFrameOrder) {
    std::vector<KeyHeader3ds> keys;
    for (uint32_t f : {0u, 10u, 10u, 5u, 20u}) keys.push_back(KeyHeader3ds{f});
    keys[4].tension = 0.5f;
    const std::vector<size_t> taken = RisingKeys3ds(keys);
    EXPECT_EQ(taken, (std::vector<size_t>{0, 1, 4}));
    KFCurve a, b;
    KFCurve* curves[2] = {&a, &b};
    SetTrackCurves3ds(curves, 2, keys, taken,
                      {KVector4(1, 2, 0), KVector4(3, 4, 0), KVector4(5, 6, 0)});
    ASSERT_EQ(b.KeyGetCount(), 3);
    EXPECT_EQ(b.KeyGetValue(2), 6.0f);
    EXPECT_EQ(a.KeyGetTime(2), FrameTime3ds(20));
    EXPECT_EQ(FrameTime3ds(30).GetSecondDouble(), 1.0);
    EXPECT_TRUE(RisingKeys3ds({}).empty());
}

// Row-vector rotation of scene Euler angles, taken back into file axes.
KMatrix FileRotation(const KVector4& sceneEuler) {
    KMatrix toScene, toFile, m, out;
    const double c[3][3] = {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k) toScene[r][k] = toFile[k][r] = c[r][k];
    KMatrixSetRotationXYZ(m, sceneEuler);
    KMatrixMultiply(out, toScene, m);  // toScene applies first
    KMatrixMultiply(out, out, toFile);
    return out;
}

// Rotation keys read from real files match lib3ds's evaluation at the key frames.
TEST(Tracks3ds, RotationsAgreeWithLib3dsAtKeyFrames) {
    const std::string name = std::string(QOV_TESTDATA_DIR) + "/3ds/RotatingCube.3DS";
    Loaded3ds f(name);
    ObjectMotion3ds* motion = nullptr;
    GetObjectMotionByIndex3ds(f.ctx, f.db, 0, &motion);
    ASSERT_NE(motion, nullptr);
    const std::vector<size_t> taken = RisingKeys3ds(motion->rot.keys);
    const std::vector<KVector4> euler = ReadRotations3ds(motion->rot, taken);
    ASSERT_GT(taken.size(), 100u);
    const Point3ds s = motion->scale.values.at(0);
    for (size_t i = 0; i < taken.size(); i += 15) {
        const uint32_t frame = motion->rot.keys[taken[i]].time;
        const std::vector<std::string> lines = Lib3dsLines(name, std::to_string(frame));
        ASSERT_EQ(lines.size(), 1u);
        std::istringstream in(lines[0].substr(lines[0].find(' ', 7)));
        const KMatrix r = FileRotation(euler[i]);
        const float scale[3] = {s.x, s.y, s.z};
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col) {
                double v = 0;
                in >> v;
                EXPECT_NEAR(r[row][col] * scale[row], v, 2e-4) << "frame " << frame;
            }
    }
    ReleaseObjectMotion3ds(&motion);
}

// Rounding pushes cosines past 1 for turns of almost nothing and for axes lined up with the
// scene's up axis; keys and rolls stay numbers.
TEST(Tracks3ds, NearlyStillAndUprightTurnsStayFinite) {
    const double turns[][3] = {{1e-7, 0, 0},   {0, 1e-6, 1e-7}, {-90, 0, 0},        {90, 0, 0},
                               {-90, 0, 1e-7}, {0.1, 0.1, 0.1}, {-90.000001, 0, 0}, {270, 0, 0}};
    for (const auto& t : turns) {
        SCOPED_TRACE(t[0]);
        EXPECT_TRUE(std::isfinite(DerivedRoll3ds(KVector4(t[0], t[1], t[2]))));
        const Channel3ds xyz[3] = {{nullptr, t[0]}, {nullptr, t[1]}, {nullptr, t[2]}};
        Track3ds<Rotation3ds> out;
        FillRotationKeys3ds(out, xyz, 2);
        for (const Rotation3ds& r : out.values) {
            EXPECT_TRUE(std::isfinite(r.angle));
            EXPECT_TRUE(std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z));
        }
    }
}

// A turn between two keys is kept whole: a full one turns through half a turn at mid-segment
// (not standing still), 229 degrees passes 114.5 (not turning back 131), and keys turning about
// different axes follow one spherical path, not one spline per Euler channel.
TEST(Tracks3ds, RotationSplineKeepsWholeTurns) {
    const double pi = 3.14159265358979;
    struct Case {
        float angle;     // of the second key, about the file's Z axis (the scene's Y)
        double halfway;  // turn at frame 15, degrees
    } cases[] = {{float(2 * pi), 180}, {float(229 * pi / 180), 114.5}, {float(pi / 2), 45}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        Track3ds<Rotation3ds> track;
        track.keys.resize(2);
        track.keys[1].time = 30;
        track.values = {{0, 0, 0, 1}, {c.angle, 0, 0, 1}};
        const RotationSpline3ds spline(track, {0, 1});
        const KQuaternion q = spline.At(15);
        EXPECT_NEAR(std::acos(std::min(1.0, std::fabs(q[3]))) * 2 * 180 / pi, c.halfway, 1e-4);
        EXPECT_NEAR(std::fabs(q[1]), std::sin(c.halfway * pi / 360), 1e-6);  // about Y
        const KQuaternion end = spline.At(30);
        EXPECT_NEAR(std::fabs(end[3]), std::fabs(std::cos(c.angle / 2.0)), 1e-6);
    }
    // Before the first key and after the last, the keys' own rotations.
    Track3ds<Rotation3ds> track;
    track.keys.resize(3);
    track.keys[0].time = 10, track.keys[1].time = 20, track.keys[2].time = 40;
    track.values = {{float(pi / 2), 1, 0, 0}, {float(pi / 2), 0, 1, 0}, {1.0f, 0.6f, 0.8f, 0}};
    const RotationSpline3ds spline(track, {0, 1, 2});
    EXPECT_EQ(spline.At(0), spline.At(10));
    EXPECT_EQ(spline.At(50), spline.At(40));
    EXPECT_NEAR(std::fabs(spline.At(10)[3]), std::cos(pi / 4), 1e-6);
}

// Every node's world place and hide keys as lib3ds finds them at a frame, by kind and name.
std::map<std::string, std::vector<double>> Lib3dsWorld(const std::string& path, int frame) {
    std::map<std::string, std::vector<double>> places;
    for (const std::string& line : Lib3dsLines(path, std::to_string(frame) + " world")) {
        std::istringstream in(line);
        std::string word, kind, name;
        in >> word >> kind >> name;
        std::vector<double>& values = places[kind + " " + name];
        while (in >> word)
            if (word != "hide") values.push_back(std::stod(word));
    }
    return places;
}

// The parent id of the `index`-th key-frame node (file order) of a 3DS file's bytes set.
void SetParentId3ds(std::vector<char>& bytes, size_t index, uint16_t parent) {
    size_t seen = 0;
    std::function<void(size_t, size_t)> walk = [&](size_t at, size_t end) {
        while (at + 6 <= end) {
            uint16_t tag = 0;
            uint32_t length = 0;
            memcpy(&tag, &bytes[at], 2);
            memcpy(&length, &bytes[at + 2], 4);
            if (length < 6 || length > end - at) return;
            if (tag == 0x4D4D || tag == 0xB000 ||
                (tag >= 0xB002 && tag <= 0xB007 && seen++ == index))
                walk(at + 6, at + length);
            else if (tag == 0xB010 && seen == index + 1) {
                const size_t name =
                    std::find(bytes.begin() + long(at) + 6, bytes.end(), 0) - bytes.begin();
                memcpy(&bytes[name + 5], &parent, 2);  // after the name's end and two flag words
            }
            at += length;
        }
    };
    walk(0, bytes.size());
}

// The same at frames first, first + step ... up to last, by frame, from one run of lib3ds.
std::map<int, std::map<std::string, std::vector<double>>> Lib3dsWorlds(const std::string& path,
                                                                      int first, int last,
                                                                      int step) {
    std::map<int, std::map<std::string, std::vector<double>>> frames;
    const std::string range =
        std::to_string(first) + ":" + std::to_string(last) + ":" + std::to_string(step);
    for (const std::string& line : Lib3dsLines(path, range + " world")) {
        std::istringstream in(line);
        int frame = 0;
        std::string word, kind, name;
        in >> frame >> word >> kind >> name;
        std::vector<double>& values = frames[frame][kind + " " + name];
        while (in >> word)
            if (word != "hide") values.push_back(std::stod(word));
    }
    return frames;
}

// Files lib3ds wrote (tests/data/NOTES.md): targets that cameras and spotlights follow, keyed,
// on a node and at the top; a hide track; turns of more than 180 degrees about one axis and
// turns about several; keys of uneven spacing with tension, continuity and bias. 3DS to 3DS keeps every node, its place and axes at every frame as
// lib3ds evaluates it, and its hide keys; a second pass writes the same (rotation keys within
// a float's rounding).
TEST(Tracks3ds, KeyedTargetsHidingAndTurnsKeepTheirPlacesThroughTwoPasses) {
    for (const char* file :
         {"CameraTargetKeys.3ds", "SpotTargetKeys.3ds", "HideKeys.3ds", "RotationTurns.3ds",
          "SplineKeys.3ds"}) {
        SCOPED_TRACE(file);
        const std::string in = std::string(QOV_TESTDATA_DIR) + "/keyframes/" + file;
        ASSERT_TRUE(access(in.c_str(), R_OK) == 0) << "missing test data file " << in;
        TempPath3ds first("first.3ds"), second("second.3ds");
        ASSERT_EQ(ConvertWithQovtool3ds(in, first.path), "");
        ASSERT_EQ(ConvertWithQovtool3ds(first.path, second.path), "");
        const bool turns = std::string(file) == "RotationTurns.3ds" ||
                           std::string(file) == "SplineKeys.3ds";
        const int last = turns ? 90 : 60, step = turns ? 3 : 5;
        const auto wants = Lib3dsWorlds(in, 0, last, step);
        const auto gots = Lib3dsWorlds(first.path, 0, last, step);
        const auto agains = Lib3dsWorlds(second.path, 0, last, step);
        ASSERT_EQ(wants.size(), size_t(last / step + 1));
        ASSERT_EQ(gots.size(), wants.size());
        ASSERT_EQ(agains.size(), wants.size());
        for (int frame = 0; frame <= last; frame += step) {
            SCOPED_TRACE(frame);
            const auto& want = wants.at(frame);
            const auto& got = gots.at(frame);
            const auto& again = agains.at(frame);
            if (turns) {
                EXPECT_EQ(again.size(), got.size());
            }
            ASSERT_EQ(want.size(), got.size());
            for (const auto& node : want) {
                const auto found = got.find(node.first);
                ASSERT_NE(found, got.end()) << node.first;
                ASSERT_EQ(found->second.size(), node.second.size()) << node.first;
                for (size_t i = 0; i < node.second.size(); ++i) {
                    EXPECT_NEAR(found->second[i], node.second[i], 2e-3) << node.first;
                    if (turns && again.count(node.first)) {
                        EXPECT_NEAR(again.at(node.first).at(i), node.second[i], 2e-3);
                    }
                }
            }
        }
        if (!turns) {
            EXPECT_EQ(ReadBytes3ds(first.path), ReadBytes3ds(second.path));
        }
    }
}

// Nodes hung on a camera's and a spotlight's target node, which bear the camera's and the
// light's names (tests/data/NOTES.md): read, a mesh, a light and a dummy hang on the targets,
// not on the camera and the light; written back, 3DS to 3DS and through QOV, lib3ds places
// every node of the file where it placed it, frame by frame (the targets then stand on
// dummies of their own).
TEST(Tracks3ds, NodesOnTargetNodesStayOnThem) {
    const std::string in = std::string(QOV_TESTDATA_DIR) + "/keyframes/TargetChildKeys.3ds";
    ASSERT_TRUE(access(in.c_str(), R_OK) == 0) << "missing test data file " << in;
    Reading3ds read;
    ASSERT_TRUE(read.Read(in)) << read.error;
    for (const auto& [child, parent] :
         {std::pair("Kid", "Cam01.Target"), std::pair("Lamp", "Cam01.Target"),
          std::pair("$$$DUMMY.Hook", "Spot01.Target")}) {
        KQovNode* node = read.Find(read.scene->GetRootNode(), child);
        ASSERT_TRUE(node && node->GetParent()) << child;
        EXPECT_STREQ(node->GetParent()->GetNameWithoutPrefix().Buffer(), parent);
    }
    TempPath3ds direct("direct.3ds"), back("back.3ds");
    const std::string qov = direct.folder + "/via.qov";
    ASSERT_EQ(ConvertWithQovtool3ds(in, direct.path), "");
    ASSERT_EQ(ConvertWithQovtool3ds(in, qov), "");
    ASSERT_EQ(ConvertWithQovtool3ds(qov, back.path), "");
    const auto wants = Lib3dsWorlds(in, 0, 60, 5);
    ASSERT_EQ(wants.size(), 13u);
    for (const std::string& path : {direct.path, back.path}) {
        SCOPED_TRACE(path);
        const auto gots = Lib3dsWorlds(path, 0, 60, 5);
        for (const auto& [frame, want] : wants) {
            SCOPED_TRACE(frame);
            ASSERT_EQ(want.size(), 8u);
            ASSERT_EQ(gots.count(frame), 1u);
            const auto& got = gots.at(frame);
            EXPECT_EQ(got.size(), want.size() + 2);  // the targets' dummies
            for (const auto& [name, values] : want) {
                const auto found = got.find(name);
                ASSERT_NE(found, got.end()) << name;
                ASSERT_EQ(found->second.size(), values.size()) << name;
                for (size_t i = 0; i < values.size(); ++i)
                    EXPECT_NEAR(found->second[i], values[i], 2e-3) << name << " " << i;
            }
        }
    }
    // Parent ids that go round through a target: a camera or light on its own target (lib3ds
    // places it so), a camera and a spotlight each on the other's target. No node falls out
    // of the scene.
    const struct {
        const char* title;
        std::vector<std::pair<size_t, uint16_t>> parents;  // node in file order, parent id
        bool placed;                                       // lib3ds's places kept
    } rows[] = {
        {"camera on its own target", {{0, 1}}, true},
        {"spotlight on its own target", {{4, 4}}, true},
        {"camera and spotlight on each other's targets", {{0, 4}, {4, 1}}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        std::vector<char> bytes = ReadBytes3ds(in);
        for (const auto& [node, parent] : row.parents) SetParentId3ds(bytes, node, parent);
        TempPath3ds hung("hung.3ds"), out("out.3ds");
        WriteBytes3ds(hung.path, Bytes3ds(bytes.begin(), bytes.end()));
        Reading3ds again;
        ASSERT_TRUE(again.Read(hung.path)) << again.error;
        for (const char* name : {"Cam01", "Cam01.Target", "Kid", "Lamp", "Spot01", "Spot01.Target",
                                 "$$$DUMMY.Hook", "Tip"})
            EXPECT_TRUE(again.Find(again.scene->GetRootNode(), name)) << name;
        if (!row.placed) continue;
        ASSERT_EQ(ConvertWithQovtool3ds(hung.path, out.path), "");
        const auto want = Lib3dsWorlds(hung.path, 30, 30, 1),
                   got = Lib3dsWorlds(out.path, 30, 30, 1);
        ASSERT_EQ(want.size(), 1u);
        ASSERT_EQ(want.at(30).size(), 8u);
        ASSERT_EQ(got.count(30), 1u);
        for (const auto& [name, values] : want.at(30)) {
            const auto found = got.at(30).find(name);
            ASSERT_NE(found, got.at(30).end()) << name;
            for (size_t i = 0; i < values.size() && i < found->second.size(); ++i)
                EXPECT_NEAR(found->second[i], values[i], 2e-3) << name << " " << i;
        }
    }
}

// A look-at target that a node hangs on, or that two cameras look at, keeps a dummy of its
// own; the cameras' target nodes hang on it at its origin, where lib3ds finds them, not at
// twice its place.
TEST(Tracks3ds, TargetsWithNodesOfTheirOwnStandAtThem) {
    for (bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "shared" : "with a child");
        Reading3ds source;
        KQovScene* scene = source.manager.CreateScene();
        KQovNode* aim = source.manager.CreateNode("Aim");
        scene->GetRootNode()->AddChild(aim);
        aim->AddTakeNode("Take 001");
        aim->SetCurrentTakeNode("Take 001");
        KQovTakeNode* take = aim->GetCurrentTakeNode();
        Keys3ds(take->GetTranslationX(), {{0, 10}, {10, 30}});
        Keys3ds(take->GetTranslationY(), {{0, 5}});
        Keys3ds(take->GetTranslationZ(), {{0, -20}});
        if (!shared) aim->AddChild(source.manager.CreateNode("Hanger"));
        for (int i = 0; i < (shared ? 2 : 1); ++i) {
            KQovNode* camera = source.manager.CreateNode(("Cam" + std::to_string(i)).c_str());
            camera->SetNodeAttribute(source.manager.CreateCamera());
            camera->SetLocalTranslation(0, 0, 100 + i);
            scene->GetRootNode()->AddChild(camera);
            camera->SetLookAtTarget(aim);
        }
        TempPath3ds file("aim.3ds");
        ASSERT_TRUE(source.Write(file.path, scene));
        for (int frame : {0, 5, 10}) {
            const auto world = Lib3dsWorld(file.path, frame);
            const auto dummy = world.find("object $$$DUMMY.Aim");
            ASSERT_NE(dummy, world.end());
            EXPECT_NEAR(dummy->second.at(0), (10 + 2 * frame) / 2.54, 2e-3);
            for (int i = 0; i < (shared ? 2 : 1); ++i) {
                const auto target = world.find("target Cam" + std::to_string(i));
                ASSERT_NE(target, world.end());
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(target->second.at(size_t(c)), dummy->second.at(size_t(c)), 2e-3);
            }
        }
    }
}

// A node hidden without keys of "Visibility" is hidden from frame 0: one hide key there, read
// back hidden; a visible one gets none.
TEST(Tracks3ds, NodeHiddenWithoutKeysGetsAHideKeyAtFrameZero) {
    Reading3ds source;
    KQovScene* scene = source.manager.CreateScene();
    for (const char* name : {"Ghost", "Seen"}) {
        KQovNode* node = source.manager.CreateNode(name);
        node->SetVisibility(std::string(name) == "Seen");
        scene->GetRootNode()->AddChild(node);
    }
    KQovNode* camera = source.manager.CreateNode("Cam");
    camera->SetNodeAttribute(source.manager.CreateCamera());
    scene->GetRootNode()->AddChild(camera);
    TempPath3ds file("hidden.3ds");
    ASSERT_TRUE(source.Write(file.path, scene));
    const auto world = Lib3dsWorld(file.path, 0);
    ASSERT_TRUE(world.count("object $$$DUMMY.Ghost") && world.count("object $$$DUMMY.Seen"));
    EXPECT_EQ(world.at("object $$$DUMMY.Ghost").size(), 13u);  // place, axes, a key at 0
    EXPECT_EQ(world.at("object $$$DUMMY.Ghost").back(), 0);
    EXPECT_EQ(world.at("object $$$DUMMY.Seen").size(), 12u);
}

}  // namespace
