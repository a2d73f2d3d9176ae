#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/console.h"
#include "win/utf8.h"

using win::AppendAsUtf8;
using win::AppendUtf16AsUtf8;

void PrepareConsoleOutput() {
    _setmode(_fileno(stdout), _O_BINARY);
}

void AppendGbkAsUtf8(std::string_view bytes, std::string& out) {
    win::AppendGbkAsUtf8(bytes, out);
}

std::string PathArgumentAsUtf8(std::string_view path) {
    std::string out;
    AppendAsUtf8(CP_ACP, path, out);
    return out;
}

std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv) {
    std::vector<std::string> utf8;
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide != nullptr && count == argc) {
        // The runtime split the command line for argv; the wide split is used only where it gives
        // the same arguments, as the system code page writes them.
        for (int i = 0; i < argc; ++i) {
            const int length = static_cast<int>(std::wcslen(wide[i]));
            std::string narrow(static_cast<std::size_t>(length) * 2 + 1, '\0');
            const int written =
                WideCharToMultiByte(CP_ACP, 0, wide[i], length, narrow.data(),
                                    static_cast<int>(narrow.size()), nullptr, nullptr);
            narrow.resize(static_cast<std::size_t>(written > 0 ? written : 0));
            if (narrow != argv[i]) {
                utf8.clear();
                break;
            }
            std::string text;
            AppendUtf16AsUtf8(wide[i], length, text);
            utf8.push_back(std::move(text));
        }
    }
    if (wide != nullptr) {
        ::LocalFree(wide);
    }
    if (utf8.size() != static_cast<std::size_t>(argc)) {
        utf8.clear();
        for (int i = 0; i < argc; ++i) {
            utf8.push_back(PathArgumentAsUtf8(argv[i]));
        }
    }
    return utf8;
}

bool Utf8ToGbk(std::string_view text, std::string& gbk) {
    if (text.empty()) {
        gbk.clear();
        return true;
    }
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return false;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), length);
    // No best fit: a character without its own code would be searched for as another one.
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0,
                                         nullptr, &usedDefault);
    if (size <= 0 || usedDefault) {
        return false;
    }
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), length, out.data(), size, nullptr,
                        &usedDefault);
    if (usedDefault) {
        return false;
    }
    gbk = std::move(out);
    return true;
}
