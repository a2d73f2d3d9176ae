// vantrel-bench-search: the search over every behaviour of a log, as the search window runs it.
//   vantrel-bench-search LOG [PATTERN [--match-case]]...
// Reads LOG into a store, then for each pattern (a few typical ones when none is given) runs the
// search five times in pieces of at most 2 ms of the store's lock, while a second thread takes the
// lock every millisecond as the window and the follower do. Prints the behaviours, the hits, the
// best and the worst run, the longest hold of the lock by the search and the longest wait of the
// other thread. Patterns are code page 936 bytes, as the window hands them to the engine.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/behavior_search.h"
#include "engine/log_analyzer.h"
#include "tools/signer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSlice = std::chrono::milliseconds(2);
constexpr int kRuns = 5;

// The search thread's own processor time: on a busy machine the wall clock also counts the time
// the thread waited for a processor.
double ThreadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Pattern {
    std::string bytes;
    bool matchCase;
};

void Measure(LogAnalyzer& analyzer, const Pattern& pattern, uint64_t behaviours) {
    double best = 1e300;
    double bestCpu = 1e300;
    double worst = 0;
    double longestHold = 0;
    double longestWait = 0;
    std::size_t hits = 0;
    std::size_t slices = 0;
    for (int run = 0; run < kRuns; ++run) {
        BehaviorSearch search(BehaviorQuery{SearchPattern(pattern.bytes, pattern.matchCase), {}});
        std::atomic<bool> cancel{false};
        std::atomic<bool> stop{false};
        double waited = 0;
        // What the window and the follower do meanwhile: take the lock now and then.
        std::thread other([&] {
            while (!stop.load()) {
                const auto asked = Clock::now();
                {
                    const auto guard = analyzer.Store().Read();
                    waited = std::max(waited, Milliseconds(Clock::now() - asked));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::size_t found = 0;
        SliceStats stats;
        const double cpuStart = ThreadCpuMilliseconds();
        const auto start = Clock::now();
        SearchInSlices(
            analyzer, search, kSlice, cancel,
            [&](std::vector<BehaviorHit>& piece) { found += piece.size(); }, &stats);
        const double ms = Milliseconds(Clock::now() - start);
        bestCpu = std::min(bestCpu, ThreadCpuMilliseconds() - cpuStart);
        stop = true;
        other.join();
        best = std::min(best, ms);
        worst = std::max(worst, ms);
        longestHold = std::max(longestHold, Milliseconds(stats.longestHold));
        longestWait = std::max(longestWait, waited);
        hits = found;
        slices = stats.slices;
        if (search.BehaviorsSearched() != behaviours) {
            std::printf("  (searched %llu behaviours of %llu)\n",
                        static_cast<unsigned long long>(search.BehaviorsSearched()),
                        static_cast<unsigned long long>(behaviours));
        }
    }
    std::printf(
        "%-20s %s  hits %8zu  best %6.1f ms (cpu %6.1f)  worst %6.1f ms  pieces %4zu  "
        "longest hold %5.2f ms  longest wait %5.2f ms\n",
        pattern.bytes.c_str(), pattern.matchCase ? "case" : "    ", hits, best, bestCpu, worst,
        slices, longestHold, longestWait);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: vantrel-bench-search LOG [PATTERN [--match-case]]...\n", stderr);
        return 2;
    }
    std::vector<Pattern> patterns;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--match-case") == 0 && !patterns.empty()) {
            patterns.back().matchCase = true;
        } else {
            patterns.push_back({argv[i], false});
        }
    }
    if (patterns.empty()) {
        // A module everybody loads, a folder, a Chinese word (GBK bytes), a letter-only word with
        // and without case, and one that is nowhere.
        patterns = {{"kernel32", false}, {"\\temp\\", false}, {"\xCE\xC4\xBC\xFE", false},
                    {"svchost", false},  {"Microsoft", true}, {"no-such-text-at-all", false}};
    }

    LogAnalyzer analyzer(AnalyzerSeams{.signer = MakeModuleSignerLookup()});
    const auto start = Clock::now();
    analyzer.SetLogPath(argv[1]);
    analyzer.SetFileComplete(true);
    analyzer.WaitForWake(analyzer.Wake());
    uint64_t behaviours = 0;
    uint64_t processes = 0;
    {
        analyzer.Store().Read().ForEachProcessInTreeOrder([&](const ProcessRecord& p) {
            ++processes;
            behaviours += p.behaviors.size();
        });
    }
    std::printf("%s: %llu processes, %llu behaviours, read in %.1f s\n", argv[1],
                static_cast<unsigned long long>(processes),
                static_cast<unsigned long long>(behaviours),
                Milliseconds(Clock::now() - start) / 1000.0);
    for (const Pattern& pattern : patterns) {
        Measure(analyzer, pattern, behaviours);
    }
    return 0;
}
