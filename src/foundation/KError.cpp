#include "foundation/KError.h"

#include <new>

namespace {

// Error paths run out of memory too: a message that cannot be held whole keeps
// what fits the inline buffer rather than throw.
void SetMessage(KString& message, const char* text) {
    try {
        message = text;  // a null text leaves the invalid state, which reads ""
    } catch (const std::bad_alloc&) {
        message = KErrorInlineMessage(text);
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

KString KErrorInlineMessage(const char* text) {
    if (!text) return KString("");
    int n = 0;
    while (n <= KString::kInlineMax && text[n] != '\0') ++n;
    if (n <= KString::kInlineMax) return KString(text, n);
    // A cut ends at a word's end, marked "...", so no word reads as another.
    constexpr int kRoom = KString::kInlineMax - 3;
    int cut = kRoom;
    while (cut > 0 && text[cut] != ' ') --cut;
    while (cut > 0 && (text[cut - 1] == ' ' || text[cut - 1] == ':' || text[cut - 1] == ','))
        --cut;
    // One word longer than the room is cut, but never inside a character.
    if (cut == 0) {
        cut = kRoom;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    }
    char shown[KString::kInlineMax + 1];
    for (int i = 0; i < cut; ++i) shown[i] = text[i];
    shown[cut] = shown[cut + 1] = shown[cut + 2] = '.';
    return KString(shown, cut + 3);
}
