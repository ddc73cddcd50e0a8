// Whole records written from an image made once, and fields copied from their first writing:
// the same bytes as FieldWriteBegin, the single value calls and FieldWriteEnd, in binary and
// ASCII files, at the edges of the output buffer; the same errors, and copies refused, where
// they cannot be written.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"

using qovtest::ReadAll;
using qovtest::TempFolder;

namespace {

constexpr size_t kCapacity = KQovFieldFile::kOutCapacity;

// One leading value of a record, given both ways.
struct Value {
    char type;  // 'C' text, 'h' char, 'I', 'L', 'D'
    std::string text;
    int64_t integer = 0;
    double real = 0.0;
};

Value Text(const std::string& text) { return {'C', text}; }
Value Char(char c) { return {'h', std::string(1, c)}; }
Value Int(int32_t v) { return {'I', "", v}; }
Value Long(int64_t v) { return {'L', "", v}; }
Value Real(double v) { return {'D', "", 0, v}; }

struct Record {
    std::string name;
    std::vector<Value> head;  // in the image
    std::vector<Value> tail;  // encoded by the caller
};

// The tail as a caller encodes it: letter and payload in host order ("A::B" stored swapped).
std::vector<uint8_t> EncodeTail(const std::vector<Value>& tail) {
    std::vector<uint8_t> out;
    for (const Value& v : tail) {
        const int32_t i = int32_t(v.integer);
        const uint32_t n = uint32_t(v.text.size());
        uint8_t item[9];
        uint8_t* end = v.type == 'h'   ? KQovPutEncoded(item, 'C', v.text.data(), 1)
                       : v.type == 'I' ? KQovPutEncoded(item, 'I', &i, 4)
                       : v.type == 'L' ? KQovPutEncoded(item, 'L', &v.integer, 8)
                       : v.type == 'D' ? KQovPutEncoded(item, 'D', &v.real, 8)
                                       : KQovPutEncoded(item, 'S', &n, 4);
        out.insert(out.end(), item, end);
        if (v.type != 'C') continue;
        out.resize(out.size() + n);
        KQovEncodeText(out.data() + out.size() - n, v.text.c_str(), n);
    }
    return out;
}

void WriteSingle(KQovFieldFile& out, const Value& v) {
    if (v.type == 'C') out.FieldWriteC(v.text.c_str());
    if (v.type == 'h') out.FieldWriteCh(v.text[0]);
    if (v.type == 'I') out.FieldWriteI(int32_t(v.integer));
    if (v.type == 'L') out.FieldWriteLL(v.integer);
    if (v.type == 'D') out.FieldWriteD(v.real);
}

KQovRecordImage MakeImage(const Record& r) {
    KQovRecordImage image(r.name.c_str());
    for (const Value& v : r.head) {
        if (v.type == 'C') image.C(v.text.c_str());
        if (v.type == 'h') image.Ch(v.text[0]);
        if (v.type == 'I') image.I(int32_t(v.integer));
        if (v.type == 'L') image.LL(v.integer);
        if (v.type == 'D') image.D(v.real);
    }
    return image;
}

// Empties the output buffer, then puts a field of `bytes` bytes before what follows, so that
// the next record starts `bytes` into the buffer (binary files).
void Pad(KQovFieldFile& out, size_t bytes) {
    out.FieldWriteBegin("Flush");
    if (out.FieldWriteEncodedRoom(kCapacity)) out.FieldWriteEncodedCommit(0, 0);
    out.FieldWriteEnd();
    if (bytes < 13 + 2) return;
    // 13 header bytes, a 1- or 2-byte name, then 'C' values of two bytes each.
    const size_t name = (bytes - 13) % 2 ? 1 : 2;
    out.FieldWriteBegin(name == 1 ? "P" : "PP");
    const std::vector<uint8_t> values((bytes - 13 - name), 'C');
    if (!values.empty()) out.FieldWriteEncoded(values.data(), values.size(), values.size() / 2);
    out.FieldWriteEnd();
}

// The fields from "Begin" to "Finish" of a file written with `records` repeated `times`
// inside a block, through images (lean) or single calls; empty when the file failed.
std::string Write(const std::string& path, bool binary, bool lean, const std::vector<Record>& records,
                  int times, size_t pad) {
    KQovFieldFile out;
    EXPECT_TRUE(out.Create(path.c_str(), binary, false, nullptr));
    std::vector<KQovRecordImage> images;
    std::vector<std::vector<uint8_t>> tails;
    for (const Record& r : records) {
        images.push_back(MakeImage(r));
        tails.push_back(EncodeTail(r.tail));
    }
    out.FieldWriteBegin("Begin");
    out.FieldWriteI(1);
    out.FieldWriteBlockBegin();
    Pad(out, pad);
    for (int t = 0; t < times; ++t) {
        for (size_t i = 0; i < records.size(); ++i) {
            if (lean) {
                EXPECT_TRUE(out.FieldWriteRecord(images[i], tails[i].data(), tails[i].size(),
                                                 records[i].tail.size()));
                continue;
            }
            out.FieldWriteBegin(records[i].name.c_str());
            for (const Value& v : records[i].head) WriteSingle(out, v);
            for (const Value& v : records[i].tail) WriteSingle(out, v);
            out.FieldWriteEnd();
        }
    }
    out.FieldWriteBlockEnd();
    out.FieldWriteEnd();
    out.FieldWriteBegin("Finish");
    out.FieldWriteI(2);
    out.FieldWriteEnd();
    if (!out.FieldFileClose()) return "";
    const std::string bytes = ReadAll(path);
    const size_t back = binary ? 13 : 0;
    const size_t begin = bytes.find("Begin");
    const size_t end = bytes.find("Finish");
    if (begin == std::string::npos || end == std::string::npos || begin < back) return "";
    return bytes.substr(begin - back, end - begin);
}

const std::vector<Record>& Records() {
    static const std::vector<Record> kRecords = {
        {"Empty", {}, {}},
        {"Property",
         {Text("Lcl Translation"), Text("Lcl Translation"), Text("A"), Int(8)},
         {Real(0.0), Real(-0.0), Real(1e-300)}},
        {"Texts", {Text(""), Text("Model::Null"), Text("::"), Text("a:b::c::d"), Text(":")}, {}},
        {"Numbers",
         {Int(INT_MIN), Int(INT_MAX), Long(LLONG_MIN), Long(-1), Real(1.0 / 3.0),
          Real(std::numeric_limits<double>::denorm_min())},
         {Long(LLONG_MAX), Int(-7)}},
        {"Chars", {Char('x'), Char('"'), Char('\0'), Char('\xff')}, {Char(','), Char('\n')}},
        {"\"Quoted Name\"", {Int(3)}, {}},
        {"\"", {Text("lone quote")}, {}},
        {"", {Text("no name")}, {Int(0)}},
        {"TailTexts", {}, {Text("Scene::Model"), Text(""), Text("x::"), Real(2.5)}},
        {std::string(255, 'n'), {Int(255)}, {}},
    };
    return kRecords;
}

}  // namespace

