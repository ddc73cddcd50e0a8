// C3D files read into scenes as optical markers, and marked nodes written back out.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "../MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMarker.h"
#include "common/TempTestFolder.h"
#include "formats/motion/c3d/C3dTestUtil.h"
#include "formats/motion/c3d/KQovOpticalC3d.h"
#include "foundation/KFileStream.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

namespace {

using motiontest::TestScene;

// What a read gave: the optical root and the frames the options asked for.
struct Imported {
    KQovNode* root = nullptr;
    int frames = 0;
    KTime start, period;
};

// Marker samples of one node at each frame: x, y, z and occlusion from its current take
// (the key reducer may have thinned the keys, so the curves are evaluated).
std::vector<KVector4> Samples(KQovNode* node, const Imported& in) {
    KQovTakeNode* take = node->GetCurrentTakeNode();
    KFCurve* c[4] = {take->GetTranslationX(), take->GetTranslationY(), take->GetTranslationZ(),
                     take->GetOcclusion()};
    std::vector<KVector4> out;
    for (int j = 0; c[0] && c[3] && c[0]->KeyGetCount() > 0 && j < in.frames; ++j) {
        const KTime t = in.start + in.period * int64_t(j);
        out.emplace_back(c[0]->Evaluate(t), c[1]->Evaluate(t), c[2]->Evaluate(t), c[3]->Evaluate(t));
    }
    return out;
}

// Reads a file through the C3D reader; no root, with the reader's error code, on failure.
Imported Import(TestScene& t, const std::string& path, int& error, bool fillOccluded = true) {
    KQovReaderC3d reader(&t.manager);
    Imported in;
    error = -1;
    if (!reader.FileOpen(path.c_str())) return error = reader.GetLastErrorID(), in;
    std::unique_ptr<KStreamOptions> base(reader.GetReadOptions(false));
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    if (!options) return error = reader.GetLastErrorID(), in;
    if (!fillOccluded) options->SetSetting(6, 0);
    if (!reader.Read(t.scene, options)) return error = reader.GetLastErrorID(), in;
    KQovNode* root = t.scene->GetRootNode();
    in.root = root->GetChildCount() ? root->GetChild(root->GetChildCount() - 1) : nullptr;
    in.frames = options->GetFrameCount();
    in.start = options->GetStartTime();
    in.period = options->GetFramePeriod();
    return in;
}

struct RealFile {
    const char* name;
    int markers, frames;
    const char* firstLabel;
};

TEST(OpticalC3d, RealFilesReadIntoScenesAlikeInEveryForm) {
    const std::string folder = TestDataFolder();
    ASSERT_FALSE(folder.empty()) << "C3D test data folder not found: "
                                 << QOV_TESTDATA_DIR << "/c3d";
    const RealFile files[] = {
        {"MyCube.c3d", 14, 1, nullptr},          {"sample01-Eb015pr.c3d", 26, 450, "RFT1"},
        {"sample01-Eb015pi.c3d", 26, 450, "RFT1"}, {"sample01-Eb015si.c3d", 26, 450, "RFT1"},
        {"sample01-Eb015sr.c3d", 26, 450, "RFT1"}, {"sample01-Eb015vi.c3d", 26, 450, "RFT1"},
        {"sample01-Eb015vr.c3d", 26, 450, "RFT1"},
    };
    std::vector<KVector4> reference;
    for (const RealFile& f : files) {
        TestScene t;
        int error = 0;
        const Imported in = Import(t, folder + "/" + f.name, error);
        KQovNode* root = in.root;
        ASSERT_TRUE(root) << f.name << " error " << error;
        EXPECT_STREQ(root->GetName(), "Model::C3D:optical") << f.name;
        ASSERT_EQ(root->GetChildCount(), f.markers) << f.name;
        KQovNode* first = root->GetChild(0);
        if (f.firstLabel) {
            EXPECT_EQ(std::string(first->GetName()), std::string("Model::") + f.firstLabel);
        }
        std::vector<KVector4> s = Samples(first, in);
        ASSERT_EQ(int(s.size()), f.frames) << f.name;
        if (f.frames != 450) continue;
        // Millimetres in the file, centimetres in the scene; the forms agree within the integer scale.
        if (reference.empty()) reference = s;
        for (size_t j = 0; j < s.size(); j += 37)
            for (int a = 0; a < 3; ++a) EXPECT_NEAR(s[j][a], reference[j][a], 0.01) << f.name << " frame " << j;
    }
}

TEST(OpticalC3d, DamagedFilesFailCleanlyOrReadWithinTheirSections) {
    const std::string folder = TestDataFolder();
    ASSERT_FALSE(folder.empty()) << "C3D test data folder not found: " << QOV_TESTDATA_DIR << "/c3d";
    TestScene t;
    int error = 0;
    EXPECT_EQ(Import(t, folder + "/Empty.c3d", error).root, nullptr);
    EXPECT_EQ(error, KQovReader::eFileCorrupted);
    EXPECT_EQ(Import(t, folder + "/missing.c3d", error).root, nullptr);
    EXPECT_EQ(error, KQovReader::eFileNotOpened);
    EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0);
    const Imported damaged = Import(t, folder + "/badParameterOffset.c3d", error);
    if (damaged.root) {
        EXPECT_EQ(damaged.root->GetChildCount(), 41);
        const std::vector<KVector4> s = Samples(damaged.root->GetChild(0), damaged);
        ASSERT_EQ(s.size(), 111u);
        // The file's millimetres in scene centimetres, x turned; the last point unseen at first.
        EXPECT_NEAR(s[0][0], -16.8093002, 1e-5);
        EXPECT_EQ(Samples(damaged.root->GetChild(40), damaged)[0][3], 1.0);
    }
}

