#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "fieldfile/FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovStream.h"

namespace {

using qovtest::ReadAll;
using qovtest::TempFolder;

const std::string kTexts[] = {"",
                              "plain",
                              "a,b",
                              "say \"hi\"",
                              "line\nbreak\r\nend",
                              "Model::Cube",
                              "a::b::c",
                              "C:\\temp\\new\\",
                              "back\\\\slash\\\""};

// Writes one field of every type, three "Take" fields and a nested block.
void WriteSample(KQovFieldFile& f) {
    f.FieldWriteBegin("Values");
    f.FieldWriteCh('Y');
    f.FieldWriteI(-7);
    f.FieldWriteI(std::numeric_limits<int32_t>::min());
    f.FieldWriteLL(std::numeric_limits<int64_t>::max());
    f.FieldWriteLL(std::numeric_limits<int64_t>::min());
    f.FieldWriteD(0.1);
    f.FieldWriteD(-1e-300);
    f.FieldWriteD(HUGE_VAL);
    f.FieldWriteD(-HUGE_VAL);
    f.FieldWriteD(std::nan(""));
    f.FieldWriteEnd();
    f.FieldWriteBegin("Texts");
    for (const std::string& t : kTexts) f.FieldWriteC(t.c_str());
    f.FieldWriteEnd();
    for (int i = 0; i < 3; ++i) {
        f.FieldWriteBegin("Take");
        f.FieldWriteI(i);
        f.FieldWriteBlockBegin();
        f.FieldWriteC("Name", ("Take 00" + std::to_string(i + 1)).c_str());
        f.FieldWriteBegin("Inner");
        f.FieldWriteBlockBegin();
        f.FieldWriteBegin("Deep");
        f.FieldWriteD(i * 1.5);
        f.FieldWriteEnd();
        f.FieldWriteBlockEnd();
        f.FieldWriteEnd();
        f.FieldWriteBlockEnd();
        f.FieldWriteEnd();
    }
    f.FieldWriteBegin("Many");
    for (int i = 0; i < 500; ++i) f.FieldWriteD(i + 0.25);
    f.FieldWriteEnd();
    f.FieldWriteBegin("Time");
    f.FieldWriteT(KTime(123456789012345ll));
    f.FieldWriteEnd();
}

void CheckSample(KQovFieldFile& f) {
    ASSERT_TRUE(f.FieldReadBegin("Values"));
    EXPECT_EQ(f.FieldReadGetCount(), 10);
    EXPECT_EQ(f.FieldReadCh(), 'Y');
    EXPECT_EQ(f.FieldReadI(), -7);
    EXPECT_EQ(f.FieldReadI(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(f.FieldReadLL(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(f.FieldReadLL(), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(f.FieldReadD(), 0.1);
    EXPECT_EQ(f.FieldReadD(), -1e-300);
    EXPECT_EQ(f.FieldReadD(), HUGE_VAL);
    EXPECT_EQ(f.FieldReadD(), -HUGE_VAL);
    EXPECT_EQ(f.FieldReadGetRemain(), 1);
    EXPECT_TRUE(std::isnan(f.FieldReadD()));
    EXPECT_EQ(f.FieldReadGetRemain(), 0);
    EXPECT_EQ(f.FieldReadD(), 0.0);  // past the end: the neutral value
    f.FieldReadEnd();

    ASSERT_TRUE(f.FieldReadBegin("Texts"));
    for (const std::string& t : kTexts) EXPECT_EQ(std::string(f.FieldReadC()), t);
    f.FieldReadEnd();

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(f.FieldReadBegin("Take")) << i;
        EXPECT_EQ(f.FieldReadI(), i);
        ASSERT_TRUE(f.FieldReadBlockBegin());
        EXPECT_EQ(std::string(f.FieldReadC("Name", "")), "Take 00" + std::to_string(i + 1));
        ASSERT_TRUE(f.FieldReadBegin("Inner"));
        ASSERT_TRUE(f.FieldReadBlockBegin());
        EXPECT_EQ(f.FieldReadD("Deep", -1), i * 1.5);
        EXPECT_EQ(f.GetBlockVersion(2), f.GetPartVersion(0));
        EXPECT_EQ(f.GetBlockVersion(3), 0);
        f.FieldReadBlockEnd();
        f.FieldReadEnd();
        f.FieldReadBlockEnd();
        f.FieldReadEnd();
    }
    EXPECT_FALSE(f.FieldReadBegin("Take"));
    EXPECT_EQ(f.FieldReadGetOccurrenceCount("Take"), 3);
    ASSERT_TRUE(f.FieldReadBegin("Take", 1));
    EXPECT_EQ(f.FieldReadI(), 1);
    f.FieldReadEnd();

    double many[502];
    ASSERT_TRUE(f.FieldReadBegin("Many"));
    f.FieldReadDn(many, 502);
    f.FieldReadEnd();
    for (int i = 0; i < 500; ++i) ASSERT_EQ(many[i], i + 0.25);
    EXPECT_EQ(many[500], 0.0);
    EXPECT_EQ(f.FieldReadT("Time").Get(), 123456789012345ll);
    EXPECT_EQ(f.FieldReadI("Missing", 7), 7);
    EXPECT_EQ(f.FieldReadGetType(), 'S');
    EXPECT_EQ(f.GetLastErrorID(), -1);
}

class RoundTrip : public ::testing::TestWithParam<int> {};  // 0 ASCII, 1 binary, 2 encrypted

TEST_P(RoundTrip, EveryValueType) {
    TempFolder tmp;
    std::string name = tmp / "sample.qov";
    KQovFieldFile out;
    ASSERT_TRUE(out.Create(name.c_str(), GetParam() > 0, GetParam() == 2, nullptr));
    WriteSample(out);
    EXPECT_TRUE(out.FieldFileClose());
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr)) << in.GetLastErrorString();
    EXPECT_EQ(in.IsBinary(), GetParam() > 0);
    EXPECT_EQ(in.IsEncrypted(), GetParam() == 2);
    EXPECT_EQ(in.HasTypedValues(), GetParam() > 0);
    EXPECT_EQ(in.GetFileVersion(), 6000);
    CheckSample(in);
    if (GetParam() == 2) {
        std::string raw = ReadAll(name);
        EXPECT_EQ(raw.find("Take 001"), std::string::npos);
        EXPECT_EQ(raw.size() % 16, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, RoundTrip, ::testing::Values(0, 1, 2));

TEST(KQovFieldFileAscii, LayoutWrapAndEscapes) {
    TempFolder tmp;
    std::string name = tmp / "a.qov";
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), false, false, nullptr));
    f.FieldWriteComment("take note\nsecond line");
    f.FieldWriteBegin("A");
    f.FieldWriteI(1);
    f.FieldWriteI(2);
    f.FieldWriteI(3);
    f.FieldWriteEnd();
    f.FieldWriteBegin("Model::X");
    f.FieldWriteC("p\"q");
    f.FieldWriteC("C:\\new");
    f.FieldWriteBlockBegin();
    f.FieldWriteBegin("W");
    for (int i = 0; i < 40; ++i) f.FieldWriteI(1000 + i);
    f.FieldWriteEnd();
    f.FieldWriteBlockEnd();
    f.FieldWriteEnd();
    f.FieldFileClose();
    std::string text = ReadAll(name);
    EXPECT_EQ(text.rfind("; QOV 6.0.0 project file\n", 0), 0u);
    EXPECT_NE(text.find("\nA: 1,2,3\n"), std::string::npos);
    EXPECT_NE(text.find(";take note\\nsecond line\n"), std::string::npos);
    EXPECT_NE(text.find("\"Model::X\": \"p\\\"q\", \"C:\\\\new\" {\n"), std::string::npos);
    // The line length starts at 1*1+4 = 5: 5 + 4 + 23 * 5 = 124 > 120 after the 24th value;
    // depth 1 continues with 1*1+4 blanks.
    std::string first = "    W: 1000";
    for (int i = 1; i < 24; ++i) first += "," + std::to_string(1000 + i);
    EXPECT_NE(text.find(first + "\n     ,1024,"), std::string::npos) << text;
    EXPECT_NE(text.find("1039\n}\n"), std::string::npos);

    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    ASSERT_TRUE(in.FieldReadBegin("Model::X"));
    EXPECT_STREQ(in.FieldReadC(), "p\"q");
    EXPECT_STREQ(in.FieldReadC(), "C:\\new");
    ASSERT_TRUE(in.FieldReadBlockBegin());
    ASSERT_TRUE(in.FieldReadBegin("W"));
    EXPECT_EQ(in.FieldReadGetCount(), 40);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(in.FieldReadI(), 1000 + i);
}

TEST(KQovFieldFileAscii, ReadsCrlfOldNumberFormsAndOldTimes) {
    TempFolder tmp;
    std::string name = tmp / "old.qov";
    qovtest::WriteAll(name,
                      "; Tessrun 1.5 project file\r\n"
                      "N: 1.#INF,-1.#INF,1.#QNAN,inf,-nan,2.5e3\r\n"
                      "T: 1.5\r\n"
                      "Q: \"x\"  ,  y , 7\r\n"
                      "; comment\r\n"
                      "B: {\r\n  C: 1\r\n}\r\n");
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    EXPECT_EQ(in.GetFileVersion(), 1000);
    ASSERT_TRUE(in.FieldReadBegin("N"));
    EXPECT_EQ(in.FieldReadD(), HUGE_VAL);
    EXPECT_EQ(in.FieldReadD(), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(in.FieldReadD()));
    EXPECT_EQ(in.FieldReadD(), HUGE_VAL);
    EXPECT_TRUE(std::isnan(in.FieldReadD()));
    EXPECT_EQ(in.FieldReadGetType(), 'D');
    EXPECT_EQ(in.FieldReadI(), 2500);
    in.FieldReadEnd();
    EXPECT_EQ(in.FieldReadT("T").Get(), 46186158000ll * 3 / 2);  // seconds below 2001
    ASSERT_TRUE(in.FieldReadBegin("Q"));
    EXPECT_EQ(in.FieldReadGetType(), 'S');
    EXPECT_STREQ(in.FieldReadC(), "x");
    EXPECT_EQ(in.FieldReadGetType(), 'C');
    EXPECT_EQ(in.FieldReadCh(), 'y');
    EXPECT_EQ(in.FieldReadGetType(), 'I');
    EXPECT_EQ(in.FieldReadI(), 7);
    in.FieldReadEnd();
    ASSERT_TRUE(in.FieldReadBegin("B"));
    ASSERT_TRUE(in.FieldReadBlockBegin());
    EXPECT_EQ(in.FieldReadI("C", 0), 1);

    qovtest::WriteAll(name, "; QOV 6.0.0 project file\nA: 1\n\nB: \"x\" y\n");
    KQovFieldFile bad;
    EXPECT_FALSE(bad.Open(name.c_str(), false, true, nullptr));
    EXPECT_STREQ(bad.GetLastErrorString(),
                 "File is corrupted: line 4: ',' expected between values");
}

TEST(KQovFieldFileBinary, SplitStringBytesAndRawLength) {
    TempFolder tmp;
    std::string name = tmp / "b.qov";
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
    f.FieldWriteBegin("M");
    f.FieldWriteC("Model::Cube");
    f.FieldWriteR(3);
    f.GetStream()->Write("xyz", 3);
    f.FieldWriteI(9);
    f.FieldWriteEnd();
    f.FieldFileClose();
    std::string raw = ReadAll(name);
    size_t at = raw.find(std::string("\x01M", 2));
    ASSERT_NE(at, std::string::npos);
    // list length: S (1 + 4 + 11) + R (1 + 4 + 3) + I (1 + 4) = 29
    uint32_t count, length;
    std::memcpy(&count, &raw[at - 8], 4);
    std::memcpy(&length, &raw[at - 4], 4);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(length, 29u);
    EXPECT_EQ(raw.substr(at + 2, 16), std::string("S\x0b\0\0\0Cube\0\x01Model", 16));
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    ASSERT_TRUE(in.FieldReadBegin("M"));
    EXPECT_EQ(in.FieldReadGetType(), 'S');
    EXPECT_STREQ(in.FieldReadC(), "Model::Cube");
    uint32_t size;
    const uint8_t* bytes = in.FieldReadR(size);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 3), "xyz");
    EXPECT_EQ(in.FieldReadI(), 9);
}

