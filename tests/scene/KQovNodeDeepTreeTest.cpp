// Every walk of a node tree on a chain far deeper than a small call stack allows a recursion
// through: each gives the result of the plain recursion it replaced.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "common/SmallStack.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeVisitor.h"
#include "scene/KQovObjectManager.h"

namespace {

constexpr int kDepth = 6000;
constexpr size_t kStack = size_t(128) << 10;

// A chain of `depth` links, each one unit along X from its parent.
std::vector<KQovNode*> MakeChain(KQovObjectManager& manager, int depth) {
    std::vector<KQovNode*> links;
    for (int i = 0; i < depth; ++i) {
        KQovNode* node = manager.CreateNode(("Link" + std::to_string(i)).c_str());
        node->SetLocalTranslation(1.0, 0.0, 0.0);
        // The channel transforms read the default take's "T" channel.
        KQovTakeNode* take = node->GetDefaultTakeNode();
        KFCurveNode* t = take && take->GetRoot() ? take->GetRoot()->Find("Transform/T") : nullptr;
        const double one[3] = {1.0, 0.0, 0.0};
        if (t) t->SetDefaultValues(one, 3);
        links.push_back(node);
    }
    // Joined from the bottom up, as no walk up the chain is wanted here.
    for (int i = depth - 1; i > 0; --i) links[size_t(i - 1)]->AddChild(links[size_t(i)]);
    return links;
}

class NamedVisitor : public KQovNodeVisitor {
public:
    void Clear() override { ClearAccepted(); }
    bool Accept(KQovNode* node) override {
        const std::string name = node->GetNameWithoutPrefix().Buffer();
        return name.size() > 5 && name.compare(name.size() - 2, 2, "99") == 0;
    }
};

}  // namespace

TEST(KQovNodeDeepTree, WalksOfALongChainNeedNoDeepStack) {
    KQovObjectManager manager;
    std::vector<KQovNode*> links = MakeChain(manager, kDepth);
    KQovNode* top = links.front();
    KQovNode* bottom = links.back();
    struct Walk {
        const char* name;
        std::function<bool()> run;
    } walks[] = {
        {"FindChild",
         [&] {
             const std::string last = "Link" + std::to_string(kDepth - 1);
             return top->FindChild(last.c_str(), true) == bottom;
         }},
        {"GetChildCount", [&] { return top->GetChildCount(true) == kDepth - 1; }},
        {"SetMarked",
         [&] {
             top->SetMarked(true, true);
             const bool all = bottom->IsMarked(false);
             top->SetMarked(false, true);
             return all && !top->IsMarked(true);
         }},
        {"GetDefaultGlobalMatrix",
         [&] { return std::fabs(bottom->GetDefaultGlobalMatrix()[3][0] - kDepth) < 1e-6; }},
        {"GetGlobalMatrixAtTime",
         [&] { return std::fabs(bottom->GetGlobalMatrixAtTime(KTime(0))[3][0] - kDepth) < 1e-6; }},
        {"EvaluateGlobalMatrix",
         [&] {
             top->EvaluateLocalMatrix(KTime(0), true);
             top->EvaluateGlobalMatrix(7, true);
             return std::fabs(bottom->GetEvaluatedGlobalMatrix()[3][0] - kDepth) < 1e-6;
         }},
        {"SetEvaluationId",
         [&] {
             top->SetEvaluatedLocalToDefault(true);
             top->SetEvaluationId(0, true);
             bottom->EvaluateGlobalMatrix(1, false);  // every ancestor stale, the top first
             return std::fabs(bottom->GetEvaluatedGlobalMatrix()[3][0] - kDepth) < 1e-6;
         }},
        {"GetGlobalMatrix",
         [&] { return std::fabs(bottom->GetGlobalTranslation(0, true)[0] - kDepth) < 1e-6; }},
        {"ResetPivotSet",
         [&] {
             top->ResetPivotSet(0);
             return true;
         }},
        {"ConvertPivotAnimation",
         [&] {
             top->ConvertPivotAnimation(0, 30.0, false);
             top->ConvertPivotAnimationInHierarchy(0, 30.0, false);
             return std::fabs(bottom->GetDefaultGlobalMatrix()[3][0] - kDepth) < 1e-6;
         }},
        {"GetAnimationInterval",
         [&] {
             KTime start = KTIME_INFINITE, stop = KTIME_MINUS_INFINITE;
             top->GetAnimationInterval(start, stop);
             return true;
         }},
        {"Visitor",
         [&] {
             NamedVisitor visitor;
             const std::vector<KQovNode*>& found = visitor.Collect(top);
             // Link99, Link199, ...: depth first is chain order here.
             if (found.size() != size_t(kDepth / 100)) return false;
             for (size_t i = 0; i < found.size(); ++i)
                 if (found[i] != links[100 * i + 99]) return false;
             return true;
         }},
        {"DestroyNode", [&] { return manager.DestroyNode(top, true); }},
    };
    for (const Walk& walk : walks) {
        SCOPED_TRACE(walk.name);
        bool ok = false;
        ASSERT_TRUE(RunOnSmallStack([&] { ok = walk.run(); }, kStack));
        EXPECT_TRUE(ok);
    }
}

// The node's children keep their order through the walks that rebuild lists: a visitor sees
// the tree depth first, children in order, as the recursion did.
TEST(KQovNodeDeepTree, VisitingOrderIsDepthFirstInChildOrder) {
    KQovObjectManager manager;
    auto make = [&](const char* name) { return manager.CreateNode(name); };
    KQovNode* a = make("A");
    KQovNode* b = make("B");
    KQovNode* c = make("C");
    KQovNode* d = make("D");
    KQovNode* e = make("E");
    a->AddChild(b);
    a->AddChild(e);
    b->AddChild(c);
    b->AddChild(d);
    class All : public KQovNodeVisitor {
    public:
        void Clear() override { ClearAccepted(); }
        bool Accept(KQovNode*) override { return true; }
    } all;
    const std::vector<KQovNode*> expected{a, b, c, d, e};
    EXPECT_EQ(all.Collect(a), expected);
    EXPECT_EQ(a->FindChild("D", true), d);
    EXPECT_EQ(a->FindChild("D", false), nullptr);
    EXPECT_EQ(a->GetChildCount(true), 4);
    // A node is refused as a child of its own descendant, and of itself.
    EXPECT_FALSE(c->AddChild(a));
    EXPECT_FALSE(a->AddChild(a));
    EXPECT_EQ(c->GetParent(), b);
    EXPECT_TRUE(e->AddChild(c));
    EXPECT_EQ(c->GetParent(), e);
}
