#include "fieldfile/KQovFieldReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "fieldfile/KQovStream.h"
#include "foundation/KLocale.h"
#include "platform/KPlatformSystem.h"

namespace {

// Payload sizes of the fixed-size value types by letter, 0 for the others.
constexpr struct FixedSizes {
    uint8_t size[256] = {};
    constexpr FixedSizes() {
        size[uint8_t('C')] = 1;
        size[uint8_t('I')] = size[uint8_t('F')] = 4;
        size[uint8_t('L')] = size[uint8_t('D')] = 8;
    }
    constexpr uint32_t operator[](uint8_t type) const { return size[type]; }
} kFixedSizes;

// Walks fixed-size values from `cursor`, at most `left`, up to the first one of another kind
// or without room, calling visit(at, type, size) for each; the number walked. A value has
// room when it ends by `end`, or with `kWholeWord` when a whole 8-byte payload would. Where a
// value starts depends on the size of every one before it, so a walk one at a time waits on
// each type byte in turn. Types that repeat a short pattern (an array: one type; a curve's
// keys: ticks, value, letters) are walked a repetition at a time instead: the type bytes of
// the next one sit at known places and are all checked before it is taken.
template <bool kWholeWord, class Visit>
uint32_t WalkFixedValues(const uint8_t* bytes, uint64_t& cursor, uint64_t end, uint32_t left,
                         Visit visit) {
    constexpr uint32_t kProbe = 16, kLongestPattern = 8;
    // `at` < `end` holds wherever this is asked.
    auto fits = [end](uint64_t at, uint32_t size) {
        return kWholeWord ? end - at >= 9 : end - at > size;
    };
    uint8_t types[kProbe];
    uint64_t starts[kProbe];
    uint32_t walked = 0;
    while (walked < left) {
        // One at a time, until the last values show a pattern.
        uint32_t n = 0;
        for (; n < kProbe && walked < left && cursor < end; ++n, ++walked) {
            const uint8_t type = bytes[cursor];
            const uint32_t size = kFixedSizes[type];
            if (size == 0 || !fits(cursor, size)) return walked;
            visit(cursor, type, size);
            types[n] = type;
            starts[n] = cursor;
            cursor += 1 + size;
        }
        if (n < kProbe) return walked;
        // The shortest pattern all of them repeat.
        uint32_t period = 1;
        while (period <= kLongestPattern &&
               std::memcmp(types, types + period, kProbe - period) != 0)
            ++period;
        if (period > kLongestPattern) continue;
        const uint32_t first = kProbe - period;
        const uint64_t stride = cursor - starts[first];
        if (period == 1) {
            // An array: as many values as have room are counted up front, so that only
            // their type letters are checked.
            const uint8_t type = types[first];
            const uint32_t size = static_cast<uint32_t>(stride - 1);
            const uint64_t need = kWholeWord ? 9 : stride;
            const uint64_t room = end - cursor >= need ? (end - cursor - need) / stride + 1 : 0;
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left - walked, room));
            uint32_t k = 0;
            for (; k < n && bytes[cursor] == type; ++k, cursor += stride) visit(cursor, type, size);
            walked += k;
            continue;
        }
        uint64_t offsets[kLongestPattern];
        for (uint32_t j = 0; j < period; ++j) offsets[j] = starts[first + j] - starts[first];
        const uint64_t lastOffset = offsets[period - 1];
        const uint32_t lastSize = kFixedSizes[types[kProbe - 1]];
        // Every earlier value of a repetition starts and ends before its last one.
        while (left - walked >= period && end - cursor > lastOffset &&
               fits(cursor + lastOffset, lastSize)) {
            bool same = true;
            for (uint32_t j = 0; j < period; ++j)
                same &= bytes[cursor + offsets[j]] == types[first + j];
            if (!same) break;
            for (uint32_t j = 0; j < period; ++j)
                visit(cursor + offsets[j], types[first + j], kFixedSizes[types[first + j]]);
            cursor += stride;
            walked += period;
        }
    }
    return walked;
}

// Blocks with at most this many names are searched without a hash table.
constexpr size_t kLinearNames = 8;

uint32_t HashName(const char* name, size_t length) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < length; ++i) h = (h ^ static_cast<uint8_t>(name[i])) * 16777619u;
    return h;
}

// Drops the growth slack of a vector that is done growing.
template <typename Vector>
void Trim(Vector& v) {
    if (v.capacity() - v.size() > v.size() / 8) v.shrink_to_fit();
}

int64_t ClampToInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (d <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

}  // namespace

std::atomic<uint64_t> KQovFieldReader::sMappingFrom{KQovFieldReader::kMappingFrom};

uint64_t KQovFieldReader::SetMappingFrom(uint64_t bytes) {
    return sMappingFrom.exchange(bytes);
}

std::atomic<uint32_t> KQovFieldReader::sCheckLaterFrom{KQovFieldReader::kCheckLaterFrom};