TEST(KQovFieldFileErrors, StickyErrorsAndRefusedWrites) {
    TempFolder tmp;
    KQovFieldFile f;
    ASSERT_TRUE(f.Create((tmp / "e").c_str(), true, false, nullptr));
    EXPECT_STREQ(f.GetFullName(), (tmp / "e.qov").c_str());
    EXPECT_FALSE(f.FieldWriteI(5));  // no field open: reported, still written
    EXPECT_EQ(f.GetLastErrorID(), 10);
    EXPECT_STREQ(f.GetLastErrorString(), "Write field error : Field not opened");
    EXPECT_FALSE(f.FieldWriteBegin("Later"));

    KQovFieldFile g;
    ASSERT_TRUE(g.Create((tmp / "n.qov").c_str(), true, false, nullptr));
    EXPECT_FALSE(g.FieldWriteBegin(std::string(256, 'n').c_str()));
    EXPECT_EQ(g.GetLastErrorID(), 10);

    KQovFieldFile h;
    ASSERT_TRUE(h.Create((tmp / "d.qov").c_str(), false, false, nullptr));
    bool ok = true;
    int depth = 0;
    while (ok && depth < 300) {
        ok = h.FieldWriteBegin("L") && h.FieldWriteBlockBegin();
        if (ok) ++depth;
    }
    EXPECT_EQ(depth, 199);
    EXPECT_EQ(h.GetLastErrorID(), 10);

    KQovFieldFile q;
    ASSERT_TRUE(q.Create((tmp / "q.qov").c_str(), true, false, nullptr));
    EXPECT_TRUE(q.FieldWriteBegin("\""));  // a lone quote gives the empty name
    q.FieldWriteI(1);
    q.FieldWriteEnd();
    EXPECT_FALSE(q.FieldWriteC(nullptr));
    EXPECT_STREQ(q.GetLastErrorString(), "Write field error : K_NULL value");
}

