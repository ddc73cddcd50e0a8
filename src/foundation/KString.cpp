#include "foundation/KString.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "foundation/KLocale.h"

namespace {

// Sentinel buffers shared by every string; never written, never freed.
char gEmptyText[1];
char gInvalidText[1];
// Returned by an out-of-range index; per thread so concurrent readers never race.
thread_local char tScratch;

constexpr size_t kMaxLength = INT_MAX - 1;

KString InvalidString() {
    return KString(static_cast<const char*>(nullptr));
}

bool IsDelimiter(const char* delimiters, char c) {
    return delimiters && c != '\0' && std::strchr(delimiters, c) != nullptr;
}

// Finds the next token at or after pos; false when there is none.
bool NextToken(const char* text, int length, const char* delimiters, int& pos, int& tokenStart,
               int& tokenLength) {
    while (pos < length && IsDelimiter(delimiters, text[pos])) ++pos;
    if (pos >= length) return false;
    tokenStart = pos;
    while (pos < length && !IsDelimiter(delimiters, text[pos])) ++pos;
    tokenLength = pos - tokenStart;
    return true;
}

int ClampStart(int start, int length) {
    return start < 0 ? 0 : std::min(start, length);
}

}  // namespace

KString::KString() : mBuffer(gEmptyText), mLength(0), mCapacity(0) {
    mInline[0] = '\0';
}

KString::KString(const char* text) : KString() {
    if (text)
        Assign(text, std::strlen(text));
    else
        Invalidate();
}

KString::KString(const char* buffer, int length) : KString() {
    if (buffer && length >= 0)
        Assign(buffer, static_cast<size_t>(length));
    else
        Invalidate();
}

KString::KString(const KString& other) : KString() {
    *this = other;
}

KString::KString(KString&& other) noexcept : KString() {
    *this = std::move(other);
}

KString::KString(int value) : KString() {
    char text[16];
    int n = KSnprintfC(text, sizeof text, "%d", value);
    Assign(text, static_cast<size_t>(n));
}

KString::KString(float value) : KString(static_cast<double>(value)) {}

KString::KString(double value) : KString() {
    // "%f" of the largest double needs 317 characters.
    char text[400];
    int n = KSnprintfC(text, sizeof text, "%f", value);
    if (n < 0 || static_cast<size_t>(n) >= sizeof text)
        Invalidate();
    else
        Assign(text, static_cast<size_t>(n));
}

KString::~KString() {
    FreeHeap();
}

bool KString::IsInvalid() const {
    return mBuffer == gInvalidText;
}

bool KString::IsHeap() const {
    return mBuffer != gEmptyText && mBuffer != gInvalidText && mBuffer != mInline;
}

void KString::FreeHeap() {
    if (IsHeap()) std::free(mBuffer);
    mBuffer = gEmptyText;
}

void KString::SetEmptyState() {
    mBuffer = gEmptyText;
    mLength = 0;
    mCapacity = 0;
}

KString& KString::Empty() {
    FreeHeap();
    SetEmptyState();
    return *this;
}

KString& KString::Invalidate() {
    FreeHeap();
    SetEmptyState();
    mBuffer = gInvalidText;
    return *this;
}

// The text may lie inside the current buffer: it is copied before the old
// heap block is released, and memmove covers the inline-to-inline case.
bool KString::Assign(const char* text, size_t n) {
    if (n > kMaxLength) {
        Invalidate();
        return false;
    }
    char* old = IsHeap() ? mBuffer : nullptr;
    char* target = mInline;
    size_t capacity = kInlineMax;
    if (n > static_cast<size_t>(kInlineMax)) {
        target = static_cast<char*>(std::malloc(n + 1));
        // Out of memory is the caller's error, never a shorter or empty text.
        if (!target) throw std::bad_alloc();
        capacity = n;
    }
    if (n > 0) std::memmove(target, text, n);
    target[n] = '\0';
    mBuffer = target;
    mLength = static_cast<int>(n);
    mCapacity = static_cast<int>(capacity);
    std::free(old);
    return true;
}

