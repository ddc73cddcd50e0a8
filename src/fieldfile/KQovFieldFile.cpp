#include "fieldfile/KQovFieldFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "fieldfile/KQovFieldReader.h"
#include "fieldfile/KQovStream.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "platform/KPlatformStdio.h"

namespace {

const char* const kMessages[] = {
    "File is corrupted",
    "File version is not supported yet",
    "File version is not supported anymore",
    "File not opened",
    "File not created",
    "Directory not created",
    "CRC check failed",
    "Section does not exist",
    "Operation canceled",
    "Count error",
    "Invalid data",
    "No space left on device",
    "Read error",
};

constexpr uint32_t kContentChunk = 0x80000;

// The first "::" of a text of `size` bytes, or null.
const char* TextSplit(const char* text, size_t size) {
    const char* split = static_cast<const char*>(std::memchr(text, ':', size));
    while (split && split[1] != ':')
        split =
            static_cast<const char*>(std::memchr(split + 1, ':', size - size_t(split + 1 - text)));
    return split;
}

}  // namespace

void KQovEncodeText(uint8_t* out, const char* text, size_t size) {
    const char* split = TextSplit(text, size);
    const size_t before = split ? size_t(split - text) : size;
    if (split) {
        std::memcpy(out, split + 2, size - before - 2);
        out += size - before - 2;
        out[0] = 0;
        out[1] = 1;
        out += 2;
    }
    std::memcpy(out, text, before);
}

KQovRecordImage::KQovRecordImage(const char* name) : mName(name ? name : "") {
    // The header as FieldWriteBegin puts it: end, count and length to come, then the name.
    const char* text = mName.c_str();
    size_t length = mName.size();
    if (length > 255) mValid = false;
    if (length > 0 && text[0] == '"') {
        ++text;
        length = length >= 2 ? length - 2 : 0;
    }
    mBytes.assign(12, 0);
    mBytes.push_back(static_cast<uint8_t>(length));
    mBytes.insert(mBytes.end(), text, text + length);
    mValuesAt = mBytes.size();
}

KQovRecordImage& KQovRecordImage::Put(char type, const void* payload, size_t size) {
    const size_t at = mBytes.size();
    mBytes.resize(at + 1 + size);
    KQovPutEncoded(mBytes.data() + at, type, payload, size);
    ++mCount;
    return *this;
}

KQovRecordImage& KQovRecordImage::C(const char* text) {
    const size_t size = text ? std::strlen(text) : 0;
    if (!text || size > 0xFFFFFFFFu - 5) {
        mValid = false;
        mNullText = mNullText || !text;
        return *this;
    }
    const uint32_t length = static_cast<uint32_t>(size);
    const size_t at = mBytes.size();
    mBytes.resize(at + 5 + size);
    mBytes[at] = 'S';
    std::memcpy(mBytes.data() + at + 1, &length, 4);
    KQovEncodeText(mBytes.data() + at + 5, text, size);
    ++mCount;
    return *this;
}

std::string KQovEscapeText(const char* text) {
    std::string out;
    if (!text) return out;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            // Doubled only where it would be taken for an escape, so ordinary paths
            // ("C:\temp\file") stay as they always were.
            char n = p[1];
            bool ambiguous =
                n == 0 || n == '"' || n == '\\' || n == 'n' || n == 'r' || n == '\n' || n == '\r';
            out += ambiguous ? "\\\\" : "\\";
        } else {
            out += c;
        }
    }
    return out;
}

