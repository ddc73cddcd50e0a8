// Whole arrays into and out of the field file: the same records as one value a call, the
// same conversions as the single reads, and long lists given back once read and read again.

#include <cmath>
#include <functional>
#include <limits>

#include "FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"

using qovtest::Encode;
using qovtest::Rec;
using qovtest::TempFolder;

namespace {

std::vector<int32_t> Ints(size_t count) {
    std::vector<int32_t> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = int32_t(i * 2654435761u) ^ int32_t(i);
    if (count > 0) v[0] = std::numeric_limits<int32_t>::min();
    return v;
}

std::vector<double> Doubles(size_t count) {
    std::vector<double> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = std::ldexp(double(i) + 0.1, int(i % 64) - 32);
    if (count > 1) v[1] = -0.0;
    return v;
}

// The text of an ASCII field's values, from after "name: " to the next field.
std::string AsciiValues(const std::string& text, const std::string& name) {
    const size_t at = text.find("\n" + name + ": ");
    if (at == std::string::npos) return "missing " + name;
    const size_t begin = at + name.size() + 3;
    const size_t end = text.find(':', begin);
    return text.substr(begin, text.rfind('\n', end) - begin);
}

}  // namespace

// A field written as one array and one written value by value hold the same values with
// the same letters (binary) and the same text (ASCII), across the writer's buffer.
TEST(KQovFieldFileArrays, ArrayWritesEqualValueByValue) {
    const size_t kCounts[] = {0, 1, 2, 511, 4097, 150000};  // the last passes 1 MB
    for (bool binary : {true, false}) {
        for (size_t count : kCounts) {
            SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + std::to_string(count));
            TempFolder tmp;
            const std::string name = tmp / "arrays.qov";
            const std::vector<int32_t> ints = Ints(count);
            const std::vector<double> doubles = Doubles(count);
            KQovFieldFile out;
            ASSERT_TRUE(out.Create(name.c_str(), binary, false, nullptr));
            out.FieldWriteBegin("IntArray");
            out.FieldWriteI(7);  // arrays follow values already written
            EXPECT_TRUE(out.FieldWriteIn(ints.data(), ints.size()));
            out.FieldWriteEnd();
            out.FieldWriteBegin("IntItems");
            out.FieldWriteI(7);
            for (int32_t v : ints) out.FieldWriteI(v);
            out.FieldWriteEnd();
            out.FieldWriteBegin("DblArray");
            EXPECT_TRUE(out.FieldWriteDn(doubles.data(), doubles.size()));
            out.FieldWriteEnd();
            out.FieldWriteBegin("DblItems");
            for (double v : doubles) out.FieldWriteD(v);
            out.FieldWriteEnd();
            ASSERT_TRUE(out.FieldFileClose());
            if (!binary) {
                const std::string text = qovtest::ReadAll(name);
                EXPECT_EQ(AsciiValues(text, "IntArray"), AsciiValues(text, "IntItems"));
                EXPECT_EQ(AsciiValues(text, "DblArray"), AsciiValues(text, "DblItems"));
            }
            KQovFieldFile in;
            ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr)) << in.GetLastErrorString();
            const char* const kPairs[2][2] = {{"IntArray", "IntItems"}, {"DblArray", "DblItems"}};
            for (const auto& pair : kPairs) {
                std::vector<std::pair<char, int64_t>> seen[2];
                for (int k = 0; k < 2; ++k) {
                    ASSERT_TRUE(in.FieldReadBegin(pair[k]));
                    while (in.FieldReadGetRemain() > 0) {
                        const char type = in.FieldReadGetType();
                        const double d = in.FieldReadD();
                        int64_t bits;
                        std::memcpy(&bits, &d, 8);
                        seen[k].push_back({type, bits});
                    }
                    in.FieldReadEnd();
                }
                EXPECT_EQ(seen[0], seen[1]);
            }
        }
    }
}

