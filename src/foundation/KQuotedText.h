#pragma once
// Names, labels and file names quoted in a message (a warning, an error's text): one taken from
// a file or a caller may hold a line break or a terminal's escape sequence.

#include <string>
#include <string_view>

// `text` with each control byte (C0 and DEL: a line break, a tab, an escape) as \xhh, as
// qovtool shows them: the message keeps to its line and sends no control to a terminal. A text
// without one comes back as it is; a backslash is never doubled.
std::string KQovMessageText(std::string_view text);
inline std::string KQovMessageText(const char* text) {
    return text ? KQovMessageText(std::string_view(text)) : std::string();
}
