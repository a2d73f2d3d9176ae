// Maps the start of the file read-only. The file is opened shared for reading only, so no other
// program can change or truncate it under the view while it is examined.
#include <windows.h>

#include <algorithm>
#include <memory>

#include "tools/feature_code.h"

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct ViewUnmapper {
    void operator()(const void* view) const { UnmapViewOfFile(view); }
};
using UniqueView = std::unique_ptr<const void, ViewUnmapper>;

// The platform's text for `code`, as UTF-8 without the trailing line break and full stop.
std::string ErrorText(DWORD code) {
    wchar_t* wide = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&wide), 0, nullptr);
    std::string text;
    if (length > 0 && wide != nullptr) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0,
                                             nullptr, nullptr);
        text.resize(static_cast<std::size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text.data(), size, nullptr,
                            nullptr);
    }
    LocalFree(wide);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' ||
                             text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? "Windows error " + std::to_string(code) : text;
}

FeatureCodeResult Unreadable(std::string reason) {
    FeatureCodeResult result;
    result.error = FeatureCodeError::kUnreadable;
    result.systemError = std::move(reason);
    return result;
}

}  // namespace

FeatureCodeResult InspectFeatureCode(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Unreadable("is a directory");
    }
    const HANDLE opened = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return Unreadable(ErrorText(GetLastError()));
    }
    const UniqueHandle file(opened);
    // The whole 64-bit size: a low 32-bit size would examine a file of 4 GiB or more by the wrong
    // length, or not at all.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        return Unreadable(ErrorText(GetLastError()));
    }
    const auto fileSize = static_cast<std::uint64_t>(size.QuadPart);
    if (fileSize == 0) {
        // An empty file cannot be mapped; it is simply too small.
        return FeatureCodeOfBytes(nullptr, 0, 0);
    }
    const UniqueHandle mapping(
        CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) {
        return Unreadable(ErrorText(GetLastError()));
    }
    // Only the examined start is mapped, so a huge file needs no huge view.
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kFeatureCodeExaminedBytes));
    const UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, length));
    if (!view) {
        return Unreadable(ErrorText(GetLastError()));
    }
    return FeatureCodeOfBytes(static_cast<const unsigned char*>(view.get()), length, fileSize);
}