std::string KQovCharText(char value) {
    uint8_t byte = static_cast<uint8_t>(value);
    if ((byte < 0x20 && value != '\n' && value != '\r' && value != '\t') || byte >= 0x7F) {
        // Bytes that would make the file binary (0 would end the line for most readers)
        // go as a bare \xHH token, which the parser reads back as the one byte.
        static const char kHex[] = "0123456789ABCDEF";
        return {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    }
    if (std::strchr(",\"\n\r \t{", value)) {
        // Bare, these would split the value list, open a quote or a block, or be trimmed
        // away: they go as a one-character string, which reads back as the character.
        const char text[2] = {value, 0};
        return "\"" + KQovEscapeText(text) + "\"";
    }
    return std::string(1, value);
}

std::string KQovQuoteFieldName(const char* name) {
    std::string text = name ? name : "";
    if (text.empty()) return text;
    bool opens = text.front() == '"';
    bool closes = text.size() > 1 && text.back() == '"';
    if (opens && !closes) return text + "\"";
    if (!opens && closes) return "\"" + text;
    if (opens) return text;
    // A bare name starting with '}' would be read as the end of a block.
    if (text.find_first_of("@:;, \t\n\r") == std::string::npos && text.front() != '}') return text;
    return "\"" + KQovEscapeText(text.c_str()) + "\"";
}

KQovFieldFile::KQovFieldFile() : mError(kMessages, eErrorCount) {
    Reset();
}

KQovFieldFile::~KQovFieldFile() {
    // A file being created takes its place only through FieldFileClose: here it is dropped,
    // without a word (which might need memory).
    if (mStream && mOpenMode == eCreated && mOwnedStream) {
        mOwnedStream->Discard();
        mCipherStream.reset();
        mStream = nullptr;
    }
    FieldFileClose();
    RemoveTempMedia();
}

void KQovFieldFile::SetError(int id, const char* text) {
    // What a failed read left looks broken: the failure, not the file, is the cause.
    if (id == eFileCorrupted && GetSystemReadError()) {
        CheckFileUnchanged();
        return;
    }
    if (text)
        mError.SetErrorWithText(id, text);
    else
        mError.SetError(id);
}

bool KQovFieldFile::IsOpen() const {
    return mStream && mStream->IsOpen();
}

int KQovFieldFile::GetBlockVersion(int level) const {
    int depth = mTree ? static_cast<int>(mReadLevels.size()) : mBinary ? mDepth : mIndent;
    if (level < 0 || level > depth) return 0;
    return CurrentPartVersion();
}

// ---- Byte output ----

bool KQovFieldFile::CanWrite() {
    return !HasError() && IsOpen();
}

void KQovFieldFile::Emit(const void* data, size_t size) {
    if (mOutSize + size > kOutCapacity) {
        Flush();
        if (size > kOutCapacity) {
            // Too big to wait: straight to the stream.
            if (!mStream) return;
            const uint32_t put = mStream->Write(data, static_cast<uint32_t>(size));
            Advance(int64_t(size), put);
            if (put != size && !HasError()) SetError(eNoSpaceLeft);
            return;
        }
    }
    if (!mOut) mOut.reset(new uint8_t[kOutCapacity]);
    std::memcpy(mOut.get() + mOutSize, data, size);
    mOutSize += size;
}

void KQovFieldFile::EmitU32(uint32_t value) {
    uint8_t bytes[4];
    KStoreU32(bytes, value, GetByteOrder());
    Emit(bytes, 4);
}

void KQovFieldFile::Flush() {
    if (mOutSize == 0 || !mStream) return;
    uint32_t put = mStream->Write(mOut.get(), static_cast<uint32_t>(mOutSize));
    Advance(int64_t(mOutSize), put);
    bool failed = put < mOutSize || mStream->HasError();
    mOutSize = 0;
    if (failed && !HasError()) SetError(eNoSpaceLeft);
}

int64_t KQovFieldFile::Position() {
    // The stream is asked once; the writes that follow keep the answer up to date.
    if (mStreamAt < 0) mStreamAt = mStream ? mStream->Tell() : 0;
    return mStreamAt + static_cast<int64_t>(mOutSize);
}

void KQovFieldFile::Advance(int64_t requested, int64_t written) {
    if (mStreamAt >= 0 && written == requested)
        mStreamAt += written;
    else
        mStreamAt = -1;
}

void KQovFieldFile::Patch(int64_t position, const void* data, size_t size) {
    int64_t bufferStart = Position() - static_cast<int64_t>(mOutSize);
    if (position >= bufferStart) {
        std::memcpy(mOut.get() + (position - bufferStart), data, size);
        return;
    }
    // The header went out already: rewrite it in place.
    Flush();
    int64_t here = mStream->Tell();
    mStream->SetPosition(position);
    if (mStream->Write(data, static_cast<uint32_t>(size)) != size && !HasError())
        SetError(eNoSpaceLeft);
    mStream->SetPosition(here);
    mStreamAt = -1;
}

bool KQovFieldFile::CloseRecord(int depth) {
    RecordEntry& entry = mRecordTable[static_cast<size_t>(depth)];
    if (entry.header < 0) return true;
    int64_t end = Position();
    if (end > 0xFFFFFFFFll || entry.count > 0xFFFFFFFFu || entry.length > 0xFFFFFFFFu) {
        entry.header = -1;
        SetError(eInvalidData, "Write field error : record offsets pass 4 GB");
        return false;
    }
    uint8_t header[12];
    KStoreU32(header, static_cast<uint32_t>(end), GetByteOrder());
    KStoreU32(header + 4, static_cast<uint32_t>(entry.count), GetByteOrder());
    KStoreU32(header + 8, static_cast<uint32_t>(entry.length), GetByteOrder());
    Patch(entry.header, header, sizeof header);
    entry.header = -1;
    return true;
}

void KQovFieldFile::WriteNullRecord() {
    static const uint8_t kNull[13] = {};
    Emit(kNull, sizeof kNull);
}

// ---- Writing records ----

bool KQovFieldFile::FieldWriteBegin(const char* name) {
    if (!CanWrite()) return false;
    if (!name) name = "";
    size_t length = std::strlen(name);
    if (length > 255) {
        SetError(eInvalidData, "Write field error : field name longer than 255 bytes");
        return false;
    }
    if (mValueCounter != 0) SetError(eInvalidData, "Begin Field error last field not closed");
    mValueCounter = 1;
    if (mBinary) {
        const char* text = name;
        if (length > 0 && name[0] == '"') {
            // A quoted name loses its quotes; a lone '"' becomes the empty name.
            ++text;
            length = length >= 2 ? length - 2 : 0;
        }
        if (!CloseRecord(mDepth)) return false;
        RecordEntry& entry = mRecordTable[static_cast<size_t>(mDepth)];
        entry.header = Position();
        entry.count = 0;
        entry.length = 0;
        // The header's end, count and length are patched in when the record closes.
        if (mOut && mOutSize + 13 + length <= kOutCapacity) {
            uint8_t* at = mOut.get() + mOutSize;
            std::memset(at, 0, 12);
            at[12] = static_cast<uint8_t>(length);
            std::memcpy(at + 13, text, length);
            mOutSize += 13 + length;
        } else {
            static const uint8_t kZero[12] = {};
            Emit(kZero, sizeof kZero);
            uint8_t nameLength = static_cast<uint8_t>(length);
            Emit(&nameLength, 1);
            Emit(text, length);
        }
    } else {
        EmitText(std::string(static_cast<size_t>(mIndent) * 4, ' '));
        EmitText(KQovQuoteFieldName(name));
        EmitText(": ");
        mContinuationIndent = mIndent * mIndent + 4;
        mLineLength = mContinuationIndent;
    }
    return !HasError();
}

bool KQovFieldFile::BeginValue() {
    if (!CanWrite()) return false;
    if (mValueCounter == 0) {
        // Reported, and the value still goes out; everything after it is refused.
        SetError(eInvalidData, "Write field error : Field not opened");
    }
    return true;
}

void KQovFieldFile::AddBinaryValue(char type, const void* payload, uint32_t size, uint64_t extra) {
    Emit(&type, 1);
    Emit(payload, size);
    RecordEntry& entry = mRecordTable[static_cast<size_t>(mDepth)];
    entry.count += 1;
    entry.length += 1 + size + extra;
    ++mValueCounter;
}

void KQovFieldFile::EndAsciiValue(const std::string& text, bool isString) {
    std::string piece;
    if (mValueCounter > 1) piece = isString ? ", " : ",";
    piece += text;
    EmitText(piece);
    mLineLength += static_cast<int>(piece.size());
    if (mLineLength > kWrapColumn) {
        EmitText("\n" + std::string(static_cast<size_t>(mContinuationIndent), ' '));
        mLineLength = mContinuationIndent;
    }
    ++mValueCounter;
}

bool KQovFieldFile::WriteChar(char value) {
    if (!BeginValue()) return false;
    if (mBinary) {
        AddBinaryValue('C', &value, 1);
    } else {
        std::string text = KQovCharText(value);
        EndAsciiValue(text, text[0] == '"');
    }
    return !HasError();
}

bool KQovFieldFile::WriteInt(int32_t value) {
    if (!BeginValue()) return false;
    if (mBinary) {
        uint8_t bytes[4];
        KStoreU32(bytes, static_cast<uint32_t>(value), GetByteOrder());
        AddBinaryValue('I', bytes, 4);
    } else {
        EndAsciiValue(KFormatC("%d", value), false);
    }
    return !HasError();
}

bool KQovFieldFile::WriteLong(int64_t value) {
    if (!BeginValue()) return false;
    if (mBinary) {
        uint8_t bytes[8];
        KStoreU64(bytes, static_cast<uint64_t>(value), GetByteOrder());
        AddBinaryValue('L', bytes, 8);
    } else {
        EndAsciiValue(KFormatC("%lld", static_cast<long long>(value)), false);
    }
    return !HasError();
}

bool KQovFieldFile::WriteDouble(double value) {
    if (FastBinaryValue()) {
        uint64_t bits;
        std::memcpy(&bits, &value, 8);
        if (mOut && mOutSize + 9 <= kOutCapacity) {
            uint8_t* at = mOut.get() + mOutSize;
            at[0] = 'D';
            KStoreU64(at + 1, bits, GetByteOrder());
            mOutSize += 9;
        } else {
            uint8_t item[9];
            item[0] = 'D';
            KStoreU64(item + 1, bits, GetByteOrder());
            Emit(item, sizeof item);
        }
        RecordEntry& entry = mRecordTable[static_cast<size_t>(mDepth)];
        entry.count += 1;
        entry.length += 9;
        ++mValueCounter;
        return mError.GetErrorCode() == -1;
    }
    if (!BeginValue()) return false;
    if (mBinary) {
        uint64_t bits;
        std::memcpy(&bits, &value, 8);
        uint8_t bytes[8];
        KStoreU64(bytes, bits, GetByteOrder());
        AddBinaryValue('D', bytes, 8);
    } else {
        EndAsciiValue(KShortestText(value), false);
    }
    return !HasError();
}

template <class T, class Store>
bool KQovFieldFile::WriteArray(char type, const T* values, size_t count, Store store) {
    constexpr size_t kItem = 1 + sizeof(T);
    size_t done = 0;
    if (values && FastBinaryValue() && GetByteOrder() == kHostByteOrder) {
        RecordEntry& entry = mRecordTable[static_cast<size_t>(mDepth)];
        while (done < count && FastBinaryValue()) {
            if (!mOut) mOut.reset(new uint8_t[kOutCapacity]);
            if (mOutSize + kItem > kOutCapacity) {
                Flush();
                continue;
            }
            const size_t room = (kOutCapacity - mOutSize) / kItem;
            const size_t n = std::min(room, count - done);
            uint8_t* at = mOut.get() + mOutSize;
            for (size_t i = 0; i < n; ++i, at += kItem) {
                at[0] = static_cast<uint8_t>(type);
                store(at + 1, values[done + i]);
            }
            mOutSize += n * kItem;
            entry.count += n;
            entry.length += n * kItem;
            mValueCounter =
                static_cast<int>(std::min<int64_t>(int64_t(mValueCounter) + int64_t(n), INT32_MAX));
            done += n;
        }
    }
    // ASCII, swapped or failing files: value by value, as single calls would go.
    for (; values && done < count; ++done) {
        const bool ok = type == 'I' ? FieldWriteI(static_cast<int32_t>(values[done]))
                                    : FieldWriteD(static_cast<double>(values[done]));
        if (!ok) return false;
    }
    return !HasError();
}

bool KQovFieldFile::FieldWriteEncoded(const uint8_t* bytes, size_t size, size_t count) {
    if (!bytes || !CanWriteEncoded()) return false;
    Emit(bytes, size);
    return CountEncoded(size, count);
}

// Adds `count` values in `size` bytes, already in the output, to the open field.
bool KQovFieldFile::CountEncoded(size_t size, size_t count) {
    RecordEntry& entry = mRecordTable[static_cast<size_t>(mDepth)];
    entry.count += count;
    entry.length += size;
    mValueCounter =
        static_cast<int>(std::min<int64_t>(int64_t(mValueCounter) + int64_t(count), INT32_MAX));
    return !HasError();
}

bool KQovFieldFile::FieldWriteIn(const int32_t* values, size_t count) {
    return WriteArray('I', values, count,
                      [](uint8_t* at, int32_t v) { std::memcpy(at, &v, sizeof v); });
}

bool KQovFieldFile::FieldWriteDn(const double* values, size_t count) {
    return WriteArray('D', values, count,
                      [](uint8_t* at, double v) { std::memcpy(at, &v, sizeof v); });
}

bool KQovFieldFile::FieldWriteC(const char* text) {
    // A value of an open binary field, the common case, has passed the checks already.
    if (!text || !FastBinaryValue()) {
        if (!CanWrite()) return false;
        if (!text) {
            SetError(eInvalidData, "Write field error : K_NULL value");
            return false;
        }
        // BeginValue without asking the stream again.
        if (mValueCounter == 0) SetError(eInvalidData, "Write field error : Field not opened");
        if (!mBinary) {
            EndAsciiValue("\"" + KQovEscapeText(text) + "\"", true);
            return !HasError();
        }
    }
    // "A::B" is stored as "B", 0x00, 0x01, "A": the same length, put out in pieces.
    const size_t size = std::strlen(text);
    if (size > 0xFFFFFFFFu - 5) {
        SetError(eInvalidData, "Write field error : string too long");
        return false;
    }
    const uint32_t length = static_cast<uint32_t>(size);
    if (mOut && mOutSize + 5 + size <= kOutCapacity) {
        uint8_t* at = mOut.get() + mOutSize;
        at[0] = 'S';
        KStoreU32(at + 1, length, GetByteOrder());
        KQovEncodeText(at + 5, text, size);
        mOutSize += 5 + size;
    } else {
        const char* split = TextSplit(text, size);
        const size_t before = split ? size_t(split - text) : size;
        uint8_t head[5];
        head[0] = 'S';
        KStoreU32(head + 1, length, GetByteOrder());
        Emit(head, sizeof head);
        if (split) {
            Emit(split + 2, size - before - 2);
            Emit("\0\1", 2);
        }
        Emit(text, before);
    }
    RecordEntry& entry = mRecordTable[static_cast<size_t>(mDepth)];
    entry.count += 1;
    entry.length += 1 + 4 + uint64_t(length);
    ++mValueCounter;
    return !HasError();
}

bool KQovFieldFile::FieldWriteRecord(const KQovRecordImage& head, const uint8_t* values,
                                     size_t size, size_t count) {
    const size_t total = head.GetSize() + size;
    if (head.IsValid() && (values || size == 0) && mBinary && GetByteOrder() == kHostByteOrder &&
        mValueCounter == 0 && mStreamOpen && !HasError() && total <= kOutCapacity) {
        // The whole record in one piece, its header filled in at once: it closes here.
        if (!CloseRecord(mDepth)) return false;
        if (!mOut) mOut.reset(new uint8_t[kOutCapacity]);
        if (mOutSize + total > kOutCapacity) {
            Flush();
            if (HasError()) return false;
        }
        const uint64_t end = uint64_t(Position()) + total;
        const uint64_t valueCount = uint64_t(head.GetValueCount()) + count;
        const uint64_t length = uint64_t(head.GetSize() - head.GetValuesAt()) + size;
        if (end > 0xFFFFFFFFu || valueCount > 0xFFFFFFFFu || length > 0xFFFFFFFFu) {
            SetError(eInvalidData, "Write field error : record offsets pass 4 GB");
            return false;
        }
        uint8_t* at = mOut.get() + mOutSize;
        std::memcpy(at, head.GetBytes(), head.GetSize());
        if (size) std::memcpy(at + head.GetSize(), values, size);
        KStoreU32(at, static_cast<uint32_t>(end), kHostByteOrder);
        KStoreU32(at + 4, static_cast<uint32_t>(valueCount), kHostByteOrder);
        KStoreU32(at + 8, static_cast<uint32_t>(length), kHostByteOrder);
        mOutSize += total;
        RecordEntry& entry = mRecordTable[static_cast<size_t>(mDepth)];
        entry.header = -1;
        entry.count = 0;
        entry.length = 0;
        mValueCounter = 0;
        return true;
    }
    // Value by value, as the single calls go.
    FieldWriteBegin(head.GetName().c_str());
    WriteEncodedValues(head.GetBytes() + head.GetValuesAt(), head.GetSize() - head.GetValuesAt());
    if (head.HasNullText()) FieldWriteC(nullptr);
    if (values) WriteEncodedValues(values, size);
    return FieldWriteEnd();
}

int64_t KQovFieldFile::FieldWriteMark() {
    // The field before ends here: nothing more is written into it.
    if (!CanCopyRecords() || !CloseRecord(mDepth)) return -1;
    mMarkDepth = mDepth;
    mMarkAt = Position();
    return mMarkAt;
}

const uint8_t* KQovFieldFile::FieldWriteCopySince(int64_t mark, size_t& size) {
    size = 0;
    if (mark < 0 || mark != mMarkAt || !CanCopyRecords() || mDepth != mMarkDepth ||
        !CloseRecord(mDepth))
        return nullptr;
    const int64_t bufferStart = Position() - static_cast<int64_t>(mOutSize);
    if (!mOut || mark < bufferStart || mark > Position()) return nullptr;
    size = static_cast<size_t>(Position() - mark);
    return mOut.get() + (mark - bufferStart);
}

namespace {

// Moves by `delta` the end of every record in bytes[at, end) (copied from a file where they
// began at `origin`), nested blocks included; false where they are not whole records.
bool MoveRecordEnds(uint8_t* bytes, size_t at, size_t end, int64_t origin, int64_t delta,
                    int depth) {
    while (at < end) {
        if (end - at < 13 || depth >= KQovFieldFile::kMaxDepth) return false;
        uint8_t* header = bytes + at;
        uint32_t recordEnd, length;
        std::memcpy(&recordEnd, header, 4);
        std::memcpy(&length, header + 8, 4);
        if (recordEnd == 0) {
            // The null record closing a block: nothing may follow it at its level.
            return std::all_of(header, header + 13, [](uint8_t b) { return b == 0; }) &&
                   at + 13 == end && depth > 0;
        }
        const int64_t next = int64_t(recordEnd) - origin;
        const uint64_t values = uint64_t(at) + 13 + header[12] + length;
        if (next <= int64_t(at) || uint64_t(next) > end || values > uint64_t(next)) return false;
        if (values < uint64_t(next) &&
            !MoveRecordEnds(bytes, size_t(values), size_t(next), origin, delta, depth + 1))
            return false;
        const int64_t moved = int64_t(recordEnd) + delta;
        if (moved < 0 || moved > 0xFFFFFFFFll) return false;
        const uint32_t stored = static_cast<uint32_t>(moved);
        std::memcpy(header, &stored, 4);
        at = size_t(next);
    }
    return true;
}

}  // namespace

bool KQovFieldFile::FieldWriteRecords(const uint8_t* bytes, size_t size, int64_t origin) {
    if (!bytes || origin < 0 || size > kOutCapacity || !CanCopyRecords() || !CloseRecord(mDepth))
        return false;
    if (!mOut) mOut.reset(new uint8_t[kOutCapacity]);
    if (mOutSize + size > kOutCapacity) {
        Flush();
        if (HasError()) return false;
    }
    uint8_t* at = mOut.get() + mOutSize;
    std::memcpy(at, bytes, size);
    if (!MoveRecordEnds(at, 0, size, origin, Position() - origin, 0)) return false;
    mOutSize += size;
    return true;
}

// Encoded values (host byte order) put through the single value calls.
bool KQovFieldFile::WriteEncodedValues(const uint8_t* values, size_t size) {
    for (size_t i = 0; i < size;) {
        const uint8_t* payload = values + i + 1;
        const size_t left = size - i - 1;
        const char type = static_cast<char>(values[i]);
        const size_t width = type == 'C' ? 1 : type == 'I' ? 4 : type == 'S' ? 4 : 8;
        if ((type != 'C' && type != 'I' && type != 'L' && type != 'D' && type != 'S') ||
            left < width) {
            SetError(eInvalidData, "Write field error : bad encoded value");
            return false;
        }
        if (type == 'C') {
            FieldWriteCh(static_cast<char>(payload[0]));
        } else if (type == 'I') {
            int32_t value;
            std::memcpy(&value, payload, 4);
            FieldWriteI(value);
        } else if (type == 'L') {
            int64_t value;
            std::memcpy(&value, payload, 8);
            FieldWriteLL(value);
        } else if (type == 'D') {
            double value;
            std::memcpy(&value, payload, 8);
            FieldWriteD(value);
        } else {
            uint32_t length;
            std::memcpy(&length, payload, 4);
            if (left - 4 < length) {
                SetError(eInvalidData, "Write field error : bad encoded value");
                return false;
            }
            // Back from "B", 0x00, 0x01, "A" to "A::B".
            const char* stored = reinterpret_cast<const char*>(payload + 4);
            const char* zero = static_cast<const char*>(std::memchr(stored, 0, length));
            std::string text;
            if (zero && size_t(zero - stored) + 2 <= length) {
                const size_t b = size_t(zero - stored);
                text.assign(zero + 2, length - b - 2);
                text += "::";
                text.append(stored, b);
            } else {
                text.assign(stored, length);
            }
            FieldWriteC(text.c_str());
            i += 1 + 4 + length;
            continue;
        }
        i += 1 + width;
    }
    return !HasError();
}

bool KQovFieldFile::FieldWriteC(const char* name, const char* text) {
    FieldWriteBegin(name);
    FieldWriteC(text);
    return FieldWriteEnd();
}

bool KQovFieldFile::FieldWriteR(uint32_t size) {
    if (!CanWrite()) return false;
    if (mValueCounter == 0) {
        SetError(eInvalidData, "Write field error : Field not opened");
        return false;
    }
    if (!mBinary) return false;
    char type = 'R';
    Emit(&type, 1);
    EmitU32(size);
    RecordEntry& entry = mRecordTable[static_cast<size_t>(mDepth)];
    entry.count += 1;
    entry.length += 1 + 4 + uint64_t(size);  // the bytes that follow count too
    ++mValueCounter;
    Flush();  // the caller writes the bytes to the stream itself
    mStreamAt = -1;
    return !HasError();
}

bool KQovFieldFile::FieldWriteFileContent(const char* fileName, const char* otherFileName) {
    if (!mBinary || !CanWrite() || !fileName) return false;
    KFileStream file;
    if (!file.Open(fileName, "rb") && !(otherFileName && file.Open(otherFileName, "rb"))) {
        for (const char* name : {fileName, otherFileName})
            if (UnreadableFileError(name)) {
                SetError(eReadError, KOpenForReadError(name).c_str());
                break;
            }
        return false;
    }
    if (!mEmbeddedNames.insert(fileName).second) return true;
    file.Seek(2, 0);
    int64_t size = file.Tell();
    file.Seek(0, 0);
    if (size < 0 || size > 0xFFFFFFFFll) {
        SetError(eInvalidData, "Write field error : file content larger than 4 GB");
        return false;
    }
    if (!FieldWriteR(static_cast<uint32_t>(size))) return false;
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kContentChunk]);
    if (!chunk) {
        SetError(eInvalidData, "Write field error : K_NULL value");
        return false;
    }
    int64_t left = size;
    bool shortRead = false;
    while (left > 0) {
        uint32_t want = left > kContentChunk ? kContentChunk : static_cast<uint32_t>(left);
        uint32_t got = shortRead ? 0 : file.Read(chunk.get(), want);
        if (got < want) {
            // The file shrank under us: the record still gets the size it announced.
            std::memset(chunk.get() + got, 0, want - got);
            shortRead = true;
        }
        Emit(chunk.get(), want);
        Flush();
        left -= want;
    }
    if (shortRead && !HasError()) {
        if (const int error = file.GetReadError())
            SetError(eReadError, KReadFileError(file.GetFileName(), error).c_str());
        else
            SetError(eReadError);
    }
    return !HasError();
}

