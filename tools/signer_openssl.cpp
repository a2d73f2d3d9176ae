// The signer lookup off Windows: the PE's certificate table read by hand, its PKCS#7 signature
// decoded with OpenSSL, and the name formed as the platform's certificate services form a simple
// display name, so that both give the same answer for the same file.
#include <errno.h>
#include <iconv.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/signer.h"
#include "tools/signer_detail.h"
#include "tools/signer_openssl.h"

namespace {

constexpr std::uint16_t kMzSignature = 0x5A4D;      // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kOptionalMagicPe32 = 0x10B;
constexpr std::uint16_t kOptionalMagicPe32Plus = 0x20B;
constexpr std::uint32_t kSecurityDirectory = 4;
// The platform reads an entry marked as an X.509 certificate as a signature all the same.
constexpr std::uint16_t kCertificateTypeX509 = 1;
constexpr std::uint16_t kCertificateTypePkcsSignedData = 2;
constexpr std::uint32_t kCertificateHeaderBytes = 8;  // dwLength, wRevision, wCertificateType
// Far above any real signature; keeps a forged length from asking for gigabytes.
constexpr std::uint32_t kMaxSignatureBytes = 64u << 20;

// Random access to the bytes of an image, every read bounds-checked.
class ImageBytes {
  public:
    virtual ~ImageBytes() = default;
    virtual std::uint64_t Size() const = 0;
    // False unless all `length` bytes at `offset` lie inside the image and were read.
    virtual bool Read(std::uint64_t offset, void* out, std::size_t length) = 0;

    bool ReadU16(std::uint64_t offset, std::uint16_t& value) {
        unsigned char b[2];
        if (!Read(offset, b, sizeof(b))) {
            return false;
        }
        value = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool ReadU32(std::uint64_t offset, std::uint32_t& value) {
        unsigned char b[4];
        if (!Read(offset, b, sizeof(b))) {
            return false;
        }
        value = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        return true;
    }
    bool Contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= Size() && length <= Size() - offset;
    }
};

class MemoryImage final : public ImageBytes {
  public:
    MemoryImage(const unsigned char* bytes, std::size_t length) : bytes_(bytes), length_(length) {}
    std::uint64_t Size() const override { return length_; }
    bool Read(std::uint64_t offset, void* out, std::size_t length) override {
        if (!Contains(offset, length)) {
            return false;
        }
        std::memcpy(out, bytes_ + offset, length);
        return true;
    }

  private:
    const unsigned char* bytes_;
    std::size_t length_;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads with ordinary calls: a file that shrinks meanwhile gives a failed read, not a fault.
class FileImage final : public ImageBytes {
  public:
    bool Open(const wchar_t* path) {
        file_.reset(std::fopen(NativePath(path).c_str(), "rb"));
        struct stat status {};
        if (!file_ || fstat(fileno(file_.get()), &status) != 0 || !S_ISREG(status.st_mode)) {
            return false;
        }
        size_ = static_cast<std::uint64_t>(status.st_size);
        return true;
    }
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* out, std::size_t length) override {
        if (!Contains(offset, length) ||
            fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) {
            return false;
        }
        return std::fread(out, 1, length, file_.get()) == length;
    }

