// Parts parsed where the system maps the file read exactly as parts read into memory: the same
// records, values and errors for whole, cut and damaged files; a file cut short under the
// mapping gives a read error, never a stopped process.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "FieldFileTestUtil.h"
#include "common/FileClock.h"
#include "common/PageFault.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"
#include "foundation/KLocale.h"

using qovtest::Encode;
using qovtest::Rec;
using qovtest::TempFolder;

namespace {

// Parts are mapped from `bytes` on while the object lives.
class MappingFrom {
public:
    explicit MappingFrom(uint64_t bytes) : mOld(KQovFieldReader::SetMappingFrom(bytes)) {}
    ~MappingFrom() { KQovFieldReader::SetMappingFrom(mOld); }

private:
    uint64_t mOld;
};

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

// Every record of the current block in name order, each value with its type, and the
// records' blocks, indented.
void Walk(KQovFieldFile& file, std::string& out, int depth) {
    const std::string indent(size_t(depth) * 2, ' ');
    for (int n = 0; n < file.FieldReadGetNameCount(); ++n) {
        const std::string name = file.FieldReadGetName(n);
        const int occurrences = file.FieldReadGetOccurrenceCount(name.c_str());
        for (int o = 0; o < occurrences; ++o) {
            if (!file.FieldReadBegin(name.c_str(), o)) {
                out += indent + name + " (not begun)\n";
                continue;
            }
            out += indent + name + ":";
            for (int left = file.FieldReadGetRemain(); left > 0; --left) {
                const char type = file.FieldReadGetType();
                out += ' ';
                out += type;
                if (type == 'R') {
                    uint32_t size = 0;
                    const uint8_t* bytes = file.FieldReadR(size);
                    out += std::to_string(size);
                    for (uint32_t i = 0; bytes && i < size && i < 32; ++i)
                        out += KFormatC("%02x", bytes[i]);
                } else {
                    out += file.FieldReadC();
                }
                if (file.FieldReadGetRemain() >= left) break;  // no value taken
            }
            out += "\n";
            if (file.FieldReadBlockBegin()) {
                Walk(file, out, depth + 1);
                file.FieldReadBlockEnd();
            }
            file.FieldReadEnd();
        }
    }
}

struct Reading {
    std::string text;  // what was read, the last error at the end
    bool mapped = false;
};

// The whole file as a reader sees it, its parts mapped or read into memory.
Reading ReadAs(const std::string& name, bool mapped) {
    MappingFrom from(mapped ? 1 : kNever);
    Reading reading;
    KQovFieldFile file;
    if (file.Open(name.c_str(), false, true, nullptr)) {
        reading.text = "parts " + std::to_string(file.GetPartCount()) + "\n";
        reading.mapped = file.GetTree() && file.GetTree()->IsMapped();
        Walk(file, reading.text, 0);
    }
    reading.text += KFormatC("error %d %s\n", file.GetLastErrorID(), file.GetLastErrorString());
    return reading;
}

// A binary file of many kinds of records: texts, numbers of every type, nested blocks, long
// lists of one type and curve-like lists of a repeating pattern.
void WriteVaried(const std::string& name) {
    KQovFieldFile out;
    ASSERT_TRUE(out.Create(name.c_str(), true, false, nullptr));
    out.FieldWriteC("Name", "Model::Cube");
    out.FieldWriteBegin("Mixed");
    out.FieldWriteCh('x');
    out.FieldWriteI(-7);
    out.FieldWriteLL(int64_t(1) << 40);
    out.FieldWriteD(0.25);
    out.FieldWriteC("text");
    out.FieldWriteEnd();
    out.FieldWriteBegin("Objects");
    out.FieldWriteBlockBegin();
    for (int m = 0; m < 30; ++m) {
        out.FieldWriteBegin("Model");
        out.FieldWriteC(("Model::M" + std::to_string(m)).c_str());
        out.FieldWriteBlockBegin();
        out.FieldWriteBegin("Vertices");
        for (int i = 0; i < 900 + m; ++i) out.FieldWriteD(i * 0.5 - m);
        out.FieldWriteEnd();
        out.FieldWriteBegin("PolygonVertexIndex");
        for (int i = 0; i < 1200; ++i) out.FieldWriteI(i % 4 == 3 ? ~i : i);
        out.FieldWriteEnd();
        out.FieldWriteBegin("Key");
        for (int k = 0; k < 300; ++k) {
            out.FieldWriteLL(int64_t(k) * 46186158000);
            out.FieldWriteD(k * 0.1);
            out.FieldWriteCh('C');
            out.FieldWriteCh(k % 2 ? 'n' : 's');
        }
        out.FieldWriteEnd();
        out.FieldWriteBlockEnd();
        out.FieldWriteEnd();
    }
    out.FieldWriteBlockEnd();
    out.FieldWriteEnd();
    ASSERT_TRUE(out.FieldFileClose());
}

// A binary file of the given records, as an older writer leaves it (no end block).
std::string FileOf(const std::vector<Rec>& records) {
    std::string bytes = qovtest::BinaryStart(5000);
    for (const Rec& r : records) Encode(bytes, r, 0);
    return bytes + qovtest::NullRecord();
}

std::string Letters(char type, int count) {
    std::string values;
    for (int i = 0; i < count; ++i) {
        values += type;
        const uint64_t v = uint64_t(i) * 0x9E3779B97F4A7C15ull;
        values.append(reinterpret_cast<const char*>(&v), type == 'I' ? 4 : 8);
    }
    return values;
}

}  // namespace

