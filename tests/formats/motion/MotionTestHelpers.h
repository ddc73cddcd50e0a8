#pragma once
// Test helpers of the motion formats: forward kinematics on plain 3x3 matrices in the
// column-vector convention (the independent readers' own, kept apart from the library's
// matrix code so they can check it),
// text edits for malformed-file tables, and a scene to import into.

#include <array>
#include <cmath>
#include <memory>
#include <string>

#include "character/KQovSceneBridge.h"
#include "foundation/KFileStream.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovReader.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "tools/IndependentReaders.h"

namespace motiontest {

// The plain matrix helpers are the independent readers' own.
using independent::Add;
using independent::Apply;
using independent::Axis;
using independent::Identity;
using independent::Mat3;
using independent::Mul;
using independent::Vec3;

// Euler X, Y, Z with X turning first.
inline Mat3 EulerXYZ(const double e[3]) {
    return Mul(Axis(2, e[2]), Mul(Axis(1, e[1]), Axis(0, e[0])));
}

inline double Distance(const Vec3& a, const Vec3& b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                     (a[2] - b[2]) * (a[2] - b[2]));
}

// `text` with the first `from` replaced by `to`.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

struct TestScene {
    TestScene() {
        KQovSceneBridge::Install();
        scene = manager.CreateScene();
    }
    KQovObjectManager manager;
    KQovScene* scene;
};

// The first `frames` frames of the captured BVH clip of the test data, read through the format
// table (id 3) with the skeleton under the scene's root; the options come back in `options`.
inline bool ImportCapturedClip(TestScene& test, int frames,
                               std::unique_ptr<KStreamOptions>& options) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/bvh/01_01.bvh";
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(3, &test.manager));
    if (!reader || !reader->FileOpen(path.c_str())) return false;
    options.reset(reader->GetReadOptions(true));
    auto* motion = static_cast<KStreamOptionsMotion*>(options.get());
    if (!motion) return false;
    motion->SetSetting(8, 0);
    motion->SetFrameCount(frames);
    return reader->Read(test.scene, motion);
}

// Whole files as text, through the library's own file stream.
inline bool WriteText(const std::string& path, const std::string& text) {
    KFileStream stream;
    return stream.Open(path.c_str(), "wb") &&
           stream.Write(text.data(), uint32_t(text.size())) == text.size() && stream.Commit();
}

inline std::string ReadText(const std::string& path) {
    KFileStream stream;
    std::string text;
    if (!stream.Open(path.c_str(), "rb")) return text;
    char chunk[4096];
    for (uint32_t n; (n = stream.Read(chunk, sizeof chunk)) > 0;) text.append(chunk, n);
    return text;
}

}  // namespace motiontest
