#include "foundation/KError.h"

KError::KError(const char* const* table, int count)
    : mCode(-1), mCount(table && count > 0 ? count : 0), mMessage(""), mTable(table) {}

void KError::SetError(int code) {
    mCode = code;
    if (code >= 0 && code < mCount)
        mMessage = mTable[code];  // a null entry leaves the invalid state, which reads ""
    else
        mMessage.Empty();
}

void KError::SetErrorWithText(int code, const char* detail) {
    mCode = code;
    mMessage = detail;
}

void KError::ClearError() {
    mCode = -1;
    mMessage = "";
}