// A file of many kinds of records and copies of it cut or damaged at places across it.
TEST(KQovFieldReaderMapping, MappedReadsAsReadIntoMemory) {
    struct Damage {
        const char* what;
        double at;  // where, as a share of the file
        int cut;    // bytes kept from there (-1: none cut)
        char flip;  // xor into the byte there
    } const kDamage[] = {
        {"whole", 0, -1, 0},
        {"empty", 0, 0, 0},
        {"header only", 0, 27, 0},
        {"cut early", 0.1, 0, 0},
        {"cut in half", 0.5, 0, 0},
        {"last byte gone", 1, -1, 0},
        {"byte flipped early", 0.05, -1, 0x5a},
        {"byte flipped late", 0.7, -1, 0x01},
        {"a type letter changed", 0.4, -1, 'D' ^ 'S'},
    };
    TempFolder tmp;
    const std::string original = tmp / "varied.qov";
    WriteVaried(original);
    const std::string whole = qovtest::ReadAll(original);
    ASSERT_GT(whole.size(), 100000u);
    for (const Damage& d : kDamage) {
        SCOPED_TRACE(d.what);
        std::string bytes = whole;
        size_t at = std::min(bytes.size() - 1, size_t(d.at * double(bytes.size())));
        if (d.flip == ('D' ^ 'S')) at = bytes.find('D', at);  // the next double's letter
        if (std::string(d.what) == "last byte gone") bytes.pop_back();
        if (d.cut >= 0) bytes.resize(std::min(bytes.size(), at + size_t(d.cut)));
        if (d.flip) bytes[at] = char(bytes[at] ^ d.flip);
        const std::string name = tmp / "damaged.qov";
        qovtest::WriteAll(name, bytes);
        const Reading mapped = ReadAs(name, true), buffered = ReadAs(name, false);
        EXPECT_EQ(mapped.text, buffered.text);
        EXPECT_FALSE(buffered.mapped);
        if (std::string(d.what) == "whole") {
            EXPECT_TRUE(mapped.mapped);
            EXPECT_GT(std::count(mapped.text.begin(), mapped.text.end(), '\n'), 90);
            EXPECT_EQ(mapped.text.find("not begun"), std::string::npos) << mapped.text;
        }
    }
}

// Lists at the edges of their records: runs of one type ending at the end, runs that change
// type, and counts or lengths that run past what the record holds.
TEST(KQovFieldReaderMapping, ListsAtTheirEdgesReadAlike) {
    auto counted = [](const char* name, const std::string& values, uint32_t count) {
        Rec r(name);
        r.Raw(values);
        r.count = count;
        return r;
    };
    const std::string ints = Letters('I', 40), doubles = Letters('D', 40);
    const struct {
        const char* what;
        std::vector<Rec> records;
        bool ok;
    } kCases[] = {
        {"ints to the end", {counted("A", ints, 40)}, true},
        {"ints then doubles", {counted("A", ints + doubles, 80)}, true},
        {"doubles then ints then a text", {counted("A", doubles + ints, 80).S("end")}, true},
        {"one value", {counted("A", Letters('D', 1), 1)}, true},
        {"count past the end", {counted("A", ints, 41)}, false},
        {"count short of the values", {counted("A", ints, 39)}, false},
        {"last value cut", {counted("A", ints.substr(0, ints.size() - 2), 40)}, false},
        {"unknown letter in a run",
         {counted("A", ints.substr(0, 50) + "Z" + ints.substr(51), 40)},
         false},
        {"in a block", {Rec("Outer").Child(counted("A", doubles, 40)).Child(Rec("B").I(1))}, true},
    };
    TempFolder tmp;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::string name = tmp / "edges.qov";
        qovtest::WriteAll(name, FileOf(c.records));
        const Reading mapped = ReadAs(name, true), buffered = ReadAs(name, false);
        EXPECT_EQ(mapped.text, buffered.text);
        // A part that does not parse is not opened.
        EXPECT_EQ(mapped.text.compare(0, 6, "parts ") == 0, c.ok) << mapped.text;
        if (c.ok) {
            EXPECT_TRUE(mapped.mapped);
        }
    }
}

