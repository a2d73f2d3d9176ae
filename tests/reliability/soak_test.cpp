// Half a minute of a writer and the follower racing each other: whatever the timing, the store
// ends up as a one-shot parse of the file, and a file left behind never reaches the next one's
// store.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/log_generator.h"
#include "engine/log_analyzer.h"
#include "engine/text.h"
#include "fuzz/entries.h"
#include "tests/engine/store_dump.h"
#include "tools/signer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Opens the files registered with it whatever the letter case of the path asked for (as the
// system the logs come from does, also where the file system is case-sensitive), optionally
// slowly, and counts the passes that start from the beginning of a file.
class WatchedFiles final : public LogFileSource {
  public:
    std::vector<std::string> known;
    std::chrono::microseconds readDelay{0};
    std::atomic<int> readsFromStart{0};

    std::unique_ptr<LogFileReader> Open(const std::string& path) override {
        for (const std::string& real : known) {
            if (EqualsNoCaseAscii(real, path)) {
                std::unique_ptr<LogFileReader> inner = platform_->Open(real);
                return inner ? std::make_unique<Reader>(*this, std::move(inner)) : nullptr;
            }
        }
        return nullptr;
    }

  private:
    class Reader final : public LogFileReader {
      public:
        Reader(WatchedFiles& owner, std::unique_ptr<LogFileReader> inner)
            : owner_(owner), inner_(std::move(inner)) {}
        bool Size(uint64_t& size) override { return inner_->Size(size); }
        bool Seek(uint64_t offset) override {
            if (offset == 0) {
                ++owner_.readsFromStart;
            }
            return inner_->Seek(offset);
        }
        std::size_t Read(char* buffer, std::size_t size) override {
            std::this_thread::sleep_for(owner_.readDelay);
            return inner_->Read(buffer, size);
        }

      private:
        WatchedFiles& owner_;
        std::unique_ptr<LogFileReader> inner_;
    };
    std::shared_ptr<LogFileSource> platform_ = MakePlatformLogFileSource();
};

// Answers from the path alone: the generated module paths name no real file.
class PathSigner final : public FileSignerLookup {
  public:
    int GetFileSignerName(const wchar_t* path, char* name) override {
        if (std::wcslen(path) % 2 == 0) {
            return -1;
        }
        std::strcpy(name, "Microsoft Windows");
        return 0;
    }
};

AnalyzerSeams SoakSeams(std::shared_ptr<LogFileSource> files) {
    AnalyzerSeams seams;
    seams.drives = std::make_shared<DriveTable>(DriveTable{{"C:", "\\Device\\HarddiskVolume2"}});
    seams.signer = std::make_shared<PathSigner>();
    seams.files = std::move(files);
    seams.throttle = 2ms;
    return seams;
}

std::string TempPath(const std::string& name) {
    return (fs::temp_directory_path() /
            ("vantrel_soak_" + std::to_string(std::random_device{}()) + "_" + name))
        .string();
}

void Append(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string OneShotDump(const std::string& text) {
    LogAnalyzer oneShot(SoakSeams(nullptr));
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
        oneShot.ParseLine(std::string_view(text).substr(at, end - at));
    }
    return DumpStore(oneShot);
}

// The same path with the letters of its file name in a random case.
std::string RandomCase(const std::string& path, std::mt19937& random) {
    std::string out = path;
    for (std::size_t i = out.find_last_of("/\\") + 1; i < out.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (std::isalpha(c)) {
            out[i] = static_cast<char>(random() % 2 ? std::toupper(c) : std::tolower(c));
        }
    }
    return out;
}

}  // namespace

