#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "GeometryTestUtil.h"
#include "attributes/KQovLink.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "scene/KQovVideo.h"

namespace {

struct Case {
    const char* golden;
    const char* from;
    const char* to;
    const char* node;
    const char* expected;  // a part of the node's dump
};

// Geometry fields at their edges: a partial point, a missing UV mapping name, a cluster mode
// that is no keyword, link models that are not there.
TEST(KQovReaderQovAudit, GeometryFieldEdges) {
    const Case cases[] = {
        {"mesh5.qov", "Vertices: 0,0,0,1,0,0,1,1,0,0,1,0,9", "Vertices: 0,0,0,1,0,0,1", "Quad",
         "Model::Quad points 0,0,0,1 1,0,0,1\n"},
        {"mesh5.qov", "        MappingInformationType: \"ByPolygon\"\n", "", "Quad", " uv 4/"},
        {"mesh5.qov", "", "", "Quad", " uv 2/"},
        {"geo_scene5.qov", "Mode: \"additive\"", "Mode: \"Normalize\"", "Quad",
         "link Model::Bone mode 0 "},
        // Link and associate models that no node answers keep the names the file gives.
        {"geo_scene5.qov", "Link: \"Model::Bone\"", "Link: \"Gone\"", "Quad",
         "link Model::Gone mode 1 "},
        {"geo_scene5.qov", "AssociateModel: \"Bone\"", "AssociateModel: \"Model::Lost\"", "Quad",
         " associate Model::Lost t 10,5,0 "},
    };
    qovtest::TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.golden) + " " + c.to);
        Read read(geotest::Variant(tmp, c.golden, c.from, c.to));
        EXPECT_TRUE(read.ok);
        const std::string dump = geotest::Geometry(read.manager.FindNode(c.node));
        EXPECT_NE(dump.find(c.expected), std::string::npos) << dump;
    }
}

// Mapping type names compare case-sensitively: "planar" is no planar mapping.
TEST(KQovReaderQovAudit, TextureMappingTypeIsCaseSensitive) {
    const struct {
        const char* to;
        int mapping;
    } cases[] = {{"Texture_Mapping_Type: \"Planar\"", 1}, {"Texture_Mapping_Type: \"planar\"", 0}};
    qovtest::TempFolder tmp;
    for (const auto& c : cases) {
        Read read(
            geotest::Variant(tmp, "geo_scene5.qov", "Texture_Mapping_Type: \"Planar\"", c.to));
        KQovTexture* wood = read.manager.FindTexture("Wood");
        ASSERT_NE(wood, nullptr);
        EXPECT_EQ(wood->GetMappingType(), c.mapping) << c.to;
    }
}

// A video's file name is its "Path" property; the "Filename" field stands in only without one.
TEST(KQovReaderQovAudit, VideoFileNameComesFromItsPathProperty) {
    const struct {
        const char* from;
        const char* to;
        const char* expected;
    } cases[] = {
        {"", "", "kept.png"},
        {"Property: \"Path\", \"KString\", \"\", 0, \"kept.png\"", "", "fallback.png"},
        {"\"kept.png\"\n", "\"clips/other.png\"\n", "clips/other.png"},
    };
    qovtest::TempFolder tmp;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        Read read(geotest::Variant(tmp, "geo_scene6.qov", c.from, c.to));
        KQovVideo* video = read.manager.FindVideo("wood");
        ASSERT_NE(video, nullptr);
        EXPECT_STREQ(video->GetFileName(), c.expected);
    }
}

// The char-pointer "Path" travels through a property block both ways.
TEST(KQovReaderQovAudit, VideoPathRoundTripsThroughAPropertyBlock) {
    qovtest::TempFolder tmp;
    KQovObjectManager manager;
    KQovVideo* source = manager.CreateVideo("a");
    KQovVideo* target = manager.CreateVideo("b");
    ASSERT_TRUE(source && target);
    source->SetFileName("clips/a b.avi");
    for (bool binary : {false, true}) {
        const std::string name = tmp / (binary ? "b.qov" : "a.qov");
        {
            std::unique_ptr<KQovPropertyFieldFile> file(KQovPropertyFieldFile::Create());
            ASSERT_TRUE(file->KQovFieldFile::Create(name.c_str(), binary, false, nullptr));
            EXPECT_TRUE(file->FieldWritePropertyBlock(source->GetPropertyHandler()));
            EXPECT_TRUE(file->FieldFileClose());
        }
        target->SetFileName("");
        std::unique_ptr<KQovPropertyFieldFile> file(KQovPropertyFieldFile::Create());
        ASSERT_TRUE(file->Open(name.c_str(), false, true, nullptr));
        std::vector<KProperty*> properties;
        target->CollectProperties(properties);
        EXPECT_TRUE(file->FieldReadPropertyBlock(properties, target->GetPropertyHandler()));
        EXPECT_STREQ(target->GetFileName(), "clips/a b.avi") << binary;
    }
}

// A cluster deformer's user data and the presence of its parent transform reach the link
// that the cluster becomes.
TEST(KQovReaderQovAudit, ClusterUserDataAndParentReachTheLink) {
    const char* const kMode = "Mode: \"Total1\"";
    const struct {
        const char* to;
        const char* id;
        const char* data;
        bool parent;
    } cases[] = {
        {"Mode: \"Total1\"", "", "", false},
        {"Mode: \"Total1\"\n        UserData: \"id\", \"value\"", "id", "value", false},
        {"Mode: \"Total1\"\n        TransformParent: 1,0,0,0,0,1,0,0,0,0,1,0,0,0,3,1", "", "",
         true},
    };
    qovtest::TempFolder tmp;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        Read read(
            geotest::WithSkinOnQuad(tmp, geotest::Variant(tmp, "geo_scene6.qov", kMode, c.to)));
        KQovNode* quad = read.manager.FindNode("Quad");
        ASSERT_TRUE(quad && quad->GetGeometry());
        ASSERT_EQ(quad->GetGeometry()->GetLinkCount(), 1);
        const KQovLink* link = quad->GetGeometry()->GetLink(0);
        EXPECT_EQ(link->GetUserDataID(), c.id);
        EXPECT_EQ(link->GetUserData(), c.data);
        EXPECT_EQ(link->HasTransformParent(), c.parent);
        if (c.parent) {
            EXPECT_EQ(geotest::Point(link->GetTransformParentMatrix().GetRow(3), 3), "0,0,3");
        }
    }
}

}  // namespace