// A mapped file cut short while it is read: what is gone reads as no values and the file
// reports a read error; nothing stops the process, and names stay known.
TEST(KQovFieldReaderMapping, FileCutUnderTheMapping) {
    const struct {
        const char* what;
        bool readFirst;  // the first list read (and given back) before the cut
        off_t keep;
    } kCases[] = {
        {"cut after the first list", true, 4096},
        {"cut before anything is read", false, 4096},
        {"cut inside the second list", true, 0},  // 0: in the middle of the second list
    };
    const size_t kCount = 400000;  // 3.6 MB a list: mapped
    std::vector<double> doubles(kCount);
    for (size_t i = 0; i < kCount; ++i) doubles[i] = double(i) * 0.5 - 7;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TempFolder tmp;
        const std::string name = tmp / "cut.qov";
        ASSERT_NO_FATAL_FAILURE(qovtest::WriteTwoDoubleFields(name, doubles));
        const off_t size = off_t(qovtest::ReadAll(name).size());
        KQovFieldFile in;
        ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr));
        ASSERT_TRUE(in.GetTree()->IsMapped());
        std::vector<double> back(kCount);
        if (c.readFirst) {
            ASSERT_TRUE(in.FieldReadBegin("First"));
            EXPECT_EQ(in.FieldReadDoubles(back.data(), kCount), kCount);
            in.FieldReadEnd();
            EXPECT_EQ(back, doubles);
        }
        ASSERT_EQ(truncate(name.c_str(), c.keep ? c.keep : size * 3 / 4), 0);
        for (const char* field : {"First", "Second"}) {
            if (c.readFirst && std::string(field) == "First") continue;
            ASSERT_TRUE(in.FieldReadBegin(field)) << field;
            std::fill(back.begin(), back.end(), 1.0);
            const size_t got = in.FieldReadDoubles(back.data(), kCount);
            in.FieldReadEnd();
            EXPECT_LT(got, kCount) << field;
            // What was read is the file's, but for the value across the cut (its letter may
            // be kept and its bytes partly gone): the read error tells.
            for (size_t i = 0; i + 1 < got; ++i)
                ASSERT_EQ(back[i], doubles[i]) << field << " " << i;
        }
        EXPECT_EQ(in.GetLastErrorID(), KQovFieldFile::eReadError);
        EXPECT_NE(std::string(in.GetLastErrorString()).find("cut short"), std::string::npos);
    }
}

// A page of the mapped file that the disk fails to give is the file's read error, told as a
// failed read is, not as a cut; the answer outlives the part.
TEST(KQovFieldReaderMapping, PageTheDiskFailsToGive) {
    MappingFrom from(1);
    const size_t kCount = 5000;  // pages of values
    TempFolder tmp;
    const std::string name = tmp / "eio.qov";
    ASSERT_NO_FATAL_FAILURE(qovtest::WriteTwoDoubleFields(name, std::vector<double>(kCount, 0.5)));
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr));
    KQovFieldReader* tree = in.GetTree();
    ASSERT_TRUE(tree->IsMapped());
    const int32_t second = tree->FindName(tree->GetRoot(), "Second");
    ASSERT_GE(second, 0);
    KQovFieldReader::Value value;
    const uint32_t record = tree->GetBlock(tree->GetRoot()).names[size_t(second)].first;
    ASSERT_TRUE(tree->PeekValue(tree->GetRecord(record), value));
    ASSERT_TRUE(RaisePageFault(value.data + kCount * 4));
    ASSERT_TRUE(in.FieldReadBegin("Second"));
    std::vector<double> back(kCount);
    in.FieldReadDoubles(back.data(), kCount);
    in.FieldReadEnd();
    const std::string failed = "File not read: " + name + ": Input/output error";
    EXPECT_EQ(in.GetLastErrorID(), KQovFieldFile::eReadError);
    EXPECT_EQ(std::string(in.GetLastErrorString()), failed);
    in.Finish();
    EXPECT_FALSE(in.CheckFileUnchanged());
    EXPECT_EQ(std::string(in.GetLastErrorString()), failed);
}

