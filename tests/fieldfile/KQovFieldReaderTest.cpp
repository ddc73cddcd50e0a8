#include "fieldfile/KQovFieldReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "fieldfile/FieldFileTestUtil.h"
#include "foundation/KLocale.h"
#include "fieldfile/KQovStream.h"

namespace {

using qovtest::Encode;
using qovtest::NullRecord;
using qovtest::Put32;
using qovtest::Rec;
using qovtest::Repeat;

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

bool ParseBinary(const std::string& bytes, std::string* error = nullptr) {
    KQovFieldReader reader(nullptr, 0, true, false);
    bool ok = reader.ParseBytes(Bytes(bytes));
    if (error) *error = reader.GetErrorText();
    return ok;
}

bool ParseAscii(const std::string& text, std::string* error = nullptr) {
    KQovFieldReader reader(nullptr, 0, false, false);
    bool ok = reader.ParseBytes(Bytes(text));
    if (error) *error = reader.GetErrorText();
    return ok;
}

std::string Valid() {
    std::string out;
    Encode(out, Rec("A").I(1).S("xy").Child(Rec("B").D(2.0)));
    out += NullRecord();
    return out;
}

TEST(KQovFieldReader, ParsesAHandBuiltTree) {
    KQovFieldReader reader(nullptr, 0, true, false);
    ASSERT_TRUE(reader.ParseBytes(Bytes(Valid()))) << reader.GetErrorText();
    int32_t a = reader.FindName(0, "A");
    ASSERT_EQ(a, 0);
    KQovFieldReader::Record rec = reader.GetRecord(reader.GetOccurrence(0, 0, 0));
    EXPECT_EQ(rec.valueCount, 2u);
    ASSERT_GE(rec.child, 0);
    EXPECT_EQ(reader.GetBlock(rec.child).parent, 0);
    EXPECT_EQ(reader.FindName(rec.child, "B"), 0);
    EXPECT_EQ(reader.FindName(0, "B"), -1);
    EXPECT_EQ(reader.GetEndPosition(), static_cast<int64_t>(Valid().size()));
}

TEST(KQovFieldReader, EveryTruncationFailsCleanly) {
    std::string valid = Valid();
    for (size_t n = 0; n < valid.size(); ++n) {
        std::string error;
        EXPECT_FALSE(ParseBinary(valid.substr(0, n), &error)) << n;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(ParseBinary(valid));
}

TEST(KQovFieldReader, BadOffsetsCountsAndLetters) {
    std::string valid = Valid();
    std::string beyond = valid;
    uint32_t big = 0x7fffffff;
    std::memcpy(&beyond[0], &big, 4);
    EXPECT_FALSE(ParseBinary(beyond));
    std::string backwards = valid;
    uint32_t small = 5;
    std::memcpy(&backwards[0], &small, 4);
    EXPECT_FALSE(ParseBinary(backwards));
    std::string count = valid;
    uint32_t huge = 0xffffffff;
    std::memcpy(&count[4], &huge, 4);
    std::string error;
    EXPECT_FALSE(ParseBinary(count, &error));
    EXPECT_NE(error.find("counts"), std::string::npos);
    // A string whose length runs past its record.
    std::string out;
    Encode(out, Rec("S").Raw(std::string("S\xff\xff\xff\x7f", 5)));
    out += NullRecord();
    EXPECT_FALSE(ParseBinary(out));
    // An unknown type letter.
    out.clear();
    Rec unknown("U");
    unknown.Raw("Q1234");
    unknown.count = 1;
    Encode(out, unknown);
    out += NullRecord();
    EXPECT_FALSE(ParseBinary(out, &error));
    // 'N' marks bare ASCII tokens inside the parser; in a binary file it is unknown.
    out.clear();
    Rec bare("N");
    bare.Raw(
        std::string("N\x01\0\0\0"
                    "7",
                    6));
    bare.count = 1;
    Encode(out, bare);
    out += NullRecord();
    EXPECT_FALSE(ParseBinary(out));
    // A child block that ends beyond its parent.
    std::string nested = valid;
    size_t child = nested.find(std::string("\x01"
                                           "B",
                                           2)) -
                   12;
    uint32_t past = static_cast<uint32_t>(nested.size());
    std::memcpy(&nested[child], &past, 4);
    EXPECT_FALSE(ParseBinary(nested));
}

TEST(KQovFieldReader, NestingIsBounded) {
    auto deep = [](int levels) {
        Rec leaf("L");
        leaf.I(0);
        for (int i = 0; i < levels; ++i) {
            Rec parent("P");
            parent.Child(leaf);
            leaf = parent;
        }
        std::string out;
        Encode(out, leaf);
        out += NullRecord();
        return out;
    };
    EXPECT_TRUE(ParseBinary(deep(199)));
    std::string error;
    EXPECT_FALSE(ParseBinary(deep(200), &error));
    EXPECT_NE(error.find("deeper"), std::string::npos);
    EXPECT_FALSE(ParseBinary(deep(400)));

    std::string ascii;
    for (int i = 0; i < 300; ++i) ascii += "P: {\n";
    EXPECT_FALSE(ParseAscii(ascii, &error));
    EXPECT_NE(error.find("deeply"), std::string::npos);
}

TEST(KQovFieldReader, AsciiMalformed) {
    std::string error;
    EXPECT_FALSE(ParseAscii("A: \"open\n", &error));
    EXPECT_EQ(error, "line 1: line break inside a quoted text");
    EXPECT_FALSE(ParseAscii("A: 1\n}\n", &error));
    EXPECT_EQ(error, "line 2: '}' without a block");
    EXPECT_FALSE(ParseAscii("A: {\n B: 1\n", &error));
    EXPECT_FALSE(ParseAscii("no colon here\n", &error));
    EXPECT_EQ(error, "not a QOV file: line 1: field without ':'");
    EXPECT_FALSE(ParseAscii("; comment\n\nA: 1\nno colon here\n", &error));
    EXPECT_EQ(error, "line 4: field without ':'");
    // A QOV file broken in its first field is still told as one.
    EXPECT_FALSE(ParseAscii("; QOV 6.0.0 project file\n\nQOVHeaderExtension; {\n", &error));
    EXPECT_EQ(error, "line 3: field without ':'");
    EXPECT_FALSE(ParseAscii("A: \"x\" y\n", &error));
    EXPECT_TRUE(ParseAscii(""));
    EXPECT_TRUE(ParseAscii("; only a comment"));
    EXPECT_TRUE(ParseAscii("A:\nB: ,\n"));
}

TEST(KQovFieldReader, NumberTexts) {
    double d = 0;
    EXPECT_TRUE(KQovFieldReader::ParseNumberText("-1.#IND", 7, d));
    EXPECT_TRUE(d != d);
    EXPECT_TRUE(KQovFieldReader::ParseNumberText(" 1.#INF00 ", 10, d));
    EXPECT_EQ(d, HUGE_VAL);
    EXPECT_FALSE(KQovFieldReader::ParseNumberText("1.#XYZ", 6, d));
    EXPECT_FALSE(KQovFieldReader::ParseNumberText("abc", 3, d));
}

// Claims 2^50 bytes (as a seek to the end may) but holds 16.
class OverstatedStream : public KQovStream {
public:
    int Seek(int origin, int64_t offset) override {
        mPos = origin == 2 ? (int64_t(1) << 50) + offset : origin == 1 ? mPos + offset : offset;
        return 0;
    }
    int64_t Tell() override { return mPos; }
    uint32_t Read(void* buffer, uint32_t count) override {
        if (mPos < 0 || mPos >= 16) return 0;
        uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, 16 - mPos));
        std::memset(buffer, 'A', n);
        mPos += n;
        return n;
    }
    bool IsOpen() override { return true; }

private:
    int64_t mPos = 0;
};