  private:
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::uint64_t size_ = 0;
};

// The contents of the first entry of the certificate table, when that entry may hold PKCS#7
// signed data. The security directory entry holds a file offset, not an address in the loaded
// image.
bool ReadEmbeddedSignature(ImageBytes& image, std::vector<unsigned char>& der) {
    std::uint16_t mz = 0;
    std::uint32_t ntHeaders = 0;
    std::uint32_t pe = 0;
    if (!image.ReadU16(0, mz) || mz != kMzSignature || !image.ReadU32(0x3C, ntHeaders) ||
        !image.ReadU32(ntHeaders, pe) || pe != kPeSignature) {
        return false;
    }
    const std::uint64_t fileHeader = std::uint64_t{ntHeaders} + 4;
    const std::uint64_t optional = fileHeader + 20;
    std::uint16_t optionalSize = 0;
    std::uint16_t magic = 0;
    if (!image.ReadU16(fileHeader + 16, optionalSize) || !image.ReadU16(optional, magic)) {
        return false;
    }
    std::uint64_t countField = 0;
    std::uint64_t directories = 0;
    if (magic == kOptionalMagicPe32) {
        countField = 92;
        directories = 96;
    } else if (magic == kOptionalMagicPe32Plus) {
        countField = 108;
        directories = 112;
    } else {
        return false;
    }
    std::uint32_t directoryCount = 0;
    const std::uint64_t entry = directories + 8 * kSecurityDirectory;
    if (!image.ReadU32(optional + countField, directoryCount) ||
        directoryCount <= kSecurityDirectory || entry + 8 > optionalSize) {
        return false;
    }
    std::uint32_t tableOffset = 0;
    std::uint32_t tableSize = 0;
    if (!image.ReadU32(optional + entry, tableOffset) ||
        !image.ReadU32(optional + entry + 4, tableSize) || tableOffset == 0 ||
        tableSize < kCertificateHeaderBytes || !image.Contains(tableOffset, tableSize)) {
        return false;
    }
    std::uint32_t length = 0;
    std::uint16_t type = 0;
    if (!image.ReadU32(tableOffset, length) || !image.ReadU16(tableOffset + 6, type) ||
        (type != kCertificateTypePkcsSignedData && type != kCertificateTypeX509) ||
        length <= kCertificateHeaderBytes || length > tableSize ||
        length - kCertificateHeaderBytes > kMaxSignatureBytes) {
        return false;
    }
    der.resize(length - kCertificateHeaderBytes);
    return image.Read(std::uint64_t{tableOffset} + kCertificateHeaderBytes, der.data(), der.size());
}

struct Pkcs7Free {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};
struct GeneralNamesFree {
    void operator()(GENERAL_NAMES* p) const { GENERAL_NAMES_free(p); }
};

// The signer's certificate among those the signature carries: same issuer name, byte for byte as
// encoded, and same serial number value.
X509* FindSignerCertificate(STACK_OF(X509) * certificates, const X509_NAME* issuer,
                            const ASN1_INTEGER* serial) {
    const unsigned char* issuerDer = nullptr;
    std::size_t issuerLength = 0;
    if (certificates == nullptr || issuer == nullptr || serial == nullptr ||
        X509_NAME_get0_der(const_cast<X509_NAME*>(issuer), &issuerDer, &issuerLength) != 1) {
        return nullptr;
    }
    for (int i = 0; i < sk_X509_num(certificates); ++i) {
        X509* candidate = sk_X509_value(certificates, i);
        const unsigned char* der = nullptr;
        std::size_t length = 0;
        if (ASN1_INTEGER_cmp(X509_get0_serialNumber(candidate), serial) == 0 &&
            X509_NAME_get0_der(X509_get_issuer_name(candidate), &der, &length) == 1 &&
            length == issuerLength && std::memcmp(der, issuerDer, length) == 0) {
            return candidate;
        }
    }
    return nullptr;
}

// The characters of a directory string, as the platform decodes them: UTF-8 (bad bytes as U+FFFD),
// UCS-2 and UCS-4 strings by their encoding, a teletex string as UTF-8 when it is valid UTF-8, and
// every other string type byte by byte.
std::u32string DecodeDirectoryString(const ASN1_STRING* value) {
    std::u32string text;
    const unsigned char* bytes = ASN1_STRING_get0_data(value);
    const int length = ASN1_STRING_length(value);
    switch (ASN1_STRING_type(value)) {
        case V_ASN1_UTF8STRING:
            DecodeUtf8(bytes, static_cast<std::size_t>(length), text);
            return text;
        case V_ASN1_BMPSTRING:
            for (int i = 0; i + 1 < length; i += 2) {
                text.push_back(static_cast<char32_t>((bytes[i] << 8) | bytes[i + 1]));
            }
            return text;
        case V_ASN1_UNIVERSALSTRING:
            for (int i = 0; i + 3 < length; i += 4) {
                text.push_back((static_cast<char32_t>(bytes[i]) << 24) |
                               (static_cast<char32_t>(bytes[i + 1]) << 16) |
                               (static_cast<char32_t>(bytes[i + 2]) << 8) | bytes[i + 3]);
            }
            return text;
        case V_ASN1_T61STRING:
            if (DecodeUtf8(bytes, static_cast<std::size_t>(length), text) == 0) {
                return text;
            }
            text.clear();
            [[fallthrough]];
        default:
            for (int i = 0; i < length; ++i) {
                text.push_back(bytes[i]);
            }
            return text;
    }
}

// Code page 936 bytes of `text`. A character the code page lacks becomes "?" for each UTF-16 unit
// it takes, as the platform's conversion with its default character gives.
std::string ToCodePage936(const std::u32string& text) {
    std::string out;
    const iconv_t cd = iconv_open("CP936", "UTF-32LE");
    for (const char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        bool converted = false;
        if (cd != reinterpret_cast<iconv_t>(-1) && c <= 0x10FFFF) {
            unsigned char in[4] = {
                static_cast<unsigned char>(c), static_cast<unsigned char>(c >> 8),
                static_cast<unsigned char>(c >> 16), static_cast<unsigned char>(c >> 24)};
            char encoded[8];
            char* inPtr = reinterpret_cast<char*>(in);
            std::size_t inLeft = sizeof(in);
            char* outPtr = encoded;
            std::size_t outLeft = sizeof(encoded);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
                out.append(encoded, static_cast<std::size_t>(outPtr - encoded));
                converted = true;
            }
        }
        if (!converted) {
            out.append(c > 0xFFFF ? "??" : "?");
        }
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(cd);
    }
    return out;
}