// Only files opened for reading alone, whose bytes are read as they stand, are mapped, and
// only from the mapping size on.
TEST(KQovFieldReaderMapping, WhatIsMapped) {
    const struct {
        const char* what;
        uint64_t from;
        bool update;
        bool encrypted;
        bool mapped;
    } kCases[] = {
        {"below the size", kNever, false, false, false},
        {"from one byte", 1, false, false, true},
        {"opened for update", 1, true, false, false},
        {"enciphered", 1, false, true, false},
        {"default size, small file", KQovFieldReader::kMappingFrom, false, false, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TempFolder tmp;
        const std::string name = tmp / "small.qov";
        if (c.encrypted) {
            KQovFieldFile out;
            ASSERT_TRUE(out.Create(name.c_str(), true, true, nullptr));
            out.FieldWriteBegin("A");
            out.FieldWriteI(1);
            out.FieldWriteD(2.5);
            out.FieldWriteC("x");
            out.FieldWriteEnd();
            ASSERT_TRUE(out.FieldFileClose());
        } else {
            qovtest::WriteAll(name, FileOf({Rec("A").I(1).D(2.5).S("x")}));
        }
        const std::string before = qovtest::ReadAll(name);
        {
            MappingFrom from(c.from);
            KQovFieldFile file;
            ASSERT_TRUE(file.Open(name.c_str(), false, true, nullptr, c.update));
            ASSERT_NE(file.GetTree(), nullptr);
            EXPECT_EQ(file.GetTree()->IsMapped(), c.mapped);
            ASSERT_TRUE(file.FieldReadBegin("A"));
            EXPECT_EQ(file.FieldReadI(), 1);
            EXPECT_EQ(file.FieldReadD(), 2.5);
            EXPECT_STREQ(file.FieldReadC(), "x");
            file.FieldReadEnd();
        }
        if (!c.update) {
            EXPECT_EQ(qovtest::ReadAll(name), before);
        }
    }
}

// A mapped file cut or written anew by another program (as a copy over it does): the part is
// refused when the file changed since it was opened, and a file changed under a parsed part
// is found by CheckFileUnchanged, also once the part is finished. A record whose header was
// written anew gets no more values than fit before the next record, and a list whose values
// no longer decode ends rather than holding a loop over what remains.
TEST(KQovFieldReaderMapping, FileWrittenAnewUnderTheMapping) {
    enum Change { eNone, eCutBeforeThePart, eCutAfterTheRead, eHeaderWrittenAnew };
    const struct {
        const char* what;
        Change change;
    } kCases[] = {
        {"untouched", eNone},
        {"cut after the open, before the part", eCutBeforeThePart},
        {"cut after the lists were read", eCutAfterTheRead},
        {"a header and values written anew, same size", eHeaderWrittenAnew},
    };
    const size_t kCount = 400000;  // 3.6 MB a list: mapped
    const std::vector<double> doubles(kCount, 0.25);
    const char* const kCutShort = "Read error: the file was cut short while it was read";
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TempFolder tmp;
        const std::string name = tmp / "changed.qov";
        ASSERT_NO_FATAL_FAILURE(qovtest::WriteTwoDoubleFields(name, doubles));
        const std::string bytes = qovtest::ReadAll(name);
        // Written long ago: a write now gives it another time.
        const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), past, 0), 0);
        KQovFieldFile in;
        ASSERT_TRUE(in.Open(name.c_str(), false, false, nullptr));
        if (c.change == eCutBeforeThePart) {
            ASSERT_EQ(truncate(name.c_str(), off_t(bytes.size() - 100)), 0);
            EXPECT_FALSE(in.FieldFileSelectFirstPart());
            EXPECT_EQ(in.GetLastErrorID(), KQovFieldFile::eReadError);
            EXPECT_STREQ(in.GetLastErrorString(), kCutShort);
            EXPECT_FALSE(in.CheckFileUnchanged());
            continue;
        }
        ASSERT_TRUE(in.FieldFileSelectFirstPart());
        ASSERT_TRUE(in.GetTree()->IsMapped());
        std::vector<double> back(kCount);
        if (c.change == eHeaderWrittenAnew) {
            // The first list's count made the largest there is, and the second list's
            // values given type letters no value has.
            std::string other = bytes;
            const size_t first = other.find(std::string(1, '\x05') + "First");
            // (The creation time stamp has a "Second" of its own, before both.)
            const size_t second = other.find(std::string(1, '\x06') + "Second", first);
            ASSERT_NE(first, std::string::npos);
            ASSERT_NE(second, std::string::npos);
            std::memset(&other[first - 8], 0xFF, 4);
            for (size_t at = second + 7; at < second + 7 + 9 * kCount; at += 9) other[at] = 'Z';
            qovtest::WriteAll(name, other);
            ASSERT_TRUE(in.FieldReadBegin("First"));
            // The list's own bytes and the second record's header, at two bytes a value.
            EXPECT_LE(size_t(in.FieldReadGetCount()), (second - first) / 2);
            in.FieldReadEnd();
            ASSERT_TRUE(in.FieldReadBegin("Second"));
            EXPECT_EQ(in.FieldReadGetType(), 'S');  // none to peek at
            EXPECT_EQ(in.FieldReadD(), 0.0);
            EXPECT_EQ(in.FieldReadGetRemain(), 0);
            in.FieldReadEnd();
        } else {
            for (const char* field : {"First", "Second"}) {
                ASSERT_TRUE(in.FieldReadBegin(field));
                EXPECT_EQ(in.FieldReadDoubles(back.data(), kCount), kCount);
                in.FieldReadEnd();
            }
            EXPECT_EQ(back, doubles);
            if (c.change == eCutAfterTheRead) {
                ASSERT_EQ(truncate(name.c_str(), off_t(bytes.size() - 1)), 0);
            }
        }
        const bool unchanged = c.change == eNone;
        EXPECT_EQ(in.CheckFileUnchanged(), unchanged);
        // The answer outlives the part.
        in.Finish();
        EXPECT_EQ(in.CheckFileUnchanged(), unchanged);
        if (unchanged) {
            EXPECT_EQ(in.GetLastErrorID(), -1);
        } else {
            EXPECT_EQ(in.GetLastErrorID(), KQovFieldFile::eReadError);
            EXPECT_STREQ(in.GetLastErrorString(), kCutShort);
        }
    }
}

