// The version-6 writer: the fixture scene through every QOV writing id and back, the caller's
// scene left alone, the file's frame (Summary, password, encryption).

#include "GeometryTestUtil.h"
#include "KQovWriterQov5TestUtil.h"
#include "TextReadTestUtil.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLink.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "fieldfile/KQovFieldFile.h"
#include "io/qov/KQovWriterQov6.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovPose.h"
#include "scene/KQovVideo.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

// The fixture scene: a mesh with every layer element, two materials and textures on two
// layers, nodes of every plain kind with a look-at target, settings and one take.
struct Fixture : v5test::MeshScene {
    Fixture() {
        red->SetDefaultDiffuse(KColor(0.1, 0.2, 0.3));
        blue->SetDefaultAmbient(KColor(0.0, 0.0, 0.75));
        wood->SetFileName("/textures/wood.tif");
        // A texture index that names nothing is stored as -1, the file's "none".
        mesh->GetLayer(0)->GetTextures()->GetIndexArray().SetAt(1, -1);
        AddTextureLayer({0, 1, 2, 0, 1, 2}, 2);
        BuildNodes();
        BuildSettings();
        KQovNode* root = scene->GetRootNode();
        // A skin link on the hips, the group its associate model, and a blend shape.
        KQovLink* link = manager.CreateLink();
        link->SetLink(root->FindChild("Hips"));
        link->SetLinkMode(2);
        link->SetUserData("id", "data");
        link->AddControlPointIndex(0, 1.0);
        link->AddControlPointIndex(3, 0.25);
        link->SetTransformMatrix(
            KAffineMatrix(KVector4(1, 2, 3), KVector4(0, 0, 0), KVector4(1, 1, 1)));
        link->SetTransformLinkMatrix(
            KAffineMatrix(KVector4(0, 1, 0), KVector4(0, 0, 0), KVector4(1, 1, 1)));
        link->SetAssociateModel(root->FindChild("Group"));
        link->SetTransformAssociateModelMatrix(
            KAffineMatrix(KVector4(0, 0, 4), KVector4(0, 0, 0), KVector4(1, 1, 1)));
        mesh->AddLink(link);
        // The shape has normals of its own: a read shape gets the base's moved by the deltas.
        KQovShape* shape = manager.CreateShape();
        shape->InitControlPoints(4);
        shape->InitNormals(4);
        for (int i = 0; i < 4; ++i)
            shape->SetControlPointAt(mesh->GetControlPoints().GetAt(i), KVector4(0, 0, 1, 1), i);
        shape->GetControlPoints().SetAt(3, KVector4(0, 1, 2.5, 1));
        mesh->AddShape(shape, "Lift");
        // The shape's channel property is a user property as the reader makes it.
        KQovNode* square = root->FindChild("Square");
        square->AddUserProperty(manager.CreateUserPropertyFromProperty(
            square->GetPropertyHandler()->FindProperty("Lift")));
        root->FindChild("Cam", true)->SetLookAtTarget(root->FindChild("Lamp", true));
        root->FindChild("Lamp")->GetLight()->SetGoboFileName("/gobos/star.tif");
        manager.CreateGenericNode("Notes")->SetEntity(scene->GetEntityContainer());
        // A bind pose and a rest pose with a local matrix.
        for (bool bind : {true, false}) {
            KQovPose* pose = manager.CreatePose(bind ? "Bind" : "Rest", bind);
            KMatrix m;
            m[3][0] = bind ? 5.0 : -2.0;
            pose->Add("Model::Hips", m, !bind);
            pose->Add("Model::Square", KMatrix(), false);
            scene->AddPose(pose);
        }
        // Property values reach the default channels, as a read scene has them.
        SyncChannels();
        BuildTake();
        scene->SetCurrentTake("Walk");
    }
};

// The scene written with every switch on: "" when it was, else the exporter's error.
std::string ExportEverything(KQovScene* scene, const std::string& name, int id) {
    KQovExporter exporter(scene->GetObjectManager());
    if (!exporter.Initialize(name.c_str())) return "not initialized";
    exporter.SetFileFormat(id);
    KStreamOptionsQov options;
    v5test::AllOn(options);
    if (exporter.Export(scene, &options)) return "";
    return exporter.GetLastErrorString() ? exporter.GetLastErrorString() : "failed";
}

// The scene's poses: name, kind and every node's matrix.
std::string PoseDump(KQovScene* scene) {
    std::string out;
    for (int i = 0; i < scene->GetPoseCount(); ++i) {
        KQovPose* pose = scene->GetPose(i);
        out += std::string(pose->GetName()) + (pose->IsBindPose() ? " bind" : " rest");
        for (int n = 0; n < pose->GetCount(); ++n) {
            out +=
                std::string(" ") + pose->GetNodeName(n) + (pose->IsLocalMatrix(n) ? " local" : "");
            for (int k = 0; k < 16; ++k)
                out += " " + std::to_string(pose->GetMatrix(n)[k / 4][k % 4]);
        }
        out += "\n";
    }
    return out;
}

// Every node below the root with all its takes, so animation and default channels are
// compared too (the root itself is no object of the file); animatable values are left out as
// the version-5 tests leave them: the channels hold them.
std::string TakesDump(KQovScene* scene) {
    std::string out;
    KQovNode* root = scene->GetRootNode();
    for (int i = 0; i < root->GetChildCount(); ++i) out += v5test::Comparable(*root->GetChild(i));
    return out;
}

}  // namespace

