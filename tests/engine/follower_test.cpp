#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "engine/log_analyzer.h"
#include "tests/engine/store_dump.h"

namespace {

using namespace std::chrono_literals;

// A file made up on the fly: a pattern repeated, a size that may change, reads that may be slow.
struct FakeFile {
    uint64_t size = 0;
    std::string pattern = "x";
    uint64_t shrinksTo = UINT64_MAX;  // reads past this return nothing
    std::chrono::milliseconds readDelay{0};
    std::function<void()> onRead;  // called before each read
    std::atomic<int> reads{0};
    std::atomic<uint64_t> bytesRead{0};
};

class FakeFiles final : public LogFileSource {
  public:
    std::map<std::string, std::shared_ptr<FakeFile>> files;

    std::unique_ptr<LogFileReader> Open(const std::string& path) override {
        const auto it = files.find(path);
        if (it == files.end()) {
            return nullptr;
        }
        return std::make_unique<Reader>(it->second);
    }

  private:
    class Reader final : public LogFileReader {
      public:
        explicit Reader(std::shared_ptr<FakeFile> file) : file_(std::move(file)) {}
        bool Size(uint64_t& size) override {
            size = file_->size;
            return true;
        }
        bool Seek(uint64_t offset) override {
            position_ = offset;
            return true;
        }
        std::size_t Read(char* buffer, std::size_t size) override {
            if (file_->onRead) {
                file_->onRead();
            }
            std::this_thread::sleep_for(file_->readDelay);
            ++file_->reads;
            const uint64_t end = std::min({file_->size, file_->shrinksTo, position_ + size});
            std::size_t n = 0;
            const std::string& pattern = file_->pattern;
            while (position_ < end) {
                const std::size_t at = static_cast<std::size_t>(position_ % pattern.size());
                const std::size_t piece = static_cast<std::size_t>(
                    std::min<uint64_t>(pattern.size() - at, end - position_));
                std::memcpy(buffer + n, pattern.data() + at, piece);
                n += piece;
                position_ += piece;
            }
            file_->bytesRead += n;
            return n;
        }

      private:
        std::shared_ptr<FakeFile> file_;
        uint64_t position_ = 0;
    };
};

// A real file in the test's temporary folder.
class TempLog {
  public:
    explicit TempLog(const std::string& name)
        : path_((std::filesystem::temp_directory_path() /
                 ("vantrel_" + std::to_string(std::random_device{}()) + "_" + name))
                    .string()) {}
    ~TempLog() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    void Append(std::string_view bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::app);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

  private:
    std::string path_;
};

AnalyzerSeams FastSeams(std::shared_ptr<LogFileSource> files = nullptr) {
    AnalyzerSeams seams;
    seams.drives = std::make_shared<DriveTable>();
    seams.files = std::move(files);
    seams.throttle = 1ms;
    return seams;
}

std::string ProLine(uint32_t id, uint32_t creator) {
    return "[PRO]|t|x|" + std::to_string(creator) + "|" + std::to_string(id) + "/" +
           std::to_string(id * 10) + "/C:\\p" + std::to_string(id) + ".exe/cmd/1/2/3|h\r\n";
}

std::size_t BehaviorsOf(LogAnalyzer& analyzer, uint32_t id) {
    const auto guard = analyzer.Store().Read();
    ProcessRecord* p = analyzer.Store().FindProcess(id);
    return p ? p->behaviors.size() : SIZE_MAX;
}

void Pass(LogAnalyzer& analyzer) {
    ASSERT_TRUE(analyzer.WaitForWake(analyzer.Wake()));
}

}  // namespace