// Arrays read into memory convert as the single reads do, stop where the field ends, and
// pass over values of any type.
TEST(KQovFieldFileArrays, ArrayReadsConvertAsSingleReads) {
    TempFolder tmp;
    const std::string name = tmp / "mixed.qov";
    std::string bytes = qovtest::BinaryStart(6000);
    Rec mixed("Mixed");
    mixed.I(-5).D(2.75).I(9).D(-1e300).S("12").I(std::numeric_limits<int32_t>::max());
    for (int i = 0; i < 300; ++i) mixed.I(i);
    mixed.D(1e10).Raw(std::string("C") + char(-3));
    ++mixed.count;
    mixed.Raw("L");
    const int64_t big = int64_t(1) << 40;
    mixed.Raw(std::string(reinterpret_cast<const char*>(&big), 8));
    ++mixed.count;
    Encode(bytes, mixed);
    bytes += qovtest::NullRecord();
    qovtest::WriteAll(name, bytes);

    const struct {
        size_t skip;  // single reads before the array
        size_t want;
    } kCases[] = {{0, 312}, {0, 400}, {3, 10}, {305, 7}, {310, 5}, {0, 0}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.skip) + "+" + std::to_string(c.want));
        KQovFieldFile f;
        ASSERT_TRUE(f.Open(name.c_str(), false, true, nullptr)) << f.GetLastErrorString();
        std::vector<int32_t> single;
        std::vector<double> singleD;
        ASSERT_TRUE(f.FieldReadBegin("Mixed", 0));
        for (size_t i = 0; i < c.skip; ++i) f.FieldReadI();
        while (f.FieldReadGetRemain() > 0) single.push_back(f.FieldReadI());
        f.FieldReadEnd();
        ASSERT_TRUE(f.FieldReadBegin("Mixed", 0));
        for (size_t i = 0; i < c.skip; ++i) f.FieldReadI();
        while (f.FieldReadGetRemain() > 0) singleD.push_back(f.FieldReadD());
        f.FieldReadEnd();

        std::vector<int32_t> ints(c.want + 1, 77);
        ASSERT_TRUE(f.FieldReadBegin("Mixed", 0));
        for (size_t i = 0; i < c.skip; ++i) f.FieldReadI();
        const size_t got = f.FieldReadIn(ints.data(), c.want);
        EXPECT_EQ(got, std::min(c.want, single.size()));
        for (size_t i = 0; i < got; ++i) EXPECT_EQ(ints[i], single[i]) << i;
        EXPECT_EQ(ints[c.want], 77);  // nothing past what was asked
        f.FieldReadEnd();

        std::vector<double> doubles(c.want + 1, 77.0);
        ASSERT_TRUE(f.FieldReadBegin("Mixed", 0));
        for (size_t i = 0; i < c.skip; ++i) f.FieldReadI();
        EXPECT_EQ(f.FieldReadDoubles(doubles.data(), c.want), got);
        for (size_t i = 0; i < got; ++i) EXPECT_EQ(doubles[i], singleD[i]) << i;
        // The cursor moved on past what the array took.
        EXPECT_EQ(size_t(f.FieldReadGetRemain()), single.size() - got);
        f.FieldReadEnd();
    }
    KQovFieldFile f;
    ASSERT_TRUE(f.Open(name.c_str(), false, true, nullptr)) << f.GetLastErrorString();
    int32_t none[2] = {1, 2};
    EXPECT_EQ(f.FieldReadIn(none, 2), 0u);  // no field open
    EXPECT_EQ(f.FieldReadIn(nullptr, 2), 0u);
    EXPECT_EQ(none[0], 1);
}

