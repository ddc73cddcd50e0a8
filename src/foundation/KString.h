#pragma once
// 8-bit character string with a small inline buffer and an invalid (null)
// state that spreads through copies and concatenation. An impossible length
// turns the string invalid; a failed allocation throws std::bad_alloc and
// leaves the string as it was. Texts of up to kInlineMax characters never
// allocate, so moves and short assignments never throw.

#include <cstddef>

class KString {
public:
    // Texts of up to this many characters live in the inline buffer.
    static constexpr int kInlineMax = 62;

    KString();
    KString(const char* text);                // null gives the invalid state
    KString(const char* buffer, int length);  // null buffer or negative length: invalid
    KString(const KString& other);
    KString(KString&& other) noexcept;
    explicit KString(int value);     // "%d"
    explicit KString(float value);   // "%f"
    explicit KString(double value);  // "%f"
    ~KString();

    KString& Empty();
    KString& Invalidate();
    bool IsEmpty() const { return mLength == 0; }
    int GetLen() const { return mLength; }
    const char* Buffer() const { return mBuffer; }

    // An index at or past the length gives a scratch zero character that is
    // not part of the text.
    char& operator[](int index);
    const char& operator[](int index) const;

    // Hands a heap buffer to the caller, who frees it with std::free; null
    // when the text is inline or empty. The string is left empty.
    void DetachBuffer(char** out);

    KString& operator=(const KString& other);
    KString& operator=(KString&& other) noexcept;
    KString& operator=(const char* text);
    KString& operator=(char c);
    KString& operator=(float value);

    KString& operator+=(const char* text);
    KString& operator+=(const KString& other);
    KString& operator+=(char c);
    KString& operator+=(int value);

    // strcmp-like over unsigned bytes; a null side reads as "". -1, 0 or 1.
    int Compare(const char* text) const;
    int CompareNoCase(const char* text) const;
    bool operator==(const KString& other) const { return Compare(other.mBuffer) == 0; }
    bool operator!=(const KString& other) const { return Compare(other.mBuffer) != 0; }
    bool operator<(const KString& other) const { return Compare(other.mBuffer) < 0; }
    bool operator==(const char* text) const { return Compare(text) == 0; }
    bool operator!=(const char* text) const { return Compare(text) != 0; }
    bool operator<(const char* text) const { return Compare(text) < 0; }

    // Character indices, -1 when not found; start is clamped to [0, length].
    int Find(char c, int start = 0) const;
    int ReverseFind(char c) const;
    int FindOneOf(const char* set, int start = 0) const;
    int Find(const char* text, int start = 0) const;

    // A first index outside [0, length] or a negative count gives the invalid
    // string; a count past the end is cut to the rest.
    KString Mid(int first, int count) const;
    KString Mid(int first) const;
    KString Left(int count) const;
    KString Right(int count) const;  // the whole text when count exceeds the length

    KString Upper() const;
    KString Lower() const;
    KString Reverse() const;
    // Mode 0 trims the end, 1 the start, any other value both.
    KString Trim(int mode = 2) const;

    // Tokens are maximal runs of characters outside the delimiter set.
    int GetTokenCount(const char* delimiters) const;
    KString GetToken(int index, const char* delimiters) const;

    // Replaces the first occurrence of search at or after start; false when
    // there is none (or search is null or empty).
    bool FindAndReplace(const char* search, const char* replacement, int start = 0);

private:
    bool IsInvalid() const;
    bool IsHeap() const;
    void FreeHeap();
    void SetEmptyState();
    bool Assign(const char* text, size_t n);
    bool Append(const char* text, size_t n);
    KString Copy(int first, int count) const;

    char* mBuffer;
    int mLength;
    int mCapacity;
    char mInline[kInlineMax + 2];
};

KString operator+(const KString& a, const KString& b);
KString operator+(const KString& a, const char* b);
KString operator+(const KString& a, char c);
KString operator+(const KString& a, int value);
