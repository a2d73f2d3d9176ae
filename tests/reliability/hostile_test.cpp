// Inputs nobody should write but somebody will: what the engine and the tools make of them. Each
// must end promptly with a clear result; the sanitizer builds see any out-of-bounds access.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/log_analyzer.h"
#include "fuzz/entries.h"
#include "tools/feature_code.h"
#include "tools/signer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class TempFile {
  public:
    explicit TempFile(const std::string& name)
        : path_((fs::temp_directory_path() /
                 ("vantrel_hostile_" + std::to_string(std::random_device{}()) + "_" + name))
                    .string()) {}
    ~TempFile() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    void Write(std::string_view bytes) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

  private:
    std::string path_;
};

AnalyzerSeams Seams(std::shared_ptr<LogFileSource> files = nullptr) {
    AnalyzerSeams seams;
    seams.drives = std::make_shared<DriveTable>(DriveTable{{"C:", "\\Device\\HarddiskVolume2"}});
    seams.files = std::move(files);
    seams.throttle = 1ms;
    return seams;
}

void Pass(LogAnalyzer& analyzer) {
    ASSERT_TRUE(analyzer.WaitForWake(analyzer.Wake()));
}

uint64_t ReadOffset(LogAnalyzer& analyzer) {
    const auto guard = analyzer.Store().Read();
    return analyzer.ReadOffset();
}

// One letter repeated, as large as asked, without storing it.
class EndlessLine final : public LogFileSource {
  public:
    explicit EndlessLine(uint64_t size) : size_(size) {}
    std::atomic<uint64_t> bytesRead{0};

    std::unique_ptr<LogFileReader> Open(const std::string&) override {
        return std::make_unique<Reader>(*this);
    }

  private:
    class Reader final : public LogFileReader {
      public:
        explicit Reader(EndlessLine& source) : source_(source) {}
        bool Size(uint64_t& size) override {
            size = source_.size_;
            return true;
        }
        bool Seek(uint64_t offset) override {
            position_ = offset;
            return true;
        }
        std::size_t Read(char* buffer, std::size_t size) override {
            const std::size_t n =
                static_cast<std::size_t>(std::min<uint64_t>(size, source_.size_ - position_));
            std::memset(buffer, 'x', n);
            position_ += n;
            source_.bytesRead += n;
            return n;
        }

      private:
        EndlessLine& source_;
        uint64_t position_ = 0;
    };
    const uint64_t size_;
};

}  // namespace

// Whole files of junk, followed to their end: nothing in the store, every line counted and
// dropped, the position at the end.
TEST(HostileLog, FilesWithoutRecordsLeaveTheStoreEmpty) {
    std::mt19937 random(99);
    std::string binary(256 * 1024, '\0');
    for (char& c : binary) {
        c = static_cast<char>(random());
    }
    binary.replace(1000, 2, "\r\n");
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"binary", binary},
        {"only CR LF",
         [] {
             std::string s;
             for (int i = 0; i < 512 * 1024; ++i) {
                 s += "\r\n";
             }
             return s;
         }()},
        {"lone CRs and LFs", std::string(100000, '\r') + std::string(100000, '\n')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file("junk.log");
        file.Write(c.content);
        std::size_t lines = 0;
        std::size_t at = 0;
        for (std::size_t end; (end = c.content.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            ++lines;
        }
        lines += at < c.content.size();
        LogAnalyzer analyzer(Seams());
        analyzer.SetFileComplete(true);
        analyzer.SetLogPath(file.path());
        Pass(analyzer);
        EXPECT_TRUE(analyzer.PassEnded());
        EXPECT_EQ(ReadOffset(analyzer), c.content.size());
        EXPECT_EQ(analyzer.Counts().lines, lines);
        EXPECT_EQ(analyzer.Counts().dropped, lines);
        EXPECT_TRUE(analyzer.Store().SnapshotRoots().empty());
    }
}

