// Code page bytes as UTF-8 for files and standard output: the CLI's output and the window's
// exports convert through here, so both write the same bytes for the same text.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win {

// Appends `bytes` of `codePage` to `out` as UTF-8; every byte that does not begin a valid
// character becomes U+FFFD.
void AppendAsUtf8(UINT codePage, std::string_view bytes, std::string& out);
// The same for code page 936, the store's texts.
void AppendGbkAsUtf8(std::string_view bytes, std::string& out);
// Appends UTF-16 `text` to `out` as UTF-8.
void AppendUtf16AsUtf8(const wchar_t* text, int length, std::string& out);

}  // namespace win
