// Long lists of values are checked when first read rather than when the file is parsed: a bad
// one must still be found, with the error the parse gives a short one, and leave the records
// around it as they are.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"
#include "foundation/KLocale.h"

namespace {

using qovtest::Encode;
using qovtest::NullRecord;
using qovtest::Rec;
using qovtest::Repeat;
using qovtest::TempFolder;

// A record of values of the types given, one letter each ('Q' is no type: its byte alone).
Rec Typed(const char* name, const std::string& types) {
    Rec rec(name);
    for (char type : types) {
        const size_t size = type == 'C' ? 1 : type == 'I' ? 4 : type == 'Q' ? 0 : 8;
        rec.values += type;
        for (size_t b = 0; b < size; ++b) rec.values += static_cast<char>(rec.count * 3 + b);
        ++rec.count;
    }
    return rec;
}

// A short record, the record under test, another short record.
std::string Between(const Rec& rec) {
    std::string bytes;
    Encode(bytes, Rec("Before").I(1));
    Encode(bytes, rec);
    Encode(bytes, Rec("After").I(2));
    return bytes + NullRecord();
}

int32_t FirstInt(KQovFieldReader& reader, const char* name) {
    const uint32_t index = reader.GetOccurrence(0, reader.FindName(0, name), 0);
    if (index == KQovFieldReader::kNoRecord) return -1;
    KQovFieldReader::Record record = reader.GetRecord(index);
    int32_t v = -1;
    reader.ReadInts(record, &v, 1);
    return v;
}

}  // namespace

TEST(KQovFieldReaderLongList, BadListsFailWhenReadWithTheParseError) {
    // 22 bytes a key, 27 three doubles: 3000 pass the size from which lists are checked when
    // read, 1000 do not. "Before" takes 24 bytes, so the record under test starts at 24.
    const int kLong = 3000, kShort = 1000;
    static_assert(2 * 1000 * 27 + 14 < KQovFieldReader::kCheckLaterFrom, "short lists");
    static_assert(3000 * 22 >= KQovFieldReader::kCheckLaterFrom, "long lists");
    struct Case {
        const char* what;
        std::string types;
        int32_t countChange;  // the record claims this many values more
        uint32_t bad;         // the value named in the error, ~0u for the length error
        int retyped = -1;     // a double whose letter is made 'I', its payload kept
    };
    for (int keys : {kShort, kLong}) {
        const std::string run = Repeat("LDCC", keys);
        const Case cases[] = {
            {"an unknown letter in a key", run + "LDQC" + run, 0, uint32_t(keys * 4 + 2)},
            {"an unknown letter after the keys", run + "Q", 0, uint32_t(keys * 4)},
            // The byte that marks a list of several types left unchecked, as a letter.
            {"a byte of 1 for the first letter", std::string(1, '\x01') + run, 0, 0u},
            {"an unknown letter among doubles", Repeat("D", keys * 3) + "Q" + "DDD", 0,
             uint32_t(keys * 3)},
            {"more values claimed than stored", run, 1, uint32_t(keys * 4)},
            {"fewer values claimed than stored", run, -2, ~0u},
            {"a double's letter made an integer's", Repeat("D", keys * 3), 0, ~0u, keys},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (keys == kLong ? ", long" : ", short"));
            Rec rec = Typed("List", c.types);
            rec.count = static_cast<uint32_t>(static_cast<int32_t>(rec.count) + c.countChange);
            if (c.retyped >= 0) rec.values[size_t(c.retyped) * 9] = 'I';
            const std::string bytes = Between(rec);
            const std::string expected =
                c.bad != ~0u
                    ? KFormatC("Bad value %u of record at 24", c.bad)
                    : KFormatC(
                          "Record at 24 holds %llu bytes of values, not %u",
                          (unsigned long long)(rec.values.size() - (c.countChange < 0 ? 4 : 0)),
                          unsigned(rec.values.size()));
            KQovFieldReader reader(nullptr, 0, true, false);
            const bool parsed = reader.ParseBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
            if (keys == kShort) {
                EXPECT_FALSE(parsed);
                if (c.bad != ~0u || c.countChange < 0) {
                    EXPECT_EQ(reader.GetErrorText(), expected);
                }
                continue;
            }
            ASSERT_TRUE(parsed) << reader.GetErrorText();
            EXPECT_EQ(reader.GetValueError(), "");
            EXPECT_EQ(FirstInt(reader, "Before"), 1);
            const uint32_t index = reader.GetOccurrence(0, reader.FindName(0, "List"), 0);
            ASSERT_NE(index, KQovFieldReader::kNoRecord);
            // A list of one type is read up to the bad value, the others not at all.
            KQovFieldReader::Record record = reader.GetRecord(index);
            KQovFieldReader::Value value;
            uint32_t read = 0;
            while (reader.NextValue(record, value)) ++read;
            if (c.bad != ~0u) {
                EXPECT_LE(read, c.bad);
            }
            if (c.bad != ~0u || c.countChange < 0)
                EXPECT_EQ(reader.GetValueError(), expected);
            else
                EXPECT_NE(reader.GetValueError(), "");
            // Asked for again, the list stays empty; the records around it are whole.
            EXPECT_EQ(reader.GetRecord(index).valueCount, 0u);
            EXPECT_EQ(FirstInt(reader, "After"), 2);
        }
    }
}

