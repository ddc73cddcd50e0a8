#include <gtest/gtest.h>

#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"

namespace {

TEST(KQovNode, Smoke) {
    KQovNode node(nullptr, "Model::A");
    EXPECT_EQ(node.GetNodeProperties()->GetPropertyCount(), 54);
    EXPECT_EQ(node.GetTakeNodeCount(), 1);
    KQovNode child(nullptr, "Model::B");
    EXPECT_TRUE(node.AddChild(&child));
    EXPECT_EQ(child.GetParent(), &node);
    EXPECT_EQ(node.GetChildCount(), 1);
}

}  // namespace
