// What a reader may check a node's file channels against without making its take: the take
// the plan makes only while the node's values are what its curves would hold, and the layer
// types a read gave kept for the take made later.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "common/SceneDump.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"

namespace {

void Layers(KFCurveNode* channel, std::ostringstream& out) {
    out << channel->GetName() << ':' << channel->GetLayerType() << ' ';
    for (int i = 0; i < channel->GetCount(); ++i) Layers(channel->Get(i), out);
}

std::string LayersOf(KQovTakeNode* take) {
    std::ostringstream out;
    if (take) Layers(take->GetRoot(), out);
    return out.str();
}

TEST(KQovNodePlannedTake, SketchedOnlyWhileCurvesHoldTheValuesExactly) {
    const struct {
        const char* what;
        std::function<void(KQovNode*)> change;
        bool sketched;
    } kCases[] = {
        {"untouched", [](KQovNode*) {}, true},
        {"moved by whole numbers", [](KQovNode* n) { n->SetLocalTranslation(1.0, -2.0, 3.0); },
         true},
        {"hidden", [](KQovNode* n) { n->SetVisibility(false); }, true},
        {"moved by a tenth", [](KQovNode* n) { n->SetLocalTranslation(0.1, 0.0, 0.0); }, false},
        {"scaled by a third", [](KQovNode* n) { n->SetLocalScaling(1.0, 1.0 / 3.0, 1.0); }, false},
        {"take made", [](KQovNode* n) { n->GetDefaultTakeNode(); }, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        KQovObjectManager manager;
        KQovNode* node = manager.CreateNode("N");
        c.change(node);
        const bool waiting = node->GetNodeProperties()->IsTableWaiting();
        KQovDefaultTakeSketch sketch;
        KQovTakeNode* planned = node->SketchPlannedTake(sketch);
        EXPECT_EQ(planned != nullptr, c.sketched);
        // Asking changes nothing on the node.
        EXPECT_EQ(node->GetNodeProperties()->IsTableWaiting(), waiting);
        if (!planned) continue;
        EXPECT_TRUE(node->IsDefaultTakeDeferred());
        // Kept as read, the sketch is the take the node makes, but for links; the node's
        // values stay as they were.
        const std::string sketched = SceneDump::Channels(*planned->GetRoot());
        const std::string before = SceneDump::Object(*node, 0, SceneDump::eProperties);
        ASSERT_TRUE(node->KeepReadChannels(std::vector<int8_t>(15, 0)));
        EXPECT_EQ(SceneDump::Channels(*node->GetDefaultTakeNode()->GetRoot()), sketched);
        EXPECT_EQ(SceneDump::Object(*node, 0, SceneDump::eProperties), before);
    }
}

TEST(KQovNodePlannedTake, ReadLayerTypesGoIntoTheTakeMadeLater) {
    // Tree order: the root, Transform, T, X, Y, Z, R, X, Y, Z, S, X, Y, Z, Visibility.
    const std::vector<int8_t> kRead = {0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0};
    const struct {
        const char* what;
        std::vector<int8_t> types;
        bool kept;
    } kCases[] = {
        {"as a read sets them", kRead, true},
        {"all plain", std::vector<int8_t>(15, 0), true},
        {"a quaternion", {0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0, 0}, false},
        {"a negative type", {0, 0, -1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0}, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        KQovObjectManager manager;
        KQovNode* node = manager.CreateNode("N");
        KQovNode* twin = manager.CreateNode("Twin");
        EXPECT_EQ(node->KeepReadChannels(c.types), c.kept);
        KQovDefaultTakeSketch sketch;
        // The writers' sketch and the take made show the same layers.
        const std::string sketched = LayersOf(node->SketchDefaultTake(sketch));
        const std::string made = LayersOf(node->GetDefaultTakeNode());
        EXPECT_EQ(sketched, made);
        // Refused, or all plain: the take is the one a node that read nothing makes.
        if (!c.kept || c.types == std::vector<int8_t>(15, 0))
            EXPECT_EQ(made, LayersOf(twin->GetDefaultTakeNode()));
        else
            EXPECT_EQ(made, "Defaults:0 Transform:0 T:1 X:0 Y:0 Z:0 R:2 X:0 Y:0 Z:0 S:3 X:0 Y:0 Z:0 "
                            "Visibility:0 ");
        // Once made, nothing more is kept.
        EXPECT_FALSE(node->KeepReadChannels(kRead));
    }
    // A list that does not fit the tree is refused by the take, which stays as planned.
    KQovObjectManager manager;
    KQovNode* node = manager.CreateNode("N");
    KQovNode* twin = manager.CreateNode("Twin");
    EXPECT_TRUE(node->KeepReadChannels({1, 1, 1}));
    EXPECT_EQ(LayersOf(node->GetDefaultTakeNode()), LayersOf(twin->GetDefaultTakeNode()));
}

}  // namespace