// Good long lists read as stored, whether the first read asks for them in turn or not.
TEST(KQovFieldReaderLongList, GoodListsReadWhole) {
    const std::string doubles = Repeat("D", 9000), keys = Repeat("LDCC", 3000) + "LDC";
    std::string bytes;
    Encode(bytes, Typed("Doubles", doubles));
    Encode(bytes, Typed("Keys", keys).Child(Typed("Inner", doubles)));
    bytes += NullRecord();
    KQovFieldReader reader(nullptr, 0, true, false);
    ASSERT_TRUE(reader.ParseBytes(std::vector<uint8_t>(bytes.begin(), bytes.end())));
    const struct {
        int32_t block;
        const char* name;
        const std::string& types;
    } kLists[] = {{0, "Keys", keys}, {-1, "Inner", doubles}, {0, "Doubles", doubles}};
    int32_t inner = -1;
    for (const auto& list : kLists) {
        SCOPED_TRACE(list.name);
        const int32_t block = list.block < 0 ? inner : list.block;
        const uint32_t index = reader.GetOccurrence(block, reader.FindName(block, list.name), 0);
        ASSERT_NE(index, KQovFieldReader::kNoRecord);
        KQovFieldReader::Record record = reader.GetRecord(index);
        if (record.child >= 0) inner = record.child;
        ASSERT_EQ(record.valueCount, list.types.size());
        KQovFieldReader::Value value;
        size_t i = 0;
        for (; reader.NextValue(record, value); ++i) ASSERT_EQ(value.type, list.types[i]) << i;
        EXPECT_EQ(i, list.types.size());
    }
    EXPECT_EQ(reader.GetValueError(), "");
}

// Through the field file, mapped or read into memory: the bad list is a corrupted file once it
// is read (up to its bad value at most), the list before it reads whole.
TEST(KQovFieldReaderLongList, FieldFileReportsABadListWhenRead) {
    const size_t kCount = 20000;  // 180 KB a list
    std::vector<double> doubles(kCount);
    for (size_t i = 0; i < kCount; ++i) doubles[i] = double(i) + 0.25;
    for (bool mapped : {false, true}) {
        SCOPED_TRACE(mapped ? "mapped" : "read into memory");
        TempFolder tmp;
        const std::string name = tmp / "bad.qov";
        ASSERT_NO_FATAL_FAILURE(qovtest::WriteTwoDoubleFields(name, doubles));
        // The letter of one value of the second list made no type.
        std::string bytes = qovtest::ReadAll(name);
        std::string needle = "D";
        needle.append(reinterpret_cast<const char*>(&doubles[kCount / 2]), 8);
        const size_t first = bytes.find(needle);
        const size_t second = bytes.find(needle, first + 1);
        ASSERT_NE(second, std::string::npos);
        bytes[second] = 'Q';
        qovtest::WriteAll(name, bytes);

        const uint64_t old = KQovFieldReader::SetMappingFrom(mapped ? 1 : UINT64_MAX);
        KQovFieldFile in;
        const bool opened = in.Open(name.c_str(), true, true, nullptr);
        KQovFieldReader::SetMappingFrom(old);
        ASSERT_TRUE(opened) << in.GetLastErrorString();
        EXPECT_EQ(in.GetTree()->IsMapped(), mapped);
        std::vector<double> back(kCount);
        ASSERT_TRUE(in.FieldReadBegin("First"));
        EXPECT_EQ(in.FieldReadDoubles(back.data(), kCount), kCount);
        in.FieldReadEnd();
        EXPECT_EQ(back, doubles);
        EXPECT_EQ(in.GetLastErrorID(), -1) << in.GetLastErrorString();
        ASSERT_TRUE(in.FieldReadBegin("Second"));
        // Read up to the bad value at most.
        std::fill(back.begin(), back.end(), -1.0);
        const size_t got = in.FieldReadDoubles(back.data(), kCount);
        in.FieldReadEnd();
        EXPECT_LE(got, kCount / 2);
        for (size_t i = 0; i < got; ++i) ASSERT_EQ(back[i], doubles[i]) << i;
        EXPECT_EQ(in.GetLastErrorID(), KQovFieldFile::eFileCorrupted);
        EXPECT_NE(std::string(in.GetLastErrorString()).find("File is corrupted: Bad value 10000"),
                  std::string::npos)
            << in.GetLastErrorString();
    }
}