// A long list read to its end is given back; asked for again it reads the same, also when
// the file was written by array and read back by single values.
TEST(KQovFieldFileArrays, ReleasedListsReadAgain) {
    TempFolder tmp;
    const std::string name = tmp / "long.qov";
    const std::vector<double> doubles = Doubles(100000);  // 900 KB of values
    const std::vector<int32_t> ints = Ints(70000);
    {
        KQovFieldFile out;
        ASSERT_TRUE(out.Create(name.c_str(), true, false, nullptr));
        for (int k = 0; k < 2; ++k) {
            out.FieldWriteBegin("Long");
            out.FieldWriteDn(doubles.data(), doubles.size());
            out.FieldWriteEnd();
        }
        out.FieldWriteBegin("Ints");
        out.FieldWriteIn(ints.data(), ints.size());
        out.FieldWriteEnd();
        // Numbers first, then a text whose bytes are handed out raw.
        out.FieldWriteBegin("Raw");
        out.FieldWriteDn(doubles.data(), 10000);
        out.FieldWriteC(std::string(100000, 'x').c_str());
        out.FieldWriteEnd();
        ASSERT_TRUE(out.FieldFileClose());
    }
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr));
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        for (int occurrence = 0; occurrence < 2; ++occurrence) {
            ASSERT_TRUE(in.FieldReadBegin("Long", occurrence));
            std::vector<double> back(doubles.size());
            if (pass == 1) {
                for (double& d : back) d = in.FieldReadD();
            } else {
                ASSERT_EQ(in.FieldReadDoubles(back.data(), back.size()), back.size());
            }
            EXPECT_EQ(0, std::memcmp(back.data(), doubles.data(), 8 * back.size()));
            in.FieldReadEnd();
        }
        ASSERT_TRUE(in.FieldReadBegin("Ints"));
        std::vector<int32_t> back(ints.size());
        ASSERT_EQ(in.FieldReadIn(back.data(), back.size()), back.size());
        EXPECT_EQ(back, ints);
        in.FieldReadEnd();
        // Raw bytes handed out stay where they are after the field ends.
        ASSERT_TRUE(in.FieldReadBegin("Raw"));
        std::vector<double> numbers(10000);
        ASSERT_EQ(in.FieldReadDoubles(numbers.data(), numbers.size()), numbers.size());
        uint32_t size = 0;
        const uint8_t* raw = in.FieldReadR(size);
        in.FieldReadEnd();
        ASSERT_EQ(size, 100000u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw), size), std::string(size, 'x'));
        in.FieldReadRewind();
    }
    EXPECT_EQ(in.GetLastErrorID(), -1);
}

// A list given back cannot be read again from a file cut short meanwhile: an error, and
// no values rather than values partly of other bytes.
TEST(KQovFieldFileArrays, ReleasedListOfAFileCutShort) {
    TempFolder tmp;
    const std::string name = tmp / "cut.qov";
    const std::vector<double> doubles = Doubles(100000);
    {
        KQovFieldFile out;
        ASSERT_TRUE(out.Create(name.c_str(), true, false, nullptr));
        out.FieldWriteBegin("Long");
        out.FieldWriteDn(doubles.data(), doubles.size());
        out.FieldWriteEnd();
        ASSERT_TRUE(out.FieldFileClose());
    }
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr));
    ASSERT_TRUE(in.FieldReadBegin("Long"));
    std::vector<double> back(doubles.size());
    ASSERT_EQ(in.FieldReadDoubles(back.data(), back.size()), back.size());
    in.FieldReadEnd();
    ASSERT_EQ(truncate(name.c_str(), 4096), 0);
    ASSERT_TRUE(in.FieldReadBegin("Long", 0));
    EXPECT_EQ(in.GetLastErrorID(), KQovFieldFile::eReadError);
    // The list is left empty, not partly of other bytes.
    EXPECT_EQ(in.FieldReadGetCount(), 0);
    EXPECT_EQ(in.FieldReadDoubles(back.data(), back.size()), 0u);
}

