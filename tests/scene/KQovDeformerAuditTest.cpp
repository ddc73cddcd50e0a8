#include <gtest/gtest.h>

#include "scene/KQovDeformer.h"

namespace {

// The accuracy a skin reports is the one its properties hold ("Link_DeformAcuracy").
TEST(KQovDeformerAudit, SkinAccuracyIsTheStoredOne) {
    KQovDeformer skin(nullptr, "S", "Skin");
    EXPECT_EQ(skin.GetAccuracy(), 50.0);
    static_cast<KQovSkin*>(skin.GetProperties())->accuracy = 12.5;
    EXPECT_EQ(skin.GetAccuracy(), 12.5);
    KQovDeformer cluster(nullptr, "C", "Cluster");
    EXPECT_EQ(cluster.GetAccuracy(), 0.0);
}

}  // namespace