int KQovFieldFile::UnreadableFileError(const char* fileName) {
    // A pipe, socket or device holds no media bytes: left out as a missing file is.
    if (!fileName || !*fileName || KIsSpecialFile(fileName)) return 0;
    const int error = KPlatformReadOpenError(fileName);
    // None there, or a folder: nothing to read, no failure.
    return KPlatformNoFileThere(error) || error == EISDIR ? 0 : error;
}

bool KQovFieldFile::FieldWriteTS(const KTime& start, const KTime& stop) {
    FieldWriteT(start);
    return FieldWriteT(stop);
}

bool KQovFieldFile::FieldWriteEnd() {
    if (!CanWrite()) return false;
    if (!mBinary) EmitText("\n");
    mValueCounter = 0;
    return !HasError();
}

bool KQovFieldFile::FieldWriteBlockBegin() {
    if (!CanWrite()) return false;
    if (mValueCounter == 0) SetError(eInvalidData, "Write field error : Field not opened");
    if ((mBinary ? mDepth : mIndent) + 1 >= kMaxDepth) {
        SetError(eInvalidData, "Write field error : blocks nested too deeply");
        return false;
    }
    mValueCounter = 0;
    if (mBinary) {
        ++mDepth;
        mRecordTable[static_cast<size_t>(mDepth)].header = -1;
        mRecordTable[static_cast<size_t>(mDepth)].count = 0;
        mRecordTable[static_cast<size_t>(mDepth)].length = 0;
    } else {
        EmitText(" {\n");
    }
    ++mIndent;
    return !HasError();
}

