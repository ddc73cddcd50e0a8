#pragma once
// Lines of a text file format, from a memory text or from a file stream read in chunks.
// LF, CR and CR LF end a line alike; a last line without a break is delivered too; lines
// are counted for messages; a UTF-8 byte-order mark before the first line is skipped. A line is a view without its break and stays valid until the
// next call that reads, rewinds or changes the source. A stream line longer than any real
// file holds (an endless file of zeros, say) ends the reading with IsLineTooLong set, rather
// than growing one buffer until memory runs out.

#include <cstddef>
#include <string_view>
#include <vector>

class KFileStream;

class KTextLineReader {
public:
    // The longest line a stream may deliver, its break excluded.
    static constexpr size_t kMaxLineLength = size_t(1) << 24;

    KTextLineReader();
    KTextLineReader(const KTextLineReader&) = delete;
    KTextLineReader& operator=(const KTextLineReader&) = delete;

    // Reads from `text`, which is not copied and must outlive the reads.
    void SetText(std::string_view text);
    // Reads from the stream's current position on; the stream is not owned.
    void SetStream(KFileStream* stream);
    // No source: every read finds the end.
    void Clear();

    // The next line; false at the end of the text, at a line too long or when a read failed
    // (the line is then empty).
    bool ReadLine(std::string_view& line);
    // Back to the start of the text (a stream is sought to its start); the count restarts.
    // False when a stream cannot seek.
    bool Rewind();

    // Number of lines delivered since the source was set or rewound.
    int GetLineNumber() const { return mLineNumber; }
    // True once a read found nothing left.
    bool IsAtEnd() const { return mAtEnd; }
    // False when the text ends inside the last line delivered (it has no line break).
    bool HadBreak() const { return mHadBreak; }
    // True once a stream line ran past kMaxLineLength; reads then find the end until the
    // source is set or rewound.
    bool IsLineTooLong() const { return mTooLong; }
    // True when `head`, the first bytes of a file, is UTF-16 text: a byte-order mark (FF FE or
    // FE FF), or a zero byte in every other place while the bytes between are not all zero.
    // The text formats read 8-bit text only, where such a file reads as nothing.
    static bool IsWideText(std::string_view head);
    // The same for the first bytes of a file; false when it does not open or is shorter, or
    // when reading them failed (the system's error number then in `readError`, else 0).
    static bool IsWideTextFile(const char* path, int* readError = nullptr);
    // The error of a reader that refuses such a file.
    static constexpr const char* kWideTextMessage =
        "File not read: the file is UTF-16 text, which is not read; save it as ASCII or UTF-8 "
        "text";
    // The system's error number once a read of the stream failed (0 while none did): the
    // reading stopped there, and reads find the end until the source is set again. A read
    // that fails is no end of the file.
    int GetReadError() const { return mReadError; }
    // True when the reading stopped before the end: a line too long or a read that failed.
    bool StoppedShort() const { return mTooLong || mReadError != 0; }
    // Sets the longest line (tests; at least 1).
    void SetMaxLineLength(size_t length) { mMaxLine = length > 0 ? length : 1; }

private:
    // Reads more of the stream behind the unread bytes; false when nothing came (at the end,
    // or when the read failed: then mReadError is set and nothing more is delivered).
    bool Fill();
    const char* Data() const { return mStream ? mChunk.data() : mText.data(); }

    std::string_view mText;   // the memory source
    KFileStream* mStream;     // or the stream source
    std::vector<char> mChunk; // bytes of the stream: [mBegin, mEnd) not yet delivered
    size_t mBegin;
    size_t mEnd;
    bool mHasSource;
    bool mStreamDone;
    bool mAtEnd;
    bool mTooLong;
    bool mHadBreak = true;
    int mReadError = 0;
    size_t mMaxLine;
    int mLineNumber;
};
