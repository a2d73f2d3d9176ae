// vantrel-bench: the analyzer's speed and memory on one log, against the floor of reading it.
//   vantrel-bench [--fresh-memory] LOG
// Prints the floor (64 KiB reads finding every CR LF), a full analyzer pass into the store (the
// best of three), their ratio, lines per second, the pass's peak resident memory against the file's
// size, and the longest time a reader (the window) waited for the store's lock during the passes.
// Also the time to get the log's size in fresh memory from the system, which bounds from below any
// pass that keeps the log's texts: just after the passes, or (--fresh-memory) in a process that
// has had no memory yet, as the first pass of a viewer that was just started.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/log_analyzer.h"
#include "engine/platform.h"
#include "tools/signer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The least any reader must do: read every chunk and find every line end.
uint64_t Floor(const char* path, double& seconds) {
    const auto start = Clock::now();
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return 0;
    }
    std::vector<char> buffer(kChunkSize);
    uint64_t lines = 0;
    bool lastWasCr = false;
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) {
        const char* p = buffer.data();
        const char* end = p + got;
        if (lastWasCr && *p == '\n') {
            ++lines;
        }
        while ((p = static_cast<const char*>(
                    std::memchr(p, '\r', static_cast<std::size_t>(end - p)))) != nullptr) {
            if (p + 1 < end && p[1] == '\n') {
                ++lines;
            }
            ++p;
        }
        lastWasCr = end[-1] == '\r';
    }
    std::fclose(file);
    seconds = Seconds(Clock::now() - start);
    return lines;
}

// The least any store of the log's texts must wait for: as many bytes of fresh memory as the log
// has, from the system, each page touched once (the system supplies and zeroes it then).
double FreshMemory(std::size_t bytes) {
    const auto start = Clock::now();
    char* block = static_cast<char*>(AllocateBulk(bytes));
    if (block == nullptr) {
        return 0;
    }
    for (std::size_t at = 0; at < bytes; at += 4096) {
        block[at] = 1;
    }
    const double seconds = Seconds(Clock::now() - start);
    FreeBulk(block, bytes);
    return seconds;
}

long ReadStatusKib(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(key));
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool freshOnly = argc == 3 && std::strcmp(argv[1], "--fresh-memory") == 0;
    if (argc != 2 && !freshOnly) {
        std::fputs("usage: vantrel-bench [--fresh-memory] LOG\n", stderr);
        return 2;
    }
    const char* path = argv[argc - 1];
    std::ifstream sizer(path, std::ios::binary | std::ios::ate);
    const double bytes = static_cast<double>(sizer.tellg());
    if (freshOnly) {
        // In a process that has had no memory yet, as the viewer's first pass over a log.
        const double fresh = FreshMemory(static_cast<std::size_t>(bytes));
        double floorSeconds = 1e9;
        for (int run = 0; run < 3; ++run) {
            double s = 0;
            Floor(path, s);
            floorSeconds = std::min(floorSeconds, s);
        }
        std::printf("floor            %.3f s\n", floorSeconds);
        std::printf("fresh memory     %.3f s for the log's size, %.1f x the floor\n", fresh,
                    fresh / floorSeconds);
        return 0;
    }
    double floorSeconds = 1e9;
    uint64_t lines = 0;
    for (int run = 0; run < 3; ++run) {  // the first run brings the file into the page cache
        double s = 0;
        lines = Floor(path, s);
        floorSeconds = std::min(floorSeconds, s);
    }

    // The peak is reset before each pass so that it measures the pass alone.
    const long rssBefore = ReadStatusKib("VmRSS:");

    // The pass runs three times, each into a fresh store: the best time is the one least disturbed
    // by other work on the machine.
    double passSeconds = 1e9;
    double firstSeconds = 0;  // the first pass gets its memory cold from the system
    double longestWait = 0;
    long peak = 0;
    std::size_t processes = 0;
    std::size_t behaviors = 0;
    for (int run = 0; run < 3; ++run) {
        std::ofstream("/proc/self/clear_refs") << "5";
        // As the programs run it: module files are looked up (and cached) as the CLI does.
        LogAnalyzer analyzer(AnalyzerSeams{.signer = MakeModuleSignerLookup()});
        std::atomic<bool> passing{true};
        std::thread window([&] {
            // What the window does while a pass runs: take the lock now and then to read.
            while (passing) {
                const auto asked = Clock::now();
                {
                    const auto guard = analyzer.Store().Read();
                    longestWait = std::max(longestWait, Seconds(Clock::now() - asked));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const auto start = Clock::now();
        analyzer.SetLogPath(path);
        analyzer.WaitForWake(analyzer.Wake());
        const double seconds = Seconds(Clock::now() - start);
        if (run == 0) {
            firstSeconds = seconds;
        }
        passSeconds = std::min(passSeconds, seconds);
        passing = false;
        window.join();
        peak = std::max(peak, ReadStatusKib("VmHWM:"));
        processes = 0;
        behaviors = 0;
        analyzer.Store().Read().ForEachProcessInTreeOrder([&](const ProcessRecord& p) {
            ++processes;
            behaviors += p.behaviors.size();
        });
    }
    // Now that the passes have given memory back: the system hands out recently freed memory faster
    // than memory the process never had (--fresh-memory), and the second and third pass had it so.
    const double freshSeconds = FreshMemory(static_cast<std::size_t>(bytes));
    {
        std::printf("log              %s: %.1f MiB, %llu lines\n", path, bytes / 1048576.0,
                    static_cast<unsigned long long>(lines));
        std::printf("store            %zu processes, %zu behaviours\n", processes, behaviors);
        std::printf("floor            %.3f s (%.0f MiB/s)\n", floorSeconds,
                    bytes / 1048576.0 / floorSeconds);
        std::printf(
            "fresh memory     %.3f s for the log's size just after the passes (%.1f x the "
            "floor)\n",
            freshSeconds, freshSeconds / floorSeconds);
        std::printf("analyzer pass    %.3f s (%.0f MiB/s, %.2f M lines/s)\n", passSeconds,
                    bytes / 1048576.0 / passSeconds,
                    static_cast<double>(lines) / passSeconds / 1e6);
        std::printf("pass / floor     %.2f (the first pass: %.3f s, %.2f)\n",
                    passSeconds / floorSeconds, firstSeconds, firstSeconds / floorSeconds);
        std::printf("peak resident    %.1f MiB (%.1f MiB before), %.2f x the log\n",
                    static_cast<double>(peak) / 1024.0, static_cast<double>(rssBefore) / 1024.0,
                    static_cast<double>(peak) * 1024.0 / bytes);
        std::printf("longest lock wait %.3f ms\n", longestWait * 1000.0);
    }
    return 0;
}
