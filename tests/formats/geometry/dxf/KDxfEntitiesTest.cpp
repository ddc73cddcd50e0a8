#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "DxfTestText.h"
#include "common/TempTestFolder.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "formats/geometry/dxf/KDxfDrawingReader.h"

namespace {

using Polygons = std::vector<std::vector<int>>;

Polygons PolygonsOf(const KQovMesh& mesh) {
    Polygons out;
    for (int p = 0; p < mesh.GetPolygonCount(); ++p) {
        out.emplace_back();
        for (int k = 0; k < mesh.GetPolygonSize(p); ++k) out.back().push_back(mesh.GetPolygonVertex(p, k));
    }
    return out;
}

const char* kPolyfaceHead = "0|POLYLINE|8|A|66|1|70|64|";
const char* kFourPoints =
    "0|VERTEX|10|0|20|0|30|0|70|192|0|VERTEX|10|1|20|0|30|0|70|192|"
    "0|VERTEX|10|1|20|1|30|0|70|192|0|VERTEX|10|0|20|1|30|0|70|192|";

// A polygon mesh POLYLINE (flags, M, N) with `vertices` VERTEX entities (flags 64) at x = i.
std::string MeshGrid(int flags, int m, int n, int vertices) {
    std::string text = "0|POLYLINE|70|" + std::to_string(flags) + "|71|" + std::to_string(m) +
                       "|72|" + std::to_string(n) + "|";
    for (int i = 0; i < vertices; ++i) text += "0|VERTEX|10|" + std::to_string(i) + "|70|64|";
    return text + "0|SEQEND|";
}

}  // namespace