TEST(Follower, ProgressOfAPassIsTheShareOfItsLimitRead) {
    auto files = std::make_shared<FakeFiles>();
    auto file = std::make_shared<FakeFile>();
    file->size = 200000;
    files->files["a.log"] = file;
    LogAnalyzer analyzer(FastSeams(files));
    std::vector<double> seen;
    file->onRead = [&] { seen.push_back(analyzer.progress); };
    EXPECT_EQ(analyzer.progress, 0.0);
    analyzer.SetLogPath("a.log");
    Pass(analyzer);
    EXPECT_EQ(file->reads, 4);
    EXPECT_EQ(seen, (std::vector<double>{0.0, 32.768, 65.536, 98.304}));
    EXPECT_EQ(analyzer.progress, 100.0);
    EXPECT_TRUE(analyzer.PassEnded());

    // Exactly one chunk: one read.
    file->size = 65536;
    file->reads = 0;
    analyzer.SetLogPath("b.log");
    files->files["b.log"] = file;
    analyzer.ResetPassEnded();
    Pass(analyzer);
    EXPECT_EQ(file->reads, 1);
    EXPECT_EQ(analyzer.progress, 100.0);
    EXPECT_TRUE(analyzer.PassEnded());
}

TEST(Follower, LinesAcrossChunksAndPassesAreParsedOnceWhole) {
    TempLog log("lines.log");
    LogAnalyzer analyzer(FastSeams());
    // The [FILE_READ] line straddles the first chunk boundary.
    std::string text = ProLine(1, 0);
    const std::string behaviour = "[FILE_READ]|t|x|1|" + std::string(100, 'p') + "|h\r\n";
    text += "[FILE_READ]|t|x|1|" + std::string(65536 - text.size() - 30, 'f') + "|h\r\n";
    text += behaviour;
    log.Append(text);
    analyzer.SetLogPath(log.path());
    Pass(analyzer);
    EXPECT_EQ(BehaviorsOf(analyzer, 1), 2u);

    // Appended lines: the next pass reads only them.
    analyzer.ResetPassEnded();
    log.Append(behaviour + behaviour);
    Pass(analyzer);
    EXPECT_EQ(BehaviorsOf(analyzer, 1), 4u);
    EXPECT_TRUE(analyzer.PassEnded());
    {
        const auto guard = analyzer.Store().Read();
        EXPECT_EQ(analyzer.ReadOffset(), text.size() + 2 * behaviour.size());
    }

    // Nothing new: no pass, no signal, progress unchanged.
    analyzer.ResetPassEnded();
    Pass(analyzer);
    EXPECT_FALSE(analyzer.PassEnded());
    EXPECT_EQ(analyzer.progress, 100.0);
    EXPECT_EQ(BehaviorsOf(analyzer, 1), 4u);
}

TEST(Follower, AnUnterminatedLastLineWaitsForItsWriter) {
    TempLog log("held.log");
    std::atomic<std::chrono::steady_clock::rep> now{0};
    AnalyzerSeams seams = FastSeams();
    seams.clock = [&now] {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(now));
    };
    LogAnalyzer analyzer(std::move(seams));
    log.Append(ProLine(1, 0) + "[FILE_READ]|t|x|1|a|h\r\n[FILE_READ]|t|x|1|b|h\r\n[FILE_RE");
    analyzer.SetLogPath(log.path());
    Pass(analyzer);
    EXPECT_EQ(BehaviorsOf(analyzer, 1), 2u);
    EXPECT_EQ(analyzer.progress, 100.0);
    EXPECT_TRUE(analyzer.PassEnded());

    // The writer finishes the line: it is parsed whole, once.
    analyzer.ResetPassEnded();
    log.Append("AD]|t|x|1|c|h\r\n[FILE_READ]|t|x|1|d|h");
    Pass(analyzer);
    EXPECT_EQ(BehaviorsOf(analyzer, 1), 3u);
    EXPECT_TRUE(analyzer.PassEnded());

    // The file stays as it is for a while: its last line is complete as it stands.
    analyzer.ResetPassEnded();
    Pass(analyzer);
    EXPECT_EQ(BehaviorsOf(analyzer, 1), 3u);
    now += std::chrono::steady_clock::duration(kHeldLineQuietTime - 1ms).count();
    Pass(analyzer);
    EXPECT_EQ(BehaviorsOf(analyzer, 1), 3u);
    now += std::chrono::steady_clock::duration(1ms).count();
    Pass(analyzer);
    EXPECT_EQ(BehaviorsOf(analyzer, 1), 4u);
    EXPECT_TRUE(analyzer.PassEnded());
    analyzer.ResetPassEnded();
    Pass(analyzer);
    EXPECT_EQ(BehaviorsOf(analyzer, 1), 4u);
    EXPECT_FALSE(analyzer.PassEnded());

    // A file said to be complete has its last line parsed in the same pass.
    TempLog complete("complete.log");
    complete.Append(ProLine(2, 0) + "[FILE_READ]|t|x|2|a|h");
    analyzer.SetLogPath(complete.path());
    analyzer.SetFileComplete(true);
    Pass(analyzer);
    EXPECT_EQ(BehaviorsOf(analyzer, 2), 1u);
}

