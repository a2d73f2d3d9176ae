// [MOD] and [SYS] lines: the three layouts, their texts, and the filter that leaves out modules
// signed by "Microsoft Windows".
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/log_analyzer.h"
#include "engine/module_look_ahead.h"
#include "tools/signer.h"

namespace {

// Answers from a table of names by path, notes every path asked and whether the store's lock
// was held at that moment (another thread cannot take it then).
class FakeSigner final : public SignerLookup {
  public:
    int GetSystemPathSignerName(std::string_view path, char* name) override {
        asked.emplace_back(path);
        if (store != nullptr) {
            std::thread probe([this] {
                if (!store->TryRead()) {
                    askedUnderLock = true;
                }
            });
            probe.join();
        }
        const auto it = names.find(std::string(path));
        if (it == names.end()) {
            return -1;
        }
        std::strcpy(name, it->second.c_str());
        return 0;
    }

    std::map<std::string, std::string> names;
    std::vector<std::string> asked;
    const ProcessStore* store = nullptr;
    bool askedUnderLock = false;
};

class LoadLinesTest : public ::testing::Test {
  protected:
    LoadLinesTest()
        : signer(std::make_shared<FakeSigner>()),
          analyzer(AnalyzerSeams{
              std::make_shared<DriveTable>(DriveTable{{"C:", "\\Device\\HarddiskVolume2"}}),
              signer}) {
        signer->store = &analyzer.Store();
        analyzer.ParseLine("[PRO]|t0|x|0|7/700/C:\\p.exe/p.exe/1/2/3|system");
        process = analyzer.Store().FindProcess(7);
    }

    // The behaviours the line added to process 7.
    std::vector<BehaviorRecord> Parse(const std::string& line) {
        const std::size_t before = process->behaviors.size();
        analyzer.ParseLine(line);
        return {process->behaviors.begin() + static_cast<std::ptrdiff_t>(before),
                process->behaviors.end()};
    }

    std::shared_ptr<FakeSigner> signer;
    LogAnalyzer analyzer;
    ProcessRecord* process = nullptr;
};

}  // namespace

TEST_F(LoadLinesTest, EachLayoutGivesItsText) {
    const struct {
        const char* details;
        const char* info;
    } cases[] = {
        {"\\Device\\HarddiskVolume2\\模块\\a.dll/1024/x/d41d8cd98f00b204e9800998ecf8427e",
         "路径：C:\\模块\\a.dll  大小：1024   MD5：d41d8cd98f00b204e9800998ecf8427e"},
        // 9 sub-fields: the first signature always, the second only when both its texts are set.
        {"C:\\b.dll/2048/x/y/FC01/SN1/公司甲/SN2/公司乙",
         "路径：C:\\b.dll  大小：2048   特征码：FC01   签名序列号：SN1   签名公司名：公司甲   "
         "签名序列号2：SN2   签名公司名2：公司乙   "},
        {"C:\\b.dll/2048/x/y/FC01///SN2/",
         "路径：C:\\b.dll  大小：2048   特征码：FC01   签名序列号：   签名公司名：   "},
        {"C:\\b.dll/2048/x/y/FC01/SN1/公司甲//公司乙",
         "路径：C:\\b.dll  大小：2048   特征码：FC01   签名序列号：SN1   签名公司名：公司甲   "},
        // 15 sub-fields: S9 is the PE flag and S10, S11 the signature flags of the first
        // signature; S12, S13, S14 those of the second.
        {"C:\\c.dll/4096/x/y/FC02/SN1/公司甲/SN2/公司乙/0/1/1/1/1/1",
         "路径：C:\\c.dll  大小：4096   特征码：FC02   签名序列号：SN1   签名公司名：公司甲   "
         "签名通过  "
         "签名序列号2：SN2   签名公司名2：公司乙   签名通过  PE通过  "},
        {"C:\\c.dll/4096/x/y/FC02/SN1/公司甲/SN2/公司乙/1/0/1/0/1/01",
         "路径：C:\\c.dll  大小：4096   特征码：FC02   签名序列号：SN1   签名公司名：公司甲   "
         "PE通过  "
         "签名序列号2：SN2   签名公司名2：公司乙   "},
        {"C:\\c.dll/4096/x/y/FC02/SN1///公司乙/1/1/1/1/1/1",
         "路径：C:\\c.dll  大小：4096   特征码：FC02   "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.details);
        for (const char* tag : {"[MOD]", "[sys]"}) {
            const std::vector<BehaviorRecord> added =
                Parse(std::string(tag) + "|2024-03-05 09:12:05|x|7|" + c.details + "|report");
            ASSERT_EQ(added.size(), 1u);
            EXPECT_EQ(added[0].time(), "2024-03-05 09:12:05");
            EXPECT_EQ(added[0].action(), tag[1] == 'M' ? "加载模块" : "加载驱动");
            EXPECT_EQ(added[0].info(), c.info);
            EXPECT_EQ(added[0].detail(), c.info);
            EXPECT_EQ(added[0].handling(), "report");
        }
    }
}

