// A mesh's surface settings ("UExtendedCount" to "VCount"): read from a hand-written
// version-5 file, written back by both layouts, and written for a mesh without points.

#include "KQovWriterQov5TestUtil.h"
#include "TextReadTestUtil.h"
#include "attributes/KQovMesh.h"

namespace {

const char* const kSurfaceNames[] = {"UExtendedCount", "UClosed", "UTopCap", "UStep",
                                     "UCount",         "VExtendedCount", "VClosed",
                                     "VTopCap",        "VStep",          "VCount"};

std::string Settings(const KQovMeshSurfaceFields& d) {
    return std::to_string(d.extendedCount) + "/" + std::to_string(d.closed) + "/" +
           std::to_string(d.topCap) + "/" + std::to_string(d.step) + "/" +
           std::to_string(d.count);
}

std::string Settings(const KQovMesh& mesh) {
    return Settings(mesh.GetUSurface()) + " " + Settings(mesh.GetVSurface());
}

// The surface fields of a file's text, one "name value" line each, in the file's order.
std::string SurfaceLines(const std::string& text) {
    std::string out;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(' ');
        for (const char* name : kSurfaceNames) {
            const std::string head = std::string(name) + ": ";
            if (start != std::string::npos && line.compare(start, head.size(), head) == 0)
                out += std::string(name) + " " + line.substr(start + head.size()) + "\n";
        }
    }
    return out;
}

KQovMesh* MeshOf(KQovScene* scene, const char* name) {
    KQovNode* node = scene->GetRootNode()->FindChild(name);
    return node ? node->GetMesh() : nullptr;
}

}  // namespace

// The fields are read where a version-5 mesh carries them, only a value of 1 sets a flag, and
// what was read is written back as it came (both counts given) or not at all (one missing).
TEST(KQovMeshSurfaceFields, HandWrittenVersion5MeshKeepsItsSurfaceFields) {
    const std::string kAll =
        "    UExtendedCount: 3\n    UClosed: 1\n    UTopCap: 0\n    UStep: 4\n    UCount: 5\n"
        "    VExtendedCount: 1\n    VClosed: 0\n    VTopCap: 1\n    VStep: 2\n    VCount: 7\n";
    const struct {
        const char* what;
        std::string fields;
        const char* read;
        const char* written;  // the surface lines of the file written back
    } kCases[] = {
        {"all", kAll, "3/1/0/4/5 1/0/1/2/7",
         "UExtendedCount 3\nUClosed 1\nUTopCap 0\nUStep 4\nUCount 5\n"
         "VExtendedCount 1\nVClosed 0\nVTopCap 1\nVStep 2\nVCount 7\n"},
        {"flags other than 1", "    UClosed: 2\n    VTopCap: -1\n    UCount: 2\n    VCount: 2\n",
         "0/0/0/0/2 0/0/0/0/2",
         "UExtendedCount 0\nUClosed 0\nUTopCap 0\nUStep 0\nUCount 2\n"
         "VExtendedCount 0\nVClosed 0\nVTopCap 0\nVStep 0\nVCount 2\n"},
        {"no V count", "    UExtendedCount: 3\n    UCount: 5\n    VStep: 2\n", "3/0/0/0/5 0/0/0/2/0",
         ""},
        {"none", "", "0/0/0/0/0 0/0/0/0/0", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::string body =
            "Model: \"Model::Grid\" {\n    Version: 232\n    GeometryVersion: 124\n"
            "    Vertices: 0,0,0,1,0,0,1,1,0,0,1,0\n    PolygonVertexIndex: 0,1,2,-4\n" +
            c.fields +
            "    GeometryUVInfo:  {\n        Version: 240\n"
            "        MappingInformationType: \"NoMappingInformation\"\n    }\n}\n";
        qovtest::TextRead read(qovtest::QovText(5000, body));
        ASSERT_TRUE(read.ok);
        KQovMesh* mesh = MeshOf(read.scene, "Grid");
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(Settings(*mesh), c.read);
        EXPECT_EQ(mesh->GetPolygonCount(), 1);  // the rest of the mesh is read as before
        for (int id : {4, 3, 1, 0}) {
            SCOPED_TRACE(id);
            const std::string name = read.folder / ("back" + std::to_string(id) + ".qov");
            ASSERT_TRUE(Export(read.scene, name, id));
            if (id == 4) {
                EXPECT_EQ(SurfaceLines(v5test::ReadText(name)), c.written);
            }
            Read back(name);
            ASSERT_TRUE(back.ok);
            KQovMesh* again = MeshOf(back.scene, "Grid");
            ASSERT_NE(again, nullptr);
            // Written only with both counts: else the file carries none of them.
            EXPECT_EQ(Settings(*again), *c.written ? c.read : "0/0/0/0/0 0/0/0/0/0");
        }
    }
}

// A mesh without control points writes nothing of its points, but its surface fields when
// both counts are set; both layouts read them back.
TEST(KQovMeshSurfaceFields, MeshWithoutPointsStillCarriesItsCounts) {
    TempTestFolder tmp;
    for (bool both : {true, false}) {
        v5test::Scene built;
        KQovMesh* mesh = built.manager.CreateMesh();
        mesh->GetUSurface() = KQovMeshSurfaceFields{1, true, true, 2, 3};
        mesh->GetVSurface() = KQovMeshSurfaceFields{0, false, false, 4, both ? 6 : 0};
        built.Add("Empty", mesh);
        const std::string settings = Settings(*mesh);
        for (int id : {4, 3, 1, 0}) {
            SCOPED_TRACE(std::to_string(both) + " id " + std::to_string(id));
            const std::string name = tmp / ("empty" + std::to_string(id) + ".qov");
            ASSERT_TRUE(Export(built.scene, name, id));
            if (id == 4) {
                const std::string text = v5test::ReadText(name);
                EXPECT_EQ(text.find("GeometryVersion:"), std::string::npos);
                EXPECT_EQ(SurfaceLines(text),
                          both ? "UExtendedCount 1\nUClosed 1\nUTopCap 1\nUStep 2\nUCount 3\n"
                                 "VExtendedCount 0\nVClosed 0\nVTopCap 0\nVStep 4\nVCount 6\n"
                               : "");
            }
            Read back(name);
            ASSERT_TRUE(back.ok);
            KQovMesh* again = MeshOf(back.scene, "Empty");
            ASSERT_NE(again, nullptr);
            EXPECT_EQ(again->GetControlPointsCount(), 0);
            EXPECT_EQ(Settings(*again), both ? settings : "0/0/0/0/0 0/0/0/0/0");
        }
    }
}
