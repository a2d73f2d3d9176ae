// The console seam: binary standard output, and the text of paths and log bytes as UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Standard output carries UTF-8 bytes as they are (no CR LF translation on Windows).
void PrepareConsoleOutput();

// Appends code page 936 `bytes` as UTF-8 to `out`; every byte that does not begin a valid
// character becomes U+FFFD.
void AppendGbkAsUtf8(std::string_view bytes, std::string& out);

// A path as the platform passed it to main(), as UTF-8.
std::string PathArgumentAsUtf8(std::string_view path);

// The program's arguments as UTF-8, in the platform's own Unicode form where it has one (the
// Windows command line), so that a character the system code page cannot write is not lost before
// anyone looks at it. Entry i is argv[i].
std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv);

// Converts UTF-8 `text` to code page 936. False, leaving `gbk` untouched, when `text` is not
// valid UTF-8 or holds a character that code page 936 cannot write.
bool Utf8ToGbk(std::string_view text, std::string& gbk);