// Marked nodes under one top node, keyed per frame: x = k + f, y = 2f, z = -k, unseen on odd k at f = 2.
KQovNode* BuildMarkers(TestScene& t, int markers, int frames, double period) {
    KQovNode* top = t.manager.CreateNode("top");
    t.scene->GetRootNode()->AddChild(top);
    for (int k = 0; k < markers; ++k) {
        KQovNode* node = t.manager.CreateNode(("m" + std::to_string(k)).c_str());
        KQovMarker* marker = t.manager.CreateMarker();
        marker->SetType(KQovMarker::eOptical);
        node->SetNodeAttribute(marker);
        node->SetMarked(true);
        top->AddChild(node);
        node->AddTakeNode("take");
        node->SetCurrentTakeNode("take");
        KQovTakeNode* take = node->GetCurrentTakeNode();
        KFCurve* c[4] = {take->GetTranslationX(), take->GetTranslationY(), take->GetTranslationZ(),
                         take->GetOcclusion()};
        for (KFCurve* curve : c) curve->PrepareKeys(frames);
        for (int f = 0; f < frames; ++f) {
            KTime time;
            time.SetSecondDouble(f * period);
            const double v[4] = {double(k + f), 2.0 * f, -double(k), (f == 2 && k % 2) ? 1.0 : 0.0};
            for (int a = 0; a < 4; ++a)
                c[a]->KeySet(f, time, float(v[a]), a == 3 ? KFCURVE_INTERPOLATION_CONSTANT : KFCURVE_INTERPOLATION_LINEAR);
        }
        for (KFCurve* curve : c) curve->CommitKeys(frames);
    }
    return top;
}

TEST(OpticalC3d, MarkedNodesRoundTripWithPositionsAndOcclusion) {
    struct Case {
        int markers, frames;
        bool floats;
        // The first label empty ("cut:"), the second "0000": the name the reader gives the
        // first, so the second is written renamed.
        bool numbered = false;
    };
    // More than 255 markers continue the labels and need more than 8 parameter blocks.
    for (const Case c :
         {Case{3, 5, true}, Case{3, 5, false}, Case{300, 3, true}, Case{3, 5, true, true}}) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string path = dir.path() + "/markers.c3d";
        TestScene source;
        KQovNode* top = BuildMarkers(source, c.markers, c.frames, 1.0 / 30);
        const char* names[] = {"m0", "m1"};
        if (c.numbered) {
            top->GetChild(0)->SetName("cut:");
            top->GetChild(1)->SetName("0000");
            names[0] = "0000";
            names[1] = "0000_1";
        }
        KQovWriterC3d writer(&source.manager);
        ASSERT_TRUE(writer.FileCreate(path.c_str()));
        std::unique_ptr<KStreamOptions> base(writer.GetWriteOptions());
        auto* options = static_cast<KStreamOptionsMotion*>(base.get());
        options->SetFrameRate(0, 30.0);
        options->SetStartTime(KTime());
        options->SetFrameCount(c.frames);
        options->SetSetting(12, c.floats ? 1 : 0);
        ASSERT_TRUE(writer.Write(source.scene, options));
        ASSERT_TRUE(writer.FileClose());

        TestScene back;
        int error = 0;
        const Imported in = Import(back, path, error, false);
        KQovNode* root = in.root;
        ASSERT_TRUE(root) << "error " << error;
        ASSERT_EQ(root->GetChildCount(), c.markers);
        // Integer points are stored in steps of the scale factor (0.1449 mm).
        const double tolerance = c.floats ? 1e-4 : 0.0073;
        for (int k = 0; k < c.markers; k += (c.markers > 10 ? 97 : 1)) {
            KQovNode* node = root->GetChild(k);
            EXPECT_EQ(std::string(node->GetName()),
                      "Model::" + (k < 2 ? names[k] : "m" + std::to_string(k)));
            std::vector<KVector4> s = Samples(node, in);
            ASSERT_EQ(int(s.size()), c.frames);
            for (int f = 0; f < c.frames; ++f) {
                const double expected[4] = {double(k + f), 2.0 * f, -double(k), (f == 2 && k % 2) ? 1.0 : 0.0};
                for (int a = 0; a < 4; ++a)
                    EXPECT_NEAR(s[size_t(f)][a], expected[a], tolerance) << "marker " << k << " frame " << f;
            }
        }
    }
}

