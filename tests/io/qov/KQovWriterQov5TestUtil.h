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

#include "GeometryTestUtil.h"
#include "ReaderTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLayer.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovLimitsUtility.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/KQovSkeleton.h"
#include "attributes/KQovTexture.h"
#include "character/KQovCharacter.h"
#include "character/KQovCharacterPose.h"
#include "character/KQovCharacterRoleTable.h"
#include "character/KQovControlSet.h"
#include "common/SceneDump.h"
#include "common/TempTestFolder.h"
#include "fieldfile/FieldFileTestUtil.h"
#include "foundation/KPath.h"
#include "io/KQovExporter.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovWriterQov5.h"
#include "scene/KDataType.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPose.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovThumbnail.h"

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
        // A focal length of its own: the camera section's version says it is stored as such.
        camera->SetFocalLength(50.0);

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

    // Values set on a node's properties reach its default channels only when written there;
    // a file holds them there, so a scene read back has them in both places.
    void SyncChannels(KQovNode* node = nullptr) {
        node = node ? node : scene->GetRootNode();
        node->WritePropertyDefaults();
        for (int i = 0; i < node->GetChildCount(); ++i) SyncChannels(node->GetChild(i));
    }

    // "Square": a unit square cut into two triangles, with normals, groups, colours, UVs and a
    // material and texture per polygon.
    KQovMesh* mesh = nullptr;
    KQovNode* node = nullptr;
    KQovMaterial* red = nullptr;
    KQovMaterial* blue = nullptr;
    KQovTexture* wood = nullptr;

    void BuildMesh() {
        mesh = manager.CreateMesh();
        red = manager.CreateMaterial("Material::Red");
        blue = manager.CreateMaterial("Material::Blue");
        wood = manager.CreateTexture("Texture::Wood");
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

    // One of everything the version-5 layout carries, for round trips (see BuildEverything).
    void BuildSurfaces() {
        // Added before "Patch" and "Square": the read keeps the order of the file.
        KQovNurb* nurb = manager.CreateNurb();
        nurb->SetOrder(2, 2);
        nurb->InitControlPoints(2, KQovNurb::eOpen, 2, KQovNurb::eOpen);
        const double w[4] = {1.0, 0.5, 2.0, 0.25};
        for (int i = 0; i < 4; ++i)
            nurb->GetControlPoints().SetAt(i, KVector4(i, 2.0 * i, 0.0, w[i]));
        KQovPatch* patch = manager.CreatePatch();
        patch->InitControlPoints(2, KQovPatch::eLinear, 2, KQovPatch::eLinear);
        patch->SetClosed(true, false);
        for (int i = 0; i < 4; ++i)
            patch->GetControlPoints().SetAt(i, KVector4(i % 2, i / 2, 0.25 * i, 1.0));
        // The surfaces' shading as a read gives it: one material on both, listed for the whole
        // surface; a texture with UVs by control point on a second layer of the NURBS surface.
        KQovMaterial* green = manager.CreateMaterial("Material::Green");
        green->SetDefaultShininess(0.25);
        KQovTexture* stone = manager.CreateTexture("Texture::Stone");
        stone->SetMediaName("Video::stone.tif");
        for (KQovGeometry* surface :
             {static_cast<KQovGeometry*>(nurb), static_cast<KQovGeometry*>(patch)}) {
            surface->AddMaterial(green, 0);
            KQovLayerElementMaterial& materials = *surface->GetLayer(0)->GetMaterials();
            materials.SetMappingMode(KQovLayer::eNone);
            materials.SetReferenceMode(KQovLayer::eDirect);
            materials.GetIndexArray().Clear();
        }
        nurb->AddTexture(stone, 1);
        KQovLayer& surfaceLayer = *nurb->GetLayer(1);
        KQovLayerElementTexture& textures = *surfaceLayer.GetTextures();
        textures.SetMappingMode(KQovLayer::eAllSame);
        textures.GetIndexArray().Clear();
        textures.GetIndexArray().Add(0);
        KQovLayerElementUV& uvs = surfaceLayer.MakeUVs();
        uvs.SetMappingMode(KQovLayer::eByControlPoint);
        uvs.SetReferenceMode(KQovLayer::eDirect);
        for (int i = 0; i < 4; ++i)
            uvs.GetDirectArray().Add(KVector2(0.5 * (i % 2), 0.5 * (i / 2)));
        Add("Surface", nurb);
        Add("Patch", patch)->SetLocalTranslation(0.0, 0.0, -5.0);
        BuildMesh();
        // As a read gives them: every texture index names a texture, the groups also kept as
        // layer 0's element, a shape of a mesh with normals has normals.
        mesh->GetLayer(0)->GetTextures()->GetIndexArray().SetAt(1, 0);
        auto groups = std::make_unique<KQovLayerElementPolygonGroup>();
        groups->SetMappingMode(KQovLayer::eByPolygon);
        groups->SetReferenceMode(KQovLayer::eIndex);
        for (int p = 0; p < mesh->GetPolygonCount(); ++p)
            groups->GetIndexArray().Add(mesh->GetPolygon(p).group);
        mesh->GetLayer(0)->SetPolygonGroups(std::move(groups));
        // Surface settings, made different in each direction and field.
        mesh->GetUSurface() = KQovMeshSurfaceFields{2, true, false, 4, 3};
        mesh->GetVSurface() = KQovMeshSurfaceFields{1, false, true, 6, 5};
        KQovNode* bone = scene->GetRootNode()->FindChild("Hips");
        KQovLink* link = manager.CreateLink();
        link->SetLink(bone);
        link->SetLinkMode(1);
        link->AddControlPointIndex(0, 1.0);
        link->AddControlPointIndex(2, 0.5);
        link->SetTransformMatrix(
            KAffineMatrix(KVector4(1, 2, 3), KVector4(0, 0, 0), KVector4(1, 1, 1)));
        link->SetTransformLinkMatrix(
            KAffineMatrix(KVector4(0, 1, 0), KVector4(0, 0, 0), KVector4(1, 1, 1)));
        mesh->AddLink(link);
        // The patch is skinned to the thigh as well.
        KQovLink* patchLink = manager.CreateLink();
        patchLink->SetLink(bone->FindChild("Thigh"));
        patchLink->AddControlPointIndex(1, 0.75);
        patch->AddLink(patchLink);
        KQovShape* shape = manager.CreateShape();
        shape->InitControlPoints(4);
        for (int i = 0; i < 4; ++i)
            shape->GetControlPoints().SetAt(i, mesh->GetControlPoints().GetAt(i));
        shape->GetControlPoints().SetAt(3, KVector4(0, 1, 2.5, 1));
        shape->InitNormals(4);
        for (int i = 0; i < 4; ++i) shape->GetNormals()->SetAt(i, mesh->GetNormals()->GetAt(i));
        mesh->AddShape(shape, "Lift");
        node->CreateUserPropertiesFromPropertySet();  // the shape's property gets its record
    }

    // Characters on the skeleton with a control set, poses, a character pose holding a scene
    // of its own, a gobo, a second take with its information and the scene information.
    void BuildCharacters() {
        KQovNode* root = scene->GetRootNode();
        KQovNode* hips = root->FindChild("Hips");
        KQovNode* thigh = hips->FindChild("Thigh");
        KQovCharacter* hero = scene->GetCharacter(scene->CreateCharacter("Hero"));
        const struct {
            int slot;
            KQovNode* model;
        } kLinks[] = {{0, hips}, {1, thigh}, {KQovCharacterRoleTable::kReferenceSlot + 1, hips}};
        for (const auto& l : kLinks) {
            KQovCharacterLink link;
            link.model = l.model;
            link.translationOffset = KVector4(1.0, 2.0, 3.0, 1.0);
            link.rotationOffset = KVector4(10.0, 0.0, 5.0, 1.0);
            hero->SetCharacterLink(l.slot, link, false);
        }
        KQovControlSet* set = hero->GetControlSet();
        set->SetType(2);
        set->SetLockPick(1);
        KQovControlSetLink fk;
        fk.model = thigh;
        set->SetFKLink(2, fk);
        KQovEffectorRecord flags;
        flags.translationActive = 1;
        set->SetEffector(0, hips, flags);
        set->SetAuxEffector(3, thigh, 1);
        scene->GetCharacter(scene->CreateCharacter("Second"))
            ->SetInput(KQovCharacter::eInputCharacter, hero);
        KMatrix m;
        m[3][0] = 4.0;
        KQovPose* bind = manager.CreatePose("Bind", true);
        bind->Add("Model::Hips", m);
        bind->Add("Model::Thigh", m);
        scene->AddPose(bind);
        KQovPose* rest = manager.CreatePose("Rest", false);
        rest->Add("Model::Group", m, true);
        scene->AddPose(rest);
        if (KQovCharacterPose* pose = scene->GetCharacterPose(scene->CreateCharacterPose("Stance")))
            if (KQovScene* inner = pose->GetScene())
                inner->GetRootNode()->AddChild(manager.CreateNode("PoseBone"));
        KQovLight* light = root->FindChild("Lamp")->GetLight();
        light->SetGoboFileName("/gobos/star.tif");
        light->SetDrawVolumetricLight(true);
        KQovSceneInfo* info = KQovCreateSceneInfo(&manager);
        info->title = "Title";
        info->author = "Somebody";
        info->comment = "everything once";
        KQovThumbnail* thumbnail = manager.CreateThumbnail();
        thumbnail->SetDataFormat(0);
        thumbnail->SetSize(2);
        for (int i = 0; i < thumbnail->GetSizeInBytes(); ++i)
            thumbnail->GetImage()[i] = uint8_t(i * 20);
        info->SetThumbnail(thumbnail);
        scene->SetSceneInfo(info);
    }

    // A second take "Run" with keys on the square, described by its take information.
    void BuildSecondTake() {
        AddTakeTo(scene->GetRootNode(), "Run");
        KQovNode* square = scene->GetRootNode()->FindChild("Square");
        KQovTakeNode* take = square->GetTakeNode(square->GetTakeNodeCount() - 1);
        for (KFCurve* curve : {take->GetTranslationY(), take->GetRotationZ()}) {
            curve->ResizeKeyBuffer(3);
            curve->KeySet(0, KTime(0), 0.5f);
            curve->KeySet(1, KTime(46186158000), -2.0f);
            curve->KeySet(2, KTime(92372316000), 7.25f);
            curve->CommitKeys(3);
        }
        KQovTakeInfo info;
        info.name = "Run";
        info.comment = "faster";
        info.localTimeSpan = KTimeSpan(KTime(0), KTime(92372316000));
        info.referenceTimeSpan = info.localTimeSpan;
        scene->SetTakeInfo(info);
    }

    // The fixture the round trips of both layouts share; `media` is a file the texture shows.
    void BuildEverything(const std::string& media = "") {
        BuildNodes();
        BuildSettings();
        BuildSurfaces();
        BuildTake();
        KQovTakeInfo walk;  // a read gives every take its information
        walk.name = "Walk";
        walk.localTimeSpan = KTimeSpan(KTime(0), KTime(46186158000));
        walk.referenceTimeSpan = walk.localTimeSpan;
        scene->SetTakeInfo(walk);
        BuildSecondTake();
        BuildCharacters();
        // Limits on the thigh: translation active and enabled, rotation active, scaling left
        // automatic.
        KQovLimitsUtility limits(&scene->GetRootNode()->FindChild("Thigh", true)->GetLimits());
        limits.SetAuto(KQovLimitsUtility::eTranslation, false);
        limits.SetEnable(KQovLimitsUtility::eTranslation, true);
        limits.SetMin(KQovLimitsUtility::eTranslation, KVector4(-1.0, -2.0, -3.0, 0.0));
        limits.SetMax(KQovLimitsUtility::eTranslation, KVector4(1.0, 2.0, 3.0, 0.0));
        limits.SetAuto(KQovLimitsUtility::eRotation, false);
        limits.SetDefault(KQovLimitsUtility::eRotation, KVector4(5.0, 0.0, 0.0, 0.0));
        if (!media.empty()) {
            std::ofstream(media, std::ios::binary) << "texture bytes";
            wood->SetFileName(media.c_str());
        }
        scene->SetCurrentTake("Walk");
        SyncChannels();
    }
};