uint32_t KQovFieldReader::SetCheckLaterFrom(uint32_t bytes) {
    return sCheckLaterFrom.exchange(bytes);
}

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
    // Running out of memory here is no damage of the file: it goes to the caller as such.
    mBytes.resize(count);
    // A large file's bytes fill its buffer whole: large pages save most of its page faults.
    mReleaseUnit = KPlatformPageSize();
    if (count >= kLargeBuffer)
        mReleaseUnit = std::max(mReleaseUnit, KPlatformPreferLargePages(mBytes.data(), count));
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
        uint32_t recordEnd = KLoadU32(head, Order());
        if (recordEnd > static_cast<uint64_t>(mStart) + 13 &&
            recordEnd <= static_cast<uint64_t>(limit))
            count = recordEnd - static_cast<uint64_t>(mStart);
        else
            count = 13;
        mStream->SetPosition(mStart);
    }
    mMapping.reset();
    mBytes.clear();
    SyncView();
    // A large binary part is parsed where the system keeps the file, rather than copied into
    // fresh memory first. Small ones, and streams whose bytes are no file's as they stand,
    // are read.
    if (mBinary && count >= sMappingFrom) {
        if (FILE* file = mStream->GetReadOnlyFile()) {
            std::unique_ptr<KPlatformFileMapping> mapping(new KPlatformFileMapping);
            if (mapping->Map(file, static_cast<uint64_t>(mStart), count)) {
                mStream->SetPosition(mStart + static_cast<int64_t>(count));
                return ParseMapping(std::move(mapping), firstFieldOnly);
            }
        }
    }
    if (!ReadStream(count)) return false;
    KQovByteBuffer bytes;
    bytes.swap(mBytes);
    return ParseBuffer(std::move(bytes), firstFieldOnly);
}

bool KQovFieldReader::ParseBytes(std::vector<uint8_t> bytes, bool firstFieldOnly) {
    mReleaseUnit = 0;
    return ParseBuffer(KQovByteBuffer(bytes.begin(), bytes.end()), firstFieldOnly);
}

void KQovFieldReader::ClearTree() {
    mUnchecked.clear();
    mValueError.clear();
    mRecords.clear();
    mBlocks.clear();
    mReleased.clear();
    mTexts.Clear();
    mNameTexts.Clear();
    mConsumed = 0;
    mLostReleased = false;
}

bool KQovFieldReader::ParseBuffer(KQovByteBuffer bytes, bool firstFieldOnly) {
    ClearTree();
    mMapping.reset();
    bool ok;
    if (mBinary) {
        mBytes = std::move(bytes);
        SyncView();
        NewBlock(-1);
        ok = ParseBinary(firstFieldOnly);
    } else {
        mBytes.clear();
        SyncView();
        NewBlock(-1);
        ok = ParseAscii(bytes, firstFieldOnly);
    }
    FinishTree();
    return ok;
}

bool KQovFieldReader::ParseMapping(std::unique_ptr<KPlatformFileMapping> mapping,
                                   bool firstFieldOnly) {
    ClearTree();
    mBytes = KQovByteBuffer();
    mMapping = std::move(mapping);
    mData = mMapping->GetData();
    mSize = mMapping->GetSize();
    // Pages given back come again from the file.
    mReleaseUnit = KPlatformPageSize();
    NewBlock(-1);
    const bool ok = ParseBinary(firstFieldOnly);
    FinishTree();
    return ok;
}

void KQovFieldReader::FinishTree() {
    // A failed parse leaves blocks open: they hold every record after their first.
    for (Block& block : mBlocks) {
        if (!block.closed) block.endRecord = static_cast<uint32_t>(mRecords.size());
        Trim(block.names);
    }
    Trim(mRecords);
    Trim(mBlocks);
    if (!mBinary) Trim(mBytes);
    SyncView();
}

int32_t KQovFieldReader::NewBlock(int32_t parent) {
    mBlocks.emplace_back();
    Block& block = mBlocks.back();
    block.parent = parent;
    block.firstRecord = static_cast<uint32_t>(mRecords.size());
    block.endRecord = block.firstRecord;
    if (parent >= 0) block.owner = block.firstRecord - 1;  // made right after its record
    return static_cast<int32_t>(mBlocks.size() - 1);
}

uint32_t KQovFieldReader::AddRecord(int32_t blockIndex, uint32_t begin, const char* name,
                                    size_t length, uint32_t textOffset) {
    uint32_t index = static_cast<uint32_t>(mRecords.size());
    mRecords.push_back({begin, kNoRecord});
    if (textOffset == kNoRecord) SyncView();  // the ASCII parser added to the buffer
    Block& block = mBlocks[static_cast<size_t>(blockIndex)];
    int32_t found = FindInBlock(block, name, length);
    if (found < 0) {
        Name added;
        // ASCII names (decoded) and those of a mapping (which may lose its pages) go into
        // the buffer.
        if (textOffset == kNoRecord) {
            textOffset = static_cast<uint32_t>(mBytes.size());
            mBytes.insert(mBytes.end(), name, name + length);
            SyncView();
        }
        added.textOffset = textOffset;
        added.textSize = static_cast<uint32_t>(length);
        added.first = index;
        added.count = 1;
        added.lastRecord = index;
        block.names.push_back(added);
        IndexName(block, static_cast<uint32_t>(block.names.size() - 1));
    } else {
        Name& known = block.names[static_cast<size_t>(found)];
        mRecords[known.lastRecord].next = index;
        known.lastRecord = index;
        known.lastIndex = known.count++;
    }
    return index;
}