// Lists given back read again as they were, also from a buffer large enough for large pages
// (given back a large page at a time), and a file cut short meanwhile leaves them empty.
TEST(KQovFieldFileArrays, ReleasedListsOfSmallAndLargeBuffers) {
    struct Case {
        const char* what;
        size_t count;
        bool cut;
    } cases[] = {
        {"small buffer", 100000, false},
        {"large buffer", 1500000, false},
        {"large buffer, cut short", 1500000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder tmp;
        const std::string name = tmp / "released.qov";
        const std::vector<double> doubles = Doubles(c.count);
        ASSERT_NO_FATAL_FAILURE(qovtest::WriteTwoDoubleFields(name, doubles));
        KQovFieldFile in;
        ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr));
        std::vector<double> back(doubles.size());
        for (int pass = 0; pass < 2; ++pass) {
            in.FieldReadRewind();
            if (pass == 1 && c.cut) {
                ASSERT_EQ(truncate(name.c_str(), 4096), 0);
            }
            for (const char* field : {"First", "Second"}) {
                SCOPED_TRACE(std::string(field) + " " + std::to_string(pass));
                ASSERT_TRUE(in.FieldReadBegin(field));
                std::fill(back.begin(), back.end(), 0.0);
                const size_t got = in.FieldReadDoubles(back.data(), back.size());
                in.FieldReadEnd();
                if (pass == 1 && c.cut) {
                    EXPECT_EQ(got, 0u);
                    continue;
                }
                ASSERT_EQ(got, back.size());
                EXPECT_EQ(0, std::memcmp(back.data(), doubles.data(), 8 * back.size()));
            }
        }
        EXPECT_EQ(in.GetLastErrorID(), c.cut ? KQovFieldFile::eReadError : -1);
    }
}

// Values gathered into a run give the same records as single calls, across the run's buffer;
// encoded values are refused where the file cannot take them as they are.
TEST(KQovFieldFileArrays, ValueRunsEqualSingleCalls) {
    for (bool binary : {true, false}) {
        for (int count : {0, 1, 3000}) {  // 3,000 mixed values pass the run's buffer
            SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + std::to_string(count));
            TempFolder tmp;
            const std::string name = tmp / "run.qov";
            KQovFieldFile out;
            ASSERT_TRUE(out.Create(name.c_str(), binary, false, nullptr));
            const uint8_t encoded[] = {'C', 'x'};
            EXPECT_FALSE(out.FieldWriteEncoded(encoded, 2, 1));  // no field open
            auto write = [&](auto&& ch, auto&& i, auto&& ll, auto&& d) {
                for (int k = 0; k < count; ++k) {
                    switch (k % 4) {
                        case 0:
                            ch(char('a' + k % 26));
                            break;
                        case 1:
                            i(int32_t(k * 7919) - 5000);
                            break;
                        case 2:
                            ll(int64_t(k) << 35);
                            break;
                        default:
                            d(k / 7.0);
                            break;
                    }
                }
            };
            out.FieldWriteBegin("Run");
            {
                KQovValueRun run(out);
                write([&](char v) { run.Ch(v); }, [&](int32_t v) { run.I(v); },
                      [&](int64_t v) { run.LL(v); }, [&](double v) { run.D(v); });
            }
            out.FieldWriteEnd();
            out.FieldWriteBegin("Items");
            write([&](char v) { out.FieldWriteCh(v); }, [&](int32_t v) { out.FieldWriteI(v); },
                  [&](int64_t v) { out.FieldWriteLL(v); }, [&](double v) { out.FieldWriteD(v); });
            EXPECT_EQ(out.FieldWriteEncoded(encoded, 2, 1), binary);
            out.FieldWriteEnd();
            ASSERT_TRUE(out.FieldFileClose());
            KQovFieldFile in;
            ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr)) << in.GetLastErrorString();
            std::vector<std::string> seen[2];
            const char* const kNames[2] = {"Run", "Items"};
            for (int f = 0; f < 2; ++f) {
                ASSERT_TRUE(in.FieldReadBegin(kNames[f]));
                while (in.FieldReadGetRemain() > 0) {
                    const char type = in.FieldReadGetType();
                    seen[f].push_back(type + std::string(in.FieldReadC()));
                }
                in.FieldReadEnd();
            }
            if (binary) {
                ASSERT_FALSE(seen[1].empty());
                EXPECT_EQ(seen[1].back(), "Cx");  // the encoded value, as it was given
                seen[1].pop_back();
            }
            EXPECT_EQ(seen[0], seen[1]);
            EXPECT_EQ(int(seen[0].size()), count);
        }
    }
}