namespace {

// Every node's tree and geometry (points, polygons, layers with their materials and textures,
// links, shapes) below the root.
std::string ContentDump(KQovScene* scene) {
    std::string out = TakesDump(scene);
    std::function<void(KQovNode*)> walk = [&](KQovNode* node) {
        if (node->GetGeometry()) out += geotest::Geometry(node);
        for (int i = 0; i < node->GetChildCount(); ++i) walk(node->GetChild(i));
    };
    walk(scene->GetRootNode());
    // The reader wraps every property of a material or texture as a user property: those
    // records are its own, not the file's, so they are left out of the comparison.
    auto shading = [&out](KQovObject* object, unsigned what) {
        std::stringstream in(SceneDump::Object(*object, 0, what));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("  user property", 0) != 0) out += line + "\n";
    };
    KQovEntityContainer& entity = *scene->GetEntityContainer();
    for (int i = 0; i < entity.GetGenericNodeCount(); ++i)
        shading(entity.GetGenericNode(i), SceneDump::eAll);
    for (int i = 0; i < entity.GetMaterialCount(); ++i)
        shading(entity.GetMaterial(i), SceneDump::eAll);
    for (int i = 0; i < entity.GetTextureCount(); ++i)
        shading(entity.GetTexture(i), SceneDump::eProperties);
    return out;
}

}  // namespace

TEST(KQovWriterQov6, EveryQovIdRoundTripsTheFixture) {
    const struct {
        int id;
        int kind;     // 0 ASCII, 1 binary, 2 encrypted as the reader tells
        int version;  // the file's version
        int parts;    // a Summary part only in binary files (version 6: not enciphered)
    } kCases[] = {
        {0, 1, 6000, 2}, {1, 0, 6000, 1}, {2, 2, 6000, 1}, {3, 1, 5800, 2}, {4, 0, 5800, 1}};
    int version6Models = -1;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.id);
        TempTestFolder tmp;
        Fixture built;
        using Producers = KQovGlobalCameraSettings;
        Producers& producers = built.scene->GetGlobalCameraSettings();
        producers.GetProducerCamera(Producers::eLeft)->SetPosition(KVector4(1, 2, 3, 1));
        producers.GetProducerCamera(Producers::eTop)->SetNearPlane(5.5);
        const std::string name = tmp / "fixture.qov";
        std::string error;
        ASSERT_TRUE(Export(built.scene, name, c.id, "", &error)) << error;
        Read read(name);
        ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
        EXPECT_EQ(read.reader.GetFileKind(), c.kind);
        int major, minor, revision;
        read.reader.GetFileVersion(major, minor, revision);
        EXPECT_EQ(major * 1000 + minor * 100 + revision, c.version);
        {
            KQovFieldFile file;
            ASSERT_TRUE(file.FieldFileOpenFile(name.c_str(), false, false, nullptr));
            EXPECT_EQ(file.GetPartCount(), c.parts);
        }
        // The Summary counts the models as the reader counts the objects of other files.
        std::unique_ptr<KStreamOptionsQov> header(read.reader.ReadHeaderInfo(nullptr, true));
        ASSERT_TRUE(header);
        if (c.version == 6000 && version6Models < 0)
            version6Models = header->GetCount(KStreamOptionsQov::eModels);
        if (c.version == 6000) {
            EXPECT_EQ(header->GetCount(KStreamOptionsQov::eModels), version6Models);
        }
        KQovDestroySceneInfo(&read.manager, header->sceneInfo);
        if (c.version == 6000) {
            EXPECT_EQ(TakesDump(read.scene), TakesDump(built.scene));
        } else {
            EXPECT_TRUE(read.scene->TakeExists("Walk"));
        }
        KQovGlobalLightSettings& a = built.scene->GetGlobalLightSettings();
        KQovGlobalLightSettings& b = read.scene->GetGlobalLightSettings();
        EXPECT_EQ(b.GetFogEnd(), a.GetFogEnd());
        EXPECT_EQ(b.GetShadowIntensity(), a.GetShadowIntensity());
        EXPECT_EQ(read.scene->GetGlobalTimeSettings().GetTimeMode(), KTime::eFRAMES50);
        EXPECT_STREQ(read.scene->GetGlobalCameraSettings().GetDefaultCamera(), "Producer Top");
        // The producer cameras come back as the scene had them, not as a new scene has them.
        Producers& cameras = read.scene->GetGlobalCameraSettings();
        EXPECT_EQ(cameras.GetProducerCamera(Producers::eLeft)->GetPosition()[1], 2.0);
        EXPECT_EQ(cameras.GetProducerCamera(Producers::eTop)->GetNearPlane(), 5.5);
        // Each place as written (71.3 is no single-precision number): a second conversion
        // writes what the first wrote.
        for (int p = 0; p < Producers::eProducerCount; ++p) {
            const KVector4 written = producers.GetProducerCamera(p)->GetPosition();
            const KVector4 back = cameras.GetProducerCamera(p)->GetPosition();
            for (int i = 0; i < 3; ++i) EXPECT_EQ(back[i], written[i]) << Producers::GetProducerName(p);
        }
        EXPECT_TRUE(read.scene->TakeExists("Walk"));
        if (c.version != 6000) continue;
        EXPECT_EQ(ContentDump(read.scene), ContentDump(built.scene));
        // Read back with their colours (not black) and listed in the scene.
        KQovEntityContainer& entity = *read.scene->GetEntityContainer();
        ASSERT_EQ(entity.GetMaterialCount(), 2);
        ASSERT_EQ(entity.GetTextureCount(), 1);
        auto* red = dynamic_cast<KQovMaterial*>(entity.GetMaterial(0));
        ASSERT_TRUE(red);
        EXPECT_NEAR(red->GetDefaultDiffuse().mGreen, 0.2, 1e-6);
        EXPECT_EQ(PoseDump(read.scene), PoseDump(built.scene));
        EXPECT_STREQ(read.scene->GetRootNode()->FindChild("Lamp")->GetLight()->GetGoboFileName(),
                     "/gobos/star.tif");
        KQovNode* cam = read.scene->GetRootNode()->FindChild("Cam", true);
        ASSERT_TRUE(cam && cam->GetLookAtTarget());
        EXPECT_STREQ(cam->GetLookAtTarget()->GetName(), "Model::Lamp");
    }
}

