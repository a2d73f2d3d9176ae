// The parser reads the drive table once per pass, and again once it is more than a second old.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>

#include "engine/log_analyzer.h"

namespace {

using namespace std::chrono_literals;

// A drive table that counts the queries made of it and can be remapped between them.
class CountingDrives final : public DriveDeviceSource {
  public:
    bool ListDrives(char* buffer, std::size_t size) override {
        ++lists;
        std::lock_guard guard(mutex);
        return table.ListDrives(buffer, size);
    }
    bool QueryDevice(const char* driveName, char* target, std::size_t size) override {
        ++queries;
        std::lock_guard guard(mutex);
        return table.QueryDevice(driveName, target, size);
    }
    void Remap(DriveTable next) {
        std::lock_guard guard(mutex);
        table = std::move(next);
    }

    std::atomic<int> lists{0};
    std::atomic<int> queries{0};

  private:
    std::mutex mutex;
    DriveTable table{{"C:", "\\Device\\HarddiskVolume2"}, {"D:", "\\Device\\HarddiskVolume3"}};
};

// A clock that moves only when told.
struct ManualClock {
    std::atomic<int64_t> ms{0};
    DriveTableCache::Clock Function() {
        return [this] { return std::chrono::steady_clock::time_point(ms.load() * 1ms); };
    }
};

// Answers every signer lookup with a third party's name, so that every module line is kept.
class OtherSigner final : public SignerLookup {
  public:
    int GetSystemPathSignerName(std::string_view, char* name) override {
        std::strcpy(name, "Other");
        return 0;
    }
};

class TempLog {
  public:
    explicit TempLog(const std::string& text)
        : path_((std::filesystem::temp_directory_path() /
                 ("vantrel_drives_" + std::to_string(std::random_device{}()) + ".log"))
                    .string()) {
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~TempLog() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

class DriveTableTest : public ::testing::Test {
  protected:
    DriveTableTest() : analyzer(Seams()) {}

    AnalyzerSeams Seams() {
        AnalyzerSeams seams;
        seams.drives = drives;
        seams.signer = std::make_shared<OtherSigner>();
        seams.throttle = 1ms;
        seams.clock = clock.Function();
        return seams;
    }

    void Pass(const std::string& path) {
        analyzer.SetLogPath(path);
        analyzer.SetFileComplete(true);
        ASSERT_TRUE(analyzer.WaitForWake(analyzer.Wake()));
    }

    std::string ImageOf(uint32_t id) {
        const auto guard = analyzer.Store().Read();
        const ProcessRecord* p = analyzer.Store().FindProcess(id);
        return p ? std::string(p->imagePath) : "(none)";
    }

    std::shared_ptr<CountingDrives> drives = std::make_shared<CountingDrives>();
    ManualClock clock;
    LogAnalyzer analyzer;
};

std::string ProLine(uint32_t id, uint32_t creator, const std::string& image) {
    return "[PRO]|t|x|" + std::to_string(creator) + "|" + std::to_string(id) + "/" +
           std::to_string(id * 10) + "/" + image + "/cmd/1/2/3|h";
}

std::string LoadLine(const char* tag, uint32_t id, const std::string& path) {
    return std::string(tag) + "|t|x|" + std::to_string(id) + "|" + path + "/1024/x/md5|h";
}

}  // namespace

TEST_F(DriveTableTest, APassOfManyPathLinesReadsTheTableOnce) {
    // Every kind of line with a path: [PRO] image paths, [MOD] and [SYS] file paths.
    std::string log = ProLine(1, 0, "\\Device\\HarddiskVolume2\\root.exe") + "\r\n";
    for (uint32_t i = 0; i < 300; ++i) {
        log += ProLine(100 + i, 1, "\\Device\\HarddiskVolume3\\p" + std::to_string(i) + ".exe") +
               "\r\n";
        log += LoadLine("[MOD]", 100 + i, "\\Device\\HarddiskVolume2\\m.dll") + "\r\n";
        log += LoadLine("[SYS]", 100 + i, "\\??\\C:\\d.sys") + "\r\n";
    }
    const TempLog file(log);
    Pass(file.path());

    EXPECT_EQ(drives->lists, 1);
    EXPECT_EQ(drives->queries, 2);
    // The results are those of a table read per path.
    EXPECT_EQ(ImageOf(1), "C:\\root.exe");
    EXPECT_EQ(ImageOf(399), "D:\\p299.exe");
    const auto guard = analyzer.Store().Read();
    const ProcessRecord* p = analyzer.Store().FindProcess(399);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->behaviors.size(), 2u);
    EXPECT_NE(std::string(p->behaviors[0].info()).find("C:\\m.dll"), std::string::npos);
    EXPECT_NE(std::string(p->behaviors[1].info()).find("C:\\d.sys"), std::string::npos);
}

TEST_F(DriveTableTest, EveryPassReadsTheTableAgain) {
    const TempLog first(ProLine(1, 0, "\\Device\\HarddiskVolume2\\a.exe") + "\r\n");
    Pass(first.path());
    EXPECT_EQ(ImageOf(1), "C:\\a.exe");

    // The clock stands still: only the new pass makes the remapped drive seen.
    drives->Remap(DriveTable{{"E:", "\\Device\\HarddiskVolume2"}});
    const TempLog second(ProLine(2, 0, "\\Device\\HarddiskVolume2\\b.exe") + "\r\n");
    Pass(second.path());
    EXPECT_EQ(ImageOf(2), "E:\\b.exe");
    EXPECT_EQ(drives->lists, 2);
}

TEST_F(DriveTableTest, ATableMoreThanASecondOldIsReadAgain) {
    struct Step {
        int64_t advanceMs;
        const char* remapTo;  // the device of C: from now on, or null
        const char* expected;
        int lists;
    } const steps[] = {
        {0, nullptr, "C:\\x.exe", 1},
        // Remapped, but the table is not a second old: the table read before still holds.
        {0, "\\Device\\HarddiskVolume9", "C:\\x.exe", 1},
        {1000, nullptr, "C:\\x.exe", 1},
        {1, nullptr, "\\Device\\HarddiskVolume2\\x.exe", 2},
        {999, "\\Device\\HarddiskVolume2", "\\Device\\HarddiskVolume2\\x.exe", 2},
        {2, nullptr, "C:\\x.exe", 3},
    };
    uint32_t id = 1;
    for (const Step& step : steps) {
        clock.ms += step.advanceMs;
        if (step.remapTo != nullptr) {
            drives->Remap(DriveTable{{"C:", step.remapTo}});
        }
        analyzer.ParseLine(ProLine(id, 0, "\\Device\\HarddiskVolume2\\x.exe"));
        EXPECT_EQ(ImageOf(id), step.expected) << "line " << id;
        EXPECT_EQ(drives->lists, step.lists) << "line " << id;
        ++id;
    }
}

TEST(DriveSnapshot, ConvertsAsTheTableItWasReadFrom) {
    DriveTable drives({{"C:", "\\Device\\HarddiskVolume1"},
                       {"D:", ""},
                       {"E:", "\\Device\\HarddiskVolume10"},
                       {"F:", "\\Device\\Late"}});
    drives.SetQueryFails("F:");
    const DriveSnapshot snapshot = DriveSnapshot::Take(drives);
    for (const char* path :
         {"\\Device\\HarddiskVolume10\\x", "\\Device\\HarddiskVolume1", "\\Device\\Late\\y",
          "\\??\\C:\\z", "\\\\?\\C:\\z", "", "C:\\w", "\\device\\HARDDISKVOLUME1\\v"}) {
        std::string fromTable = path;
        std::string fromSnapshot = path;
        EXPECT_EQ(snapshot.Convert(fromSnapshot), ConvertDevicePath(fromTable, drives)) << path;
        EXPECT_EQ(fromSnapshot, fromTable) << path;
    }
    drives.SetListFails(true);
    std::string path = "\\??\\C:\\x";
    EXPECT_EQ(DriveSnapshot::Take(drives).Convert(path), 0);
    EXPECT_EQ(path, "\\??\\C:\\x");
}