bool KQovFieldFile::FieldWriteBlockEnd() {
    if (!CanWrite()) return false;
    if (mBinary) {
        if (!CloseRecord(mDepth)) return false;
        WriteNullRecord();
        if (mDepth > 0) --mDepth;
        if (mIndent > 0) --mIndent;
    } else {
        if (mIndent > 0) --mIndent;
        EmitText(std::string(static_cast<size_t>(mIndent) * 4, ' ') + "}");
    }
    mValueCounter = 0;
    return !HasError();
}

bool KQovFieldFile::FieldWriteComment(const char* text) {
    if (!mStream || !mStream->IsOpen()) {
        SetError(eFileNotOpened);
        return false;
    }
    if (HasError() || mBinary) return false;
    std::string line(static_cast<size_t>(mIndent) * 4, ' ');
    if (text && *text) line += ";" + KQovEscapeText(text);
    EmitText(line + "\n");
    return !HasError();
}

// ---- Reading records ----

namespace {
const char* const kCutShort = "Read error: the file was cut short while it was read";
}  // namespace

bool KQovFieldFile::FileChangedSinceOpen() {
    FILE* file = mStamped && mOwnedStream ? mOwnedStream->GetReadOnlyFile() : nullptr;
    if (!file) return false;
    KPlatformFileStamp now;
    return !KPlatformGetFileStamp(file, now) || !mOpenedStamp.StillMatches(now);
}

