// The ASCII side of the parser: the grammar the ASCII writer produces. A record goes
// into the reader's buffer as its value count, then each value as letter, length and
// bytes (counts and lengths in 7-bit groups): quoted strings as 'S' (escapes decoded),
// bare tokens as 'N', and a bare \xHH as 'C' with its one byte (no length).

#include <cstring>

#include "fieldfile/KQovFieldReader.h"
#include "fieldfile/KQovStream.h"
#include "foundation/KLocale.h"

class KQovAsciiParser {
public:
    KQovAsciiParser(KQovFieldReader& reader, const KQovByteBuffer& text, int firstLine, bool atTop)
        : mReader(reader),
          mText(reinterpret_cast<const char*>(text.data())),
          mSize(text.size()),
          mLine(firstLine),
          mAtTop(atTop && !StartsWithQovHeader(text)) {}

    bool ParseBlock(int32_t block, int depth, bool firstFieldOnly);
    size_t Position() const { return mPos; }

private:
    bool AtEnd() const { return mPos >= mSize; }
    char Peek() const { return mPos < mSize ? mText[mPos] : 0; }
    void SkipBlanks() {
        while (mPos < mSize && (mText[mPos] == ' ' || mText[mPos] == '\t')) ++mPos;
    }
    bool AtLineEnd() const {
        return mPos >= mSize || mText[mPos] == '\n' ||
               (mText[mPos] == '\r' && (mPos + 1 >= mSize || mText[mPos + 1] == '\n'));
    }
    void SkipLineEnd() {
        if (mPos < mSize && mText[mPos] == '\r') ++mPos;
        if (mPos < mSize && mText[mPos] == '\n') {
            ++mPos;
            ++mLine;
        }
    }
    void SkipToLineEnd() {
        while (!AtLineEnd()) ++mPos;
    }
    // Skips blank lines and comments; false at the end of the text.
    bool SkipEmpty();
    bool ReadQuoted(std::string& out);
    bool ReadValues(uint32_t& count, bool& hasBlock);
    void Emit(char type, const char* bytes, size_t size);
    void EmitBare(const char* bytes, size_t size);
    std::vector<uint8_t> mValues;  // the values of the record being read
    // A file whose first field cannot be read is no QOV file, whatever the line says, unless it
    // starts as one is written: that one is a QOV file broken.
    static bool StartsWithQovHeader(const KQovByteBuffer& text) {
        static const char kHeader[] = "; QOV ";
        return text.size() >= sizeof kHeader - 1 &&
               std::memcmp(text.data(), kHeader, sizeof kHeader - 1) == 0;
    }
    bool Fail(const char* what) {
        return mReader.Fail(
            KFormatC("%sline %d: %s", mAtTop ? "not a QOV file: " : "", mLine, what));
    }

    KQovFieldReader& mReader;
    const char* mText;
    size_t mSize;
    size_t mPos = 0;
    int mLine;
    bool mAtTop;  // no field read yet at the top of a file that does not start as a QOV file
};

bool KQovAsciiParser::SkipEmpty() {
    for (;;) {
        while (mPos < mSize && KIsSpace(mText[mPos])) {
            if (mText[mPos] == '\n') ++mLine;
            ++mPos;
        }
        if (mPos >= mSize) return false;
        if (mText[mPos] != ';') return true;
        SkipToLineEnd();
    }
}

bool KQovAsciiParser::ReadQuoted(std::string& out) {
    ++mPos;  // the opening quote
    out.clear();
    while (mPos < mSize) {
        char c = mText[mPos++];
        if (c == '"') return true;
        if (c == '\n') return Fail("line break inside a quoted text");
        if (c == '\\' && mPos < mSize) {
            char n = mText[mPos];
            if (n == '"' || n == '\\') {
                out += n;
                ++mPos;
                continue;
            }
            if (n == 'n' || n == 'r') {
                out += n == 'n' ? '\n' : '\r';
                ++mPos;
                continue;
            }
        }
        out += c;
    }
    return Fail("unterminated quoted text");
}

