// What the parser's files share for reading a log line's fields and writing behaviour texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// [PRO], [PRO_DIE], [MOD] and [SYS] lines have this many "|"-separated fields.
inline constexpr std::size_t kLineFields = 6;

// The most "/"-separated sub-fields of a [MOD] or [SYS] line's fifth field: 4, 9 or 15 of them.
inline constexpr std::size_t kMostLoadSubFields = 15;

// Splits a [MOD] or [SYS] line's fifth field into `sub`; returns how many sub-fields it has when
// that is a layout the parser takes (4, 9 or 15), else 0.
std::size_t SplitLoadField(std::string_view field, std::string_view* sub);

// A module line of this many sub-fields names its signer itself: no file is looked at.
inline bool LoadLineNamesSigner(std::size_t count) {
    return count == kMostLoadSubFields;
}

// A flag field of a line: "1" is set, anything else is not.
inline bool IsSet(std::string_view flag) {
    return flag == "1";
}

// Appends every piece to `text`.
template <typename... Pieces>
void Append(std::string& text, const Pieces&... pieces) {
    (text.append(pieces), ...);
}