TEST(Follower, SetLogPathKeepsTheStoreOnlyForTheSameFile) {
    TempLog log("Same.log");
    LogAnalyzer analyzer(FastSeams());
    log.Append(ProLine(1, 0));
    analyzer.SetLogPath(log.path());
    Pass(analyzer);
    ASSERT_EQ(analyzer.Store().Read().roots().size(), 1u);

    std::string otherCase = log.path();
    otherCase.replace(otherCase.size() - 8, 4, "SAME");
    analyzer.SetLogPath(otherCase);
    EXPECT_EQ(analyzer.Store().Read().roots().size(), 1u);
    EXPECT_EQ(analyzer.LogPath(), otherCase);

    // A file that cannot be opened gives no pass and no signal; the store was cleared for it.
    analyzer.ResetPassEnded();
    analyzer.SetLogPath(log.path() + ".missing");
    EXPECT_TRUE(analyzer.Store().Read().roots().empty());
    Pass(analyzer);
    EXPECT_FALSE(analyzer.PassEnded());

    // Back to the first file: read again from its start.
    analyzer.SetLogPath(log.path());
    Pass(analyzer);
    EXPECT_EQ(analyzer.Store().Read().roots().size(), 1u);
}

TEST(Follower, APassReadsNoFurtherThanTheChunkThatCrossesTheCap) {
    auto files = std::make_shared<FakeFiles>();
    auto file = std::make_shared<FakeFile>();
    file->size = 700ull << 20;
    // 1 KiB lines of no tag: each is dropped at its first byte.
    file->pattern = std::string(1022, 'z') + "\r\n";
    files->files["big.log"] = file;
    LogAnalyzer analyzer(FastSeams(files));
    analyzer.SetLogPath("big.log");
    Pass(analyzer);
    EXPECT_EQ(file->bytesRead, kReadCap);
    EXPECT_EQ(analyzer.progress, 100.0);
    EXPECT_TRUE(analyzer.PassEnded());

    // Past the cap, a pass reads nothing: progress 0, no signal.
    analyzer.ResetPassEnded();
    Pass(analyzer);
    EXPECT_EQ(file->bytesRead, kReadCap);
    EXPECT_EQ(analyzer.progress, 0.0);
    EXPECT_FALSE(analyzer.PassEnded());
}

TEST(Follower, AFileThatShrinksEndsThePass) {
    auto files = std::make_shared<FakeFiles>();
    auto file = std::make_shared<FakeFile>();
    file->size = 1 << 20;
    file->shrinksTo = 100000;
    files->files["s.log"] = file;
    LogAnalyzer analyzer(FastSeams(files));
    analyzer.SetLogPath("s.log");
    Pass(analyzer);
    EXPECT_EQ(file->bytesRead, 100000u);
    EXPECT_FALSE(analyzer.PassEnded());
}