// One entity read in the entity mode: its points, polygons and polygon materials.
TEST(KDxfEntities, EntitiesBecomeMeshes) {
    const std::string polyface = std::string(kPolyfaceHead) + kFourPoints;
    struct Case {
        const char* name;
        std::string entity;
        int points;
        Polygons polygons;
    } cases[] = {
        {"line", "0|LINE|8|A|10|0|20|0|30|0|11|1|21|2|31|3|", 2, {{0, 1, 0}}},
        {"3dface, corner 4 repeats 3",
         "0|3DFACE|10|0|20|0|30|0|11|1|21|0|31|0|12|1|22|1|32|0|13|1|23|1|33|0|", 3, {{0, 1, 2}}},
        {"3dface of three corners, no fourth through the origin",
         "0|3DFACE|10|1|20|0|30|0|11|2|21|0|31|0|12|2|22|1|32|0|", 3, {{0, 1, 2}}},
        {"polyface quad, invisible edge",
         polyface + "0|VERTEX|70|128|71|1|72|2|73|3|74|-4|0|SEQEND|", 4, {{0, 1, 2, 3}}},
        {"face of two numbers", polyface + "0|VERTEX|70|128|71|1|72|2|73|0|0|VERTEX|70|128|71|2|72|3|73|4|0|SEQEND|",
         4, {{0, 1, 0}, {1, 2, 3}}},
        {"face numbers beyond the points read so far are dropped",
         polyface + "0|VERTEX|70|128|71|1|72|2|73|5|0|VERTEX|70|128|71|1|72|-2147483648|73|3|"
                    "0|VERTEX|70|128|71|1|72|2|73|3|0|SEQEND|",
         4, {{0, 1, 2}}},
        {"face and vertex numbers of 0", polyface + "0|VERTEX|70|128|71|0|72|2|73|3|0|SEQEND|", 4, {}},
        {"closed 3d polyline",
         "0|POLYLINE|70|9|0|VERTEX|10|0|70|32|0|VERTEX|10|1|70|32|0|VERTEX|10|2|70|32|"
         "0|VERTEX|10|3|70|32|0|SEQEND|",
         4, {{1, 0, 1}, {2, 1, 2}, {3, 2, 3}, {0, 3, 0}}},
        {"a vertex count in group 71 is no size", "0|POLYLINE|70|64|71|2000000000|" + std::string(kFourPoints) +
             "0|SEQEND|", 4, {}},
        {"polygon mesh of 3 x 2", MeshGrid(16, 3, 2, 6), 6, {{0, 1, 3, 2}, {2, 3, 5, 4}}},
        {"polygon mesh closed in M", MeshGrid(17, 3, 2, 6), 6, {{0, 1, 3, 2}, {2, 3, 5, 4}, {4, 5, 1, 0}}},
        {"polygon mesh closed in N", MeshGrid(48, 2, 3, 6), 6,
         {{0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}}},
        {"mesh: a quad and a pentagon, edges and creases not faces",
         "0|MESH|100|AcDbSubDMesh|71|2|72|0|91|0|92|5|10|0|20|0|30|0|10|1|20|0|30|0|10|1|20|1|30|0|"
         "10|0|20|1|30|0|10|0|20|0|30|1|93|11|90|4|90|0|90|1|90|2|90|3|90|5|90|4|90|3|90|2|90|1|90|0|"
         "94|1|90|0|90|1|95|1|140|0|90|0|",
         5, {{0, 1, 2, 3}, {4, 3, 2, 1, 0}}},
        {"mesh: faces of too few corners, of a vertex not there, cut short",
         "0|MESH|92|3|10|0|20|0|30|0|10|1|10|2|93|12|90|2|90|0|90|1|90|3|90|0|90|1|90|3|"
         "90|3|90|0|90|1|90|2|90|4|90|0|",
         3, {{0, 1, 2}}},
        {"mesh: a count of billions is no size", "0|MESH|92|3|10|0|10|1|10|2|93|2000000000|90|2000000000|90|1|", 3, {}},
        {"solid: corners 1, 2, 4, 3", "0|SOLID|10|0|20|0|11|1|21|0|12|0|22|1|13|1|23|1|", 4,
         {{0, 1, 2, 3}}},
        {"trace of three corners", "0|TRACE|10|0|20|0|11|1|21|0|12|0|22|1|13|0|23|1|", 3, {{0, 1, 2}}},
    };
    for (const Case& c : cases) {
        KDxfDrawingReader reader(KDxfDrawingReader::eByEntity, true);
        const std::string text = DxfEntities(c.entity);
        ASSERT_TRUE(reader.Read(text)) << c.name;
        ASSERT_EQ(reader.GetNodes().size(), 1u) << c.name;
        const KQovMesh& mesh = *reader.GetNodes()[0]->mesh;
        EXPECT_EQ(mesh.GetControlPointsCount(), c.points) << c.name;
        EXPECT_EQ(PolygonsOf(mesh), c.polygons) << c.name;
    }
}

TEST(KDxfEntities, AxesAndCornerOrder) {
    KDxfDrawingReader reader(KDxfDrawingReader::eByEntity, true);
    const std::string text = DxfEntities(
        "0|LINE|10|0|20|0|30|0|11|1|21|2|31|3|"
        "0|3DFACE|10|1|20|0|30|0|11|2|21|0|31|0|12|3|22|0|32|0|13|3|23|0|33|0|");
    ASSERT_TRUE(reader.Read(text));
    const KArrayVector4& line = reader.GetNodes()[0]->mesh->GetControlPoints();
    EXPECT_EQ(line.GetAt(1), KVector4(1, 3, -2));
    EXPECT_EQ(line.GetAt(1)[3], 1.0);
    const KArrayVector4& face = reader.GetNodes()[1]->mesh->GetControlPoints();
    // Corners in file order keep the face's facing.
    EXPECT_EQ(face.GetAt(0)[0], 1.0);
    EXPECT_EQ(face.GetAt(2)[0], 3.0);
    EXPECT_TRUE(reader.GetNodes()[0]->wireFrame);
    EXPECT_FALSE(reader.GetNodes()[1]->wireFrame);
}

