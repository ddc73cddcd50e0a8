// One table over every writer: three scenes (an animated, textured mesh hierarchy with a camera
// and a light; a 30-joint skeleton over 100 frames; 40 markers with occlusion over 100 frames)
// written through each writer with its options filled from the scene, as qovtool convert
// does, then read back and compared with the scene written. Each row says what its format
// carries; what it cannot carry is written in the row, never skipped silently. A writer whose
// format holds nothing of the scene refuses it and leaves no file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ConversionTestUtil.h"
#include "IndependentReaders.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "attributes/KQovTexture.h"
#include "common/TempTestFolder.h"
#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/KQovMotionTextIO.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "io/KQovWriteOptions.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovTakeInfo.h"

using namespace conversiontest;

namespace {

enum Content { eMeshes, eSkeleton, eMarkers };
const char* const kContentNames[] = {"meshes", "skeleton", "markers"};

// What a row checks after the round trip.
enum : unsigned {
    kPositions = 1u << 0,     // face corners / joints / markers at world positions, first frame
    kAnimation = 1u << 1,     // ... and at every frame (meshes: first, middle and last)
    kUVs = 1u << 2,           // every face corner's UV
    kTexturedUVs = 1u << 10,  // the UVs of every textured face
    kMaterials = 1u << 3,     // every face's material colour
    kTextures = 1u << 4,      // every face's texture file
    kFrames = 1u << 5,        // frame count and rate of the take
    kStart = 1u << 6,         // start time of the take
    kOcclusion = 1u << 7,     // unseen samples stay unseen
    kCameraLight = 1u << 8,   // a camera and a light where they stood
    kNames = 1u << 9          // joints and markers by name (else markers in order)
};

constexpr int kTakeFrames = 100;
const char* const kTake = "Take 001";

KTime Frame(int f, int mode) {
    return KTime(KTime::GetFrameLength(mode) * f);
}

// Keys at every frame from a function of the frame.
void Key(KFCurve* curve, int frames, int mode, const std::function<double(int)>& value,
         bool constant = false) {
    ASSERT_NE(curve, nullptr);
    curve->PrepareKeys(frames);
    for (int f = 0; f < frames; ++f) KMotionSetKey(curve, f, Frame(f, mode), value(f), constant);
    curve->CommitKeys(frames);
}

void StoreTake(KQovScene* scene, int mode, int first, int frames) {
    KQovTakeInfo info;
    info.name = kTake;
    info.secondName = kTake;
    info.localTimeSpan.Set(Frame(first, mode), Frame(first + frames - 1, mode));
    info.referenceTimeSpan = info.localTimeSpan;
    scene->SetTakeInfo(info);
    scene->SetCurrentTake(kTake);
    scene->GetGlobalTimeSettings().SetTimeMode(mode);
}

KQovTakeNode* Animate(KQovNode* node) {
    node->AddTakeNode(kTake);
    node->SetCurrentTakeNode(kTake);
    return node->GetCurrentTakeNode();
}

// A cube of six quads, a UV per corner; faces 0-2 take material 0, 3-5 material 1.
KQovMesh* Cube(KQovObjectManager& m, double size, KQovMaterial* first, KQovMaterial* second,
               KQovTexture* texture) {
    KQovMesh* mesh = m.CreateMesh();
    const double c[8][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                            {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};
    mesh->InitControlPoints(8);
    for (int i = 0; i < 8; ++i)
        mesh->GetControlPoints().SetAt(i,
                                       KVector4(c[i][0] * size, c[i][1] * size, c[i][2] * size, 1));
    mesh->InitMaterialIndices(KQovLayer::eByPolygon);
    mesh->InitTextureIndices(KQovLayer::eByPolygon);
    mesh->InitTextureUVIndices(KQovLayer::eByPolygonVertex);
    mesh->AddMaterial(first, 0);
    mesh->AddMaterial(second, 0);
    if (texture) mesh->AddTexture(texture, 0);
    const int quads[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                             {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 4, 7, 3}};
    for (int q = 0; q < 6; ++q) {
        mesh->BeginPolygon(q / 3, texture && q < 3 ? 0 : -1);
        for (int k = 0; k < 4; ++k)
            mesh->AddPolygonVertex(quads[q][k],
                                   mesh->AddTextureUV(0.125 * (q + 1), 0.25 * k + 0.125));
    }
    return mesh;
}

// Two textured, animated cubes one below the other, below a turned null, a camera and a
// light; the take runs 20 frames past the last key (a range that is not just the keys').
void BuildMeshes(TestScene& t) {
    KQovObjectManager& m = t.manager;
    const int mode = KTime::eFRAMES30;
    KQovMaterial* red = m.CreateMaterial("Red");
    red->SetDefaultDiffuse(KColor(1, 0, 0));
    KQovMaterial* green = m.CreateMaterial("Green");
    green->SetDefaultDiffuse(KColor(0, 1, 0));
    KQovMaterial* blue = m.CreateMaterial("Blue");
    blue->SetDefaultDiffuse(KColor(0, 0, 1));
    KQovTexture* skin = m.CreateTexture("Skin");
    skin->SetFileName("skin.tga");
    KQovNode* rig = m.CreateNode("Rig");
    rig->SetNodeAttribute(m.CreateNull());
    t.scene->GetRootNode()->AddChild(rig);
    KQovNode* body = m.CreateNode("Body");
    body->SetNodeAttribute(Cube(m, 1.0, red, green, skin));
    rig->AddChild(body);
    KQovNode* arm = m.CreateNode("Arm");
    arm->SetNodeAttribute(Cube(m, 0.5, blue, green, nullptr));
    body->AddChild(arm);
    KQovNode* cam = m.CreateNode("Cam");
    cam->SetNodeAttribute(m.CreateCamera());
    t.scene->GetRootNode()->AddChild(cam);
    KQovNode* lamp = m.CreateNode("Lamp");
    KQovLight* light = m.CreateLight();
    light->SetLightType(0);
    lamp->SetNodeAttribute(light);
    t.scene->GetRootNode()->AddChild(lamp);
    const int keyed = kTakeFrames - 20;
    struct Placement {
        KQovNode* node;
        double t[3], r[3];
        std::function<double(int)> tx, ry, rz;
    } placements[] = {
        {body,
         {1, 2, 3},
         {0, 0, 0},
         [](int f) { return 1 + 0.1 * f; },
         [](int f) { return 1.5 * f; },
         [](int) { return 0.0; }},
        {arm,
         {3, 0, 0},
         {0, 0, 0},
         [](int) { return 3.0; },
         [](int) { return 0.0; },
         [](int f) { return 0.5 * f; }},
        {rig,
         {-4, 1, 2},
         {0, 30, 0},
         [](int) { return -4.0; },
         [](int) { return 30.0; },
         [](int) { return 0.0; }},
        {cam,
         {0, 5, 20},
         {0, 0, 0},
         [](int) { return 0.0; },
         [](int) { return 0.0; },
         [](int) { return 0.0; }},
        {lamp,
         {5, 6, 7},
         {0, 0, 0},
         [](int) { return 5.0; },
         [](int) { return 0.0; },
         [](int) { return 0.0; }},
    };
    for (Placement& p : placements) {
        KMotionSetRestTransform(p.node, KVector4(p.t[0], p.t[1], p.t[2]),
                                KVector4(p.r[0], p.r[1], p.r[2]));
        KQovTakeNode* take = Animate(p.node);
        const bool still = p.node == cam || p.node == lamp || p.node == rig;
        const int frames = still ? 1 : keyed;
        Key(take->GetTranslationX(), frames, mode, p.tx);
        Key(take->GetTranslationY(), frames, mode, [&](int) { return p.t[1]; });
        Key(take->GetTranslationZ(), frames, mode, [&](int) { return p.t[2]; });
        Key(take->GetRotationX(), frames, mode, [](int) { return 0.0; });
        Key(take->GetRotationY(), frames, mode, p.ry);
        Key(take->GetRotationZ(), frames, mode, p.rz);
    }
    StoreTake(t.scene, mode, 0, kTakeFrames);
}

// "Hips" with a spine of six joints and a jaw, two arms of six and two legs of five: 30
// joints, each turning on all three axes at every frame, the hips moving too.
void BuildSkeleton(TestScene& t) {
    KQovObjectManager& m = t.manager;
    const int mode = KTime::eFRAMES60;
    int joints = 0;
    auto joint = [&](KQovNode* parent, const char* name, double x, double y, double z) {
        KQovNode* node = m.CreateNode(name);
        KQovSkeleton* skeleton = m.CreateSkeleton();
        skeleton->SetSkeletonType(parent ? KQovSkeleton::eLimbNode : KQovSkeleton::eRoot);
        node->SetNodeAttribute(skeleton);
        // The rest pose in the properties and the default take, as the readers leave it.
        KMotionSetRestTransform(node, KVector4(x, y, z), KVector4());
        (parent ? parent : t.scene->GetRootNode())->AddChild(node);
        const int n = ++joints;
        KQovTakeNode* take = Animate(node);
        const double base[3] = {x, y, z};
        for (int a = 0; a < 3; ++a) {
            KFCurve* curves[3] = {take->GetTranslationX(), take->GetTranslationY(),
                                  take->GetTranslationZ()};
            const bool moves = !parent;
            Key(curves[a], kTakeFrames, mode,
                [=](int f) { return base[a] + (moves ? 10.0 * std::sin(0.05 * f + a) : 0.0); });
        }
        KFCurve* turns[3] = {take->GetRotationX(), take->GetRotationY(), take->GetRotationZ()};
        for (int a = 0; a < 3; ++a)
            Key(turns[a], kTakeFrames, mode,
                [=](int f) { return (10.0 + n) * std::sin(0.07 * f + 0.3 * n + a) + 5.0 * a; });
        return node;
    };
    KQovNode* hips = joint(nullptr, "Hips", 0, 90, 0);
    KQovNode* spine = hips;
    for (const char* name : {"Spine", "Spine1", "Spine2", "Neck", "Neck1", "Head"})
        spine = joint(spine, name, 0, 8, 0.5);
    joint(spine, "Jaw", 0, 2, 6);
    for (int side = 0; side < 2; ++side) {
        const double s = side ? -1 : 1;
        KQovNode* arm = hips->FindChild("Spine2", true);
        const char* const armNames[2][6] = {
            {"LShoulder", "LArm", "LForeArm", "LHand", "LFinger", "LFingerTip"},
            {"RShoulder", "RArm", "RForeArm", "RHand", "RFinger", "RFingerTip"}};
        for (int k = 0; k < 6; ++k) arm = joint(arm, armNames[side][k], s * (k ? 12 : 5), 1, 0);
        KQovNode* leg = hips;
        const char* const legNames[2][5] = {{"LUpLeg", "LLeg", "LFoot", "LToe", "LToeTip"},
                                            {"RUpLeg", "RLeg", "RFoot", "RToe", "RToeTip"}};
        for (int k = 0; k < 5; ++k)
            leg = joint(leg, legNames[side][k], k ? 0 : s * 9, k < 2 ? -40 : -5, k < 2 ? 0 : 6);
    }
    EXPECT_EQ(joints, 30);
    StoreTake(t.scene, mode, 0, kTakeFrames);
}

// 40 markers under one parent, each moving on its own path and unseen in a run of frames of
// its own; the take starts at frame 10 (a start that is not 0).
void BuildMarkers(TestScene& t) {
    KQovObjectManager& m = t.manager;
    const int mode = KTime::eFRAMES100;
    const int first = 10;
    KQovNode* parent = m.CreateNode("Capture");
    t.scene->GetRootNode()->AddChild(parent);
    for (int k = 0; k < 40; ++k) {
        const std::string name = "M" + std::to_string(k + 1);
        KQovNode* node = m.CreateNode(name.c_str());
        KQovMarker* marker = m.CreateMarker();
        marker->SetType(KQovMarker::eOptical);
        node->SetNodeAttribute(marker);
        parent->AddChild(node);
        KQovTakeNode* take = Animate(node);
        KFCurve* axes[3] = {take->GetTranslationX(), take->GetTranslationY(),
                            take->GetTranslationZ()};
        // Curves keyed from the take's first frame, at scene times first + f.
        auto keyed = [&](KFCurve* curve, const std::function<double(int)>& value, bool constant) {
            ASSERT_NE(curve, nullptr);
            curve->PrepareKeys(kTakeFrames);
            for (int f = 0; f < kTakeFrames; ++f)
                KMotionSetKey(curve, f, Frame(first + f, mode), value(f), constant);
            curve->CommitKeys(kTakeFrames);
        };
        for (int a = 0; a < 3; ++a)
            keyed(
                axes[a],
                [=](int f) { return 100.0 * a + 10.0 * k + 20.0 * std::sin(0.1 * f + k + a); },
                false);
        // Marker k is unseen in frames k to k + 4 (the last ones run off the end).
        keyed(
            take->GetOcclusion(), [=](int f) { return f >= k && f < k + 5 ? 1.0 : 0.0; }, true);
    }
    StoreTake(t.scene, mode, first, kTakeFrames);
}

const std::function<void(TestScene&)> kBuilders[] = {BuildMeshes, BuildSkeleton, BuildMarkers};

struct Row {
    Content content;
    const char* extension;  // of the file written
    unsigned carried;       // what comes back
    double tolerance;       // centimetres, for positions
    const char* lost;       // what the format cannot carry of this content, and why
    // The writer's error when it refuses the scene (and writes nothing); null when it writes.
    const char* refused = nullptr;
};

const char* const kNoMarkers = "markers only, and the scene holds none";
const char* const kNoMeshes = "meshes only, and the scene holds none";
const char* const kThreeRoots =
    "Scene has 3 root nodes; the file holds the hierarchy below a single root node.";
const char* const kNo3dsNodes = "meshes, cameras and lights only, and the scene holds none";

// Tolerances: positions go through each format's text precision (six significant digits
// for the skeleton formats' %g, floats for C3D and 3DS); the skeleton readers thin constant
// keys with the constant key reducer, whose band adds up along a chain of 30 joints.
const Row kRows[] = {
    // Meshes.
    {eMeshes, "qov",
     kPositions | kAnimation | kUVs | kMaterials | kTextures | kFrames | kStart | kCameraLight,
     1e-6, ""},
    {eMeshes, "3ds",
     kPositions | kAnimation | kUVs | kMaterials | kTextures | kFrames | kStart | kCameraLight,
     1e-5,
     "a start before frame 0 (the key-frame segment counts frames from 0) and a rate other "
     "than 30 frames a second (keys and range are whole frames at 30)"},
    {eMeshes, "obj", kPositions | kUVs | kMaterials | kTextures, 1e-5,
     "animation, cameras and lights: the format holds still geometry"},
    {eMeshes, "dxf", kPositions, 1e-5,
     "UVs, materials, textures, animation, cameras and lights: the format holds faces only"},
    // A skeleton format writes the hierarchy below one top node; this scene has three.
    {eMeshes, "bvh", 0, 0, "geometry: a skeleton format", kThreeRoots},
    {eMeshes, "htr", 0, 0, "geometry: a skeleton format", kThreeRoots},
    {eMeshes, "amc", 0, 0, "geometry: a skeleton format", kThreeRoots},
    {eMeshes, "trc", 0, 0, "geometry: a marker format", kNoMarkers},
    {eMeshes, "c3d", 0, 0, "geometry: a marker format", kNoMarkers},
    {eMeshes, "aoa", 0, 0, "geometry: a marker format", kNoMarkers},
    {eMeshes, "mcd", 0, 0, "geometry: a marker format", kNoMarkers},
    {eMeshes, "brd", 0, 0, "geometry: a marker format", kNoMarkers},
    {eMeshes, "mov", 0, 0, "geometry: a marker format", kNoMarkers},
    {eMeshes, "vpm", 0, 0, "geometry: a marker format", kNoMarkers},
    // Skeleton.
    {eSkeleton, "qov", kPositions | kAnimation | kFrames | kStart | kNames, 1e-6, ""},
    {eSkeleton, "bvh", kPositions | kAnimation | kFrames | kNames, 1e-3, "the start time"},
    {eSkeleton, "htr", kPositions | kAnimation | kFrames | kNames, 1e-3, "the start time"},
    {eSkeleton, "amc", kPositions | kAnimation | kFrames | kNames, 1e-3,
     "the start time (the frame range line is off by default)"},
    {eSkeleton, "obj", 0, 0, "joints: the format holds geometry", kNoMeshes},
    {eSkeleton, "dxf", 0, 0, "joints: the format holds geometry", kNoMeshes},
    {eSkeleton, "3ds", 0, 0, "joints: the format holds geometry, cameras and lights", kNo3dsNodes},
    {eSkeleton, "trc", 0, 0, "joints: a marker format writes the marker nodes only", kNoMarkers},
    {eSkeleton, "c3d", 0, 0, "joints: a marker format writes the marker nodes only", kNoMarkers},
    {eSkeleton, "aoa", 0, 0, "joints: a marker format writes the marker nodes only", kNoMarkers},
    {eSkeleton, "mcd", 0, 0, "joints: a marker format writes the marker nodes only", kNoMarkers},
    {eSkeleton, "brd", 0, 0, "joints: a marker format writes the marker nodes only", kNoMarkers},
    {eSkeleton, "mov", 0, 0, "joints: a marker format writes the marker nodes only", kNoMarkers},
    {eSkeleton, "vpm", 0, 0, "joints: a marker format writes the marker nodes only", kNoMarkers},
    // Markers.
    {eMarkers, "qov", kPositions | kAnimation | kFrames | kStart | kOcclusion | kNames, 1e-6, ""},
    {eMarkers, "trc", kPositions | kAnimation | kFrames | kOcclusion | kNames, 1e-3,
     "the start time"},
    {eMarkers, "c3d", kPositions | kAnimation | kFrames | kStart | kOcclusion | kNames, 1e-3, ""},
    {eMarkers, "aoa", kPositions | kAnimation | kFrames, 1e-3,
     "the start time, the marker names and whether a marker was seen: the format holds "
     "positions only"},
    {eMarkers, "mcd", kPositions | kAnimation | kFrames, 1e-3,
     "the start time, the marker names and whether a marker was seen: the format holds "
     "positions only"},
    {eMarkers, "obj", 0, 0, "markers: the format holds geometry", kNoMeshes},
    {eMarkers, "dxf", 0, 0, "markers: the format holds geometry", kNoMeshes},
    {eMarkers, "3ds", 0, 0, "markers: the format holds geometry, cameras and lights", kNo3dsNodes},
    {eMarkers, "bvh", 0, 0, "markers: a skeleton format writes a joint hierarchy"},
};

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string RowName(const Row& row) {
    return std::string(kContentNames[row.content]) + " -> " + row.extension;
}

// The take of a scene read back: frames, rate and start, as a writer would sample it.
void CheckFrames(const Row& row, KQovScene& read, const KStreamOptions* options,
                 KQovScene& written) {
    const KQovWriteTiming expected = KQovGetWriteTiming(written);
    const KQovWriteTiming got = KQovGetWriteTiming(read, options);
    if (row.carried & kFrames) {
        EXPECT_EQ(got.frameCount, kTakeFrames);
        EXPECT_NEAR(got.rate, expected.rate, 1e-6);
    }
    if (row.carried & kStart) {
        EXPECT_EQ(got.start, expected.start);
    }
}

void CheckMeshes(const Row& row, KQovScene& read, KQovScene& written) {
    const int mode = KTime::eFRAMES30;
    std::vector<int> frames{0};
    if (row.carried & kAnimation) frames = {0, 40, kTakeFrames - 21};
    for (int f : frames) {
        SCOPED_TRACE("frame " + std::to_string(f));
        Corners expected = CollectCorners(written, Frame(f, mode));
        Corners got = CollectCorners(read, Frame(f, mode));
        EXPECT_EQ(expected.size(), 48u);
        const UVCheck uvs = row.carried & kUVs           ? eAllUVs
                            : row.carried & kTexturedUVs ? eTexturedUVs
                                                         : eNoUVs;
        MatchCorners(expected, got, row.tolerance, uvs, row.carried & kMaterials,
                     row.carried & kTextures);
    }
    if (row.carried & kCameraLight) {
        for (int type : {KQovNodeAttribute::eCamera, KQovNodeAttribute::eLight}) {
            KQovNode* before = FindByAttribute(written.GetRootNode(), type);
            KQovNode* after = FindByAttribute(read.GetRootNode(), type);
            ASSERT_NE(after, nullptr) << "attribute type " << type;
            EXPECT_LT(Distance(Position(before, KTIME_ZERO), Position(after, KTIME_ZERO)),
                      row.tolerance);
        }
    }
}

// Joints or markers, sample by sample from each take's own start (a format without a start
// time starts at 0).
void CheckNodes(const Row& row, KQovScene& read, const KStreamOptions* options, KQovScene& written,
                int mode, const char* rootName) {
    const KTime start = KQovGetWriteTiming(written).start;
    const KTime readStart = KQovGetWriteTiming(read, options).start;
    std::vector<KQovNode*> nodes, readNodes;
    CollectNodes(written.GetRootNode(), nodes);
    CollectNodes(read.GetRootNode(), readNodes);
    std::vector<KQovNode*> readMarkers;
    for (KQovNode* node : readNodes)
        if (node->GetNodeAttribute() &&
            node->GetNodeAttribute()->GetAttributeType() == KQovNodeAttribute::eMarker)
            readMarkers.push_back(node);
    size_t index = 0;
    int compared = 0;
    double worst = 0.0;
    if (!(row.carried & kNames)) {
        EXPECT_EQ(readMarkers.size(), 40u);
    }
    int occlusionMismatches = 0;
    for (KQovNode* node : nodes) {
        const int type =
            node->GetNodeAttribute() ? node->GetNodeAttribute()->GetAttributeType() : -1;
        if (type != KQovNodeAttribute::eSkeleton && type != KQovNodeAttribute::eMarker) continue;
        KString name = node->GetNameWithoutPrefix();
        if (!node->GetParent()->GetParent() && rootName) name = rootName;
        KQovNode* other = row.carried & kNames ? FindByName(read.GetRootNode(), name.Buffer())
                          : index < readMarkers.size() ? readMarkers[index]
                                                       : nullptr;
        ++index;
        if (!other) {
            ADD_FAILURE() << "no node " << name.Buffer() << " read back";
            continue;
        }
        const int count = row.carried & kAnimation ? kTakeFrames : 1;
        for (int f = 0; f < count; ++f) {
            const KTime time = start + Frame(f, mode), readTime = readStart + Frame(f, mode);
            const bool unseen = Occluded(node, time);
            if (row.carried & kOcclusion)
                occlusionMismatches += unseen != Occluded(other, readTime);
            if (unseen) continue;
            worst = std::max(worst, Distance(Position(node, time), Position(other, readTime)));
            ++compared;
        }
    }
    EXPECT_GT(compared, 0);
    EXPECT_LT(worst, row.tolerance) << compared << " positions compared";
    EXPECT_EQ(occlusionMismatches, 0);
}

TEST(ConversionMatrix, EveryWriterKeepsWhatItsFormatHolds) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const Row& row : kRows) {
        SCOPED_TRACE(RowName(row));
        if (row.refused) {
            // Nothing the format holds: refused with the reason, and the old file kept whole,
            // with no file of the write left beside it.
            TestScene written;
            kBuilders[row.content](written);
            const std::string path = folder / (std::string("refused.") + row.extension);
            std::ofstream(path, std::ios::binary) << "old";
            const std::vector<std::string> before = TempTestFolder::NamesIn(folder.path());
            std::string error;
            EXPECT_FALSE(WriteScene(written, path, error));
            EXPECT_NE(error.find(row.refused), std::string::npos) << error;
            EXPECT_EQ(FileText(path), "old");
            EXPECT_EQ(TempTestFolder::NamesIn(folder.path()), before);
            continue;
        }
        if (row.carried == 0) {
            // A row of what the format cannot hold: said, not tested.
            EXPECT_STRNE(row.lost, "");
            continue;
        }
        TestScene written;
        kBuilders[row.content](written);
        const std::string path =
            folder / (std::string(kContentNames[row.content]) + "." + row.extension);
        std::string error;
        ASSERT_TRUE(WriteScene(written, path, error)) << error;
        TestScene read;
        std::unique_ptr<KStreamOptions> options;
        ASSERT_TRUE(ReadScene(read, path, options, error)) << error;
        CheckFrames(row, *read.scene, options.get(), *written.scene);
        switch (row.content) {
            case eMeshes:
                CheckMeshes(row, *read.scene, *written.scene);
                break;
            case eSkeleton:
                CheckNodes(row, *read.scene, options.get(), *written.scene, KTime::eFRAMES60,
                           std::string(row.extension) == "amc" ? "root" : nullptr);
                break;
            case eMarkers:
                CheckNodes(row, *read.scene, options.get(), *written.scene, KTime::eFRAMES100,
                           nullptr);
                break;
        }
    }
}

