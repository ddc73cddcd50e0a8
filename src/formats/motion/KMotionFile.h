#pragma once
// The tokenised text file of the text motion-capture formats: delivers the file one
// significant line at a time (blank, separator-only and comment lines skipped), takes
// keywords, words and numbers off the current line, composes warnings and errors with the
// format's name and the line number, and writes indented text when opened for writing.
// Each format fixes its name and character sets in a small derived class.

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

#include "foundation/KFileStream.h"
#include "foundation/KString.h"
#include "foundation/KTextLineReader.h"

// One entry of a keyword table; a table ends with an entry whose text is empty.
struct KMotionKeyword {
    const char* text;
    int32_t count;
};

class KMotionFile {
public:
    // Receives a finished warning or error text.
    using MessageCallback = std::function<void(const char*)>;
    // A message holds its prefix and text within this many bytes, the terminator included.
    static constexpr size_t kMessageSize = 1024;
    // ReadTokenString reads words of at most this many characters.
    static constexpr int kTokenStringMaximum = 1023;
    // Printf indents at most this many levels: deeper lines stand at this depth, so the file
    // of a chain of thousands of joints grows with the joints, not with their square.
    static constexpr int kMaxIndent = 32;

    // The texts are kept, not copied: they are static texts of the format classes.
    KMotionFile(const char* formatName, const char* separators, const char* comments,
                bool caseSensitive, bool report);
    virtual ~KMotionFile();
    KMotionFile(const KMotionFile&) = delete;
    KMotionFile& operator=(const KMotionFile&) = delete;

    // Mode "r..." reads (the first significant line becomes current), "w..." and "a..."
    // write. 0 on success, 1 on failure.
    int Open(const char* path, const char* mode);
    // 0 when an open file closed cleanly, 1 when none was open or its writes failed. A file
    // opened for writing takes the place of the named one only when every write reached it.
    int Close();
    // Closes a file opened for writing without putting it in place: the old file stays.
    void Discard();
    // Close for two files written as a pair: both take the place of the named files, or
    // neither does (a write of either failed, or a number was refused). 0 when both did;
    // `failed`, when given, is then set to the file whose writes failed (null for neither).
    static int CloseTogether(KMotionFile& first, KMotionFile& second,
                             const KMotionFile** failed = nullptr);
    // Why Open could not create `path` for writing: "Cannot open file "<path>" for
    // writing." and the problem as a sentence of its own.
    static std::string CreateError(const char* path);
    // Writes out what is buffered; false when nothing is open or a write failed.
    bool Flush();
    // The next significant line; false at the end of the file.
    bool ReadLine();
    // As ReadLine, for a look past the lines a read takes: a line too long is a line there,
    // not an error, and leaves IsLineTooLong false.
    bool ReadLineAhead();
    // Back to the first significant line; false when the file cannot seek or holds none.
    bool Rewind();
    bool IsOpen() const { return mStream.IsOpen(); }
    bool IsAtEnd() const { return mAtEnd; }
    // True when the current line is the file's last and the file ends inside it: a file cut
    // short, or one whose last line lacks its line end.
    bool IsLineCut() const { return !mAtEnd && !mReader.HadBreak(); }
    // True once a line ran past what any real file holds (reported as an error): the reading
    // stopped there, and whatever came of it is no result.
    bool IsLineTooLong() const { return mLineTooLong; }
    // The longest line read (tests; at least 1).
    void SetMaxLineLength(size_t length) { mReader.SetMaxLineLength(length); }
    // The system's error number once a read of the file failed (0 while none did): the
    // reading stopped there, as at a line too long.
    int GetReadError() const { return mReader.GetReadError(); }
    // A line too long or a failed read: what was read is no whole file.
    bool StoppedShort() const { return mLineTooLong || GetReadError() != 0; }
    // Physical lines read since the file was opened or rewound.
    int GetLineNumber() const { return mLineNumber; }
    const char* GetLine() const { return mLine.c_str(); }
    const char* GetPosition() const { return mLine.c_str() + mPosition; }

    // Returns the previous set; the word terminators stay as constructed.
    const char* SetSeparators(const char* separators);
    // The first position at or after `p` that is not a separator (null gives null).
    const char* SkipSeparators(const char* p) const;

    bool PeekChar(char& c) const;
    bool GetChar(char& c);
    // A word of at most `maximum` characters into `buffer` (maximum + 1 bytes); a longer word
    // leaves its rest at the position. False at the end of the line.
    bool ReadToken(char* buffer, int maximum);
    bool ReadTokenString(KString& out);
    bool ReadInt(int& value);
    // A decimal number times the scale. No infinity is read, and a number beyond
    // kMaxFileNumber, or beyond kMaxSceneNumber times the scale, is refused: what is read is
    // data.
    bool ReadDouble(double& value, double scale);
    // A minimum and a maximum, each a number times the scale (as ReadDouble) or an infinity
    // ("inf", "-inf" in any case); on failure the position does not move.
    bool ReadDoublePair(double values[2], double scale);
    // Three numbers with only white space between them, each times the scale (as ReadDouble).
    bool ReadVector(double values[3], double scale);

    // Index of the first keyword the text at the position begins with (any case), -1 when
    // none; the position does not move.
    int FindKeyword(const KMotionKeyword* table) const;
    // As FindKeyword; a match moves behind the keyword and its separators and counts a use.
    int ReadKeyword(KMotionKeyword* table);
    static void ResetKeywordCounts(KMotionKeyword* table);

    // Composed only when reporting is on and a callback is installed. Warning returns false
    // and Error true, so format code can pass either on as its own result.
    bool Warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SetWarningCallback(MessageCallback callback) { mWarning = std::move(callback); }
    // Reporting on or off (as constructed until changed).
    void SetReport(bool report) { mReport = report; }
    const char* GetFormatName() const { return mFormatName; }
    void SetErrorCallback(MessageCallback callback) { mError = std::move(callback); }

    // Two blanks per indent level (up to kMaxIndent), then the text in the C locale; the length of
    // the text, negative when nothing could be written. A floating-point argument that is no file
    // number (KIsFileNumber) writes nothing and makes Close fail: see IsNumberRefused.
    int Printf(int indent, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Printf with the arguments in a list (left for the caller to end).
    int VPrintf(int indent, const char* format, va_list args);
    // True once Printf met a number that no reader takes back (until Close).
    bool IsNumberRefused() const { return mNumberRefused; }
    // For writers that format their own text: the file is refused as Printf would refuse it.
    void RefuseNumber() { mNumberRefused = true; }

    int CompareText(const char* a, const char* b) const;
    // The position behind `keyword` when `text` begins with it (any case), else null.
    static const char* MatchPrefix(const char* text, const char* keyword);
    static bool IsCharInSet(const char* set, char c);

private:
    // True when the line holds something before a comment or the end.
    bool IsSignificant(const char* text) const;
    // ReadLine; `ahead` as ReadLineAhead.
    bool NextLine(bool ahead);
    void ClearLine();
    void Advance(size_t count);
    bool Report(const MessageCallback& callback, const char* kind, const char* format,
                va_list args);

    KFileStream mStream;
    KTextLineReader mReader;
    std::string mLine;
    size_t mPosition = 0;
    int mLineNumber = 0;
    bool mReport;
    bool mCaseSensitive;
    bool mWriting = false;
    bool mAtEnd = true;
    bool mLineTooLong = false;
    bool mNumberRefused = false;
    const char* mSeparators;
    const char* mTerminators;
    const char* mComments;
    const char* mFormatName;
    MessageCallback mWarning;
    MessageCallback mError;
};
