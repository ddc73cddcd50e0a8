// Round trips of the one-of-everything scene through every QOV id of the exporter (version 6:
// 0 binary, 1 ASCII, 2 encrypted; version 5: 3 binary, 4 ASCII) and the reader: what comes
// back equals what was written.

#include <regex>
#include <set>

#include "KQovWriterQov5TestUtil.h"
#include "animation/KFCurveNode.h"
#include "attributes/KQovShadingScene.h"
#include "io/KQovExporter.h"
#include "scene/KQovNodeProperties.h"

namespace {

// The fixture's dump as every layout keeps it. Left out: the user-property wrappers a
// version-6 read gives materials, textures and characters (its own records, not the file's),
// and the node properties that mirror limits and pivots, which a version-6 file fills from
// the records; the records themselves are compared.
std::string KeptDump(KQovScene* scene) {
    static const std::regex kMirror(
        "    property \"((Translation|Rotation|Scaling)(Active|Min|Max)[XYZ]?|"
        "RotationSpaceForLimitOnly|(Rotation|Scaling)(Offset|Pivot|PivotUpdateOffset)|"
        "(Pre|Post)Rotation)\" .*");
    std::stringstream in(v5test::EverythingDump(scene));
    std::string out, line;
    bool wrapped = false;
    while (std::getline(in, line)) {
        if (line.rfind("object \"", 0) == 0) wrapped = line.rfind("object \"Model::", 0) != 0;
        if ((wrapped && line.rfind("  user property ", 0) == 0) || std::regex_match(line, kMirror))
            continue;
        out += line + "\n";
    }
    std::vector<KQovNode*> nodes{scene->GetRootNode()};
    for (size_t i = 0; i < nodes.size(); ++i) {
        KQovNode* node = nodes[i];
        for (int c = 0; c < node->GetChildCount(); ++c) nodes.push_back(node->GetChild(c));
        const KQovPivotSet& p = *node->GetPivotSet(0);
        out += std::string(node->GetName()) + " pivots";
        for (const KVector4* v : {&p.rotationOffset, &p.rotationPivot, &p.preRotation,
                                  &p.postRotation, &p.scalingOffset, &p.scalingPivot})
            out += " " + geotest::Point(*v, 3);
        out += " limit space " + std::to_string(p.rotationSpaceForLimitOnly) + "\n";
    }
    return out;
}

}  // namespace

TEST(KQovWriterQov5RoundTrip, EverythingComesBackThroughEveryId) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildEverything(tmp / "wood.tif");
    const std::string before = v5test::EverythingDump(built.scene);
    const std::string kept = KeptDump(built.scene);
    // What the comparison rests on is in the fixture.
    for (const char* part :
         {"link 68 Model::Hips", "input 1 Constraint::Hero",
          "layer 0: material 0/0 [Material::Green]", "layer 1: texture 4/2 [Texture::Stone] (0)",
          "pivots 0,0,0 0,0,0 5,0,0", "link Model::Thigh", "surface 2/1/0/4/3 1/0/1/6/5"})
        ASSERT_NE(kept.find(part), std::string::npos) << part;
    for (int id : {4, 3, 0, 1, 2}) {
        SCOPED_TRACE(id);
        KQovExporter exporter(&built.manager);
        const std::string name = tmp / ("everything" + std::to_string(id) + ".qov");
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(id);
        KStreamOptionsQov options;
        v5test::AllOn(options);
        ASSERT_TRUE(exporter.Export(built.scene, &options)) << exporter.GetLastErrorString();
        EXPECT_EQ(v5test::EverythingDump(built.scene), before);
        Read read(name);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(KeptDump(read.scene), kept);
        // Version-5 files carry no wrappers and no mirrors: there the whole dump is kept.
        if (id >= 3) {
            EXPECT_EQ(v5test::EverythingDump(read.scene), before);
        }
    }
}

