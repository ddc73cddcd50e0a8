#pragma once
// Temporary folders, whole-file reads and a hand-made binary record builder for the
// field file tests.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "fieldfile/KQovFieldFile.h"

namespace qovtest {

// Writes past `limit` bytes fail (as on a full disk) while the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        mOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &mOld);
        rlimit tight = mOld;
        tight.rlim_cur = limit;
        mSet = setrlimit(RLIMIT_FSIZE, &tight) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &mOld);
        std::signal(SIGXFSZ, mOldHandler);
    }
    bool IsSet() const { return mSet; }

private:
    rlimit mOld;
    void (*mOldHandler)(int);
    bool mSet = false;
};

class TempFolder {
public:
    std::string operator/(const std::string& name) const { return mFolder / name; }
    const std::string& Path() const { return mFolder.path(); }

private:
    TempTestFolder mFolder{"qovff_"};
};

inline std::string ReadAll(const std::string& name) {
    std::string bytes;
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return bytes;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
    std::fclose(f);
    return bytes;
}

inline void WriteAll(const std::string& name, const std::string& bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Little-endian binary records built by hand, independent of the writer.
struct Rec {
    std::string name;
    std::string values;  // already encoded: letter + payload
    uint32_t count = 0;
    std::vector<Rec> children;
    bool block = false;

    Rec(std::string n) : name(std::move(n)) {}
    Rec& I(int32_t v) {
        values += 'I';
        values.append(reinterpret_cast<const char*>(&v), 4);
        ++count;
        return *this;
    }
    Rec& D(double v) {
        values += 'D';
        values.append(reinterpret_cast<const char*>(&v), 8);
        ++count;
        return *this;
    }
    Rec& S(const std::string& s) {
        values += 'S';
        uint32_t n = static_cast<uint32_t>(s.size());
        values.append(reinterpret_cast<const char*>(&n), 4);
        values += s;
        ++count;
        return *this;
    }
    Rec& Raw(const std::string& bytes) {
        values += bytes;
        return *this;
    }
    Rec& Child(Rec r) {
        block = true;
        children.push_back(std::move(r));
        return *this;
    }
};

inline void Put32(std::string& out, uint32_t v) {
    out.append(reinterpret_cast<char*>(&v), 4);
}

inline std::string NullRecord() {
    return std::string(13, '\0');
}

// Appends the record at absolute position out.size() + base.
inline void Encode(std::string& out, const Rec& r, uint64_t base = 0) {
    size_t header = out.size();
    Put32(out, 0);
    Put32(out, r.count);
    Put32(out, static_cast<uint32_t>(r.values.size()));
    out += static_cast<char>(r.name.size());
    out += r.name;
    out += r.values;
    if (r.block) {
        for (const Rec& c : r.children) Encode(out, c, base);
        out += NullRecord();
    }
    uint32_t end = static_cast<uint32_t>(base + out.size());
    std::memcpy(&out[header], &end, 4);
}

// The footer signature that ends every end block.
constexpr uint8_t kFooter[16] = {0xf8, 0x5a, 0x8c, 0x6a, 0xde, 0xf5, 0xd9, 0x7e,
                                 0xec, 0xe9, 0x0c, 0xe3, 0x75, 0x8f, 0x29, 0x0b};

// A binary start of file for `version`.
inline std::string BinaryStart(uint32_t version) {
    std::string s = "Varnoke QOV Binary  ";
    s += '\0';
    s += '\x1a';
    s += '\0';
    Put32(s, version);
    return s;
}

// A binary file of an older writer: one field "Field" = "legacy", no identity fields,
// no end block.
inline std::string LegacyFile() {
    std::string bytes = BinaryStart(5000);
    Encode(bytes, Rec("Field").S("legacy"), 0);
    return bytes + NullRecord();
}

inline std::string Repeat(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += part;
    return out;
}

// A binary file of two fields, "First" and "Second", each holding `doubles` (call it inside
// ASSERT_NO_FATAL_FAILURE).
inline void WriteTwoDoubleFields(const std::string& name, const std::vector<double>& doubles) {
    KQovFieldFile out;
    ASSERT_TRUE(out.Create(name.c_str(), true, false, nullptr));
    for (const char* field : {"First", "Second"}) {
        out.FieldWriteBegin(field);
        out.FieldWriteDn(doubles.data(), doubles.size());
        out.FieldWriteEnd();
    }
    ASSERT_TRUE(out.FieldFileClose());
}

}  // namespace qovtest