TEST(Follower, APassOverTheOldFileAddsNothingAfterTheSwitch) {
    auto files = std::make_shared<FakeFiles>();
    auto old = std::make_shared<FakeFile>();
    old->size = 64ull << 20;
    // Every line creates process 1 (and updates it afterwards); after the switch none may land.
    old->pattern = ProLine(1, 0);
    old->readDelay = 2ms;
    files->files["old.log"] = old;
    auto fresh = std::make_shared<FakeFile>();
    files->files["new.log"] = fresh;  // empty
    LogAnalyzer analyzer(FastSeams(files));
    analyzer.SetLogPath("old.log");
    analyzer.Wake();
    while (old->reads < 3) {
        std::this_thread::sleep_for(1ms);
    }
    analyzer.SetLogPath("new.log");
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(analyzer.Store().Read().roots().empty());
    EXPECT_FALSE(analyzer.PassEnded());
    const auto guard = analyzer.Store().Read();
    EXPECT_EQ(analyzer.ReadOffset(), 0u);
}

TEST(Follower, DestructionIsPrompt) {
    const auto start = std::chrono::steady_clock::now();
    { LogAnalyzer idle(AnalyzerSeams{}); }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);

    auto files = std::make_shared<FakeFiles>();
    auto file = std::make_shared<FakeFile>();
    file->size = 1ull << 30;
    file->readDelay = 5ms;
    files->files["slow.log"] = file;
    AnalyzerSeams seams = FastSeams(files);
    seams.throttle = 1000ms;
    auto analyzer = std::make_unique<LogAnalyzer>(seams);
    analyzer->SetLogPath("slow.log");
    analyzer->Wake();
    while (file->reads < 2) {
        std::this_thread::sleep_for(1ms);
    }
    const auto stopping = std::chrono::steady_clock::now();
    analyzer.reset();
    // One chunk in hand, and no throttle to sit out.
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 500ms);
}

TEST(Follower, AGrowingLogEndsUpAsAOneShotParse) {
    // The writer appends in random pieces, splitting lines anywhere (also between CR and LF),
    // while the follower is woken at random; with a quiet time so short that its pauses leave
    // cut lines parsed provisionally, and withdrawn, again and again.
    for (const auto quiet : {kHeldLineQuietTime, std::chrono::milliseconds(1)}) {
        SCOPED_TRACE(quiet.count());
        std::mt19937 random(12345);
        std::string text;
        for (uint32_t id = 1; id <= 300; ++id) {
            text += ProLine(id, id / 2);
            for (int k = 0; k < 5; ++k) {
                text += "[FILE_WRITE]|t" + std::to_string(k) + "|x|" + std::to_string(id / 3 + 1) +
                        "|C:\\f" + std::to_string(id) + "|h\r\n";
            }
            if (id % 7 == 0) {
                text += "[PRO_DIE]|t|x|" + std::to_string(id / 2) + "|x|y\r\n";
            }
        }
        TempLog log("growing.log");
        AnalyzerSeams seams = FastSeams();
        seams.heldLineQuietTime = quiet;
        LogAnalyzer analyzer(seams);
        analyzer.SetLogPath(log.path());
        std::atomic<bool> writing{true};
        std::thread writer([&] {
            std::mt19937 pieces(678);
            for (std::size_t at = 0; at < text.size();) {
                const std::size_t n = std::min<std::size_t>(pieces() % 700 + 1, text.size() - at);
                log.Append(std::string_view(text).substr(at, n));
                at += n;
                if (pieces() % 4 == 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(pieces() % 2000));
                }
            }
            writing = false;
        });
        while (writing) {
            analyzer.Wake();
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        }
        writer.join();
        Pass(analyzer);

        LogAnalyzer oneShot(FastSeams());
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            oneShot.ParseLine(std::string_view(text).substr(at, end - at));
        }
        EXPECT_EQ(DumpStore(analyzer), DumpStore(oneShot));
        EXPECT_GT(oneShot.Store().Read().roots().size(), 0u);
    }
}

