#pragma once
// The parser of field files: turns one part of a binary or ASCII file into a tree of
// blocks and records. Values stay in one contiguous byte buffer (the file's own bytes
// for binary parts, mapped where the file allows) and are decoded when read, so the tree
// costs little beyond the file.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/KBinaryReader.h"
#include "platform/KPlatformMapping.h"

class KQovStream;

// Bytes that are always written before they are read are not zero-filled first.
template <class T>
struct KQovUninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = KQovUninitialisedAllocator<U>;
    };
    KQovUninitialisedAllocator() = default;
    template <class U>
    KQovUninitialisedAllocator(const KQovUninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using KQovByteBuffer = std::vector<uint8_t, KQovUninitialisedAllocator<uint8_t>>;

class KQovFieldReader {
public:
    // Deepest block nesting accepted, as the writer's record table.
    static constexpr int kMaxDepth = 200;

    // One typed value. Types: 'C', 'I', 'L', 'D', 'F', 'S', 'R', and 'N' for a bare
    // ASCII token kept as text. `data` points at the payload (string bytes for S/R/N).
    struct Value {
        char type = 0;
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        uint64_t offset = 0;  // where the value starts in the buffer: its identity
    };

    // A record as a reader sees it, with its own value cursor: a copy made by GetRecord,
    // so the tree keeps no cursor per record.
    struct Record {
        uint32_t valuesBegin = 0;
        uint32_t valueCount = 0;
        int32_t child = -1;  // block index, -1 without a block
        uint32_t cursorIndex = 0;
        uint32_t cursorOffset = 0;
        uint32_t index = 0;  // the record's in the tree
        // The type of a long list taken to hold values of that type alone, not checked yet:
        // a value of another type makes the whole list checked before it is read (0: none).
        // kMixedUnchecked for a long list of several types not checked yet.
        char uniform = 0;
    };

    // One field name of a block; its text stays in the buffer. Its records form a chain
    // through the tree's records, in file order.
    struct Name {
        uint32_t textOffset = 0;
        uint32_t textSize = 0;
        uint32_t first = 0;      // first record
        uint32_t count = 0;      // occurrences
        uint32_t cursor = 0;     // occurrence cursor
        uint32_t lastIndex = 0;  // the last occurrence looked up, to walk on from there
        uint32_t lastRecord = 0;
    };

    struct Block {
        int32_t parent = -1;
        uint32_t owner = 0;        // the record whose block this is (none for the root)
        uint32_t firstRecord = 0;  // the block's records and their blocks' records ...
        uint32_t endRecord = 0;    // ... are the tree's records in [firstRecord, endRecord)
        std::vector<Name> names;   // in order of first appearance
        // Open-addressed name index + 1, built once a block has many names.
        std::vector<uint32_t> lookup;
        int32_t currentName = -1;
        bool closed = false;
    };

    KQovFieldReader(KQovStream* stream, int64_t start, bool binary, bool swap);

    // Parses from the start up to `end` (-1: the end of the stream). With `firstFieldOnly`
    // only the first top-level field is parsed (the header extension).
    bool Parse(int64_t end = -1, bool firstFieldOnly = false);
    // Parses bytes held in memory (the same rules as a stream).
    bool ParseBytes(std::vector<uint8_t> bytes, bool firstFieldOnly = false);

    const std::string& GetErrorText() const { return mError; }
    // Stream position just after what was parsed.
    int64_t GetEndPosition() const { return mStart + static_cast<int64_t>(mConsumed); }
    bool IsBinary() const { return mBinary; }

    int32_t GetRoot() const { return mBlocks.empty() ? -1 : 0; }
    Block& GetBlock(int32_t index) { return mBlocks[static_cast<size_t>(index)]; }
    // The record with its cursor at its first value. The values of a long list are checked
    // here, when it is first asked for, rather than at the parse: a bad list has no values,
    // and GetValueError() then tells what was wrong, as the parse would have.
    Record GetRecord(uint32_t index) const;
    const std::string& GetValueError() const { return mValueError; }
    // Lists of values from this many bytes on are checked when first asked for.
    static constexpr uint32_t kCheckLaterFrom = 1u << 16;
    // Sets that size, for tests and fuzzing (the default is kCheckLaterFrom); the old value.
    static uint32_t SetCheckLaterFrom(uint32_t bytes);
    // Record::uniform of a long list of several types not checked yet: a reader of its stored
    // bytes checks the type and room of every value it takes, and any other read checks the
    // whole list first. No value has this type letter, so single reads always go the checked
    // way.
    static constexpr char kMixedUnchecked = 1;
    // A list of several types whose stored bytes were all taken: checked against the length
    // the record gives (the values were checked as they were taken), else walked as the parse
    // would, its error then kept.
    void FinishStored(Record& record) const;
    // Gives the memory of a record's values back once they have been read: large lists of
    // numbers of a binary part read from a plain file stream. They are read from the stream
    // (or come back from the mapped file) when the record is asked for again.
    void ReleaseValues(uint32_t index);
    // True once values given back could not be read again, or bytes of a mapped file were
    // found missing: the file was cut short since it was parsed.
    bool LostReleasedValues() const { return mLostReleased || (mMapping && mMapping->LostPages()); }
    // The part of it known without asking the mapping: values lost or found not decoding.
    bool ValuesFoundLost() const { return mLostReleased; }
    // LostReleasedValues, the system also asked whether a mapped file is still as it was
    // mapped: one cut or rewritten in place since may have given other bytes than its own
    // with no page lost. Once true, stays true.
    bool FileCutShort() const {
        if (!mLostReleased && mMapping && mMapping->FileChanged()) mLostReleased = true;
        return LostReleasedValues();
    }
    // Binary parts of files opened for reading only are mapped from this size on; smaller
    // ones are read into memory. For tests and measurements; the old value.
    static uint64_t SetMappingFrom(uint64_t bytes);
    static constexpr uint64_t kMappingFrom = uint64_t(1) << 20;
    // True when the parsed bytes are a mapping of the file.
    bool IsMapped() const { return mMapping != nullptr; }
    // EIO once a page of the mapped file that the file still held could not be read; else 0.
    int GetMappingReadError() const { return mMapping ? mMapping->GetReadError() : 0; }
    static constexpr uint32_t kReleaseBytes = 1u << 16;
    // Buffers from this size on ask for large pages.
    static constexpr uint64_t kLargeBuffer = uint64_t(8) << 20;
    // The record after `index` in its block (skipping its block's records); the block's
    // endRecord after the last.
    uint32_t NextSibling(uint32_t index) const;
    // The record of a name's occurrence, kNoRecord when there is none.
    static constexpr uint32_t kNoRecord = 0xFFFFFFFFu;
    uint32_t GetOccurrence(int32_t block, int32_t name, uint32_t occurrence);
    // The name's text, kept in the tree until it is freed.
    const char* GetNameText(int32_t block, int32_t name);
    size_t GetBlockCount() const { return mBlocks.size(); }
    size_t GetRecordCount() const { return mRecords.size(); }
    // Bytes the parsed tree holds, its buffer included.
    size_t GetMemoryUse() const;
    // Index of the name in the block, -1 when absent.
    int32_t FindName(int32_t block, const char* name) const;

    // The record's value at its cursor, moving the cursor on; false when none is left.
    bool NextValue(Record& record, Value& value) const {
        if (record.cursorIndex >= record.valueCount) return false;
        const uint32_t size = FixedSizeAt(record.cursorOffset);
        if (size == 0 || (record.uniform && mData[record.cursorOffset] != uint8_t(record.uniform)))
            return NextValueAnyType(record, value);
        FillValue(record.cursorOffset, size, value);
        record.cursorOffset += 1 + size;
        ++record.cursorIndex;
        return true;
    }
    bool PeekValue(const Record& record, Value& value) const {
        if (record.cursorIndex >= record.valueCount) return false;
        const uint32_t size = FixedSizeAt(record.cursorOffset);
        if (size == 0 || (record.uniform && mData[record.cursorOffset] != uint8_t(record.uniform)))
            return PeekValueAnyType(record, value);
        FillValue(record.cursorOffset, size, value);
        return true;
    }
    // The record's next `count` values (at most) into `out`, converted as ToInt64/ToDouble
    // would; runs of the host's own fixed-size type are copied straight. The number read.
    size_t ReadInts(Record& record, int32_t* out, size_t count) const;
    size_t ReadDoubles(Record& record, double* out, size_t count) const;
    // The record's next values as stored, at most `count`, up to the first one that is no
    // number or character (binary parts only); the number taken.
    size_t ReadStored(Record& record, Value* out, size_t count) const;
    void RewindValues(Record& record) const;
    // Every occurrence cursor back to the first field.
    void ResetCursors();

    // Conversions between a stored type and the type asked for.
    char ToChar(const Value& value) const {
        return value.type == 'C' ? static_cast<char>(value.data[0]) : ToCharAnyType(value);
    }
    int64_t ToInt64(const Value& value) const {
        if (value.type == 'I' && Order() == kHostByteOrder) {
            int32_t v;
            std::memcpy(&v, value.data, 4);
            return v;
        }
        if (value.type == 'L' && Order() == kHostByteOrder) {
            int64_t v;
            std::memcpy(&v, value.data, 8);
            return v;
        }
        return ToInt64AnyType(value);
    }
    double ToDouble(const Value& value) const {
        if (value.type == 'D' && Order() == kHostByteOrder) {
            double d;
            std::memcpy(&d, value.data, 8);
            return d;
        }
        return ToDoubleAnyType(value);
    }
    // The value as text, kept in the tree until it is freed; "::" splits restored.
    const char* ToText(const Value& value);
    // The type letter a reader sees: bare ASCII tokens report what they look like.
    char ReportedType(const Value& value) const {
        return value.type == 'N' ? ReportedTokenType(value) : value.type;
    }

    // Number text of an ASCII file: also "inf", "nan" and "1.#INF"-style forms.
    static bool ParseNumberText(const char* text, size_t size, double& out);

private:
    bool ParseBinary(bool firstFieldOnly);
    bool ParseBinaryList(uint64_t& pos, uint64_t limit, int32_t block, int depth, bool top,
                         bool firstFieldOnly);
    bool ParseAscii(const KQovByteBuffer& text, bool firstFieldOnly);
    // Walks the values of the binary record at `pos`, which ends at `end`, as the parse does:
    // false, with the error, for a value that does not decode within the record or values
    // that do not fill the length the record gives; else `valuesEnd` is where they end.
    bool CheckValues(uint64_t pos, uint64_t end, uint64_t& valuesEnd, std::string& error) const;
    // Checks the record's values if they are not yet; the type of a list taken to hold one
    // type alone, left unchecked, kMixedUnchecked for one of several types left unchecked
    // (0 for a list checked).
    char CheckLater(uint32_t index, uint64_t valuesBegin, uint32_t count) const;
    // A value not of the record's uniform type met: its values checked now. False, the
    // record then without values left, when they are bad.
    bool ConfirmValues(Record& record) const;
    bool ParseBuffer(KQovByteBuffer bytes, bool firstFieldOnly);
    // Parses a mapping of the part's bytes.
    bool ParseMapping(std::unique_ptr<KPlatformFileMapping> mapping, bool firstFieldOnly);
    void ClearTree();
    bool Fail(const std::string& text);
    int32_t NewBlock(int32_t parent);
    int32_t FindInBlock(const Block& block, const char* name, size_t length) const;
    // Adds a record starting at `begin`; for ASCII (textOffset == kNoRecord) the name's
    // bytes are appended to the buffer when the name is new.
    uint32_t AddRecord(int32_t block, uint32_t begin, const char* name, size_t length,
                       uint32_t textOffset);
    void IndexName(Block& block, uint32_t nameIndex);
    int32_t ChildOf(uint32_t record) const;
    void FinishTree();
    uint32_t ValuesBegin(uint32_t begin, uint32_t& count) const;
    uint32_t ReadU32(uint64_t offset) const;
    uint64_t ReadU64(uint64_t offset) const;
    bool DecodeAt(uint64_t offset, Value& value, uint64_t& next) const;
    // Fixed-size values of a binary part, the bulk of a file, are decoded inline: the
    // payload size of the one at `at`, 0 when it is of another kind (or near the end).
    uint32_t FixedSizeAt(uint64_t at) const {
        if (!mBinary || at + 9 > mSize) return 0;
        const int fixed = FixedSize(static_cast<char>(mData[at]));
        return fixed > 0 ? static_cast<uint32_t>(fixed) : 0;
    }
    // Payload size of the fixed-size types; 0 for unknown, -1 for length-prefixed ones.
    static int FixedSize(char type) {
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
    void FillValue(uint64_t at, uint32_t size, Value& value) const {
        value.type = static_cast<char>(mData[at]);
        value.data = mData + at + 1;
        value.size = size;
        value.offset = at;
    }
    template <class T, class Convert>
    size_t ReadArray(Record& record, char type, T* out, size_t count, Convert convert) const;
    // Every value of a parsed record decodes, so one that does not in a mapping has changed
    // under it: the file was cut short (the zeros past its end in its last page).
    void NoteChangedMapping() const {
        if (mMapping) mLostReleased = true;
    }
    bool NextValueAnyType(Record& record, Value& value) const;
    bool PeekValueAnyType(const Record& record, Value& value) const;
    char ReportedTokenType(const Value& value) const;
    char ToCharAnyType(const Value& value) const;
    int64_t ToInt64AnyType(const Value& value) const;
    double ToDoubleAnyType(const Value& value) const;
    // ASCII buffers hold counts and lengths as 7-bit groups, low first.
    bool ReadVarint(uint64_t& at, uint32_t& value) const;
    template <class Bytes>
    static void PutVarint(Bytes& out, uint32_t value) {
        while (value >= 0x80) {
            out.push_back(static_cast<uint8_t>(value | 0x80));
            value >>= 7;
        }
        out.push_back(static_cast<uint8_t>(value));
    }
    bool ReadStream(uint64_t count);

    KQovStream* mStream;
    int64_t mStart;
    bool mBinary;
    bool mSwap;  // a big-endian file
    KByteOrder Order() const { return mSwap ? KByteOrder::eBig : KByteOrder::eLittle; }
    // The bytes parsed: a copy of the file's held in mBytes, or a mapping of the file.
    // mData and mSize point at whichever it is.
    KQovByteBuffer mBytes;
    std::unique_ptr<KPlatformFileMapping> mMapping;
    uint8_t* mData = nullptr;
    uint64_t mSize = 0;
    // Where the names' texts are: the buffer, which holds a mapping's names too.
    const uint8_t* NameBytes() const { return mBytes.data(); }
    void SyncView() {
        if (!mMapping) {
            mData = mBytes.data();
            mSize = mBytes.size();
        }
    }
    // Per record: where it starts in the buffer, and the next record of the same name.
    struct Stored {
        uint32_t begin;
        uint32_t next;
    };
    std::vector<Stored> mRecords;
    std::vector<Block> mBlocks;
    mutable size_t mChildHint = 1;  // where ChildOf's last search ended
    // Records whose values were given back: the buffer range gone, to be read again.
    mutable std::unordered_map<uint32_t, std::pair<uint64_t, uint64_t>> mReleased;
    void RestoreValues(uint32_t index) const;
    mutable bool mLostReleased = false;
    // Long lists not checked yet (record, end of the record), by record; the first error
    // found in one.
    struct Unchecked {
        uint32_t record;
        uint64_t end;      // the record's end
        bool bad = false;  // checked and found bad
    };
    mutable std::vector<Unchecked> mUnchecked;
    mutable std::string mValueError;
    // Values are given back in whole pages of this size: the buffer's large pages when it
    // has them, since giving back part of one frees nothing.
    size_t mReleaseUnit = 0;
    // Texts handed out, keyed by where their value starts in the buffer: each made once and
    // kept, NUL-terminated, until the tree is freed. Copies go into large chunks; the index
    // has a short sorted list per 4 KB of buffer, so texts read in file order are found and
    // added next to each other.
    class TextCache {
    public:
        const char* Find(uint64_t key) const;
        // Keeps a copy of `size` bytes under `key` (not present yet); the copy.
        const char* Add(uint64_t key, const char* data, size_t size);
        void Clear();
        size_t GetMemoryUse() const;

    private:
        static constexpr int kPageBits = 12;
        // Chunks stay below the size whose release makes the allocator sweep its free lists.
        static constexpr size_t kChunkSize = 32 * 1024;
        static constexpr size_t kOwnChunkFrom = 1024;
        struct Entry {
            uint32_t low;  // the key's offset within its page
            const char* text;
        };
        const std::vector<Entry>* PageOf(uint64_t key) const;
        std::vector<uint32_t> mPageOf;  // per page: index + 1 into mPages, 0 for none
        std::vector<std::vector<Entry>> mPages;
        std::vector<std::unique_ptr<char[]>> mChunks;
        size_t mChunkUsed = 0;
        size_t mChunkSize = 0;
        size_t mChunkBytes = 0;
    };
    static std::atomic<uint64_t> sMappingFrom;
    static std::atomic<uint32_t> sCheckLaterFrom;
    TextCache mTexts;
    TextCache mNameTexts;
    std::string mError;
    uint64_t mConsumed = 0;

    friend class KQovAsciiParser;

public:
    // The bytes of a binary record's values from its cursor to the end of its list, as the
    // file holds them (each a type letter and its payload); null, with size 0, for ASCII
    // parts, byte-swapped ones and a record whose values are all read. `index` is the record's.
    const uint8_t* StoredBytes(uint32_t index, const Record& record, size_t& size) const;
    // Moves the cursor over `values` values taking `bytes` bytes of what StoredBytes gave.
    static void SkipStored(Record& record, uint32_t values, size_t bytes) {
        record.cursorIndex += values;
        record.cursorOffset += static_cast<uint32_t>(bytes);
    }
};
