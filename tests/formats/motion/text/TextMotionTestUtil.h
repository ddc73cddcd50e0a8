#pragma once
// Test helpers of the marker-style text formats: files written from literal text, a scene of
// marked nodes keyed from a formula, imports and exports through any reader or writer, and
// the curves of a node evaluated at a frame.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "../MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMarker.h"
#include "foundation/KFileStream.h"
#include "io/KQovReader.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

namespace texttest {

using motiontest::ReadText;
using motiontest::WriteText;

using motiontest::TestScene;

// One frame of a node: translation, rotation, scaling (x, y, z each) and occlusion.
struct Pose {
    double t[3], r[3], s[3];
    double occlusion;
};

// The pose a test scene's marker k holds at frame f. Rotations stay inside (-90, 90) on Y so
// that Euler angles read back as they were keyed; marker 1 is unseen at frame 2.
inline Pose SourcePose(int k, int f) {
    Pose p{};
    const double kf = k + 0.25 * f;
    p.t[0] = 1.5 * k + f;
    p.t[1] = 2.0 * f - 0.125 * k;
    p.t[2] = -3.0 * k + 0.5;
    p.r[0] = 10.0 * kf;
    p.r[1] = -20.0 + 7.0 * kf;
    p.r[2] = 30.0 - 4.0 * f;
    p.s[0] = 1.0 + 0.5 * k;
    p.s[1] = 2.0;
    p.s[2] = 1.0 + 0.25 * f;
    p.occlusion = (k == 1 && f == 2) ? 1.0 : 0.0;
    return p;
}

// Channel 0 translation, 1 rotation, 2 scaling, each axis 0-2; channel 3 is occlusion.
inline KFCurve* Curve(KQovTakeNode* take, int channel, int axis) {
    static const char* const kChannels[3] = {"T", "R", "S"};
    static const char* const kAxes[3] = {"X", "Y", "Z"};
    return channel == 3 ? take->GetOcclusion()
                        : take->FindCurve("Transform", kChannels[channel], kAxes[axis]);
}

inline KTime FrameTime(int f, double rate) {
    KTime t;
    t.SetSecondDouble(f / rate);
    return t;
}

// `markers` marked nodes "<prefix>k" under the single top node "top" (itself moved away, so
// that the positions are relative to it), keyed at `frames` frames of `rate` with SourcePose.
inline KQovNode* BuildMarkers(TestScene& t, int markers, int frames, double rate,
                              const std::string& prefix = "m") {
    KQovNode* top = t.manager.CreateNode("top");
    top->SetLocalTranslation(100.0, -50.0, 25.0);
    t.scene->GetRootNode()->AddChild(top);
    for (int k = 0; k < markers; ++k) {
        KQovNode* node = t.manager.CreateNode((prefix + std::to_string(k)).c_str());
        KQovMarker* marker = t.manager.CreateMarker();
        marker->SetType(KQovMarker::eOptical);
        node->SetNodeAttribute(marker);
        node->SetMarked(true);
        top->AddChild(node);
        node->AddTakeNode("take");
        node->SetCurrentTakeNode("take");
        KQovTakeNode* take = node->GetCurrentTakeNode();
        for (int c = 0; c < 10; ++c) {
            KFCurve* curve = Curve(take, c / 3, c % 3);
            curve->PrepareKeys(frames);
            for (int f = 0; f < frames; ++f) {
                const Pose p = SourcePose(k, f);
                const double v = c < 3   ? p.t[c]
                                 : c < 6 ? p.r[c - 3]
                                 : c < 9 ? p.s[c - 6]
                                         : p.occlusion;
                curve->KeySet(
                    f, FrameTime(f, rate), float(v),
                    c == 9 ? KFCURVE_INTERPOLATION_CONSTANT : KFCURVE_INTERPOLATION_LINEAR);
            }
            curve->CommitKeys(frames);
        }
    }
    return top;
}

// A node's curves of its current take evaluated at `time`; a missing curve gives -1000.
inline Pose Evaluate(KQovNode* node, KTime time) {
    Pose p{};
    KQovTakeNode* take = node->GetCurrentTakeNode();
    double* out[10] = {&p.t[0], &p.t[1], &p.t[2], &p.r[0], &p.r[1],
                       &p.r[2], &p.s[0], &p.s[1], &p.s[2], &p.occlusion};
    for (int c = 0; c < 10; ++c) {
        KFCurve* curve = take ? Curve(take, c / 3, c % 3) : nullptr;
        *out[c] = curve && curve->KeyGetCount() > 0 ? curve->Evaluate(time) : -1000.0;
    }
    return p;
}

// What an import gave: the marker parent (the root's last child) and the options used.
struct Imported {
    KQovNode* parent = nullptr;
    int error = -1;
    std::string errorText;
    std::string status;  // the reader's warnings
    std::unique_ptr<KStreamOptionsMotion> options;
    KTime Time(int f) const {
        return options->GetStartTime() + options->GetFramePeriod() * int64_t(f);
    }
};

using OptionsEdit = std::function<void(KStreamOptionsMotion&)>;

// Opens, takes the reader's options (edited by `edit`), reads. No parent on failure, with the
// reader's error code.
template <class Reader>
Imported Import(TestScene& t, const std::string& path, const OptionsEdit& edit = nullptr) {
    Reader reader(&t.manager);
    Imported in;
    auto fail = [&]() {
        in.error = reader.GetLastErrorID();
        in.errorText = reader.GetLastErrorString();
        return std::move(in);
    };
    if (!reader.FileOpen(path.c_str())) return fail();
    in.options.reset(static_cast<KStreamOptionsMotion*>(reader.GetReadOptions(false)));
    if (!in.options) return fail();
    if (edit) edit(*in.options);
    if (!reader.Read(t.scene, in.options.get())) return fail();
    KString status;
    reader.GetStatusText(status);
    in.status = status.Buffer();
    KQovNode* root = t.scene->GetRootNode();
    in.parent = root->GetChildCount() ? root->GetChild(root->GetChildCount() - 1) : nullptr;
    return in;
}

// Creates, writes `frames` frames at `rate` from 0 with the writer's options (edited), closes.
// The writer's error code on failure.
template <class Writer>
bool Export(TestScene& t, const std::string& path, int frames, double rate, int& error,
            const OptionsEdit& edit = nullptr) {
    Writer writer(&t.manager);
    error = -1;
    if (!writer.FileCreate(path.c_str())) return error = writer.GetLastErrorID(), false;
    std::unique_ptr<KStreamOptions> base(writer.GetWriteOptions());
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    options->SetFrameRate(0, rate);
    options->SetStartTime(KTime());
    options->SetFrameCount(frames);
    if (edit) edit(*options);
    if (!writer.Write(t.scene, options)) return error = writer.GetLastErrorID(), false;
    if (!writer.FileClose()) return error = writer.GetLastErrorID(), false;
    return true;
}

inline std::string ChildName(KQovNode* parent, int i) {
    KQovNode* child = parent ? parent->GetChild(i) : nullptr;
    return child ? child->GetName() : "";
}

}  // namespace texttest
