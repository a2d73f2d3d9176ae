#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/console.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void AppendUtf16AsUtf8(const wchar_t* text, int length, std::string& out) {
    if (length <= 0) {
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    const std::size_t old = out.size();
    out.resize(old + static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data() + old, size, nullptr, nullptr);
}

// Decodes one character of `codePage` starting at `bytes`; 0 when the bytes begin none.
int DecodeOne(UINT codePage, const char* bytes, int available, wchar_t* out) {
    for (int length = 1; length <= 2 && length <= available; ++length) {
        if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, length, out, 2) > 0) {
            return length;
        }
    }
    return 0;
}

void AppendAsUtf8(UINT codePage, std::string_view bytes, std::string& out) {
    std::wstring wide;
    wide.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        // ASCII is the same in every code page involved and is most of a log.
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            wide.push_back(static_cast<wchar_t>(c));
            ++i;
            continue;
        }
        wchar_t decoded[2];
        const int length =
            DecodeOne(codePage, bytes.data() + i,
                      static_cast<int>(std::min<std::size_t>(2, bytes.size() - i)), decoded);
        if (length == 0) {
            AppendUtf16AsUtf8(wide.data(), static_cast<int>(wide.size()), out);
            wide.clear();
            out.append(kReplacement);
            ++i;
            continue;
        }
        wide.push_back(decoded[0]);
        i += static_cast<std::size_t>(length);
    }
    AppendUtf16AsUtf8(wide.data(), static_cast<int>(wide.size()), out);
}

}  // namespace

void PrepareConsoleOutput() {
    _setmode(_fileno(stdout), _O_BINARY);
}

void AppendGbkAsUtf8(std::string_view bytes, std::string& out) {
    AppendAsUtf8(936, bytes, out);
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