// The fixture's square on its own.
struct MeshScene : Scene {
    MeshScene() { BuildMesh(); }
};

inline std::string Matrix(const KMatrix& m) {
    std::string out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out += " " + geotest::Num(m[r][c]);
    return out;
}

// Characters with their links and control sets, poses, character poses (their scenes too).
inline std::string CharacterDump(KQovScene* scene, int depth = 0) {
    std::string out;
    auto model = [](const KQovNode* n) { return std::string(n ? n->GetName() : "-"); };
    for (int c = 0; c < scene->GetCharacterCount(); ++c) {
        KQovCharacter* character = scene->GetCharacter(c);
        out += SceneDump::Object(*character, 0, SceneDump::eProperties);
        out += "  input " + std::to_string(character->GetInputType()) + " " +
               (character->GetInput() ? character->GetInput()->GetName() : "-") + "\n";
        for (int slot = 0; slot < KQovCharacterRoleTable::kSlotCount; ++slot) {
            KQovCharacterLink link;
            if (!character->GetCharacterLink(slot, &link) || (!link.model && link.name.IsEmpty()))
                continue;
            out += "  link " + std::to_string(slot) + " " + model(link.model) + " " +
                   link.name.Buffer() + " t " + geotest::Point(link.translationOffset, 3) + " r " +
                   geotest::Point(link.rotationOffset, 3) + " s " +
                   geotest::Point(link.scalingOffset, 3) + "\n";
        }
        KQovControlSet* set = character->GetControlSet();
        out += "  control set type " + std::to_string(set->GetType()) + " lock " +
               std::to_string(set->GetLockTransform()) + std::to_string(set->GetLockPick()) + "\n";
        for (int slot = 0; slot < KQovControlSet::kLinkCount; ++slot) {
            KQovControlSetLink link;
            if (set->GetFKLink(slot, &link) && (link.model || !link.name.IsEmpty()))
                out += "  fk " + std::to_string(slot) + " " + model(link.model) + "\n";
        }
        for (int e = 0; e < KQovControlSet::kEffectorCount; ++e) {
            KQovEffectorRecord r;
            if (set->GetEffector(e, &r) && r.model)
                out += "  effector " + std::to_string(e) + " " + model(r.model) + " " +
                       std::to_string(r.show) + std::to_string(r.translationActive) +
                       std::to_string(r.rotationActive) + "\n";
            for (int a = 1; a <= KQovControlSet::kAuxiliaryCount; ++a) {
                KQovNode* aux = nullptr;
                if (set->GetAuxEffector(e, &aux, a) && aux)
                    out += "  aux " + std::to_string(e) + "/" + std::to_string(a) + " " +
                           model(aux) + "\n";
            }
        }
    }
    for (int p = 0; p < scene->GetPoseCount(); ++p) {
        KQovPose* pose = scene->GetPose(p);
        out += std::string("pose ") + pose->GetName() + " " + pose->GetTypeName().Buffer() + "\n";
        for (int i = 0; i < pose->GetCount(); ++i)
            out += std::string("  ") + pose->GetNodeName(i) + Matrix(pose->GetMatrix(i)) +
                   (pose->IsLocalMatrix(i) ? " local" : "") + "\n";
    }
    for (int p = 0; p < scene->GetCharacterPoseCount() && depth < 4; ++p) {
        KQovCharacterPose* pose = scene->GetCharacterPose(p);
        out += std::string("character pose ") + pose->GetName() + "\n";
        if (KQovScene* inner = pose->GetScene()) {
            KQovNode* root = inner->GetRootNode();
            for (int i = 0; i < root->GetChildCount(); ++i)
                out += "  node " + model(root->GetChild(i)) + "\n";
            out += CharacterDump(inner, depth + 1);
        }
    }
    return out;
}

