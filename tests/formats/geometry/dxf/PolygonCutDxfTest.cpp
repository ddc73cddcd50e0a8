#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "common/PolygonTable.h"
#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
#include "io/KStreamOptionsBase.h"

namespace {

const char* const kPython = "/usr/bin/python3";

// Each polyface's faces as an independent reader finds them, per layer, in file order.
std::map<std::string, std::vector<std::vector<KVector4>>> EzdxfFaces(const TempTestFolder& folder,
                                                                     const std::string& path) {
    const std::string script = folder / "faces.py", result = folder / "faces.txt";
    std::ofstream(script)
        << "import sys, ezdxf\n"
           "doc = ezdxf.readfile(sys.argv[1])\n"
           "assert not doc.audit().errors\n"
           "for m in doc.modelspace().query('POLYLINE'):\n"
           "    for face in m.faces():\n"
           "        points = [v.dxf.location for v in face[:-1]]\n"
           "        print(m.dxf.layer, len(points),\n"
           "              ' '.join('%r %r %r' % (p.x, p.y, p.z) for p in points))\n";
    std::map<std::string, std::vector<std::vector<KVector4>>> faces;
    if (std::system((std::string(kPython) + " " + script + " " + path + " > " + result).c_str()) !=
        0)
        return faces;
    std::ifstream in(result);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string layer;
        size_t count = 0;
        fields >> layer >> count;
        std::vector<KVector4> face(count);
        for (KVector4& p : face) fields >> p[0] >> p[1] >> p[2];
        faces[layer].push_back(face);
    }
    return faces;
}

// The file's axes (Z up).
KVector4 FileAxes(const KVector4& p) {
    return KVector4(p[0], -p[2], p[1]);
}

// The scene written as DXF, triangulated (option 2) or not; `status` is the writer's.
bool ExportDxf(KQovObjectManager& manager, KQovScene* scene, const std::string& path,
               int triangulate, std::string& status) {
    KQovExporter exporter(&manager);
    exporter.Initialize(path.c_str());
    exporter.SetFileFormat(16);
    KStreamOptionsDxf options;
    options.SetOptionValue(2, triangulate);
    const bool ok = exporter.Export(scene, &options);
    status = exporter.GetStatusText().Buffer();
    return ok;
}

// Every polygon of the table keeps its area and facing, cut by the writer (more than four
// corners, as a fan when convex) or by the converter (Force Triangulation); convex polygons
// keep the faces written before concave outlines were followed.
TEST(PolygonCutDxf, TablePolygonsKeepAreaAndFacingThroughEzdxf) {
    ASSERT_EQ(std::system((std::string(kPython) + " -c 'import ezdxf' 2>/dev/null").c_str()), 0)
        << "python3 with the ezdxf module is needed (Debian package python3-ezdxf; "
           "scripts/install-deps.sh)";
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::vector<TablePolygon> table = PolygonTable();
    for (int triangulate : {0, 1}) {
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        AddPolygonTable(manager, scene);
        const std::string path = folder / ("table" + std::to_string(triangulate) + ".dxf");
        std::string status;
        ASSERT_TRUE(ExportDxf(manager, scene, path, triangulate, status));
        EXPECT_EQ(status, "");
        const auto faces = EzdxfFaces(folder, path);
        ASSERT_EQ(faces.size(), table.size()) << "ezdxf did not read " << path;
        for (size_t i = 0; i < table.size(); ++i) {
            const TablePolygon& row = table[i];
            const std::string what = row.name + (triangulate ? ", triangulated" : "");
            const int n = int(row.corners.size());
            std::vector<KVector4> polygon;
            for (const KVector4& p : row.corners) polygon.push_back(FileAxes(p));
            std::vector<std::vector<KVector4>> pieces = faces.at("P" + std::to_string(i));
            ASSERT_EQ(pieces.size(), size_t(!triangulate && n <= 4 ? 1 : n - 2)) << what;
            const CutCheck c = CheckCut(polygon, pieces, 1e-6);
            EXPECT_NEAR(c.area, c.expected, 1e-5 * c.expected) << what;
            EXPECT_NEAR(c.covered, c.expected, 1e-5 * c.expected) << what;
            EXPECT_EQ(c.backwards, 0) << what;
            if (!row.convex || n <= 4) continue;
            std::vector<KQovPolygonTriangulation::Triangle> plain;
            KQovPolygonTriangulation::PlainCut(
                triangulate ? KQovPolygonTriangulation::eStrip : KQovPolygonTriangulation::eFan, n,
                plain);
            for (size_t t = 0; t < plain.size(); ++t)
                for (int k = 0; k < 3; ++k)
                    for (int a = 0; a < 3; ++a)
                        EXPECT_NEAR(pieces[t][k][a], polygon[plain[t][k]][a], 1e-6)
                            << what << " triangle " << t;
        }
    }
}

// A crossing outline keeps the plain cut, and the status says so, on both cutting paths.
TEST(PolygonCutDxf, CrossingOutlineIsCutPlainlyWithAMessage) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    for (int triangulate : {0, 1}) {
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        AddPolygonNode(manager, scene, "Cross", CrossingPolygon());
        const std::string path = folder / "cross.dxf";
        std::string status;
        ASSERT_TRUE(ExportDxf(manager, scene, path, triangulate, status));
        // The writer fans a polygon of more than four corners; the converter cuts strips.
        EXPECT_EQ(status, KQovPolygonTriangulation::FallbackMessage(
                              1, "Cross",
                              triangulate ? KQovPolygonTriangulation::eStrip
                                          : KQovPolygonTriangulation::eFan))
            << triangulate;
    }
}

}  // namespace
