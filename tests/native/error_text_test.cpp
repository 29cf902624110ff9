// The full-stop rule of the error box.
#include "framework/Exceptions.h"

#include <gtest/gtest.h>

namespace {

TEST(ErrorBoxText, FullStopAfterCharactersAboveIt) {
    EXPECT_EQ(ErrorBoxText("Not enough timers available"), "Not enough timers available.");
    EXPECT_EQ(ErrorBoxText("version 3"), "version 3.");
    // GBK text: the last byte of a Chinese character is above '.'.
    EXPECT_EQ(ErrorBoxText("\xCA\xA7\xB0\xDC"), "\xCA\xA7\xB0\xDC.");
}

TEST(ErrorBoxText, NoFullStopAfterPunctuationOrNothing) {
    EXPECT_EQ(ErrorBoxText(""), "");
    EXPECT_EQ(ErrorBoxText("done."), "done.");
    EXPECT_EQ(ErrorBoxText("stop!"), "stop!");
    EXPECT_EQ(ErrorBoxText("(see log)"), "(see log)");
    EXPECT_EQ(ErrorBoxText("trailing space "), "trailing space ");
    EXPECT_EQ(ErrorBoxText("a-b,"), "a-b,");
}

} // namespace
