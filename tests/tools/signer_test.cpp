// The signer lookup against real signed files made at build time. The same table runs against the
// OpenSSL implementation natively and against the platform's certificate services under Wine, so
// both must give the same answers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>
#include <thread>

#include "tools/signer.h"
#include "tools/signer_detail.h"
#ifdef _WIN32
#include <windows.h>
#else
#include "tools/signer_openssl.h"
#endif

namespace {

namespace fs = std::filesystem;

std::string Fixture(const std::string& file) {
    return std::string(VANTREL_SIGNED_FIXTURES) + "/" + file;
}

// A result buffer filled with a pattern, to see whether a call wrote to it.
struct NameBuffer {
    NameBuffer() { std::memset(bytes, 0x5A, sizeof(bytes)); }
    bool Untouched() const {
        for (const char c : bytes) {
            if (c != 0x5A) {
                return false;
            }
        }
        return true;
    }
    char bytes[kSignerNameSize];
};

std::string Repeat(const std::string& piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

bool RunningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

struct SignerCase {
    const char* file;
    int result;
    std::string name;  // code page 936; only when result is 0
    // Where Wine's certificate services fall short of the platform's documented behaviour.
    const char* wineFallsShort = nullptr;
};

const std::vector<SignerCase>& Cases() {
    static const std::vector<SignerCase> cases = {
        {"ms.exe", 0, "Microsoft Windows"},
        {"ms32.dll", 0, "Microsoft Windows"},  // a 32-bit DLL: the other optional header layout
        {"other.exe", 0, "Vantrel Signer"},
        {"gbk-name.exe", 0, "微软测试签名"},  // a UTF-8 common name arrives in code page 936
        // The simple display name falls back from the common name to the organisational unit
        // (even when the organisation comes first), the organisation, the e-mail attribute, an
        // e-mail alternative name and at last the subject's first attribute.
        {"ou-name.exe", 0, "Vantrel Unit"},
        {"org-name.exe", 0, "Vantrel Org"},
        {"email-name.exe", 0, "signer@example.com"},
        {"san-email.exe", 0, "san@example.com"},
        {"first-attribute.exe", 0, "CN", "it lacks the fallback to the first attribute"},
        {"two-common-names.exe", 0, "First Name"},
        // 312 bytes of name: cut to 259.
        {"long-name.exe", 0, Repeat("a", 259)},
        // Only signer record 0 counts: not the signature nested in it, not a second record.
        {"nested.exe", 0, "Vantrel Signer"},
        {"two-signers.exe", 0, "Vantrel Signer", "it refuses a signature with two signer records"},
        {"tampered.exe", 0, "Microsoft Windows"},
        {"unsigned.exe", -1, ""},
        {"text.txt", -1, ""},
        {"no-such-file.exe", -1, ""},
        {"no-certificates.exe", -1, ""},      // the signature carries no certificate
        {"foreign-certificate.exe", -1, ""},  // only somebody else's certificate
        {"garbage-signature.exe", -1, ""},
        // The certificate table entry's type: X.509 is read as PKCS#7 as well, others are not.
        {"x509-type.exe", 0, "Microsoft Windows"},
        {"unknown-type.exe", -1, ""},
        {"table-past-end.exe", -1, ""},
        {"table-offset-huge.exe", -1, ""},
        {"headers-cut.exe", -1, ""},
    };
    return cases;
}

}  // namespace

TEST(SignerTest, ReadsTheSignerOfEachFixture) {
    for (const SignerCase& c : Cases()) {
        SCOPED_TRACE(c.file);
        if (c.wineFallsShort != nullptr && RunningUnderWine()) {
            std::printf("skipped under Wine, whose certificate services differ: %s: %s\n", c.file,
                        c.wineFallsShort);
            continue;
        }
        const std::wstring path = WidenArgumentPath(Fixture(c.file));
        NameBuffer name;
        ASSERT_EQ(GetFileSignerName(path.c_str(), name.bytes), c.result);
        if (c.result != 0) {
            EXPECT_TRUE(name.Untouched());
            continue;
        }
        ASSERT_NE(std::memchr(name.bytes, '\0', sizeof(name.bytes)), nullptr);
        EXPECT_EQ(std::string(name.bytes), c.name);
    }
}

// The command line's lookup says why a file has no signer, as the CLI shows it.
TEST(SignerTest, LookUpSignerSaysWhyAFileHasNone) {
    const struct {
        std::string path;
        SignerStatus status;
        std::string text;  // the name, or the reason
    } cases[] = {
        {Fixture("ms.exe"), SignerStatus::kNamed, "Microsoft Windows"},
        {Fixture("unsigned.exe"), SignerStatus::kNoSignerCertificate,
         "no embedded signature that carries its signer's certificate"},
        {Fixture("text.txt"), SignerStatus::kNotPe, "not a PE file"},
        {VANTREL_SIGNED_FIXTURES, SignerStatus::kDirectory, "is a directory"},
        {Fixture("nothing.exe"), SignerStatus::kUnreadable, std::strerror(ENOENT)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const SignerResult result = LookUpSigner(c.path);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(c.status == SignerStatus::kNamed ? result.name : SignerReasonText(result),
                  c.text);
    }
}

TEST(SignerTest, NamesAreCutOnACharacterBoundary) {
    const struct {
        std::string text;
        std::string stored;
    } cases[] = {
        {"Microsoft Windows", "Microsoft Windows"},
        {Repeat("a", 300), Repeat("a", 259)},
        {Repeat("汉", 150), Repeat("汉", 129)},  // 259 bytes would split the 130th
        {"a" + Repeat("汉", 150), "a" + Repeat("汉", 129)},
        {std::string("Micro\0soft", 10), "Micro"},
    };
    for (const auto& c : cases) {
        NameBuffer name;
        StoreSignerName(c.text, name.bytes);
        EXPECT_EQ(std::string(name.bytes), c.stored);
    }
}

TEST(SignerTest, RefusesWhatIsNoFile) {
    NameBuffer name;
    EXPECT_EQ(GetFileSignerName(nullptr, name.bytes), -1);
    const std::wstring folder = WidenArgumentPath(VANTREL_SIGNED_FIXTURES);
    EXPECT_EQ(GetFileSignerName(folder.c_str(), name.bytes), -1);
    EXPECT_TRUE(name.Untouched());
    const std::wstring signedFile = WidenArgumentPath(Fixture("ms.exe"));
    EXPECT_EQ(GetFileSignerName(signedFile.c_str(), nullptr), -1);
}

#ifndef _WIN32
namespace {

std::vector<unsigned char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// Every prefix of a signed file: the certificate table ends at the end of the file, so only the
// whole file has a signer, and no shorter one may be read past its end (the sanitizer build
// would see it).
TEST(SignerOpenSslTest, EveryTruncationFailsCleanly) {
    const std::vector<unsigned char> image = ReadAll(Fixture("ms.exe"));
    ASSERT_GT(image.size(), 1024u);
    for (std::size_t length = 0; length < image.size(); ++length) {
        std::vector<unsigned char> prefix(image.begin(), image.begin() + length);
        NameBuffer name;
        ASSERT_EQ(SignerNameFromImage(prefix.data(), prefix.size(), name.bytes), -1) << length;
        ASSERT_TRUE(name.Untouched()) << length;
    }
    NameBuffer name;
    ASSERT_EQ(SignerNameFromImage(image.data(), image.size(), name.bytes), 0);
    EXPECT_STREQ(name.bytes, "Microsoft Windows");
}

// Each byte of the file set to 0x00 and to 0xFF in turn: any answer is allowed except a crash, an
// over-read or a name that is not a NUL-ended text.
TEST(SignerOpenSslTest, DamagedBytesNeverBreakTheReader) {
    const std::vector<unsigned char> image = ReadAll(Fixture("nested.exe"));
    ASSERT_GT(image.size(), 1024u);
    std::vector<unsigned char> damaged = image;
    for (std::size_t position = 0; position < image.size(); ++position) {
        for (const unsigned char value : {0x00, 0xFF}) {
            damaged[position] = value;
            NameBuffer name;
            const int result = SignerNameFromImage(damaged.data(), damaged.size(), name.bytes);
            if (result == 0) {
                ASSERT_NE(std::memchr(name.bytes, '\0', sizeof(name.bytes)), nullptr) << position;
            } else {
                ASSERT_EQ(result, -1);
                ASSERT_TRUE(name.Untouched()) << position;
            }
        }
        damaged[position] = image[position];
    }
}
#endif

namespace {

// Answers from a script and counts how often it was asked.
class CountingLookup final : public FileSignerLookup {
  public:
    int GetFileSignerName(const wchar_t*, char* name) override {
        ++calls;
        if (result == 0) {
            std::strcpy(name, answer.c_str());
        }
        return result;
    }
    int calls = 0;
    int result = 0;
    std::string answer = "First";
};

constexpr uint32_t kMissingRecheckMs = 200;

class SignerCacheTest : public ::testing::Test {
  protected:
    SignerCacheTest() {
        dir = fs::temp_directory_path() /
              ("vantrel-signer-cache-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        file = dir / "module.dll";
        Write("MZ one");
    }
    ~SignerCacheTest() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    void Write(const std::string& content) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    }
    // The answer for `file`, with how many times the wrapped lookup was asked so far.
    std::string Ask(int& result) {
        NameBuffer name;
        result = cache->GetFileSignerName(file.wstring().c_str(), name.bytes);
        return result == 0 ? std::string(name.bytes)
                           : (name.Untouched() ? "<untouched>" : "<written>");
    }

    fs::path dir;
    fs::path file;
    std::shared_ptr<CountingLookup> inner = std::make_shared<CountingLookup>();
    // The cache's clock, moved by hand.
    std::chrono::steady_clock::time_point now{};
    std::shared_ptr<FileSignerLookup> cache =
        MakeCachedSignerLookup(inner, 16384, kMissingRecheckMs, [this] { return now; });
};

}  // namespace

TEST_F(SignerCacheTest, AsksAgainOnlyWhenTheFileChanged) {
    int result = 0;
    EXPECT_EQ(Ask(result), "First");
    EXPECT_EQ(Ask(result), "First");
    EXPECT_EQ(inner->calls, 1);

    // Rewritten with another size.
    inner->answer = "Second";
    Write("MZ three");
    EXPECT_EQ(Ask(result), "Second");
    EXPECT_EQ(inner->calls, 2);

    // Same size, another write time.
    inner->answer = "Third";
    Write("MZ four!");
    fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
    EXPECT_EQ(Ask(result), "Third");
    EXPECT_EQ(Ask(result), "Third");
    EXPECT_EQ(inner->calls, 3);
}

TEST_F(SignerCacheTest, RemembersFailuresAndMissingFilesForAWhile) {
    inner->result = -1;
    int result = 0;
    EXPECT_EQ(Ask(result), "<untouched>");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Ask(result), "<untouched>");
    EXPECT_EQ(inner->calls, 1);

    // A missing file fails without the wrapped lookup being asked, and is not looked for again
    // until the recheck time has passed.
    fs::remove(file);
    EXPECT_EQ(Ask(result), "<untouched>");
    EXPECT_EQ(result, -1);
    inner->result = 0;
    Write("MZ signed");
    EXPECT_EQ(Ask(result), "<untouched>");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(inner->calls, 1);

    // Not before the recheck time has passed...
    now += std::chrono::milliseconds(kMissingRecheckMs - 1);
    EXPECT_EQ(Ask(result), "<untouched>");
    EXPECT_EQ(inner->calls, 1);
    // ...and then the file that appeared is read.
    now += std::chrono::milliseconds(1);
    EXPECT_EQ(Ask(result), "First");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(inner->calls, 2);
}

namespace {

// Files that exist by wide path, with a count of every look at them, and a clock moved by hand.
struct FakeFileSystem {
    std::map<std::wstring, FileStamp> files;
    std::map<std::wstring, int> looks;
    std::chrono::steady_clock::time_point now{};

    FileStampReader Reader() {
        return [this](const wchar_t* path, FileStamp& stamp) {
            ++looks[path];
            const auto it = files.find(path);
            if (it == files.end()) {
                return false;
            }
            stamp = it->second;
            return true;
        };
    }
    // A folder is there when one of the files is in it.
    FolderReader Folders() {
        return [this](const wchar_t* path) {
            ++folderLooks[path];
            const std::wstring folder = path;
            for (const auto& [file, stamp] : files) {
                if (file.size() > folder.size() && file.compare(0, folder.size(), folder) == 0 &&
                    IsFolderSeparator(file[folder.size()])) {
                    return true;
                }
            }
            return false;
        };
    }
    std::map<std::wstring, int> folderLooks;

    // A cache over `inner` that asks this file system and reads this clock, rechecking after 1 s.
    std::shared_ptr<FileSignerLookup> Cache(std::shared_ptr<FileSignerLookup> inner) {
        return MakeCachedSignerLookupWith(
            std::move(inner), 16384, 1000, [this] { return now; }, Reader(), Folders());
    }
};

}  // namespace

TEST(SignerCacheSystemPathTest, AsksTheFileSystemOncePerPathAndRecheckTime) {
    FakeFileSystem disk;
    auto inner = std::make_shared<CountingLookup>();
    auto cache = disk.Cache(inner);
    // "C:\系统\present.dll" and a missing one, in code page 936 as the log has them.
    const std::string present = "C:\\\xCF\xB5\xCD\xB3\\present.dll";
    const std::string missing = "C:\\\xCF\xB5\xCD\xB3\\missing.dll";
    const std::wstring presentWide = L"C:\\\u7CFB\u7EDF\\present.dll";
    const std::wstring missingWide = L"C:\\\u7CFB\u7EDF\\missing.dll";
    disk.files[presentWide] = FileStamp{10, 1};

    struct Step {
        int advanceMs;    // the clock moves this far first
        bool askMissing;  // else the present file
        int result;
        int missingLooks;  // looks at the missing file so far
        int innerCalls;
    };
    const Step steps[] = {
        {0, true, -1, 1, 0}, {0, true, -1, 1, 0},   {999, true, -1, 1, 0},
        {1, true, -1, 2, 0}, {500, true, -1, 2, 0}, {0, false, 0, 2, 1},
        {0, false, 0, 2, 1}, {600, true, -1, 3, 1}, {5000, false, 0, 3, 1},
    };
    int i = 0;
    for (const Step& step : steps) {
        disk.now += std::chrono::milliseconds(step.advanceMs);
        NameBuffer name;
        EXPECT_EQ(cache->GetSystemPathSignerName(step.askMissing ? missing : present, name.bytes),
                  step.result)
            << i;
        EXPECT_EQ(disk.looks[missingWide], step.missingLooks) << i;
        EXPECT_EQ(inner->calls, step.innerCalls) << i;
        if (step.result == 0) {
            EXPECT_STREQ(name.bytes, "First") << i;
        }
        ++i;
    }
    // Every look was at the converted path, never at another form of it.
    EXPECT_EQ(disk.looks.size(), 2u);
}

TEST(SignerCacheSystemPathTest, KeepsSystemAndWidePathsApart) {
    FakeFileSystem disk;
    auto inner = std::make_shared<CountingLookup>();
    auto cache = disk.Cache(inner);
    disk.files[L"C:\\a.dll"] = FileStamp{1, 1};
    NameBuffer name;
    EXPECT_EQ(cache->GetSystemPathSignerName("C:\\a.dll", name.bytes), 0);
    EXPECT_EQ(cache->GetFileSignerName(L"C:\\a.dll", name.bytes), 0);
    EXPECT_EQ(inner->calls, 2);
    // A file found missing is not taken as missing in the other form before it is looked at.
    disk.files.clear();
    disk.now += std::chrono::seconds(2);
    EXPECT_EQ(cache->GetSystemPathSignerName("C:\\a.dll", name.bytes), -1);
    disk.files[L"C:\\a.dll"] = FileStamp{1, 1};
    EXPECT_EQ(cache->GetFileSignerName(L"C:\\a.dll", name.bytes), 0);
    EXPECT_EQ(cache->GetSystemPathSignerName("C:\\a.dll", name.bytes), -1);
}

TEST(SignerCacheSystemPathTest, AFileInAFolderFoundMissingIsMissingWithoutALook) {
    FakeFileSystem disk;
    auto inner = std::make_shared<CountingLookup>();
    auto cache = disk.Cache(inner);
    // "/" separates folders everywhere; "\x95\x5C" is one character whose trail byte is a
    // backslash, which must not end a folder's name where a backslash separates folders (Windows).
    disk.files[L"C:/there/present.dll"] = FileStamp{1, 1};
    const struct {
        int advanceMs;
        const char* path;
        int result;
        int fileLooks;    // looks at files so far
        int folderLooks;  // looks at folders so far
    } steps[] = {
        {0, "C:/gone/a.dll", -1, 1, 1},
        {0, "C:/gone/b.dll", -1, 1, 1},  // its folder is known missing
        {0, "C:/gone/sub/c.dll", -1, 2, 2},
        {0, "C:/there/x.dll", -1, 3, 3},
        {0, "C:/there/y.dll", -1, 4, 3},       // its folder is known to be there
        {0, "C:/there/present.dll", 0, 6, 3},  // looked at before and after it is read
        {0, "C:/g/a\x95\x5C.dll", -1, 7, 4},
        {0, "C:/g/b\x95\x5C.dll", -1, 7, 4},  // the same folder
        {999, "C:/gone/d.dll", -1, 7, 4},
        {1, "C:/gone/e.dll", -1, 8, 5},  // the finding has expired: looked at again
    };
    int i = 0;
    for (const auto& step : steps) {
        disk.now += std::chrono::milliseconds(step.advanceMs);
        NameBuffer name;
        EXPECT_EQ(cache->GetSystemPathSignerName(step.path, name.bytes), step.result) << i;
        int fileLooks = 0;
        for (const auto& [path, looks] : disk.looks) {
            fileLooks += looks;
        }
        int folderLooks = 0;
        for (const auto& [path, looks] : disk.folderLooks) {
            folderLooks += looks;
        }
        EXPECT_EQ(fileLooks, step.fileLooks) << i;
        EXPECT_EQ(folderLooks, step.folderLooks) << i;
        ++i;
    }
    EXPECT_EQ(disk.folderLooks[L"C:/gone"], 2);
}