TEST_F(LoadLinesTest, MalformedLinesAndUnknownProcessesAddNothingAndOpenNoFile) {
    const char* lines[] = {
        "[MOD]|t|x|7|C:\\a.dll/1/2|h",                                  // 3 sub-fields
        "[MOD]|t|x|7|C:\\a.dll/1/2/3/4|h",                              // 5
        "[MOD]|t|x|7|C:\\a.dll/1/2/3/4/5/6/7|h",                        // 8
        "[MOD]|t|x|7|C:\\a.dll/1/2/3/4/5/6/7/8/9|h",                    // 10
        "[SYS]|t|x|7|C:\\a.sys/1/2/3/4/5/6/7/8/9/10/11/12/13|h",        // 14
        "[SYS]|t|x|7|C:\\a.sys/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15|h",  // 16
        "[MOD]|t|x|7|C:/dir/a.dll/1/2/3|h",     // a "/" in the path changes the count
        "[MOD]|t|x|7|C:\\a.dll/1/2/3|h|extra",  // seven fields
        "[MOD]|t|x|7|C:\\a.dll/1/2/3",          // five fields
        "[MOD]|t|x|8|C:\\a.dll/1/2/3|h",        // process 8 is not in the store
        "[SYS]|t|x|8|C:\\a.sys/1/2/3|h",
    };
    for (const char* line : lines) {
        EXPECT_TRUE(Parse(line).empty()) << line;
    }
    EXPECT_TRUE(signer->asked.empty());
}

