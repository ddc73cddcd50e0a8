#include "io/qov/KQovFieldReader.h"
#include "io/qov/KQovByteOrder.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "foundation/KLocale.h"
#include "io/qov/KQovStream.h"

namespace {

// Blocks with at most this many names are searched without a hash table.
constexpr size_t kLinearNames = 8;

// Payload size of the fixed-size types; 0 for unknown, -1 for length-prefixed ones.
int FixedSize(char type) {
    switch (type) {
        case 'C':
            return 1;
        case 'I':
        case 'F':
            return 4;
        case 'L':
        case 'D':
            return 8;
        case 'S':
        case 'R':
        case 'N':
            return -1;
        default:
            return 0;
    }
}

int64_t ClampToInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (d <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

}  // namespace

KQovFieldReader::KQovFieldReader(KQovStream* stream, int64_t start, bool binary, bool swap)
    : mStream(stream), mStart(start), mBinary(binary), mSwap(binary && swap) {}

bool KQovFieldReader::Fail(const std::string& text) {
    if (mError.empty()) mError = text;
    return false;
}

bool KQovFieldReader::ReadStream(uint64_t count) {
    // The size came from a seek to the end, which not every stream tells truly: the last
    // byte must be there before that much memory is taken.
    if (count > 0) {
        uint8_t last;
        int64_t here = mStream->Tell();
        mStream->SetPosition(mStart + static_cast<int64_t>(count - 1));
        bool there = mStream->Read(&last, 1) == 1;
        mStream->ClearError();
        mStream->SetPosition(here);
        if (!there) return Fail(KFormatC("Read error at %lld", (long long)(mStart + count - 1)));
    }
    try {
        mBytes.resize(count);
    } catch (const std::bad_alloc&) {
        return Fail(KFormatC("Out of memory for %llu bytes", (unsigned long long)count));
    }
    uint64_t done = 0;
    while (done < count) {
        uint64_t left = count - done;
        uint32_t chunk = left > (1u << 24) ? (1u << 24) : static_cast<uint32_t>(left);
        uint32_t got = mStream->Read(mBytes.data() + done, chunk);
        if (got == 0) break;
        done += got;
    }
    if (done < count) return Fail(KFormatC("Read error at %lld", (long long)(mStart + done)));
    return true;
}

bool KQovFieldReader::Parse(int64_t end, bool firstFieldOnly) {
    if (!mStream || !mStream->IsOpen()) return Fail("File not opened");
    int64_t size = mStream->Size();
    int64_t limit = end < 0 || end > size ? size : end;
    if (mStart < 0 || limit < mStart) return Fail("Part starts beyond the end of the file");
    mStream->SetPosition(mStart);
    uint64_t count = static_cast<uint64_t>(limit - mStart);
    if (mBinary && firstFieldOnly && count >= 13) {
        // Only the first record is wanted: read its header to learn its size.
        uint8_t head[13];
        if (mStream->Read(head, 13) != 13) return Fail("Read error");
        uint32_t recordEnd;
        std::memcpy(&recordEnd, head, 4);
        if (mSwap) recordEnd = KQovSwap32(recordEnd);
        if (recordEnd > static_cast<uint64_t>(mStart) + 13 &&
            recordEnd <= static_cast<uint64_t>(limit))
            count = recordEnd - static_cast<uint64_t>(mStart);
        else
            count = 13;
        mStream->SetPosition(mStart);
    }
    mBytes.clear();
    if (!ReadStream(count)) return false;
    std::vector<uint8_t> bytes;
    bytes.swap(mBytes);
    return ParseBytes(std::move(bytes), firstFieldOnly);
}

bool KQovFieldReader::ParseBytes(std::vector<uint8_t> bytes, bool firstFieldOnly) {
    mRecords.clear();
    mBlocks.clear();
    mTexts.clear();
    mConsumed = 0;
    if (mBinary) {
        mBytes = std::move(bytes);
        NewBlock(-1);
        return ParseBinary(firstFieldOnly);
    }
    mBytes.clear();
    NewBlock(-1);
    return ParseAscii(bytes, firstFieldOnly);
}

int32_t KQovFieldReader::NewBlock(int32_t parent) {
    mBlocks.emplace_back();
    mBlocks.back().parent = parent;
    return static_cast<int32_t>(mBlocks.size() - 1);
}

uint32_t KQovFieldReader::AddRecord(int32_t blockIndex, const std::string& name,
                                    const Record& record) {
    Block& block = mBlocks[static_cast<size_t>(blockIndex)];
    uint32_t index = static_cast<uint32_t>(mRecords.size());
    mRecords.push_back(record);
    int32_t found = FindInBlock(block, name.data(), name.size());
    uint32_t nameIndex;
    if (found < 0) {
        nameIndex = static_cast<uint32_t>(block.names.size());
        block.names.emplace_back();
        block.names.back().text = name;
        if (block.lookup) {
            block.lookup->emplace(name, nameIndex);
        } else if (block.names.size() > kLinearNames) {
            block.lookup.reset(new std::unordered_map<std::string, uint32_t>);
            for (uint32_t i = 0; i < block.names.size(); ++i)
                block.lookup->emplace(block.names[i].text, i);
        }
    } else {
        nameIndex = static_cast<uint32_t>(found);
    }
    block.names[nameIndex].records.push_back(index);
    block.records.push_back(index);
    mRecords[index].name = nameIndex;
    mRecords[index].cursorOffset = record.valuesBegin;
    return index;
}

uint32_t KQovFieldReader::ReadU32(uint64_t offset) const {
    uint32_t v;
    std::memcpy(&v, mBytes.data() + offset, 4);
    return mSwap ? KQovSwap32(v) : v;
}

uint64_t KQovFieldReader::ReadU64(uint64_t offset) const {
    uint64_t v;
    std::memcpy(&v, mBytes.data() + offset, 8);
    return mSwap ? KQovSwap64(v) : v;
}

bool KQovFieldReader::DecodeAt(uint64_t offset, Value& value, uint64_t& next) const {
    uint64_t limit = mBytes.size();
    if (offset >= limit) return false;
    char type = static_cast<char>(mBytes[offset]);
    int fixed = FixedSize(type);
    if (fixed == 0) return false;
    uint64_t payload = offset + 1;
    uint64_t size;
    if (fixed > 0) {
        size = static_cast<uint64_t>(fixed);
    } else {
        if (limit - payload < 4) return false;
        size = ReadU32(payload);
        payload += 4;
    }
    if (limit - payload < size) return false;
    value.type = type;
    value.data = mBytes.data() + payload;
    value.size = static_cast<uint32_t>(size);
    value.offset = offset;
    next = payload + size;
    return true;
}

bool KQovFieldReader::ParseBinary(bool firstFieldOnly) {
    uint64_t pos = 0;
    if (firstFieldOnly && mBytes.size() >= 13) {
        static const uint8_t kNull[13] = {};
        if (std::memcmp(mBytes.data(), kNull, 13) == 0) return true;  // an empty list
    }
    if (!ParseBinaryList(pos, mBytes.size(), 0, 0, true, firstFieldOnly)) return false;
    mConsumed = pos;
    return true;
}

bool KQovFieldReader::ParseBinaryList(uint64_t& pos, uint64_t limit, int32_t block, int depth,
                                      bool top, bool firstFieldOnly) {
    const uint64_t base = static_cast<uint64_t>(mStart);
    for (;;) {
        if (limit - pos < 13)
            return Fail(KFormatC("Truncated record at %llu", (unsigned long long)(base + pos)));
        uint32_t endAbs = ReadU32(pos);
        uint32_t count = ReadU32(pos + 4);
        uint32_t listLength = ReadU32(pos + 8);
        uint8_t nameLength = mBytes[pos + 12];
        if (endAbs == 0 && count == 0 && listLength == 0 && nameLength == 0) {
            pos += 13;  // the null record that ends a block
            return true;
        }
        uint64_t nameBegin = pos + 13;
        uint64_t valuesBegin = nameBegin + nameLength;
        if (endAbs < base + valuesBegin || endAbs - base > limit)
            return Fail(KFormatC("Record at %llu ends at %u, outside its block",
                                 (unsigned long long)(base + pos), endAbs));
        uint64_t end = endAbs - base;
        if (count > end - valuesBegin)
            return Fail(KFormatC("Record at %llu counts %u values in %llu bytes",
                                 (unsigned long long)(base + pos), count,
                                 (unsigned long long)(end - valuesBegin)));
        uint64_t cursor = valuesBegin;
        for (uint32_t i = 0; i < count; ++i) {
            Value value;
            uint64_t next;
            // 'N' is this parser's own mark for bare ASCII tokens, no letter of a binary file.
            if (!DecodeAt(cursor, value, next) || next > end || value.type == 'N')
                return Fail(KFormatC("Bad value %u of record at %llu", i,
                                     (unsigned long long)(base + pos)));
            cursor = next;
        }
        Record record;
        record.valuesBegin = valuesBegin;
        record.valueCount = count;
        std::string name(reinterpret_cast<const char*>(mBytes.data() + nameBegin), nameLength);
        uint32_t index = AddRecord(block, name, record);
        if (cursor < end) {
            // The bytes after the values are the record's block.
            if (depth + 1 >= kMaxDepth)
                return Fail(KFormatC("Blocks nested deeper than %d", kMaxDepth));
            int32_t child = NewBlock(block);
            mRecords[index].child = child;
            uint64_t inner = cursor;
            if (!ParseBinaryList(inner, end, child, depth + 1, false, false)) return false;
        }
        pos = end;
        if (top && firstFieldOnly) return true;
    }
}

int32_t KQovFieldReader::FindName(int32_t blockIndex, const char* name) const {
    if (blockIndex < 0 || static_cast<size_t>(blockIndex) >= mBlocks.size() || !name) return -1;
    const Block& block = mBlocks[static_cast<size_t>(blockIndex)];
    return FindInBlock(block, name, std::strlen(name));
}

int32_t KQovFieldReader::FindInBlock(const Block& block, const char* name, size_t length) {
    if (block.lookup) {
        auto found = block.lookup->find(std::string(name, length));
        return found == block.lookup->end() ? -1 : static_cast<int32_t>(found->second);
    }
    for (size_t i = 0; i < block.names.size(); ++i) {
        const std::string& text = block.names[i].text;
        if (text.size() == length && std::memcmp(text.data(), name, length) == 0)
            return static_cast<int32_t>(i);
    }
    return -1;
}

bool KQovFieldReader::PeekValue(const Record& record, Value& value) const {
    if (record.cursorIndex >= record.valueCount) return false;
    uint64_t next;
    return DecodeAt(record.cursorOffset, value, next);
}

bool KQovFieldReader::NextValue(Record& record, Value& value) const {
    if (record.cursorIndex >= record.valueCount) return false;
    uint64_t next;
    if (!DecodeAt(record.cursorOffset, value, next)) return false;
    record.cursorOffset = next;
    ++record.cursorIndex;
    return true;
}

void KQovFieldReader::RewindValues(Record& record) const {
    record.cursorIndex = 0;
    record.cursorOffset = record.valuesBegin;
}

void KQovFieldReader::ResetCursors() {
    for (Block& block : mBlocks) {
        block.currentName = -1;
        for (Name& name : block.names) name.cursor = 0;
    }
}

char KQovFieldReader::ToChar(const Value& value) const {
    switch (value.type) {
        case 'C':
        case 'S':
        case 'N':
            return value.size ? static_cast<char>(value.data[0]) : 0;
        case 'R':
            return 0;
        default:
            return static_cast<char>(ToInt64(value));
    }
}

int64_t KQovFieldReader::ToInt64(const Value& value) const {
    uint64_t at = static_cast<uint64_t>(value.data - mBytes.data());
    switch (value.type) {
        case 'C':
            return static_cast<signed char>(value.data[0]);
        case 'I':
            return static_cast<int32_t>(ReadU32(at));
        case 'L':
            return static_cast<int64_t>(ReadU64(at));
        case 'F':
        case 'D':
            return ClampToInt64(ToDouble(value));
        case 'S':
        case 'N': {
            std::string text(reinterpret_cast<const char*>(value.data), value.size);
            long long whole;
            if (KParseInt64(text, whole)) return whole;
            double d;
            if (ParseNumberText(text.data(), text.size(), d)) return ClampToInt64(d);
            return 0;
        }
        default:
            return 0;
    }
}

double KQovFieldReader::ToDouble(const Value& value) const {
    uint64_t at = static_cast<uint64_t>(value.data - mBytes.data());
    switch (value.type) {
        case 'C':
            return static_cast<signed char>(value.data[0]);
        case 'I':
            return static_cast<int32_t>(ReadU32(at));
        case 'L':
            return static_cast<double>(static_cast<int64_t>(ReadU64(at)));
        case 'F': {
            uint32_t bits = ReadU32(at);
            float f;
            std::memcpy(&f, &bits, 4);
            return f;
        }
        case 'D': {
            uint64_t bits = ReadU64(at);
            double d;
            std::memcpy(&d, &bits, 8);
            return d;
        }
        case 'S':
        case 'N': {
            double d;
            return ParseNumberText(reinterpret_cast<const char*>(value.data), value.size, d) ? d
                                                                                             : 0.0;
        }
        default:
            return 0.0;
    }
}

const char* KQovFieldReader::ToText(const Value& value) {
    auto found = mTexts.find(value.offset);
    if (found != mTexts.end()) return found->second.c_str();
    std::string text;
    const char* bytes = reinterpret_cast<const char*>(value.data);
    switch (value.type) {
        case 'S': {
            text.assign(bytes, value.size);
            // Binary files store "A::B" as "B", 0x00, 0x01, "A".
            size_t split = mBinary ? text.find(std::string("\0\1", 2)) : std::string::npos;
            if (split != std::string::npos)
                text = text.substr(split + 2) + "::" + text.substr(0, split);
            break;
        }
        case 'N':
            text.assign(bytes, value.size);
            break;
        case 'C':
            text.assign(bytes, 1);
            break;
        case 'I':
        case 'L':
            text = KFormatC("%lld", (long long)ToInt64(value));
            break;
        case 'F':
        case 'D':
            text = KFormatC("%.15g", ToDouble(value));
            break;
        default:
            break;
    }
    return mTexts.emplace(value.offset, std::move(text)).first->second.c_str();
}

char KQovFieldReader::ReportedType(const Value& value) const {
    if (value.type != 'N') return value.type;
    std::string text(reinterpret_cast<const char*>(value.data), value.size);
    long long whole;
    if (KParseInt64(text, whole)) return whole >= INT32_MIN && whole <= INT32_MAX ? 'I' : 'L';
    double d;
    if (ParseNumberText(text.data(), text.size(), d)) return 'D';
    return value.size == 1 ? 'C' : 'S';
}

bool KQovFieldReader::ParseNumberText(const char* text, size_t size, double& out) {
    std::string t(text, size);
    if (KParseDouble(t, out)) return true;
    // Windows runtimes print infinities and NaNs as "1.#INF", "-1.#IND", "1.#QNAN" ...
    size_t first = t.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    size_t last = t.find_last_not_of(" \t");
    t = t.substr(first, last - first + 1);
    bool negative = !t.empty() && t[0] == '-';
    size_t hash = t.find(".#");
    if (hash == std::string::npos) return false;
    std::string kind = t.substr(hash + 2);
    for (char& c : kind) c = KToUpper(c);
    if (kind.compare(0, 3, "INF") == 0) {
        out = negative ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    if (kind.compare(0, 3, "IND") == 0 || kind.compare(0, 4, "QNAN") == 0 ||
        kind.compare(0, 4, "SNAN") == 0) {
        out = negative ? -std::numeric_limits<double>::quiet_NaN()
                       : std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    return false;
}