TEST(KQovWriterQov6, Version6FilesComeBackEqual) {
    for (const char* golden : {"geo_scene6.qov", "takes_v6.qov", "takes_shading_v6.qov",
                               "layout6.qov", "settings6.qov", "char_v6.qov", "pose_v6.qov"}) {
        for (int id : {0, 1}) {
            SCOPED_TRACE(std::string(golden) + " id " + std::to_string(id));
            TempTestFolder tmp;
            Read original(Golden(golden));
            ASSERT_TRUE(original.ok);
            const std::string name = tmp / "again.qov";
            std::string error;
            ASSERT_TRUE(Export(original.scene, name, id, "", &error)) << error;
            Read again(name);
            ASSERT_TRUE(again.ok);
            EXPECT_EQ(ContentDump(again.scene), ContentDump(original.scene));
        }
    }
}

namespace {

// The file's bytes as `xxd -p` shows them, decoded again; empty (and `ran` false) without xxd.
std::string BytesThroughXxd(const std::string& file, bool& ran) {
    ran = false;
    FILE* pipe = popen(("xxd -p '" + file + "' 2>/dev/null").c_str(), "r");
    if (!pipe) return "";
    std::string hex;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) hex.append(buffer, n);
    ran = pclose(pipe) == 0 && !hex.empty();
    std::string bytes;
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (size_t i = 0; i + 1 < hex.size();) {
        if (hex[i] == '\n') {
            ++i;
            continue;
        }
        bytes += char(digit(hex[i]) * 16 + digit(hex[i + 1]));
        i += 2;
    }
    return bytes;
}

}  // namespace

TEST(KQovWriterQov6, EncryptedFilesShowNoPlainTextAndReadBackByPassword) {
    TempTestFolder tmp;
    Fixture built;
    const std::string plain = tmp / "plain.qov", secret = tmp / "secret.qov";
    ASSERT_TRUE(Export(built.scene, plain, 0, "pass"));
    ASSERT_TRUE(Export(built.scene, secret, 2, "pass"));
    bool ran = false;
    const std::string plainBytes = BytesThroughXxd(plain, ran);
    if (!ran) GTEST_SKIP() << "xxd is not installed: the outside check is skipped";
    const std::string secretBytes = BytesThroughXxd(secret, ran);
    ASSERT_EQ(secretBytes, v5test::ReadText(secret));
    // The same texts stand in the plain binary file, so the search itself works.
    for (const char* text : {"Definitions", "Effector", "Connections", "LookAtProperty", "Walk"}) {
        SCOPED_TRACE(text);
        EXPECT_NE(plainBytes.find(text), std::string::npos);
        EXPECT_EQ(secretBytes.find(text), std::string::npos);
    }
    const struct {
        const char* file;
        const char* password;
        bool ok;
    } kReads[] = {{"secret.qov", "pass", true},
                  {"secret.qov", "wrong", false},
                  {"plain.qov", "pass", true},
                  {"plain.qov", "wrong", false}};
    for (const auto& r : kReads) {
        SCOPED_TRACE(std::string(r.file) + " " + r.password);
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        KQovReaderQov reader(&manager, nullptr);
        ASSERT_TRUE(reader.FileOpen((tmp / r.file).c_str()));
        std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
        ASSERT_TRUE(options);
        EXPECT_EQ(options->passwordFlag, 1);
        options->password = r.password;
        EXPECT_EQ(reader.Read(scene, options.get()), r.ok);
        if (r.ok) {
            EXPECT_EQ(ContentDump(scene), ContentDump(built.scene));
        } else {
            EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eWrongPassword);
        }
        KQovDestroySceneInfo(&manager, options->sceneInfo);
    }
}

TEST(KQovWriterQov6, ImporterTakesTheTakesFromTheSummaryAlone) {
    TempTestFolder tmp;
    Fixture built;
    const std::string name = tmp / "summary.qov";
    ASSERT_TRUE(Export(built.scene, name, 0));
    // Part 0 spoiled from the "Objects" section on: only the Summary can still be read.
    std::string bytes = v5test::ReadText(name);
    const size_t objects = bytes.find("Objects");
    const size_t summary = bytes.find("Summary");
    ASSERT_NE(objects, std::string::npos);
    ASSERT_NE(summary, std::string::npos);
    ASSERT_LT(objects + 64, summary);
    for (size_t i = objects; i < objects + (summary - objects) / 2; ++i) bytes[i] = '\x7f';
    {
        FILE* out = fopen(name.c_str(), "wb");
        ASSERT_TRUE(out);
        fwrite(bytes.data(), 1, bytes.size(), out);
        fclose(out);
    }
    KQovImporter importer(&built.manager);
    ASSERT_TRUE(importer.Initialize(name.c_str())) << importer.GetLastErrorString();
    ASSERT_EQ(importer.GetTakeCount(), 1);
    EXPECT_STREQ(importer.GetTakeInfo(0)->name.Buffer(), "Walk");
    EXPECT_EQ(importer.GetTakeInfo(0)->localTimeSpan.GetStop().Get(), 46186158000);
    EXPECT_STREQ(importer.GetCurrentTakeName().Buffer(), "Walk");
}

TEST(KQovWriterQov6, TheCallersSceneIsUnchangedByAWrite) {
    TempTestFolder tmp;
    Fixture built;
    const std::string before = ContentDump(built.scene);
    const int materials = built.scene->GetEntityContainer()->GetMaterialCount();
    for (int id : {0, 1, 2}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(Export(built.scene, tmp / "same.qov", id, "pass"));
        EXPECT_EQ(ContentDump(built.scene), before);
        EXPECT_EQ(built.scene->GetEntityContainer()->GetMaterialCount(), materials);
        EXPECT_EQ(built.scene->GetEntityContainer()->GetDeformerCount(), 0);
    }
    // Limits and pivots go out through the nodes' properties, which keep their own values.
    v5test::Scene everything;
    everything.BuildEverything();
    KQovNode* thigh = everything.scene->GetRootNode()->FindChild("Thigh", true);
    thigh->SetRotationPivot(0, 1.0, 2.0, 3.0);
    const std::string all = v5test::EverythingDump(everything.scene);
    for (int id : {0, 1, 2}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(Export(everything.scene, tmp / "limits.qov", id));
        EXPECT_EQ(v5test::EverythingDump(everything.scene), all);
        Read read(tmp / "limits.qov");
        ASSERT_TRUE(read.ok);
        KQovNode* back = read.scene->GetRootNode()->FindChild("Thigh", true);
        ASSERT_TRUE(back);
        EXPECT_EQ(geotest::Point(*back->GetRotationPivot(0), 3), "1,2,3");
        KQovLimitsUtility limits(&back->GetLimits());
        EXPECT_TRUE(limits.GetEnable(KQovLimitsUtility::eTranslation));
        EXPECT_EQ(geotest::Point(limits.GetMax(KQovLimitsUtility::eTranslation), 3), "1,2,3");
    }
}

