#include "ui/clipboard.h"

#include <windows.h>

#include <cstring>
#include <vector>

void CopyTextToClipboard(std::string_view text) {
    std::vector<wchar_t> wide;
    if (!text.empty()) {
        const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(),
                                                 static_cast<int>(text.size()), nullptr, 0);
        wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
        if (length > 0) {
            ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                  wide.data(), length);
        }
    }
    wide.push_back(L'\0');

    if (!::OpenClipboard(nullptr)) {
        return;
    }
    ::EmptyClipboard();
    const std::size_t bytes = wide.size() * sizeof(wchar_t);
    if (HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* memory = ::GlobalLock(block)) {
            std::memcpy(memory, wide.data(), bytes);
            ::GlobalUnlock(block);
            // From here on the block is the clipboard's; only a refusal leaves it to us.
            if (::SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
                ::GlobalFree(block);
            }
        } else {
            ::GlobalFree(block);
        }
    }
    ::CloseClipboard();
}