int KQovFieldFile::GetSystemReadError() const {
    if (const int error = mStream ? mStream->GetReadError() : 0) return error;
    if (mMappedReadError) return mMappedReadError;
    for (const KQovFieldReader* tree : {mFirstTree.get(), mOtherTree.get()})
        if (const int error = tree ? tree->GetMappingReadError() : 0) return error;
    return 0;
}

void KQovFieldFile::SetLostValuesError() {
    // Values a failing disk did not give are its error, not a cut.
    if (const int error = GetSystemReadError())
        SetError(eReadError, KReadFileError(mOpenedName.c_str(), error).c_str());
    else
        SetError(eReadError, kCutShort);
}

bool KQovFieldFile::CheckFileUnchanged() {
    // A read that failed, even one a part of the read went on without, is the cause.
    if (const int error = GetSystemReadError()) {
        SetError(eReadError, KReadFileError(mOpenedName.c_str(), error).c_str());
        return false;
    }
    for (const KQovFieldReader* tree : {mFirstTree.get(), mOtherTree.get()})
        if (tree && tree->FileCutShort()) mCutShort = true;
    // Parts read into memory are watched as a mapped one is: an ASCII file, a small part.
    if (FileChangedSinceOpen()) mCutShort = true;
    // The cut explains whatever else went wrong in the read: its message wins.
    if (mCutShort) SetError(eReadError, kCutShort);
    return !mCutShort;
}

