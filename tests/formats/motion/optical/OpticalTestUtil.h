#pragma once
// Marker files through the format factory: reading one into a scene, sampling the marker
// nodes' curves back per frame, and building and writing marked nodes.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMarker.h"
#include "common/TempTestFolder.h"
#include "foundation/KFileStream.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovReader.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

namespace optest {

using motiontest::ReadText;
using motiontest::WriteText;

using motiontest::TestScene;

enum { eReadTrc = 5, eReadAoa = 9, eReadMcd = 10, eWriteTrc = 7, eWriteAoa = 11, eWriteMcd = 12 };

struct Imported {
    KQovNode* root = nullptr;  // the optical root; none on failure, with the reader's error
    int error = -1;
    int frames = 0;
    KTime start, period;
    double rate = 0.0;
};

using OptionEdit = void (*)(KStreamOptionsMotion&);

inline Imported Import(TestScene& t, int readerId, const std::string& path,
                       OptionEdit edit = nullptr) {
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(readerId, &t.manager));
    Imported in;
    if (!reader->FileOpen(path.c_str())) return in.error = reader->GetLastErrorID(), in;
    std::unique_ptr<KStreamOptions> base(reader->GetReadOptions(false));
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    if (!options) return in.error = reader->GetLastErrorID(), in;
    if (edit) edit(*options);
    KQovNode* root = t.scene->GetRootNode();
    const int before = root->GetChildCount();
    if (!reader->Read(t.scene, options)) return in.error = reader->GetLastErrorID(), in;
    if (root->GetChildCount() > before) in.root = root->GetChild(root->GetChildCount() - 1);
    in.frames = options->GetFrameCount();
    in.start = options->GetStartTime();
    in.period = options->GetFramePeriod();
    in.rate = options->GetFrameRate();
    return in;
}

// x, y, z and occlusion of a marker node at each frame; empty when its curves have no keys.
inline std::vector<KVector4> Samples(KQovNode* node, const Imported& in) {
    KQovTakeNode* take = node->GetCurrentTakeNode();
    KFCurve* c[4] = {take->GetTranslationX(), take->GetTranslationY(), take->GetTranslationZ(),
                     take->GetOcclusion()};
    std::vector<KVector4> out;
    for (int j = 0; c[0]->KeyGetCount() > 0 && j < in.frames; ++j) {
        const KTime t = in.start + in.period * int64_t(j);
        out.emplace_back(c[0]->Evaluate(t), c[1]->Evaluate(t), c[2]->Evaluate(t),
                         c[3]->Evaluate(t));
    }
    return out;
}

inline std::string ShortName(KQovNode* node) {
    const std::string name = node->GetName();
    return name.substr(name.rfind(':') + 1);
}

// What BuildMarkers keys for marker k at frame f: odd markers unseen at the origin at f = 2.
inline KVector4 Keyed(int k, int f) {
    if (f == 2 && k % 2 == 1) return KVector4(0.0, 0.0, 0.0, 1.0);
    return KVector4(k + 0.5 * f, 2.0 * f - 1.25, -k - 0.125, 0.0);
}

// Marked optical marker nodes m0, m1 ... under one top node, keyed with Keyed.
inline void BuildMarkers(TestScene& t, int markers, int frames, double period) {
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
        for (int a = 0; a < 4; ++a) {
            c[a]->PrepareKeys(frames);
            for (int f = 0; f < frames; ++f) {
                KTime time;
                time.SetSecondDouble(f * period);
                c[a]->KeySet(
                    f, time, float(Keyed(k, f)[a]),
                    a == 3 ? KFCURVE_INTERPOLATION_CONSTANT : KFCURVE_INTERPOLATION_LINEAR);
            }
            c[a]->CommitKeys(frames);
        }
    }
}

// One file text read through a reader. Refused: `error` and no node left behind, not even the
// marker nodes of a refused root. Read: `nodes` markers (0: nothing added), and node `node`
// (-1: the last) named `name` (unless null) with `last` at the last frame (when it has keys).
struct ReadCase {
    const char* what;
    std::string text;
    OptionEdit edit;
    int error;  // -1: read
    int nodes, node;
    double last[4];
    const char* name;
};

inline void CheckRead(int readerId, const char* file, const ReadCase& c) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.path() + "/" + file;
    ASSERT_TRUE(WriteText(path, c.text));
    TestScene t;
    const int before = t.manager.GetNodeCount();
    const Imported in = Import(t, readerId, path, c.edit);
    EXPECT_EQ(in.error, c.error) << c.what;
    if (c.nodes == 0) {
        EXPECT_EQ(in.root, nullptr) << c.what;
        EXPECT_EQ(t.manager.GetNodeCount(), before) << c.what;
        return;
    }
    ASSERT_TRUE(in.root) << c.what;
    ASSERT_EQ(in.root->GetChildCount(), c.nodes) << c.what;
    KQovNode* node = in.root->GetChild(c.node < 0 ? c.nodes - 1 : c.node);
    EXPECT_EQ(ShortName(node), c.name ? c.name : ShortName(node)) << c.what;
    const std::vector<KVector4> s = Samples(node, in);
    ASSERT_EQ(int(s.size()), in.frames) << c.what;
    for (int a = 0; a < 4 && !s.empty(); ++a)
        EXPECT_NEAR(s.back()[a], c.last[a], 1e-4) << c.what << " axis " << a;
}

// Writes the scene from time 0; false with the writer's error code.
inline bool Export(TestScene& t, int writerId, const std::string& path, int frames, double rate,
                   int& error) {
    std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(writerId, &t.manager));
    if (!writer->FileCreate(path.c_str())) return error = writer->GetLastErrorID(), false;
    std::unique_ptr<KStreamOptions> base(writer->GetWriteOptions());
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    options->SetFrameRate(0, rate);
    options->SetFrameCount(frames);
    const bool ok = writer->Write(t.scene, options) && writer->FileClose();
    error = writer->GetLastErrorID();
    return ok;
}

}  // namespace optest
