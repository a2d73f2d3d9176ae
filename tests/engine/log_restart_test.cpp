// A log that its writer starts anew in the same file, and a last line held for a slow writer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "engine/log_analyzer.h"
#include "tests/engine/store_dump.h"

namespace {

using namespace std::chrono_literals;

class TempLog {
  public:
    explicit TempLog(const std::string& name)
        : path_((std::filesystem::temp_directory_path() /
                 ("vantrel_" + std::to_string(std::random_device{}()) + "_" + name))
                    .string()) {}
    ~TempLog() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    void Write(std::string_view bytes, bool append) {
        std::ofstream out(path_, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

  private:
    std::string path_;
};

AnalyzerSeams FastSeams() {
    AnalyzerSeams seams;
    seams.drives = std::make_shared<DriveTable>();
    seams.throttle = 1ms;
    return seams;
}

std::string ProLine(uint32_t id) {
    return "[PRO]|t|x|0|" + std::to_string(id) + "/" + std::to_string(id * 10) + "/C:\\p" +
           std::to_string(id) + ".exe/cmd/1/2/3|h\r\n";
}

std::string ReadLine(uint32_t id, std::string_view info) {
    return "[FILE_READ]|t|x|" + std::to_string(id) + "|" + std::string(info) + "|h\r\n";
}

void Pass(LogAnalyzer& analyzer) {
    ASSERT_TRUE(analyzer.WaitForWake(analyzer.Wake()));
}

std::string OneShotDump(const std::string& text) {
    TempLog log("oneshot.log");
    log.Write(text, false);
    LogAnalyzer analyzer(FastSeams());
    analyzer.SetLogPath(log.path());
    analyzer.SetFileComplete(true);
    Pass(analyzer);
    return DumpStore(analyzer);
}

}  // namespace

// What was read, and what the writer leaves in the file when it starts again.
TEST(LogRestart, AShorterFileIsNotedAndReadAnewOnlyWhenTheOwnerRestarts) {
    const std::string first = ProLine(1) + ReadLine(1, "a") + ProLine(2) + ReadLine(2, "b");
    struct Case {
        const char* name;
        std::string before;  // read by the first pass (the last line may be held)
        std::string after;   // the file's whole content afterwards
        bool restarted;
    };
    const Case cases[] = {
        {"emptied", first, "", true},
        {"a shorter new log", first, ProLine(7) + ReadLine(7, "new"), true},
        {"shorter than a held line's start", first + "[FILE_RE", ProLine(8), true},
        {"cut inside the held line", first + "[FILE_READ]|t|x|1|cut", first + "[FILE", false},
        {"grown", first, first + ReadLine(1, "more"), false},
        {"unchanged", first, first, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempLog log("restart.log");
        log.Write(c.before, false);
        LogAnalyzer analyzer(FastSeams());
        analyzer.SetLogPath(log.path());
        Pass(analyzer);
        const std::string before = DumpStore(analyzer);
        EXPECT_FALSE(analyzer.LogRestarted());

        analyzer.ResetPassEnded();
        log.Write(c.after, false);
        Pass(analyzer);
        EXPECT_EQ(analyzer.LogRestarted(), c.restarted);
        if (!c.restarted) {
            continue;
        }
        // Noted and signalled, but the store is the owner's to clear: nothing is read meanwhile,
        // however often the follower is woken.
        EXPECT_TRUE(analyzer.PassEnded());
        log.Write(c.after + ReadLine(7, "grown again") + ProLine(9) + first, false);
        Pass(analyzer);
        EXPECT_EQ(DumpStore(analyzer), before);
        EXPECT_TRUE(analyzer.LogRestarted());

        analyzer.RestartLog();
        EXPECT_FALSE(analyzer.LogRestarted());
        analyzer.SetFileComplete(true);
        Pass(analyzer);
        EXPECT_EQ(DumpStore(analyzer),
                  OneShotDump(c.after + ReadLine(7, "grown again") + ProLine(9) + first));
        EXPECT_FALSE(analyzer.LogRestarted());
    }
}

TEST(LogRestart, AnotherFileEndsAPendingRestart) {
    TempLog log("a.log");
    TempLog other("b.log");
    log.Write(ProLine(1) + ProLine(2), false);
    other.Write(ProLine(3), false);
    LogAnalyzer analyzer(FastSeams());
    analyzer.SetLogPath(log.path());
    Pass(analyzer);
    log.Write(ProLine(4), false);
    Pass(analyzer);
    ASSERT_TRUE(analyzer.LogRestarted());
    analyzer.SetLogPath(other.path());
    EXPECT_FALSE(analyzer.LogRestarted());
    Pass(analyzer);
    EXPECT_EQ(DumpStore(analyzer), OneShotDump(ProLine(3)));
}

// A writer that stops in the middle of a line for longer than the quiet time: a reader that must
// never see half a line keeps it held until the file is said to be complete.
TEST(LogRestart, AHeldLineCanWaitForeverForItsWriter) {
    TempLog log("slow.log");
    log.Write(ProLine(1) + "[FILE_READ]|t|x|1|half", false);
    std::atomic<std::chrono::steady_clock::rep> now{0};
    AnalyzerSeams seams = FastSeams();
    seams.parseQuietHeldLine = false;
    seams.clock = [&now] {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(now));
    };
    LogAnalyzer analyzer(std::move(seams));
    analyzer.SetLogPath(log.path());
    Pass(analyzer);
    now += std::chrono::steady_clock::duration(kHeldLineQuietTime + 100ms).count();
    Pass(analyzer);
    Pass(analyzer);
    EXPECT_EQ(DumpStore(analyzer), OneShotDump(ProLine(1)));

    log.Write("|h\r\n[FILE_READ]|t|x|1|end|h", true);
    Pass(analyzer);
    EXPECT_EQ(DumpStore(analyzer), OneShotDump(ProLine(1) + ReadLine(1, "half")));
    analyzer.SetFileComplete(true);
    Pass(analyzer);
    EXPECT_EQ(DumpStore(analyzer),
              OneShotDump(ProLine(1) + ReadLine(1, "half") + ReadLine(1, "end")));
}
