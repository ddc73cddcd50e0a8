#include "formats/motion/KMotionFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "foundation/KTextCursor.h"

KMotionFile::KMotionFile(const char* formatName, const char* separators, const char* comments,
                         bool caseSensitive, bool report)
    : mReport(report),
      mCaseSensitive(caseSensitive),
      mSeparators(separators ? separators : ""),
      mTerminators(mSeparators),
      mComments(comments ? comments : ""),
      mFormatName(formatName ? formatName : "") {}

KMotionFile::~KMotionFile() {
    // A file still being written was not finished: the old one stays.
    Discard();
}

void KMotionFile::ClearLine() {
    mLine.clear();
    mPosition = 0;
}

int KMotionFile::Open(const char* path, const char* mode) {
    Close();
    const bool reading = mode && mode[0] == 'r';
    // Binary modes: the line reader handles every line end, and writers emit LF.
    const char* fileMode = reading ? "rb" : (mode && mode[0] == 'a') ? "ab" : "wb";
    if (!path || !mode || !mStream.Open(path, fileMode)) {
        mAtEnd = true;
        return 1;
    }
    mWriting = !reading;
    if (mWriting) return 0;  // nothing to read: at-end stays set
    mAtEnd = false;
    mReader.SetStream(&mStream);
    ReadLine();
    return 0;
}

int KMotionFile::Close() {
    const bool wasOpen = mStream.IsOpen();
    // The buffered rest goes out first, so a full disk shows here rather than vanish.
    bool failed = wasOpen && (mWriting ? !Flush() || mNumberRefused : mStream.HasError());
    mReader.Clear();
    if (mWriting && failed)
        mStream.Discard();
    else if (wasOpen && !mStream.Commit())
        failed = true;
    mWriting = false;
    mNumberRefused = false;
    mLineNumber = 0;
    mAtEnd = true;
    mLineTooLong = false;
    ClearLine();
    return wasOpen && !failed ? 0 : 1;
}

int KMotionFile::CloseTogether(KMotionFile& first, KMotionFile& second,
                              const KMotionFile** failed) {
    auto whole = [](KMotionFile& file) {
        return file.mStream.IsOpen() && file.mWriting && file.Flush() && !file.mNumberRefused;
    };
    const bool firstWhole = whole(first);
    const bool secondWhole = firstWhole && whole(second);
    if (failed) *failed = !firstWhole ? &first : !secondWhole ? &second : nullptr;
    const bool ok = secondWhole && KFileStream::CommitTogether(first.mStream, second.mStream);
    // Whatever is still open was not put in place.
    first.Discard();
    second.Discard();
    return ok ? 0 : 1;
}

void KMotionFile::Discard() {
    if (mWriting) mStream.Discard();
    Close();
}

std::string KMotionFile::CreateError(const char* path) {
    std::string problem = KCreateFileProblem(path);
    if (!problem.empty()) problem[0] = char(std::toupper(static_cast<unsigned char>(problem[0])));
    return "Cannot open file \"" + KQovMessageText(path) + "\" for writing. " + problem + ".";
}

bool KMotionFile::Flush() {
    if (!mStream.IsOpen()) return false;
    // A seek to the current position writes the buffer out; a failed write leaves the
    // stream's error set, while a pipe only refuses the seek itself.
    mStream.Seek(1, 0);
    return !mStream.HasError();
}

bool KMotionFile::IsSignificant(const char* text) const {
    for (const char* p = text; *p; ++p) {
        if (IsCharInSet(mComments, *p)) return false;
        if (!*mSeparators || !IsCharInSet(mSeparators, *p)) return true;
    }
    return false;
}

bool KMotionFile::ReadLine() {
    return NextLine(false);
}

bool KMotionFile::ReadLineAhead() {
    return NextLine(true) || (mReader.IsLineTooLong() && !mLineTooLong);
}

