#include "win/utf8.h"

#include <algorithm>

namespace win {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Decodes one character of `codePage` starting at `bytes`; 0 when the bytes begin none.
int DecodeOne(UINT codePage, const char* bytes, int available, wchar_t* out) {
    for (int length = 1; length <= 2 && length <= available; ++length) {
        if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, length, out, 2) > 0) {
            return length;
        }
    }
    return 0;
}

}  // namespace

void AppendUtf16AsUtf8(const wchar_t* text, int length, std::string& out) {
    if (length <= 0) {
        return;
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    const std::size_t old = out.size();
    out.resize(old + static_cast<std::size_t>(size));
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data() + old, size, nullptr, nullptr);
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

void AppendGbkAsUtf8(std::string_view bytes, std::string& out) {
    AppendAsUtf8(936, bytes, out);
}

}  // namespace win