// Every value kind, names with and without quotes, many times over so that records straddle
// the buffer's flushes: the same bytes as the single calls give.
TEST(KQovFieldFileRecordImage, SameBytesAsSingleCalls) {
    const struct {
        bool binary;
        int times;
    } kCases[] = {{true, 1}, {true, 4000}, {false, 1}, {false, 40}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.binary ? "binary x" : "ascii x") + std::to_string(c.times));
        TempFolder tmp;
        const std::string single = Write(tmp / "single.qov", c.binary, false, Records(), c.times, 0);
        const std::string lean = Write(tmp / "lean.qov", c.binary, true, Records(), c.times, 0);
        ASSERT_FALSE(single.empty());
        EXPECT_TRUE(single == lean) << single.size() << " vs " << lean.size();
    }
}

// A record that fits the buffer exactly, by one byte too many or one to spare, and one larger
// than the whole buffer.
TEST(KQovFieldFileRecordImage, BufferEdges) {
    const Record record{"Edge", {Text("Model::Edge"), Int(5)}, {Real(1.5), Real(2.5)}};
    const size_t size = MakeImage(record).GetSize() + EncodeTail(record.tail).size();
    const Record huge{"Huge", {Text(std::string(kCapacity, 'h'))}, {Int(1)}};
    const struct {
        const char* what;
        Record record;
        size_t pad;
    } kCases[] = {
        {"exact fit", record, kCapacity - size},
        {"one byte short", record, kCapacity - size + 1},
        {"one byte spare", record, kCapacity - size - 1},
        {"buffer empty", record, 0},
        {"larger than the buffer", huge, 100},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TempFolder tmp;
        const std::vector<Record> records{c.record, c.record};
        const std::string single = Write(tmp / "single.qov", true, false, records, 1, c.pad);
        const std::string lean = Write(tmp / "lean.qov", true, true, records, 1, c.pad);
        ASSERT_FALSE(single.empty());
        EXPECT_TRUE(single == lean) << single.size() << " vs " << lean.size();
    }
}