TEST(OpticalC3d, FailedCreateIsReportedWithThePath) {
    TestScene t;
    KQovWriterC3d writer(&t.manager);
    EXPECT_FALSE(writer.FileCreate("/nonexistent-folder/x.c3d"));
    EXPECT_STREQ(writer.GetLastErrorString(),
                 "Cannot open file \"/nonexistent-folder/x.c3d\" for writing. The folder "
                 "/nonexistent-folder does not exist.");
    EXPECT_FALSE(writer.FileClose());
}

// Writes the BuildMarkers scene (2 markers) with the given start and frame count.
bool WriteMarkers(const std::string& path, double startSeconds, int frames, int& error,
                  std::string* text = nullptr) {
    TestScene source;
    BuildMarkers(source, 2, 3, 1.0 / 30);
    KQovWriterC3d writer(&source.manager);
    if (!writer.FileCreate(path.c_str())) return error = writer.GetLastErrorID(), false;
    std::unique_ptr<KStreamOptions> base(writer.GetWriteOptions());
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    options->SetFrameRate(0, 30.0);
    KTime start;
    start.SetSecondDouble(startSeconds);
    options->SetStartTime(start);
    options->SetFrameCount(frames);
    const bool ok = writer.Write(source.scene, options) && writer.FileClose();
    error = writer.GetLastErrorID();
    if (text) *text = writer.GetLastErrorString();
    return ok;
}

TEST(OpticalC3d, HeaderLimitsAndDiskErrors) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.path() + "/limits.c3d";
    int error = 0;
    // A full disk is a failure, never success.
    EXPECT_FALSE(WriteMarkers("/dev/full", 0.0, 3, error));
    EXPECT_EQ(error, KQovWriter::eOutOfDiskSpace);
    // More frames than the header's signed word can count are refused, naming the limit; so
    // are frames numbered past its unsigned words.
    std::string text;
    EXPECT_FALSE(WriteMarkers(path, 0.0, 32768, error, &text));
    EXPECT_EQ(text, "A C3D file holds at most 32,767 frames; the take has 32768");
    EXPECT_FALSE(WriteMarkers(path, 65535.0 / 30, 3, error, &text));
    EXPECT_EQ(text, "A C3D file numbers its frames up to 65,535; the take would end at frame 65538");
    ASSERT_TRUE(WriteMarkers(path, 65532.0 / 30, 3, error, &text)) << text;
    // A start before frame 0 starts at frame 0, which plays one frame before time 0.
    ASSERT_TRUE(WriteMarkers(path, -1.0, 3, error));
    TestScene back;
    Imported in = Import(back, path, error);
    ASSERT_TRUE(in.root);
    KTime frameZero;
    frameZero.SetSecondDouble(-1.0 / 30);
    EXPECT_EQ(in.start, frameZero);
    EXPECT_EQ(in.frames, 3);

    // A last frame below the first is damage.
    std::string bytes;
    {
        KFileStream stream;
        ASSERT_TRUE(stream.Open(path.c_str(), "rb"));
        char chunk[4096];
        for (uint32_t n; (n = stream.Read(chunk, sizeof chunk)) > 0;) bytes.append(chunk, n);
    }
    bytes[6] = 5;  // first frame 5, last frame 2 (DEC words are little-endian)
    {
        KFileStream stream;
        ASSERT_TRUE(stream.Open(path.c_str(), "wb"));
        ASSERT_EQ(stream.Write(bytes.data(), uint32_t(bytes.size())), bytes.size());
        ASSERT_TRUE(stream.Commit());
    }
    TestScene damaged;
    EXPECT_EQ(Import(damaged, path, error).root, nullptr);
    EXPECT_EQ(error, KQovReader::eFileCorrupted);
}

}  // namespace
