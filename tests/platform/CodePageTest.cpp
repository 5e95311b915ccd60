// CP932 conversions both ways, the replacing conversion, and the lead-byte awareness of searches
// and comparisons without case.
#include <gtest/gtest.h>

#include "platform/CodePage.h"

using namespace platform;

// "パソコン": the second byte of "ソ" is 0x5C, the backslash.
static const std::string kPasokon = "パソコン";

TEST(CodePage, RoundTripsJapaneseTextThroughUtf8AndUtf16) {
    ASSERT_EQ(kPasokon.size(), 8u);
    EXPECT_EQ(static_cast<unsigned char>(kPasokon[3]), 0x5C);
    auto utf8 = Cp932ToUtf8(kPasokon);
    ASSERT_TRUE(utf8);
    EXPECT_EQ(*utf8, "\xE3\x83\x91\xE3\x82\xBD\xE3\x82\xB3\xE3\x83\xB3");
    EXPECT_EQ(Utf8ToCp932(*utf8), kPasokon);
    auto utf16 = Cp932ToUtf16(kPasokon);
    ASSERT_TRUE(utf16);
    EXPECT_EQ(*utf16, u"\u30D1\u30BD\u30B3\u30F3");
    EXPECT_EQ(Utf16ToCp932(*utf16), kPasokon);
}

TEST(CodePage, TextThatCp932CannotHoldFails) {
    EXPECT_FALSE(Utf8ToCp932("\xF0\x9F\x98\x80"));  // an emoji
    EXPECT_FALSE(Cp932ToUtf8("\x82"));              // a lone lead byte
}

TEST(CodePage, ReplacingConversionKeepsTheRestOfTheText) {
    // "Café パソコン": "é" has no CP932 code; the Japanese after it is kept.
    EXPECT_EQ(Utf8ToCp932Replacing("Caf\xC3\xA9 \xE3\x83\x91\xE3\x82\xBD\xE3\x82\xB3\xE3\x83\xB3"), "Caf? " + kPasokon);
    // One "?" for each character, whatever its length: two bytes, three (U+20AC, and U+FFFD
    // whose lead EF is the last of the three-byte leads) and four.
    EXPECT_EQ(Utf8ToCp932Replacing("\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBD\xF0\x9F\x98\x80!"),
              "?"
              "?"
              "?"
              "?!");
    // A byte that starts no UTF-8 character, and a character cut at the end.
    EXPECT_EQ(Utf8ToCp932Replacing("a\xFF"
                                   "b\xE3\x83"),
              "a?b?");
    EXPECT_EQ(Utf8ToCp932Replacing(""), "");
}

TEST(CodePage, BackslashSearchStepsOverDoubleByteCharacters) {
    std::string path = "C:\\" + kPasokon + "\\file";
    EXPECT_EQ(FindChar(kPasokon, '\\'), std::string::npos);
    EXPECT_EQ(FindLastChar(path, '\\'), 3 + kPasokon.size());
    EXPECT_EQ(FindChar(path, '\\', 3), 3 + kPasokon.size());
    EXPECT_EQ(ReplaceAll(kPasokon + "\\n", "\\n", "\n"), kPasokon + "\n");
    EXPECT_EQ(ReplaceAll("ソn", "\\n", "X"), "ソn");
}

TEST(CodePage, TheLeadByteRangesEndWhereCp932EndsThem) {
    // Lead bytes are 81-9F and E0-FC: behind one, 5C is the second half of a character.
    for (int lead : {0x81, 0x9F, 0xE0, 0xFC}) {
        std::string name{static_cast<char>(lead), '\\', 'x', '\\'};
        EXPECT_EQ(FindChar(name, '\\'), 3u) << std::hex << lead;
        EXPECT_EQ(FindLastChar(name, '\\'), 3u) << std::hex << lead;
    }
    // Just outside them (and the single-byte katakana A1-DF) a byte stands alone.
    for (int single : {0x80, 0xA0, 0xA1, 0xDF, 0xFD}) {
        std::string name{static_cast<char>(single), '\\', 'x'};
        EXPECT_EQ(FindChar(name, '\\'), 1u) << std::hex << single;
        EXPECT_EQ(FindLastChar(name, '\\'), 1u) << std::hex << single;
    }
}

TEST(CodePage, NamesCompareWithoutCaseOnlyForLetters) {
    EXPECT_TRUE(EqualsNoCase("History.INI", "history.ini"));
    EXPECT_FALSE(EqualsNoCase("History.ini", "History.in"));
    // "ソ" is 83 5C; "ャ" is 83 83: trail bytes are never case-folded.
    EXPECT_FALSE(EqualsNoCase("\x83\x61", "\x83\x41"));
}

TEST(CodePage, FindingWithoutCaseStartsOnlyAtCharacters) {
    EXPECT_EQ(FindNoCase("USBSTOR\\DISK&VID_2F6A&PID_0C31", "vid_2f6a&pid_0c31"), 13u);
    EXPECT_EQ(FindNoCase("usbstor\\disk&vid_2f6a&pid_0c31", "PID_0C31"), 22u);
    EXPECT_EQ(FindNoCase("PID_0C3", "PID_0C31"), std::string::npos);
    EXPECT_EQ(FindNoCase("PID_0C31", "PID_0C31"), 0u);
    // The trail byte of "ソ" (83 5C) is no backslash; the one after it is.
    EXPECT_EQ(FindNoCase("\x83\x5C\\", "\\"), 2u);
    EXPECT_EQ(FindNoCase("\x83\x5C", "\\"), std::string::npos);
}
