#include "tools/feature_code.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tools/md5.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint16_t kI386 = 0x014C;
constexpr std::uint16_t kIa64 = 0x0200;
constexpr std::uint16_t kAmd64 = 0x8664;
constexpr std::uint16_t kArmThumb = 0x01C4;
constexpr std::uint16_t kArm64 = 0xAA64;

void Put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<unsigned char>(value);
    bytes[at + 1] = static_cast<unsigned char>(value >> 8);
}

void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, static_cast<std::uint16_t>(value));
    Put16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t Get16(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

std::uint32_t Get32(const Bytes& bytes, std::size_t at) {
    return Get16(bytes, at) | static_cast<std::uint32_t>(Get16(bytes, at + 2)) << 16;
}

std::string Md5Of(const unsigned char* bytes, std::size_t length) {
    Md5Digest digest;
    digest.Update(bytes, length);
    digest.Final();
    return digest.HexDigest();
}

bool IsLowerHex(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The header fields of a crafted image; every field a check reads can be set wrong on its own.
struct Headers {
    std::size_t size = 1024;
    std::uint32_t ntOffset = 0x80;
    bool mz = true;
    std::uint32_t peSignature = 0x00004550;
    std::uint16_t machine = kI386;
    std::uint16_t sections = 5;
    // The optional header's own size field; 0 writes the standard one for the machine type.
    std::uint16_t optionalHeaderSize = 0;
};

// An image with the given headers; all other bytes are a pattern, so that a hash over the wrong
// range gives another digest. Fields that would lie outside the image are left out.
Bytes Craft(const Headers& h) {
    Bytes bytes(h.size);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i * 13 + 1);
    }
    if (h.size < 64) {
        return bytes;
    }
    bytes[0] = 'M';
    bytes[1] = h.mz ? 'Z' : 'X';
    Put32(bytes, 60, h.ntOffset);
    const std::uint64_t nt = h.ntOffset;
    const bool wide = h.machine != kI386;
    if (nt + 8 <= h.size) {
        Put32(bytes, nt, h.peSignature);
        Put16(bytes, nt + 4, h.machine);
        Put16(bytes, nt + 6, h.sections);
    }
    if (nt + 26 <= h.size) {
        Put16(bytes, nt + 20,
              h.optionalHeaderSize != 0 ? h.optionalHeaderSize : (wide ? 240 : 224));
        Put16(bytes, nt + 24, wide ? 0x20B : 0x10B);
    }
    return bytes;
}

struct Expected {
    FeatureCodeError error;
    std::size_t sectionTable = 0;  // for kNone
    std::size_t tableLength = 0;
    int wordSize = 0;
};

