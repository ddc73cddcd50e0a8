#pragma once
// Scenes built in code for the version-5 writer tests, and writing and reading them back.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ReaderTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLayer.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "attributes/KQovTexture.h"
#include "common/SceneDump.h"
#include "common/TempTestFolder.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovWriterQov5.h"
#include "scene/KDataType.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace v5test {

inline std::string ReadText(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The node tree's dump without the values of animatable properties: those live in the
// default take's channels, which the dump shows as well.
inline std::string Comparable(KQovNode& root) {
    std::stringstream in(SceneDump::NodeTree(root));
    std::string out, line;
    while (std::getline(in, line))
        if (line.find(" animatable") == std::string::npos) out += line + "\n";
    return out;
}

// A scene of nodes of the plain attribute kinds, with transforms and scene-wide settings.
struct Scene {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();

    KQovNode* Add(const char* name, KQovNodeAttribute* attribute, KQovNode* parent = nullptr) {
        KQovNode* node = manager.CreateNode(name);
        if (attribute) node->SetNodeAttribute(attribute);
        (parent ? parent : scene->GetRootNode())->AddChild(node);
        return node;
    }

    void BuildNodes() {
        KQovNull* null = manager.CreateNull();
        null->SetSize(250.0);
        KQovNode* group = Add("Group", null);
        group->SetLocalTranslation(1.0, 2.0, 3.0);
        group->SetLocalRotation(10.0, 20.0, 30.0);
        group->SetLocalScaling(1.0, 2.0, 0.5);

        KQovMarker* marker = manager.CreateMarker();
        KQovNode* markerNode = Add("Effector", nullptr, group);
        marker->SetType(KQovMarker::eIKEffector);
        markerNode->SetNodeAttribute(marker);
        marker->SetLook(2);
        marker->SetSize(3.5);
        marker->SetColor(0.5, 0.25, 1.0, 1.0);
        marker->SetShowLabel(true);
        // A scene read from a file carries an effector's reach values as node properties too.
        for (const char* name : {"IK Reach Translation", "IK Reach Rotation"}) {
            KProperty* reach = markerNode->GetPropertyHandler()->CreateProperty(
                name, KProperty::eDOUBLE, KDataType::FindByName(name), true, false);
            reach->SetUserFlag(8, true);
            markerNode->AddUserProperty(manager.CreateUserPropertyFromProperty(reach));
        }

        KQovCamera* camera = manager.CreateCamera();
        KQovNode* cameraNode = Add("Cam", nullptr, group);
        cameraNode->SetNodeAttribute(camera);
        camera->SetPosition(KVector4(5.0, 6.0, 7.0, 1.0));
        camera->SetNearPlane(2.5);
        camera->SetFarPlane(900.0);
        camera->SetCameraFormat(9);
        // The reader takes the model's "Version" for the camera's and so derives the focal
        // length from the field of view: the two are kept in step here.
        camera->SetFocalLengthFromFieldOfView(camera->GetDefaultFieldOfView());

        // Top-level nodes in name order: the reader puts them under the root in that order.
        KQovNode* hidden = Add("Hidden", manager.CreateNull());
        hidden->SetVisibility(false);
        hidden->SetShadingMode(3);
        hidden->SetCullingMode(KQovNode::eCullingOnCW);
        hidden->SetMultiTake(2);
        KQovSkeleton* hips = manager.CreateSkeleton();
        KQovNode* hipsNode = Add("Hips", hips);
        hips->SetSize(42.0);
        KQovSkeleton* thigh = manager.CreateSkeleton();
        thigh->SetSkeletonType(KQovSkeleton::eLimb);
        thigh->SetLimbLength(2.0);
        thigh->SetColor(0.1, 0.2, 0.3);
        KQovNode* thighNode = Add("Thigh", thigh, hipsNode);
        thighNode->SetLocalTranslation(0.0, -4.0, 0.0);
        KQovSkeleton* knee = manager.CreateSkeleton();
        knee->SetSkeletonType(KQovSkeleton::eLimbNode);
        knee->SetSize(7.0);
        knee->SetColor(0.4, 0.5, 0.6);
        Add("Knee", knee, thighNode);

        KQovLight* light = manager.CreateLight();
        KQovNode* lamp = Add("Lamp", nullptr);
        lamp->SetNodeAttribute(light);
        light->SetLightType(KQovLight::eSpot);
        light->SetCastLightOnObject(false);
        light->SetDefaultColor(1.0, 0.5, 0.25);
        light->SetDefaultIntensity(75.0);
        light->SetDefaultConeAngle(30.0);
        light->SetDefaultFog(10.0);
    }

    void BuildSettings() {
        KQovGlobalLightSettings& light = scene->GetGlobalLightSettings();
        light.SetAmbientColor(KColor(0.1, 0.2, 0.3, 1.0));
        light.SetFogEnable(true);
        light.SetFogMode(2);
        light.SetFogDensity(0.25);
        light.SetFogEnd(500.0);
        light.SetFogStart(50.0);
        light.SetFogColor(KColor(0.5, 0.6, 0.7, 0.2));
        KQovShadowPlane plane;
        plane.origin = KVector4(1.0, 2.0, 3.0);
        plane.normal = KVector4(0.0, 0.0, 1.0);
        plane.enabled = true;
        light.AddShadowPlane(plane);
        light.SetShadowEnable(true);
        light.SetShadowIntensity(0.75);
        KQovGlobalTimeSettings& time = scene->GetGlobalTimeSettings();
        time.SetTimeMode(KTime::eFRAMES50);
        time.SetSnapOnFrames(1);
        KQovTimeMarker marker;
        marker.name = "Start";
        marker.time = KTime(4618615800);
        marker.loop = 1;
        time.AddTimeMarker(marker);
        scene->GetGlobalCameraSettings().SetDefaultCamera("Producer Top");
        scene->GetGlobalCameraSettings().SetDefaultViewingMode(2);
    }

    // A take "Walk" on every node, with two keys on the group's X translation.
    void BuildTake(const char* name = "Walk") {
        AddTakeTo(scene->GetRootNode(), name);
        KQovNode* group = scene->GetRootNode()->FindChild("Group");
        KQovTakeNode* take = group->GetTakeNode(group->GetTakeNodeCount() - 1);
        KFCurve* curve = take->GetTranslationX();
        curve->ResizeKeyBuffer(2);
        curve->KeySet(0, KTime(0), 1.0f);
        curve->KeySet(1, KTime(46186158000), 4.0f);
        curve->CommitKeys(2);
    }

    void AddTakeTo(KQovNode* node, const char* name) {
        node->AddTakeNode(name);
        for (int i = 0; i < node->GetChildCount(); ++i) AddTakeTo(node->GetChild(i), name);
    }

    std::string Dump() { return Comparable(*scene->GetRootNode()); }
};

// A unit square cut into two triangles, with normals, groups, colours, UVs and a material
// and texture per polygon.
struct MeshScene : v5test::Scene {
    KQovMesh* mesh = manager.CreateMesh();
    KQovNode* node = nullptr;
    KQovMaterial* red = manager.CreateMaterial("Material::Red");
    KQovMaterial* blue = manager.CreateMaterial("Material::Blue");
    KQovTexture* wood = manager.CreateTexture("Texture::Wood");

    MeshScene() {
        mesh->InitControlPoints(4);
        mesh->InitNormals(4);
        const double xy[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        for (int i = 0; i < 4; ++i)
            mesh->SetControlPointAt(KVector4(xy[i][0], xy[i][1], 0.5 * i, 1.0),
                                    KVector4(0, 0, 1, 1), i);
        mesh->BeginPolygon(-1, -1, 3);
        for (int v : {0, 1, 2}) mesh->AddPolygonVertex(v);
        mesh->BeginPolygon(-1, -1, 5);
        for (int v : {0, 2, 3}) mesh->AddPolygonVertex(v);
        KQovLayer& layer = *mesh->GetLayer(0);
        KQovLayerElementColor& colors = *[&] {
            layer.SetVertexColors(std::make_unique<KQovLayerElementColor>());
            return layer.GetVertexColors();
        }();
        colors.SetMappingMode(1);
        colors.SetReferenceMode(0);
        for (int i = 0; i < 4; ++i) colors.GetDirectArray().Add(KColor(0.25 * i, 0.5, 1.0, 0.75));
        mesh->AddMaterial(red, 0);
        mesh->AddMaterial(blue, 0);
        KQovLayerElementMaterial& materials = *layer.GetMaterials();
        materials.SetMappingMode(3);
        materials.SetReferenceMode(2);
        materials.GetIndexArray().Clear();
        for (int m : {1, 0}) materials.GetIndexArray().Add(m);
        red->SetDefaultShininess(0.5);
        wood->SetMediaName("Video::wood.tif");
        mesh->AddTexture(wood, 0);
        KQovLayerElementTexture& textures = *layer.GetTextures();
        textures.SetMappingMode(3);
        textures.GetIndexArray().Clear();
        for (int t : {0, -4}) textures.GetIndexArray().Add(t);  // -4: no texture to name
        KQovLayerElementUV& uvs = layer.MakeUVs();
        uvs.SetMappingMode(2);
        uvs.SetReferenceMode(2);
        for (int i = 0; i < 4; ++i) uvs.GetDirectArray().Add(KVector2(xy[i][0], xy[i][1]));
        for (int v : {0, 1, 2, 0, 2, 3}) uvs.GetIndexArray().Add(v);
        // Into the scene last: the node brings its materials and textures into the container.
        node = Add("Square", mesh);
    }

    // The node again, with what its geometry uses now.
    void Reattach() {
        scene->GetRootNode()->RemoveChild(node);
        scene->GetRootNode()->AddChild(node);
    }

    // A second texture layer whose UVs map by polygon vertex: written in "GeometryLayer".
    KQovLayer& AddTextureLayer(const std::vector<int>& uvIds, int uvMapping) {
        const int index = mesh->CreateLayer();
        KQovLayer& layer = *mesh->GetLayer(index);
        mesh->AddTexture(wood, index);
        Reattach();
        KQovLayerElementTexture& textures = *layer.GetTextures();
        textures.SetMappingMode(4);
        textures.GetIndexArray().Clear();
        textures.GetIndexArray().Add(0);
        KQovLayerElementUV& uvs = layer.MakeUVs();
        uvs.SetMappingMode(uvMapping);
        uvs.SetReferenceMode(2);
        for (int i = 0; i < 3; ++i) uvs.GetDirectArray().Add(KVector2(0.1 * i, 0.2 * i));
        for (int v : uvIds) uvs.GetIndexArray().Add(v);
        return layer;
    }
};

inline void AllOn(KStreamOptionsQov& options) {
    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
}

// Writes `scene` into `name` with a writer of the mode; false with the writer's error text.
inline bool WriteFile(KQovScene* scene, const std::string& name, int mode,
                      KStreamOptions* options = nullptr, std::string* error = nullptr) {
    KStreamOptionsQov all;
    AllOn(all);
    KQovWriterQov5 writer(scene->GetObjectManager(), nullptr);
    writer.SetFileMode(mode);
    if (!writer.FileCreate(name.c_str())) return false;
    const bool ok = writer.Write(scene, options ? options : &all);
    if (error) *error = writer.GetLastErrorString() ? writer.GetLastErrorString() : "";
    return writer.FileClose() && ok;
}

// Writes past `limit` bytes fail (as on a full disk) while the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        mOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &mOld);
        rlimit tight = mOld;
        tight.rlim_cur = limit;
        mSet = setrlimit(RLIMIT_FSIZE, &tight) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &mOld);
        std::signal(SIGXFSZ, mOldHandler);
    }
    bool IsSet() const { return mSet; }