TEST(KQovFieldReader, OverstatedSizeIsCheckedBeforeAllocating) {
    OverstatedStream stream;
    for (bool binary : {true, false}) {
        KQovFieldReader reader(&stream, 0, binary, false);
        EXPECT_FALSE(reader.Parse());
        EXPECT_NE(reader.GetErrorText().find("Read error"), std::string::npos);
    }
}

// A name of 1 to 3 letters per index, shortest first.
std::string ShortName(uint32_t index) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    size_t length = 1;
    for (uint32_t span = 62; index >= span; span *= 62, ++length) index -= span;
    std::string name;
    for (; length > 0; --length, index /= 62) name += kLetters[index % 62];
    return name;
}

// Files made of the smallest records cost the tree a small multiple of the file, not a
// heap object per record.
TEST(KQovFieldReader, TinyRecordsCostAFewTimesTheFile) {
    const size_t kSize = 1 << 20;
    std::string ascii;
    while (ascii.size() + 4 <= kSize) ascii += "a:1\n";
    KQovFieldReader text(nullptr, 0, false, false);
    ASSERT_TRUE(text.ParseBytes(Bytes(ascii))) << text.GetErrorText();
    ASSERT_EQ(text.GetBlock(0).names.size(), 1u);
    EXPECT_EQ(text.GetBlock(0).names[0].count, ascii.size() / 4);
    EXPECT_LE(text.GetMemoryUse(), 4 * ascii.size());

    std::string binary;
    uint32_t records = 0;
    while (binary.size() + 16 + 13 <= kSize) {
        std::string name = ShortName(records++);
        uint32_t end = static_cast<uint32_t>(binary.size() + 13 + name.size());
        Put32(binary, end);
        Put32(binary, 0);
        Put32(binary, 0);
        binary += static_cast<char>(name.size());
        binary += name;
    }
    binary += NullRecord();
    KQovFieldReader reader(nullptr, 0, true, false);
    ASSERT_TRUE(reader.ParseBytes(Bytes(binary))) << reader.GetErrorText();
    ASSERT_EQ(reader.GetBlock(0).names.size(), records);
    for (uint32_t i = 0; i < records; i += 997)
        EXPECT_EQ(reader.FindName(0, ShortName(i).c_str()), static_cast<int32_t>(i));
    EXPECT_LE(reader.GetMemoryUse(), 4 * binary.size());
}