void KQovFieldReader::IndexName(Block& block, uint32_t nameIndex) {
    size_t names = block.names.size();
    if (names <= kLinearNames) return;
    if (names * 4 <= block.lookup.size() * 3) {
        const Name& name = block.names[nameIndex];
        size_t mask = block.lookup.size() - 1;
        size_t at =
            HashName(reinterpret_cast<const char*>(NameBytes() + name.textOffset), name.textSize) &
            mask;
        while (block.lookup[at] != 0) at = (at + 1) & mask;
        block.lookup[at] = nameIndex + 1;
        return;
    }
    size_t size = 16;
    while (names * 4 > size * 3) size *= 2;
    block.lookup.assign(size, 0);
    for (uint32_t i = 0; i < names; ++i) IndexName(block, i);
}

uint32_t KQovFieldReader::ReadU32(uint64_t offset) const {
    return KLoadU32(mData + offset, Order());
}

uint64_t KQovFieldReader::ReadU64(uint64_t offset) const {
    return KLoadU64(mData + offset, Order());
}

bool KQovFieldReader::DecodeAt(uint64_t offset, Value& value, uint64_t& next) const {
    uint64_t limit = mSize;
    if (offset >= limit) return false;
    char type = static_cast<char>(mData[offset]);
    int fixed = FixedSize(type);
    if (fixed == 0) return false;
    uint64_t payload = offset + 1;
    uint64_t size;
    uint64_t end = 0;  // bytes after the payload
    if (fixed > 0) {
        size = static_cast<uint64_t>(fixed);
    } else if (!mBinary) {
        uint32_t length;
        if (!ReadVarint(payload, length)) return false;
        size = length;
        end = 1;  // the parser's NUL
    } else {
        if (limit - payload < 4) return false;
        size = ReadU32(payload);
        payload += 4;
    }
    if (limit - payload < size + end) return false;
    value.type = type;
    value.data = mData + payload;
    value.size = static_cast<uint32_t>(size);
    value.offset = offset;
    next = payload + size + end;
    return true;
}

bool KQovFieldReader::ParseBinary(bool firstFieldOnly) {
    uint64_t pos = 0;
    if (firstFieldOnly && mSize >= 13) {
        static const uint8_t kNull[13] = {};
        if (std::memcmp(mData, kNull, 13) == 0) return true;  // an empty list
    }
    if (!ParseBinaryList(pos, mSize, 0, 0, true, firstFieldOnly)) return false;
    mConsumed = pos;
    return true;
}

bool KQovFieldReader::CheckValues(uint64_t pos, uint64_t end, uint64_t& valuesEnd,
                                  std::string& error) const {
    const uint64_t base = static_cast<uint64_t>(mStart);
    const uint32_t count = ReadU32(pos + 4);
    const uint32_t listLength = ReadU32(pos + 8);
    const uint64_t valuesBegin = pos + 13 + mData[pos + 12];
    uint64_t cursor = valuesBegin;
    const uint8_t* bytes = mData;
    for (uint32_t i = 0; i < count;) {
        // Fixed-size values, the bulk of a file, by table, a repeating pattern of types at a
        // time; the others decoded.
        const uint32_t fixed = cursor < end ? kFixedSizes[bytes[cursor]] : 0;
        if (fixed != 0 && end - cursor > fixed) {
            i += WalkFixedValues<false>(bytes, cursor, end, count - i,
                                        [](uint64_t, uint8_t, uint32_t) {});
            continue;
        }
        Value value;
        uint64_t next;
        // 'N' is this parser's own mark for bare ASCII tokens, no letter of a binary file.
        if (!DecodeAt(cursor, value, next) || next > end || value.type == 'N') {
            error = KFormatC("Bad value %u of record at %llu", i, (unsigned long long)(base + pos));
            return false;
        }
        cursor = next;
        ++i;
    }
    if (cursor - valuesBegin != listLength) {
        error = KFormatC("Record at %llu holds %llu bytes of values, not %u",
                         (unsigned long long)(base + pos),
                         (unsigned long long)(cursor - valuesBegin), listLength);
        return false;
    }
    valuesEnd = cursor;
    return true;
}

