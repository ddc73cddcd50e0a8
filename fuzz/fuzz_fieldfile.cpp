// Untrusted bytes through the field file: the parser on its own (binary, byte-swapped
// binary and ASCII), then the whole open path (start of file, header extension, key
// block, end blocks, identity) from a file, its parts read into memory and mapped, reading
// every value of every part.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"

namespace {

void WalkTree(KQovFieldReader& tree, int32_t block, int depth) {
    if (depth > KQovFieldReader::kMaxDepth) __builtin_trap();
    const uint32_t end = tree.GetBlock(block).endRecord;
    for (uint32_t index = tree.GetBlock(block).firstRecord; index < end;
         index = tree.NextSibling(index)) {
        KQovFieldReader::Record record = tree.GetRecord(index);
        KQovFieldReader::Value value;
        while (tree.NextValue(record, value)) {
            tree.ToChar(value);
            tree.ToInt64(value);
            tree.ToDouble(value);
            tree.ToText(value);
            tree.ReportedType(value);
        }
        if (record.child >= 0) WalkTree(tree, record.child, depth + 1);
    }
}

void WalkFile(KQovFieldFile& file, int depth) {
    for (int n = 0; n < file.FieldReadGetNameCount(); ++n) {
        for (int k = 0; file.FieldReadBeginByIndex(n, k); ++k) {
            file.FieldReadGetType();
            while (file.FieldReadGetRemain() > 0) {
                if (file.FieldReadGetRemain() % 2) {
                    file.FieldReadC();
                } else {
                    uint32_t size;
                    file.FieldReadR(size);
                }
            }
            if (file.FieldReadBlockBegin()) {
                WalkFile(file, depth + 1);
                file.FieldReadBlockEnd();
            }
            file.FieldReadEnd();
        }
    }
}

std::string TempName() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_fieldfile_" + std::to_string(getpid()) +
           ".qov";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    // Every list checked when parsed, and every list left to its first read (small inputs
    // never reach the size from which lists wait).
    for (const uint32_t later : {KQovFieldReader::kCheckLaterFrom, 1u}) {
        const uint32_t old = KQovFieldReader::SetCheckLaterFrom(later);
        for (int mode = 0; mode < 3; ++mode) {
            KQovFieldReader reader(nullptr, 0, mode < 2, mode == 1);
            if (reader.ParseBytes(bytes)) WalkTree(reader, reader.GetRoot(), 0);
        }
        KQovFieldReader::SetCheckLaterFrom(old);
    }
    static const std::string name = TempName();
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    // Parts read into memory, then parsed from a mapping of the file, its lists left to their
    // first read.
    for (const uint64_t mapFrom : {UINT64_MAX, uint64_t(1)}) {
        const uint64_t old = KQovFieldReader::SetMappingFrom(mapFrom);
        const uint32_t oldLater = KQovFieldReader::SetCheckLaterFrom(
            mapFrom == 1 ? 1u : KQovFieldReader::kCheckLaterFrom);
        KQovFieldFile file;
        KQovHeaderInfo info;
        if (file.FieldFileOpenFile(name.c_str(), true, false, &info)) {
            for (int part = 0; part < file.GetPartCount() && part < 8; ++part) {
                if (file.FieldFileSelectPart(part)) {
                    WalkFile(file, 0);
                    file.CheckPassword("x");
                }
                file.Finish();
            }
        }
        file.FieldFileClose();
        KQovFieldReader::SetMappingFrom(old);
        KQovFieldReader::SetCheckLaterFrom(oldLater);
    }
    return 0;
}