// The call itself: options filled from a scene, for each kind of writer.
TEST(ConversionMatrix, WriteOptionsComeFromTheCurrentTake) {
    struct Case {
        Content content;
        int frames, mode;
        double start;  // seconds
    } cases[] = {{eMeshes, 100, KTime::eFRAMES30, 0.0},
                 {eSkeleton, 100, KTime::eFRAMES60, 0.0},
                 {eMarkers, 100, KTime::eFRAMES100, 0.1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(kContentNames[c.content]);
        TestScene t;
        kBuilders[c.content](t);
        KStreamOptionsMotion options;
        EXPECT_EQ(KQovFillWriteOptions(*t.scene, options), c.content == eMarkers ? 40 : 0);
        EXPECT_EQ(options.GetFrameCount(), c.frames);
        EXPECT_EQ(options.GetTimeMode(), c.mode);
        EXPECT_NEAR(options.GetStartTime().GetSecondDouble(), c.start, 1e-9);
        std::vector<KQovNode*> nodes;
        CollectNodes(t.scene->GetRootNode(), nodes);
        int marked = 0;
        for (KQovNode* node : nodes) marked += node->IsMarked();
        EXPECT_EQ(marked, c.content == eMarkers ? 40 : 0);
    }
    // A rate that no time mode has comes from the read options; without a take, frame 0.
    TestScene empty;
    KStreamOptionsMotion read;
    read.SetFrameRate(0, 250.0);
    KStreamOptionsMotion options;
    KQovFillWriteOptions(*empty.scene, options, &read);
    EXPECT_EQ(options.GetTimeMode(), 0);
    EXPECT_DOUBLE_EQ(options.GetFrameRate(), 250.0);
    EXPECT_EQ(options.GetFrameCount(), 1);
    // A read at a time mode gives the scene that mode (a QOV file written keeps it).
    read.SetFrameRate(KTime::eFRAMES120, 0.0);
    KStreamOptionsMotion again;
    KQovFillWriteOptions(*empty.scene, again, &read);
    EXPECT_EQ(empty.scene->GetGlobalTimeSettings().GetTimeMode(), KTime::eFRAMES120);
}

// The file with its last number replaced by `bad`, within the last line that begins with
// `prefix` (OBJ points) or follows a line `previous` (DXF first coordinates); the number of
// that line (1-based), 0 when there is none.
int SpoilLastNumber(const std::string& path, const char* bad, const std::string& prefix = "",
                    const std::string& previous = "") {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    for (size_t n = lines.size(); n-- > 0;) {
        std::string& line = lines[n];
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        if (!previous.empty() && (n == 0 || lines[n - 1] != previous)) continue;
        size_t end = line.find_last_not_of(" \t\r");
        while (end != std::string::npos) {
            const size_t begin = line.find_last_of(" \t", end);
            const size_t from = begin == std::string::npos ? 0 : begin + 1;
            double value;
            if (KParseDecimal(line.substr(from, end + 1 - from), value)) {
                line.replace(from, end + 1 - from, bad);
                std::ofstream out(path, std::ios::binary);
                for (const std::string& l : lines) out << l << '\n';
                return int(n) + 1;
            }
            end = begin == std::string::npos ? begin : line.find_last_not_of(" \t", begin);
        }
    }
    return 0;
}

// Every writer meets a number that no reader takes back (NaN, an infinity, beyond 2^100) in a
// mesh point or a key: QOV keeps it, every other writer refuses it and leaves no file. Each
// written file, with one of its numbers spoilt, is refused by its reader, which names the
// line (the point array's chunk for 3DS).
TEST(ConversionMatrix, NumbersNoReaderTakesBack) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const char* const kBad[] = {"nan", "inf", "1e308", "-1e35"};
    int turn = 0;
    for (const Row& row : kRows) {
        if (row.carried == 0) continue;
        SCOPED_TRACE(RowName(row));
        const std::string extension = row.extension;
        const char* bad = kBad[turn++ % 4];
        TestScene written;
        kBuilders[row.content](written);
        const double value = KAtofC(bad);
        if (row.content == eMeshes) {
            auto* mesh = static_cast<KQovMesh*>(
                FindByName(written.scene->GetRootNode(), "Body")->GetNodeAttribute());
            mesh->GetControlPoints().SetAt(0, KVector4(value, 0, 0, 1));
        } else {
            KQovNode* node = FindByAttribute(written.scene->GetRootNode(),
                                             row.content == eSkeleton ? KQovNodeAttribute::eSkeleton
                                                                      : KQovNodeAttribute::eMarker);
            KFCurve* curve = node->GetCurrentTakeNode()->GetTranslationX();
            // A frame where every marker is seen.
            KMotionSetKey(curve, 50, curve->KeyGetTime(50), value);
        }
        const std::string spoilt = folder / ("spoilt." + extension);
        std::string error;
        if (extension == "qov") {
            EXPECT_TRUE(WriteScene(written, spoilt, error)) << error;
        } else {
            EXPECT_FALSE(WriteScene(written, spoilt, error));
            EXPECT_NE(error.find(kFileNumberError), std::string::npos) << error;
            EXPECT_FALSE(KFileExists(spoilt.c_str()));
        }

        // The reading side, from a good file of the row.
        if (extension == "qov" || extension == "c3d") continue;
        TestScene good;
        kBuilders[row.content](good);
        const std::string path = folder / ("good." + extension);
        ASSERT_TRUE(WriteScene(good, path, error)) << error;
        std::vector<std::pair<std::string, std::string>> refusals;  // file, where
        if (extension == "3ds") {
            std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(file)), {});
            // The first point array, right inside its triangle object.
            size_t at = 0;
            while ((at = bytes.find(std::string("\x00\x41", 2), at + 1)) != std::string::npos)
                if (bytes.compare(at + 6, 2, "\x10\x41") == 0) break;
            ASSERT_NE(at, std::string::npos);
            const float f = float(value);
            file.seekp(std::streamoff(at + 6 + 8));
            file.write(reinterpret_cast<const char*>(&f), 4);
            refusals.push_back({path, KFormatC("(chunk 0x4110 at byte %zu)", at + 6)});
        } else {
            refusals.push_back({path, ""});
            if (extension == "amc")
                refusals.push_back({KQovAcclaimSkeletonBeside(path.c_str()).Buffer(), ""});
        }
        for (auto& refusal : refusals) {
            std::string keep;
            if (refusal.second.empty()) {
                keep = FileText(refusal.first);
                const int line = SpoilLastNumber(refusal.first, bad, extension == "obj" ? "v " : "",
                                                 extension == "dxf" ? " 10" : "");
                ASSERT_GT(line, 0);
                refusal.second = "line " + std::to_string(line);
            }
            TestScene read;
            std::unique_ptr<KStreamOptions> options;
            EXPECT_FALSE(ReadScene(read, path, options, error)) << refusal.first;
            EXPECT_NE(error.find(refusal.second), std::string::npos) << refusal.second << ": " << error;
            if (!keep.empty()) std::ofstream(refusal.first, std::ios::binary) << keep;
        }
    }
}

