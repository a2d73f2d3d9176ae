#include "engine/text.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Text, NarrowLiteralsAreCompiledToGbk) {
    // The engine's labels must be code page 936 bytes in every build, whatever the source encoding.
    EXPECT_STREQ("读文件", "\xB6\xC1\xCE\xC4\xBC\xFE");
    EXPECT_STREQ("：", "\xA3\xBA");
}

TEST(Text, SplitKeepsEmptyPieces) {
    // Pieces longer than the few bytes the byte search looks at one by one, too.
    const std::string longPiece(40, 'L');
    const std::string longLine = "[FILE_READ]|" + longPiece + "|0|" + longPiece + "||";
    std::vector<std::string_view> pieces;
    const struct {
        std::string_view text;
        std::vector<std::string_view> expected;
    } cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"|", {"", ""}},
        {"a||b|", {"a", "", "b", ""}},
        {"x|y|z", {"x", "y", "z"}},
        {longPiece, {longPiece}},
        {longLine, {"[FILE_READ]", longPiece, "0", longPiece, "", ""}},
    };
    for (const auto& c : cases) {
        SplitKeepEmpty(c.text, '|', pieces);
        EXPECT_EQ(pieces, c.expected) << c.text;

        // At most n pieces: all of them when there are no more, else n + 1 for "too many".
        const std::size_t n = c.expected.size();
        std::vector<std::string_view> bounded(n + 1);
        EXPECT_EQ(SplitAtMost(c.text, '|', bounded.data(), n + 1), n) << c.text;
        bounded.resize(n);
        EXPECT_EQ(bounded, c.expected) << c.text;
        if (n > 1) {
            EXPECT_EQ(SplitAtMost(c.text, '|', bounded.data(), n - 1), n) << c.text;
        }
    }
}

TEST(Text, NumbersAreDigitStringsWrappingModulo2To32) {
    const struct {
        std::string_view text;
        uint32_t value;
    } cases[] = {
        {"0", 0},
        {"12", 12},
        {"007", 7},
        {"4294967295", 4294967295u},
        {"4294967296", 0},
        {"4294967298", 2},
        {"99999999999", static_cast<uint32_t>(99999999999ull % 4294967296ull)},
        {"", 0},
        {"-1", 0},
        {"+1", 0},
        {" 1", 0},
        {"1 ", 0},
        {"12a", 0},
        {"0x10", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseNumber(c.text), c.value) << c.text;
    }
}

TEST(Text, BufferCopyCutsOnACharacterBoundary) {
    char buffer[8];
    CopyToBuffer(buffer, sizeof(buffer), "abc");
    EXPECT_STREQ(buffer, "abc");
    CopyToBuffer(buffer, sizeof(buffer), "abcdefghij");
    EXPECT_STREQ(buffer, "abcdefg");
    // Six ASCII bytes then a double-byte character: it does not fit whole, so it is left out.
    CopyToBuffer(buffer, sizeof(buffer), "abcdef\xB6\xC1z");
    EXPECT_STREQ(buffer, "abcdef");
    CopyToBuffer(buffer, sizeof(buffer), "abcde\xB6\xC1z");
    EXPECT_STREQ(buffer, "abcde\xB6\xC1");
    CopyToBuffer(buffer, sizeof(buffer), std::string_view("ab\0cd", 5));
    EXPECT_STREQ(buffer, "ab");
}

TEST(Text, MultibyteCompareFoldsAsciiOnly) {
    EXPECT_TRUE(EqualsNoCaseMultibyte("Microsoft Windows", "microsoft WINDOWS"));
    EXPECT_FALSE(EqualsNoCaseMultibyte("Microsoft Windows", "Microsoft Windows "));
    // 0xC4 0x61 is one character; its trail byte 'a' must not match 'A'.
    EXPECT_FALSE(EqualsNoCaseMultibyte("\xC4\x61", "\xC4\x41"));
    EXPECT_TRUE(EqualsNoCaseMultibyte("\xC4\x61x", "\xC4\x61X"));
}
