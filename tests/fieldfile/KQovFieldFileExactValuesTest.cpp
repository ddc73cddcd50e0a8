// Values that must survive every encoding unchanged (doubles to the bit, every character
// byte), files that are empty, and binary records whose value-list length lies.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "fieldfile/FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"

using qovtest::Encode;
using qovtest::NullRecord;
using qovtest::ReadAll;
using qovtest::Rec;
using qovtest::TempFolder;
using qovtest::WriteAll;

namespace {

const double kDoubles[] = {
    2.2250738585072014e-308,  // smallest normal
    0.30000000000000004,
    123456789012345680.0,
    DBL_MAX,
    -DBL_MAX,
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    2.2250738585072009e-308,  // largest denormal
    0.1,
    -0.0,
    1.0 / 3.0,
    9007199254740993.0,  // 2^53 + 1 rounds to 2^53: must stay 2^53
    1e23,
};

uint64_t Bits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}

// Writes one field "V" with the doubles and one field "C" with every byte 0-255.
void WriteValues(const std::string& name, bool binary, const double* doubles, size_t count,
                 const char* chars, size_t charCount) {
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), binary, false, nullptr));
    f.FieldWriteBegin("V");
    for (size_t i = 0; i < count; ++i) f.FieldWriteD(doubles[i]);
    f.FieldWriteEnd();
    f.FieldWriteBegin("C");
    for (size_t i = 0; i < charCount; ++i) f.FieldWriteCh(chars[i]);
    f.FieldWriteEnd();
    EXPECT_EQ(f.GetLastErrorID(), -1);
    f.FieldFileClose();
}

void ReadValues(const std::string& name, std::vector<double>& doubles, std::string& chars) {
    KQovFieldFile f;
    ASSERT_TRUE(f.Open(name.c_str(), false, true, nullptr)) << f.GetLastErrorString();
    ASSERT_TRUE(f.FieldReadBegin("V"));
    doubles.clear();
    for (int n = f.FieldReadGetCount(); n > 0; --n) doubles.push_back(f.FieldReadD());
    f.FieldReadEnd();
    ASSERT_TRUE(f.FieldReadBegin("C"));
    chars.clear();
    for (int n = f.FieldReadGetCount(); n > 0; --n) chars += f.FieldReadCh();
}

std::string EveryByte() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

}  // namespace

TEST(KQovFieldFileExactValues, BinaryToAsciiToBinaryChangesNoValue) {
    TempFolder tmp;
    const size_t kCount = sizeof kDoubles / sizeof kDoubles[0];
    const std::string bytes = EveryByte();
    std::vector<double> doubles;
    std::string chars;
    WriteValues(tmp / "a.qov", true, kDoubles, kCount, bytes.data(), bytes.size());
    // binary -> ASCII -> binary, each step writing what the step before read.
    const char* steps[] = {"a.qov", "b.qov", "c.qov"};
    for (int step = 0; step < 3; ++step) {
        SCOPED_TRACE(steps[step]);
        ReadValues(tmp / steps[step], doubles, chars);
        ASSERT_EQ(doubles.size(), kCount);
        for (size_t i = 0; i < kCount; ++i)
            EXPECT_EQ(Bits(doubles[i]), Bits(kDoubles[i])) << "value " << i << " " << doubles[i];
        EXPECT_EQ(chars, bytes);
        if (step < 2)
            WriteValues(tmp / steps[step + 1], step == 1, doubles.data(), doubles.size(),
                        chars.data(), chars.size());
    }
    // The ASCII file stays text, and its largest double is no infinity.
    std::string text = ReadAll(tmp / "b.qov");
    for (char c : text) {
        uint8_t u = static_cast<uint8_t>(c);
        ASSERT_TRUE((u >= 0x20 && u < 0x7F) || c == '\n' || c == '\t') << int(u);
    }
    EXPECT_NE(text.find(",1.7976931348623157e+308,-1.7976931348623157e+308,"), std::string::npos);
    EXPECT_NE(text.find("C: \\x00,\\x01,"), std::string::npos) << text;
    EXPECT_NE(text.find(",\\x7F,\\x80,"), std::string::npos);
    EXPECT_NE(text.find(",\\xFF\n"), std::string::npos);
}