// A layered channel of the second take comes back with the same values: kept as layers when
// the reader leaves channel trees alone, merged into one curve when it processes them.
TEST(KQovWriterQov5RoundTrip, LayeredChannelsKeepTheirValues) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildEverything();
    KQovNode* square = built.scene->GetRootNode()->FindChild("Square");
    KFCurveNode* x =
        square->GetTakeNode(square->GetTakeNodeCount() - 1)->GetRoot()->Find("Transform/T/X");
    ASSERT_NE(x, nullptr);
    x->SetFlags(x->GetFlags() | KFCURVENODE_LAYERING);
    KFCurveNode* layer = x->EnsureLayer(1);
    ASSERT_NE(layer, nullptr);
    if (!layer->GetCurve()) layer->SetCurve(KFCurve::Create());
    KFCurve* curve = layer->GetCurve();
    curve->ResizeKeyBuffer(2);
    curve->KeySet(0, KTime(0), 0.0f);
    curve->KeySet(1, KTime(46186158000), 2.0f);
    curve->CommitKeys(2);
    const int64_t kTimes[] = {0, 11546539500, 23093079000, 46186158000, 69279237000};
    std::vector<double> expected;
    for (int64_t t : kTimes) expected.push_back(x->Evaluate(KTime(t))[0]);
    EXPECT_NE(expected[2], double(x->GetCurve()->Evaluate(KTime(kTimes[2]))));  // the layer adds
    for (int mode : {KQovWriterQov5::eAscii, KQovWriterQov5::eBinary}) {
        const std::string name = tmp / ("layers" + std::to_string(mode) + ".qov");
        ASSERT_TRUE(v5test::WriteFile(built.scene, name, mode));
        for (bool trees : {false, true}) {
            SCOPED_TRACE(std::to_string(mode) + (trees ? " processed" : " raw"));
            KQovObjectManager manager;
            KQovScene* scene = manager.CreateScene();
            KQovReaderQov reader(&manager, nullptr);
            ASSERT_TRUE(reader.FileOpen(name.c_str()));
            std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
            ASSERT_TRUE(options);
            options->SetSwitch(KStreamOptionsQov::eTakeChannelTrees, trees);
            ASSERT_TRUE(reader.Read(scene, options.get()));
            KQovDestroySceneInfo(&manager, options->sceneInfo);
            KQovNode* read = scene->GetRootNode()->FindChild("Square");
            ASSERT_NE(read, nullptr);
            KFCurveNode* channel = nullptr;
            for (int i = 0; i < read->GetTakeNodeCount(); ++i)
                if (std::string(read->GetTakeNodeName(i)) == "Run")
                    channel = read->GetTakeNode(i)->GetRoot()->Find("Transform/T/X");
            ASSERT_NE(channel, nullptr);
            EXPECT_EQ(channel->GetNextLayer() == nullptr, trees);
            for (size_t i = 0; i < expected.size(); ++i)
                EXPECT_NEAR(channel->Evaluate(KTime(kTimes[i]))[0], expected[i], 1e-4) << i;
        }
    }
}

// A node's rotation limits keep their default (pre-rotation), type and axis (post-rotation)
// through both version-5 layouts; a file that names the axis fields without the "R", as this
// library once wrote them, reads the same axis.
TEST(KQovWriterQov5RoundTrip, RotationLimitsKeepTheirAxis) {
    TempTestFolder tmp;
    v5test::Scene built;
    KQovNode* bone = built.Add("Bone", built.manager.CreateSkeleton());
    KQovLimitsUtility limits(&bone->GetLimits());
    limits.SetAuto(KQovLimitsUtility::eRotation, false);
    limits.SetDefault(KQovLimitsUtility::eRotation, KVector4(10.0, -20.0, 30.0));
    limits.SetRotationAxis(KVector4(-40.0, 50.0, 60.5));
    limits.SetRotationType(0);
    auto expectKept = [](const std::string& name) {
        Read read(name);
        ASSERT_TRUE(read.ok);
        KQovNode* node = read.scene->GetRootNode()->FindChild("Bone");
        ASSERT_NE(node, nullptr);
        const KQovLimitsUtility got(&node->GetLimits());
        EXPECT_EQ(geotest::Point(got.GetRotationAxis(), 3), "-40,50,60.5");
        EXPECT_EQ(geotest::Point(got.GetDefault(KQovLimitsUtility::eRotation), 3), "10,-20,30");
        EXPECT_TRUE(got.IsSphericRotation());
    };
    for (int id : {4, 3}) {
        SCOPED_TRACE(id);
        KQovExporter exporter(&built.manager);
        ASSERT_TRUE(exporter.Initialize((tmp / ("bone" + std::to_string(id) + ".qov")).c_str()));
        exporter.SetFileFormat(id);
        ASSERT_TRUE(exporter.Export(built.scene, nullptr)) << exporter.GetLastErrorString();
        expectKept(tmp / ("bone" + std::to_string(id) + ".qov"));
    }
    std::string text = v5test::ReadText(tmp / "bone4.qov");
    for (const char* axis : {"RXAxis", "RYAxis", "RZAxis"}) {
        const size_t at = text.find(axis);
        ASSERT_NE(at, std::string::npos) << axis;
        text.erase(at, 1);
    }
    std::ofstream(tmp / "old.qov", std::ios::binary) << text;
    expectKept(tmp / "old.qov");
}

