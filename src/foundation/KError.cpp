#include "foundation/KError.h"

#include <new>

namespace {

// Error paths run out of memory too: a message that cannot be held whole keeps
// what fits the inline buffer, which allocates nothing, rather than throw.
void SetMessage(KString& message, const char* text) {
    try {
        message = text;  // a null text leaves the invalid state, which reads ""
    } catch (const std::bad_alloc&) {
        int n = 0;
        while (n < KString::kInlineMax && text[n] != '\0') ++n;
        message = KString(text, n);
    }
}

}  // namespace

KError::KError(const char* const* table, int count)
    : mCode(-1), mCount(table && count > 0 ? count : 0), mMessage(""), mTable(table) {}

void KError::SetError(int code) {
    mCode = code;
    if (code >= 0 && code < mCount)
        SetMessage(mMessage, mTable[code]);
    else
        mMessage.Empty();
}

void KError::SetErrorWithText(int code, const char* detail) {
    mCode = code;
    SetMessage(mMessage, detail);
}

void KError::ClearError() {
    mCode = -1;
    mMessage = "";
}