bool KString::Append(const char* text, size_t n) {
    if (IsInvalid()) return false;
    // Nothing to add; the shared empty text must never be written, not even its terminator.
    if (n == 0) return true;
    size_t length = static_cast<size_t>(mLength);
    if (n > kMaxLength - length) {
        Invalidate();
        return false;
    }
    size_t needed = length + n;
    if (needed <= static_cast<size_t>(mCapacity)) {
        if (n > 0) std::memmove(mBuffer + length, text, n);
        mBuffer[needed] = '\0';
        mLength = static_cast<int>(needed);
        return true;
    }
    char* target = mInline;
    size_t capacity = kInlineMax;
    if (needed > static_cast<size_t>(kInlineMax)) {
        // Geometric growth keeps repeated appends linear.
        capacity = std::max(needed, std::min(kMaxLength, static_cast<size_t>(mCapacity) * 2));
        target = static_cast<char*>(std::malloc(capacity + 1));
        if (!target) throw std::bad_alloc();
    }
    // Both the old text and the operand (which may point into it) are read
    // before the old buffer is touched.
    if (target != mBuffer && length > 0) std::memcpy(target, mBuffer, length);
    if (n > 0) std::memmove(target + length, text, n);
    target[needed] = '\0';
    char* old = IsHeap() ? mBuffer : nullptr;
    mBuffer = target;
    mLength = static_cast<int>(needed);
    mCapacity = static_cast<int>(capacity);
    std::free(old);
    return true;
}

char& KString::operator[](int index) {
    if (static_cast<unsigned>(index) >= static_cast<unsigned>(mLength)) {
        tScratch = '\0';
        return tScratch;
    }
    return mBuffer[index];
}

const char& KString::operator[](int index) const {
    if (static_cast<unsigned>(index) >= static_cast<unsigned>(mLength)) {
        tScratch = '\0';
        return tScratch;
    }
    return mBuffer[index];
}

void KString::DetachBuffer(char** out) {
    if (out)
        *out = IsHeap() ? mBuffer : nullptr;
    else
        FreeHeap();
    SetEmptyState();
}

KString& KString::operator=(const KString& other) {
    if (this == &other) return *this;
    if (other.IsInvalid())
        Invalidate();
    else
        Assign(other.mBuffer, static_cast<size_t>(other.mLength));
    return *this;
}

KString& KString::operator=(KString&& other) noexcept {
    if (this == &other) return *this;
    if (other.IsHeap()) {
        FreeHeap();
        mBuffer = other.mBuffer;
        mLength = other.mLength;
        mCapacity = other.mCapacity;
        other.SetEmptyState();
    } else {
        *this = static_cast<const KString&>(other);
        other.Empty();
    }
    return *this;
}

KString& KString::operator=(const char* text) {
    if (text)
        Assign(text, std::strlen(text));
    else
        Invalidate();
    return *this;
}

KString& KString::operator=(char c) {
    Assign(&c, 1);
    return *this;
}

KString& KString::operator=(float value) {
    return *this = KString(value);
}

KString& KString::operator+=(const char* text) {
    if (text)
        Append(text, std::strlen(text));
    else
        Invalidate();
    return *this;
}

KString& KString::operator+=(const KString& other) {
    if (other.IsInvalid())
        Invalidate();
    else
        Append(other.mBuffer, static_cast<size_t>(other.mLength));
    return *this;
}

KString& KString::operator+=(char c) {
    Append(&c, 1);
    return *this;
}

KString& KString::operator+=(int value) {
    return *this += KString(value);
}

KString operator+(const KString& a, const KString& b) {
    KString result(a);
    result += b;
    return result;
}

KString operator+(const KString& a, const char* b) {
    KString result(a);
    result += b;
    return result;
}

KString operator+(const KString& a, char c) {
    KString result(a);
    result += c;
    return result;
}

KString operator+(const KString& a, int value) {
    KString result(a);
    result += value;
    return result;
}