TEST(Soak, AGrowingLogUnderRandomWakesEndsAsAOneShotParse) {
    const auto deadline = Clock::now() + 20s;
    const std::string path = TempPath("growing.log");
    auto files = std::make_shared<WatchedFiles>();
    files->known.push_back(path);

    LogGenerator generator(LogShape{uint64_t{1} << 40, 3000, 7});
    std::string pending;
    auto refill = [&] {
        while (pending.size() < 64 * 1024) {
            generator.Next(pending);
        }
    };
    // The first lines are there before the log is first read, so that only that pass starts from
    // the beginning of the file unless the store is wrongly cleared.
    refill();
    const std::size_t head = pending.rfind("\r\n", 16 * 1024) + 2;
    Append(path, std::string_view(pending).substr(0, head));
    pending.erase(0, head);

    LogAnalyzer analyzer(SoakSeams(files));
    analyzer.SetLogPath(path);
    ASSERT_TRUE(analyzer.WaitForWake(analyzer.Wake()));

    struct {
        int bursts = 0, crSplits = 0, midLinePauses = 0;
    } written;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        std::mt19937 random(2024);
        while (Clock::now() < deadline) {
            refill();
            std::size_t n = 0;
            bool pause = false;
            switch (random() % 8) {
                case 0:  // up to a CR whose LF comes later
                    n = pending.find("\r\n", random() % 4096) + 1;
                    ++written.crSplits;
                    break;
                case 1:  // a piece of a line, then a pause well below the held-line quiet time
                    n = pending.find("\r\n", random() % 4096) - random() % 20 - 1;
                    pause = true;
                    ++written.midLinePauses;
                    break;
                case 2:
                    n = random() % 16384 + 1;
                    break;
                default:
                    n = random() % 512 + 1;
                    break;
            }
            Append(path, std::string_view(pending).substr(0, n));
            pending.erase(0, n);
            ++written.bursts;
            std::this_thread::sleep_for(
                std::chrono::microseconds(pause ? random() % 250000 : random() % 8000));
        }
        // The generator hands out whole lines: the rest ends the last one.
        Append(path, pending);
        writing = false;
    });

    std::mt19937 random(99);
    int caseChanges = 0;
    while (writing) {
        const uint64_t ticket = analyzer.Wake();
        if (random() % 10 == 0) {
            analyzer.WaitForWake(ticket);
        }
        if (random() % 40 == 0) {
            analyzer.SetLogPath(RandomCase(path, random));
            ++caseChanges;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 15000));
    }
    writer.join();
    ASSERT_TRUE(analyzer.WaitForWake(analyzer.Wake()));

    const std::string text = ReadAll(path);
    std::printf(
        "soak: %zu bytes in %d bursts, %d cut after a CR, %d paused mid-line, "
        "%d case changes, %llu lines\n",
        text.size(), written.bursts, written.crSplits, written.midLinePauses, caseChanges,
        static_cast<unsigned long long>(analyzer.Counts().lines));
    EXPECT_GT(written.crSplits, 10);
    EXPECT_GT(written.midLinePauses, 10);
    EXPECT_GT(caseChanges, 5);
    {
        const auto guard = analyzer.Store().Read();
        EXPECT_EQ(analyzer.ReadOffset(), text.size());
    }
    // Another letter case is the same file: the store was never cleared and read again.
    EXPECT_EQ(files->readsFromStart, 1);
    EXPECT_EQ(DumpStore(analyzer), OneShotDump(text));
    EXPECT_EQ(CheckStoreInvariants(analyzer), "");
    std::remove(path.c_str());
}

TEST(Soak, SwitchingFilesMidPassKeepsTheOldFileOut) {
    const auto deadline = Clock::now() + 10s;
    const std::string paths[2] = {TempPath("first.log"), TempPath("second.log")};
    std::string expected[2];
    for (int i = 0; i < 2; ++i) {
        LogGenerator generator(LogShape{uint64_t{1} << 20, 300, uint64_t(11 + i)});
        std::string text;
        while (generator.Next(text)) {
        }
        Append(paths[i], text);
        expected[i] = OneShotDump(text);
    }
    ASSERT_NE(expected[0], expected[1]);
    auto files = std::make_shared<WatchedFiles>();
    files->known.assign(std::begin(paths), std::end(paths));
    // About a millisecond a chunk: a pass over either file takes a while.
    files->readDelay = 1000us;
    LogAnalyzer analyzer(SoakSeams(files));

    std::mt19937 random(5);
    int switches = 0;
    int midPass = 0;
    int current = 0;
    analyzer.SetLogPath(paths[current]);
    // Switches fall at random points of a pass, however long a pass takes in this build: under
    // the sanitizers it is many times longer than in a release build.
    const auto passStart = Clock::now();
    ASSERT_TRUE(analyzer.WaitForWake(analyzer.Wake()));
    const auto passMicros = std::max<long long>(
        1, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - passStart).count());
    while (Clock::now() < deadline) {
        analyzer.Wake();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % passMicros));
        const double progress = analyzer.progress;
        midPass += progress > 0.0 && progress < 100.0;
        current = 1 - current;
        analyzer.SetLogPath(paths[current]);
        ++switches;
        if (random() % 3 == 0) {
            // Let the new file be read whole: its store is its own and nothing else.
            ASSERT_TRUE(analyzer.WaitForWake(analyzer.Wake()));
            ASSERT_EQ(DumpStore(analyzer), expected[current]) << "after switch " << switches;
        }
    }
    ASSERT_TRUE(analyzer.WaitForWake(analyzer.Wake()));
    EXPECT_EQ(DumpStore(analyzer), expected[current]);
    EXPECT_EQ(CheckStoreInvariants(analyzer), "");
    std::printf("soak: %d switches, %d of them during a pass\n", switches, midPass);
    EXPECT_GT(midPass, switches / 5);
    for (const std::string& path : paths) {
        std::remove(path.c_str());
    }
}