TEST(KQovFieldFileBinary, FileContentAndEmbeddedNames) {
    TempFolder tmp;
    std::string media = tmp / "tex.png";
    qovtest::WriteAll(media, std::string(700000, 'p'));
    KQovFieldFile f;
    ASSERT_TRUE(f.Create((tmp / "m.qov").c_str(), true, false, nullptr));
    f.FieldWriteBegin("Content");
    EXPECT_FALSE(f.FieldWriteFileContent((tmp / "none").c_str(), (tmp / "none2").c_str()));
    EXPECT_TRUE(f.FieldWriteFileContent((tmp / "none").c_str(), media.c_str()));
    f.FieldWriteEnd();
    f.FieldWriteBegin("Again");
    EXPECT_TRUE(f.FieldWriteFileContent((tmp / "none").c_str(), media.c_str()));
    f.FieldWriteEnd();
    f.FieldFileClose();
    KQovFieldFile in;
    ASSERT_TRUE(in.Open((tmp / "m.qov").c_str(), false, true, nullptr));
    ASSERT_TRUE(in.FieldReadBegin("Content"));
    uint32_t size;
    const uint8_t* bytes = in.FieldReadR(size);
    ASSERT_EQ(size, 700000u);
    EXPECT_EQ(bytes[699999], 'p');
    in.FieldReadEnd();
    ASSERT_TRUE(in.FieldReadBegin("Again"));
    EXPECT_EQ(in.FieldReadGetCount(), 0);  // already embedded: nothing written
}

}  // namespace

