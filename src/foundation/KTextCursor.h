#pragma once
// A read position on one line of a text file format: takes words and numbers off the line
// without ever reading past it. Numbers go through the locale-free decimal scanners of
// KLocale.h; white space is ASCII white space.

#include <cstddef>
#include <string_view>

class KTextCursor {
public:
    KTextCursor() = default;
    explicit KTextCursor(std::string_view line) : mLine(line) {}

    std::string_view GetLine() const { return mLine; }
    std::string_view GetRest() const { return mLine.substr(mPosition); }
    size_t GetPosition() const { return mPosition; }
    // Clamped to the line's length.
    void SetPosition(size_t position) { mPosition = position < mLine.size() ? position : mLine.size(); }
    bool AtEnd() const { return mPosition >= mLine.size(); }

    void SkipSpace();
    // Skips every character of `set`.
    void SkipAny(std::string_view set);
    // The character at the position without moving; false at the end.
    bool Peek(char& c) const;

    // The characters up to the end, a character of `terminators` or `maximum` characters;
    // empty at the end.
    std::string_view ReadUntil(std::string_view terminators, size_t maximum = std::string_view::npos);
    // White space first, then the word up to the next white space; empty when none is left.
    std::string_view ReadWord();

    // White space first, then a number (a file number: within kMaxFileNumber); on failure the
    // position does not move.
    bool ReadDouble(double& value);
    bool ReadInt(int& value);

private:
    template <class T>
    bool ReadNumber(T& value, size_t (*scan)(std::string_view, T&));

    std::string_view mLine;
    size_t mPosition = 0;
};

// True when `c` is one of the characters of `set`.
inline bool KIsCharInSet(std::string_view set, char c) {
    return set.find(c) != std::string_view::npos;
}