namespace {

// Seams for passes a few milliseconds apart whose held lines count as finished almost at once.
AnalyzerSeams QuietSeams(std::shared_ptr<LogFileSource> files = nullptr) {
    AnalyzerSeams seams = FastSeams(std::move(files));
    seams.heldLineQuietTime = 2ms;
    return seams;
}

// The store and counts a parse of `text`'s CR LF lines gives in one go.
std::string OneShot(const std::string& text, uint64_t* lines = nullptr) {
    LogAnalyzer oneShot(FastSeams());
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
        oneShot.ParseLine(std::string_view(text).substr(at, end - at));
    }
    if (lines != nullptr) {
        *lines = oneShot.Counts().lines;
    }
    return DumpStore(oneShot);
}

}  // namespace

TEST(Follower, ALongPassWithChunksMadeAheadGivesTheOneShotStore) {
    // Enough to read that the arena's chunks are made ready on a second thread, and enough texts
    // to fill several of them; creations, deaths and ordinary lines interleaved, so that every
    // kind of line takes its chunks from that thread.
    std::string text;
    for (uint32_t id = 1; text.size() < (20u << 20); ++id) {
        text += ProLine(id, id / 2);
        for (int k = 0; k < 20; ++k) {
            text += "[FILE_WRITE]|t" + std::to_string(k) + "|x|" + std::to_string(id / 3 + 1) +
                    "|C:\\f" + std::to_string(id) + std::string(200 + k * 10, 'a' + k % 26) +
                    "|h\r\n";
        }
        text += "[MOD]|t|x|" + std::to_string(id) + "|C:\\m" + std::to_string(id) +
                ".dll/1/2/md5|h\r\n";
        if (id % 7 == 0) {
            text += "[PRO_DIE]|t|x|" + std::to_string(id / 2) + "|x|y\r\n";
        }
    }
    TempLog log("long.log");
    log.Append(text);
    LogAnalyzer analyzer(FastSeams());
    analyzer.SetLogPath(log.path());
    Pass(analyzer);
    uint64_t lines = 0;
    EXPECT_EQ(DumpStore(analyzer), OneShot(text, &lines));
    EXPECT_EQ(analyzer.Counts().lines, lines);
    EXPECT_GT(lines, 50000u);
}