bool KMotionFile::NextLine(bool ahead) {
    std::string_view line;
    while (mReader.ReadLine(line)) {
        mLineNumber = mReader.GetLineNumber();
        // The line is a C text from here on: a NUL byte ends it.
        mLine.assign(line.data(), strnlen(line.data(), line.size()));
        mPosition = 0;
        if (IsSignificant(mLine.c_str())) {
            mPosition = size_t(SkipSeparators(mLine.c_str()) - mLine.c_str());
            return true;
        }
    }
    mAtEnd = true;
    ClearLine();
    if (mReader.IsLineTooLong() && !mLineTooLong) {
        mLineNumber = mReader.GetLineNumber() + 1;
        if (ahead) return false;
        mLineTooLong = true;
        Error("Line too long (more than %zu bytes)\n", KTextLineReader::kMaxLineLength);
    }
    return false;
}

bool KMotionFile::Rewind() {
    mLineNumber = 0;
    if (mWriting || !mReader.Rewind()) {
        mAtEnd = true;
        ClearLine();
        return false;
    }
    mAtEnd = false;
    return ReadLine();
}

const char* KMotionFile::SetSeparators(const char* separators) {
    const char* previous = mSeparators;
    mSeparators = separators ? separators : "";
    return previous;
}

const char* KMotionFile::SkipSeparators(const char* p) const {
    if (!p) return nullptr;
    while (*p && IsCharInSet(mSeparators, *p)) ++p;
    return p;
}

void KMotionFile::Advance(size_t count) {
    mPosition = std::min(mPosition + count, mLine.size());
    mPosition = size_t(SkipSeparators(GetPosition()) - mLine.c_str());
}

bool KMotionFile::PeekChar(char& c) const {
    if (mPosition >= mLine.size()) return false;
    c = mLine[mPosition];
    return true;
}

bool KMotionFile::GetChar(char& c) {
    if (!PeekChar(c)) return false;
    ++mPosition;
    return true;
}

bool KMotionFile::ReadToken(char* buffer, int maximum) {
    if (!buffer || maximum < 0 || mPosition >= mLine.size()) return false;
    size_t n = 0;
    while (mPosition + n < mLine.size() && n < size_t(maximum) &&
           !IsCharInSet(mTerminators, mLine[mPosition + n]))
        ++n;
    std::memcpy(buffer, mLine.data() + mPosition, n);
    buffer[n] = '\0';
    Advance(n);
    return true;
}

bool KMotionFile::ReadTokenString(KString& out) {
    char buffer[kTokenStringMaximum + 1];
    if (!ReadToken(buffer, kTokenStringMaximum)) return false;
    out = buffer;
    return true;
}

bool KMotionFile::ReadInt(int& value) {
    KTextCursor cursor(std::string_view(mLine).substr(mPosition));
    if (!cursor.ReadInt(value)) return false;
    Advance(cursor.GetPosition());
    return true;
}

bool KMotionFile::ReadDouble(double& value, double scale) {
    KTextCursor cursor(std::string_view(mLine).substr(mPosition));
    double v = 0;
    if (!cursor.ReadDouble(v) || !KIsSceneNumber(v * scale)) return false;
    value = v * scale;
    Advance(cursor.GetPosition());
    return true;
}

bool KMotionFile::ReadDoublePair(double values[2], double scale) {
    const size_t start = mPosition;
    for (int i = 0; i < 2; ++i) {
        const char* p = GetPosition();
        if (p[0] == '-' && MatchPrefix(p + 1, "inf")) {
            values[i] = -HUGE_VAL;
            Advance(4);
            continue;
        }
        if (MatchPrefix(p, "inf")) {
            values[i] = HUGE_VAL;
            Advance(3);
            continue;
        }
        KTextCursor cursor(std::string_view(mLine).substr(mPosition));
        double v = 0;
        if (!cursor.ReadDouble(v) || !KIsSceneNumber(v * scale)) {
            mPosition = start;
            return false;
        }
        values[i] = v * scale;
        Advance(cursor.GetPosition());
    }
    return true;
}

