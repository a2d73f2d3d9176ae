// Paths and file stamps of the signer lookup off Windows, where wchar_t holds UTF-32 and the file
// system takes UTF-8.
#include <errno.h>
#include <iconv.h>
#include <sys/stat.h>

#include "tools/iconv_convert.h"
#include "tools/signer.h"
#include "tools/signer_detail.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::wstring WidenSystemPath(std::string_view path) {
    std::wstring wide;
    const iconv_t cd = iconv_open("WCHAR_T", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (const char c : path) {
            wide.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c)
                                                                : kReplacement);
        }
        return wide;
    }
    constexpr wchar_t replacement[] = {kReplacement, L'\0'};
    IconvAppend(cd, path, wide, std::wstring_view(replacement));
    iconv_close(cd);
    return wide;
}

std::wstring WidenArgumentPath(std::string_view path) {
    std::u32string decoded;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(path.data()), path.size(), decoded);
    return std::wstring(decoded.begin(), decoded.end());
}

std::string NativePath(const wchar_t* path) {
    std::string out;
    for (; *path != L'\0'; ++path) {
        const auto c = static_cast<char32_t>(*path);
        AppendUtf8(c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF) ? c : 0xFFFD, out);
    }
    return out;
}

bool ReadFileStamp(const wchar_t* path, FileStamp& stamp) {
    struct stat status {};
    if (stat(NativePath(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    stamp.size = static_cast<std::uint64_t>(status.st_size);
    stamp.lastWrite =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return true;
}

bool IsFolderSeparator(wchar_t c) {
    return c == L'/';
}

bool ReadFolderExists(const wchar_t* path) {
    struct stat status {};
    return stat(NativePath(path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}