private:
    rlimit mOld;
    void (*mOldHandler)(int);
    bool mSet = false;
};

// The file without what changes from run to run (creation time).
inline std::string Stable(const std::string& text) {
    static const char* const kStamps[] = {
        "Year:", "Month:", "Day:", "Hour:", "Minute:", "Second:", "Millisecond:", "CreationTime:"};
    std::stringstream in(text);
    std::string out, line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(' ');
        for (const char* stamp : kStamps)
            if (start != std::string::npos && line.compare(start, std::strlen(stamp), stamp) == 0)
                line = line.substr(0, start + std::strlen(stamp)) + " ~";
        out += line + "\n";
    }
    return out;
}

// "Field value" lines of the fields named `fields`, from the first line holding `from` on.
inline std::string Fields(const std::string& text, const char* from,
                          std::initializer_list<const char*> fields) {
    std::stringstream in(text.substr(std::min(text.size(), text.find(from))));
    std::string out, line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(' ');
        for (const char* field : fields) {
            const std::string head = std::string(field) + ": ";
            if (start != std::string::npos && line.compare(start, head.size(), head) == 0)
                out += std::string(field) + " " + line.substr(start + head.size()) + "\n";
        }
    }
    return out;
}

// Compares the ASCII file with its golden copy; QOV_UPDATE_GOLDEN=1 rewrites the copy.
inline void ExpectGolden(const std::string& written, const char* golden) {
    const std::string text = Stable(ReadText(written));
    const std::string path = Golden(golden);
    if (std::getenv("QOV_UPDATE_GOLDEN")) {
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    EXPECT_EQ(text, ReadText(path)) << golden;
}

// Options with only the given switches on.
inline void Only(KStreamOptionsQov& options, std::initializer_list<int> on) {
    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, false);
    for (int i : on) options.SetSwitch(i, true);
}

}  // namespace v5test
