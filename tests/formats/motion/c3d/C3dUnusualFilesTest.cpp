// Files other programs write that stretch the layout: a parameter section that claims more
// blocks than lie before the data, a header scale that disagrees with POINT:SCALE, and
// recordings with analog channels only. Built byte by byte here (Intel form).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "common/TempTestFolder.h"
#include "formats/motion/c3d/KQovOpticalC3d.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovTakeInfo.h"

namespace {

using motiontest::TestScene;

struct Bytes {
    std::vector<uint8_t> b;
    void U8(int v) { b.push_back(uint8_t(v)); }
    void U16(int v) { U8(v & 0xFF), U8((v >> 8) & 0xFF); }
    void F32(float v) {
        uint8_t x[4];
        std::memcpy(x, &v, 4);
        b.insert(b.end(), x, x + 4);
    }
    void Text(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
    void PadTo(size_t size) { b.resize(size, 0); }
};

struct Layout {
    int points = 2, analog = 0, frames = 3;
    float headerScale = -1.0f;
    float pointScale = -1.0f;  // POINT:SCALE; 0 for none
    int declaredBlocks = 1;
    int dataBlock = 3;  // 1-based
    float rate = 50.0f;  // the header's
    // POINT:X_SCREEN and Y_SCREEN, none when empty; the points are turned to match, so that
    // they read as those of a file with the default "+X" and "+Z".
    std::string xScreen, yScreen;
};

using Axis = std::array<double, 3>;

Axis ScreenAxis(const std::string& text, const Axis& missing) {
    if (text.size() != 2) return missing;
    Axis v{};
    v[size_t(text[1] - 'X')] = text[0] == '-' ? -1.0 : 1.0;
    return v;
}

// The file's coordinates of scene point `p` given in the default axes: the default's x goes to
// the axis shown right, its z to the one shown up and its y to up x right.
Axis Turned(const Layout& l, const Axis& p) {
    const Axis a = ScreenAxis(l.xScreen, {1, 0, 0}), b = ScreenAxis(l.yScreen, {0, 0, 1});
    if (a[0] * b[0] + a[1] * b[1] + a[2] * b[2] != 0) return p;  // one axis twice: the defaults
    const Axis c{b[1] * a[2] - b[2] * a[1], b[2] * a[0] - b[0] * a[2], b[0] * a[1] - b[1] * a[0]};
    Axis q{};
    for (size_t i = 0; i < 3; ++i) q[i] = p[0] * a[i] + p[1] * c[i] + p[2] * b[i];
    return q;
}

// Point k of frame f in file units: (100k + f, 10f, -k).
float Coordinate(int k, int f, int axis) {
    return axis == 0 ? float(100 * k + f) : axis == 1 ? float(10 * f) : float(-k);
}

std::vector<uint8_t> MakeFile(const Layout& l) {
    Bytes f;
    f.U8(2), f.U8(0x50);
    f.U16(l.points);
    f.U16(l.analog);  // one sample per channel and frame
    f.U16(1);
    f.U16(l.frames);
    f.U16(0);
    f.F32(l.headerScale);
    f.U16(l.dataBlock);
    f.U16(1);
    f.F32(l.rate);
    f.PadTo(512);
    f.U8(1), f.U8(0x50), f.U8(l.declaredBlocks), f.U8(84);
    // A group record, then parameters; every offset counts from its own first byte.
    auto group = [&](int id, const std::string& name) {
        f.U8(int(name.size())), f.U8(-id & 0xFF), f.Text(name), f.U16(3), f.U8(0);
    };
    auto parameter = [&](int id, const std::string& name, int type, std::vector<int> dims,
                         const Bytes& data) {
        f.U8(int(name.size())), f.U8(id), f.Text(name);
        f.U16(int(2 + 2 + dims.size() + data.b.size() + 1));
        f.U8(type & 0xFF), f.U8(int(dims.size()));
        for (int d : dims) f.U8(d);
        f.b.insert(f.b.end(), data.b.begin(), data.b.end());
        f.U8(0);
    };
    group(1, "POINT");
    Bytes used;
    used.U16(l.points);
    parameter(1, "USED", 2, {}, used);
    if (l.pointScale != 0.0f) {
        Bytes scale;
        scale.F32(l.pointScale);
        parameter(1, "SCALE", 4, {}, scale);
    }
    Bytes units;
    units.Text("mm");
    parameter(1, "UNITS", -1, {2}, units);
    for (const std::string* screen : {&l.xScreen, &l.yScreen}) {
        Bytes text;
        text.Text(*screen);
        if (!screen->empty())
            parameter(1, screen == &l.xScreen ? "X_SCREEN" : "Y_SCREEN", -1, {2}, text);
    }
    group(2, "ANALOG");
    Bytes analogUsed;
    analogUsed.U16(l.analog);
    parameter(2, "USED", 2, {}, analogUsed);
    if (l.points > 0) {
        Bytes labels;
        for (int k = 0; k < l.points; ++k) labels.Text("M" + std::to_string(k) + "  ");
        parameter(1, "LABELS", -1, {4, l.points}, labels);
    }
    f.PadTo(size_t(l.dataBlock - 1) * 512);
    // The points take the form and scale POINT:SCALE gives, the header's without one.
    const float scale = l.pointScale != 0.0f ? l.pointScale : l.headerScale;
    for (int frame = 0; frame < l.frames; ++frame) {
        for (int k = 0; k < l.points; ++k) {
            const Axis p = Turned(
                l, {Coordinate(k, frame, 0), Coordinate(k, frame, 1), Coordinate(k, frame, 2)});
            for (double c : p) {
                const float v = float(c);
                scale < 0 ? f.F32(v) : f.U16(int(v / scale) & 0xFFFF);
            }
            scale < 0 ? f.F32(0.0f) : f.U16(0);
        }
        for (int c = 0; c < l.analog; ++c) scale < 0 ? f.F32(float(c)) : f.U16(c);
    }
    return f.b;
}

struct Read {
    bool ok = false;
    int error = -1;
    KQovNode* root = nullptr;
    int frames = 0;
    KStreamOptionsMotion* options = nullptr;
    std::string status;
};

Read ReadFile(TestScene& t, const std::string& path, std::unique_ptr<KStreamOptions>& keep) {
    KQovReaderC3d reader(&t.manager);
    Read r;
    if (!reader.FileOpen(path.c_str())) return r.error = reader.GetLastErrorID(), r;
    keep.reset(reader.GetReadOptions(false));
    r.options = static_cast<KStreamOptionsMotion*>(keep.get());
    if (!r.options) return r.error = reader.GetLastErrorID(), r;
    if (!reader.Read(t.scene, r.options)) return r.error = reader.GetLastErrorID(), r;
    r.ok = true;
    KString status;
    reader.GetStatusText(status);
    r.status = status.Buffer();
    KQovNode* top = t.scene->GetRootNode();
    r.root = top->GetChildCount() ? top->GetChild(top->GetChildCount() - 1) : nullptr;
    r.frames = r.options->GetFrameCount();
    return r;
}

std::string WriteFile(TempTestFolder& dir, const char* name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
    return path;
}

TEST(C3dUnusualFiles, MarkersReadWhateverTheSectionClaimsAndWhicheverScaleDisagrees) {
    struct Case {
        const char* what;
        Layout layout;
        const char* status = "";
    };
    Layout longClaim;
    longClaim.declaredBlocks = 9;  // blocks 2..10, but the data start at block 3
    Layout integerScale;  // header scale 0.5, POINT:SCALE 0.25: the parameter counts
    integerScale.headerScale = 0.5f, integerScale.pointScale = 0.25f;
    Layout floatScale;  // header float, POINT:SCALE negative as well but another size
    floatScale.headerScale = -0.5f, floatScale.pointScale = -1.0f;
    Layout signDiffers;  // header says integers, POINT:SCALE says floats: floats are read
    signDiffers.headerScale = 0.5f, signDiffers.pointScale = -2.0f;
    Layout integersByParameter;  // the other way round: the header says floats
    integersByParameter.headerScale = -1.0f, integersByParameter.pointScale = 0.5f;
    Layout noParameter;  // without POINT:SCALE the header's integer scale holds
    noParameter.headerScale = 0.5f, noParameter.pointScale = 0.0f;
    // A header rate no system records reads at 30 a second, and the read says so.
    Layout lowRate, zeroRate;
    lowRate.rate = 0.001f, zeroRate.rate = 0.0f;
    Layout withAnalog = longClaim;
    withAnalog.analog = 3;
    // Lab axes other than the defaults on screen: each file reads as a turn of the default one.
    auto screen = [](const char* right, const char* up) {
        Layout l;
        l.xScreen = right, l.yScreen = up;
        return l;
    };
    Layout integerTurned = screen("-Z", "-X");
    integerTurned.headerScale = 0.5f, integerTurned.pointScale = 0.0f;
    const Case cases[] = {
        {"screen +X +Z", screen("+X", "+Z")},
        {"screen +Y +Z", screen("+Y", "+Z")},
        {"screen -X +Z", screen("-X", "+Z")},
        {"screen +X +Y", screen("+X", "+Y")},
        {"screen -Y -X", screen("-Y", "-X")},
        {"screen +Z -Y", screen("+Z", "-Y")},
        {"screen -Z -X, integers", integerTurned},
        {"screen +Y alone", screen("+Y", "")},
        {"screen -Y up alone", screen("", "-Y")},
        {"one axis twice: the defaults", screen("+Z", "+Z")},
        {"section longer than the parameters", longClaim},
        {"integer scale disagrees", integerScale},         {"float scale disagrees", floatScale},
        {"scale signs disagree", signDiffers},             {"integers by POINT:SCALE", integersByParameter},             {"no POINT:SCALE", noParameter},
        {"analog channels too", withAnalog},
        {"rate 0.001", lowRate,
         "The header's frame rate 0.001 is no recorded rate: the file is read at 30 frames a "
         "second.\n"},
        {"rate 0", zeroRate,
         "The header's frame rate 0 is no recorded rate: the file is read at 30 frames a "
         "second.\n"},
    };
    TempTestFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestScene t;
        std::unique_ptr<KStreamOptions> keep;
        const Read r = ReadFile(t, WriteFile(dir, "case.c3d", MakeFile(c.layout)), keep);
        ASSERT_TRUE(r.ok) << "error " << r.error;
        ASSERT_TRUE(r.root);
        ASSERT_EQ(r.root->GetChildCount(), c.layout.points);
        EXPECT_EQ(r.frames, c.layout.frames);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.options->GetFrameRate(), c.layout.rate > 0.001f ? c.layout.rate : 30.0);
        for (int k = 0; k < c.layout.points; ++k) {
            KQovNode* node = r.root->GetChild(k);
            EXPECT_EQ(std::string(node->GetName()), "Model::M" + std::to_string(k));
            KQovTakeNode* take = node->GetCurrentTakeNode();
            KFCurve* x = take->GetTranslationX();
            KFCurve* y = take->GetTranslationY();
            KFCurve* z = take->GetTranslationZ();
            for (int f = 0; f < c.layout.frames; ++f) {
                const KTime time = r.options->GetStartTime() + r.options->GetFramePeriod() * int64_t(f);
                // Millimetres to centimetres, file (x, y, z) to scene (-x, z, y).
                EXPECT_NEAR(x->Evaluate(time), -0.1 * Coordinate(k, f, 0), 1e-4) << k << " " << f;
                EXPECT_NEAR(y->Evaluate(time), 0.1 * Coordinate(k, f, 2), 1e-4) << k << " " << f;
                EXPECT_NEAR(z->Evaluate(time), 0.1 * Coordinate(k, f, 1), 1e-4) << k << " " << f;
            }
        }
    }
}