// 100 MiB without a line end: read once, held for its writer, and parsed as one (useless) line
// only when the file is known to be complete, from the bytes kept. Reading it must stay linear.
TEST(HostileLog, AHundredMebibytesWithoutALineEnd) {
    constexpr uint64_t kSize = 100ull << 20;
    auto source = std::make_shared<EndlessLine>(kSize);
    LogAnalyzer analyzer(Seams(source));
    analyzer.SetLogPath("endless.log");
    const auto started = std::chrono::steady_clock::now();
    Pass(analyzer);
    EXPECT_EQ(source->bytesRead, kSize);
    EXPECT_EQ(ReadOffset(analyzer), 0u);
    EXPECT_EQ(analyzer.Counts().lines, 0u);
    EXPECT_EQ(analyzer.progress, 100.0);
    // Nothing new, and the writer may still be busy: no second read of the whole line.
    Pass(analyzer);
    EXPECT_EQ(source->bytesRead, kSize);
    analyzer.SetFileComplete(true);
    Pass(analyzer);
    EXPECT_EQ(source->bytesRead, kSize);
    EXPECT_EQ(ReadOffset(analyzer), kSize);
    EXPECT_EQ(analyzer.Counts().lines, 1u);
    EXPECT_EQ(analyzer.Counts().dropped, 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
}

// Lines far longer than any chunk, and NUL bytes inside lines, through the follower: the lines
// after them are not lost, and texts keep every byte.
TEST(HostileLog, HugeLinesAndNulBytesKeepEveryByte) {
    const std::string mebibyte(1 << 20, 'm');
    const std::string nulInfo("f\0g\0", 4);
    std::string log =
        std::string("[PRO]|t|x|0|1/10/C:\\a") + '\0' + "b.exe/" + mebibyte + "/1/2/3|h\r\n";
    log += "[FILE_READ]|t|x|1|" + mebibyte + "|h\r\n";
    log += "[FILE_READ]|t|x|1|" + nulInfo + std::string("|h\0i\r\n", 6);
    log += "[FILE_READ]|t|x|1|last|h\r\n";
    TempFile file("huge.log");
    file.Write(log);
    LogAnalyzer analyzer(Seams());
    analyzer.SetLogPath(file.path());
    Pass(analyzer);
    EXPECT_EQ(ReadOffset(analyzer), log.size());
    const auto guard = analyzer.Store().Read();
    ProcessRecord* p = analyzer.Store().FindProcess(1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->commandLine.size(), mebibyte.size());
    // The fixed buffers end at the NUL; nothing past it is read as part of them.
    EXPECT_STREQ(p->imagePath, "C:\\a");
    ASSERT_EQ(p->behaviors.size(), 3u);
    EXPECT_EQ(p->behaviors[0].info().size(), mebibyte.size());
    EXPECT_EQ(p->behaviors[1].info(), nulInfo);
    EXPECT_EQ(p->behaviors[1].handling(), std::string_view("h\0i", 3));
    EXPECT_EQ(p->behaviors[2].info(), "last");
    EXPECT_EQ(CheckStoreInvariants(analyzer), "");
}

// A path of 10,000 bytes in every field that holds one, the module and driver paths going to the
// platform's signer lookup as they are.
TEST(HostileLog, TenThousandBytePathsInEveryPathField) {
    const std::string tail(10000, 'p');
    const std::string device = "\\Device\\HarddiskVolume2\\" + tail;
    LogAnalyzer analyzer(Seams());
    analyzer.ParseLine("[PRO]|t|x|0|1/10/" + device + "/" + device + "/1/2/3|h");
    analyzer.ParseLine("[PRO]|t|x|1|2/20/C:\\" + tail + ".exe/c/1/2/3|h");
    const std::string lines[] = {
        "[MOD]|t|x|1|" + device + "/1/2/3|h",
        "[SYS]|t|x|1|" + device + "/1/2/3|h",
        "[MOD]|t|x|1|C:\\" + tail + "/1/2/3/4/5/6/7/8|h",
        "[FILE_READ]|t|x|1|C:\\" + tail + "|h",
        "[FILE_NEW]|t|x|1|" + device + "|h",
        "[REG_WRITE]|t|x|1|HKLM\\" + tail + "=C:\\" + tail + "|h",
        "[PRO_OPEN]|t|x|1|C:\\" + tail + "(1)|h",
    };
    for (const std::string& line : lines) {
        analyzer.ParseLine(line);
    }
    EXPECT_EQ(analyzer.Counts().lines, 9u);
    const auto guard = analyzer.Store().Read();
    ProcessRecord* first = analyzer.Store().FindProcess(1);
    ProcessRecord* second = analyzer.Store().FindProcess(2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::string(first->imagePath), ("C:\\" + tail).substr(0, 259));
    EXPECT_EQ(std::string(first->name), tail.substr(0, 259));
    EXPECT_EQ(std::string(second->name), (tail + ".exe").substr(0, 259));
    // Every behaviour line was kept, each text with the whole path in it.
    std::size_t withWholePath = 0;
    for (const BehaviorRecord& b : first->behaviors) {
        withWholePath += b.detail().find(tail) != std::string_view::npos;
    }
    EXPECT_EQ(withWholePath, first->behaviors.size());
    EXPECT_GE(first->behaviors.size(), std::size(lines));
    EXPECT_EQ(CheckStoreInvariants(analyzer), "");
}

TEST(HostileTools, TenThousandBytePathsAreUnreadable) {
    const std::string path = (fs::temp_directory_path() / std::string(10000, 'q')).string();
    const FeatureCodeResult code = InspectFeatureCode(path);
    EXPECT_EQ(code.error, FeatureCodeError::kUnreadable);
    EXPECT_EQ(code.code, "");
    char name[kSignerNameSize] = {};
    EXPECT_EQ(GetFileSignerName(WidenArgumentPath(path).c_str(), name), -1);
    EXPECT_EQ(name[0], '\0');
}

// Ids of more than 32 bits are reduced modulo 2^32, the same way wherever they appear.
TEST(HostileLog, IdsOverThirtyTwoBits) {
    const struct {
        const char* text;
        uint32_t id;
    } cases[] = {
        {"4294967296", 0},
        {"4294967297", 1},
        {"18446744073709551617", 1},
        {nullptr, 0},  // 1 followed by 9,999 zeros: a multiple of 2^32
    };
    for (const auto& c : cases) {
        const std::string text = c.text ? c.text : "1" + std::string(9999, '0');
        SCOPED_TRACE(text.substr(0, 24));
        LogAnalyzer analyzer(Seams());
        analyzer.ParseLine("[PRO]|t|x|7|" + text + "/" + text + "/C:\\a.exe/a/1/2/3|h");
        analyzer.ParseLine("[PRO]|t|x|" + text + "|" + std::to_string(c.id + 100) +
                           "/5/C:\\b.exe/b/1/2/3|h");
        analyzer.ParseLine("[FILE_READ]|t|x|" + std::to_string(c.id) + "|f|h");
        const auto guard = analyzer.Store().Read();
        ProcessRecord* p = analyzer.Store().FindProcess(c.id);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->pid, c.id);
        ASSERT_EQ(p->children.size(), 1u);
        EXPECT_EQ(p->children[0]->id, c.id + 100);
        EXPECT_EQ(p->children[0]->ppid, c.id);
        EXPECT_EQ(p->behaviors.size(), 2u);  // the creation and the read
    }
}