bool KQovFieldFile::FieldReadBegin(const char* name) {
    if (!mTree || mBlock < 0) return false;
    int32_t index = mTree->FindName(mBlock, name);
    if (index < 0) return false;
    KQovFieldReader::Block& block = mTree->GetBlock(mBlock);
    return FieldReadBeginByIndex(index, static_cast<int>(block.names[index].cursor));
}

bool KQovFieldFile::FieldReadBegin(const char* name, int occurrence) {
    if (!mTree || mBlock < 0) return false;
    int32_t index = mTree->FindName(mBlock, name);
    return index >= 0 && FieldReadBeginByIndex(index, occurrence);
}

bool KQovFieldFile::FieldReadBeginByIndex(int nameIndex, int occurrence) {
    if (!mTree || mBlock < 0) return false;
    KQovFieldReader::Block& block = mTree->GetBlock(mBlock);
    if (nameIndex < 0 || static_cast<size_t>(nameIndex) >= block.names.size()) return false;
    if (occurrence < 0) return false;
    uint32_t record = mTree->GetOccurrence(mBlock, nameIndex, static_cast<uint32_t>(occurrence));
    if (record == KQovFieldReader::kNoRecord) return false;
    block.names[static_cast<size_t>(nameIndex)].cursor = static_cast<uint32_t>(occurrence);
    block.currentName = nameIndex;
    mRecord = static_cast<int32_t>(record);
    mRawHandedOut = false;
    mValues = mTree->GetRecord(record);
    // A long list is checked when first read: one found bad has no values.
    if (!mTree->GetValueError().empty() && !HasError())
        SetError(eFileCorrupted, ("File is corrupted: " + mTree->GetValueError()).c_str());
    if (mTree->LostReleasedValues() && !HasError()) SetLostValuesError();
    return true;
}