TEST(KQovFieldFileExactValues, ValueTextsAreTheShortestThatReadBack) {
    // A float and a double read as text, and texts a reader of old files still gets as written.
    float tenth = 0.1f;
    std::string values = "F";
    values.append(reinterpret_cast<const char*>(&tenth), 4);
    Rec record("T");
    record.Raw(values).D(0.1).D(DBL_MAX).S("\\x41").count += 1;
    std::string bytes = qovtest::BinaryStart(6000);
    Encode(bytes, record);
    bytes += NullRecord();
    TempFolder tmp;
    WriteAll(tmp / "t.qov", bytes);
    KQovFieldFile f;
    ASSERT_TRUE(f.Open((tmp / "t.qov").c_str(), false, true, nullptr)) << f.GetLastErrorString();
    ASSERT_TRUE(f.FieldReadBegin("T"));
    const char* expected[] = {"0.1", "0.1", "1.7976931348623157e+308", "\\x41"};
    for (const char* text : expected) EXPECT_STREQ(f.FieldReadC(), text);

    // In ASCII a bare \xHH is one byte; quoted, or any other bare token, stays as it stood.
    std::string ascii = "; QOV 6.0.0 project file\nA: \\x41,\"\\x41\",\\x4,\\xZZ,\\\n";
    WriteAll(tmp / "a.qov", ascii);
    KQovFieldFile g;
    ASSERT_TRUE(g.Open((tmp / "a.qov").c_str(), false, true, nullptr)) << g.GetLastErrorString();
    ASSERT_TRUE(g.FieldReadBegin("A"));
    EXPECT_EQ(g.FieldReadGetType(), 'C');
    EXPECT_EQ(g.FieldReadCh(), 'A');
    const char* asWritten[] = {"\\x41", "\\x4", "\\xZZ", "\\"};
    for (const char* text : asWritten) EXPECT_STREQ(g.FieldReadC(), text);
}

TEST(KQovFieldFileExactValues, EmptyFileIsRefused) {
    TempFolder tmp;
    std::string name = tmp / "empty.qov";
    WriteAll(name, "");
    for (bool strict : {true, false}) {
        KQovFieldFile f;
        bool opened = strict ? f.Open(name.c_str(), false, true, nullptr)
                             : f.FieldFileOpenFile(name.c_str(), false, false, nullptr);
        EXPECT_FALSE(opened);
        EXPECT_EQ(f.GetLastErrorID(), KQovFieldFile::eFileCorrupted);
        EXPECT_EQ(std::string(f.GetLastErrorString()), "File is corrupted: " + name);
    }
    EXPECT_EQ(ReadAll(name), "");
}

TEST(KQovFieldFileExactValues, ValueListLengthMustMatchItsValues) {
    // Record "R": values I 7 and S "ab" (5 + 7 = 12 bytes), then a block with one field.
    struct Case {
        const char* what;
        int64_t lengthDelta;  // added to the true length
        bool block;
        bool reads;
    } cases[] = {
        {"true length", 0, false, true},
        {"true length, with a block", 0, true, true},
        {"one byte short", -1, false, false},
        {"zero", -12, false, false},
        {"one byte long, inside the block", 1, true, false},
        {"past the record's end", 1, false, false},
        {"far past the end", 0x7FFFFFF0, false, false},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rec record("R");
        record.I(7).S("ab");
        if (c.block) record.Child(Rec("In").I(1));
        std::string bytes = qovtest::BinaryStart(6000);
        size_t header = bytes.size();
        Encode(bytes, record);
        bytes += NullRecord();
        uint32_t length = static_cast<uint32_t>(12 + c.lengthDelta);
        std::memcpy(&bytes[header + 8], &length, 4);
        WriteAll(tmp / "r.qov", bytes);
        KQovFieldFile f;
        bool opened = f.Open((tmp / "r.qov").c_str(), false, true, nullptr);
        EXPECT_EQ(opened, c.reads) << f.GetLastErrorString();
        if (c.reads) {
            EXPECT_EQ(f.FieldReadI("R", 0), 7);
        } else {
            EXPECT_EQ(f.GetLastErrorID(), KQovFieldFile::eFileCorrupted);
            EXPECT_EQ(std::string(f.GetLastErrorString()).rfind("File is corrupted", 0), 0u);
        }
    }
}

TEST(KQovFieldFileExactValues, DumpPrintsEveryValueAndRefusesAnEmptyFile) {
    std::string tool = std::string(QOV_PROGRAMS_DIR) + "/../qovtool";
    if (FILE* probe = std::fopen(tool.c_str(), "rb"))
        std::fclose(probe);
    else
        GTEST_SKIP() << "qovtool not built";
    TempFolder tmp;
    const char chars[] = {0, 'a', '\x80'};
    const double doubles[] = {0.30000000000000004};
    WriteValues(tmp / "d.qov", true, doubles, 1, chars, 3);
    WriteAll(tmp / "empty.qov", "");
    struct Run {
        std::string file;
        int status;
        std::string output;
    } runs[] = {{tmp / "d.qov", 0, ""}, {tmp / "empty.qov", 1, ""}};
    for (Run& run : runs) {
        FILE* pipe = popen((tool + " dump '" + run.file + "' 2>/dev/null").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            run.output.append(buffer, got);
        int status = pclose(pipe);
        EXPECT_EQ(WEXITSTATUS(status), run.status) << run.file;
    }
    EXPECT_NE(runs[0].output.find("\nV: 0.30000000000000004\n"), std::string::npos)
        << runs[0].output;
    EXPECT_NE(runs[0].output.find("\nC: \\x00,a,\\x80\n"), std::string::npos) << runs[0].output;
    EXPECT_EQ(runs[1].output, "");
}