// Names that clash or that a reader would cut or split, through every writer that writes names
// and back through its reader: every object comes back, under a name distinct in the reader's
// terms that is the scene's own or one the writer's warnings name ("written as").
const std::string kLong300(300, 'x');
const std::string kLong1100a = std::string(1100, 'y') + "1";
const std::string kLong1100b = std::string(1100, 'y') + "2";

void BuildClashingMeshes(TestScene& t) {
    KQovObjectManager& m = t.manager;
    KQovMaterial* red = m.CreateMaterial("Red");
    int k = 0;
    // A name ending in a backslash would join its group line to the next; one holding a line
    // break or an escape would split or colour a warning that quoted it raw.
    for (const char* name :
         {"Hips", "hips", "HIPS", "left arm", "left_arm", "Box", "Box1", "Box", "LongNodeName1",
          "LongNodeName2", "", "tail\\", "line\nbreak", "line\nbreak", "esc\x1b[31m",
          // A 3DS cut falls inside the "\xc3\xa9"; material names longer than 3DS holds.
          "abcdef\xc3\xa9xyz", "Long1", "Long2",
          // Names like the ones writers make, blanks and tabs around or inside, a 3DS name at
          // its 10 bytes and one past it with a character of two bytes at the cut.
          "Box_1", "Box11", "Wall", "Wall ", " Wall", "WALL", "Wall1", "Wa\tll", "abcdefghij",
          "abcdefgh\xc3\xa9", "abcdefghi\xc3\xa9", "$$$DUMMY", "RootNod", "Qov_Roo", "Unnamed",
          "Unnamed_1"}) {
        KQovNode* node = m.CreateNode(name);
        KQovMaterial* own = std::string(name).compare(0, 4, "Long") == 0
                                ? m.CreateMaterial("material_longname")
                                : red;
        node->SetNodeAttribute(Cube(m, 1.0, own, own, nullptr));
        KMotionSetRestTransform(node, KVector4(3.0 * k++, 0, 0), KVector4());
        t.scene->GetRootNode()->AddChild(node);
    }
}