// Colour numbers: the entity's, else its layer's (also when the layer is off); one material
// per number for the whole read, named in order of first use.
TEST(KDxfEntities, ColoursAndMaterials) {
    const std::string tables = "0|SECTION|2|TABLES|0|TABLE|2|LAYER|70|1|0|LAYER|2|OFF|62|-3|"
                               "0|LAYER|2|TC|62|3|420|255|0|ENDTAB|0|ENDSEC|";
    struct Case {
        const char* entity;
        double r, g, b;  // r < 0: no material
    } cases[] = {
        {"0|LINE|8|OFF|11|1|", 0, 1, 0},
        {"0|LINE|8|off|62|0|11|1|", 0, 1, 0},
        {"0|LINE|8|OFF|62|256|11|1|", -1, 0, 0},
        {"0|LINE|8|OTHER|11|1|", -1, 0, 0},
        {"0|LINE|62|30|11|1|", 1, 0.5, 0},
        // A true colour (group 420) before the number; a layer's before its number.
        {"0|LINE|62|1|420|16744448|11|1|", 1, 128 / 255.0, 0},
        {"0|LINE|62|0|420|16744448|11|1|", 1, 128 / 255.0, 0},
        {"0|LINE|8|tc|11|1|", 0, 0, 1},
        {"0|LINE|8|TC|62|0|11|1|", 0, 0, 1},
        {"0|LINE|8|TC|62|2|11|1|", 1, 1, 0},
    };
    for (const auto& c : cases) {
        KDxfDrawingReader reader(KDxfDrawingReader::eByEntity, true);
        const std::string text = DxfEntities(c.entity, tables);
        ASSERT_TRUE(reader.Read(text)) << c.entity;
        const KQovMesh& mesh = *reader.GetNodes()[0]->mesh;
        if (c.r < 0) {
            EXPECT_EQ(mesh.GetMaterialCount(0), 0) << c.entity;
            continue;
        }
        ASSERT_EQ(mesh.GetMaterialCount(0), 1) << c.entity;
        const KColor diffuse = mesh.GetMaterial(0, 0)->GetDefaultDiffuse();
        // Material colours are kept in single precision.
        EXPECT_NEAR(diffuse.mRed, c.r, 1e-7) << c.entity;
        EXPECT_NEAR(diffuse.mGreen, c.g, 1e-7) << c.entity;
        EXPECT_NEAR(diffuse.mBlue, c.b, 1e-7) << c.entity;
        EXPECT_EQ(mesh.GetMaterialIndices()->GetAt(0), 0);
    }
    KDxfDrawingReader reader(KDxfDrawingReader::eByEntity, true);
    const std::string text = DxfEntities("0|LINE|62|20|11|1|0|LINE|62|5|11|1|0|LINE|62|20|11|2|");
    ASSERT_TRUE(reader.Read(text));
    const auto& nodes = reader.GetNodes();
    EXPECT_EQ(nodes[0]->mesh->GetMaterial(0, 0), nodes[2]->mesh->GetMaterial(0, 0));
    EXPECT_STREQ(nodes[0]->mesh->GetMaterial(0, 0)->GetName(), "Material::Material0");
    EXPECT_STREQ(nodes[1]->mesh->GetMaterial(0, 0)->GetName(), "Material::Material1");
}

