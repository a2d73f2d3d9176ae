// The program's texts are code page 936 bytes; the system draws UTF-16. Every text the program
// draws or hands to a window goes through here, so a Chinese title never depends on the code page
// of a font's character set or on the system's ANSI code page.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <string_view>

namespace win {

inline constexpr UINT kTextCodePage = 936;

// Code page 936 bytes as UTF-16; a byte that is no character becomes U+FFFD or similar, as the
// system converts it.
std::wstring Wide(std::string_view gbk);
// UTF-16 as code page 936 bytes; nothing when a character has no code page 936 form.
std::optional<std::string> Narrow(std::wstring_view wide);

// A name of an existing file or folder the 8-bit engine can open: the name itself when code page
// 936 can write it, else its short (8.3) name when the volume keeps one. Nothing when neither
// works.
std::optional<std::string> NarrowPath(const std::wstring& path);

// The system's message for an error code, without its trailing line break.
std::wstring ErrorMessage(DWORD code);

// The whole name of dropped file `index`, however long, as UTF-16: a name cut short, or written in
// a code page that lacks some of its characters, could be the name of another file or of none.
std::wstring DroppedFileName(HDROP drop, UINT index);

// Draws code page 936 text with the font selected into `dc`, as DrawTextW does.
int DrawText936(HDC dc, std::string_view gbk, RECT& rect, UINT format);
// Width and height of code page 936 text in the font selected into `dc`.
SIZE TextExtent936(HDC dc, std::string_view gbk);

}  // namespace win