// Lists taken for lists of one type that are not: good files all the same, read whole by every
// way of reading values.
TEST(KQovFieldReaderLongList, MixedListsTakenForOneTypeReadWhole) {
    const std::string ints = Repeat("I", 10000);
    const struct {
        const char* what;
        std::string types;
    } kCases[] = {
        {"a float among integers", ints + "F" + ints},
        {"chars and doubles as long as integers", ints + "CCCCDDD" + ints},
        {"a string as long as an integer", ints + "S" + ints},
        {"integers after a double", "D" + ints + ints},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Rec rec("List");
        for (char type : c.types) {
            if (type == 'S') {
                rec.S("");  // a letter and a length of zero: five bytes, as an integer
                continue;
            }
            const size_t size = type == 'C' ? 1 : type == 'I' || type == 'F' ? 4 : 8;
            rec.values += type;
            rec.values.append(size, '\x01');
            ++rec.count;
        }
        const std::string bytes = Between(rec);
        KQovFieldReader reader(nullptr, 0, true, false);
        ASSERT_TRUE(reader.ParseBytes(std::vector<uint8_t>(bytes.begin(), bytes.end())));
        const uint32_t index = reader.GetOccurrence(0, reader.FindName(0, "List"), 0);
        for (int way = 0; way < 3; ++way) {
            SCOPED_TRACE(way == 0 ? "one at a time" : way == 1 ? "as stored" : "as integers");
            KQovFieldReader::Record record = reader.GetRecord(index);
            ASSERT_EQ(record.valueCount, c.types.size());
            std::string seen;
            if (way == 2) {
                std::vector<int32_t> out(c.types.size() + 1);
                EXPECT_EQ(reader.ReadInts(record, out.data(), out.size()), c.types.size());
                seen = c.types;
            } else {
                std::vector<KQovFieldReader::Value> part(64);
                for (;;) {
                    const size_t n = way == 1 ? reader.ReadStored(record, part.data(), 64) : 0;
                    for (size_t i = 0; i < n; ++i) seen += part[i].type;
                    if (n > 0) continue;
                    KQovFieldReader::Value one;
                    if (!reader.NextValue(record, one)) break;
                    seen += one.type;
                }
            }
            EXPECT_EQ(seen, c.types);
            EXPECT_EQ(reader.GetValueError(), "");
        }
        EXPECT_EQ(FirstInt(reader, "After"), 2);
    }
}

// A long list of several types taken from its stored bytes, each value checked by the taker:
// read whole it is checked by its length alone; a list longer than its values, or one whose
// taker stops at a bad value and reads on, is found bad with the parse's error.
TEST(KQovFieldReaderLongList, MixedListsTakenAsStored) {
    const std::string run = Repeat("LDCC", 3000);
    const struct {
        const char* what;
        std::string types;
        int32_t countChange;
        const char* error;  // "" for a good list
    } kCases[] = {
        {"good", run, 0, ""},
        {"fewer values claimed than stored", run, -2,
         "Record at 24 holds 65996 bytes of values, not 66000"},
        {"an unknown letter in a key", run + "LDQC" + run, 0, "Bad value 12002 of record at 24"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Rec rec = Typed("List", c.types);
        rec.count = static_cast<uint32_t>(static_cast<int32_t>(rec.count) + c.countChange);
        const std::string bytes = Between(rec);
        KQovFieldReader reader(nullptr, 0, true, false);
        ASSERT_TRUE(reader.ParseBytes(std::vector<uint8_t>(bytes.begin(), bytes.end())));
        const uint32_t index = reader.GetOccurrence(0, reader.FindName(0, "List"), 0);
        KQovFieldReader::Record record = reader.GetRecord(index);
        EXPECT_EQ(record.uniform, KQovFieldReader::kMixedUnchecked);
        // The taker's own walk: known letters only, up to the count.
        size_t size = 0;
        const uint8_t* at = reader.StoredBytes(index, record, size);
        ASSERT_NE(at, nullptr);
        uint32_t taken = 0;
        size_t used = 0;
        while (taken < record.valueCount && used < size) {
            const uint8_t type = at[used];
            if (type != 'L' && type != 'D' && type != 'C') break;
            used += type == 'C' ? 2 : 9;
            ++taken;
        }
        KQovFieldReader::SkipStored(record, taken, used);
        if (taken < record.valueCount) {
            KQovFieldReader::Value value;
            EXPECT_EQ(reader.ReadStored(record, &value, 1), 0u);
        }
        reader.FinishStored(record);
        EXPECT_EQ(reader.GetValueError(), c.error);
        const KQovFieldReader::Record again = reader.GetRecord(index);
        EXPECT_EQ(again.uniform, 0);
        EXPECT_EQ(again.valueCount, *c.error ? 0u : c.types.size());
        EXPECT_EQ(FirstInt(reader, "After"), 2);
    }
}