namespace {

TEST(KQovFieldFileRead, NamesInOrderOfFirstAppearanceAndRewind) {
    TempFolder tmp;
    std::string name = tmp / "names.qov";
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 20; ++i) {
            f.FieldWriteBegin(("N" + std::to_string(19 - i)).c_str());
            f.FieldWriteI(round * 100 + i);
            f.FieldWriteEnd();
        }
    f.FieldFileClose();
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr));
    // FileId, CreationTime, Creator, then N19 ... N0.
    ASSERT_EQ(in.FieldReadGetNameCount(), 23);
    EXPECT_STREQ(in.FieldReadGetName(3), "N19");
    EXPECT_STREQ(in.FieldReadGetName(22), "N0");
    EXPECT_STREQ(in.FieldReadGetName(23), "");
    EXPECT_EQ(in.FieldReadI("N0", -1), 19);
    EXPECT_EQ(in.FieldReadI("N0", -1), 119);
    EXPECT_EQ(in.FieldReadI("N0", -1), -1);
    in.FieldReadRewind();
    ASSERT_TRUE(in.FieldReadBeginByIndex(22, 1));
    EXPECT_EQ(in.FieldReadI(), 119);
    in.FieldReadEnd();
    EXPECT_EQ(in.FieldReadI("N0", -1), -1);  // the cursor moved past the second one
    EXPECT_EQ(in.FieldReadI("N7", -1), 12);
    EXPECT_FALSE(in.FieldReadBegin("n7"));  // names are exact
    EXPECT_FALSE(in.FieldReadBlockBegin());
    EXPECT_EQ(in.GetLastErrorID(), 0);
}

}  // namespace