// Parts read into memory (an ASCII file, a small binary one) are watched as mapped ones are:
// a file written in place, touched, or written with its own bytes and its modification time
// set back while it is open is refused with the cut-short error; one deleted or replaced by a
// renamed file is read as it was opened.
TEST(KQovFieldReaderMapping, FileChangedUnderAReadInMemory) {
    enum Change { eNone, eTouched, eSameBytesTimeSetBack, eRenamedOver, eDeleted };
    const struct {
        const char* what;
        Change change;
        bool changed;
    } kCases[] = {
        {"untouched", eNone, false},
        {"touched", eTouched, true},
        {"its own bytes again, time set back", eSameBytesTimeSetBack, true},
        {"replaced by a renamed file", eRenamedOver, false},
        {"deleted", eDeleted, false},
    };
    const char* const kCutShort = "Read error: the file was cut short while it was read";
    for (const bool binary : {false, true}) {
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(binary ? "binary: " : "ASCII: ") + c.what);
            TempFolder tmp;
            const std::string name = tmp / "small.qov";
            {
                KQovFieldFile out;
                ASSERT_TRUE(out.Create(name.c_str(), binary, false, nullptr));
                out.FieldWriteBegin("A");
                out.FieldWriteI(7);
                out.FieldWriteEnd();
                ASSERT_TRUE(out.FieldFileClose());
            }
            const std::string bytes = qovtest::ReadAll(name);
            const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), past, 0), 0);
            KQovFieldFile in;
            ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr));
            ASSERT_FALSE(in.GetTree()->IsMapped());
            ASSERT_TRUE(in.FieldReadBegin("A"));
            EXPECT_EQ(in.FieldReadI(), 7);
            in.FieldReadEnd();
            WaitForTheFileClock();
            switch (c.change) {
                case eNone:
                    break;
                case eTouched:
                    ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), nullptr, 0), 0);
                    break;
                case eSameBytesTimeSetBack:
                    qovtest::WriteAll(name, bytes);
                    ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), past, 0), 0);
                    break;
                case eRenamedOver:
                    qovtest::WriteAll(tmp / "new.qov", bytes + "more");
                    ASSERT_EQ(std::rename((tmp / "new.qov").c_str(), name.c_str()), 0);
                    break;
                case eDeleted:
                    ASSERT_EQ(std::remove(name.c_str()), 0);
                    break;
            }
            EXPECT_EQ(in.CheckFileUnchanged(), !c.changed);
            in.Finish();
            EXPECT_EQ(in.CheckFileUnchanged(), !c.changed);
            if (c.changed) {
                EXPECT_STREQ(in.GetLastErrorString(), kCutShort);
            }
        }
    }
}
