#include <gtest/gtest.h>

#include <string>

#include "foundation/KQuotedText.h"

// Control bytes only become \xhh: a backslash, a "\x0a" already written out, UTF-8 and other
// bytes above 0x7f stay as they are, so a name's text is never read twice over.
TEST(KQuotedText, OnlyControlBytesAreShownAsHex) {
    const struct {
        std::string in, out;
    } rows[] = {
        {"", ""},
        {"plain name", "plain name"},
        {"a\nb\rc\td", "a\\x0ab\\x0dc\\x09d"},
        {std::string("\x01\x1f\x20\x7e\x7f", 5), "\\x01\\x1f ~\\x7f"},
        {"esc\x1b[31m", "esc\\x1b[31m"},
        {"back\\slash \\x0a", "back\\slash \\x0a"},
        {"caf\xc3\xa9 \x80\xff", "caf\xc3\xa9 \x80\xff"},
    };
    for (const auto& row : rows) EXPECT_EQ(KQovMessageText(row.in), row.out) << row.in;
    EXPECT_EQ(KQovMessageText(static_cast<const char*>(nullptr)), "");
}