namespace {

// A dump without the lines of property values and records: what the objects hold and link.
std::string WithoutProperties(const std::string& dump) {
    std::stringstream in(dump);
    std::string out, line;
    while (std::getline(in, line))
        if (line.find("property \"") == std::string::npos) out += line + "\n";
    return out;
}

}  // namespace

// Characters with their links, control sets, poses, the character pose's own scene and the
// scene information come back from every version-6 id.
TEST(KQovWriterQov6, CharactersPosesAndSceneInfoRoundTrip) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildEverything();
    const std::string before =
        WithoutProperties(v5test::CharacterDump(built.scene) + v5test::SceneWideDump(built.scene));
    ASSERT_NE(before.find("fk 2 Model::Thigh"), std::string::npos);
    // A floor slot's model (no link property to connect to) and the input character.
    ASSERT_NE(before.find("link 68 Model::Hips"), std::string::npos);
    ASSERT_NE(before.find("input 1 Constraint::Hero"), std::string::npos);
    ASSERT_NE(before.find("node Model::PoseBone"), std::string::npos);
    ASSERT_NE(before.find("scene info Title//Somebody"), std::string::npos);
    for (int id : {0, 1, 2}) {
        SCOPED_TRACE(id);
        const std::string name = tmp / ("characters" + std::to_string(id) + ".qov");
        std::string error;
        ASSERT_TRUE(Export(built.scene, name, id, "", &error)) << error;
        Read read(name);
        ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
        EXPECT_EQ(WithoutProperties(v5test::CharacterDump(read.scene) +
                                    v5test::SceneWideDump(read.scene)),
                  before);
    }
}

// The same with the second character named as the first, and the character pose as the bind
// pose: the input character and the links stay the ones they were.
TEST(KQovWriterQov6, CharactersAndPosesOfOneNameRoundTrip) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildEverything();
    const std::string before =
        WithoutProperties(v5test::CharacterDump(built.scene) + v5test::SceneWideDump(built.scene));
    ASSERT_EQ(built.scene->GetCharacterCount(), 2);
    ASSERT_EQ(built.scene->GetCharacterPoseCount(), 1);
    KQovCharacter* second = built.scene->GetCharacter(1);
    KQovCharacterPose* stance = built.scene->GetCharacterPose(0);
    const std::string secondName = second->GetName(), stanceName = stance->GetName();
    second->SetName(KQovStripPrefix(built.scene->GetCharacter(0)->GetName()).Buffer());
    stance->SetName(KQovStripPrefix(built.scene->GetPose(0)->GetName()).Buffer());
    ASSERT_STREQ(second->GetName(), built.scene->GetCharacter(0)->GetName());
    ASSERT_STREQ(stance->GetName(), built.scene->GetPose(0)->GetName());
    for (int id : {0, 1, 2}) {
        SCOPED_TRACE(id);
        const std::string name = tmp / ("clash" + std::to_string(id) + ".qov");
        std::string error;
        ASSERT_TRUE(Export(built.scene, name, id, "", &error)) << error;
        Read read(name);
        ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
        ASSERT_EQ(read.scene->GetCharacterCount(), 2);
        ASSERT_EQ(read.scene->GetCharacterPoseCount(), 1);
        EXPECT_STRNE(read.scene->GetCharacter(1)->GetName(),
                     read.scene->GetCharacter(0)->GetName());
        read.scene->GetCharacter(1)->SetInitialName(secondName.c_str());
        read.scene->GetCharacterPose(0)->SetInitialName(stanceName.c_str());
        EXPECT_EQ(WithoutProperties(v5test::CharacterDump(read.scene) +
                                    v5test::SceneWideDump(read.scene)),
                  before);
    }
}

// A texture's file travels as a clip connected to it, its bytes embedded only in binary files.
TEST(KQovWriterQov6, TextureFilesTravelAsClips) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildEverything(tmp / "wood.tif");
    const struct {
        int id;
        bool embedded;
    } kCases[] = {{0, true}, {1, false}, {2, true}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.id);
        const std::string name = tmp / ("clips" + std::to_string(c.id) + ".qov");
        ASSERT_EQ(ExportEverything(built.scene, name, c.id), "");
        EXPECT_EQ(built.manager.FindVideo("Video::wood.tif"), nullptr);
        EXPECT_EQ(v5test::ReadText(name).find("texture bytes") != std::string::npos,
                  c.embedded && c.id == 0);
        Read read(name);
        ASSERT_TRUE(read.ok);
        KQovVideo* video = read.manager.FindVideo("Video::wood.tif");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(KExtractFileName(video->GetFileName(), true), "wood.tif");
        EXPECT_EQ(v5test::ReadText(video->GetFileName()), "texture bytes");
        EXPECT_EQ(std::string(video->GetFileName()) == tmp / "wood.tif", !c.embedded);
        // The wood texture shows the file (the fixture's surfaces show one without a file).
        KQovEntityContainer& entity = *read.scene->GetEntityContainer();
        KQovTexture* texture = nullptr;
        for (int i = 0; i < entity.GetTextureCount(); ++i)
            if (std::string(entity.GetTexture(i)->GetName()) == "Texture::Wood")
                texture = dynamic_cast<KQovTexture*>(entity.GetTexture(i));
        ASSERT_TRUE(texture);
        EXPECT_EQ(texture->GetPropertyHandler()->GetSrcCount(), 1);
    }
}

