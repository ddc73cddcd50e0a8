#include "foundation/KTextLineReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "foundation/KFileStream.h"

namespace {

constexpr size_t kChunkSize = 64 * 1024;

// A UTF-8 byte-order mark that editors put before the first line is no part of it.
std::string_view WithoutMark(std::string_view line) {
    return line.substr(0, 3) == "\xEF\xBB\xBF" ? line.substr(3) : line;
}

}  // namespace

KTextLineReader::KTextLineReader()
    : mStream(nullptr),
      mBegin(0),
      mEnd(0),
      mHasSource(false),
      mStreamDone(true),
      mAtEnd(true),
      mTooLong(false),
      mMaxLine(kMaxLineLength),
      mLineNumber(0) {}

bool KTextLineReader::IsWideText(std::string_view head) {
    if (head.size() >= 2 && ((uint8_t(head[0]) == 0xFF && uint8_t(head[1]) == 0xFE) ||
                             (uint8_t(head[0]) == 0xFE && uint8_t(head[1]) == 0xFF)))
        return true;
    // Without a mark: every character of the first ones below 256, as text mostly is.
    const size_t count = std::min<size_t>(head.size(), 64) & ~size_t(1);
    if (count < 4) return false;
    for (size_t zero = 0; zero < 2; ++zero) {
        bool wide = true, any = false;
        for (size_t i = 0; i < count && wide; i += 2) {
            wide = head[i + zero] == 0;
            any = any || head[i + 1 - zero] != 0;
        }
        if (wide && any) return true;
    }
    return false;
}

bool KTextLineReader::IsWideTextFile(const char* path, int* readError) {
    if (readError) *readError = 0;
    KFileStream file;
    if (!path || !file.Open(path, "rb")) return false;
    char head[64];
    const uint32_t got = file.Read(head, sizeof head);
    if (readError) *readError = file.GetReadError();
    return file.GetReadError() == 0 && IsWideText(std::string_view(head, got));
}

void KTextLineReader::SetText(std::string_view text) {
    Clear();
    mText = text;
    mEnd = text.size();
    mHasSource = true;
    mAtEnd = false;
}

void KTextLineReader::SetStream(KFileStream* stream) {
    Clear();
    if (!stream) return;
    mStream = stream;
    mStreamDone = false;
    mHasSource = true;
    mAtEnd = false;
}

void KTextLineReader::Clear() {
    mText = std::string_view();
    mStream = nullptr;
    mChunk.clear();
    mChunk.shrink_to_fit();
    mBegin = mEnd = 0;
    mHasSource = false;
    mStreamDone = true;
    mAtEnd = true;
    mTooLong = false;
    mReadError = 0;
    mLineNumber = 0;
}

bool KTextLineReader::Fill() {
    if (mBegin > 0) {
        std::memmove(mChunk.data(), mChunk.data() + mBegin, mEnd - mBegin);
        mEnd -= mBegin;
        mBegin = 0;
    }
    // Only a line longer than the chunk makes it grow, and then geometrically.
    if (mEnd == mChunk.size()) mChunk.resize(std::max(kChunkSize, mChunk.size() * 2));
    const size_t room = std::min<size_t>(mChunk.size() - mEnd, UINT32_MAX);
    const uint32_t got = mStream->Read(mChunk.data() + mEnd, static_cast<uint32_t>(room));
    mEnd += got;
    if (const int error = mStream->GetReadError()) {
        // What came before the failure may end inside a line: nothing more is delivered.
        mReadError = error;
        mStreamDone = true;
        mAtEnd = true;
        mBegin = mEnd = 0;
        return false;
    }
    if (got == 0) mStreamDone = true;
    return got > 0;
}

bool KTextLineReader::ReadLine(std::string_view& line) {
    line = std::string_view();
    if (!mHasSource || mTooLong || mReadError) {
        mAtEnd = true;
        return false;
    }
    size_t scanned = 0;  // bytes after mBegin known to hold no line break
    for (;;) {
        const char* data = Data();
        size_t i = mBegin + scanned;
        while (i < mEnd && data[i] != '\n' && data[i] != '\r') ++i;
        if (i < mEnd) {
            // A CR closing the chunk may be the first half of a CR LF.
            if (data[i] == '\r' && i + 1 == mEnd && !mStreamDone) {
                scanned = i - mBegin;
                if (!Fill() && mReadError) return false;
                continue;
            }
            size_t next = i + 1;
            if (data[i] == '\r' && next < mEnd && data[next] == '\n') ++next;
            line = std::string_view(data + mBegin, i - mBegin);
            if (mLineNumber == 0) line = WithoutMark(line);
            mBegin = next;
            ++mLineNumber;
            mHadBreak = true;
            return true;
        }
        if (!mStreamDone) {
            scanned = mEnd - mBegin;
            // The break is still not in sight: a line this long is no text line.
            if (scanned >= mMaxLine) {
                mTooLong = true;
                mAtEnd = true;
                mStreamDone = true;
                mBegin = mEnd = 0;
                mChunk.clear();
                mChunk.shrink_to_fit();
                return false;
            }
            if (!Fill() && mReadError) return false;
            continue;
        }
        if (mBegin < mEnd) {
            line = std::string_view(data + mBegin, mEnd - mBegin);
            if (mLineNumber == 0) line = WithoutMark(line);
            mBegin = mEnd;
            ++mLineNumber;
            mHadBreak = false;
            return true;
        }
        mAtEnd = true;
        return false;
    }
}

bool KTextLineReader::Rewind() {
    if (!mHasSource) return false;
    mLineNumber = 0;
    // A stream that failed a read is not read again: its reading was refused.
    if (mReadError) return false;
    mAtEnd = false;
    mTooLong = false;
    if (!mStream) {
        mBegin = 0;
        mEnd = mText.size();
        return true;
    }
    mBegin = mEnd = 0;
    mStreamDone = false;
    if (mStream->Seek(0, 0) != 0) {
        mStreamDone = true;
        mAtEnd = true;
        return false;
    }
    return true;
}
