#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Test3ds.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

struct BudgetCase {
    const char* what;
    int nodes;
    int lastFrame;
    bool nested;
    bool anim;
    bool written;
};

// Every frame of every animated node becomes a key, so the frames a scene claims are checked
// against the budget before anything is built: the failing cases return at once.
TEST(KeyBudget3ds, AnimationBeyondTheBudgetFailsBeforeBuilding) {
    const BudgetCase cases[] = {
        {"short animation", 3, 30, false, true, true},
        {"four nodes keyed to the per-node cap", 4, 1 << 20, false, true, false},
        {"the same, nested", 5, 1 << 20, true, true, false},
        {"frames past the cap count as the cap", 5, 1 << 30, false, true, false},
        {"many nodes below the cap", 64, 70000, false, true, false},
        {"animation off keys frame 0 only", 5, 1 << 20, false, false, true},
    };
    for (const BudgetCase& c : cases) {
        SCOPED_TRACE(c.what);
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        // A still camera: something the file holds beside the keyed dummies.
        KQovNode* camera = manager.CreateNode("Cam");
        camera->SetNodeAttribute(manager.CreateCamera());
        scene->GetRootNode()->AddChild(camera);
        KQovNode* parent = scene->GetRootNode();
        for (int i = 0; i < c.nodes; ++i) {
            KQovNode* node = manager.CreateNode(("LongDummyName" + std::to_string(i)).c_str());
            parent->AddChild(node);
            if (c.nested) parent = node;
            node->AddTakeNode("Take 001");
            node->SetCurrentTakeNode("Take 001");
            Keys3ds(node->GetCurrentTakeNode()->GetTranslationX(), {{0, 0}, {c.lastFrame, 1}});
        }
        TempPath3ds out("budget.3ds");
        KQovWriter3ds writer(&manager);
        ASSERT_TRUE(writer.FileCreate(out.path.c_str()));
        std::unique_ptr<KStreamOptions> options(writer.GetWriteOptions());
        static_cast<KStreamOptionsBase*>(options.get())->SetOptionValue(9, c.anim ? 1 : 0);
        EXPECT_EQ(writer.Write(scene, options.get()), c.written);
        if (!c.written) {
            EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eUnidentifiedError);
            EXPECT_STREQ(writer.GetLastErrorString(), "Too many animation keys to write");
        }
        // The short names the write hands out never stay behind.
        EXPECT_STREQ(manager.GetNode(manager.GetNodeCount() - 1)->GetNameWithoutPrefix().Buffer(),
                     ("LongDummyName" + std::to_string(c.nodes - 1)).c_str());
    }
}

}  // namespace