TEST_F(LoadLinesTest, ModulesSignedByMicrosoftWindowsAreLeftOut) {
    const std::string path = "C:\\模块\\a.dll";
    const struct {
        const char* line;
        const char* signerName;  // what the file lookup says; null: it fails
        bool recorded;
        std::size_t lookups;
    } cases[] = {
        {"[MOD]|t|x|7|\\Device\\HarddiskVolume2\\模块\\a.dll/1/2/3|h", "Microsoft Windows", false,
         1},
        {"[MOD]|t|x|7|\\Device\\HarddiskVolume2\\模块\\a.dll/1/2/3|h", "microsoft WINDOWS", false,
         1},
        {"[MOD]|t|x|7|\\Device\\HarddiskVolume2\\模块\\a.dll/1/2/3|h",
         "Microsoft Windows Publisher", true, 1},
        {"[MOD]|t|x|7|\\Device\\HarddiskVolume2\\模块\\a.dll/1/2/3|h", nullptr, true, 1},
        // The 9-field layout asks the file too, whatever the line says.
        {"[MOD]|t|x|7|C:\\模块\\a.dll/1/2/3/4/5/Other Inc/7/8|h", "MICROSOFT WINDOWS", false, 1},
        {"[MOD]|t|x|7|C:\\模块\\a.dll/1/2/3/4/5/Microsoft Windows/7/8|h", nullptr, true, 1},
        // The 15-field layout names the signer in S6 and no file is opened.
        {"[MOD]|t|x|7|C:\\模块\\a.dll/1/2/3/4/5/microsoft windows/7/8/1/1/1/1/1/1|h", "Other Inc",
         false, 0},
        {"[MOD]|t|x|7|C:\\模块\\a.dll/1/2/3/4/5/Microsoft Windows /7/8/1/1/1/1/1/1|h",
         "Microsoft Windows", true, 0},
        // Drivers are never filtered, and their files are never opened.
        {"[SYS]|t|x|7|C:\\模块\\a.dll/1/2/3|h", "Microsoft Windows", true, 0},
        {"[SYS]|t|x|7|C:\\模块\\a.dll/1/2/3/4/5/Microsoft Windows/7/8/1/1/1/1/1/1|h",
         "Microsoft Windows", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        signer->names.clear();
        signer->asked.clear();
        if (c.signerName != nullptr) {
            signer->names[path] = c.signerName;
        }
        EXPECT_EQ(Parse(c.line).size(), c.recorded ? 1u : 0u);
        ASSERT_EQ(signer->asked.size(), c.lookups);
        if (c.lookups > 0) {
            // The converted path, as the log's bytes.
            EXPECT_TRUE(signer->asked[0] == path);
        }
    }
    EXPECT_FALSE(signer->askedUnderLock);
}

// The platform's own lookup (cached) on real signed files. Paths in a log line may not contain "/",
// so the lines name the fixtures relative to their folder.
TEST(LoadLinesSignedFilesTest, ReadsTheSignerOfRealFiles) {
    namespace fs = std::filesystem;
    const fs::path previous = fs::current_path();
    fs::current_path(fs::path(VANTREL_SIGNED_FIXTURES));
    LogAnalyzer analyzer(AnalyzerSeams{std::make_shared<DriveTable>(), MakeModuleSignerLookup()});
    analyzer.ParseLine("[PRO]|t0|x|0|7/700/C:\\p.exe/p.exe/1/2/3|system");
    const char* lines[] = {
        "[MOD]|t|x|7|ms.exe/1/2/3|h",              // left out
        "[MOD]|t|x|7|ms32.dll/1/2/3/4/5/6/7/8|h",  // left out
        "[MOD]|t|x|7|ms.exe/1/2/3|h",              // again, now from the cache: left out
        "[MOD]|t|x|7|other.exe/1/2/3|h",
        "[MOD]|t|x|7|unsigned.exe/1/2/3|h",
        "[MOD]|t|x|7|no-such-file.dll/1/2/3|h",
        "[SYS]|t|x|7|ms.exe/1/2/3|h",
    };
    for (const char* line : lines) {
        analyzer.ParseLine(line);
    }
    fs::current_path(previous);
    const ProcessRecord* process = analyzer.Store().FindProcess(7);
    ASSERT_NE(process, nullptr);
    std::vector<std::string> infos;
    for (const BehaviorRecord& b : process->behaviors) {
        infos.push_back(std::string(b.action()) + " " + std::string(b.info()));
    }
    EXPECT_EQ(infos, (std::vector<std::string>{
                         "加载模块 路径：other.exe  大小：1   MD5：3",
                         "加载模块 路径：unsigned.exe  大小：1   MD5：3",
                         "加载模块 路径：no-such-file.dll  大小：1   MD5：3",
                         "加载驱动 路径：ms.exe  大小：1   MD5：3",
                     }));
}

// --- The module files of a long pass, asked about ahead of the parser on a thread of its own.

TEST(ModuleLookAheadTest, TakesThePathOfModuleLinesThatAskTheSigner) {
    const struct {
        const char* line;
        const char* path;
    } cases[] = {
        {"[MOD]|t|x|7|C:\\a.dll/1/2/3|h", "C:\\a.dll"},
        {"[mod]|t|x|7|C:\\a.dll/1/2/3/4/5/6/7/8|h", "C:\\a.dll"},
        {"[MOD]|t|x|7|C:\\a.dll/1/2/3/4/5/6/7/8/9/10/11/12/13/14|h", ""},  // names its signer
        {"[SYS]|t|x|7|C:\\a.sys/1/2/3|h", ""},
        {"[MOD]|t|x|7|C:\\a.dll/1/2/3/4|h", ""},  // no layout
        {"[MOD]|t|x|7|C:\\a.dll/1/2/3", ""},      // five fields
        {"[FILE_READ]|t|x|7|C:\\a.dll/1/2/3|h", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ModuleFileToLookUp(c.line), c.path) << c.line;
    }
}

namespace {

// Notes which thread asked about which path. A path given to HoldFirstAsk makes its first asker
// wait (up to a bound) until another thread asks about it too.
class RecordingSigner final : public SignerLookup {
  public:
    int GetSystemPathSignerName(std::string_view path, char*) override {
        std::unique_lock guard(mutex);
        asked.emplace_back(std::string(path), std::this_thread::get_id());
        asks.notify_all();
        if (path == heldPath && !heldOnce) {
            heldOnce = true;
            const auto by = std::this_thread::get_id();
            asks.wait_for(guard, std::chrono::seconds(10), [&] {
                for (const auto& [p, id] : asked) {
                    if (p == heldPath && id != by) {
                        return true;
                    }
                }
                return false;
            });
        }
        return -1;
    }
    std::vector<std::string> PathsAsked() {
        std::lock_guard guard(mutex);
        std::vector<std::string> paths;
        for (const auto& entry : asked) {
            paths.push_back(entry.first);
        }
        return paths;
    }

    std::mutex mutex;
    std::condition_variable asks;
    std::vector<std::pair<std::string, std::thread::id>> asked;
    std::string heldPath;
    bool heldOnce = false;
};

class LookAheadLog {
  public:
    LookAheadLog()
        : path_((std::filesystem::temp_directory_path() /
                 ("vantrel_" + std::to_string(std::random_device{}()) + "_lookahead.log"))
                    .string()) {}
    ~LookAheadLog() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    void Write(const std::string& bytes) {
        std::ofstream(path_, std::ios::binary).write(bytes.data(), bytes.size());
    }

  private:
    std::string path_;
};

// Filler that is no module line, `size` bytes of it.
std::string OtherLines(std::size_t size) {
    const std::string line = "[FILE_READ]|t|x|7|C:\\filler.txt|h\r\n";
    std::string text;
    while (text.size() + line.size() <= size) {
        text += line;
    }
    return text;
}

template <typename Done>
bool WaitFor(Done done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

}  // namespace

TEST(ModuleLookAheadTest, AsksOnItsOwnThreadAboutEachModuleFileOnceWithItsDriveConverted) {
    LookAheadLog log;
    std::string text = "[MOD]|t|x|7|\\Device\\HarddiskVolume2\\one.dll/1/2/3|h\r\n" +
                       OtherLines(300000) +  // beyond one read
                       "[MOD]|t|x|7|C:\\two.dll/1/2/3/4/5/6/7/8|h\r\n"
                       "[SYS]|t|x|7|C:\\driver.sys/1/2/3|h\r\n"
                       "[MOD]|t|x|7|\\Device\\HarddiskVolume2\\one.dll/1/2/3|h\r\n"  // again
                       "[MOD]|t|x|7|C:\\signed.dll/1/2/3/4/5/6/7/8/9/10/11/12/13/14|h\r\n"
                       "[MOD]|t|x|7|C:\\three.dll/1/2/3|h\r\n";
    log.Write(text);
    RecordingSigner signer;
    DriveTableCache drives(
        std::make_shared<DriveTable>(DriveTable{{"C:", "\\Device\\HarddiskVolume2"}}), nullptr);
    {
        ModuleLookAhead ahead(MakePlatformLogFileSource(), log.path(), 0, text.size(),
                              uint64_t{1} << 30, signer, drives);
        ASSERT_TRUE(WaitFor([&] { return ahead.ScannedTo() == text.size(); }));
    }
    EXPECT_EQ(signer.PathsAsked(),
              (std::vector<std::string>{"C:\\one.dll", "C:\\two.dll", "C:\\three.dll"}));
    for (const auto& entry : signer.asked) {
        EXPECT_NE(entry.second, std::this_thread::get_id());
    }
}

TEST(ModuleLookAheadTest, PassesOverLinesLongerThanItsBuffer) {
    LookAheadLog log;
    const std::string text = "[MOD]|t|x|7|C:\\one.dll/1/2/3|h\r\n[FILE_READ]|t|x|7|" +
                             std::string(std::size_t{3} << 20, 'x') +  // 3 MiB, no line end
                             "|h\r\n[MOD]|t|x|7|C:\\two.dll/1/2/3|h\r\n[MOD]|t|x|7|" +
                             std::string(std::size_t{1} << 20, '/') +  // and a module line
                             "|h\r\n[MOD]|t|x|7|C:\\three.dll/1/2/3|h\r\n";
    log.Write(text);
    RecordingSigner signer;
    DriveTableCache drives(std::make_shared<DriveTable>(), nullptr);
    {
        ModuleLookAhead ahead(MakePlatformLogFileSource(), log.path(), 0, text.size(),
                              uint64_t{1} << 30, signer, drives);
        ASSERT_TRUE(WaitFor([&] { return ahead.ScannedTo() == text.size(); }));
    }
    EXPECT_EQ(signer.PathsAsked(),
              (std::vector<std::string>{"C:\\one.dll", "C:\\two.dll", "C:\\three.dll"}));
}

TEST(ModuleLookAheadTest, StaysWithinItsDistanceOfTheParserAndStopsWhileWaiting) {
    LookAheadLog log;
    const std::string before = OtherLines(900000);
    const std::string text = before + "[MOD]|t|x|7|C:\\far.dll/1/2/3|h\r\n" + OtherLines(1000);
    log.Write(text);
    RecordingSigner signer;
    DriveTableCache drives(std::make_shared<DriveTable>(), nullptr);
    {
        // Ahead by nothing: one read, then it waits for the parser.
        ModuleLookAhead ahead(MakePlatformLogFileSource(), log.path(), 0, text.size(), 0, signer,
                              drives);
        ASSERT_TRUE(WaitFor([&] { return ahead.ScannedTo() > 0; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const uint64_t scanned = ahead.ScannedTo();
        EXPECT_LT(scanned, text.size() / 2);
        // Reads go on while they start no further than the parser.
        ahead.ParserAt(text.size() / 2);
        ASSERT_TRUE(WaitFor([&] { return ahead.ScannedTo() > scanned; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_LT(ahead.ScannedTo(), before.size());
    }  // stops while it waits
    EXPECT_TRUE(signer.PathsAsked().empty());
}

TEST(ModuleLookAheadTest, ALongPassAsksAheadOfTheParserWithTheSameResult) {
    LookAheadLog log;
    std::string text = "[PRO]|t0|x|0|7/700/C:\\p.exe/p.exe/1/2/3|system\r\n";
    text += OtherLines(std::size_t{9} << 20);  // long enough a pass for the helper threads
    text += "[MOD]|t|x|7|C:\\last.dll/1/2/3|h\r\n";
    log.Write(text);
    const auto signer = std::make_shared<RecordingSigner>();
    signer->heldPath = "C:\\last.dll";
    LogAnalyzer analyzer(AnalyzerSeams{std::make_shared<DriveTable>(), signer});
    analyzer.SetLogPath(log.path());
    analyzer.SetFileComplete(true);
    analyzer.WaitForWake(analyzer.Wake());
    // The parser asked too, whoever came first: the answer is still its own.
    std::vector<std::thread::id> askers;
    for (const auto& [path, id] : signer->asked) {
        if (path == "C:\\last.dll") {
            askers.push_back(id);
        }
    }
    ASSERT_EQ(askers.size(), 2u);
    EXPECT_NE(askers[0], askers[1]);
    const ProcessRecord* process = analyzer.Store().FindProcess(7);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(process->behaviors.back().info(), "路径：C:\\last.dll  大小：1   MD5：3");
}
