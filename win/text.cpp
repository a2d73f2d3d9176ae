#include "win/text.h"

#include <vector>

namespace win {

std::wstring Wide(std::string_view gbk) {
    if (gbk.empty()) {
        return {};
    }
    const int length = ::MultiByteToWideChar(kTextCodePage, 0, gbk.data(),
                                             static_cast<int>(gbk.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(kTextCodePage, 0, gbk.data(), static_cast<int>(gbk.size()),
                              wide.data(), length);
    }
    return wide;
}

std::optional<std::string> Narrow(std::wstring_view wide) {
    if (wide.empty()) {
        return std::string();
    }
    BOOL lossy = FALSE;
    const int length =
        ::WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, wide.data(),
                              static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) {
        return std::nullopt;
    }
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, wide.data(),
                          static_cast<int>(wide.size()), narrow.data(), length, nullptr, &lossy);
    if (lossy) {
        return std::nullopt;
    }
    return narrow;
}

std::optional<std::string> NarrowPath(const std::wstring& path) {
    if (std::optional<std::string> narrow = Narrow(path)) {
        return narrow;
    }
    const DWORD length = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (length == 0) {
        return std::nullopt;
    }
    std::vector<wchar_t> shortName(length + 1, L'\0');
    const DWORD copied =
        ::GetShortPathNameW(path.c_str(), shortName.data(), static_cast<DWORD>(shortName.size()));
    if (copied == 0 || copied >= shortName.size()) {
        return std::nullopt;
    }
    return Narrow(std::wstring_view(shortName.data(), copied));
}

std::wstring ErrorMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text != nullptr ? text : L"", length);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    if (message.empty()) {
        message = L"error " + std::to_wstring(code);
    }
    return message;
}

int DrawText936(HDC dc, std::string_view gbk, RECT& rect, UINT format) {
    const std::wstring wide = Wide(gbk);
    return ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect, format);
}

SIZE TextExtent936(HDC dc, std::string_view gbk) {
    const std::wstring wide = Wide(gbk);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    return size;
}

std::wstring DroppedFileName(HDROP drop, UINT index) {
    const UINT length = ::DragQueryFileW(drop, index, nullptr, 0);
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const UINT copied =
        ::DragQueryFileW(drop, index, buffer.data(), static_cast<UINT>(buffer.size()));
    return std::wstring(buffer.data(), copied);
}

}  // namespace win
