// The clipboard as the main window uses it: 8-bit text in, UTF-16 text out.
#pragma once

#include <string_view>

// Puts `text` (8-bit, system code page) on the clipboard as UTF-16 text (CF_UNICODETEXT). When the
// clipboard cannot be opened, nothing changes; the caller tells the user either way.
void CopyTextToClipboard(std::string_view text);
