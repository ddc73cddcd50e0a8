#pragma once
// Marker files through the format factory: reading one into a scene, sampling the marker
// nodes' curves back per frame, and building marked nodes to write.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMarker.h"
#include "foundation/KFileStream.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovReader.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

namespace optest {

using motiontest::TestScene;

// Reader and writer ids of the marker formats.
enum { eReadTrc = 5, eReadAoa = 9, eReadMcd = 10, eWriteTrc = 7, eWriteAoa = 11, eWriteMcd = 12 };

struct Imported {
    KQovNode* root = nullptr;  // the optical root, none on failure
    int error = -1;            // the reader's error code on failure
    int frames = 0;
    KTime start, period;
};

// Changes the read options before Read.
using OptionEdit = void (*)(KStreamOptionsMotion&);

inline Imported Import(TestScene& t, int readerId, const std::string& path, OptionEdit edit = nullptr) {
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(readerId, &t.manager));
    Imported in;
    if (!reader) return in;
    if (!reader->FileOpen(path.c_str())) return in.error = reader->GetLastErrorID(), in;
    std::unique_ptr<KStreamOptions> base(reader->GetReadOptions(false));
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    if (!options) return in.error = reader->GetLastErrorID(), in;
    if (edit) edit(*options);
    const int before = t.scene->GetRootNode()->GetChildCount();
    if (!reader->Read(t.scene, options)) return in.error = reader->GetLastErrorID(), in;
    KQovNode* root = t.scene->GetRootNode();
    if (root->GetChildCount() > before) in.root = root->GetChild(root->GetChildCount() - 1);
    in.frames = options->GetFrameCount();
    in.start = options->GetStartTime();
    in.period = options->GetFramePeriod();
    return in;
}

// x, y, z and occlusion of a marker node at each frame of its current take.
inline std::vector<KVector4> Samples(KQovNode* node, const Imported& in) {
    std::vector<KVector4> out;
    KQovTakeNode* take = node ? node->GetCurrentTakeNode() : nullptr;
    if (!take) return out;
    KFCurve* c[4] = {take->GetTranslationX(), take->GetTranslationY(), take->GetTranslationZ(),
                     take->GetOcclusion()};
    for (KFCurve* curve : c)
        if (!curve || curve->KeyGetCount() == 0) return out;
    for (int j = 0; j < in.frames; ++j) {
        const KTime t = in.start + in.period * int64_t(j);
        out.emplace_back(c[0]->Evaluate(t), c[1]->Evaluate(t), c[2]->Evaluate(t), c[3]->Evaluate(t));
    }
    return out;
}

inline std::string ShortName(KQovNode* node) {
    const std::string name = node->GetName();
    return name.substr(name.rfind(':') + 1);
}

inline bool WriteText(const std::string& path, const std::string& text) {
    KFileStream stream;
    return stream.Open(path.c_str(), "wb") &&
           stream.Write(text.data(), uint32_t(text.size())) == text.size();
}

inline std::string ReadText(const std::string& path) {
    KFileStream stream;
    std::string text;
    if (!stream.Open(path.c_str(), "rb")) return text;
    char chunk[4096];
    for (uint32_t n; (n = stream.Read(chunk, sizeof chunk)) > 0;) text.append(chunk, n);
    return text;
}

// The sample of marker k at frame f that BuildMarkers keys: unseen markers sit at the origin.
inline KVector4 Keyed(int k, int f) {
    const bool unseen = f == 2 && k % 2 == 1;
    if (unseen) return KVector4(0.0, 0.0, 0.0, 1.0);
    return KVector4(k + 0.5 * f, 2.0 * f - 1.25, -k - 0.125, 0.0);
}

// Marked optical marker nodes m0, m1 ... under one top node, keyed per frame with Keyed.
inline KQovNode* BuildMarkers(TestScene& t, int markers, int frames, double period) {
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
            const KVector4 v = Keyed(k, f);
            for (int a = 0; a < 4; ++a)
                c[a]->KeySet(f, time, float(v[a]),
                             a == 3 ? KFCURVE_INTERPOLATION_CONSTANT : KFCURVE_INTERPOLATION_LINEAR);
        }
        for (KFCurve* curve : c) curve->CommitKeys(frames);
    }
    return top;
}

// Writes a scene with the writer of `writerId`; false with the writer's error code.
inline bool Export(TestScene& t, int writerId, const std::string& path, int frames, double rate,
                   int& error) {
    std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(writerId, &t.manager));
    error = -1;
    if (!writer) return false;
    if (!writer->FileCreate(path.c_str())) return error = writer->GetLastErrorID(), false;
    std::unique_ptr<KStreamOptions> base(writer->GetWriteOptions());
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    options->SetFrameRate(0, rate);
    options->SetStartTime(KTime());
    options->SetFrameCount(frames);
    const bool ok = writer->Write(t.scene, options) && writer->FileClose();
    error = writer->GetLastErrorID();
    return ok;
}

}  // namespace optest