TEST(Follower, ALastLineParsedAfterThePauseIsWithdrawnWhenItsWriterGoesOn) {
    // Each line is cut on both sides of every separator (and left whole), the file then stays
    // quiet until the cut line is parsed as it stands, and then the writer finishes it. What the
    // cut line changed must give way to the whole line, and what depends on it must find it.
    const std::string before = ProLine(1, 0) + ProLine(2, 1) + "[FILE_READ]|t|x|2|a|h\r\n";
    const struct {
        const char* what;
        std::string line;
        std::string after;
    } cases[] = {
        {"a new process", "[PRO]|t5|x|1|5/50/\\??\\C:\\p5.exe/run it/100/200/md5|hand",
         "[FILE_READ]|t|x|5|f|h\r\n" + ProLine(6, 5) + "[FILE_READ]|t|x|6|g|h\r\n"},
        {"a process announced again", "[PRO]|t7|x|1|2/70/\\??\\C:\\q.exe/again/7/8/9|other",
         "[FILE_READ]|t|x|2|f|h\r\n" + ProLine(6, 2)},
        {"a process ending", "[PRO_DIE]|t|x|2|x|y", "[FILE_READ]|t|x|2|f|h\r\n"},
        {"a module", "[MOD]|t|x|2|\\??\\C:\\m.dll/100/200/md5|mh", "[FILE_READ]|t|x|2|f|h\r\n"},
        {"a behaviour", "[FILE_WRITE]|tw|x|2|C:\\w.txt|wh", "[FILE_READ]|t|x|2|f|h\r\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::size_t> cuts{c.line.size()};
        for (std::size_t i = 0; i < c.line.size(); ++i) {
            if (c.line[i] == '|' || c.line[i] == '/') {
                cuts.push_back(i);
                cuts.push_back(i + 1);
            }
        }
        uint64_t wholeLines = 0;
        const std::string whole = OneShot(before + c.line + "\r\n" + c.after, &wholeLines);
        for (const std::size_t cut : cuts) {
            SCOPED_TRACE(std::string(c.what) + ", cut after " + c.line.substr(0, cut));
            TempLog log("provisional.log");
            LogAnalyzer analyzer(QuietSeams());
            log.Append(before + c.line.substr(0, cut));
            analyzer.SetLogPath(log.path());
            Pass(analyzer);
            std::this_thread::sleep_for(3ms);
            analyzer.ResetPassEnded();
            Pass(analyzer);  // the quiet file: its cut line is parsed as it stands
            EXPECT_TRUE(analyzer.PassEnded());
            EXPECT_EQ(DumpStore(analyzer), OneShot(before + c.line.substr(0, cut) + "\r\n"));
            log.Append(c.line.substr(cut) + "\r\n" + c.after);
            Pass(analyzer);
            EXPECT_EQ(DumpStore(analyzer), whole);
            EXPECT_EQ(analyzer.Counts().lines, wholeLines);
        }
    }
}

TEST(Follower, AWithdrawnBehaviourIsFoundWhereverTheWindowSortedIt) {
    TempLog log("sorted.log");
    LogAnalyzer analyzer(QuietSeams());
    log.Append(ProLine(1, 0) +
               "[FILE_READ]|b|x|1|b|h\r\n[FILE_READ]|c|x|1|c|h\r\n[FILE_READ]|a|x|1|a|h");
    analyzer.SetLogPath(log.path());
    Pass(analyzer);
    std::this_thread::sleep_for(3ms);
    Pass(analyzer);
    ASSERT_EQ(BehaviorsOf(analyzer, 1), 3u);
    {
        // The window sorts by time: the cut line's behaviour moves to the front.
        const auto guard = analyzer.Store().Read();
        auto& behaviors = analyzer.Store().FindProcess(1)->behaviors;
        std::sort(
            behaviors.begin(), behaviors.end(),
            [](const BehaviorRecord& x, const BehaviorRecord& y) { return x.time() < y.time(); });
    }
    log.Append("h\r\n");
    Pass(analyzer);
    const auto guard = analyzer.Store().Read();
    const auto& behaviors = analyzer.Store().FindProcess(1)->behaviors;
    ASSERT_EQ(behaviors.size(), 3u);
    EXPECT_EQ(behaviors[0].time(), "b");
    EXPECT_EQ(behaviors[1].time(), "c");
    EXPECT_EQ(behaviors[2].handling(), "hh");
}

TEST(Follower, ALogWithoutLineEndsIsReadOnce) {
    auto files = std::make_shared<FakeFiles>();
    auto file = std::make_shared<FakeFile>();
    file->size = 200000;
    file->pattern = "[FILE_READ]|t|x|1|" + std::string(1000, 'i');
    files->files["one.log"] = file;
    LogAnalyzer analyzer(QuietSeams(files));
    analyzer.SetLogPath("one.log");
    Pass(analyzer);
    EXPECT_EQ(analyzer.Counts().lines, 0u);
    std::this_thread::sleep_for(3ms);
    Pass(analyzer);
    EXPECT_EQ(analyzer.Counts().lines, 1u);
    EXPECT_EQ(file->bytesRead, 200000u);
}

TEST(Follower, OnceTheCapIsReachedLaterPassesReadNothing) {
    // The second line straddles the cap and is longer than a chunk.
    auto files = std::make_shared<FakeFiles>();
    auto file = std::make_shared<FakeFile>();
    file->size = 1 << 20;
    file->pattern = std::string(150000, 'z') + "\r\n";
    files->files["capped.log"] = file;
    AnalyzerSeams seams = FastSeams(files);
    seams.readCap = 200000;
    LogAnalyzer analyzer(seams);
    analyzer.SetLogPath("capped.log");
    Pass(analyzer);
    EXPECT_EQ(file->bytesRead, 4u * kChunkSize);
    EXPECT_EQ(analyzer.Counts().lines, 1u);
    EXPECT_TRUE(analyzer.PassEnded());
    for (int pass = 0; pass < 2; ++pass) {
        analyzer.ResetPassEnded();
        Pass(analyzer);
        EXPECT_EQ(file->bytesRead, 4u * kChunkSize);
        EXPECT_EQ(analyzer.progress, 0.0);
        EXPECT_FALSE(analyzer.PassEnded());
        EXPECT_EQ(analyzer.Counts().lines, 1u);
    }
}

namespace {

class ThrowingSigner final : public SignerLookup {
  public:
    int GetSystemPathSignerName(std::string_view, char*) override { throw std::bad_alloc(); }
};

// The whole lines in the first `bytes` bytes of `pattern` repeated, and the bytes they take.
struct WholeLines {
    uint64_t lines = 0;
    uint64_t bytes = 0;
};

WholeLines WholeLinesIn(std::string_view pattern, uint64_t bytes) {
    const uint64_t repeats = bytes / pattern.size();
    const auto linesOf = [](std::string_view text) {
        WholeLines whole;
        for (std::size_t at = text.find("\r\n"); at != std::string_view::npos;
             at = text.find("\r\n", at + 2)) {
            ++whole.lines;
            whole.bytes = at + 2;
        }
        return whole;
    };
    const WholeLines part =
        linesOf(pattern.substr(0, static_cast<std::size_t>(bytes % pattern.size())));
    return {repeats * linesOf(pattern).lines + part.lines, repeats * pattern.size() + part.bytes};
}

}  // namespace

TEST(Follower, AFailedPassKeepsTheStoreAndEndsReadingThatFile) {
    // Out of memory while reading, and while parsing (asking for a module's signer); and while
    // reading a pass long enough to be read on a thread of its own, ahead of the parser.
    const struct {
        const char* what;
        bool inRead;
        uint64_t size;
    } cases[] = {{"read", true, 8 * kChunkSize},
                 {"parse", false, 8 * kChunkSize},
                 {"read ahead", true, 16u << 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto files = std::make_shared<FakeFiles>();
        auto file = std::make_shared<FakeFile>();
        const std::string lines = ProLine(1, 0) + "[FILE_READ]|t|x|1|" + std::string(3000, 'f') +
                                  "|h\r\n[MOD]|t|x|1|C:\\m.dll/1/2/md5|h\r\n";
        file->size = c.size;
        file->pattern = lines;
        uint64_t readBeforeFailure = 0;
        if (c.inRead) {
            file->onRead = [&file, &readBeforeFailure] {
                if (file->reads == 2) {
                    readBeforeFailure = file->bytesRead;
                    throw std::bad_alloc();
                }
            };
        }
        files->files["a.log"] = file;
        AnalyzerSeams seams = FastSeams(files);
        if (!c.inRead) {
            seams.signer = std::make_shared<ThrowingSigner>();
        }
        LogAnalyzer analyzer(seams);
        analyzer.SetLogPath("a.log");
        Pass(analyzer);
        std::string detail;
        EXPECT_EQ(analyzer.Problem(&detail), LogAnalyzer::LogProblem::ReadFailed);
        EXPECT_NE(detail.find("alloc"), std::string::npos) << detail;
        EXPECT_GE(BehaviorsOf(analyzer, 1), c.inRead ? 2u : 1u);
        if (c.inRead) {
            // Every line read before the failure is applied, and no other.
            const WholeLines expected = WholeLinesIn(lines, readBeforeFailure);
            EXPECT_EQ(analyzer.Counts().lines, expected.lines);
            const auto guard = analyzer.Store().Read();
            EXPECT_EQ(analyzer.ReadOffset(), expected.bytes);
        }
        EXPECT_TRUE(analyzer.PassEnded());
        const int reads = file->reads;
        Pass(analyzer);
        EXPECT_EQ(file->reads, reads);

        // Another file is read as usual.
        files->files["b.log"] = std::make_shared<FakeFile>();
        analyzer.SetLogPath("b.log");
        EXPECT_EQ(analyzer.Problem(), LogAnalyzer::LogProblem::None);
    }
}

TEST(Follower, AFailureReadingAheadComesAfterTheLinesReadBeforeIt) {
    // A long pass reads on a thread of its own. While the parser waits for the lock, that thread
    // reads on and then fails: the reads it finished must still be applied, before the failure.
    auto files = std::make_shared<FakeFiles>();
    auto file = std::make_shared<FakeFile>();
    const std::string lines =
        ProLine(1, 0) + "[FILE_READ]|t|x|1|" + std::string(3000, 'f') + "|h\r\n";
    file->size = 16u << 20;
    file->pattern = lines;
    std::atomic<bool> started{false};
    std::atomic<bool> held{false};
    std::atomic<bool> failed{false};
    uint64_t readBeforeFailure = 0;
    file->onRead = [&] {
        if (file->reads == 0) {
            started = true;
            while (!held) {
                std::this_thread::sleep_for(1ms);
            }
        } else if (file->reads == 3) {
            // Fewer reads than the thread may be ahead: it gets here even when the parser waits
            // for the lock before taking the first.
            readBeforeFailure = file->bytesRead;
            failed = true;
            throw std::bad_alloc();
        }
    };
    files->files["a.log"] = file;
    LogAnalyzer analyzer(FastSeams(files));
    analyzer.SetLogPath("a.log");
    const uint64_t ticket = analyzer.Wake();
    while (!started) {
        std::this_thread::sleep_for(1ms);
    }
    {
        const auto guard = analyzer.Store().Read();
        held = true;
        while (!failed) {
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(20ms);  // the reading thread ends
    }
    ASSERT_TRUE(analyzer.WaitForWake(ticket));
    EXPECT_EQ(analyzer.Problem(), LogAnalyzer::LogProblem::ReadFailed);
    const WholeLines expected = WholeLinesIn(lines, readBeforeFailure);
    EXPECT_EQ(analyzer.Counts().lines, expected.lines);
    const auto guard = analyzer.Store().Read();
    EXPECT_EQ(analyzer.ReadOffset(), expected.bytes);
}

TEST(Follower, OnlyARegularFileIsRead) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("vantrel_" + std::to_string(std::random_device{}()) + "_special");
    std::filesystem::create_directory(folder);
#ifdef _WIN32
    const std::string paths[] = {folder.string(), "NUL"};
#else
    // Opening a FIFO for reading waits for a writer; there is none.
    const std::string fifo = (folder / "fifo.log").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string paths[] = {fifo, folder.string(), "/dev/null", "/dev/zero"};
#endif
    LogAnalyzer analyzer(FastSeams());
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        analyzer.ResetPassEnded();
        analyzer.SetLogPath(path);
        Pass(analyzer);  // returns: nothing waits for a writer
        EXPECT_EQ(analyzer.Problem(), LogAnalyzer::LogProblem::NotRegularFile);
        EXPECT_FALSE(analyzer.PassEnded());
    }
    // A missing file is no such problem: it may yet appear.
    analyzer.SetLogPath((folder / "missing.log").string());
    Pass(analyzer);
    EXPECT_EQ(analyzer.Problem(), LogAnalyzer::LogProblem::None);
    std::filesystem::remove_all(folder);
}