void BuildClashingSkeleton(TestScene& t) {
    KQovObjectManager& m = t.manager;
    auto joint = [&](KQovNode* parent, const std::string& name, double x) {
        KQovNode* node = m.CreateNode(name.c_str());
        KQovSkeleton* skeleton = m.CreateSkeleton();
        skeleton->SetSkeletonType(parent ? KQovSkeleton::eLimbNode : KQovSkeleton::eRoot);
        node->SetNodeAttribute(skeleton);
        KMotionSetRestTransform(node, KVector4(x, parent ? 10 : 0, 0), KVector4());
        (parent ? parent : t.scene->GetRootNode())->AddChild(node);
        return node;
    };
    KQovNode* top = joint(nullptr, "Top", 0);
    // Siblings at one start, so that no bone is made between them.
    joint(top, "A", 0);
    joint(top, "A_End", 0);
    // A joint and its end node, as a reader leaves them; "Scene" names a QOV file's root.
    joint(joint(top, "Scene", 0), "Scene_End", 0);
    KQovNode* chain = top;
    for (const std::string& name : std::vector<std::string>{
             "a b", "a,b", "GLOBAL", "root1", "", "tab\tname", "vt\vff\fcr\rname", kLong300,
             kLong300 + "2", "#x", "1abc", "Hips", "hips", "a b",
             // Lines that begin so begin an HTR section, end an ASF list, give an AMC frame.
             "[header]x", "End", "-1abc", "Endeffector", "line\nbreak", "line\nbreak",
             // Names the writers or readers make of their own.
             "End Site", "Site", "hips_1", "Hips1", "Dummy", "A_End_1",
             // Below the top, the Acclaim root bone's name.
             "root"})
        chain = joint(chain, name, 0);
    // Children starting apart: the skeleton writer makes a bone named "J0Dummy" for J0.
    joint(chain, "J0", 5);
    joint(chain, "J0Dummy", -5);
    StoreTake(t.scene, KTime::eFRAMES30, 0, 2);
}

