// The console seam: binary standard output, and the text of paths and log bytes as UTF-8.
#pragma once

#include <string>
#include <string_view>

// Standard output carries UTF-8 bytes as they are (no CR LF translation on Windows).
void PrepareConsoleOutput();

// Appends code page 936 `bytes` as UTF-8 to `out`; every byte that does not begin a valid
// character becomes U+FFFD.
void AppendGbkAsUtf8(std::string_view bytes, std::string& out);

// A path as the platform passed it to main(), as UTF-8.
std::string PathArgumentAsUtf8(std::string_view path);
