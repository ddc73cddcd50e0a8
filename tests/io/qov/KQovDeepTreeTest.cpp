// A chain of models deeper than any call stack allows a recursion through: written by every
// QOV writer and read back, on a thread with a small stack.

#include <gtest/gtest.h>

#include <string>

#include "ReaderTestUtil.h"
#include "common/SmallStack.h"
#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
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
        ASSERT_TRUE(RunOnSmallStack([&] {
            KQovExporter exporter(&manager);
            ASSERT_TRUE(exporter.Initialize(name.c_str()));
            exporter.SetFileFormat(id);
            ASSERT_TRUE(exporter.Export(scene, nullptr)) << exporter.GetLastErrorString();
            Read read(name);
            ASSERT_TRUE(read.ok);
            EXPECT_TRUE(IsChain(read.scene, kDepth));
            EXPECT_EQ(read.scene->GetRootNode()->GetChildCount(true), kDepth);
        }, kStack));
    }
}