namespace {

// A node's textures or materials: those its layers name, then those only connected to it.
template <class T>
std::string ShadingOf(KQovNode* node, int (KQovLayerContainer::*count)(int) const,
                      T* (KQovLayerContainer::*item)(int, int) const,
                      int (*connectedCount)(const KQovNode*),
                      T* (*connected)(const KQovNode*, int)) {
    KQovGeometry* geometry = node ? node->GetGeometry() : nullptr;
    if (!geometry) return "no geometry";
    std::string out = "layers";
    std::set<T*> layered;
    for (int layer = 0; layer < geometry->GetLayerCount(); ++layer)
        for (int i = 0; i < (geometry->*count)(layer); ++i) {
            out += std::string(" ") + (geometry->*item)(i, layer)->GetName();
            layered.insert((geometry->*item)(i, layer));
        }
    // A version-6 read connects the layers' own too.
    out += "; connected";
    for (int i = 0; i < connectedCount(node); ++i)
        if (!layered.count(connected(node, i)))
            out += std::string(" ") + connected(node, i)->GetName();
    return out;
}

std::string TexturesOf(KQovNode* node) {
    return ShadingOf(node, &KQovLayerContainer::GetTextureCount, &KQovLayerContainer::GetTexture,
                     &KQovShadingScene::ConnectedTextureCount, &KQovShadingScene::ConnectedTexture);
}

std::string MaterialsOf(KQovNode* node) {
    return ShadingOf(node, &KQovLayerContainer::GetMaterialCount, &KQovLayerContainer::GetMaterial,
                     &KQovShadingScene::ConnectedMaterialCount,
                     &KQovShadingScene::ConnectedMaterial);
}

// A node holding a mesh of one triangle.
KQovNode* AddTriangle(v5test::Scene& s, const char* name) {
    KQovMesh* mesh = s.manager.CreateMesh();
    mesh->InitControlPoints(3);
    mesh->BeginPolygon(-1, -1, 0);
    for (int v : {0, 1, 2}) mesh->AddPolygonVertex(v);
    return s.Add(name, mesh);
}

// A NURBS surface, written from a copy, which belongs to no node.
KQovNode* AddSurface(v5test::Scene& s) {
    KQovNurb* nurb = s.manager.CreateNurb();
    nurb->SetOrder(2, 2);
    nurb->InitControlPoints(2, KQovNurb::eOpen, 2, KQovNurb::eOpen);
    return s.Add("Surface", nurb);
}

}  // namespace