// Take information, scene information and the lights' gobos.
inline std::string SceneWideDump(KQovScene* scene) {
    std::string out = std::string("current take ") + scene->GetCurrentTakeName() + "\n";
    std::vector<KString> names;
    scene->FillTakeNameArray(names);
    for (const KString& name : names)
        if (KQovTakeInfo* info = scene->GetTakeInfo(name.Buffer()))
            out += std::string("take info ") + info->name.Buffer() + " \"" +
                   info->comment.Buffer() + "\" " +
                   std::to_string(info->localTimeSpan.GetStart().Get()) + " " +
                   std::to_string(info->localTimeSpan.GetStop().Get()) + " " +
                   std::to_string(info->referenceTimeSpan.GetStart().Get()) + " " +
                   std::to_string(info->referenceTimeSpan.GetStop().Get()) + "\n";
    if (KQovSceneInfo* info = scene->GetSceneInfo()) {
        out += std::string("scene info ") + info->title.Buffer() + "/" + info->subject.Buffer() +
               "/" + info->author.Buffer() + "/" + info->keywords.Buffer() + "/" +
               info->revision.Buffer() + "/" + info->comment.Buffer() + "\n";
        if (KQovThumbnail* t = info->GetThumbnail()) {
            out += "  thumbnail " + std::to_string(t->GetSize()) + ":";
            for (int i = 0; i < t->GetSizeInBytes(); ++i)
                out += " " + std::to_string(t->GetImage()[i]);
            out += "\n";
        }
    }
    std::vector<KQovNode*> nodes{scene->GetRootNode()};
    for (size_t i = 0; i < nodes.size(); ++i) {
        for (int c = 0; c < nodes[i]->GetChildCount(); ++c) nodes.push_back(nodes[i]->GetChild(c));
        if (KQovLight* light = nodes[i]->GetLight())
            out += std::string("gobo ") + nodes[i]->GetName() + " " +
                   KExtractFileName(light->GetGoboFileName(), true).Buffer() + " " +
                   std::to_string(light->GetDrawVolumetricLight()) + "\n";
    }
    return out;
}

