#include "foundation/KError.h"

#include <gtest/gtest.h>

namespace {
const char* const kMessages[] = {"No error", "Out of memory", "File not found", nullptr};
}

TEST(KError, FreshObjectHasNoError) {
    KError error(kMessages, 4);
    EXPECT_EQ(error.GetErrorCode(), -1);
    EXPECT_STREQ(error.GetErrorText(), "");
    EXPECT_EQ(error.GetErrorCount(), 4);
}

TEST(KError, DetailReplacesTableTextUntilTheNextSetError) {
    KError error(kMessages, 4);
    error.SetErrorWithText(2, "Index out of range");
    EXPECT_EQ(error.GetErrorCode(), 2);
    EXPECT_STREQ(error.GetErrorText(), "Index out of range");
    error.SetError(2);
    EXPECT_STREQ(error.GetErrorText(), "File not found");
    error.SetError(1);
    EXPECT_STREQ(error.GetErrorText(), "Out of memory");
    error.ClearError();
    EXPECT_EQ(error.GetErrorCode(), -1);
    EXPECT_STREQ(error.GetErrorText(), "");
}

TEST(KError, NullEntriesAndDetailsReadEmpty) {
    KError error(kMessages, 4);
    error.SetError(3);
    EXPECT_EQ(error.GetErrorCode(), 3);
    EXPECT_STREQ(error.GetErrorText(), "");
    error.SetErrorWithText(1, nullptr);
    EXPECT_EQ(error.GetErrorCode(), 1);
    EXPECT_STREQ(error.GetErrorText(), "");
}

TEST(KError, CodesOutsideTheTableKeepTheCode) {
    KError error(kMessages, 3);
    for (int code : {3, 4, 1000, -1, -7, 2147483647}) {
        error.SetError(1);
        error.SetError(code);
        EXPECT_EQ(error.GetErrorCode(), code);
        EXPECT_STREQ(error.GetErrorText(), "");
    }
    // A detail text is kept whatever the code.
    error.SetErrorWithText(99, "Take node does not exist");
    EXPECT_EQ(error.GetErrorCode(), 99);
    EXPECT_STREQ(error.GetErrorText(), "Take node does not exist");

    KError noTable(nullptr, 5);
    noTable.SetError(0);
    EXPECT_EQ(noTable.GetErrorCode(), 0);
    EXPECT_STREQ(noTable.GetErrorText(), "");
}

// A message that cannot be held whole keeps what fits inline, cut after a whole word; one that
// fits stays whole.
TEST(KError, InlineMessageEndsAfterAWord) {
    const struct {
        const char* text;
        const char* kept;
    } cases[] = {
        {"File not created: the take file walk.qov cannot be written since the folder is gone",
         "File not created: the take file walk.qov cannot be written..."},
        {"short enough", "short enough"},
        {"x23456789012345678901234567890123456789012345678901234567890123456789",
         "x2345678901234567890123456789012345678901234567890123456789..."},
        // A character of two bytes is not split by a cut inside one long word.
        {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\xc3\xa9yyyyyyyy",
         "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx..."},
    };
    for (const auto& c : cases) {
        const std::string kept = KErrorInlineMessage(c.text).Buffer();
        if (c.kept) {
            EXPECT_EQ(kept, c.kept);
        }
        EXPECT_LE(kept.size(), size_t(KString::kInlineMax));
        const size_t dots = kept.rfind("...");
        if (dots != std::string::npos && dots > 0) {
            EXPECT_NE(static_cast<unsigned char>(kept[dots - 1]) & 0xE0, 0xC0u) << kept;
        }
    }
}