bool KQovFieldReader::ParseBinaryList(uint64_t& pos, uint64_t limit, int32_t block, int depth,
                                      bool top, bool firstFieldOnly) {
    const uint64_t base = static_cast<uint64_t>(mStart);
    for (;;) {
        KBinaryReader header(mData + pos, limit - pos, Order());
        uint32_t endAbs = header.U32();
        uint32_t count = header.U32();
        uint32_t listLength = header.U32();
        uint8_t nameLength = header.U8();
        if (!header.Ok())
            return Fail(KFormatC("Truncated record at %llu", (unsigned long long)(base + pos)));
        if (endAbs == 0 && count == 0 && listLength == 0 && nameLength == 0) {
            pos += 13;  // the null record that ends a block
            mBlocks[static_cast<size_t>(block)].endRecord = static_cast<uint32_t>(mRecords.size());
            mBlocks[static_cast<size_t>(block)].closed = true;
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
        if (listLength > end - valuesBegin)
            return Fail(KFormatC("Record at %llu has %u bytes of values past its end",
                                 (unsigned long long)(base + pos), listLength));
        // Long lists are checked when first read, while their bytes are fresh for the read;
        // a bad one is then reported as it would be here.
        const bool later = listLength >= sCheckLaterFrom.load(std::memory_order_relaxed);
        uint64_t cursor = valuesBegin + listLength;
        std::string error;
        if (!later && !CheckValues(pos, end, cursor, error)) return Fail(error);
        if (later) mUnchecked.push_back({static_cast<uint32_t>(mRecords.size()), end, false});
        AddRecord(block, static_cast<uint32_t>(pos),
                  reinterpret_cast<const char*>(mData + nameBegin), nameLength,
                  mMapping ? kNoRecord : static_cast<uint32_t>(nameBegin));
        if (cursor < end) {
            // The bytes after the values are the record's block.
            if (depth + 1 >= kMaxDepth)
                return Fail(KFormatC("Blocks nested deeper than %d", kMaxDepth));
            int32_t child = NewBlock(block);
            uint64_t inner = cursor;
            if (!ParseBinaryList(inner, end, child, depth + 1, false, false)) return false;
        }
        pos = end;
        mBlocks[static_cast<size_t>(block)].endRecord = static_cast<uint32_t>(mRecords.size());
        if (top && firstFieldOnly) {
            mBlocks[static_cast<size_t>(block)].closed = true;
            return true;
        }
    }
}

int32_t KQovFieldReader::FindName(int32_t blockIndex, const char* name) const {
    if (blockIndex < 0 || static_cast<size_t>(blockIndex) >= mBlocks.size() || !name) return -1;
    const Block& block = mBlocks[static_cast<size_t>(blockIndex)];
    return FindInBlock(block, name, std::strlen(name));
}

int32_t KQovFieldReader::FindInBlock(const Block& block, const char* name, size_t length) const {
    auto same = [&](const Name& known) {
        return known.textSize == length &&
               std::memcmp(NameBytes() + known.textOffset, name, length) == 0;
    };
    if (!block.lookup.empty()) {
        size_t mask = block.lookup.size() - 1;
        for (size_t at = HashName(name, length) & mask; block.lookup[at] != 0;
             at = (at + 1) & mask) {
            uint32_t index = block.lookup[at] - 1;
            if (same(block.names[index])) return static_cast<int32_t>(index);
        }
        return -1;
    }
    for (size_t i = 0; i < block.names.size(); ++i)
        if (same(block.names[i])) return static_cast<int32_t>(i);
    return -1;
}

size_t KQovFieldReader::GetMemoryUse() const {
    size_t bytes = sizeof(*this) + mBytes.capacity() + (mMapping ? mSize : 0) +
                   mRecords.capacity() * sizeof(Stored) + mBlocks.capacity() * sizeof(Block);
    for (const Block& block : mBlocks)
        bytes += block.names.capacity() * sizeof(Name) + block.lookup.capacity() * 4;
    return bytes + mTexts.GetMemoryUse() + mNameTexts.GetMemoryUse();
}

int32_t KQovFieldReader::ChildOf(uint32_t record) const {
    // Blocks are made in the order of their records. Records are mostly asked for in file
    // order: the search starts where the last one ended and widens from there, and finds
    // the first block in [low, high) whose record is not before `record`.
    const size_t count = mBlocks.size();
    if (count <= 1) return -1;
    const size_t hint = std::clamp<size_t>(mChildHint, 1, count - 1);
    size_t low, high;
    if (mBlocks[hint].owner < record) {
        low = hint + 1;
        size_t step = 1;
        while (hint + step < count && mBlocks[hint + step].owner < record) {
            low = hint + step + 1;
            step *= 2;
        }
        high = std::min(hint + step, count);
    } else {
        high = hint;
        size_t step = 1;
        while (step < hint && mBlocks[hint - step].owner >= record) {
            high = hint - step;
            step *= 2;
        }
        low = step < hint ? hint - step + 1 : 1;
    }
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        if (mBlocks[mid].owner < record)
            low = mid + 1;
        else
            high = mid;
    }
    mChildHint = low;
    return low < count && mBlocks[low].owner == record ? static_cast<int32_t>(low) : -1;
}

uint32_t KQovFieldReader::ValuesBegin(uint32_t begin, uint32_t& count) const {
    if (mBinary) {
        count = ReadU32(begin + 4);
        return begin + 13 + mData[begin + 12];
    }
    uint64_t at = begin;
    uint32_t value = 0;
    ReadVarint(at, value);  // written by the ASCII parser: always whole
    count = value;
    return static_cast<uint32_t>(at);
}