// The simple display name: the first common name, else organisational unit, else organisation,
// else e-mail attribute of the subject; else the first e-mail address among the subject's
// alternative names; else the subject's first attribute; else nothing.
std::u32string SimpleDisplayName(X509* certificate) {
    const X509_NAME* subject = X509_get_subject_name(certificate);
    for (const int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                          NID_pkcs9_emailAddress}) {
        const int index = X509_NAME_get_index_by_NID(subject, nid, -1);
        if (index >= 0) {
            return DecodeDirectoryString(
                X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
        }
    }
    const std::unique_ptr<GENERAL_NAMES, GeneralNamesFree> alternatives(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
    if (alternatives) {
        for (int i = 0; i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
            const GENERAL_NAME* alternative = sk_GENERAL_NAME_value(alternatives.get(), i);
            if (alternative->type == GEN_EMAIL) {
                return DecodeDirectoryString(alternative->d.rfc822Name);
            }
        }
    }
    if (X509_NAME_entry_count(subject) > 0) {
        return DecodeDirectoryString(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, 0)));
    }
    return {};
}

int SignerNameFromImageBytes(ImageBytes& image, char* name) {
    std::vector<unsigned char> der;
    if (!ReadEmbeddedSignature(image, der)) {
        return -1;
    }
    const unsigned char* cursor = der.data();
    const std::unique_ptr<PKCS7, Pkcs7Free> signature(
        d2i_PKCS7(nullptr, &cursor, static_cast<long>(der.size())));
    if (!signature || !PKCS7_type_is_signed(signature.get()) || signature->d.sign == nullptr) {
        return -1;
    }
    STACK_OF(PKCS7_SIGNER_INFO)* signers = signature->d.sign->signer_info;
    if (signers == nullptr || sk_PKCS7_SIGNER_INFO_num(signers) < 1) {
        return -1;
    }
    // Only signer record 0 counts; later ones (and signatures nested in its attributes) do not.
    const PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    if (signer == nullptr || signer->issuer_and_serial == nullptr) {
        return -1;
    }
    X509* certificate =
        FindSignerCertificate(signature->d.sign->cert, signer->issuer_and_serial->issuer,
                              signer->issuer_and_serial->serial);
    if (certificate == nullptr) {
        return -1;
    }
    StoreSignerName(ToCodePage936(SimpleDisplayName(certificate)), name);
    return 0;
}

}  // namespace

int SignerNameFromImage(const unsigned char* bytes, std::size_t length, char* name) {
    if (bytes == nullptr || name == nullptr) {
        return -1;
    }
    MemoryImage image(bytes, length);
    return SignerNameFromImageBytes(image, name);
}

int GetFileSignerName(const wchar_t* path, char* name) {
    if (path == nullptr || name == nullptr) {
        return -1;
    }
    FileImage image;
    if (!image.Open(path)) {
        return -1;
    }
    return SignerNameFromImageBytes(image, name);
}
