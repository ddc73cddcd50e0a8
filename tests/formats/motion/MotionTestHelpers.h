#pragma once
// Test helpers of the motion formats: forward kinematics on plain 3x3 matrices in the
// column-vector convention (kept apart from the library's matrix code so it can check it),
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

namespace motiontest {

using Mat3 = std::array<std::array<double, 3>, 3>;
using Vec3 = std::array<double, 3>;

inline Mat3 Identity() {
    return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
}

inline Mat3 Mul(const Mat3& a, const Mat3& b) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
    return r;
}

inline Vec3 Apply(const Mat3& m, const Vec3& v) {
    Vec3 r{};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) r[i] += m[i][k] * v[k];
    return r;
}

inline Vec3 Add(const Vec3& a, const Vec3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

// Turn by `degrees` about axis 0, 1 or 2.
inline Mat3 Axis(int axis, double degrees) {
    const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    Mat3 m = Identity();
    m[i][i] = c;
    m[i][j] = -s;
    m[j][i] = s;
    m[j][j] = c;
    return m;
}

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

}  // namespace motiontest