// A texture file there that the write is not let read fails the write, naming the file and
// why (not a full disk); its clip is never written without its bytes. A socket in its place
// holds no bytes: left out, as a missing file or a pipe is.
TEST(KQovWriterQov6, TextureFileNotReadFailsTheWrite) {
    TempTestFolder tmp;
    v5test::Scene built;
    const std::string wood = tmp / "wood.tif";
    built.BuildEverything(wood);
    ASSERT_EQ(chmod(wood.c_str(), 0), 0);
    // The system checks the permission for a user alone.
    if (geteuid() != 0) {
        for (int id : {0, 3}) {
            SCOPED_TRACE(id);
            const std::string name = tmp / ("denied" + std::to_string(id) + ".qov");
            EXPECT_EQ(ExportEverything(built.scene, name, id),
                      "File not opened: " + wood + ": Permission denied");
            EXPECT_FALSE(KFileExists(name.c_str()));
        }
    }
    ASSERT_EQ(std::remove(wood.c_str()), 0);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(socket, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(wood.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, wood.c_str(), wood.size());
    ASSERT_EQ(bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (int id : {0, 3}) {
        SCOPED_TRACE(id);
        const std::string name = tmp / ("clips" + std::to_string(id) + ".qov");
        EXPECT_EQ(ExportEverything(built.scene, name, id), "");
        EXPECT_EQ(v5test::ReadText(name).find("texture bytes"), std::string::npos);
    }
    close(socket);
}

// The input character comes back only from a character connected onto "Character"; a floor
// slot's model only from a "MODEL" that names a model of the file.
TEST(KQovWriterQov6, InputCharacterAndFloorModelsFromTheirRecords) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildEverything();
    const std::string name = tmp / "input.qov";
    ASSERT_TRUE(Export(built.scene, name, 1));
    const std::string text = v5test::ReadText(name);
    const std::string connect =
        "\"OP\", \"Constraint::Hero\", \"Constraint::Second\", \"Character\"";
    const std::string floor = "LEFT_FLOOR:  {\n            MODEL: \"Model::Hips\"";
    ASSERT_NE(text.find(connect), std::string::npos);
    ASSERT_NE(text.find(floor), std::string::npos);
    const struct {
        const char* what;
        std::string from, to;
        const char* input;  // of "Second"
        const char* floorModel;
    } kCases[] = {
        {"as written", "", "", "1 Constraint::Hero", "Model::Hips"},
        {"a model connected", connect,
         "\"OP\", \"Model::Hips\", \"Constraint::Second\", \"Character\"", "4 -", "Model::Hips"},
        {"no connection", connect, "\"OO\", \"Nobody\", \"Constraint::Second\"", "4 -",
         "Model::Hips"},
        {"an unknown model", floor, "LEFT_FLOOR:  {\n            MODEL: \"Model::Nobody\"",
         "1 Constraint::Hero", "-"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::string changed = text;
        if (!c.from.empty()) changed.replace(changed.find(c.from), c.from.size(), c.to);
        const std::string file = tmp / "changed.qov";
        std::ofstream(file, std::ios::binary) << changed;
        Read read(file);
        ASSERT_TRUE(read.ok);
        ASSERT_EQ(read.scene->GetCharacterCount(), 2);
        KQovCharacter* second = read.scene->GetCharacter(1);
        EXPECT_EQ(std::to_string(second->GetInputType()) + " " +
                      (second->GetInput() ? second->GetInput()->GetName() : "-"),
                  c.input);
        KQovCharacterLink link;
        read.scene->GetCharacter(0)->GetCharacterLink(KQovCharacterRoleTable::kReferenceSlot + 1,
                                                      &link);
        EXPECT_STREQ(link.model ? link.model->GetName() : "-", c.floorModel);
    }
}

namespace {

// The "Connect" records of a version-6 text file, one line each.
std::vector<std::string> ConnectLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = text.find("Connect: "); at != std::string::npos;
         at = text.find("Connect: ", at + 1))
        lines.push_back(text.substr(at + 9, text.find('\n', at) - at - 9));
    return lines;
}

}  // namespace

// A NURBS or patch model's materials are connected right after the first connection from the
// model, even one that is not its own (a look-at); later surfaces place theirs among them.
TEST(KQovWriterQov6, SurfaceShadingFollowsTheFirstConnectionFromTheSurface) {
    const struct {
        const char* clash;  // a material named as a model, or null
        std::vector<std::string> expected;
    } cases[] = {
        {nullptr,
         {R"("OO", "Model::L", "Model::Scene")", R"("OP", "Model::S2", "Model::L", "LookAtProperty")",
          R"("OO", "Material::M2", "Model::S2")", R"("OO", "Material::M1", "Model::S2")",
          R"("OO", "Model::S1", "Model::Scene")", R"("OO", "Material::M1", "Model::S1")",
          R"("OO", "Model::S2", "Model::Scene")", R"("OO", "Model::S3", "Model::Scene")",
          R"("OO", "Material::M2", "Model::S3")"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clash ? c.clash : "none");
        TempTestFolder tmp;
        v5test::Scene s;
        KQovMaterial* m1 = s.manager.CreateMaterial(c.clash ? c.clash : "Material::M1");
        KQovMaterial* m2 = s.manager.CreateMaterial("Material::M2");
        KQovNode* look = s.Add("L", s.manager.CreateNull());
        auto surface = [&](const char* name, KQovGeometry* geometry,
                           std::initializer_list<KQovMaterial*> materials) {
            KQovNode* node = s.Add(name, geometry);
            for (KQovMaterial* m : materials) geometry->AddMaterial(m, 0);
            return node;
        };
        surface("S1", s.manager.CreateNurb(), {m1});
        KQovNode* s2 = surface("S2", s.manager.CreateNurb(), {m2, m1});
        surface("S3", s.manager.CreatePatch(), {m2});
        look->SetLookAtTarget(s2);
        const std::string name = tmp / "surfaces.qov";
        ASSERT_TRUE(Export(s.scene, name, 1));
        const std::vector<std::string> lines = ConnectLines(v5test::ReadText(name));
        ASSERT_GE(lines.size(), c.expected.size());
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + long(c.expected.size())),
                  c.expected);
    }
}