void KQovAsciiParser::Emit(char type, const char* bytes, size_t size) {
    mValues.push_back(static_cast<uint8_t>(type));
    KQovFieldReader::PutVarint(mValues, static_cast<uint32_t>(size));
    mValues.insert(mValues.end(), bytes, bytes + size);
    // Texts end in a NUL the size leaves out: the reader hands them out where they are.
    mValues.push_back(0);
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

void KQovAsciiParser::EmitBare(const char* bytes, size_t size) {
    // A bare \xHH is a character value the writer could not put down as itself.
    if (size == 4 && bytes[0] == '\\' && bytes[1] == 'x' && HexDigit(bytes[2]) >= 0 &&
        HexDigit(bytes[3]) >= 0) {
        mValues.push_back('C');
        mValues.push_back(static_cast<uint8_t>(HexDigit(bytes[2]) * 16 + HexDigit(bytes[3])));
        return;
    }
    Emit('N', bytes, size);
}

bool KQovAsciiParser::ReadValues(uint32_t& count, bool& hasBlock) {
    count = 0;
    hasBlock = false;
    mValues.clear();
    std::string text;
    bool expectValue = true;  // at the start, and after a ','
    for (;;) {
        SkipBlanks();
        if (AtLineEnd()) {
            if (expectValue && count > 0) {  // "A: 1," keeps its empty last value
                Emit('N', "", 0);
                ++count;
            }
            // A wrapped value list goes on on the next line, which starts with ','; a
            // block opened right after a wrap has its '{' alone on the next line.
            size_t save = mPos;
            int saveLine = mLine;
            SkipLineEnd();
            SkipBlanks();
            if (!expectValue && Peek() == ',') continue;
            if (Peek() == '{') {
                ++mPos;
                SkipBlanks();
                if (AtLineEnd()) {
                    hasBlock = true;
                    SkipLineEnd();
                    return true;
                }
            }
            mPos = save;
            mLine = saveLine;
            SkipLineEnd();
            return true;
        }
        char c = Peek();
        if (!expectValue) {
            if (c == '{') {
                ++mPos;
                SkipBlanks();
                if (!AtLineEnd()) return Fail("text after '{'");
                hasBlock = true;
                SkipLineEnd();
                return true;
            }
            if (c != ',') return Fail("',' expected between values");
            ++mPos;
            expectValue = true;
            continue;
        }
        if (c == '"') {
            if (!ReadQuoted(text)) return false;
            Emit('S', text.data(), text.size());
            ++count;
            expectValue = false;
            continue;
        }
        if (c == ',') {  // an empty value
            Emit('N', "", 0);
            ++count;
            expectValue = false;
            continue;
        }
        size_t begin = mPos;
        while (!AtLineEnd() && mText[mPos] != ',') ++mPos;
        size_t end = mPos;
        while (end > begin && (mText[end - 1] == ' ' || mText[end - 1] == '\t')) --end;
        if (end > begin && mText[end - 1] == '{' && AtLineEnd()) {
            // " {" at the end of the line opens the field's block.
            size_t last = end - 1;
            while (last > begin && (mText[last - 1] == ' ' || mText[last - 1] == '\t')) --last;
            if (last > begin) {
                EmitBare(mText + begin, last - begin);
                ++count;
            } else if (count > 0) {
                return Fail("'{' after ','");
            }
            hasBlock = true;
            SkipLineEnd();
            return true;
        }
        EmitBare(mText + begin, end - begin);
        ++count;
        expectValue = false;
    }
}

bool KQovAsciiParser::ParseBlock(int32_t block, int depth, bool firstFieldOnly) {
    std::string name;
    for (;;) {
        if (!SkipEmpty()) {
            if (depth > 0) return Fail("block not closed");
            mReader.mBlocks[static_cast<size_t>(block)].closed = true;
            return true;
        }
        char c = Peek();
        if (c == '}') {
            if (depth == 0) return Fail("'}' without a block");
            ++mPos;
            SkipBlanks();
            if (!AtLineEnd()) return Fail("text after '}'");
            SkipLineEnd();
            mReader.mBlocks[static_cast<size_t>(block)].closed = true;
            return true;
        }
        if (c == '"') {
            if (!ReadQuoted(name)) return false;
            SkipBlanks();
            if (Peek() != ':') return Fail("':' expected after a field name");
        } else {
            size_t begin = mPos;
            while (!AtLineEnd() && mText[mPos] != ':') ++mPos;
            if (AtLineEnd()) return Fail("field without ':'");
            size_t end = mPos;
            while (end > begin && (mText[end - 1] == ' ' || mText[end - 1] == '\t')) --end;
            name.assign(mText + begin, end - begin);
        }
        ++mPos;  // ':'
        mAtTop = false;
        uint32_t count;
        bool hasBlock;
        if (!ReadValues(count, hasBlock)) return false;
        KQovByteBuffer& out = mReader.mBytes;
        // Offsets into the buffer are 32-bit.
        if (out.size() + mValues.size() + name.size() + 5 > 0xFFFFFFFFu)
            return Fail("file too large");
        uint32_t begin = static_cast<uint32_t>(out.size());
        KQovFieldReader::PutVarint(out, count);
        out.insert(out.end(), mValues.begin(), mValues.end());
        mReader.AddRecord(block, begin, name.data(), name.size(), KQovFieldReader::kNoRecord);
        if (hasBlock) {
            if (depth + 1 >= KQovFieldReader::kMaxDepth) return Fail("blocks nested too deeply");
            int32_t child = mReader.NewBlock(block);
            if (!ParseBlock(child, depth + 1, false)) return false;
        }
        mReader.mBlocks[static_cast<size_t>(block)].endRecord =
            static_cast<uint32_t>(mReader.mRecords.size());
        if (depth == 0 && firstFieldOnly) {
            mReader.mBlocks[static_cast<size_t>(block)].closed = true;
            return true;
        }
    }
}

bool KQovFieldReader::ParseAscii(const KQovByteBuffer& text, bool firstFieldOnly) {
    // Messages count lines from the top of the file, also for a part that starts lower.
    int firstLine = 1;
    if (mStream && mStart > 0) {
        int64_t here = mStream->Tell();
        mStream->SetPosition(0);
        std::vector<char> head(static_cast<size_t>(mStart));
        uint32_t got = mStream->Read(head.data(), static_cast<uint32_t>(head.size()));
        for (uint32_t i = 0; i < got; ++i) firstLine += head[i] == '\n';
        mStream->SetPosition(here);
    }
    KQovAsciiParser parser(*this, text, firstLine, !(mStream && mStart > 0));
    if (!parser.ParseBlock(0, 0, firstFieldOnly)) return false;
    mConsumed = parser.Position();
    return true;
}
