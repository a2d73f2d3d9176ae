// Byte-wise text helpers of the engine. Text is code page 936 and never decoded: only ASCII bytes
// mean anything here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

inline bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// Splits on `separator`, keeping empty pieces: n separators give n + 1 pieces.
void SplitKeepEmpty(std::string_view text, char separator, std::vector<std::string_view>& pieces);

// Splits on `separator` into at most `count` pieces; returns how many there are, or count + 1 when
// there are more (the pieces past `count` are then not stored).
std::size_t SplitAtMost(std::string_view text, char separator, std::string_view* pieces,
                        std::size_t count);
// A piece that is non-empty and all decimal digits reads as its value modulo 2^32; any other as 0.
uint32_t ParseNumber(std::string_view text);

// True for a byte that begins a double-byte character of code page 936.
inline bool IsGbkLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// The length in bytes of the character that starts at `pos` (< text.size()): 2 for a lead byte
// with a byte after it, 1 otherwise (a lead byte at the very end stands alone). Every walk over
// characters of code page 936 steps by this.
inline std::size_t GbkCharLength(std::string_view text, std::size_t pos) {
    return IsGbkLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

// The length of the longest start of `text` of at most `maxBytes` that does not split a double-byte
// character.
std::size_t GbkPrefixLength(std::string_view text, std::size_t maxBytes);

// Copies `text` into a NUL-terminated buffer of `size` bytes, cut on a character boundary.
void CopyToBuffer(char* buffer, std::size_t size, std::string_view text);

// The code page's multibyte-aware case-insensitive comparison of whole strings: ASCII letters fold,
// double-byte characters compare exactly (their trail bytes are never folded).
bool EqualsNoCaseMultibyte(std::string_view a, std::string_view b);