class TempDir {
  public:
    TempDir() {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("vantrel-fc-" + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes `bytes` to a file of this directory and returns its path, as the code takes it.
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const fs::path file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        EXPECT_TRUE(out) << file;
        return file.string();
    }
    std::string Path(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(LocateSectionTable, ChecksEveryHeaderField) {
    using E = FeatureCodeError;
    const struct {
        const char* name;
        Headers headers;
        Expected expected;
    } cases[] = {
        {"i386, 5 sections", {}, {E::kNone, 0x80 + 248, 200, 32}},
        {"1023 bytes", {.size = 1023}, {E::kTooSmall}},
        {"no bytes", {.size = 0}, {E::kTooSmall}},
        {"no MZ", {.mz = false}, {E::kNoMzSignature}},
        {"no PE", {.peSignature = 0x00004551}, {E::kNoPeSignature}},
        {"PE without its zero bytes", {.peSignature = 0x01004550}, {E::kNoPeSignature}},
        {"IA-64", {.machine = kIa64}, {E::kNone, 0x80 + 264, 200, 64}},
        {"x64", {.machine = kAmd64}, {E::kNone, 0x80 + 264, 200, 64}},
        {"ARM Thumb-2", {.machine = kArmThumb}, {E::kUnsupportedMachine}},
        {"ARM64", {.machine = kArm64}, {E::kUnsupportedMachine}},
        {"machine next to i386", {.machine = kI386 + 1}, {E::kUnsupportedMachine}},
        {"0 sections", {.sections = 0}, {E::kSectionCountOutOfRange}},
        {"1 section", {.sections = 1}, {E::kNone, 0x80 + 248, 40, 32}},
        {"25 sections", {.size = 2048, .sections = 25}, {E::kNone, 0x80 + 248, 1000, 32}},
        {"26 sections", {.size = 2048, .sections = 26}, {E::kSectionCountOutOfRange}},
        {"65535 sections", {.size = 2048, .sections = 0xFFFF}, {E::kSectionCountOutOfRange}},
        {"odd NT headers offset", {.ntOffset = 0x81}, {E::kNone, 0x81 + 248, 200, 32}},
        // Offsets whose sum with a header size would wrap around to a small value.
        {"offset 0xFFFFFFFF", {.ntOffset = 0xFFFFFFFF}, {E::kNtHeadersOutside}},
        {"offset 2^32 - 24", {.ntOffset = 0xFFFFFFE8}, {E::kNtHeadersOutside}},
        {"offset 2^32 - 248", {.ntOffset = 0xFFFFFF08}, {E::kNtHeadersOutside}},
        {"offset 2^31", {.ntOffset = 0x80000000}, {E::kNtHeadersOutside}},
        {"file header cut at the end", {.ntOffset = 1024 - 23}, {E::kNtHeadersOutside}},
        {"file header ends at the end", {.ntOffset = 1024 - 24}, {E::kSectionTablePastEnd}},
        {"i386 table ends at the end", {.ntOffset = 1024 - 248 - 200}, {E::kNone, 824, 200, 32}},
        {"i386 table 1 byte past", {.ntOffset = 1024 - 248 - 199}, {E::kSectionTablePastEnd}},
        {"x64 table ends at the end",
         {.ntOffset = 1024 - 264 - 200, .machine = kAmd64},
         {E::kNone, 824, 200, 64}},
        {"x64 table 1 byte past",
         {.ntOffset = 1024 - 264 - 199, .machine = kAmd64},
         {E::kSectionTablePastEnd}},
        // The table is taken after a standard optional header whatever its size field says.
        {"optional header size 0xF0 on i386",
         {.optionalHeaderSize = 0xF0},
         {E::kNone, 0x80 + 248, 200, 32}},
        {"optional header size 0xE0 on x64",
         {.machine = kAmd64, .optionalHeaderSize = 0xE0},
         {E::kNone, 0x80 + 264, 200, 64}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = Craft(c.headers);
        PeHeaderView view;
        view.sectionTable = 12345;  // must stay as it is on failure
        const FeatureCodeError error = LocateSectionTable(bytes.data(), bytes.size(), view);
        EXPECT_EQ(error, c.expected.error);
        if (c.expected.error != E::kNone) {
            EXPECT_EQ(view.sectionTable, 12345u);
            continue;
        }
        EXPECT_EQ(view.bytes, bytes.data());
        EXPECT_EQ(view.ntHeaders, c.headers.ntOffset);
        EXPECT_EQ(view.fileHeader, c.headers.ntOffset + 4u);
        EXPECT_EQ(view.sectionTable, c.expected.sectionTable);
        EXPECT_EQ(view.sectionTableLength, c.expected.tableLength);
        EXPECT_EQ(view.wordSize, c.expected.wordSize);
        EXPECT_LE(view.sectionTable + view.sectionTableLength, bytes.size());
    }
}

TEST(LocateSectionTable, NullBytesAreTooSmall) {
    PeHeaderView view;
    EXPECT_EQ(LocateSectionTable(nullptr, 4096, view), FeatureCodeError::kTooSmall);
}

TEST(FeatureCode, IsTheDigestOfTheTableBytesOnly) {
    const Bytes image = Craft({});
    const FeatureCodeResult result = FeatureCodeOfBytes(image.data(), image.size(), image.size());
    ASSERT_EQ(result.error, FeatureCodeError::kNone);
    EXPECT_TRUE(IsLowerHex(result.code)) << result.code;
    EXPECT_EQ(result.code, Md5Of(image.data() + 0x80 + 248, 200));

    // Bytes outside the table, such as the body of a section, do not count.
    Bytes body = image;
    for (std::size_t at :
         {std::size_t{0x80 + 248 - 1}, std::size_t{0x80 + 248 + 200}, std::size_t{1023}}) {
        body[at] ^= 0xFF;
    }
    EXPECT_EQ(FeatureCodeOfBytes(body.data(), body.size(), body.size()).code, result.code);
    // Each byte of the table does, first and last included.
    for (std::size_t at : {std::size_t{0x80 + 248}, std::size_t{0x80 + 248 + 199}}) {
        Bytes table = image;
        table[at] ^= 0x01;
        EXPECT_NE(FeatureCodeOfBytes(table.data(), table.size(), table.size()).code, result.code)
            << at;
    }
}

// Only the first 2 MiB are examined; a table that needs more is refused, and the reason tells a
// cut-off examination from a file that really ends too soon.
TEST(FeatureCode, TableMustEndWithinTheExaminedStart) {
    const std::size_t limit = kFeatureCodeExaminedBytes;
    const struct {
        std::uint32_t ntOffset;
        std::uint64_t fileSize;
        FeatureCodeError error;
    } cases[] = {
        {limit - 248 - 200, limit + 1, FeatureCodeError::kNone},
        {limit - 248 - 199, limit + 1, FeatureCodeError::kSectionTablePastLimit},
        {limit - 248 - 199, limit, FeatureCodeError::kSectionTablePastEnd},
    };
    for (const auto& c : cases) {
        const Bytes image = Craft({.size = limit, .ntOffset = c.ntOffset});
        const FeatureCodeResult result = FeatureCodeOfBytes(image.data(), image.size(), c.fileSize);
        EXPECT_EQ(result.error, c.error) << c.ntOffset << " in " << c.fileSize;
        EXPECT_EQ(result.code.empty(), c.error != FeatureCodeError::kNone);
    }
}

TEST(FeatureCodeFile, ReadsTheStartOfTheFile) {
    const TempDir dir;
    const Bytes image = Craft({});
    const std::string expected = Md5Of(image.data() + 0x80 + 248, 200);
    EXPECT_EQ(ComputeFeatureCode(dir.Write("five.exe", image)), expected);

    // A 3 MiB file whose table ends right at 2 MiB has a code; one byte further it has none.
    Bytes big = Craft({.size = 3 << 20, .ntOffset = 0x200000 - 248 - 200});
    const std::string atLimit = dir.Write("at-limit.exe", big);
    EXPECT_EQ(ComputeFeatureCode(atLimit), Md5Of(big.data() + 0x200000 - 200, 200));
    big = Craft({.size = 3 << 20, .ntOffset = 0x200000 - 248 - 199});
    const FeatureCodeResult past = InspectFeatureCode(dir.Write("past-limit.exe", big));
    EXPECT_EQ(past.error, FeatureCodeError::kSectionTablePastLimit);
    EXPECT_EQ(past.code, "");
}

TEST(FeatureCodeFile, FilesWithoutACode) {
    const TempDir dir;
    const std::string text(2000, 'x');
    fs::create_directories(dir.Path("folder"));
    const struct {
        const char* name;
        std::string path;
        FeatureCodeError error;
    } cases[] = {
        {"missing", dir.Path("missing.exe"), FeatureCodeError::kUnreadable},
        {"folder", dir.Path("folder"), FeatureCodeError::kUnreadable},
        {"empty", dir.Write("empty.exe", {}), FeatureCodeError::kTooSmall},
        {"1023 bytes", dir.Write("short.exe", Craft({.size = 1023})), FeatureCodeError::kTooSmall},
        {"text", dir.Write("text.txt", Bytes(text.begin(), text.end())),
         FeatureCodeError::kNoMzSignature},
        {"ARM", dir.Write("arm.exe", Craft({.machine = kArmThumb})),
         FeatureCodeError::kUnsupportedMachine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FeatureCodeResult result = InspectFeatureCode(c.path);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.code, "");
        EXPECT_EQ(ComputeFeatureCode(c.path), "");
        EXPECT_NE(FeatureCodeErrorText(result.error), std::string());
        EXPECT_EQ(result.systemError.empty(), c.error != FeatureCodeError::kUnreadable)
            << result.systemError;
    }
}

// The size is taken whole: by its low 32 bits this file would look 512 bytes long and too small.
TEST(FeatureCodeFile, FileOfMoreThan4GiB) {
    const TempDir dir;
    const Bytes image = Craft({});
    const std::string path = dir.Write("huge.exe", image);
    std::error_code error;
    fs::resize_file(path, (std::uint64_t{1} << 32) + 512, error);
    if (error) {
        GTEST_SKIP() << "no room for a sparse file of 4 GiB: " << error.message();
    }
    EXPECT_EQ(ComputeFeatureCode(path), Md5Of(image.data() + 0x80 + 248, 200));
}

// Executables made by the MinGW compilers, checked against a reading of their headers that follows
// the optional header's own size field instead of assuming the standard one.
TEST(FeatureCodeFile, RealExecutables) {
    const struct {
        const char* file;
        std::uint16_t machine;
        std::uint16_t magic;
        int wordSize;
    } cases[] = {
        {"hello32.exe", kI386, 0x10B, 32},
        {"hello64.exe", kAmd64, 0x20B, 64},
    };
    std::vector<std::string> codes;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(VANTREL_PE_FIXTURES) + "/" + c.file;
        const Bytes bytes = ReadAll(path);
        ASSERT_GE(bytes.size(), 1024u);
        ASSERT_EQ(Get16(bytes, 0), 0x5A4D);
        const std::size_t nt = Get32(bytes, 60);
        ASSERT_EQ(Get32(bytes, nt), 0x00004550u);
        ASSERT_EQ(Get16(bytes, nt + 4), c.machine);
        ASSERT_EQ(Get16(bytes, nt + 24), c.magic);
        const std::size_t sections = Get16(bytes, nt + 6);
        const std::size_t table = nt + 24 + Get16(bytes, nt + 20);
        ASSERT_GE(sections, 3u);
        ASSERT_LE(table + sections * 40, bytes.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[table])), ".text");

        PeHeaderView view;
        ASSERT_EQ(LocateSectionTable(bytes.data(), bytes.size(), view), FeatureCodeError::kNone);
        EXPECT_EQ(view.sectionTable, table);
        EXPECT_EQ(view.sectionTableLength, sections * 40);
        EXPECT_EQ(view.wordSize, c.wordSize);

        const std::string code = ComputeFeatureCode(path);
        EXPECT_EQ(code, Md5Of(&bytes[table], sections * 40));
        codes.push_back(code);
    }
    EXPECT_NE(codes[0], codes[1]);
}