void AddClashingMarkers(TestScene& t, const std::vector<std::string>& names) {
    KQovObjectManager& m = t.manager;
    KQovNode* parent = m.CreateNode("Capture");
    t.scene->GetRootNode()->AddChild(parent);
    int k = 0;
    for (const std::string& name : names) {
        KQovNode* node = m.CreateNode(name.c_str());
        KQovMarker* marker = m.CreateMarker();
        marker->SetType(KQovMarker::eOptical);
        node->SetNodeAttribute(marker);
        KMotionSetRestTransform(node, KVector4(10.0 * ++k, 0, 0), KVector4());
        parent->AddChild(node);
    }
    StoreTake(t.scene, KTime::eFRAMES30, 0, 2);
}

void BuildClashingMarkers(TestScene& t) {
    AddClashingMarkers(
        t, {"L:Hip", "R:Hip", "A B", "A_B", "m", "M", kLong300, kLong300 + "z", kLong1100a,
            kLong1100b, " pad ", "pad", "line\nbreak", "line\nbreak", "esc\x1b[31m",
            // Read back alike by TRC (a blank as '_') or C3D (blanks around dropped).
            "Lead ", "Lead_", " Lead", "Lead", "hip", "hip 1",
            // A TRC reader names it by its place.
            "Unnamed"});
}