TEST(KQovWriterQov6, ClashingNodeNamesAreMadeUniqueWithAWarning) {
    // Connections find models by name: the root's ("Scene") or an earlier node's name would
    // lose a node. Version 5 files nest models by block, and keep every name.
    const char* const kMadeUnique = "Scene_1(leg) A(hand) A_2(foot) A_1";
    const char* const kWarnings =
        "Node \"Scene\" written as \"Scene_1\": the file's root has that name\n"
        "Node \"A\" written as \"A_2\": an earlier node has that name\n"
        "Material \"Red\" written as \"Red_1\": an earlier material has that name\n";
    const struct {
        int id;
        const char* tree;
        const char* warnings;
        const char* secondMaterial;
    } kCases[] = {{0, kMadeUnique, kWarnings, "Material::Red_1"},
                  {1, kMadeUnique, kWarnings, "Material::Red_1"},
                  {2, kMadeUnique, kWarnings, "Material::Red_1"},
                  {3, "Scene(leg) A(hand) A(foot) A_1", "", "Material::Red"}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.id);
        TempTestFolder tmp;
        v5test::MeshScene built;
        built.node->SetName("Scene");  // a mesh with materials: its shading connects by name
        // Materials find their models by name as well: two of one name both stay.
        built.blue->SetName("Red");
        built.red->SetDefaultDiffuse(KColor(1, 0, 0));
        built.blue->SetDefaultDiffuse(KColor(0, 0, 1));
        built.Add("leg", nullptr, built.node);
        built.Add("hand", nullptr, built.Add("A", nullptr));
        KQovNode* second = built.Add("A", nullptr);
        built.Add("foot", nullptr, second);
        built.Add("A_1", nullptr);
        built.AddTakeTo(built.scene->GetRootNode(), "Walk");
        KFCurve* curve = second->GetTakeNode(1)->GetTranslationX();
        curve->ResizeKeyBuffer(1);
        curve->KeySet(0, KTime(0), 7.0f);
        curve->CommitKeys(1);
        // Poses name their nodes by text: the entry follows the node it names.
        KQovPose* bind = built.manager.CreatePose("Bind", true);
        bind->Add("Model::Scene", KMatrix());
        bind->Add("Model::A", KMatrix());
        built.scene->AddPose(bind);
        const std::string name = tmp / "clash.qov";
        KQovExporter exporter(&built.manager);
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(c.id);
        ASSERT_TRUE(exporter.Export(built.scene, nullptr)) << exporter.GetLastErrorString();
        EXPECT_STREQ(exporter.GetStatusText().Buffer(), c.warnings);
        // The caller's nodes keep their names.
        EXPECT_STREQ(second->GetName(), "Model::A");
        EXPECT_STREQ(built.blue->GetName(), "Material::Red");
        Read read(name);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(qovtest::NameTree(read.scene->GetRootNode()), c.tree);
        KQovNode* root = read.scene->GetRootNode();
        KQovNode* mesh = root->GetChild(0);
        ASSERT_TRUE(mesh->GetMesh());
        const auto& materials = mesh->GetMesh()->GetLayer(0)->GetMaterials()->GetDirectArray();
        ASSERT_EQ(materials.GetCount(), 2);
        EXPECT_STREQ(materials.GetAt(0)->GetName(), "Material::Red");
        EXPECT_STREQ(materials.GetAt(1)->GetName(), c.secondMaterial);
        EXPECT_EQ(materials.GetAt(0)->GetDefaultDiffuse().mRed, 1.0);
        EXPECT_EQ(materials.GetAt(1)->GetDefaultDiffuse().mBlue, 1.0);
        ASSERT_EQ(read.scene->GetPoseCount(), 1);
        const KQovPose* pose = read.scene->GetPose(0);
        ASSERT_EQ(pose->GetCount(), 2);
        EXPECT_STREQ(pose->GetNodeName(0), mesh->GetName());
        EXPECT_STREQ(pose->GetNodeName(1), "Model::A");
        // The take's keys stay with the node that had them (version 5 finds a take's models
        // by name as well, the first of a name).
        for (int i : {1, 2}) {
            if (c.id == 3) break;
            KQovNode* a = root->GetChild(i);
            ASSERT_EQ(a->GetTakeNodeCount(), 2);
            EXPECT_EQ(a->GetTakeNode(1)->GetTranslationX()->KeyGetCount(), i == 2 ? 1 : 0);
        }
    }
    // Many of one name: each comes back under a name of its own; ten are named in warnings.
    TempTestFolder tmp;
    v5test::Scene many;
    for (int i = 0; i < 13; ++i) many.Add("N", nullptr);
    const std::string name = tmp / "many.qov";
    KQovExporter exporter(&many.manager);
    ASSERT_TRUE(exporter.Initialize(name.c_str()));
    exporter.SetFileFormat(1);
    ASSERT_TRUE(exporter.Export(many.scene, nullptr));
    const std::string status = exporter.GetStatusText().Buffer();
    EXPECT_EQ(std::count(status.begin(), status.end(), '\n'), 11) << status;
    EXPECT_NE(status.find("\"N_10\": an earlier node has that name\n"
                          "2 more nodes written under names made unique\n"),
              std::string::npos)
        << status;
    Read read(name);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(qovtest::NameTree(read.scene->GetRootNode()),
              "N N_1 N_2 N_3 N_4 N_5 N_6 N_7 N_8 N_9 N_10 N_11 N_12");
}