void KQovFieldReader::ReleaseValues(uint32_t index) {
    if (!mBinary || !mStream || index >= mRecords.size() || mReleased.count(index) ||
        dynamic_cast<KQovStreamLayer*>(mStream))
        return;
    const uint32_t begin = mRecords[index].begin;
    uint32_t count;
    const uint64_t values = ValuesBegin(begin, count);
    const uint64_t length = ReadU32(begin + 8);
    if (length < kReleaseBytes || values + length > mSize ||
        FixedSize(static_cast<char>(mData[values])) <= 0)
        return;
    // Only the whole pages inside the values: the bytes around them stay.
    const uintptr_t page = std::max(mReleaseUnit, KPlatformPageSize());
    const uintptr_t base = reinterpret_cast<uintptr_t>(mData);
    const uintptr_t from = (base + values + page - 1) & ~(page - 1);
    const uintptr_t to = (base + values + length) & ~(page - 1);
    if (to <= from || !KPlatformDiscardPages(reinterpret_cast<void*>(from), to - from)) return;
    mReleased[index] = {from - base, to - base};
}

void KQovFieldReader::RestoreValues(uint32_t index) const {
    auto found = mReleased.find(index);
    if (found == mReleased.end()) return;
    const uint64_t begin = found->second.first, end = found->second.second;
    mReleased.erase(found);
    if (mMapping) {
        // The pages of a mapping come back from the file when next touched, if it still
        // holds them; else the record is left with no values, as below.
        uint32_t count;
        const uint64_t values = ValuesBegin(mRecords[index].begin, count);
        const uint64_t length = ReadU32(mRecords[index].begin + 8);
        if (mStream->Size() < mStart + static_cast<int64_t>(values + length)) {
            std::memset(mData + mRecords[index].begin + 4, 0, 4);
            mLostReleased = true;
        }
        return;
    }
    const int64_t here = mStream->Tell();
    mStream->SetPosition(mStart + static_cast<int64_t>(begin));
    uint64_t done = 0;
    while (begin + done < end) {
        const uint64_t left = end - begin - done;
        const uint32_t chunk = left > (1u << 24) ? (1u << 24) : static_cast<uint32_t>(left);
        const uint32_t got = mStream->Read(mData + begin + done, chunk);
        if (got == 0) break;
        done += got;
    }
    // A file cut short since it was parsed: what is missing reads as no value.
    if (begin + done < end) {
        // The file was cut short since it was parsed: the record is left with no values
        // rather than values partly of other bytes.
        std::memset(mData + begin + done, 0, end - begin - done);
        std::memset(mData + mRecords[index].begin + 4, 0, 4);
        mLostReleased = true;
    }
    mStream->ClearError();
    mStream->SetPosition(here);
}

size_t KQovFieldReader::ReadStored(Record& record, Value* out, size_t count) const {
    if (!mBinary || record.cursorIndex >= record.valueCount) return 0;
    if (record.uniform == kMixedUnchecked && !ConfirmValues(record)) return 0;
    const uint32_t left =
        static_cast<uint32_t>(std::min<size_t>(count, record.valueCount - record.cursorIndex));
    const uint8_t* bytes = mData;
    uint64_t cursor = record.cursorOffset;
    size_t n = 0;
    const auto put = [&](uint64_t at, char type, uint32_t size) {
        Value& value = out[n++];
        value.type = type;
        value.data = bytes + at + 1;
        value.size = size;
        value.offset = at;
    };
    if (record.uniform) {
        // Values of the list's one type only: one of another is left for NextValue, which
        // checks the list first.
        const uint8_t type = static_cast<uint8_t>(record.uniform);
        const uint32_t size = kFixedSizes[type];
        // As the walk below: each with room for a whole 8-byte payload.
        const uint64_t room = mSize - cursor >= 9 ? (mSize - cursor - 9) / (1 + size) + 1 : 0;
        const size_t most = static_cast<size_t>(std::min<uint64_t>(left, room));
        while (n < most && bytes[cursor] == type) {
            put(cursor, record.uniform, size);
            cursor += 1 + size;
        }
        record.cursorOffset = static_cast<uint32_t>(cursor);
        record.cursorIndex += static_cast<uint32_t>(n);
        return n;
    }
    WalkFixedValues<true>(
        bytes, cursor, mSize, left,
        [&](uint64_t at, uint8_t type, uint32_t size) { put(at, static_cast<char>(type), size); });
    record.cursorOffset = static_cast<uint32_t>(cursor);
    record.cursorIndex += static_cast<uint32_t>(n);
    return n;
}