namespace {

// The stored form of a text, worked out here: "A::B" as "B", 0x00, 0x01, "A" at the first "::".
std::string StoredText(const std::string& text) {
    const size_t split = text.find("::");
    if (split == std::string::npos) return text;
    return text.substr(split + 2) + std::string("\0\1", 2) + text.substr(0, split);
}

}  // namespace

// Texts with colons in every place, one longer than the output buffer (written straight to
// the stream) and raw bytes the caller writes itself: each stored as the rule says, and the
// records after them still end where their headers say (the reader checks every end).
TEST(KQovFieldFileBinary, TextSplitsAndRecordEndsAroundDirectWrites) {
    const std::string texts[] = {
        ":",          "::",      ":::",    "a:",
        ":b",         "a::",     "::b",    "a:b",
        "a:::b",      "A::B::C", "x:y::z", std::string(KQovFieldFile::kOutCapacity + 3, ':'),
        "Model::Cube"};
    TempFolder tmp;
    std::string name = tmp / "t.qov";
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
    for (const std::string& text : texts) {
        f.FieldWriteBegin("T");
        f.FieldWriteC(text.c_str());
        f.FieldWriteR(2);
        f.GetStream()->Write("rw", 2);
        f.FieldWriteI(int32_t(text.size()));
        f.FieldWriteEnd();
    }
    EXPECT_TRUE(f.FieldFileClose());
    const std::string raw = ReadAll(name);
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 12));
        const std::string stored = StoredText(text);
        EXPECT_NE(raw.find("S" + std::string(1, char(stored.size() & 0xFF)) +
                           std::string(1, char((stored.size() >> 8) & 0xFF)) +
                           std::string(1, char((stored.size() >> 16) & 0xFF)) +
                           std::string(1, '\0') + stored + "R"),
                  std::string::npos);
        ASSERT_TRUE(in.FieldReadBegin("T"));
        EXPECT_EQ(in.FieldReadC(), text);
        uint32_t size = 0;
        const uint8_t* bytes = in.FieldReadR(size);
        ASSERT_EQ(size, 2u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 2), "rw");
        EXPECT_EQ(in.FieldReadI(), int32_t(text.size()));
        in.FieldReadEnd();
    }
    EXPECT_EQ(in.GetLastErrorID(), -1);
}