// What the single calls refuse, the record refuses with the same error, and the file is not
// put in place.
TEST(KQovFieldFileRecordImage, SameErrorsAsSingleCalls) {
    const struct {
        const char* what;
        std::function<KQovRecordImage()> image;
        bool leaveFieldOpen;
        const char* error;
    } kCases[] = {
        {"name past 255 bytes", [] { return KQovRecordImage(std::string(256, 'n').c_str()); },
         false, "Write field error : field name longer than 255 bytes"},
        {"null text", [] { return std::move(KQovRecordImage("Null").I(1).C(nullptr)); }, false,
         "Write field error : K_NULL value"},
        {"field left open", [] { return KQovRecordImage("Next"); }, true,
         "Begin Field error last field not closed"},
    };
    for (bool binary : {true, false}) {
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + c.what);
            TempFolder tmp;
            KQovFieldFile out;
            ASSERT_TRUE(out.Create((tmp / "x.qov").c_str(), binary, false, nullptr));
            if (c.leaveFieldOpen) out.FieldWriteBegin("Open");
            EXPECT_FALSE(out.FieldWriteRecord(c.image()));
            EXPECT_STREQ(out.GetLastErrorString(), c.error);
            out.FieldFileClose();
            EXPECT_TRUE(ReadAll(tmp / "x.qov").empty());  // a failed file is not put in place
        }
    }
}

namespace {

// A few fields with blocks nested three deep, as channels are written.
void WriteChannels(KQovFieldFile& out) {
    for (const char* name : {"T", "Visibility"}) {
        out.FieldWriteBegin("Channel");
        out.FieldWriteC(name);
        out.FieldWriteBlockBegin();
        out.FieldWriteBegin("Default");
        out.FieldWriteD(0.5);
        out.FieldWriteEnd();
        for (const char* axis : {"X", "Y"}) {
            out.FieldWriteBegin("Channel");
            out.FieldWriteC(axis);
            out.FieldWriteBlockBegin();
            out.FieldWriteBegin("Color");
            out.FieldWriteD(1.0);
            out.FieldWriteD(0.0);
            out.FieldWriteEnd();
            out.FieldWriteBegin("Empty");
            out.FieldWriteBlockBegin();
            out.FieldWriteBlockEnd();
            out.FieldWriteEnd();
            out.FieldWriteBlockEnd();
            out.FieldWriteEnd();
        }
        out.FieldWriteBlockEnd();
        out.FieldWriteEnd();
    }
}

// The fields from "Begin" to "Finish" of a file holding the channels `times` times, written
// each time or copied from the first writing; `copies` counts the copies taken.
std::string WriteCopies(const std::string& path, bool copy, int times, size_t pad, int& copies) {
    KQovFieldFile out;
    EXPECT_TRUE(out.Create(path.c_str(), true, false, nullptr));
    out.FieldWriteBegin("Begin");
    out.FieldWriteBlockBegin();
    Pad(out, pad);
    std::vector<uint8_t> bytes;
    int64_t origin = -1;
    copies = 0;
    for (int t = 0; t < times; ++t) {
        if (copy && origin >= 0 && out.FieldWriteRecords(bytes.data(), bytes.size(), origin)) {
            ++copies;
            continue;
        }
        const int64_t mark = copy ? out.FieldWriteMark() : -1;
        WriteChannels(out);
        size_t size = 0;
        if (const uint8_t* at = out.FieldWriteCopySince(mark, size)) {
            bytes.assign(at, at + size);
            origin = mark;
        }
    }
    out.FieldWriteBlockEnd();
    out.FieldWriteEnd();
    out.FieldWriteBegin("Finish");
    out.FieldWriteEnd();
    if (!out.FieldFileClose()) return "";
    const std::string file = ReadAll(path);
    const size_t begin = file.find("Begin"), end = file.find("Finish");
    return begin == std::string::npos || end == std::string::npos || begin < 13
               ? ""
               : file.substr(begin - 13, end - begin);
}

}  // namespace