// A take the file cannot hold under its scene name (the default take named by a record, as a
// motion file "Default.bvh" makes it, or a take with no name) is written under a made name,
// with a warning, and comes back with its keys and as the current take.
// Materials of one name beside one named as a number would name the second, each animated in a
// take of its own, two poses and two generic nodes of one name: each keeps its curve and its
// values, and a file read back writes the names it was read with.
TEST(KQovWriterQov6, ClashingMaterialsPosesAndGenericNodesKeepTheirOwn) {
    TempTestFolder tmp;
    v5test::MeshScene built;
    built.blue->SetName("Red");
    KQovMaterial* third = built.manager.CreateMaterial("Material::Red_1");
    built.mesh->AddMaterial(third, 0);
    built.Reattach();
    built.AddTakeTo(built.scene->GetRootNode(), "Walk");
    built.AddTakeTo(built.scene->GetRootNode(), "Run");
    KQovMaterial* const materials[] = {built.red, built.blue, third};
    for (int m = 0; m < 3; ++m) {
        materials[m]->SetDefaultDiffuse(KColor(0.25 * m, 0, 0));
        materials[m]->AddTakeNode("Walk");
        materials[m]->AddTakeNode("Run");
        // Material m is animated in take 1 + m % 2, by a key of value m.
        KFCurve* curve = materials[m]->GetTakeNode(1 + m % 2)->FindCurve("Diffuse", "Y", nullptr);
        ASSERT_TRUE(curve);
        curve->ResizeKeyBuffer(1);
        curve->KeySet(0, KTime(0), float(m));
        curve->CommitKeys(1);
    }
    for (int g = 0; g < 2; ++g)
        built.manager.CreateGenericNode("Notes")->SetEntity(built.scene->GetEntityContainer());
    for (int p = 0; p < 2; ++p) {
        KQovPose* pose = built.manager.CreatePose("Same", p == 0);
        KMatrix matrix;
        matrix[3][0] = 1.0 + p;
        pose->Add("Model::Mesh", matrix);
        built.scene->AddPose(pose);
    }
    auto dump = [](KQovScene* scene) {
        std::string out;
        KQovEntityContainer& entity = *scene->GetEntityContainer();
        for (int i = 0; i < entity.GetMaterialCount(); ++i) {
            auto* material = dynamic_cast<KQovMaterial*>(entity.GetMaterial(i));
            if (!material) continue;
            out += std::string(material->GetName()) + " " +
                   std::to_string(material->GetDefaultDiffuse().mRed);
            for (int t = 1; t < material->GetTakeNodeCount(); ++t) {
                KFCurve* curve = material->GetTakeNode(t)->FindCurve("Diffuse", "Y", nullptr);
                const bool keyed = curve && curve->KeyGetCount() > 0;
                out += std::string(" ") + material->GetTakeNodeName(t) + ":" +
                       (keyed ? std::to_string(curve->KeyGetValue(0)) : "-");
            }
            out += "\n";
        }
        for (int i = 0; i < scene->GetPoseCount(); ++i)
            out += std::string(scene->GetPose(i)->GetName()) +
                   (scene->GetPose(i)->IsBindPose() ? " bind " : " rest ") +
                   std::to_string(scene->GetPose(i)->GetMatrix(0)[3][0]) + "\n";
        for (int i = 0; i < entity.GetGenericNodeCount(); ++i)
            out += std::string(entity.GetGenericNode(i)->GetName()) + "\n";
        return out;
    };
    const std::string expected =
        "Material::Red 0.000000 Walk:0.000000 Run:-\n"
        "Material::Red_2 0.250000 Walk:- Run:1.000000\n"
        "Material::Red_1 0.500000 Walk:2.000000 Run:-\n"
        "Pose::Same bind 1.000000\n"
        "Pose::Same_1 rest 2.000000\n"
        "Notes\n"
        "Notes_1\n";
    for (int id : {0, 1, 2}) {
        SCOPED_TRACE(id);
        const std::string first = tmp / "first.qov", second = tmp / "second.qov";
        std::string error;
        ASSERT_TRUE(Export(built.scene, first, id, "", &error)) << error;
        Read read(first);
        ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
        EXPECT_EQ(dump(read.scene), expected);
        ASSERT_TRUE(Export(read.scene, second, id, "", &error)) << error;
        Read again(second);
        ASSERT_TRUE(again.ok) << again.reader.GetLastErrorString();
        EXPECT_EQ(dump(again.scene), expected);
    }
}

TEST(KQovWriterQov6, TakesNamedDefaultOrNothingAreWrittenUnderNamesOfTheirOwn) {
    const char* const kWarnings =
        "Take \"Default\" written as \"Default_2\": the default take has that name\n"
        "Take \"\" written as \"Take_1\": the take has no name\n";
    for (int id : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(id);
        TempTestFolder tmp;
        v5test::Scene built;
        KQovNode* node = built.Add("A", nullptr);
        built.AddTakeTo(built.scene->GetRootNode(), "");
        built.AddTakeTo(built.scene->GetRootNode(), "Default_1");
        // Each take's own keys: the default take's two, one in each other take.
        const float values[] = {3.0f, 9.0f, 5.0f};
        for (int t = 0; t < 3; ++t) {
            KFCurve* curve = node->GetTakeNode(t)->GetTranslationX();
            curve->ResizeKeyBuffer(2);
            curve->KeySet(0, KTime(0), values[t]);
            curve->KeySet(1, KTime(46186158000), values[t] + 1.0f);
            curve->CommitKeys(2);
        }
        KQovTakeInfo record;
        record.name = "Default";
        record.localTimeSpan.Set(KTime(0), KTime(46186158000));
        record.referenceTimeSpan = record.localTimeSpan;
        ASSERT_TRUE(built.scene->SetTakeInfo(record));
        built.scene->SetCurrentTake("Default");
        const std::string name = tmp / "takes.qov";
        KQovExporter exporter(&built.manager);
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(id);
        ASSERT_TRUE(exporter.Export(built.scene, nullptr)) << exporter.GetLastErrorString();
        EXPECT_STREQ(exporter.GetStatusText().Buffer(), kWarnings);
        Read read(name);
        ASSERT_TRUE(read.ok);
        EXPECT_STREQ(read.scene->GetCurrentTakeName(), "Default_2");
        KQovNode* back = read.scene->GetRootNode()->FindChild("A");
        ASSERT_TRUE(back);
        const struct {
            const char* take;
            float value;
        } kTakes[] = {{"Default_2", 3.0f}, {"Take_1", 9.0f}, {"Default_1", 5.0f}};
        for (const auto& t : kTakes) {
            SCOPED_TRACE(t.take);
            ASSERT_TRUE(back->SetCurrentTakeNode(t.take));
            KFCurve* curve = back->GetCurrentTakeNode()->GetTranslationX();
            ASSERT_EQ(curve->KeyGetCount(), 2);
            EXPECT_EQ(curve->KeyGetValue(0), t.value);
            EXPECT_EQ(curve->KeyGetValue(1), t.value + 1.0f);
        }
    }
}

