#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "DxfTestText.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "common/TempTestFolder.h"
#include "formats/geometry/dxf/KDxfSceneNodes.h"
#include "scene/KQovNode.h"

namespace {

// Nodes made for the test; their meshes are freed with them.
struct Nodes {
    ~Nodes() {
        for (auto it = made.rbegin(); it != made.rend(); ++it) delete (*it)->SetNodeAttribute(nullptr);
        while (!made.empty()) made.pop_back();
    }
    KDxfNodeFactory Factory() {
        return [this](const std::string& name) {
            made.push_back(std::make_unique<KQovNode>(nullptr, ("Model::" + name).c_str()));
            return made.back().get();
        };
    }
    std::vector<std::unique_ptr<KQovNode>> made;
};

}  // namespace

// Read, turned into nodes, written from the nodes in world space and read again: a block
// instance rotated about its base point lands where the drawing puts it.
TEST(KDxfSceneNodes, InstancesLandInWorldSpace) {
    const std::string text = DxfEntities(
        "0|INSERT|2|DOOR|10|5|20|5|50|90|0|LINE|8|WIRE|10|1|20|2|30|3|11|1|",
        "0|SECTION|2|TABLES|0|TABLE|2|LAYER|0|LAYER|2|WIRE|62|-1|0|ENDTAB|0|ENDSEC|"
        "0|SECTION|2|BLOCKS|0|BLOCK|2|DOOR|10|1|20|2|30|0|0|LINE|62|3|10|0|20|0|11|1|0|ENDBLK|0|ENDSEC|");
    KDxfDrawingReader reader(KDxfDrawingReader::eByLayer, true);
    ASSERT_TRUE(reader.Read(text));
    Nodes nodes;
    KQovNode root(nullptr, "Model::root");
    ASSERT_TRUE(KDxfAddNodes(reader.GetNodes(), &root, nodes.Factory()));
    ASSERT_EQ(root.GetChildCount(), 2);
    EXPECT_STREQ(root.GetChild(0)->GetName(), "Model::DOOR");
    EXPECT_FALSE(root.GetChild(1)->GetVisibility());

    std::vector<KDxfMeshEntry> meshes;
    KDxfCollectMeshes(&root, meshes);
    ASSERT_EQ(meshes.size(), 2u);
    EXPECT_EQ(meshes[0].name, "DOOR");
    KDxfWriter writer;
    const std::string written = writer.Compose(meshes, true);

    KDxfDrawingReader again(KDxfDrawingReader::eByLayer, true);
    ASSERT_TRUE(again.Read(written));
    ASSERT_EQ(again.GetNodes().size(), 2u);
    const KArrayVector4& door = again.GetNodes()[0]->mesh->GetControlPoints();
    ASSERT_EQ(door.GetCount(), 2);
    // Drawing points (7, 4, 0) and (7, 5, 0), in scene axes.
    EXPECT_EQ(door.GetAt(0), KVector4(7, 0, -4));
    EXPECT_EQ(door.GetAt(1), KVector4(7, 0, -5));
    EXPECT_FALSE(again.GetNodes()[1]->visible);
    EXPECT_EQ(again.GetNodes()[0]->mesh->GetMaterialCount(0), 1);
}