// Fields copied from their first writing give the bytes writing them again gives, wherever they
// land: at the start of the buffer, across its flushes, exactly filling it.
TEST(KQovFieldFileRecordImage, CopiedFieldsEqualFieldsWritten) {
    size_t size = 0;
    {
        TempFolder tmp;
        KQovFieldFile out;
        ASSERT_TRUE(out.Create((tmp / "size.qov").c_str(), true, false, nullptr));
        out.FieldWriteBegin("Begin");
        out.FieldWriteEnd();
        const int64_t mark = out.FieldWriteMark();
        ASSERT_GE(mark, 0);
        WriteChannels(out);
        ASSERT_NE(out.FieldWriteCopySince(mark, size), nullptr);
    }
    const struct {
        const char* what;
        int times;
        size_t pad;
    } kCases[] = {
        {"once", 1, 0},
        {"twice", 2, 0},
        {"across flushes", 5000, 0},
        {"second fills the buffer", 2, kCapacity - 2 * size},
        {"second one byte over", 2, kCapacity - 2 * size + 1},
        {"first goes out midway", 3, kCapacity - size / 2},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TempFolder tmp;
        int copies = 0;
        const std::string written = WriteCopies(tmp / "w.qov", false, c.times, c.pad, copies);
        const std::string copied = WriteCopies(tmp / "c.qov", true, c.times, c.pad, copies);
        ASSERT_FALSE(written.empty());
        EXPECT_TRUE(written == copied) << written.size() << " vs " << copied.size();
        EXPECT_GE(copies, c.times - 2);
    }
}

// Bytes that are not whole records, and files that take no copies, are refused with nothing
// written.
TEST(KQovFieldFileRecordImage, CopiesRefused) {
    TempFolder tmp;
    std::vector<uint8_t> good;
    int64_t origin = -1;
    {
        KQovFieldFile out;
        ASSERT_TRUE(out.Create((tmp / "src.qov").c_str(), true, false, nullptr));
        origin = out.FieldWriteMark();
        WriteChannels(out);
        size_t size = 0;
        const uint8_t* at = out.FieldWriteCopySince(origin, size);
        ASSERT_NE(at, nullptr);
        good.assign(at, at + size);
        EXPECT_EQ(out.FieldWriteCopySince(origin + 1, size), nullptr);  // not where a field starts
        out.FieldWriteBegin("Open");
        EXPECT_EQ(out.FieldWriteMark(), -1);  // a field open
        EXPECT_FALSE(out.FieldWriteRecords(good.data(), good.size(), origin));
        out.FieldWriteBlockBegin();
        EXPECT_EQ(out.FieldWriteCopySince(origin, size), nullptr);  // another level
        out.FieldWriteBlockEnd();
        out.FieldWriteEnd();
    }
    auto with = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(bytes.data() + at, &value, 4);
        return bytes;
    };
    const uint32_t firstEnd = [&] {
        uint32_t v;
        std::memcpy(&v, good.data(), 4);
        return v;
    }();
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        int64_t origin;
    } kCases[] = {
        {"cut short", std::vector<uint8_t>(good.begin(), good.end() - 1), origin},
        {"end before the start", with(0, uint32_t(origin)), origin},
        {"end past the bytes", with(0, uint32_t(origin + good.size() + 1)), origin},
        {"values past the end", with(8, firstEnd), origin},
        {"a null record first", std::vector<uint8_t>(13, 0), origin},
        {"another origin", good, origin + 1},
        {"half a header", std::vector<uint8_t>(good.begin(), good.begin() + 12), origin},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        KQovFieldFile out;
        const std::string name = tmp / "bad.qov";
        ASSERT_TRUE(out.Create(name.c_str(), true, false, nullptr));
        EXPECT_FALSE(out.FieldWriteRecords(c.bytes.data(), c.bytes.size(), c.origin));
        EXPECT_TRUE(out.FieldWriteRecords(good.data(), good.size(), origin));
        out.FieldFileClose();
        KQovFieldFile in;
        ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr)) << in.GetLastErrorString();
        EXPECT_EQ(in.FieldReadGetOccurrenceCount("Channel"), 2);
    }
    KQovFieldFile ascii;
    ASSERT_TRUE(ascii.Create((tmp / "a.qov").c_str(), false, false, nullptr));
    EXPECT_EQ(ascii.FieldWriteMark(), -1);
    EXPECT_FALSE(ascii.FieldWriteRecords(good.data(), good.size(), origin));
}
