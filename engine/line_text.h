// What the parser's files share for reading a log line's fields and writing behaviour texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// [PRO], [PRO_DIE], [MOD] and [SYS] lines have this many "|"-separated fields.
inline constexpr std::size_t kLineFields = 6;

// A flag field of a line: "1" is set, anything else is not.
inline bool IsSet(std::string_view flag) {
    return flag == "1";
}

// Appends every piece to `text`.
template <typename... Pieces>
void Append(std::string& text, const Pieces&... pieces) {
    (text.append(pieces), ...);
}
