#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "Test3ds.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "formats/geometry/3ds/Axes3ds.h"
#include "formats/geometry/3ds/KQovReader3ds.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

struct Reading3ds {
    // Options by index, on top of the defaults.
    bool Read(const std::string& path, std::map<int, int> values = {}) {
        scene = manager.CreateScene();
        KQovReader3ds reader(&manager);
        if (!reader.FileOpen(path.c_str())) return false;
        std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(false));
        for (const auto& v : values)
            static_cast<KStreamOptionsBase*>(options.get())->SetOptionValue(v.first, v.second);
        const bool ok = reader.Read(scene, options.get());
        reader.GetStatusText(status);
        return ok;
    }
    KQovNode* Find(KQovNode* node, const std::string& name) {
        if (name == node->GetNameWithoutPrefix().Buffer()) return node;
        for (int i = 0; i < node->GetChildCount(); ++i)
            if (KQovNode* found = Find(node->GetChild(i), name)) return found;
        return nullptr;
    }
    void Count(KQovNode* node, std::map<std::string, int>& counts) {
        if (node != scene->GetRootNode()) ++counts["node object"];
        if (auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute())) {
            ++counts["mesh"];
            counts["faces"] += mesh->GetPolygonCount();
        }
        for (int i = 0; i < node->GetChildCount(); ++i) Count(node->GetChild(i), counts);
    }
    bool Write(const std::string& path, KQovScene* source = nullptr) {
        KQovWriter3ds writer(&manager);
        if (!writer.FileCreate(path.c_str())) return false;
        std::unique_ptr<KStreamOptions> options(writer.GetWriteOptions());
        return writer.Write(source ? source : scene, options.get());
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int i = 0; i < manager.GetNodeCount(); ++i) names.push_back(manager.GetNode(i)->GetName());
        for (int i = 0; i < manager.GetMaterialCount(); ++i)
            names.push_back(manager.GetMaterial(i)->GetName());
        return names;
    }
    KQovObjectManager manager;
    KQovScene* scene = nullptr;
    KString status;
};

// What lib3ds reads: items by kind, faces summed; a file without key-frame nodes gets one
// node per mesh.
std::map<std::string, int> Lib3dsCounts(const std::string& path) {
    std::map<std::string, int> counts;
    for (const std::string& line : Lib3dsLines(path)) {
        std::istringstream in(line);
        std::string kind, name;
        in >> kind;
        if (kind == "node") {
            in >> name;
            kind += " " + name;
        }
        ++counts[kind];
        if (kind == "mesh") {
            int points = 0, faces = 0;
            in >> name >> points >> faces;
            counts["faces"] += faces;
        }
    }
    if (!counts.count("node object")) counts["node object"] = counts["mesh"];
    return counts;
}

TEST(KQovReader3ds, RealFilesHoldWhatLib3dsReads) {
    const std::vector<std::string> files = TestFiles3ds();
    ASSERT_GE(files.size(), 4u);
    for (const std::string& path : files) {
        Reading3ds r;
        ASSERT_TRUE(r.Read(path)) << path;
        std::map<std::string, int> ours;
        r.Count(r.scene->GetRootNode(), ours);
        ours["material"] = r.manager.GetMaterialCount();
        const std::map<std::string, int> theirs = Lib3dsCounts(path);
        for (const char* kind : {"mesh", "faces", "material", "camera", "light", "node object"}) {
            const int expected = theirs.count(kind) ? theirs.at(kind) : 0;
            EXPECT_EQ(ours[kind], expected) << path << " " << kind;
        }
        EXPECT_STREQ(r.scene->GetCurrentTakeName(), "default take") << path;
    }
}

// Scene node matrices at key frames are lib3ds's, turned into Y-up axes.
TEST(KQovReader3ds, NodeTransformsAgreeWithLib3dsAtKeyFrames) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/3ds/RotatingCube.3DS";
    Reading3ds r;
    ASSERT_TRUE(r.Read(path, {{14, 0}}));
    // File axes to scene axes: (x, y, z) -> (x, z, -y), row vectors.
    const double c[3][3] = {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    for (int frame : {0, 10, 25, 50, 75, 99}) {
        const std::vector<std::string> lines = Lib3dsLines(path, std::to_string(frame));
        ASSERT_EQ(lines.size(), 1u);
        std::istringstream in(lines[0]);
        std::string word, name;
        in >> word >> name;
        double f[4][3];
        for (auto& row : f)
            for (double& v : row) in >> v;
        KQovNode* node = r.Find(r.scene->GetRootNode(), name);
        ASSERT_NE(node, nullptr);
        const KMatrix m = node->GetGlobalMatrixAtTime(FrameTime3ds(frame));
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 3; ++col) {
                // Scene = C^T F C for the axes, F C for the translation row.
                double expected = 0;
                for (int b = 0; b < 3; ++b) {
                    if (row == 3) expected += f[3][b] * c[b][col];
                    for (int a = 0; a < 3 && row < 3; ++a)
                        expected += c[a][row] * f[a][b] * c[b][col];
                }
                EXPECT_NEAR(m[row][col], expected, 2e-3) << "frame " << frame << " " << row << col;
            }
    }
}

// Real files written back load in lib3ds with the same meshes, faces and nodes; the
// caller's names survive the write, and writing twice gives the same bytes.
TEST(KQovWriter3ds, WrittenFilesLoadInLib3dsWithTheSceneContent) {
    for (const std::string& path : TestFiles3ds()) {
        Reading3ds r;
        ASSERT_TRUE(r.Read(path)) << path;
        const std::vector<std::string> before = r.Names();
        TempPath3ds first("a.3ds"), second("b.3ds");
        ASSERT_TRUE(r.Write(first.path)) << path;
        ASSERT_TRUE(r.Write(second.path)) << path;
        EXPECT_EQ(r.Names(), before) << path;
        EXPECT_EQ(ReadBytes3ds(first.path), ReadBytes3ds(second.path)) << path;
        const std::map<std::string, int> read = Lib3dsCounts(path);
        std::map<std::string, int> written = Lib3dsCounts(first.path);
        for (const char* kind : {"mesh", "faces", "node object"})
            EXPECT_EQ(written[kind], read.count(kind) ? read.at(kind) : 0) << path << " " << kind;
        // Materials are written per mesh and combination of material and textures.
        EXPECT_GE(written["material"], read.count("material") ? read.at("material") : 0) << path;
        for (const std::string& line : Lib3dsLines(first.path)) {
            std::istringstream in(line);
            std::string kind, name;
            in >> kind >> name;
            if (kind == "mesh") {
                EXPECT_LE(name.size(), 10u) << line;
            }
        }
    }
}

}  // namespace
