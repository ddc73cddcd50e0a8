#include <gtest/gtest.h>

#include <string>

#include "scene/KPropertyObjectList.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodePath.h"
#include "scene/KQovOpticalReference.h"

namespace {

TEST(KQovDeformer, KindDecidesSkinOrCluster) {
    struct Row {
        const char* kind;
        int type;
        const char* typeName;
    };
    const Row rows[] = {
        {"cluster", 2, "Cluster"}, {"ClUsTeR", 2, "Cluster"}, {"Skin", 1, "Skin"},
        {"", 1, "Skin"},           {nullptr, 1, "Skin"},      {"clusters", 1, "Skin"},
    };
    for (const Row& r : rows) {
        KQovDeformer d(nullptr, "D", r.kind);
        SCOPED_TRACE(r.kind ? r.kind : "null");
        EXPECT_EQ(d.GetDeformerType(), r.type);
        EXPECT_EQ(d.GetTypeName(), r.typeName);
        EXPECT_EQ(d.GetObjectType(), 10);
        EXPECT_STREQ(d.GetTypeNames().GetAt(0), "Deformer");
        auto* cluster = dynamic_cast<KQovCluster*>(d.GetProperties());
        EXPECT_EQ(cluster != nullptr, r.type == 2);
        if (cluster) {
            ASSERT_EQ(cluster->GetPropertyCount(), 2);
            EXPECT_STREQ(cluster->GetProperty(0)->GetName(), "SrcModel");
            EXPECT_STREQ(cluster->GetProperty(1)->GetName(), "SrcModelReference");
            EXPECT_NE(cluster->GetSrcModel(), nullptr);
            EXPECT_NE(cluster->GetSrcModelReference(), nullptr);
        }
    }
}

TEST(KQovDeformer, OnlyClustersCopyALink) {
    KQovNode bone(nullptr, "Model::Bone");
    KQovClusterLinkData link;
    link.link = &bone;
    link.linkName = "Bone";
    link.indices = {3, 1, 4};
    link.weights = {0.5, 0.25, 1.0};
    link.linkMode = 2;
    link.transformLink = KMatrix(10.0, 0.0, 0.0);
    KQovDeformer skin(nullptr, "S", "Skin"), cluster(nullptr, "C", "Cluster");
    skin.SetFromLink(link);
    cluster.SetFromLink(link);
    EXPECT_EQ(skin.GetLinkData().link, nullptr);
    EXPECT_TRUE(skin.GetLinkData().indices.empty());
    const KQovClusterLinkData& got = cluster.GetLinkData();
    EXPECT_EQ(got.link, &bone);
    EXPECT_EQ(got.linkName, "Bone");
    EXPECT_EQ(got.indices, link.indices);
    EXPECT_EQ(got.weights, link.weights);
    EXPECT_EQ(got.linkMode, 2);
    EXPECT_EQ(got.transformLink, link.transformLink);
    EXPECT_EQ(skin.GetAccuracy(), 50.0);
    EXPECT_EQ(static_cast<KQovSkin*>(skin.GetProperties())->accuracy, 50.0);
}

TEST(KQovGenericNode, NamesAndTakes) {
    KQovGenericNode g(nullptr, "G");
    EXPECT_EQ(g.GetTypeName(), "GenericNode");
    EXPECT_STREQ(g.GetTypeNames().GetAt(0), "GenericNode");
    EXPECT_EQ(g.GetTakeNodeCount(), 1);
    EXPECT_EQ(g.GetPropertyHandler()->GetPropertyCount(), 0);
    KQovOpticalReference optical(nullptr);
    EXPECT_EQ(optical.GetAttributeType(), 10);
    EXPECT_EQ(optical.GetTypeName(), "Optical");
    EXPECT_STREQ(optical.GetTypeNames().GetAt(0), "Marker");
}

TEST(KQovNodePath, WalksDownFromTheRoot) {
    KQovNode root(nullptr, "Model::R"), a(nullptr, "Model::A"), b(nullptr, "Model::B"),
        b1(nullptr, "Model::B1"), b1x(nullptr, "Model::B1x");
    root.AddChild(&a);
    root.AddChild(&b);
    b.AddChild(&b1);
    b1.AddChild(&b1x);
    KQovNodePath path(&b1x);
    EXPECT_EQ(path.GetRoot(), &root);
    ASSERT_EQ(path.GetDepth(), 3);
    const char* names[] = {"Model::R", "Model::B", "Model::B1", "Model::B1x"};
    for (int depth = 0; depth <= 3; ++depth) EXPECT_EQ(path.GetNodeName(depth), names[depth]);
    for (int past : {-1, 4, 1000}) {
        EXPECT_EQ(path.GetNode(past), nullptr);
        EXPECT_EQ(path.GetNodeName(past), "");
    }
    KQovNodePath alone(&a);
    b.RemoveChild(&b1);
    EXPECT_EQ(path.GetNode(2), nullptr);  // the index leads nowhere now
    EXPECT_EQ(path.GetNode(3), nullptr);
    EXPECT_EQ(alone.GetNode(1), &a);
    EXPECT_EQ(KQovNodePath(&b1x).GetRoot(), &b1);
}

}  // namespace
