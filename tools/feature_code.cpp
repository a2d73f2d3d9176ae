#include "tools/feature_code.h"

#include "tools/md5.h"

namespace {

constexpr std::size_t kMinimumLength = 1024;
constexpr std::size_t kNtHeadersOffsetField = 60;
constexpr std::size_t kSignatureAndFileHeader = 24;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr unsigned kMaxSections = 25;
// The NT headers with a standard optional header, for 32-bit and 64-bit images.
constexpr std::size_t kNtHeadersSize32 = 248;
constexpr std::size_t kNtHeadersSize64 = 264;

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineIa64 = 0x0200;
constexpr std::uint16_t kMachineAmd64 = 0x8664;

std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Read32(const unsigned char* p) {
    return static_cast<std::uint32_t>(Read16(p)) | static_cast<std::uint32_t>(Read16(p + 2)) << 16;
}

}  // namespace

FeatureCodeError LocateSectionTable(const unsigned char* bytes, std::size_t length,
                                    PeHeaderView& view) {
    if (bytes == nullptr || length < kMinimumLength) {
        return FeatureCodeError::kTooSmall;
    }
    if (bytes[0] != 'M' || bytes[1] != 'Z') {
        return FeatureCodeError::kNoMzSignature;
    }
    // Every bound is checked by subtraction from `length`, so no offset read from the file can
    // wrap a sum around to a small value.
    const std::size_t ntHeaders = Read32(bytes + kNtHeadersOffsetField);
    if (ntHeaders > length - kSignatureAndFileHeader) {
        return FeatureCodeError::kNtHeadersOutside;
    }
    if (Read32(bytes + ntHeaders) != 0x00004550) {
        return FeatureCodeError::kNoPeSignature;
    }
    const std::size_t fileHeader = ntHeaders + 4;
    std::size_t headersSize;
    int wordSize;
    switch (Read16(bytes + fileHeader)) {
        case kMachineI386:
            headersSize = kNtHeadersSize32;
            wordSize = 32;
            break;
        case kMachineIa64:
        case kMachineAmd64:
            headersSize = kNtHeadersSize64;
            wordSize = 64;
            break;
        default:
            return FeatureCodeError::kUnsupportedMachine;
    }
    const unsigned sections = Read16(bytes + fileHeader + 2);
    if (sections < 1 || sections > kMaxSections) {
        return FeatureCodeError::kSectionCountOutOfRange;
    }
    const std::size_t tableLength = sections * kSectionHeaderSize;
    if (headersSize + tableLength > length - ntHeaders) {
        return FeatureCodeError::kSectionTablePastEnd;
    }
    view.bytes = bytes;
    view.ntHeaders = ntHeaders;
    view.fileHeader = fileHeader;
    view.sectionTable = ntHeaders + headersSize;
    view.sectionTableLength = tableLength;
    view.wordSize = wordSize;
    return FeatureCodeError::kNone;
}

FeatureCodeResult FeatureCodeOfBytes(const unsigned char* bytes, std::size_t length,
                                     std::uint64_t fileSize) {
    FeatureCodeResult result;
    PeHeaderView view;
    result.error = LocateSectionTable(bytes, length, view);
    if (result.error == FeatureCodeError::kSectionTablePastEnd && fileSize > length) {
        result.error = FeatureCodeError::kSectionTablePastLimit;
    }
    if (result.error != FeatureCodeError::kNone) {
        return result;
    }
    Md5Digest digest;
    digest.Update(view.bytes + view.sectionTable, view.sectionTableLength);
    digest.Final();
    result.code = digest.HexDigest();
    return result;
}

std::string ComputeFeatureCode(const std::string& path) {
    return InspectFeatureCode(path).code;
}

const char* FeatureCodeErrorText(FeatureCodeError error) {
    switch (error) {
        case FeatureCodeError::kNone:
            return "";
        case FeatureCodeError::kUnreadable:
            return "cannot be read";
        case FeatureCodeError::kTooSmall:
            return "too small for a PE file (fewer than 1024 bytes)";
        case FeatureCodeError::kNoMzSignature:
            return "not a PE file (no MZ signature)";
        case FeatureCodeError::kNtHeadersOutside:
            return "not a PE file (NT headers offset beyond the examined bytes)";
        case FeatureCodeError::kNoPeSignature:
            return "not a PE file (no PE signature)";
        case FeatureCodeError::kUnsupportedMachine:
            return "machine type not supported (only i386, x64 and IA-64)";
        case FeatureCodeError::kSectionCountOutOfRange:
            return "section count out of range (1 to 25)";
        case FeatureCodeError::kSectionTablePastEnd:
            return "section table ends beyond the end of the file";
        case FeatureCodeError::kSectionTablePastLimit:
            return "section table ends beyond the first 2 MiB";
    }
    return "";
}