char KQovFieldReader::CheckLater(uint32_t index, uint64_t valuesBegin, uint32_t count) const {
    const auto at = std::lower_bound(mUnchecked.begin(), mUnchecked.end(), index,
                                     [](const Unchecked& u, uint32_t i) { return u.record < i; });
    if (at == mUnchecked.end() || at->record != index || at->bad) return 0;
    // A list whose first and last values are of one fixed-size type and whose length is that
    // of as many values of it is taken to hold that type alone: its reads check every type
    // letter anyway, so it is checked whole only if one of another type turns up.
    const uint64_t end = at->end;
    const uint32_t length = ReadU32(mRecords[index].begin + 8);
    const uint8_t type = valuesBegin < end ? mData[valuesBegin] : 0;
    const uint64_t stride = 1 + uint64_t(kFixedSizes[type]);
    if (stride > 1 && count > 0 && uint64_t(count) * stride == length &&
        valuesBegin + length <= end && mData[valuesBegin + length - stride] == type)
        return static_cast<char>(type);
    // Others wait for their first read: a reader of the stored bytes (the keys of a curve)
    // checks each value as it takes it, in one walk instead of two.
    return kMixedUnchecked;
}

void KQovFieldReader::FinishStored(Record& record) const {
    if (record.uniform != kMixedUnchecked || record.cursorIndex != record.valueCount) return;
    const uint32_t index = record.index;
    const auto at = std::lower_bound(mUnchecked.begin(), mUnchecked.end(), index,
                                     [](const Unchecked& u, uint32_t i) { return u.record < i; });
    if (at != mUnchecked.end() && at->record == index && !at->bad &&
        uint64_t(record.cursorOffset) ==
            uint64_t(record.valuesBegin) + ReadU32(mRecords[index].begin + 8)) {
        mUnchecked.erase(at);
        record.uniform = 0;
        return;
    }
    ConfirmValues(record);
}

bool KQovFieldReader::ConfirmValues(Record& record) const {
    const uint32_t index = record.index;
    record.uniform = 0;
    const auto at = std::lower_bound(mUnchecked.begin(), mUnchecked.end(), index,
                                     [](const Unchecked& u, uint32_t i) { return u.record < i; });
    bool good = at == mUnchecked.end() || at->record != index;
    if (!good && !at->bad) {
        uint64_t valuesEnd;
        std::string error;
        good = CheckValues(mRecords[index].begin, at->end, valuesEnd, error);
        if (good) {
            mUnchecked.erase(at);
        } else {
            at->bad = true;
            // The record is left with no values, and the error stays for the file to
            // report: a bad file, or one cut short under its mapping since it was parsed.
            std::memset(mData + mRecords[index].begin + 4, 0, 4);
            if (mLostReleased ||
                (mMapping && (mMapping->LostPages() || !mStream ||
                              mStream->Size() < mStart + static_cast<int64_t>(at->end))))
                mLostReleased = true;
            else if (mValueError.empty())
                mValueError = error;
        }
    }
    if (!good) record.valueCount = record.cursorIndex;
    return good;
}

KQovFieldReader::Record KQovFieldReader::GetRecord(uint32_t index) const {
    if (!mReleased.empty()) RestoreValues(index);
    Record record;
    record.index = index;
    // A file written anew under its mapping may give a record any count and name length:
    // they are kept to what fits before the next record, at two bytes a value (the
    // smallest), so that nothing read from it is sized by more than the file holds.
    const uint64_t extent = index + 1 < mRecords.size() ? mRecords[index + 1].begin : mSize;
    const auto bound = [&] {
        if (!mMapping || !mBinary) return;
        record.valuesBegin = static_cast<uint32_t>(std::min<uint64_t>(record.valuesBegin, extent));
        record.valueCount = static_cast<uint32_t>(
            std::min<uint64_t>(record.valueCount, (extent - record.valuesBegin) / 2));
    };
    record.valuesBegin = ValuesBegin(mRecords[index].begin, record.valueCount);
    bound();
    if (!mUnchecked.empty()) {
        record.uniform = CheckLater(index, record.valuesBegin, record.valueCount);
        // Values found bad are gone.
        if (!record.uniform) {
            ValuesBegin(mRecords[index].begin, record.valueCount);
            bound();
        }
    }
    record.cursorOffset = record.valuesBegin;
    record.child = ChildOf(index);
    return record;
}

uint32_t KQovFieldReader::NextSibling(uint32_t index) const {
    int32_t child = ChildOf(index);
    return child < 0 ? index + 1 : mBlocks[static_cast<size_t>(child)].endRecord;
}

uint32_t KQovFieldReader::GetOccurrence(int32_t blockIndex, int32_t nameIndex,
                                        uint32_t occurrence) {
    if (blockIndex < 0 || static_cast<size_t>(blockIndex) >= mBlocks.size()) return kNoRecord;
    Block& block = mBlocks[static_cast<size_t>(blockIndex)];
    if (nameIndex < 0 || static_cast<size_t>(nameIndex) >= block.names.size()) return kNoRecord;
    Name& name = block.names[static_cast<size_t>(nameIndex)];
    if (occurrence >= name.count) return kNoRecord;
    // Occurrences are mostly asked for in order: walk on from the last one.
    uint32_t at = name.first, record = name.first;
    if (occurrence >= name.lastIndex) {
        at = name.lastIndex;
        record = name.lastRecord;
    } else {
        at = 0;
    }
    for (; at < occurrence; ++at) record = mRecords[record].next;
    name.lastIndex = occurrence;
    name.lastRecord = record;
    return record;
}

