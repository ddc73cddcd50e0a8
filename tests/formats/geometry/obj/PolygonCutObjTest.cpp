#include <gtest/gtest.h>

#include "ObjTestFiles.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "common/PolygonTable.h"
#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
#include "io/KStreamOptionsBase.h"

namespace {

bool WriteObj(KQovObjectManager& manager, KQovScene* scene, const std::string& path,
              KString& status) {
    KQovExporter exporter(&manager);
    exporter.Initialize(path.c_str());
    exporter.SetFileFormat(18);
    KStreamOptionsObj options;
    options.SetOptionValue(2, 1);  // Force Triangulation: the converter's cut
    const bool ok = exporter.Export(scene, &options);
    status = exporter.GetStatusText();
    return ok;
}

// Every polygon of the table, triangulated on the way out, keeps its area and facing as an
// independent reader finds the triangles.
TEST(PolygonCutObj, TriangulatedTablePolygonsKeepAreaAndFacing) {
#ifndef QOV_HAVE_TINYOBJ
    GTEST_SKIP() << "tinyobjloader is not installed (scripts/install-deps.sh)";
#else
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    AddPolygonTable(manager, scene);
    const std::string path = folder / "table.obj";
    KString status;
    ASSERT_TRUE(WriteObj(manager, scene, path, status));
    EXPECT_STREQ(status.Buffer(), "");

    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, error;
    ASSERT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &error, path.c_str(),
                                 (folder.path() + "/").c_str(), false))
        << error;
    std::vector<std::vector<KVector4> > faces;  // in file order
    for (const tinyobj::shape_t& shape : shapes) {
        size_t at = 0;
        for (unsigned char count : shape.mesh.num_face_vertices) {
            std::vector<KVector4> face;
            for (size_t k = 0; k < count; ++k) {
                const int v = shape.mesh.indices[at + k].vertex_index;
                face.push_back(KVector4(attrib.vertices[3 * v], attrib.vertices[3 * v + 1],
                                        attrib.vertices[3 * v + 2]));
            }
            at += count;
            faces.push_back(face);
        }
    }
    size_t next = 0;
    for (const TablePolygon& row : PolygonTable()) {
        const size_t count = row.corners.size() - 2;
        ASSERT_LE(next + count, faces.size()) << row.name;
        const std::vector<std::vector<KVector4> > pieces(faces.begin() + next,
                                                         faces.begin() + next + count);
        next += count;
        for (const std::vector<KVector4>& piece : pieces) EXPECT_EQ(piece.size(), 3u) << row.name;
        const CutCheck c = CheckCut(row.corners, pieces, 1e-5);
        EXPECT_NEAR(c.area, c.expected, 1e-4 * c.expected) << row.name;
        EXPECT_NEAR(c.covered, c.expected, 1e-4 * c.expected) << row.name;
        EXPECT_EQ(c.backwards, 0) << row.name;
    }
    EXPECT_EQ(next, faces.size());
#endif
}

TEST(PolygonCutObj, CrossingOutlineIsCutPlainlyWithAMessage) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    AddPolygonNode(manager, scene, "Cross", CrossingPolygon());
    KString status;
    ASSERT_TRUE(WriteObj(manager, scene, folder / "cross.obj", status));
    EXPECT_EQ(std::string(status.Buffer()), KQovPolygonTriangulation::FallbackMessage(1, "Cross"));
    EXPECT_EQ(ReadText(folder / "cross.obj").find("f 1 2 3 4 5 6"), std::string::npos);
}

}  // namespace