// Names like the ones readers and writers number or name by place, and labels at the limits
// of TRC (1023 bytes) and C3D (254), a character of two bytes across each.
void BuildNumberedMarkers(TestScene& t) {
    AddClashingMarkers(t, {"Lead", "Lead_", "*Unnamed_1", "Unnamed_2", "Lead__1", "Lead_1",
                           "Lead 1", "LEAD_1", "0003", "\t", "",
                           std::string(1022, 'q') + "\xc3\xa9", std::string(1021, 'q') + "\xc3\xa9",
                           std::string(253, 'c') + "\xc3\xa9", std::string(252, 'c') + "\xc3\xa9"});
}

// No character of several bytes (UTF-8) is cut short at the end of `name`.
bool WholeCharacters(const std::string& name) {
    size_t lead = name.size();
    while (lead > 0 && (static_cast<unsigned char>(name[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead == 0) return lead == name.size();
    const unsigned char c = static_cast<unsigned char>(name[lead - 1]);
    const size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    return length == name.size() - lead + 1;
}

TEST(ConversionMatrix, EveryNameComesBackDistinct) {
    struct NameRow {
        Content content;
        const char* extension;
        bool foldCase;          // the reader takes names alike without regard to case
        bool named;             // the format holds names (else only the count comes back)
        bool numbered = false;  // markers named like the ones writers number
    };
    const NameRow rows[] = {
        {eMeshes, "obj", false, true},        {eMeshes, "dxf", true, true},
        {eMeshes, "3ds", false, true},        {eSkeleton, "bvh", false, true},
        {eSkeleton, "htr", false, true},      {eSkeleton, "amc", false, true},
        {eMarkers, "trc", true, true},        {eMarkers, "c3d", true, true},
        {eMarkers, "vpm", false, true},       {eMarkers, "aoa", false, false},
        {eMarkers, "qov", false, true},       {eSkeleton, "qov", false, true},
        {eMeshes, "qov", false, true},        {eSkeleton, "asf", false, true},
        {eMarkers, "mcd", false, false},      {eMarkers, "mov", false, false},
        {eMarkers, "brd", false, false},      {eMarkers, "trc", true, true, true},
        {eMarkers, "c3d", true, true, true},  {eMarkers, "vpm", false, true, true},
        {eMarkers, "qov", false, true, true},
    };
    const std::function<void(TestScene&)> builders[] = {BuildClashingMeshes, BuildClashingSkeleton,
                                                        BuildClashingMarkers};
    const int types[] = {KQovNodeAttribute::eMesh, KQovNodeAttribute::eSkeleton,
                         KQovNodeAttribute::eMarker};
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const NameRow& row : rows) {
        SCOPED_TRACE(std::string(kContentNames[row.content]) + " -> " + row.extension);
        TestScene written;
        (row.numbered ? BuildNumberedMarkers : builders[row.content])(written);
        const std::string path = folder / (std::string("names.") + row.extension);
        std::string error, status;
        ASSERT_TRUE(WriteScene(written, path, error, &status)) << error;
        // Every warning keeps to its line, the names' control bytes shown, never raw.
        std::string controls;
        for (char c = 1; c < 0x20; ++c)
            if (c != '\n') controls += c;
        EXPECT_EQ(status.find_first_of(controls + '\x7f'), std::string::npos) << status;
        if (row.named && !row.numbered) {
            EXPECT_NE(status.find("\"line\\x0abreak"), std::string::npos) << status;
        }
        TestScene read;
        std::unique_ptr<KStreamOptions> options;
        ASSERT_TRUE(ReadScene(read, path, options, error)) << error;
        std::vector<KQovNode*> before, after;
        CollectNodes(written.scene->GetRootNode(), before);
        CollectNodes(read.scene->GetRootNode(), after);
        std::set<std::string> scene, back;
        size_t count = 0, countBack = 0;
        // The row's kind of node, readers' end nodes aside.
        const auto counted = [&](KQovNode* node) {
            return node->GetNodeAttribute() &&
                   node->GetNodeAttribute()->GetAttributeType() == types[row.content] &&
                   !KMotionIsReaderEndNode(node);
        };
        for (KQovNode* node : before) {
            if (!counted(node)) continue;
            ++count;
            const std::string name = node->GetNameWithoutPrefix().Buffer();
            scene.insert(name);
            scene.insert(
                name.substr(name.rfind(':') == std::string::npos ? 0 : name.rfind(':') + 1));
        }
        // The skeleton's top comes back as "root" from an Acclaim pair.
        scene.insert("root");
        for (size_t at = 0; (at = status.find("written as \"", at)) != std::string::npos;) {
            at += 12;
            scene.insert(status.substr(at, status.find('"', at) - at));
        }
        // A name comes back as written: the scene's own, or the one its warning tells.
        std::map<std::string, int> toldTimes;
        for (size_t at = 0, end; (end = status.find('\n', at)) != std::string::npos; at = end + 1)
            ++toldTimes[status.substr(at, end - at)];
        for (const auto& [line, times] : toldTimes) EXPECT_EQ(times, 1) << line << ": told twice";
        for (KQovNode* node : after) {
            if (!counted(node)) continue;
            ++countBack;
            if (!row.named) continue;
            std::string name = node->GetNameWithoutPrefix().Buffer();
            EXPECT_TRUE(scene.count(name) || scene.count(KQovMessageText(name)))
                << "\"" << name << "\" is neither the scene's nor told\n"
                << status;
            EXPECT_TRUE(WholeCharacters(name)) << "\"" << KQovMessageText(name) << "\" is cut";
            if (row.foldCase) name = independent::Lower(name);
            EXPECT_TRUE(back.insert(name).second) << "\"" << name << "\" read back twice";
        }
        EXPECT_EQ(countBack, count);
        if (row.content == eMeshes && std::string(row.extension) == "3ds") {
            EXPECT_NE(status.find("Material \"material_longname\" written as \"material_lon1\""),
                      std::string::npos)
                << status;
            EXPECT_NE(status.find("written as \"abcdef\": the 3DS reader keeps 10 bytes of a name, "
                                  "a longer one is cut to 7"),
                      std::string::npos)
                << status;
        }
        if (std::string(row.extension) == "amc" || std::string(row.extension) == "asf") {
            EXPECT_NE(status.find("Node \"a,b\" written as \"a_b_1\": the ASF reader ends a name "
                                  "at a blank, tab, comma, parenthesis or line break"),
                      std::string::npos)
                << status;
        }
        if (row.numbered && std::string(row.extension) == "c3d") {
            EXPECT_NE(status.find("Node \"\\x09\" written as \"0009\": a blank C3D label is "
                                  "written blank and read back as its place"),
                      std::string::npos)
                << status;
        }
        // What was read back is written again as it is: no name changed a second time.
        if (row.named) {
            const std::string again = folder / (std::string("again.") + row.extension);
            std::string second;
            ASSERT_TRUE(WriteScene(read, again, error, &second)) << error;
            EXPECT_EQ(second.find(" written as "), std::string::npos) << second;
            // Read back, it holds the names of the first reading, and tells nothing new.
            for (size_t at = 0, end; (end = second.find('\n', at)) != std::string::npos;
                 at = end + 1)
                EXPECT_TRUE(toldTimes.count(second.substr(at, end - at)))
                    << second.substr(at, end - at);
            TestScene reread;
            ASSERT_TRUE(ReadScene(reread, again, options, error)) << error;
            std::vector<KQovNode*> third;
            CollectNodes(reread.scene->GetRootNode(), third);
            std::multiset<std::string> first, next;
            for (KQovNode* node : after)
                if (counted(node)) first.insert(node->GetNameWithoutPrefix().Buffer());
            // A skeleton reader's own top node (a host may hand it to the writer as a joint).
            for (KQovNode* node : third)
                if (counted(node) &&
                    std::string(node->GetName()).find(":reference") == std::string::npos)
                    next.insert(node->GetNameWithoutPrefix().Buffer());
            EXPECT_EQ(next, first);
        }
        // Files read apart from the library: the names are distinct there too.
        independent::Motion alone;
        if (std::string(row.extension) == "bvh") alone = independent::ReadBvh(path);
        if (std::string(row.extension) == "htr") alone = independent::ReadHtr(path);
        if (std::string(row.extension) == "trc") alone = independent::ReadTrc(path);
        EXPECT_EQ(alone.error, "");
        std::set<std::string> apart;
        for (const std::string& name : alone.names)
            EXPECT_TRUE(apart.insert(row.foldCase ? independent::Lower(name) : name).second)
                << name;
    }
}

// A name that needs no change keeps it, though an earlier repeat is numbered past it: every
// writer that numbers names sets its names aside first. Each format's own separator and letter
// case: "Box_1" beside "Box1" and "box"; materials "wood", "wood", "wood1".
TEST(ConversionMatrix, NamesThatNeedNoChangeAreKept) {
    struct KeptRow {
        Content content;
        const char* extension;
        std::vector<std::string> kept;  // names that come back as they are
    };
    const std::vector<std::string> names = {"Box", "Box", "Box_1", "Box1", "box", "Box_2"};
    const KeptRow rows[] = {
        {eMeshes, "obj", {"Box", "Box_1", "Box1", "box", "Box_2", "wood", "wood1"}},
        {eMeshes, "dxf", {"Box", "Box_1", "Box1", "Box_2"}},
        {eMeshes, "3ds", {"Box", "Box_1", "Box1", "box", "Box_2", "wood", "wood1"}},
        {eSkeleton, "bvh", {"Box", "Box_1", "Box1", "box", "Box_2"}},
        {eSkeleton, "htr", {"Box", "Box_1", "Box1", "box", "Box_2"}},
        {eSkeleton, "asf", {"Box", "Box_1", "Box1", "box", "Box_2"}},
        {eMarkers, "trc", {"Box", "Box_1", "Box1", "Box_2"}},
        {eMarkers, "c3d", {"Box", "Box_1", "Box1", "Box_2"}},
        {eMarkers, "vpm", {"Box", "Box_1", "Box1", "box", "Box_2"}},
    };
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const KeptRow& row : rows) {
        SCOPED_TRACE(std::string(kContentNames[row.content]) + " -> " + row.extension);
        TestScene written;
        KQovObjectManager& m = written.manager;
        if (row.content == eMeshes) {
            const char* const materials[] = {"wood", "wood", "wood1"};
            for (size_t k = 0; k < names.size(); ++k) {
                KQovNode* node = m.CreateNode(names[k].c_str());
                KQovMaterial* material = m.CreateMaterial(materials[k % 3]);
                node->SetNodeAttribute(Cube(m, 1.0, material, material, nullptr));
                KMotionSetRestTransform(node, KVector4(3.0 * double(k), 0, 0), KVector4());
                written.scene->GetRootNode()->AddChild(node);
            }
        } else if (row.content == eSkeleton) {
            KQovNode* chain = written.scene->GetRootNode();
            for (size_t k = 0; k <= names.size(); ++k) {
                KQovNode* node = m.CreateNode(k ? names[k - 1].c_str() : "Top");
                KQovSkeleton* skeleton = m.CreateSkeleton();
                skeleton->SetSkeletonType(k ? KQovSkeleton::eLimbNode : KQovSkeleton::eRoot);
                node->SetNodeAttribute(skeleton);
                KMotionSetRestTransform(node, KVector4(0, k ? 10 : 0, 0), KVector4());
                chain->AddChild(node);
                chain = node;
            }
            StoreTake(written.scene, KTime::eFRAMES30, 0, 2);
        } else {
            AddClashingMarkers(written, names);
        }
        const std::string path = folder / (std::string("kept.") + row.extension);
        std::string error, status;
        ASSERT_TRUE(WriteScene(written, path, error, &status)) << error;
        TestScene read;
        std::unique_ptr<KStreamOptions> options;
        ASSERT_TRUE(ReadScene(read, path, options, error)) << error;
        std::vector<KQovNode*> after;
        CollectNodes(read.scene->GetRootNode(), after);
        std::multiset<std::string> back;
        for (KQovNode* node : after)
            if (node->GetNodeAttribute() && !KMotionIsReaderEndNode(node))
                back.insert(node->GetNameWithoutPrefix().Buffer());
        for (int i = 0; i < read.manager.GetMaterialCount(); ++i)
            back.insert(read.manager.GetMaterial(i)->GetNameWithoutPrefix().Buffer());
        for (const std::string& name : row.kept)
            EXPECT_EQ(back.count(name), 1u) << name << "\n" << status;
        // The second "Box" is told under its new name, which is none of the file's own.
        const size_t told = status.find("\"Box\" written as \"");
        ASSERT_NE(told, std::string::npos) << status;
        const std::string given = status.substr(told + 18, status.find('"', told + 18) - told - 18);
        EXPECT_EQ(std::count(names.begin(), names.end(), given), 0) << status;
        EXPECT_EQ(back.count(given), 1u) << status;
        // Read apart from the library: each name once, the kept ones among them.
        independent::Motion alone;
        if (std::string(row.extension) == "bvh") alone = independent::ReadBvh(path);
        if (std::string(row.extension) == "htr") alone = independent::ReadHtr(path);
        if (std::string(row.extension) == "trc") alone = independent::ReadTrc(path);
        EXPECT_EQ(alone.error, "");
        std::set<std::string> apart(alone.names.begin(), alone.names.end());
        EXPECT_EQ(apart.size(), alone.names.size());
        for (const std::string& name : row.kept) {
            if (!alone.names.empty()) {
                EXPECT_EQ(apart.count(name), 1u) << name;
            }
        }
    }
}

}  // namespace