void KQovFieldFile::FieldReadEnd() {
    if (!mTree || mBlock < 0) return;
    if (mRecord >= 0) mTree->FinishStored(mValues);
    // A long list read to its end is not needed in memory any more (no raw value of it was
    // handed out): a scene read from a file does not hold the file's bytes twice.
    if (mRecord >= 0 && !mRawHandedOut && mValues.valueCount > 0 &&
        mValues.cursorIndex == mValues.valueCount)
        mTree->ReleaseValues(static_cast<uint32_t>(mRecord));
    // A long list found bad as it was read; values just read from a mapped file may have
    // been cut off under it.
    if (!mTree->GetValueError().empty() && !HasError())
        SetError(eFileCorrupted, ("File is corrupted: " + mTree->GetValueError()).c_str());
    if (mTree->LostReleasedValues() && !HasError()) SetLostValuesError();
    KQovFieldReader::Block& block = mTree->GetBlock(mBlock);
    if (block.currentName >= 0) ++block.names[static_cast<size_t>(block.currentName)].cursor;
    block.currentName = -1;
    mRecord = -1;
}

int KQovFieldFile::FieldReadGetOccurrence() const {
    if (!mTree || mBlock < 0 || mRecord < 0) return -1;
    const KQovFieldReader::Block& block = mTree->GetBlock(mBlock);
    return block.currentName >= 0
               ? static_cast<int>(block.names[static_cast<size_t>(block.currentName)].cursor)
               : -1;
}

int KQovFieldFile::FieldReadGetOccurrenceCount(const char* name) const {
    if (!mTree || mBlock < 0) return 0;
    int32_t index = mTree->FindName(mBlock, name);
    if (index < 0) return 0;
    return static_cast<int>(mTree->GetBlock(mBlock).names[static_cast<size_t>(index)].count);
}

int KQovFieldFile::FieldReadGetNameCount() const {
    return mTree && mBlock >= 0 ? static_cast<int>(mTree->GetBlock(mBlock).names.size()) : 0;
}

const char* KQovFieldFile::FieldReadGetName(int index) const {
    if (!mTree || mBlock < 0) return "";
    return mTree->GetNameText(mBlock, index);
}

void KQovFieldFile::FieldReadRewind() {
    if (!mTree || mBlock < 0) return;
    for (auto& name : mTree->GetBlock(mBlock).names) name.cursor = 0;
}

