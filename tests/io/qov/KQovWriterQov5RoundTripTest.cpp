// Round trips of the one-of-everything scene through the exporter's version-5 ids and the
// reader: what comes back equals what was written.

#include "KQovWriterQov5TestUtil.h"
#include "animation/KFCurveNode.h"
#include "io/KQovExporter.h"

TEST(KQovWriterQov5RoundTrip, EverythingComesBackFromAsciiAndBinary) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildEverything(tmp / "wood.tif");
    const std::string before = v5test::EverythingDump(built.scene);
    for (int id : {4, 3}) {
        SCOPED_TRACE(id);
        KQovExporter exporter(&built.manager);
        const std::string name = tmp / ("everything" + std::to_string(id) + ".qov");
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(id);
        KStreamOptionsQov options;
        v5test::AllOn(options);
        ASSERT_TRUE(exporter.Export(built.scene, &options)) << exporter.GetLastErrorString();
        EXPECT_EQ(v5test::EverythingDump(built.scene), before);
        Read read(name);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(v5test::EverythingDump(read.scene), before);
    }
}

// A layered channel of the second take comes back with the same values: kept as layers when
// the reader leaves channel trees alone, merged into one curve when it processes them.
TEST(KQovWriterQov5RoundTrip, LayeredChannelsKeepTheirValues) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildEverything();
    KQovNode* square = built.scene->GetRootNode()->FindChild("Square");
    KFCurveNode* x =
        square->GetTakeNode(square->GetTakeNodeCount() - 1)->GetRoot()->Find("Transform/T/X");
    ASSERT_NE(x, nullptr);
    x->SetFlags(x->GetFlags() | KFCURVENODE_LAYERING);
    KFCurveNode* layer = x->EnsureLayer(1);
    ASSERT_NE(layer, nullptr);
    if (!layer->GetCurve()) layer->SetCurve(KFCurve::Create());
    KFCurve* curve = layer->GetCurve();
    curve->ResizeKeyBuffer(2);
    curve->KeySet(0, KTime(0), 0.0f);
    curve->KeySet(1, KTime(46186158000), 2.0f);
    curve->CommitKeys(2);
    const int64_t kTimes[] = {0, 11546539500, 23093079000, 46186158000, 69279237000};
    std::vector<double> expected;
    for (int64_t t : kTimes) expected.push_back(x->Evaluate(KTime(t))[0]);
    EXPECT_NE(expected[2], double(x->GetCurve()->Evaluate(KTime(kTimes[2]))));  // the layer adds
    for (int mode : {KQovWriterQov5::eAscii, KQovWriterQov5::eBinary}) {
        const std::string name = tmp / ("layers" + std::to_string(mode) + ".qov");
        ASSERT_TRUE(v5test::WriteFile(built.scene, name, mode));
        for (bool trees : {false, true}) {
            SCOPED_TRACE(std::to_string(mode) + (trees ? " processed" : " raw"));
            KQovObjectManager manager;
            KQovScene* scene = manager.CreateScene();
            KQovReaderQov reader(&manager, nullptr);
            ASSERT_TRUE(reader.FileOpen(name.c_str()));
            std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
            ASSERT_TRUE(options);
            options->SetSwitch(KStreamOptionsQov::eTakeChannelTrees, trees);
            ASSERT_TRUE(reader.Read(scene, options.get()));
            KQovDestroySceneInfo(&manager, options->sceneInfo);
            KQovNode* read = scene->GetRootNode()->FindChild("Square");
            ASSERT_NE(read, nullptr);
            KFCurveNode* channel = nullptr;
            for (int i = 0; i < read->GetTakeNodeCount(); ++i)
                if (std::string(read->GetTakeNodeName(i)) == "Run")
                    channel = read->GetTakeNode(i)->GetRoot()->Find("Transform/T/X");
            ASSERT_NE(channel, nullptr);
            EXPECT_EQ(channel->GetNextLayer() == nullptr, trees);
            for (size_t i = 0; i < expected.size(); ++i)
                EXPECT_NEAR(channel->Evaluate(KTime(kTimes[i]))[0], expected[i], 1e-4) << i;
        }
    }
}