// Occurrences of interleaved names asked for in any order, and the file order of a block
// whose records have blocks of their own.
TEST(KQovFieldReader, OccurrencesAndFileOrder) {
    std::string text;
    const int kNames = 20, kRounds = 7;
    for (int round = 0; round < kRounds; ++round)
        for (int n = 0; n < kNames; ++n) {
            text += KFormatC("N%d: %d", n, round * 100 + n);
            text += n % 3 == 0 ? " {\n  In: 1\n  Deep: 2 {\n  }\n}\n" : "\n";
        }
    KQovFieldReader reader(nullptr, 0, false, false);
    ASSERT_TRUE(reader.ParseBytes(Bytes(text))) << reader.GetErrorText();
    KQovFieldReader::Value value;
    for (int n = kNames - 1; n >= 0; --n) {
        int32_t name = reader.FindName(0, KFormatC("N%d", n).c_str());
        ASSERT_GE(name, 0);
        EXPECT_STREQ(reader.GetNameText(0, name), KFormatC("N%d", n).c_str());
        for (int round : {6, 2, 3, 0, 5, 5, 1, 4}) {
            KQovFieldReader::Record record =
                reader.GetRecord(reader.GetOccurrence(0, name, static_cast<uint32_t>(round)));
            ASSERT_TRUE(reader.NextValue(record, value));
            EXPECT_EQ(reader.ToInt64(value), round * 100 + n);
            EXPECT_EQ(record.child >= 0, n % 3 == 0);
        }
        EXPECT_EQ(reader.GetOccurrence(0, name, kRounds), KQovFieldReader::kNoRecord);
    }
    int seen = 0;
    const KQovFieldReader::Block& root = reader.GetBlock(0);
    for (uint32_t i = root.firstRecord; i < root.endRecord; i = reader.NextSibling(i), ++seen) {
        KQovFieldReader::Record record = reader.GetRecord(i);
        ASSERT_TRUE(reader.NextValue(record, value));
        EXPECT_EQ(reader.ToInt64(value), seen / kNames * 100 + seen % kNames);
        if (record.child < 0) continue;
        const KQovFieldReader::Block& inner = reader.GetBlock(record.child);
        EXPECT_EQ(inner.parent, 0);
        EXPECT_EQ(inner.names.size(), 2u);
        EXPECT_EQ(reader.NextSibling(reader.NextSibling(inner.firstRecord)), inner.endRecord);
    }
    EXPECT_EQ(seen, kNames * kRounds);
}

