#pragma once
// Last error of the object that embeds it: a code and its message, taken from
// the owning class's static message table.

#include "foundation/KString.h"

class KError {
public:
    // The table is not owned; it must outlive the error object.
    KError(const char* const* table, int count);

    // A code outside the table keeps the code and gives an empty message.
    void SetError(int code);
    // The detail text replaces the table text entirely. Neither throws: out of
    // memory, the message keeps what fits KString::kInlineMax characters, cut after a
    // whole word and ended by "...".
    void SetErrorWithText(int code, const char* detail);
    void ClearError();

    int GetErrorCode() const { return mCode; }  // -1 when there is no error
    int GetErrorCount() const { return mCount; }
    const char* GetErrorText() const { return mMessage.Buffer(); }

private:
    int mCode;
    int mCount;
    KString mMessage;
    const char* const* mTable;
};

// What a message keeps where memory is refused: the whole text when it fits
// KString::kInlineMax characters, else its words that fit and "...". Allocates nothing.
KString KErrorInlineMessage(const char* text);
