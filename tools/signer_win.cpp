// The signer lookup on Windows, over the platform's certificate services, and the wide paths and
// file stamps it takes.
#include <windows.h>
#include <wincrypt.h>

#include <cwchar>
#include <memory>
#include <string>

#include "tools/signer.h"
#include "tools/signer_detail.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct StoreClose {
    void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
struct MessageClose {
    void operator()(void* message) const { CryptMsgClose(static_cast<HCRYPTMSG>(message)); }
};
struct LocalBlockFree {
    void operator()(void* block) const { LocalFree(static_cast<HLOCAL>(block)); }
};
struct CertificateFree {
    void operator()(const CERT_CONTEXT* certificate) const {
        CertFreeCertificateContext(certificate);
    }
};

std::wstring Widen(UINT codePage, std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), size);
    return wide;
}

// The system code page's text for `text`; a character it lacks becomes its default character.
std::string Narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, narrow.data(), size, nullptr, nullptr);
    return narrow;
}

}  // namespace

int GetFileSignerName(const wchar_t* path, char* name) {
    if (path == nullptr || name == nullptr) {
        return -1;
    }
    DWORD encodingType = 0;
    DWORD contentType = 0;
    DWORD formatType = 0;
    HCERTSTORE rawStore = nullptr;
    HCRYPTMSG rawMessage = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encodingType, &contentType,
                          &formatType, &rawStore, &rawMessage, nullptr)) {
        return -1;
    }
    const std::unique_ptr<void, StoreClose> store(rawStore);
    const std::unique_ptr<void, MessageClose> message(rawMessage);

    // Only signer record 0 counts; later records and nested signatures are never looked at.
    DWORD size = 0;
    if (!CryptMsgGetParam(rawMessage, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
        return -1;
    }
    const std::unique_ptr<void, LocalBlockFree> block(LocalAlloc(LPTR, size));
    if (!block || !CryptMsgGetParam(rawMessage, CMSG_SIGNER_INFO_PARAM, 0, block.get(), &size)) {
        return -1;
    }
    const auto* signer = static_cast<const CMSG_SIGNER_INFO*>(block.get());

    CERT_INFO key = {};
    key.Issuer = signer->Issuer;
    key.SerialNumber = signer->SerialNumber;
    const std::unique_ptr<const CERT_CONTEXT, CertificateFree> certificate(
        CertFindCertificateInStore(rawStore, kEncoding, 0, CERT_FIND_SUBJECT_CERT, &key, nullptr));
    if (!certificate) {
        return -1;
    }
    // The whole name, converted and cut here: asked into a 260-byte buffer, the platform's 8-bit
    // call gives an empty name on some systems when the name does not fit, where a name cut to 259
    // bytes is wanted. The caller's buffer is written only once everything has succeeded.
    const DWORD wideLength = CertGetNameStringW(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0,
                                                nullptr, nullptr, 0);
    if (wideLength == 0) {
        return -1;
    }
    std::wstring wide(wideLength, L'\0');
    if (CertGetNameStringW(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                           wide.data(), wideLength) == 0) {
        return -1;
    }
    wide.resize(wcsnlen(wide.c_str(), wide.size()));
    StoreSignerName(Narrow(wide), name);
    return 0;
}

std::wstring WidenSystemPath(std::string_view path) {
    return Widen(CP_ACP, path);
}

std::wstring WidenArgumentPath(std::string_view path) {
    return Widen(CP_ACP, path);
}

bool ReadFileStamp(const wchar_t* path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    stamp.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    stamp.lastWrite =
        static_cast<std::int64_t>((std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                  data.ftLastWriteTime.dwLowDateTime);
    return true;
}

bool IsFolderSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool ReadFolderExists(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