TEST(HostileLog, AFolderAsTheLogIsNoLog) {
    TempFile folder("folder.log");
    fs::create_directories(folder.path());
    LogAnalyzer analyzer(Seams());
    analyzer.SetLogPath(folder.path());
    Pass(analyzer);
    Pass(analyzer);
    EXPECT_FALSE(analyzer.PassEnded());
    EXPECT_EQ(analyzer.progress, 0.0);
    EXPECT_EQ(ReadOffset(analyzer), 0u);
    // A real log set afterwards is followed as usual.
    TempFile log("after.log");
    log.Write("[PRO]|t|x|0|1/10/C:\\a.exe/a/1/2/3|h\r\n");
    analyzer.SetLogPath(log.path());
    Pass(analyzer);
    EXPECT_TRUE(analyzer.PassEnded());
    EXPECT_EQ(analyzer.Store().SnapshotRoots().size(), 1u);
}

namespace {

// A PE of exactly 1024 bytes: i386, one section, its certificate table entry as given.
std::string Pe1024(uint32_t tableOffset, uint32_t tableSize, std::string_view table = {}) {
    std::string pe(1024, '\0');
    auto put16 = [&](std::size_t at, uint16_t v) { std::memcpy(&pe[at], &v, 2); };
    auto put32 = [&](std::size_t at, uint32_t v) { std::memcpy(&pe[at], &v, 4); };
    pe[0] = 'M';
    pe[1] = 'Z';
    put32(0x3C, 0x80);
    put32(0x80, 0x00004550);
    put16(0x84, 0x014C);   // machine
    put16(0x86, 1);        // sections
    put16(0x94, 0xE0);     // optional header size
    put16(0x98, 0x010B);   // PE32
    put32(0x98 + 92, 16);  // data directories
    put32(0x98 + 96 + 32, tableOffset);
    put32(0x98 + 96 + 36, tableSize);
    std::memcpy(&pe[0x80 + 248], ".text", 5);
    if (!table.empty()) {
        pe.replace(tableOffset, table.size(), table);
    }
    return pe;
}

}  // namespace

TEST(HostileTools, PeFilesOfExactly1024Bytes) {
    // A certificate entry of 24 bytes: its length, revision 2.0, type PKCS#7, then no DER at all.
    std::string garbage("\x18\0\0\0\0\x02\x02\0", 8);
    garbage += std::string(16, '\xA5');
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"no certificate table", Pe1024(0, 0)},
        {"table starting at the end", Pe1024(1024, 8)},
        {"table one byte past the end", Pe1024(1016, 9)},
        {"table of 4 GiB", Pe1024(1000, 0xFFFFFFFF)},
        {"garbage PKCS#7 ending at the end", Pe1024(1000, 24, garbage)},
    };
    std::string firstCode;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.bytes.size(), 1024u);
        TempFile file("small.exe");
        file.Write(c.bytes);
        char name[kSignerNameSize] = {};
        EXPECT_EQ(GetFileSignerName(WidenArgumentPath(file.path()).c_str(), name), -1);
        EXPECT_EQ(name[0], '\0');
        // The section table is the same in every case, and so is the code.
        const std::string code = ComputeFeatureCode(file.path());
        EXPECT_EQ(code.size(), 32u);
        if (firstCode.empty()) {
            firstCode = code;
        }
        EXPECT_EQ(code, firstCode);
    }
}