// Values of the letters in `types`, each with a payload of its size (S: "ab"); 'Q' is an
// unknown letter with four bytes.
Rec Values(const std::string& name, const std::string& types) {
    Rec rec(name);
    for (char type : types) {
        const size_t size = type == 'C' ? 1 : type == 'I' || type == 'F' || type == 'Q' ? 4 : 8;
        if (type == 'S') {
            rec.S("ab");
            continue;
        }
        rec.values += type;
        for (size_t b = 0; b < size; ++b) rec.values += static_cast<char>(rec.count * 7 + b);
        ++rec.count;
    }
    return rec;
}

uint32_t PayloadSize(char type) {
    return type == 'C' ? 1 : type == 'I' || type == 'F' ? 4 : type == 'S' ? 2 : 8;
}

// Where each value of a record starts, walked one at a time by this test: the parser and the
// stored-value read must find the same places, whatever patterns the types repeat.
std::vector<uint64_t> Starts(const std::string& types, uint64_t first) {
    std::vector<uint64_t> starts;
    for (char type : types) {
        starts.push_back(first);
        first += 1 + PayloadSize(type) + (type == 'S' ? 4 : 0);
    }
    return starts;
}

TEST(KQovFieldReader, RepeatingValueTypesWalkAsOneAtATime) {
    const std::string keys = Repeat("LDCC", 40);
    struct Case {
        const char* what;
        std::string types;
    } cases[] = {
        {"keys", keys},
        {"keys, a repetition short", keys + "LDC"},
        {"keys with a differing key", keys + "LDCD" + keys},
        {"keys with a string among them", keys + "S" + keys},
        {"keys with a string in a key", Repeat("LDCC", 5) + "LDSC" + keys},
        {"a pattern longer than eight", Repeat("IIIIIIIID", 9)},
        {"eight, one of them twice", Repeat("LDCCFIIC", 6) + "C" + Repeat("LDCCFIIC", 6)},
        {"one type, then another", Repeat("D", 100) + Repeat("I", 3) + Repeat("C", 40)},
        {"two types alternating", Repeat("FD", 33)},
        {"sixteen, then a change", Repeat("LD", 8) + "C" + Repeat("LD", 8)},
        {"few values", "LDC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes;
        Encode(bytes, Values("K", c.types));
        bytes += NullRecord();
        KQovFieldReader reader(nullptr, 0, true, false);
        ASSERT_TRUE(reader.ParseBytes(Bytes(bytes))) << reader.GetErrorText();
        const std::vector<uint64_t> starts = Starts(c.types, 13 + 1);
        // Stored values a chunk at a time, the others one at a time, in several chunk sizes.
        for (size_t chunk : {size_t(1), size_t(5), size_t(17), size_t(256)}) {
            KQovFieldReader::Record record = reader.GetRecord(0);
            ASSERT_EQ(record.valueCount, c.types.size());
            std::vector<KQovFieldReader::Value> seen, part(chunk);
            for (;;) {
                const size_t n = reader.ReadStored(record, part.data(), chunk);
                seen.insert(seen.end(), part.begin(), part.begin() + n);
                if (n > 0) continue;
                KQovFieldReader::Value one;
                if (!reader.NextValue(record, one)) break;
                seen.push_back(one);
            }
            ASSERT_EQ(seen.size(), c.types.size()) << chunk;
            const uint8_t* base = seen[0].data - 1 - starts[0];
            for (size_t i = 0; i < seen.size(); ++i) {
                ASSERT_EQ(seen[i].type, c.types[i]) << chunk << " " << i;
                ASSERT_EQ(seen[i].offset, starts[i]) << chunk << " " << i;
                ASSERT_EQ(seen[i].data, base + starts[i] + 1 + (c.types[i] == 'S' ? 4 : 0));
                ASSERT_EQ(seen[i].size, PayloadSize(c.types[i]));
            }
        }
    }
}

TEST(KQovFieldReader, BrokenPatternsOfValuesFailAtTheirValue) {
    const std::string keys = Repeat("LDCC", 30);
    struct Case {
        const char* what;
        std::string types;
        int32_t countChange;  // the record claims this many values more
        uint32_t bad;         // the value named in the error, ~0u for another error
    } cases[] = {
        {"an unknown letter in a key", keys + "LDQC" + keys, 0, 122},
        {"an unknown letter after keys", keys + "Q", 0, 120},
        {"an unknown letter after one type", Repeat("D", 50) + "Q", 0, 50},
        {"more values claimed than stored", keys, 1, 120},
        {"more values claimed than a repetition holds", keys, 3, 120},
        {"fewer values claimed than stored", keys, -2, ~0u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rec rec = Values("K", c.types);
        rec.count = static_cast<uint32_t>(static_cast<int32_t>(rec.count) + c.countChange);
        std::string bytes, error;
        Encode(bytes, rec);
        bytes += NullRecord();
        EXPECT_FALSE(ParseBinary(bytes, &error));
        if (c.bad != ~0u)
            EXPECT_NE(error.find(KFormatC("Bad value %u of", c.bad)), std::string::npos) << error;
        else
            EXPECT_NE(error.find("bytes of values, not"), std::string::npos) << error;
    }
}

}  // namespace

namespace {

// Texts as the reader must give them back: binary "B\0\1A" is "A::B" (the first split).
std::string Joined(const std::string& stored) {
    const size_t split = stored.find(std::string("\0\1", 2));
    if (split == std::string::npos) return stored;
    return stored.substr(split + 2) + "::" + stored.substr(0, split);
}

}  // namespace

// Texts handed out stay put and equal while thousands more are made (the index grows, chunks
// fill, long texts go apart), and asking again gives the same pointer.
TEST(KQovFieldReader, TextsStayValidAndAreMadeOnce) {
    const std::string kinds[] = {"",
                                 "name",
                                 std::string("Cube\0\1Model", 11),
                                 std::string(1030, 'a'),  // long enough for a block of its own
                                 std::string("\0\1tail", 6),
                                 "a::b"};
    std::vector<std::string> stored;
    for (int i = 0; i < 6000; ++i)
        stored.push_back(kinds[i % 6] + (i % 12 < 6 ? std::to_string(i) : ""));
    Rec record("T");
    for (const std::string& s : stored) record.S(s);
    std::string bytes;
    Encode(bytes, record);
    bytes += NullRecord();
    KQovFieldReader reader(nullptr, 0, true, false);
    ASSERT_TRUE(reader.ParseBytes(Bytes(bytes))) << reader.GetErrorText();
    std::vector<const char*> first;
    KQovFieldReader::Record values = reader.GetRecord(reader.GetOccurrence(0, 0, 0));
    KQovFieldReader::Value value;
    while (reader.NextValue(values, value)) first.push_back(reader.ToText(value));
    ASSERT_EQ(first.size(), stored.size());
    reader.RewindValues(values);
    for (size_t i = 0; i < stored.size(); ++i) {
        ASSERT_TRUE(reader.NextValue(values, value));
        SCOPED_TRACE(i);
        EXPECT_EQ(reader.ToText(value), first[i]);
        EXPECT_EQ(std::string(first[i]), Joined(stored[i]));
    }
    // Texts of a page asked for out of order: a later record's first.
    Rec a("A"), b("B");
    for (const char* text : {"a0", "a1", "a2"}) a.S(text);
    for (const char* text : {"b0", "b1", "b2"}) b.S(text);
    std::string small;
    Encode(small, a);
    Encode(small, b);
    small += NullRecord();
    KQovFieldReader pair(nullptr, 0, true, false);
    ASSERT_TRUE(pair.ParseBytes(Bytes(small)));
    std::vector<const char*> seen[2];
    for (int pass = 0; pass < 2; ++pass)
        for (uint32_t name : {1u, 0u}) {
            KQovFieldReader::Record record =
                pair.GetRecord(pair.GetOccurrence(0, int32_t(name), 0));
            for (int i = 0; pair.NextValue(record, value); ++i) {
                const char* text = pair.ToText(value);
                EXPECT_EQ(text, std::string(1, char('a' + name)) + char('0' + i));
                if (pass == 0) seen[name].push_back(text);
                EXPECT_EQ(text, seen[name][size_t(i)]);
            }
        }
    EXPECT_STREQ(reader.GetNameText(0, 0), "T");
    EXPECT_EQ(reader.GetNameText(0, 0), reader.GetNameText(0, 0));
    EXPECT_GT(reader.GetMemoryUse(), bytes.size());
}

// ASCII texts are handed out from the parsed buffer: each value still decodes after a text
// before it, and the text stays while the rest is read.
TEST(KQovFieldReader, AsciiTextsBetweenOtherValues) {
    const struct {
        const char* written;
        char type;
        const char* text;
    } kValues[] = {{"\"Model::a\"", 'S', "Model::a"},
                   {"bare", 'N', "bare"},
                   {"\\x41", 'C', "A"},
                   {"12", 'N', "12"},
                   {"\"\"", 'S', ""},
                   {"\"q\\\"x\"", 'S', "q\"x"},
                   {"-3.5", 'N', "-3.5"},
                   {"\"last\"", 'S', "last"}};
    std::string line = "T: ";
    for (const auto& v : kValues) line += std::string(line.size() > 3 ? ", " : "") + v.written;
    KQovFieldReader reader(nullptr, 0, false, false);
    ASSERT_TRUE(reader.ParseBytes(Bytes(line + "\nU: 7\n"))) << reader.GetErrorText();
    KQovFieldReader::Record values = reader.GetRecord(reader.GetOccurrence(0, 0, 0));
    std::vector<const char*> texts;
    KQovFieldReader::Value value;
    for (const auto& v : kValues) {
        SCOPED_TRACE(v.written);
        ASSERT_TRUE(reader.NextValue(values, value));
        EXPECT_EQ(value.type, v.type);
        texts.push_back(reader.ToText(value));
        EXPECT_EQ(reader.ToText(value), texts.back());
    }
    EXPECT_FALSE(reader.NextValue(values, value));
    KQovFieldReader::Record next = reader.GetRecord(reader.GetOccurrence(0, 1, 0));
    ASSERT_TRUE(reader.NextValue(next, value));
    EXPECT_EQ(reader.ToInt64(value), 7);
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_STREQ(texts[i], kValues[i].text);
}

// The block of each record, asked for in file order, backwards and by strides: the same as a
// pass over every block finds.
TEST(KQovFieldReader, ChildBlocksInAnyOrderOfAsking) {
    Rec top("Top");
    for (int i = 0; i < 40; ++i) {
        Rec item("Item");
        item.I(i);
        if (i % 3 != 1)
            for (int j = 0; j < i % 5; ++j) {
                Rec inner("Inner");
                inner.I(j);
                if (j % 2 == 0) inner.Child(Rec("Leaf").I(j));
                item.Child(inner);
            }
        top.Child(item);
    }
    std::string bytes;
    Encode(bytes, top);
    Encode(bytes, Rec("After").I(1));
    bytes += NullRecord();
    KQovFieldReader reader(nullptr, 0, true, false);
    ASSERT_TRUE(reader.ParseBytes(Bytes(bytes))) << reader.GetErrorText();
    const uint32_t records = uint32_t(reader.GetRecordCount());
    std::vector<int32_t> expected(records, -1);
    for (size_t b = 1; b < reader.GetBlockCount(); ++b)
        expected[reader.GetBlock(int32_t(b)).owner] = int32_t(b);
    for (uint32_t stride : {1u, 7u, 13u, records - 1}) {
        SCOPED_TRACE(stride);
        for (uint32_t n = 0, i = 0; n < records; ++n, i = (i + stride) % records)
            ASSERT_EQ(reader.GetRecord(i).child, expected[i]) << i;
    }
}