int KString::Compare(const char* text) const {
    int r = std::strcmp(mBuffer, text ? text : "");
    return (r > 0) - (r < 0);
}

int KString::CompareNoCase(const char* text) const {
    const char* a = mBuffer;
    const char* b = text ? text : "";
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(KToUpper(*a));
        unsigned char y = static_cast<unsigned char>(KToUpper(*b));
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

int KString::Find(char c, int start) const {
    start = ClampStart(start, mLength);
    const void* hit = std::memchr(mBuffer + start, c, static_cast<size_t>(mLength - start));
    return hit ? static_cast<int>(static_cast<const char*>(hit) - mBuffer) : -1;
}

int KString::ReverseFind(char c) const {
    for (int i = mLength - 1; i >= 0; --i)
        if (mBuffer[i] == c) return i;
    return -1;
}

int KString::FindOneOf(const char* set, int start) const {
    if (!set) return -1;
    for (int i = ClampStart(start, mLength); i < mLength; ++i)
        if (IsDelimiter(set, mBuffer[i])) return i;
    return -1;
}

int KString::Find(const char* text, int start) const {
    if (!text) return 0;
    size_t at = std::string_view(mBuffer, static_cast<size_t>(mLength))
                    .find(text, static_cast<size_t>(ClampStart(start, mLength)));
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

KString KString::Copy(int first, int count) const {
    if (IsInvalid() || first < 0 || first > mLength || count < 0) return InvalidString();
    return KString(mBuffer + first, std::min(count, mLength - first));
}

KString KString::Mid(int first, int count) const {
    return Copy(first, count);
}

KString KString::Mid(int first) const {
    return Copy(first, INT_MAX);
}

KString KString::Left(int count) const {
    return Copy(0, count);
}

KString KString::Right(int count) const {
    if (count < 0) return InvalidString();
    count = std::min(count, mLength);
    return Copy(mLength - count, count);
}

KString KString::Upper() const {
    KString result(*this);
    for (int i = 0; i < result.mLength; ++i) result.mBuffer[i] = KToUpper(result.mBuffer[i]);
    return result;
}

KString KString::Lower() const {
    KString result(*this);
    for (int i = 0; i < result.mLength; ++i) result.mBuffer[i] = KToLower(result.mBuffer[i]);
    return result;
}

KString KString::Reverse() const {
    KString result(*this);
    std::reverse(result.mBuffer, result.mBuffer + result.mLength);
    return result;
}

KString KString::Trim(int mode) const {
    if (IsInvalid()) return InvalidString();
    int begin = 0;
    int end = mLength;
    if (mode != 0)
        while (begin < end && KIsSpace(mBuffer[begin])) ++begin;
    if (mode != 1)
        while (end > begin && KIsSpace(mBuffer[end - 1])) --end;
    return KString(mBuffer + begin, end - begin);
}

int KString::GetTokenCount(const char* delimiters) const {
    int count = 0;
    int pos = 0, start = 0, length = 0;
    while (NextToken(mBuffer, mLength, delimiters, pos, start, length)) ++count;
    return count;
}

KString KString::GetToken(int index, const char* delimiters) const {
    if (index >= 0) {
        int pos = 0, start = 0, length = 0;
        for (int i = 0; NextToken(mBuffer, mLength, delimiters, pos, start, length); ++i)
            if (i == index) return KString(mBuffer + start, length);
    }
    return KString();
}

bool KString::FindAndReplace(const char* search, const char* replacement, int start) {
    // An empty search text would match forever for callers that repeat until false.
    if (!search || !*search || IsInvalid()) return false;
    int at = Find(search, start);
    if (at < 0) return false;
    size_t searchLength = std::strlen(search);
    if (!replacement) replacement = "";
    size_t tail = static_cast<size_t>(at) + searchLength;
    KString result(mBuffer, at);
    result.Append(replacement, std::strlen(replacement));
    result.Append(mBuffer + tail, static_cast<size_t>(mLength) - tail);
    if (result.IsInvalid()) return false;
    *this = std::move(result);
    return true;
}
