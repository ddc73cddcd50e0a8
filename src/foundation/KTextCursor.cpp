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

bool KTextCursor::ReadDouble(double& value) {
    const size_t start = mPosition;
    SkipSpace();
    const size_t used = KScanDecimal(GetRest(), value);
    mPosition = used ? mPosition + used : start;
    return used > 0;
}

bool KTextCursor::ReadInt(int& value) {
    const size_t start = mPosition;
    SkipSpace();
    const size_t used = KScanInteger(GetRest(), value);
    mPosition = used ? mPosition + used : start;
    return used > 0;
}