// What names a model elsewhere than in connections (character and control-set records, gobos,
// poses, takes, a version-5 file's children) names the model it named: names of another
// case, a made name another differs from in case alone, the switcher's name.
TEST(KQovWriterQov6, RecordsNameTheModelOfTheirClashingName) {
    const struct {
        int id;
        const char* from;  // a node of the fixture renamed
        const char* to;
        const char* before;  // a node added first under the root, or null
        const char* expected;
    } kCases[] = {
        {1, "Hips", "Scene", "scene_1", "Scene_1 Thigh Scene_1 Thigh Scene_1 star Run 3"},
        {4, "Thigh", "hips", nullptr, "Hips hips Hips hips Hips star Run 3"},
        {1, "Lamp", "group", nullptr, "Hips Thigh Hips Thigh Hips star Run 3"},
        {4, "Lamp", "group", nullptr, "Hips Thigh Hips Thigh Hips star Run 3"},
        {1, "Square", "Camera Switcher", nullptr, "Hips Thigh Hips Thigh Hips star Run 3"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.id) + " " + c.to);
        TempTestFolder tmp;
        v5test::Scene built;
        built.BuildEverything();
        KQovNode* root = built.scene->GetRootNode();
        root->FindChild("Square")->GetMesh()->GetLink(0)->SetAssociateModel(
            root->FindChild("Hips"));
        KQovNode* renamed = root->FindChild(c.from, true);
        ASSERT_TRUE(renamed);
        const KString old = renamed->GetName();
        renamed->SetName(c.to);
        KQovPose* bind = built.scene->GetPose(0);
        bind->SetNodeName(bind->Find(old.Buffer()), renamed->GetName());
        if (c.before) {
            std::vector<KQovNode*> children;
            while (root->GetChildCount() > 0) {
                children.push_back(root->GetChild(0));
                root->RemoveChild(children.back());
            }
            built.Add(c.before, nullptr);
            for (KQovNode* node : children) root->AddChild(node);
        }
        const std::string name = tmp / "records.qov";
        ASSERT_EQ(ExportEverything(built.scene, name, c.id), "");
        Read read(name);
        ASSERT_TRUE(read.ok);
        KQovCharacter* hero = read.scene->GetCharacter(0);
        ASSERT_TRUE(hero);
        KQovCharacterLink hips, floor;
        KQovControlSetLink fk;
        KQovEffectorRecord effector;
        KQovNode* aux = nullptr;
        ASSERT_TRUE(hero->GetCharacterLink(0, &hips) && hips.model);
        ASSERT_TRUE(hero->GetCharacterLink(KQovCharacterRoleTable::kReferenceSlot + 1, &floor) &&
                    floor.model);
        ASSERT_TRUE(hero->GetControlSet()->GetFKLink(2, &fk) && fk.model);
        ASSERT_TRUE(hero->GetControlSet()->GetEffector(0, &effector) && effector.model);
        ASSERT_TRUE(hero->GetControlSet()->GetAuxEffector(3, &aux, 1) && aux);
        KQovNode* light = nullptr;
        KQovNode* square = nullptr;
        for (KQovNode* node : KQovListNodes(read.scene->GetRootNode())) {
            if (node->GetLight()) light = node;
            if (node->GetMesh()) square = node;
        }
        ASSERT_TRUE(light && square && square->GetTakeNodeCount() == 3);
        const KQovPose* pose = read.scene->GetPose(0);
        ASSERT_TRUE(pose && pose->GetCount() == 2);
        KQovNode* posed = read.scene->GetRootNode()->FindChild(
            KQovStripPrefix(pose->GetNodeName(0)).Buffer(), true);
        ASSERT_TRUE(posed);
        const std::string gobo = light->GetLight()->GetGoboFileName();
        const std::string got =
            std::string(hips.model->GetNameWithoutPrefix().Buffer()) + " " +
            fk.model->GetNameWithoutPrefix().Buffer() + " " +
            floor.model->GetNameWithoutPrefix().Buffer() + " " +
            aux->GetNameWithoutPrefix().Buffer() + " " + posed->GetNameWithoutPrefix().Buffer() +
            " " + KExtractFileName(gobo.c_str(), false).Buffer() + " " +
            square->GetTakeNodeName(2) + " " +
            std::to_string(square->GetTakeNode(2)->GetTranslationY()->KeyGetCount());
        EXPECT_EQ(got, c.expected);
        EXPECT_NE(v5test::ReadText(name).find("AssociateModel: \"" +
                                              std::string(hips.model->GetName()) + "\""),
                  std::string::npos);
        // The effector is on the hips and the thigh under them, by whatever name.
        EXPECT_EQ(effector.model, hips.model);
        EXPECT_EQ(fk.model->GetParent(), hips.model);
        EXPECT_EQ(hips.model->GetSkeleton() != nullptr, true);
    }
}