const char* KQovFieldReader::GetNameText(int32_t blockIndex, int32_t nameIndex) {
    if (blockIndex < 0 || static_cast<size_t>(blockIndex) >= mBlocks.size()) return "";
    const Block& block = mBlocks[static_cast<size_t>(blockIndex)];
    if (nameIndex < 0 || static_cast<size_t>(nameIndex) >= block.names.size()) return "";
    const Name& name = block.names[static_cast<size_t>(nameIndex)];
    if (const char* found = mNameTexts.Find(name.textOffset)) return found;
    return mNameTexts.Add(name.textOffset,
                          reinterpret_cast<const char*>(NameBytes() + name.textOffset),
                          name.textSize);
}

bool KQovFieldReader::PeekValueAnyType(const Record& given, Value& value) const {
    Record record = given;
    if (record.uniform && record.cursorIndex < record.valueCount &&
        (record.uniform == kMixedUnchecked ||
         mData[record.cursorOffset] != uint8_t(record.uniform)) &&
        !ConfirmValues(record))
        return false;
    if (record.cursorIndex >= record.valueCount) return false;
    uint64_t next;
    if (DecodeAt(record.cursorOffset, value, next)) return true;
    NoteChangedMapping();
    return false;
}

bool KQovFieldReader::NextValueAnyType(Record& record, Value& value) const {
    if (record.uniform && record.cursorIndex < record.valueCount &&
        (record.uniform == kMixedUnchecked ||
         mData[record.cursorOffset] != uint8_t(record.uniform)) &&
        !ConfirmValues(record))
        return false;
    if (record.cursorIndex >= record.valueCount) return false;
    uint64_t next;
    if (!DecodeAt(record.cursorOffset, value, next)) {
        NoteChangedMapping();
        // Nothing after a value that does not decode can be found.
        record.valueCount = record.cursorIndex;
        return false;
    }
    record.cursorOffset = static_cast<uint32_t>(next);
    ++record.cursorIndex;
    return true;
}

bool KQovFieldReader::ReadVarint(uint64_t& at, uint32_t& value) const {
    value = 0;
    for (int shift = 0; shift < 35 && at < mSize; shift += 7) {
        uint8_t byte = mData[at++];
        value |= static_cast<uint32_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return true;
    }
    return false;
}

template <class T, class Convert>
size_t KQovFieldReader::ReadArray(Record& record, char type, T* out, size_t count,
                                  Convert convert) const {
    constexpr uint32_t kItem = 1 + sizeof(T);
    size_t done = 0;
    if (record.uniform == kMixedUnchecked && !ConfirmValues(record)) return 0;
    const bool direct = mBinary && Order() == kHostByteOrder;
    while (done < count && record.cursorIndex < record.valueCount) {
        if (direct) {
            // Values of the type asked for, as far as they go in a row.
            const uint8_t* bytes = mData;
            const uint64_t size = mSize;
            uint64_t at = record.cursorOffset;
            // As many as are asked for and have room: only their type letters are checked.
            const size_t limit = std::min<size_t>(
                {count - done, record.valueCount - record.cursorIndex,
                 at < size ? static_cast<size_t>((size - at) / kItem) : size_t(0)});
            size_t n = 0;
            while (n < limit && bytes[at] == static_cast<uint8_t>(type)) {
                std::memcpy(out + done + n, bytes + at + 1, sizeof(T));
                at += kItem;
                ++n;
            }
            if (n > 0) {
                record.cursorOffset = static_cast<uint32_t>(at);
                record.cursorIndex += static_cast<uint32_t>(n);
                done += n;
                continue;
            }
        }
        Value value;
        if (!NextValue(record, value)) break;
        out[done++] = convert(value);
    }
    return done;
}

size_t KQovFieldReader::ReadInts(Record& record, int32_t* out, size_t count) const {
    return ReadArray(record, 'I', out, count,
                     [this](const Value& v) { return static_cast<int32_t>(ToInt64(v)); });
}