bool KMotionFile::ReadVector(double values[3], double scale) {
    KTextCursor cursor(std::string_view(mLine).substr(mPosition));
    double v[3];
    for (double& x : v)
        if (!cursor.ReadDouble(x) || !KIsSceneNumber(x * scale)) return false;
    for (int i = 0; i < 3; ++i) values[i] = v[i] * scale;
    Advance(cursor.GetPosition());
    return true;
}

int KMotionFile::FindKeyword(const KMotionKeyword* table) const {
    if (!table) return -1;
    for (int i = 0; table[i].text && table[i].text[0]; ++i)
        if (MatchPrefix(GetPosition(), table[i].text)) return i;
    return -1;
}

int KMotionFile::ReadKeyword(KMotionKeyword* table) {
    const int index = FindKeyword(table);
    if (index < 0) return -1;
    Advance(std::strlen(table[index].text));
    ++table[index].count;
    return index;
}

void KMotionFile::ResetKeywordCounts(KMotionKeyword* table) {
    if (!table) return;
    for (KMotionKeyword* k = table; k->text && k->text[0]; ++k) k->count = 0;
}

bool KMotionFile::Report(const MessageCallback& callback, const char* kind, const char* format,
                         va_list args) {
    if (!mReport || !callback) return false;
    // Bounded: a long argument cuts the message instead of running past the buffer.
    char message[kMessageSize];
    int used = KSnprintfC(message, sizeof message, "%s read %s (line %d): ", mFormatName, kind,
                          mLineNumber);
    if (used < 0) return false;
    if (size_t(used) < sizeof message)
        KVsnprintfC(message + used, sizeof message - size_t(used), format, args);
    callback(message);
    return true;
}

bool KMotionFile::Warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Report(mWarning, "warning", format, args);
    va_end(args);
    return false;
}

bool KMotionFile::Error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Report(mError, "error", format, args);
    va_end(args);
    return true;
}

int KMotionFile::Printf(int indent, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = VPrintf(indent, format, args);
    va_end(args);
    return written;
}

int KMotionFile::VPrintf(int indent, const char* format, va_list args) {
    if (!mWriting || !mStream.IsOpen()) return -1;
    // Nothing of the line is written, and the file is not put in place.
    if (!KFileNumbersOnly(format, args)) {
        mNumberRefused = true;
        return -1;
    }
    static const std::string kBlanks(2 * kMaxIndent, ' ');
    const uint32_t blanks = 2 * uint32_t(std::clamp(indent, 0, kMaxIndent));
    if (blanks > 0 && mStream.Write(kBlanks.data(), blanks) != blanks) return -1;
    // A line written frame after frame mostly fits here: no text is made for it.
    char line[512];
    va_list copy;
    va_copy(copy, args);
    const int n = KVsnprintfC(line, sizeof line, format, copy);
    va_end(copy);
    std::string longer;
    const char* text = line;
    size_t size = n < 0 ? 0 : size_t(n);
    if (size >= sizeof line) {
        longer = KVFormatC(format, args);
        text = longer.data();
        size = longer.size();
    }
    if (mStream.Write(text, uint32_t(size)) != size) return -1;
    return int(size);
}

int KMotionFile::CompareText(const char* a, const char* b) const {
    if (!a) a = "";
    if (!b) b = "";
    return mCaseSensitive ? std::strcmp(a, b) : KStrCaseCmp(a, b);
}

const char* KMotionFile::MatchPrefix(const char* text, const char* keyword) {
    if (!text) return nullptr;
    if (!keyword) return text;
    for (; *keyword; ++text, ++keyword)
        if (KToLower(*text) != KToLower(*keyword)) return nullptr;
    return text;
}

bool KMotionFile::IsCharInSet(const char* set, char c) {
    if (!set) return false;
    for (; *set; ++set)
        if (KToLower(*set) == c) return true;
    return false;
}