// What a round trip must keep: the node tree, each geometry and the scene's materials and
// textures.
inline std::string EverythingDump(KQovScene* scene) {
    KQovNode* root = scene->GetRootNode();
    std::string out;  // the root itself is not written
    for (int i = 0; i < root->GetChildCount(); ++i) out += SceneDump::NodeTree(*root->GetChild(i));
    std::vector<KQovNode*> nodes{root};
    for (size_t i = 0; i < nodes.size(); ++i) {
        for (int c = 0; c < nodes[i]->GetChildCount(); ++c) nodes.push_back(nodes[i]->GetChild(c));
        if (nodes[i]->GetGeometry()) out += geotest::Geometry(nodes[i]);
        KQovLimitsUtility limits(&nodes[i]->GetLimits());
        out += std::string(nodes[i]->GetName()) + " limits";
        // An automatic limit keeps no values in a file.
        for (int k = 0; k < 3; ++k)
            out += limits.GetAuto(k) ? std::string(" auto")
                                     : " " + std::to_string(limits.GetEnable(k)) + " " +
                                           geotest::Point(limits.GetDefault(k), 3) + " " +
                                           geotest::Point(limits.GetMin(k), 3) + " " +
                                           geotest::Point(limits.GetMax(k), 3);
        out += "\n";
    }
    KQovEntityContainer* entity = scene->GetEntityContainer();
    for (int i = 0; i < entity->GetMaterialCount(); ++i)
        out += SceneDump::Object(*entity->GetMaterial(i));
    for (int i = 0; i < entity->GetTextureCount(); ++i) {
        KQovObject* texture = entity->GetTexture(i);
        out += SceneDump::Object(*texture);
        if (auto* t = dynamic_cast<KQovTexture*>(texture))
            out +=
                std::string("  file ") + KExtractFileName(t->GetFileName(), true).Buffer() + "\n";
    }
    return out + CharacterDump(scene) + SceneWideDump(scene);
}

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

