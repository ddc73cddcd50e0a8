#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "Reading3ds.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "common/PolygonTable.h"
#include "foundation/KLocale.h"

namespace {

// A scene point as the file holds it: Z up, single precision.
KVector4 FileAxes(const KVector4& p) {
    return KVector4(float(p[0]), float(-p[2]), float(p[1]));
}

std::string FaceLine(const std::string& mesh, const KVector4 (&points)[3]) {
    std::string line = "face " + mesh;
    for (const KVector4& p : points)
        for (int c = 0; c < 3; ++c) line += KFormatC(" %.9g", p[c]);
    return line;
}

// Each mesh's faces as lib3ds reads them.
std::map<std::string, std::vector<std::vector<KVector4>>> Lib3dsFaces(
    const std::string& path, std::set<std::string>& lines) {
    std::map<std::string, std::vector<std::vector<KVector4>>> faces;
    for (const std::string& line : Lib3dsLines(path, "faces")) {
        std::istringstream in(line);
        std::string kind, name;
        in >> kind >> name;
        std::vector<KVector4> face(3);
        for (KVector4& p : face) in >> p[0] >> p[1] >> p[2];
        faces[name].push_back(face);
        lines.insert(line);
    }
    return faces;
}

// Every polygon of the table keeps its area and facing; convex ones keep the faces written
// before concave outlines were followed.
TEST(PolygonCut3ds, TablePolygonsKeepAreaAndFacingThroughLib3ds) {
    Reading3ds source;
    KQovScene* scene = source.manager.CreateScene();
    AddPolygonTable(source.manager, scene);
    TempPath3ds file("table.3ds");
    ASSERT_TRUE(source.Write(file.path, scene));
    EXPECT_STREQ(source.status.Buffer(), "");
    std::set<std::string> lines;
    const auto faces = Lib3dsFaces(file.path, lines);
    const std::vector<TablePolygon> table = PolygonTable();
    ASSERT_EQ(faces.size(), table.size()) << "lib3ds_counts did not read " << file.path;
    for (size_t i = 0; i < table.size(); ++i) {
        const TablePolygon& row = table[i];
        const std::string name = "P" + std::to_string(i);
        std::vector<KVector4> polygon;
        for (const KVector4& p : row.corners) polygon.push_back(FileAxes(p));
        ASSERT_EQ(faces.at(name).size(), row.corners.size() - 2) << row.name;
        const CutCheck c = CheckCut(polygon, faces.at(name), 1e-6);
        EXPECT_NEAR(c.area, c.expected, 1e-5 * c.expected) << row.name;
        EXPECT_NEAR(c.covered, c.expected, 1e-5 * c.expected) << row.name;
        EXPECT_EQ(c.backwards, 0) << row.name;
        if (!row.convex) continue;
        for (const std::array<int, 3>& t : TriangulatePolygon3ds(int(polygon.size()))) {
            const KVector4 points[3] = {polygon[t[0]], polygon[t[1]], polygon[t[2]]};
            EXPECT_EQ(lines.count(FaceLine(name, points)), 1u)
                << row.name << ": " << t[0] << t[1] << t[2];
        }
    }
}

// A crossing outline keeps the plain cut, and the status says so.
TEST(PolygonCut3ds, CrossingOutlineIsCutPlainlyWithAMessage) {
    Reading3ds source;
    KQovScene* scene = source.manager.CreateScene();
    AddPolygonNode(source.manager, scene, "Cross", CrossingPolygon());
    TempPath3ds file("cross.3ds");
    ASSERT_TRUE(source.Write(file.path, scene));
    EXPECT_EQ(std::string(source.status.Buffer()),
              KQovPolygonTriangulation::FallbackMessage(1, "Cross"));
    EXPECT_EQ(Lib3dsCounts(file.path).at("faces"), 4);
}

}  // namespace
