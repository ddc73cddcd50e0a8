// A chain of models deeper than any call stack allows a recursion through: written by every
// QOV writer and read back, on a thread with a small stack.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ReaderTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "common/SmallStack.h"
#include "common/TempTestFolder.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

// Deep enough that a recursion of a few words a level overflows the small stack below.
constexpr int kDepth = 4000;
constexpr size_t kStack = size_t(128) << 10;

std::string ChainName(int i) {
    return "Link" + std::to_string(i);
}

// Nodes below the root, each the only child of the one before; false when it is not so.
bool IsChain(KQovScene* scene, int depth) {
    KQovNode* node = scene->GetRootNode();
    for (int i = 0; i < depth; ++i) {
        if (node->GetChildCount() != 1) return false;
        node = node->GetChild(0);
        if (node->GetNameWithoutPrefix() != ChainName(i).c_str()) return false;
    }
    return node->GetChildCount() == 0;
}

}  // namespace

TEST(KQovDeepTree, AChainOfModelsIsWrittenAndReadByEveryWriter) {
    TempTestFolder tmp;
    ASSERT_TRUE(tmp.ok());
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    // Built from the bottom up, so that no join walks the chain above it.
    KQovNode* below = nullptr;
    for (int i = kDepth; i-- > 0;) {
        KQovNode* node = manager.CreateNode(ChainName(i).c_str());
        if (below) node->AddChild(below);
        below = node;
    }
    scene->GetRootNode()->AddChild(below);
    ASSERT_TRUE(IsChain(scene, kDepth));
    // Version 6 binary and version 5 text: both writers, both field readers.
    for (int id : {1, 4}) {
        SCOPED_TRACE(id);
        const std::string name = tmp / ("chain" + std::to_string(id) + ".qov");
        ASSERT_TRUE(RunOnSmallStack(
            [&] {
                ASSERT_TRUE(Export(scene, name, id));
                Read read(name);
                ASSERT_TRUE(read.ok);
                EXPECT_TRUE(IsChain(read.scene, kDepth));
                EXPECT_EQ(read.scene->GetRootNode()->GetChildCount(true), kDepth);
            },
            kStack));
    }
}

// Takes reach their nodes by name wherever the nodes are in the tree, by every writer.
TEST(KQovDeepTree, TakesReachNodesAtEveryDepth) {
    TempTestFolder tmp;
    ASSERT_TRUE(tmp.ok());
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    // Root > A > B > C, root > D > E, root > F; each animated with its own value.
    const char* const names[] = {"A", "B", "C", "D", "E", "F"};
    const int parents[] = {-1, 0, 1, -1, 3, -1};
    std::vector<KQovNode*> nodes;
    for (int i = 0; i < 6; ++i) {
        KQovNode* node = manager.CreateNode(names[i]);
        (parents[i] < 0 ? scene->GetRootNode() : nodes[size_t(parents[i])])->AddChild(node);
        node->AddTakeNode("Run");
        KFCurve* curve = node->GetTakeNode(1)->GetTranslationX();
        ASSERT_NE(curve, nullptr);
        curve->KeyAppendFast(KTime(0), float(10 + i));
        nodes.push_back(node);
    }
    for (int id : {0, 1, 4}) {
        SCOPED_TRACE(id);
        const std::string name = tmp / ("takes" + std::to_string(id) + ".qov");
        ASSERT_TRUE(Export(scene, name, id));
        Read read(name);
        ASSERT_TRUE(read.ok);
        for (int i = 0; i < 6; ++i) {
            SCOPED_TRACE(names[i]);
            KQovNode* node = read.scene->GetRootNode()->FindChild(names[i], true);
            ASSERT_NE(node, nullptr);
            ASSERT_EQ(node->GetTakeNodeCount(), 2);
            KFCurve* curve = node->GetTakeNode(1)->GetTranslationX();
            ASSERT_NE(curve, nullptr);
            ASSERT_EQ(curve->KeyGetCount(), 1);
            EXPECT_EQ(curve->KeyGetValue(0), float(10 + i));
        }
    }
}