// The end block's marker in binary files.
inline const uint8_t kFooter[16] = {0xf8, 0x5a, 0x8c, 0x6a, 0xde, 0xf5, 0xd9, 0x7e,
                                    0xec, 0xe9, 0x0c, 0xe3, 0x75, 0x8f, 0x29, 0x0b};

// Zeroes `size` bytes after every record name `name` whose first value has the type letter
// `type`, `skip` bytes into the value (a length prefix); size 0 takes the length prefix.
inline void MaskAfterName(std::string& bytes, const std::string& name, char type, size_t skip,
                          size_t size) {
    const std::string head = std::string(1, char(name.size())) + name + type;
    for (size_t at = bytes.find(head); at != std::string::npos; at = bytes.find(head, at + 1)) {
        size_t value = at + head.size();
        size_t n = size;
        if (n == 0 && value + 4 <= bytes.size())
            n = uint8_t(bytes[value]) | uint8_t(bytes[value + 1]) << 8 |
                uint8_t(bytes[value + 2]) << 16 | size_t(uint8_t(bytes[value + 3])) << 24;
        value += skip;
        for (size_t i = value; i < value + n && i < bytes.size(); ++i) bytes[i] = 0;
    }
}

// A binary file with its time stamps, file ids and end-block ids zeroed.
inline std::string StableBinary(std::string bytes) {
    for (const char* stamp : {"Year", "Month", "Day", "Hour", "Minute", "Second", "Millisecond"})
        MaskAfterName(bytes, stamp, 'I', 0, 4);
    MaskAfterName(bytes, "FileId", 'R', 4, 16);
    MaskAfterName(bytes, "CreationTime", 'S', 4, 0);
    const std::string footer(reinterpret_cast<const char*>(kFooter), sizeof kFooter);
    for (size_t at = bytes.find(footer); at != std::string::npos; at = bytes.find(footer, at + 1)) {
        // The id and its padding sit before the 128-byte end block.
        if (at < 128 + 32) continue;
        for (size_t i = at - 128 - 32; i < at - 128; ++i) bytes[i] = 0;
    }
    return bytes;
}

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

// The scene exported in file format `id` (0 and 3 are binary), as Stable or StableBinary gives
// it; a text saying what failed when it could not be written.
inline std::string ExportStable(KQovScene* scene, const std::string& name, int id) {
    KQovExporter exporter(scene->GetObjectManager());
    if (!exporter.Initialize(name.c_str())) return "cannot create " + name;
    exporter.SetFileFormat(id);
    if (!exporter.Export(scene, nullptr)) return "cannot write " + name;
    const std::string raw = ReadText(name);
    return id == 0 || id == 3 ? StableBinary(raw) : Stable(raw);
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