TEST(C3dUnusualFiles, AnalogOnlyRecordingIsATakeWithoutMarkers) {
    for (const bool floats : {true, false}) {
        SCOPED_TRACE(floats);
        Layout l;
        l.points = 0, l.analog = 4, l.frames = 10;
        l.headerScale = floats ? -1.0f : 0.5f;
        l.pointScale = l.headerScale;
        TempTestFolder dir;
        TestScene t;
        std::unique_ptr<KStreamOptions> keep;
        const Read r = ReadFile(t, WriteFile(dir, "analog.c3d", MakeFile(l)), keep);
        ASSERT_TRUE(r.ok) << "error " << r.error;
        EXPECT_EQ(r.frames, 10);
        // No marker nodes; the take spans the recording's frames.
        int markers = 0;
        for (int i = 0; KQovNode* child = t.scene->GetRootNode()->GetChild(i); ++i)
            markers += child->GetChildCount();
        EXPECT_EQ(markers, 0);
        const KQovTakeInfo* take = t.scene->GetTakeInfo("analog");
        ASSERT_TRUE(take);
        EXPECT_EQ(take->localTimeSpan.GetStart(), r.options->GetStartTime());
        EXPECT_EQ(take->localTimeSpan.GetStop(),
                  r.options->GetStartTime() + r.options->GetFramePeriod() * int64_t(9));
        EXPECT_STREQ(t.scene->GetCurrentTakeName(), "analog");
    }
    // Neither points nor analog channels: still refused as damaged.
    Layout none;
    none.points = 0;
    TempTestFolder dir;
    TestScene t;
    std::unique_ptr<KStreamOptions> keep;
    const Read r = ReadFile(t, WriteFile(dir, "none.c3d", MakeFile(none)), keep);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, KQovReader::eFileCorrupted);
}

}  // namespace