// A drawing ezdxf writes, read and placed: every face where ezdxf places it (instances in
// their object axes, every cell of a multiple insert, MESH, SOLID and TRACE faces) in the
// colour ezdxf's drawing gives it (BYBLOCK, layer 0 in a block, true colours); paper space
// and solids named in warnings.
TEST(KDxfSceneNodes, FacesAsEzdxfPlacesAndColoursThem) {
    const char* const python = "/usr/bin/python3";
    ASSERT_EQ(std::system((std::string(python) + " -c 'import ezdxf' 2>/dev/null").c_str()), 0)
        << "python3 with the ezdxf module is needed (Debian package python3-ezdxf; "
           "scripts/install-deps.sh)";
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string script = folder / "faces.py", path = folder / "faces.dxf";
    std::ofstream(script)
        << "import sys, ezdxf\n"
           "from ezdxf.addons.drawing.properties import RenderContext\n"
           "doc = ezdxf.new('R2010')\n"
           "doc.layers.add('RED', color=1)\n"
           "doc.layers.add('TC', color=3).rgb = (255, 128, 0)\n"
           "msp = doc.modelspace()\n"
           "b = doc.blocks.new('ASYM', base_point=(1, 0, 0))\n"
           "b.add_3dface([(0, 0, 0), (2, 0, 0), (0, 1, 1)])\n"
           "inner = doc.blocks.new('INNER')\n"
           "inner.add_3dface([(0, 0, 0), (1, 0, 0), (0, 0, 1)], dxfattribs={'color': 0})\n"
           "outer = doc.blocks.new('OUTER')\n"
           "outer.add_blockref('INNER', (0, 1, 0), dxfattribs={'extrusion': (1, 0, 0), 'color': 0})\n"
           "outer.add_solid([(0, 0), (1, 0), (0, 1), (1, 1)], dxfattribs={'layer': '0'})\n"
           "for i, e in enumerate([(0, 0, -1), (1, 1, 1), (0.01, 0, 1), (0, -1, 0)]):\n"
           "    msp.add_blockref('ASYM', (10, i, 0), dxfattribs={'extrusion': e, 'rotation': 30 * i,\n"
           "                     'xscale': 2, 'yscale': -3, 'zscale': 1 + i})\n"
           "msp.add_blockref('ASYM', (0, 20, 0), dxfattribs={'rotation': 90}).grid(size=(2, 3), spacing=(5, 7))\n"
           "msp.add_blockref('OUTER', (0, -5, 0), dxfattribs={'layer': 'RED', 'extrusion': (0, 1, 1)})\n"
           "msp.add_blockref('OUTER', (5, -5, 0), dxfattribs={'layer': 'TC', 'color': 5})\n"
           "mesh = msp.add_mesh(dxfattribs={'color': 5, 'subdivision_levels': 2})\n"
           "with mesh.edit_data() as data:\n"
           "    data.vertices = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0.5, 0.5, 1)]\n"
           "    data.faces = [(0, 1, 2, 3), (0, 1, 4), (1, 2, 4)]\n"
           "msp.add_solid([(0, 0, 5), (4, 0, 5), (0, 3, 5), (4, 3, 5)], dxfattribs={'extrusion': (0, 0, -1)})\n"
           "msp.add_trace([(0, 0), (1, 0), (0, 1)], dxfattribs={'layer': 'TC'})\n"
           "msp.add_3dsolid()\n"
           "doc.layout('Layout1').add_3dface([(100, 100, 0), (101, 100, 0), (100, 101, 0)])\n"
           "doc.saveas(sys.argv[1])\n"
           "doc = ezdxf.readfile(sys.argv[1])\n"
           "ctx = RenderContext(doc)\n"
           "ctx.set_current_layout(doc.modelspace())\n"
           "def walk(entities):\n"
           "    for e in entities:\n"
           "        props = ctx.resolve_all(e)\n"
           "        rgb = ' '.join(str(int(props.color[i:i + 2], 16)) for i in (1, 3, 5))\n"
           "        if e.dxftype() == 'INSERT':\n"
           "            for cell in (e.multi_insert() if e.mcount > 1 else [e]):\n"
           "                ctx.push_state(props)\n"
           "                walk(list(cell.virtual_entities()))\n"
           "                ctx.pop_state()\n"
           "        elif e.dxftype() == 'MESH':\n"
           "            points = list(e.vertices)\n"
           "            for f in e.faces:\n"
           "                print(len(f), rgb, ' '.join('%r %r %r' % (points[i][0], points[i][2], -points[i][1]) for i in f))\n"
           "        elif e.dxftype() in ('3DFACE', 'SOLID', 'TRACE'):\n"
           "            f = e.wcs_vertices()\n"
           "            print(len(f), rgb, ' '.join('%r %r %r' % (p.x, p.z, -p.y) for p in f))\n"
           "walk(doc.modelspace())\n";
    FILE* pipe = popen((std::string(python) + " " + script + " " + path).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    ASSERT_EQ(pclose(pipe), 0) << output;
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string drawing = text.str();
    KDxfDrawingReader reader(KDxfDrawingReader::eByEntity, false);
    ASSERT_TRUE(reader.Read(drawing));
    EXPECT_EQ(reader.GetStatus(),
              "1 3DSOLID entity is not read: this reader does not take its surfaces\n"
              "1 MESH entity is read as its base cage: its subdivision (group 91) is not applied\n"
              "1 entity of paper space (group 67) is left out: only model space is read\n");
    Nodes nodes;
    KQovNode root(nullptr, "Model::root");
    ASSERT_TRUE(KDxfAddNodes(reader.GetNodes(), &root, nodes.Factory()));
    std::vector<KDxfMeshEntry> meshes;
    KDxfCollectMeshes(&root, meshes);
    // Our faces in world space, each with its colour.
    struct Face {
        std::vector<KVector4> corners;
        KColor colour;
        bool matched = false;
    };
    std::vector<Face> faces;
    for (const KDxfMeshEntry& entry : meshes)
        for (int p = 0; p < entry.mesh->GetPolygonCount(); ++p) {
            Face face;
            for (int k = 0; k < entry.mesh->GetPolygonSize(p); ++k)
                face.corners.push_back(entry.global.MultT(
                    entry.mesh->GetControlPoints().GetAt(entry.mesh->GetPolygonVertex(p, k))));
            const int material = entry.mesh->GetMaterialIndices()->GetAt(p);
            face.colour = entry.mesh->GetMaterial(material, 0)->GetDefaultDiffuse();
            faces.push_back(face);
        }
    std::istringstream expected(output);
    int corners = 0, count = 0;
    while (expected >> corners) {
        ++count;
        double rgb[3];
        expected >> rgb[0] >> rgb[1] >> rgb[2];
        std::vector<KVector4> want(corners);
        for (KVector4& point : want) expected >> point[0] >> point[1] >> point[2];
        bool found = false;
        for (Face& face : faces) {
            if (face.matched || int(face.corners.size()) != corners) continue;
            bool same = true;
            for (int k = 0; k < corners; ++k)
                for (int a = 0; a < 3; ++a)
                    same = same && std::fabs(face.corners[k][a] - want[k][a]) < 1e-9;
            if (!same) continue;
            found = face.matched = true;
            // Material colours are kept in single precision.
            EXPECT_TRUE(std::fabs(face.colour.mRed - rgb[0] / 255) < 1e-7 &&
                        std::fabs(face.colour.mGreen - rgb[1] / 255) < 1e-7 &&
                        std::fabs(face.colour.mBlue - rgb[2] / 255) < 1e-7)
                << "face " << count << " of ezdxf: colour " << face.colour.mRed << " "
                << face.colour.mGreen << " " << face.colour.mBlue;
            break;
        }
        EXPECT_TRUE(found) << "face " << count << " of ezdxf: " << want[0][0] << " " << want[0][1]
                           << " " << want[0][2] << " ... not read there";
    }
    EXPECT_EQ(count, 19);
    EXPECT_EQ(int(faces.size()), count);
}