// Colours inside blocks: BYBLOCK (0) takes the instance's colour, an entity on layer 0
// without one the instance's layer's, through nested instances too; other layers and
// numbers stay the entity's own.
TEST(KDxfEntities, ColoursInBlocks) {
    const std::string before =
        "0|SECTION|2|TABLES|0|TABLE|2|LAYER|0|LAYER|2|0|62|7|0|LAYER|2|RED|62|1|"
        "0|LAYER|2|BLUE|62|5|0|ENDTAB|0|ENDSEC|"
        "0|SECTION|2|BLOCKS|0|BLOCK|2|BB|0|LINE|8|0|62|0|11|1|0|ENDBLK|"
        "0|BLOCK|2|BL|0|LINE|8|0|11|1|0|ENDBLK|"
        "0|BLOCK|2|BX|0|LINE|8|0|62|256|11|1|0|ENDBLK|"
        "0|BLOCK|2|OWN|0|LINE|8|BLUE|11|1|0|LINE|8|0|62|3|11|1|0|ENDBLK|"
        "0|BLOCK|2|NEST|0|INSERT|2|BB|62|0|0|INSERT|2|BL|8|0|0|ENDBLK|0|ENDSEC|";
    struct Case {
        const char* insert;
        double rgb[2][3];  // of the first line, or of the first two nested instances
    } cases[] = {
        {"0|INSERT|2|BB|62|3|", {{0, 1, 0}}},
        {"0|INSERT|2|BB|8|RED|", {{1, 0, 0}}},
        {"0|INSERT|2|BB|8|RED|420|65280|", {{0, 1, 0}}},
        {"0|INSERT|2|BL|8|RED|62|3|", {{1, 0, 0}}},
        {"0|INSERT|2|BL|", {{1, 1, 1}}},
        // Colour 256 (BYLAYER) given outright, on the instance and on the entity.
        {"0|INSERT|2|BB|8|RED|62|256|", {{1, 0, 0}}},
        {"0|INSERT|2|BX|8|RED|62|3|", {{1, 0, 0}}},
        {"0|INSERT|2|OWN|8|RED|62|3|", {{0, 0, 1}}},
        {"0|INSERT|2|NEST|8|RED|62|5|", {{0, 0, 1}, {1, 0, 0}}},
    };
    for (const Case& c : cases) {
        KDxfDrawingReader reader(KDxfDrawingReader::eByEntity, false);
        const std::string text = DxfEntities(c.insert, before);
        ASSERT_TRUE(reader.Read(text)) << c.insert;
        ASSERT_EQ(reader.GetNodes().size(), 1u) << c.insert;
        const KDxfNodeRecord& node = *reader.GetNodes()[0];
        for (int k = 0; k < 2; ++k) {
            if (k == 1 && node.children.empty()) break;
            const KQovMesh& mesh = node.children.empty() ? *node.mesh : *node.children[k]->mesh;
            ASSERT_NE(mesh.GetMaterialIndices(), nullptr) << c.insert << " " << k << ": no colour";
            const KColor diffuse = mesh.GetMaterial(mesh.GetMaterialIndices()->GetAt(0), 0)->GetDefaultDiffuse();
            EXPECT_NEAR(diffuse.mRed, c.rgb[k][0], 1e-7) << c.insert << " " << k;
            EXPECT_NEAR(diffuse.mGreen, c.rgb[k][1], 1e-7) << c.insert << " " << k;
            EXPECT_NEAR(diffuse.mBlue, c.rgb[k][2], 1e-7) << c.insert << " " << k;
        }
    }
}

// Layer mode: welding, flat faces dropped, one node per layer in name order.
TEST(KDxfEntities, LayersCollectWeldedPoints) {
    const std::string lines = "0|LINE|8|B|10|0|11|1|0|LINE|8|b|10|1|11|2|0|LINE|8|A|11|1|"
                              "0|3DFACE|8|A|10|5|11|5|12|5|13|6|";
    struct Case {
        bool weld;
        int pointsOfB;
    } cases[] = {{true, 3}, {false, 4}};
    for (const Case& c : cases) {
        KDxfDrawingReader reader(KDxfDrawingReader::eByLayer, c.weld);
        const std::string text = DxfEntities(lines);
        ASSERT_TRUE(reader.Read(text));
        ASSERT_EQ(reader.GetNodes().size(), 2u);
        EXPECT_EQ(reader.GetNodes()[0]->name, "A");
        EXPECT_EQ(reader.GetNodes()[0]->mesh->GetPolygonCount(), 1);  // the flat face is gone
        EXPECT_EQ(reader.GetNodes()[1]->name, "B");
        EXPECT_EQ(reader.GetNodes()[1]->mesh->GetControlPointsCount(), c.pointsOfB);
    }
    // The same flat face read as an entity keeps its polygon.
    KDxfDrawingReader entity(KDxfDrawingReader::eByEntity, true);
    const std::string face = DxfEntities("0|3DFACE|8|A|10|5|11|5|12|5|13|6|");
    ASSERT_TRUE(entity.Read(face));
    EXPECT_EQ(entity.GetNodes()[0]->mesh->GetPolygonCount(), 1);
}