// A texture connected to a mesh, not named by a layer, with or without materials beside it:
// every QOV id keeps it connected, listed in the scene, and out of the layers.
TEST(KQovWriterQov5RoundTrip, TexturesConnectedToTheMeshOnly) {
    TempTestFolder tmp;
    v5test::Scene s;
    s.BuildMesh();
    KQovNode* bareNode = AddTriangle(s, "Bare");
    KQovNode* surface = AddSurface(s);
    for (auto [node, name] :
         {std::make_pair(s.node, "Texture::Loose"), std::make_pair(bareNode, "Texture::Bare"),
          std::make_pair(surface, "Texture::Moss")}) {
        KQovTexture* texture = s.manager.CreateTexture(name);
        texture->SetFileName((std::string(name + 9) + ".png").c_str());
        node->GetPropertyHandler()->ConnectSrc(texture->GetPropertyHandler());
    }
    ASSERT_EQ(TexturesOf(bareNode), "layers; connected Texture::Bare");
    ASSERT_EQ(TexturesOf(surface), "layers; connected Texture::Moss");
    const std::string square = TexturesOf(s.node);
    ASSERT_NE(square.find("layers Texture::Wood;"), std::string::npos) << square;
    for (int id : {0, 1, 3, 4}) {
        SCOPED_TRACE(id);
        const std::string name = tmp / ("loose" + std::to_string(id) + ".qov");
        ASSERT_TRUE(Export(s.scene, name, id));
        Read read(name);
        ASSERT_TRUE(read.ok);
        KQovNode* root = read.scene->GetRootNode();
        EXPECT_EQ(TexturesOf(root->FindChild("Square")), square);
        EXPECT_EQ(TexturesOf(root->FindChild("Bare")), "layers; connected Texture::Bare");
        EXPECT_EQ(TexturesOf(root->FindChild("Surface")), "layers; connected Texture::Moss");
        for (const char* texture : {"Texture::Loose", "Texture::Bare", "Texture::Moss"}) {
            auto* found = static_cast<KQovTexture*>(
                read.scene->GetEntityContainer()->FindTexture(KString(texture)));
            ASSERT_NE(found, nullptr) << texture;
            const std::string file = found->GetFileName();
            EXPECT_EQ(file.substr(file.rfind('/') + 1), std::string(texture + 9) + ".png");
        }
    }
}

// A material connected to a mesh, a NURBS surface or a patch, not named by a layer: every QOV id
// keeps it connected, with its values, listed in the scene, and out of the layers; but beside a
// material layer of direct reference, which a version-6 read gives every connected material,
// version 6 leaves it out with a warning.
TEST(KQovWriterQov5RoundTrip, MaterialsConnectedToTheMeshOnly) {
    TempTestFolder tmp;
    v5test::Scene s;
    s.BuildMesh();
    KQovNode* bareNode = AddTriangle(s, "Bare");
    KQovNode* surface = AddSurface(s);
    KQovPatch* patch = s.manager.CreatePatch();
    patch->InitControlPoints(2, KQovPatch::eLinear, 2, KQovPatch::eLinear);
    KQovNode* patchNode = s.Add("Patch", patch);
    KQovNode* directNode = AddTriangle(s, "Direct");
    directNode->GetMesh()->AddMaterial(s.red, 0);  // a new element: direct reference
    const std::pair<KQovNode*, const char*> loose[] = {{s.node, "Material::Loose"},
                                                       {bareNode, "Material::Bare"},
                                                       {surface, "Material::Moss"},
                                                       {patchNode, "Material::Tile"},
                                                       {directNode, "Material::Aside"}};
    for (auto [node, name] : loose) {
        KQovMaterial* material = s.manager.CreateMaterial(name);
        material->SetDefaultDiffuse(KColor(0.125, 0.25, 0.5));
        node->GetPropertyHandler()->ConnectSrc(material->GetPropertyHandler());
    }
    const std::string square = MaterialsOf(s.node);
    ASSERT_EQ(square, "layers Material::Red Material::Blue; connected Material::Loose");
    for (int id : {0, 1, 3, 4}) {
        SCOPED_TRACE(id);
        const std::string name = tmp / ("loose" + std::to_string(id) + ".qov");
        KQovExporter exporter(&s.manager);
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(id);
        ASSERT_TRUE(exporter.Export(s.scene, nullptr));
        const bool kept = id >= 3;
        EXPECT_EQ(std::string(exporter.GetStatusText().Buffer()),
                  kept ? ""
                       : "Material \"Aside\" of \"Direct\" is not written: the model's material "
                         "layer would take it\n");
        Read read(name);
        ASSERT_TRUE(read.ok);
        KQovNode* root = read.scene->GetRootNode();
        for (auto [node, material] : loose) {
            KQovNode* back = root->FindChild(node->GetNameWithoutPrefix().Buffer());
            const std::string connected = "; connected " + std::string(material);
            EXPECT_EQ(MaterialsOf(back), node == s.node       ? square
                                         : node != directNode ? "layers" + connected
                                         : kept               ? "layers Material::Red" + connected
                                                : std::string("layers Material::Red; connected"));
            if (node == directNode && !kept) continue;
            auto* found = static_cast<KQovMaterial*>(
                read.scene->GetEntityContainer()->FindMaterial(KString(material)));
            ASSERT_NE(found, nullptr) << material;
            EXPECT_EQ(found->GetDefaultDiffuse().mBlue, 0.5);
        }
    }
}
