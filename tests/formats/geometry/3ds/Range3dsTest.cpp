// The key-frame range of a 3DS file (the header's length and the active segment) as the take's
// span: read from crafted and real files, written from takes, and carried through the
// library and through qovtool convert, with lib3ds as the independent reader.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "Reading3ds.h"
#include "Test3ds.h"
#include "animation/KQovTakeNode.h"
#include "io/KQovWriteOptions.h"
#include "scene/KQovTakeInfo.h"

namespace {

struct Span {
    double start, stop;  // frames at 30 frames per second
};

Span Frames(const KTimeSpan& span) {
    const double frame = double(KTime::GetFrameLength(KTime::eFRAMES30));
    return {double(span.GetStart().Get()) / frame, double(span.GetStop().Get()) / frame};
}

const KQovTakeInfo* CurrentTake(KQovScene* scene) {
    return scene->GetTakeInfo(scene->GetCurrentTakeName());
}

// "keyframes LENGTH FROM TO" as lib3ds reads the file.
std::string Lib3dsRange(const std::string& path) {
    for (const std::string& line : Lib3dsLines(path))
        if (line.rfind("keyframes ", 0) == 0) return line;
    return "none";
}

// A file of one mesh whose node is keyed at frames 0 and `lastKey`, and a key-frame section
// of the chunks given (none: no section at all).
Bytes3ds RangeFile(const Bytes3ds& kfChunks, bool section, uint32_t lastKey = 10) {
    Bytes3ds mesh = Chunk(
        0x4000, Str("Box") + Chunk(0x4100, Chunk(0x4110, U16(3) + F32(0) + F32(0) + F32(0) +
                                                            F32(1) + F32(0) + F32(0) + F32(0) +
                                                            F32(1) + F32(0)) +
                                               Chunk(0x4120, U16(1) + U16(0) + U16(1) + U16(2) +
                                                                 U16(0))));
    Bytes3ds track = U16(0) + U32(0) + U32(0) + U32(2) + U32(0) + U16(0) + F32(0) + F32(0) +
                     F32(0) + U32(lastKey) + U16(0) + F32(5) + F32(0) + F32(0);
    Bytes3ds node = Chunk(0xB002, Chunk(0xB030, U16(0)) +
                                      Chunk(0xB010, Str("Box") + U16(0) + U16(0) + U16(0xFFFF)) +
                                      Chunk(0xB020, track));
    Bytes3ds body = Chunk(0x0002, U32(3)) + Chunk(0x3D3D, Chunk(0x3D3E, U32(3)) + mesh);
    if (section) body = body + Chunk(0xB000, kfChunks + node);
    return Chunk(0x4D4D, body);
}

Bytes3ds Header(uint32_t length) {
    return Chunk(0xB00A, U16(5) + Str("") + U32(length));
}
Bytes3ds Segment(uint32_t from, uint32_t to) {
    return Chunk(0xB008, U32(from) + U32(to));
}

TEST(Range3ds, TheFileRangeBecomesTheTakeSpan) {
    struct Case {
        const char* what;
        Bytes3ds chunks;
        bool section;
        Span local, reference;
        bool noted;  // a status line says why the range was not taken
        uint32_t lastKey = 10;
        int keys = 2;          // of the node's two position keys (one alone is a value)
        bool dropped = false;  // a status line says a key was not read
    } cases[] = {
        {"length and segment alike", Header(300) + Segment(0, 300), true, {0, 300}, {0, 300}, false},
        {"a segment inside the length", Header(300) + Segment(50, 120), true, {50, 120}, {0, 300}, false},
        {"length alone", Header(90), true, {0, 90}, {0, 90}, false},
        {"a reversed segment is no segment", Header(100) + Segment(80, 20), true, {0, 100},
         {0, 100}, false},
        {"a segment without a length", Header(0) + Segment(5, 25), true, {5, 25}, {5, 25}, false},
        {"an empty range: the keys", Header(0), true, {0, 10}, {0, 10}, false},
        {"no key-frame header: the keys", Bytes3ds(), true, {0, 10}, {0, 10}, false},
        {"no key-frame section, nothing animated", Bytes3ds(), false, {0, 150}, {0, 150}, false,
         10, 0},
        {"a segment cut short: the keys", Header(100) + Chunk(0xB008, U32(5)), true, {0, 10},
         {0, 10}, true},
        // Past the last frame believed (2^20): a few bytes claiming billions of frames.
        {"the last frame believed", Header(1u << 20) + Segment(0, 1u << 20), true,
         {0, 1 << 20}, {0, 1 << 20}, false},
        {"a length past it: the keys", Header(0xFFFFFFFFu) + Segment(0, 300), true, {0, 10},
         {0, 10}, true},
        {"a segment past it: the keys", Header(300) + Segment(0, (1u << 20) + 1), true, {0, 10},
         {0, 10}, true},
        // A key is believed as far as twice the range's end, or the last frame without one:
        // one flipped bit must not turn a 21-frame take into a million frames.
        {"a key past twice the range", Header(20) + Segment(0, 20), true, {0, 20}, {0, 20}, false,
         (1u << 25) + 20, 0, true},
        {"a key by the range's end", Header(20) + Segment(0, 20), true, {0, 20}, {0, 20}, false,
         40},
        {"a key past twice the segment", Header(0) + Segment(5, 20), true, {5, 20}, {5, 20}, false,
         41, 0, true},
        {"a key at the last frame, no range", Header(0), true, {0, 1 << 20}, {0, 1 << 20}, false,
         1u << 20},
        {"a key past the last frame, no range", Header(0), true, {0, 150}, {0, 150}, false,
         (1u << 20) + 1, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempPath3ds file("range.3ds");
        WriteBytes3ds(file.path, RangeFile(c.chunks, c.section, c.lastKey));
        Reading3ds r;
        ASSERT_TRUE(r.Read(file.path)) << r.status.Buffer();
        KQovNode* box = r.Find(r.scene->GetRootNode(), "Box");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->GetCurrentTakeNode()->GetTranslationX()->KeyGetCount(), c.keys);
        EXPECT_EQ(std::string(r.status.Buffer()).find("1 key past frame") != std::string::npos,
                  c.dropped)
            << r.status.Buffer();
        const KQovTakeInfo* take = CurrentTake(r.scene);
        ASSERT_NE(take, nullptr);
        EXPECT_STREQ(take->name.Buffer(), "default take");
        const Span local = Frames(take->localTimeSpan), reference = Frames(take->referenceTimeSpan);
        EXPECT_DOUBLE_EQ(local.start, c.local.start);
        EXPECT_DOUBLE_EQ(local.stop, c.local.stop);
        EXPECT_DOUBLE_EQ(reference.start, c.reference.start);
        EXPECT_DOUBLE_EQ(reference.stop, c.reference.stop);
        EXPECT_EQ(std::string(r.status.Buffer()).find("key-frame length") != std::string::npos,
                  c.noted)
            << r.status.Buffer();
    }
}

// A mesh keyed from frame 0 to 79 under a take whose span the case gives.
void KeyedScene(Reading3ds& r, const char* takeName, KTime start, KTime stop, KTime refStop) {
    r.scene = r.manager.CreateScene();
    KQovMesh* mesh = r.manager.CreateMesh();
    mesh->InitControlPoints(3);
    mesh->GetControlPoints().SetAt(1, KVector4(1, 0, 0, 1));
    mesh->GetControlPoints().SetAt(2, KVector4(0, 1, 0, 1));
    mesh->BeginPolygon();
    for (int i = 0; i < 3; ++i) mesh->AddPolygonVertex(i);
    KQovNode* node = r.manager.CreateNode("Box");
    node->SetNodeAttribute(mesh);
    r.scene->GetRootNode()->AddChild(node);
    node->AddTakeNode("Take 001");
    node->SetCurrentTakeNode("Take 001");
    KQovTakeNode* take = node->GetCurrentTakeNode();
    for (KFCurve* curve : {take->GetTranslationX(), take->GetTranslationY(),
                           take->GetTranslationZ()})
        Keys3ds(curve, {{0, 0.0}, {79, 7.9}});
    KQovTakeInfo info;
    info.name = takeName;
    info.localTimeSpan.Set(start, stop);
    info.referenceTimeSpan.Set(KTIME_ZERO, refStop);
    r.scene->SetTakeInfo(info);
    r.scene->SetCurrentTake(takeName);
}

KTime At(double frame, int mode = KTime::eFRAMES30) {
    return KTime(int64_t(frame * double(KTime::GetFrameLength(mode))));
}

TEST(Range3ds, TheWriterWritesTheSpanOfTheTakeItIsGiven) {
    struct Case {
        const char* what;
        bool fill;  // options filled from the scene (the take named), else the defaults
        KTime start, stop, refStop;
        const char* lib3ds;  // what lib3ds reads back
    } cases[] = {
        {"a take past its last key", true, At(0), At(99), At(99), "keyframes 99 0 99"},
        {"a take inside a longer reference", true, At(10), At(50), At(200), "keyframes 200 10 50"},
        {"a take starting before frame 0", true, At(-5), At(40), At(40), "keyframes 40 0 40"},
        {"24 frames a second: whole frames covering the span", true, At(0),
         At(99, KTime::eFRAMES24), KTIME_ZERO, "keyframes 124 0 124"},
        // Nothing given: the animation's end, and lib3ds's own segment.
        {"options naming no take", false, At(0), At(99), At(99), "keyframes 79 0 100"},
        {"an empty take", true, At(20), At(20), KTIME_ZERO, "keyframes 79 0 100"},
        {"a take wholly before frame 0", true, At(-50), At(-10), KTIME_ZERO,
         "keyframes 79 0 100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reading3ds w;
        KeyedScene(w, "Take 001", c.start, c.stop, c.refStop);
        TempPath3ds file("written.3ds");
        KQovWriter3ds writer(&w.manager);
        ASSERT_TRUE(writer.FileCreate(file.path.c_str()));
        std::unique_ptr<KStreamOptions> options(writer.GetWriteOptions());
        if (c.fill) KQovFillWriteOptions(*w.scene, *options);
        ASSERT_TRUE(writer.Write(w.scene, options.get()));
        ASSERT_TRUE(writer.FileClose());
        EXPECT_EQ(Lib3dsRange(file.path), c.lib3ds);
        // The node is keyed over its own frames whatever the take says.
        EXPECT_NE(Lib3dsLines(file.path).end(),
                  std::find(Lib3dsLines(file.path).begin(), Lib3dsLines(file.path).end(),
                            "node object Box 80 80 80 0 0"));
    }
}

// Each real file read, written with options filled from the scene, and read again: the same
// take span, and lib3ds finds the same length and segment in both files. A file without a
// key-frame section gets the reader's default span, which is then written.
TEST(Range3ds, RealFilesKeepTheirRangeThroughTheLibrary) {
    for (const std::string& path : TestFiles3ds()) {
        SCOPED_TRACE(path);
        Reading3ds first;
        ASSERT_TRUE(first.Read(path)) << first.status.Buffer();
        TempPath3ds out("again.3ds");
        {
            KQovWriter3ds writer(&first.manager);
            ASSERT_TRUE(writer.FileCreate(out.path.c_str()));
            std::unique_ptr<KStreamOptions> options(writer.GetWriteOptions());
            KQovFillWriteOptions(*first.scene, *options);
            ASSERT_TRUE(writer.Write(first.scene, options.get()));
            ASSERT_TRUE(writer.FileClose());
        }
        Reading3ds again;
        ASSERT_TRUE(again.Read(out.path)) << again.status.Buffer();
        const KQovTakeInfo* before = CurrentTake(first.scene);
        const KQovTakeInfo* after = CurrentTake(again.scene);
        ASSERT_TRUE(before && after);
        EXPECT_EQ(before->localTimeSpan.GetStart(), after->localTimeSpan.GetStart());
        EXPECT_EQ(before->localTimeSpan.GetStop(), after->localTimeSpan.GetStop());
        EXPECT_EQ(before->referenceTimeSpan.GetStop(), after->referenceTimeSpan.GetStop());
        const std::string original = Lib3dsRange(path);
        if (path.find("fels") == std::string::npos) {
            EXPECT_EQ(Lib3dsRange(out.path), original);
        } else {
            EXPECT_EQ(Lib3dsRange(out.path), "keyframes 150 0 150");
        }
        // lib3ds agrees with the span read: the segment, within the length.
        int length = 0, from = 0, to = 0;
        ASSERT_EQ(std::sscanf(Lib3dsRange(out.path).c_str(), "keyframes %d %d %d", &length, &from,
                              &to),
                  3);
        EXPECT_DOUBLE_EQ(Frames(after->localTimeSpan).start, from);
        EXPECT_DOUBLE_EQ(Frames(after->localTimeSpan).stop, to);
        EXPECT_DOUBLE_EQ(Frames(after->referenceTimeSpan).stop, length);
    }
}

// The same through the tool: 3DS to 3DS, and 3DS to QOV and back.
TEST(Range3ds, RealFilesKeepTheirRangeThroughQovtoolConvert) {
    const std::string tool = std::string(QOV_PROGRAMS_DIR) + "/../qovtool";
    ASSERT_EQ(access(tool.c_str(), X_OK), 0) << "qovtool not built: " << tool;
    auto convert = ConvertWithQovtool3ds;
    for (const std::string& path : TestFiles3ds()) {
        SCOPED_TRACE(path);
        TempPath3ds out("converted.3ds");
        const std::string qov = out.folder + "/converted.qov";
        const std::string back = out.folder + "/back.3ds";
        ASSERT_EQ(convert(path, out.path), "");
        ASSERT_EQ(convert(path, qov), "");
        ASSERT_EQ(convert(qov, back), "");
        const std::string expected =
            path.find("fels") == std::string::npos ? Lib3dsRange(path) : "keyframes 150 0 150";
        EXPECT_EQ(Lib3dsRange(out.path), expected);
        EXPECT_EQ(Lib3dsRange(back), expected);
    }
}

// A file of animated dummies alone holds something to convert: their motion.
TEST(Range3ds, AFileOfAnimatedDummiesAloneConverts) {
    auto dummy = [](uint16_t id, uint16_t parent, const char* instance) {
        const Bytes3ds track =
            Chunk(0xB020, U16(0) + U32(0) + U32(0) + U32(2) + U32(0) + U16(0) + F32(0) + F32(0) +
                              F32(0) + U32(20) + U16(0) + F32(10) + F32(0) + F32(0));
        return Chunk(0xB002, Chunk(0xB030, U16(id)) +
                                 Chunk(0xB010, Str("$$$DUMMY") + U16(0) + U16(0) + U16(parent)) +
                                 Chunk(0xB011, Str(instance)) + track);
    };
    TempPath3ds in("dummies.3ds");
    WriteBytes3ds(in.path,
                  Chunk(0x4D4D, Chunk(0x0002, U32(3)) + Chunk(0x3D3D, Chunk(0x3D3E, U32(3))) +
                                    Chunk(0xB000, Chunk(0xB00A, U16(5) + Str("") + U32(20)) +
                                                      dummy(0, 0xFFFF, "a") + dummy(1, 0, "b"))));
    for (const char* to : {"/dummies.qov", "/dummies.bvh"})
        EXPECT_EQ(ConvertWithQovtool3ds(in.path, in.folder + to), "") << to;
}

}  // namespace