// Welding finds the first point within 1e-6 in every axis, also across grid cells.
TEST(KDxfEntities, WeldingMatchesALinearSearch) {
    KDxfCollection collection;
    KArrayVector4 all;
    const double values[] = {0.0, 1e-6 * 0.5, 0.001 - 1e-7, 0.001 + 1e-7, -0.0009999995, 1e9, 1e300};
    for (double x : values)
        for (double y : values) {
            const KVector4 p(x, y, 0.0);
            const int linear = all.Find(p);
            const int expected = linear >= 0 ? linear : all.GetCount();
            if (linear < 0) all.Add(p);
            EXPECT_EQ(collection.AddPoint(p, true), expected) << x << " " << y;
        }
}

// A closed unit box whose faces turn counter-clockwise seen from outside (as modellers write
// them) reads as a solid of volume +1, not inside out.
TEST(KDxfEntities, FacesKeepTheirFacing) {
    std::string box = kPolyfaceHead;
    for (int i = 0; i < 8; ++i)
        box += "0|VERTEX|10|" + std::to_string(i & 1) + "|20|" + std::to_string(i >> 1 & 1) +
               "|30|" + std::to_string(i >> 2) + "|70|192|";
    // Vertex numbers from 1: bit 0 is x, bit 1 is y, bit 2 is z.
    const int faces[6][4] = {{1, 3, 4, 2}, {5, 6, 8, 7}, {1, 2, 6, 5},
                             {3, 7, 8, 4}, {1, 5, 7, 3}, {2, 4, 8, 6}};
    for (const auto& f : faces)
        box += "0|VERTEX|70|128|71|" + std::to_string(f[0]) + "|72|" + std::to_string(f[1]) +
               "|73|" + std::to_string(f[2]) + "|74|" + std::to_string(f[3]) + "|";
    box += "0|SEQEND|";
    for (int mode : {0, 1, 2}) {
        KDxfDrawingReader reader(mode, true);
        ASSERT_TRUE(reader.Read(DxfEntities(box))) << mode;
        ASSERT_EQ(reader.GetNodes().size(), 1u) << mode;
        const KQovMesh& mesh = *reader.GetNodes()[0]->mesh;
        const KArrayVector4& p = mesh.GetControlPoints();
        double volume = 0;
        for (int j = 0; j < mesh.GetPolygonCount(); ++j)
            for (int k = 1; k + 1 < mesh.GetPolygonSize(j); ++k) {
                const KVector4 a = p.GetAt(mesh.GetPolygonVertex(j, 0)),
                               b = p.GetAt(mesh.GetPolygonVertex(j, k)),
                               c = p.GetAt(mesh.GetPolygonVertex(j, k + 1));
                volume += (a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                           a[2] * (b[0] * c[1] - b[1] * c[0])) / 6;
            }
        EXPECT_NEAR(volume, 1.0, 1e-12) << mode;
    }
}

// A polygon mesh whose vertices do not fill its grid leaves nothing and is told once, in every
// mode (a block's once however often it is placed); the entities around it are read. So is a
// polyline none of whose vertices is of a kind read (2D), not one read (3D).
TEST(KDxfEntities, PolygonMeshOfTooFewVerticesIsTold) {
    const std::string flat = "0|POLYLINE|70|1|0|VERTEX|10|0|0|VERTEX|10|1|0|VERTEX|20|1|0|SEQEND|";
    const std::string blocks = "0|SECTION|2|BLOCKS|0|BLOCK|2|B|10|0|20|0|30|0|" +
                               MeshGrid(16, 3, 3, 8) + flat + "0|ENDBLK|0|ENDSEC|";
    const std::string entities = MeshGrid(16, 2, 2, 5) + MeshGrid(16, 0, 4, 0) +
                                 MeshGrid(16, 65536, 65536, 4) + flat +
                                 "0|POLYLINE|70|8|0|VERTEX|70|32|0|VERTEX|10|1|70|32|0|SEQEND|" +
                                 "0|INSERT|2|B|0|INSERT|2|B|0|LINE|11|1|";
    for (int mode : {0, 1, 2}) {
        KDxfDrawingReader reader(mode, true);
        ASSERT_TRUE(reader.Read(DxfEntities(entities, blocks))) << mode;
        EXPECT_EQ(reader.GetStatus(),
                  "4 polygon meshes are not read: their vertices do not fill their grids (groups "
                  "71 and 72)\n2 polylines are not read: 2D polylines, or ones whose vertex flags "
                  "(group 70) do not fit them\n")
            << mode;
        int polygons = 0;
        for (const auto& node : reader.GetNodes())
            if (node->mesh) polygons += node->mesh->GetPolygonCount();
        EXPECT_EQ(polygons, 2) << mode;  // the 3D polyline's segment and the line
    }
}

