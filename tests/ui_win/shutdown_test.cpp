// Closing the real main window: during a long pass it ends within one chunk and a second, and a
// refresh sent while the window is being destroyed neither deadlocks nor rebuilds it.
#include "tests/ui_win/main_window_run.h"

#include "engine/log_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using uitest::MainWindowRun;
using uitest::ProLine;
using uitest::WaitUntil;

// The platform's files, each read taking `delay`: a pass over a few MiB lasts many seconds.
class SlowFiles : public LogFileSource {
  public:
    explicit SlowFiles(int delayMs) : delayMs_(delayMs) {}
    std::unique_ptr<LogFileReader> Open(const std::string& path) override {
        std::unique_ptr<LogFileReader> file = platform_->Open(path);
        if (!file) {
            return nullptr;
        }
        return std::make_unique<Reader>(std::move(file), delayMs_);
    }

  private:
    class Reader : public LogFileReader {
      public:
        Reader(std::unique_ptr<LogFileReader> file, int delayMs)
            : file_(std::move(file)), delayMs_(delayMs) {}
        bool Size(uint64_t& size) override { return file_->Size(size); }
        bool Seek(uint64_t offset) override { return file_->Seek(offset); }
        std::size_t Read(char* buffer, std::size_t size) override {
            ::Sleep(static_cast<DWORD>(delayMs_));
            return file_->Read(buffer, size);
        }

      private:
        std::unique_ptr<LogFileReader> file_;
        int delayMs_;
    };

    std::shared_ptr<LogFileSource> platform_ = MakePlatformLogFileSource();
    int delayMs_;
};

std::string BigLog(std::size_t bytes) {
    std::string log = ProLine(1, 0, 1, "C:\\big.exe");
    const std::string line =
        "[FILE_READ]|2024-03-05 09:12:01|0|1|C:\\Windows\\System32\\x.dll|system\r\n";
    while (log.size() < bytes) {
        log += line;
    }
    return log;
}

TEST(Shutdown, ClosingDuringALongPassEndsWithinAChunkAndASecond) {
    constexpr int kChunkMs = 100;
    MainWindowSeams seams = MainWindowRun::TestSeams();
    seams.analyzer.files = std::make_shared<SlowFiles>(kChunkMs);
    seams.analyzer.throttle = std::chrono::milliseconds(1000);
    MainWindowRun run(std::move(seams));
    // 4 MiB: 64 chunks, more than six seconds of reading.
    run.Drop({uitest::WriteFile("long.log", BigLog(4u << 20))});
    double progress = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            run.Call([&](CVantrelDlg& d) { progress = d.Analyzer().progress.load(); });
            return progress > 5.0;
        },
        5000));
    // Hidden first: taking a shown window off the screen costs Wine time of its own.
    ::ShowWindow(run.window, SW_HIDE);
    run.Call([](CVantrelDlg&) {});
    ASSERT_LT(progress, 50.0);

    const DWORD start = ::GetTickCount();
    ::PostMessageA(run.window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(run.WaitForEnd(10000));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_LT(elapsed, static_cast<DWORD>(kChunkMs + 1000 + 300));
    std::printf("closed during a pass in %lu ms\n", static_cast<unsigned long>(elapsed));
}

TEST(Shutdown, ARefreshSentWhileTheWindowIsDestroyedIsAnsweredWithoutARebuild) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("small.log", ProLine(1, 0, 1, "C:\\a.exe"))));
    const int rebuilds = run.Rebuilds();
    int rebuildsAtTheEnd = -1;
    // On the window's thread: a pass ends (the refresh thread sends its message, which waits for
    // this thread), then the window is destroyed before it has looked at its messages.
    ::ShowWindow(run.window, SW_HIDE);
    run.Call([&](CVantrelDlg& d) {
        d.Analyzer().SignalPassEnded();
        ::Sleep(200);
        ::DestroyWindow(d.Handle());
        rebuildsAtTheEnd = d.RebuildCount();
        ::PostThreadMessageA(::GetCurrentThreadId(), WM_NULL, 0, 0);  // the modal loop looks again
    });
    EXPECT_TRUE(run.WaitForEnd(5000));
    EXPECT_EQ(rebuildsAtTheEnd, rebuilds);
}

TEST(Shutdown, OpeningAndClosingRightAwayNeverHangs) {
    const std::string path = uitest::WriteFile("quick.log", BigLog(256u << 10));
    for (int i = 0; i < 5; ++i) {
        MainWindowRun run;
        run.Drop({path});
        ::Sleep(static_cast<DWORD>(i * 40));
        ::PostMessageA(run.window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(run.WaitForEnd(8000)) << i;
    }
}

}  // namespace
