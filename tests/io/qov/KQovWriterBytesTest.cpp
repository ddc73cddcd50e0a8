// The bytes every QOV writing id gives a fixed scene stay what they were: golden files (the
// creation time and what derives from it masked), so faster write paths cannot change a file.
// QOV_UPDATE_GOLDEN=1 rewrites them.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "KQovWriterQov5TestUtil.h"
#include "io/KQovExporter.h"

namespace {

std::string GoldenPath(const std::string& name) {
    return std::string(QOV_SOURCE_DIR) + "/tests/io/qov/golden/" + name;
}

// The square with every layer element, a grid large enough to cross every buffer the writers
// fill a chunk at a time, and keys of every kind the key records hold.
struct BytesScene : v5test::Scene {
    BytesScene() {
        BuildNodes();
        BuildMesh();
        BuildTake();
        constexpr int kSide = 34;  // 33 x 33 quads: 4,356 polygon vertices, 1,156 points
        KQovMesh* grid = manager.CreateMesh();
        grid->InitControlPoints(kSide * kSide);
        grid->InitNormals(kSide * kSide);
        for (int i = 0; i < kSide * kSide; ++i)
            grid->SetControlPointAt(KVector4(i % kSide, i / kSide, 0.001 * i, 1.0),
                                    KVector4(0, 0.5, 1, 1), i);
        for (int y = 0; y + 1 < kSide; ++y)
            for (int x = 0; x + 1 < kSide; ++x) {
                grid->BeginPolygon(-1, -1, (x + y) % 3);
                const int at = y * kSide + x;
                for (int v : {at, at + 1, at + kSide + 1, at + kSide}) grid->AddPolygonVertex(v);
            }
        KQovLayerElementUV& uvs = grid->GetLayer(0)->MakeUVs();
        uvs.SetMappingMode(KQovLayer::eByPolygonVertex);
        uvs.SetReferenceMode(KQovLayer::eIndexToDirect);
        for (int i = 0; i < kSide * kSide; ++i)
            uvs.GetDirectArray().Add(KVector2(0.025 * (i % kSide), 0.025 * (i / kSide)));
        for (int i = 0; i < grid->GetPolygonVertices().GetCount(); ++i)
            uvs.GetIndexArray().Add(grid->GetPolygonVertices().GetAt(i));
        KQovNode* node = Add("Grid", grid);
        AddTakeTo(node, "Walk");
        KFCurve* curve = node->GetTakeNode(node->GetTakeNodeCount() - 1)->GetTranslationY();
        curve->ResizeKeyBuffer(8);
        auto step = [](int k) { return KTime(int64_t(46186158) * k); };
        curve->KeySet(0, step(0), 0.0f, KFCURVE_INTERPOLATION_LINEAR);
        curve->KeySet(1, step(1), 1.0f, KFCURVE_INTERPOLATION_CONSTANT);
        curve->KeySet(2, step(2), 2.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 0.5f,
                      -0.25f, KFCURVE_WEIGHTED_ALL, 0.2f, 0.7f);
        curve->KeySet(3, step(3), -1.5f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_BREAK, 1.0f,
                      2.0f, KFCURVE_WEIGHTED_RIGHT, 0.4f);
        curve->KeySet(4, step(4), 3.0f);
        curve->KeySetTCB(5, step(5), 0.75f, 0.1f, -0.2f, 0.3f);
        curve->KeySet(6, step(6), 4.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0.3f,
                      0.3f);
        curve->KeySet(7, step(7), 5.0f, KFCURVE_INTERPOLATION_CONSTANT);
        curve->CommitKeys(8);
        curve->KeyGet(7)->SetConstantMode(KFCURVE_CONSTANT_NEXT);
    }
};

}  // namespace

TEST(KQovWriterBytes, EveryWritingIdGivesTheGoldenBytes) {
    const struct {
        int id;
        bool binary;
        const char* golden;
    } kCases[] = {{0, true, "bytes_id0_binary6.qov"},
                  {1, false, "bytes_id1_ascii6.qov"},
                  {3, true, "bytes_id3_binary5800.qov"},
                  {4, false, "bytes_id4_ascii5800.qov"}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.golden);
        TempTestFolder tmp;
        BytesScene built;
        const std::string name = tmp / "bytes.qov";
        KQovExporter exporter(built.scene->GetObjectManager());
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(c.id);
        ASSERT_TRUE(exporter.Export(built.scene, nullptr)) << exporter.GetLastErrorString();
        const std::string raw = v5test::ReadText(name);
        ASSERT_GT(raw.size(), 50000u);  // the grid and its layers are in
        const std::string stable = c.binary ? v5test::StableBinary(raw) : v5test::Stable(raw);
        const std::string path = GoldenPath(c.golden);
        if (std::getenv("QOV_UPDATE_GOLDEN")) {
            std::ofstream(path, std::ios::binary) << stable;
            continue;
        }
        const std::string golden = v5test::ReadText(path);
        ASSERT_FALSE(golden.empty()) << "missing golden file " << path;
        ASSERT_EQ(stable.size(), golden.size());
        size_t first = 0;
        while (first < stable.size() && stable[first] == golden[first]) ++first;
        EXPECT_EQ(first, stable.size()) << "first differing byte";
    }
}

// The masking itself: two writes a moment apart differ only where it looks.
TEST(KQovWriterBytes, MaskingHidesOnlyTheTime) {
    TempTestFolder tmp;
    BytesScene built;
    std::string files[2];
    for (int i = 0; i < 2; ++i) {
        const std::string name = tmp / ("twice" + std::to_string(i) + ".qov");
        KQovExporter exporter(built.scene->GetObjectManager());
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(0);
        ASSERT_TRUE(exporter.Export(built.scene, nullptr));
        files[i] = v5test::ReadText(name);
    }
    EXPECT_EQ(v5test::StableBinary(files[0]), v5test::StableBinary(files[1]));
    // A changed value is no time stamp: it shows.
    std::string changed = files[1];
    const size_t vertices = changed.find("\x08Vertices");
    ASSERT_NE(vertices, std::string::npos);
    changed[vertices + 11] ^= 1;  // a byte of the first coordinate
    EXPECT_NE(v5test::StableBinary(files[0]), v5test::StableBinary(changed));
}