size_t KQovFieldReader::ReadDoubles(Record& record, double* out, size_t count) const {
    return ReadArray(record, 'D', out, count, [this](const Value& v) { return ToDouble(v); });
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

char KQovFieldReader::ToCharAnyType(const Value& value) const {
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

int64_t KQovFieldReader::ToInt64AnyType(const Value& value) const {
    uint64_t at = static_cast<uint64_t>(value.data - mData);
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

double KQovFieldReader::ToDoubleAnyType(const Value& value) const {
    uint64_t at = static_cast<uint64_t>(value.data - mData);
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
    // ASCII texts are NUL-terminated in the buffer, which stays until the tree is freed.
    if (!mBinary && (value.type == 'S' || value.type == 'N'))
        return reinterpret_cast<const char*>(value.data);
    if (const char* found = mTexts.Find(value.offset)) return found;
    const char* bytes = reinterpret_cast<const char*>(value.data);
    std::string text;
    switch (value.type) {
        case 'S': {
            // Binary files store "A::B" as "B", 0x00, 0x01, "A".
            const char* split = nullptr;
            if (mBinary)
                for (uint32_t i = 0; i + 1 < value.size && !split; ++i)
                    if (bytes[i] == 0 && bytes[i + 1] == 1) split = bytes + i;
            if (!split) return mTexts.Add(value.offset, bytes, value.size);
            const size_t before = size_t(split - bytes);
            text.assign(split + 2, value.size - before - 2);
            text.append("::");
            text.append(bytes, before);
            break;
        }
        case 'N':
            return mTexts.Add(value.offset, bytes, value.size);
        case 'C':
            return mTexts.Add(value.offset, bytes, 1);
        case 'I':
        case 'L':
            text = KFormatC("%lld", (long long)ToInt64(value));
            break;
        case 'F':
            text = KShortestText(static_cast<float>(ToDouble(value)));
            break;
        case 'D':
            text = KShortestText(ToDouble(value));
            break;
        default:
            break;
    }
    return mTexts.Add(value.offset, text.data(), text.size());
}

const std::vector<KQovFieldReader::TextCache::Entry>* KQovFieldReader::TextCache::PageOf(
    uint64_t key) const {
    const uint64_t page = key >> kPageBits;
    if (page >= mPageOf.size() || mPageOf[size_t(page)] == 0) return nullptr;
    return &mPages[mPageOf[size_t(page)] - 1];
}

namespace {

template <class Entries>
auto LowerBound(Entries& entries, uint32_t low) {
    // Texts are mostly asked for in file order: the last one is looked at first.
    if (entries.empty() || entries.back().low < low) return entries.end();
    return std::lower_bound(entries.begin(), entries.end(), low,
                            [](const auto& entry, uint32_t value) { return entry.low < value; });
}

}  // namespace

const char* KQovFieldReader::TextCache::Find(uint64_t key) const {
    const std::vector<Entry>* entries = PageOf(key);
    if (!entries) return nullptr;
    const uint32_t low = uint32_t(key & ((1u << kPageBits) - 1));
    const auto at = LowerBound(*entries, low);
    return at != entries->end() && at->low == low ? at->text : nullptr;
}

const char* KQovFieldReader::TextCache::Add(uint64_t key, const char* data, size_t size) {
    char* copy;
    if (size >= kOwnChunkFrom) {
        // A long text gets a block of its own, the current chunk stays in use.
        mChunks.emplace_back(new char[size + 1]);
        copy = mChunks.back().get();
        if (mChunks.size() > 1) std::swap(mChunks.back(), mChunks[mChunks.size() - 2]);
        mChunkBytes += size + 1;
    } else {
        if (mChunks.empty() || mChunkUsed + size + 1 > mChunkSize) {
            mChunkSize = kChunkSize;
            mChunks.emplace_back(new char[mChunkSize]);
            mChunkUsed = 0;
            mChunkBytes += mChunkSize;
        }
        copy = mChunks.back().get() + mChunkUsed;
        mChunkUsed += size + 1;
    }
    if (size) std::memcpy(copy, data, size);
    copy[size] = 0;
    const uint64_t page = key >> kPageBits;
    if (page >= mPageOf.size()) mPageOf.resize(size_t(page) + 1, 0);
    if (mPageOf[size_t(page)] == 0) {
        mPages.emplace_back();
        mPageOf[size_t(page)] = uint32_t(mPages.size());
    }
    std::vector<Entry>& entries = mPages[mPageOf[size_t(page)] - 1];
    const uint32_t low = uint32_t(key & ((1u << kPageBits) - 1));
    entries.insert(LowerBound(entries, low), Entry{low, copy});
    return copy;
}

void KQovFieldReader::TextCache::Clear() {
    mPageOf.clear();
    mPages.clear();
    mChunks.clear();
    mChunkUsed = mChunkSize = mChunkBytes = 0;
}

size_t KQovFieldReader::TextCache::GetMemoryUse() const {
    size_t bytes = mPageOf.capacity() * sizeof(uint32_t) +
                   mPages.capacity() * sizeof(std::vector<Entry>) +
                   mChunks.capacity() * sizeof(void*) + mChunkBytes;
    for (const std::vector<Entry>& entries : mPages) bytes += entries.capacity() * sizeof(Entry);
    return bytes;
}

char KQovFieldReader::ReportedTokenType(const Value& value) const {
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

const uint8_t* KQovFieldReader::StoredBytes(uint32_t index, const Record& record,
                                            size_t& size) const {
    size = 0;
    if (!mBinary || mSwap || index >= mRecords.size() || record.cursorIndex >= record.valueCount)
        return nullptr;
    const uint64_t end = uint64_t(record.valuesBegin) + ReadU32(mRecords[index].begin + 8);
    if (end > mSize || record.cursorOffset >= end) return nullptr;
    size = static_cast<size_t>(end - record.cursorOffset);
    return mData + record.cursorOffset;
}