bool KQovFieldFile::FieldReadBlockBegin() {
    if (!CurrentRecordValid() || mValues.child < 0) {
        SetError(eFileCorrupted);
        return false;
    }
    mReadLevels.push_back({mBlock, mRecord, mValues});
    mBlock = mValues.child;
    mRecord = -1;
    return true;
}

void KQovFieldFile::FieldReadBlockEnd() {
    if (mReadLevels.empty()) return;
    if (mTree && mBlock >= 0) mTree->GetBlock(mBlock).currentName = -1;
    mBlock = mReadLevels.back().block;
    mRecord = mReadLevels.back().record;
    mValues = mReadLevels.back().values;
    mReadLevels.pop_back();
}

int KQovFieldFile::FieldReadGetCount() const {
    return CurrentRecordValid() ? static_cast<int>(mValues.valueCount) : 0;
}

#define K_NEXT_VALUE(neutral)     \
    KQovFieldReader::Value value; \
    if (!CurrentRecordValid() || !mTree->NextValue(mValues, value)) return neutral;

const char* KQovFieldFile::FieldReadC() {
    K_NEXT_VALUE("")
    return mTree->ToText(value);
}

const uint8_t* KQovFieldFile::FieldReadR(uint32_t& size) {
    size = 0;
    K_NEXT_VALUE(nullptr)
    if (value.type != 'R' && value.type != 'S' && value.type != 'N') return nullptr;
    mRawHandedOut = true;
    size = value.size;
    return value.data;
}

#undef K_NEXT_VALUE

void KQovFieldFile::FieldReadDn(double* out, int count) {
    if (!out) return;
    for (int i = 0; i < count; ++i) out[i] = FieldReadGetRemain() > 0 ? FieldReadD() : 0.0;
}

size_t KQovFieldFile::FieldReadIn(int32_t* out, size_t count) {
    if (!out || !CurrentRecordValid()) return 0;
    return mTree->ReadInts(mValues, out, count);
}

size_t KQovFieldFile::FieldReadDoubles(double* out, size_t count) {
    if (!out || !CurrentRecordValid()) return 0;
    return mTree->ReadDoubles(mValues, out, count);
}

KTime KQovFieldFile::FieldReadTimeAnyType() {
    if (!CurrentRecordValid()) return KTime();
    KQovFieldReader::Value value;
    if (!mTree->PeekValue(mValues, value)) return KTime();
    if ((mBinary && value.type == 'L') || CurrentPartVersion() >= 2001) return KTime(FieldReadLL());
    KTime time;
    time.SetSecondDouble(FieldReadD());
    return time;
}

KTime KQovFieldFile::FieldReadT(const char* name) {
    if (!FieldReadBegin(name)) return KTime();
    KTime time = FieldReadT();
    FieldReadEnd();
    return time;
}

void KQovFieldFile::FieldReadTS(const char* name, KTime& start, KTime& stop) {
    start = stop = KTime();
    if (!FieldReadBegin(name)) return;
    start = FieldReadT();
    stop = FieldReadT();
    FieldReadEnd();
}

char KQovFieldFile::FieldReadCh(const char* name, char defaultValue) {
    if (!FieldReadBegin(name)) return defaultValue;
    char value = FieldReadCh();
    FieldReadEnd();
    return value;
}

const char* KQovFieldFile::FieldReadC(const char* name, const char* defaultValue) {
    if (!FieldReadBegin(name)) return defaultValue;
    const char* value = FieldReadC();
    FieldReadEnd();
    return value;
}

int32_t KQovFieldFile::FieldReadI(const char* name, int32_t defaultValue) {
    if (!FieldReadBegin(name)) return defaultValue;
    int32_t value = FieldReadI();
    FieldReadEnd();
    return value;
}

double KQovFieldFile::FieldReadD(const char* name, double defaultValue) {
    if (!FieldReadBegin(name)) return defaultValue;
    double value = FieldReadD();
    FieldReadEnd();
    return value;
}

void KQovFieldFile::FieldReadDn(const char* name, double* out, const double* defaults, int count) {
    if (!FieldReadBegin(name)) {
        if (out && defaults)
            for (int i = 0; i < count; ++i) out[i] = defaults[i];
        return;
    }
    FieldReadDn(out, count);
    FieldReadEnd();
}

const uint8_t* KQovFieldFile::FieldReadStoredBytes(size_t& size) const {
    size = 0;
    if (!CurrentRecordValid() || GetByteOrder() != kHostByteOrder) return nullptr;
    return mTree->StoredBytes(static_cast<uint32_t>(mRecord), mValues, size);
}

void KQovFieldFile::FieldReadSkipStored(int values, size_t bytes) {
    if (!CurrentRecordValid() || values <= 0) return;
    const uint32_t remain = mValues.valueCount - mValues.cursorIndex;
    if (static_cast<uint32_t>(values) > remain) return;
    KQovFieldReader::SkipStored(mValues, static_cast<uint32_t>(values), bytes);
}

uint8_t* KQovFieldFile::FieldWriteEncodedRoom(size_t size) {
    if (!CanWriteEncoded() || size > kOutCapacity) return nullptr;
    if (mOutSize + size > kOutCapacity) Flush();
    if (!mOut) mOut.reset(new uint8_t[kOutCapacity]);
    return mOut.get() + mOutSize;
}

bool KQovFieldFile::FieldWriteEncodedCommit(size_t size, size_t count) {
    if (!CanWriteEncoded() || mOutSize + size > kOutCapacity) return false;
    mOutSize += size;
    return CountEncoded(size, count);
}
