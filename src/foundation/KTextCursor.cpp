#include "foundation/KTextCursor.h"

#include "foundation/KLocale.h"

void KTextCursor::SkipSpace() {
    while (mPosition < mLine.size() && KIsSpace(mLine[mPosition])) ++mPosition;
}

void KTextCursor::SkipAny(std::string_view set) {
    while (mPosition < mLine.size() && KIsCharInSet(set, mLine[mPosition])) ++mPosition;
}

bool KTextCursor::Peek(char& c) const {
    if (AtEnd()) return false;
    c = mLine[mPosition];
    return true;
}

std::string_view KTextCursor::ReadUntil(std::string_view terminators, size_t maximum) {
    const size_t start = mPosition;
    while (mPosition < mLine.size() && mPosition - start < maximum &&
           !KIsCharInSet(terminators, mLine[mPosition]))
        ++mPosition;
    return mLine.substr(start, mPosition - start);
}

std::string_view KTextCursor::ReadWord() {
    SkipSpace();
    const size_t start = mPosition;
    while (mPosition < mLine.size() && !KIsSpace(mLine[mPosition])) ++mPosition;
    return mLine.substr(start, mPosition - start);
}

// White space first, then one number through `scan`; the position moves only on success.
template <class T>
bool KTextCursor::ReadNumber(T& value, size_t (*scan)(std::string_view, T&)) {
    const size_t start = mPosition;
    SkipSpace();
    const size_t used = scan(GetRest(), value);
    mPosition = used ? mPosition + used : start;
    return used > 0;
}

bool KTextCursor::ReadDouble(double& value) {
    return ReadNumber<double>(value, KScanFileNumber);
}

bool KTextCursor::ReadInt(int& value) {
    return ReadNumber<int>(value, KScanInteger);
}