// A polygon mesh and a polyface mesh that ezdxf writes, read as ezdxf reads them: the same
// faces, corner by corner, in the same order.
TEST(KDxfEntities, MeshesAsEzdxfReadsThem) {
    const char* const python = "/usr/bin/python3";
    ASSERT_EQ(std::system((std::string(python) + " -c 'import ezdxf' 2>/dev/null").c_str()), 0)
        << "python3 with the ezdxf module is needed (Debian package python3-ezdxf; "
           "scripts/install-deps.sh)";
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string script = folder / "mesh.py", path = folder / "mesh.dxf";
    std::ofstream(script)
        << "import sys, ezdxf\n"
           "from ezdxf.render import MeshBuilder\n"
           "doc = ezdxf.new('R2000')\n"
           "msp = doc.modelspace()\n"
           "grid = msp.add_polymesh(size=(4, 3))\n"
           "for i in range(4):\n"
           "    for j in range(3):\n"
           "        grid.set_mesh_vertex((i, j), (i, j, (i * j) % 3 * 0.5))\n"
           "pf = msp.add_polyface()\n"
           "pf.append_face([(0, 0, 5), (1, 0, 5), (1, 1, 5), (0, 1, 6)])\n"
           "pf.append_face([(1, 0, 5), (2, 0, 5), (1, 1, 5)])\n"
           "doc.saveas(sys.argv[1])\n"
           "for e in ezdxf.readfile(sys.argv[1]).modelspace().query('POLYLINE'):\n"
           "    for face in MeshBuilder.from_polyface(e).faces_as_vertices():\n"
           "        print(len(face), ' '.join('%r %r %r' % (p.x, p.z, -p.y) for p in face))\n"
           "    print(0)\n";
    FILE* pipe = popen((std::string(python) + " " + script + " " + path).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    ASSERT_EQ(pclose(pipe), 0) << output;
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    KDxfDrawingReader reader(KDxfDrawingReader::eByEntity, true);
    const std::string drawing = text.str();
    ASSERT_TRUE(reader.Read(drawing));
    EXPECT_EQ(reader.GetStatus(), "");
    std::istringstream expected(output);
    for (const auto& node : reader.GetNodes()) {
        const KQovMesh& mesh = *node->mesh;
        for (int p = 0; p < mesh.GetPolygonCount(); ++p) {
            int corners = 0;
            ASSERT_TRUE(expected >> corners);
            ASSERT_EQ(mesh.GetPolygonSize(p), corners) << node->name << " " << p;
            for (int k = 0; k < corners; ++k) {
                const KVector4 at = mesh.GetControlPoints().GetAt(mesh.GetPolygonVertex(p, k));
                for (int a = 0; a < 3; ++a) {
                    double value = 0;
                    expected >> value;
                    EXPECT_EQ(at[a], value) << node->name << " " << p << " " << k;
                }
            }
        }
        int end = -1;
        expected >> end;
        EXPECT_EQ(end, 0) << node->name << ": ezdxf finds more faces";
    }
    EXPECT_EQ(reader.GetNodes().size(), 2u);
}
