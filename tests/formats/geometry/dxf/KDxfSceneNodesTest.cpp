#include <gtest/gtest.h>

#include <memory>

#include "DxfTestText.h"
#include "attributes/KQovMesh.h"
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
