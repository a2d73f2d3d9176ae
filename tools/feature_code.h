// The feature code of an executable file: the MD5 of the section table of its PE headers. It names
// a file by the layout of its sections (names, sizes, addresses, file offsets, flags) rather than
// by its whole content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Only this many bytes at the start of a file are ever examined, however large the file.
inline constexpr std::size_t kFeatureCodeExaminedBytes = 0x200000;

// Why a file has no feature code.
enum class FeatureCodeError {
    kNone,
    kUnreadable,
    kTooSmall,                // fewer than 1024 bytes
    kNoMzSignature,           // the first two bytes are not "MZ"
    kNtHeadersOutside,        // the NT headers offset points past the examined bytes
    kNoPeSignature,           // no "PE\0\0" where the NT headers should be
    kUnsupportedMachine,      // neither i386, x64 nor IA-64
    kSectionCountOutOfRange,  // not 1 to 25 sections
    kSectionTablePastEnd,     // the section table ends past the end of the file
    kSectionTablePastLimit,   // the section table ends past the examined start of a larger file
};

// Where the headers lie in the examined bytes; offsets count from `bytes`.
struct PeHeaderView {
    const unsigned char* bytes = nullptr;
    std::size_t ntHeaders = 0;
    std::size_t fileHeader = 0;
    std::size_t sectionTable = 0;
    std::size_t sectionTableLength = 0;  // 40 bytes per section
    int wordSize = 0;                    // 32 or 64
};

// Checks the headers at the start of `length` examined bytes. On success (kNone) fills `view`,
// whose section table then lies wholly inside those bytes; on failure leaves `view` untouched. The
// table is taken right after an NT headers block of the standard size for the machine type; the
// optional header's own size field is not consulted, so a non-standard one yields other bytes.
FeatureCodeError LocateSectionTable(const unsigned char* bytes, std::size_t length,
                                    PeHeaderView& view);

struct FeatureCodeResult {
    std::string code;  // 32 lower-case hexadecimal digits; empty when `error` says why not
    FeatureCodeError error = FeatureCodeError::kNone;
    std::string systemError;  // for kUnreadable: what the platform said
};

// The code of a file of `fileSize` bytes whose first `length` bytes (at most
// kFeatureCodeExaminedBytes) are `bytes`.
FeatureCodeResult FeatureCodeOfBytes(const unsigned char* bytes, std::size_t length,
                                     std::uint64_t fileSize);

// Reads the start of the file at `path` (8-bit, system code page), shared with other readers, and
// computes its code. Implemented per platform.
FeatureCodeResult InspectFeatureCode(const std::string& path);

// The code of the file at `path`, or the empty string when it has none.
std::string ComputeFeatureCode(const std::string& path);

// A short English reason, such as "not a PE file (no MZ signature)"; empty for kNone.
const char* FeatureCodeErrorText(FeatureCodeError error);
