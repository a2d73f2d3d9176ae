// vantrel-bench-views: the main window's work on a big store, per row and per element:
// rebuilding the process rows (10,000 and 100,000 processes) and sorting one process's 1,000,000
// behaviours by each column, under the lock as before and off it as the window does now, each with
// the longest wait of a second thread (the follower) that takes the lock every 0.1 ms meanwhile.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "engine/behavior_sort.h"
#include "engine/log_analyzer.h"
#include "ui/tree_rows.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void Rebuild(uint32_t processes) {
    LogAnalyzer analyzer(AnalyzerSeams{std::make_shared<DriveTable>()});
    std::mt19937 random(processes);
    std::vector<ProcessRecord*> made;
    for (uint32_t id = 1; id <= processes; ++id) {
        auto record = std::make_unique<ProcessRecord>();
        record->id = id;
        record->pid = id * 4;
        record->state = id % 5 == 0 ? 0 : 1;
        record->handling = id % 7 == 0 ? "kill" : "system";
        std::snprintf(record->name, sizeof(record->name), "process%u.exe", id);
        std::snprintf(record->imagePath, sizeof(record->imagePath),
                      "C:\\Program Files\\Vendor\\process%u.%s", id, id % 3 ? "exe" : "dll");
        record->commandLine = "\"C:\\Program Files\\Vendor\\process.exe\" --run";
        record->startTime = "2024-03-05 09:12:00";
        // A bushy tree: most processes are started by one of the recent ones.
        ProcessRecord* creator =
            made.empty() || random() % 50 == 0 ? nullptr : made[random() % made.size()];
        made.push_back(analyzer.InsertProcess(std::move(record), creator, nullptr));
    }
    int lookups = 0;
    IconIndexCache icons([&](const std::string&) { return ++lookups; });
    double best = 1e9;
    std::size_t rows = 0;
    // The window keeps its row table and clears it before each rebuild, as here.
    std::vector<ProcessRow> table;
    for (int run = 0; run < 5; ++run) {
        table.clear();
        const auto start = Clock::now();
        {
            const auto guard = analyzer.Store().Read();
            AppendSubtreeRows(table, 0, guard.SnapshotRoots(), icons);
        }
        best = std::min(best, Seconds(Clock::now() - start));
        rows = table.size();
    }
    std::printf("rebuild %6u processes: %zu rows in %.2f ms, %.3f us per row (%d icon lookups)\n",
                processes, rows, best * 1e3, best * 1e6 / static_cast<double>(rows), lookups);

    // A rebuild during a pass, as the window makes it about once a second: in pieces of
    // kRowPieceTime of the lock, the parser free to take it between two.
    double bestPieces = 1e9;
    Clock::duration longestHold{};
    std::size_t pieces = 0;
    for (int run = 0; run < 5; ++run) {
        table = {};  // a table without room yet, as the window's first rebuild during a pass
        const auto start = Clock::now();
        const ProcessList& roots = analyzer.Store().Read().roots();
        SubtreeRowMaker maker(table, roots, icons);
        pieces = 0;
        for (bool done = false; !done; ++pieces) {
            maker.MakeRoom();
            const auto guard = analyzer.Store().Read();
            const auto taken = Clock::now();
            done = maker.Continue(taken + kRowPieceTime);
            longestHold = std::max(longestHold, Clock::now() - taken);
        }
        bestPieces = std::min(bestPieces, Seconds(Clock::now() - start));
    }
    std::printf("  in pieces: %.2f ms in %zu pieces, longest hold of the lock %.2f ms (all runs)\n",
                bestPieces * 1e3, pieces, Seconds(longestHold) * 1e3);
}

void Sort(std::size_t count) {
    LogAnalyzer analyzer(AnalyzerSeams{std::make_shared<DriveTable>()});
    auto record = std::make_unique<ProcessRecord>();
    record->id = 1;
    ProcessRecord* process = analyzer.InsertProcess(std::move(record), nullptr, nullptr);
    std::mt19937 random(7);
    const char* actions[] = {"读文件", "写文件", "打开注册表", "加载模块", "网络连接"};
    const char* handlings[] = {"system", "report", "", "阻止"};
    for (std::size_t i = 0; i < count; ++i) {
        const std::string time = "2024-03-05 09:" + std::to_string(random() % 60) + ":" +
                                 std::to_string(random() % 60) + "." + std::to_string(i % 1000);
        const std::string info = "C:\\Users\\分析员\\AppData\\file" + std::to_string(random());
        analyzer.AppendBehavior(process, BehaviorText{time, actions[random() % 5], info, info,
                                                      handlings[random() % 4]});
    }
    const char* names[] = {"time", "action", "handling", "info"};
    SegmentedArray<BehaviorRecord>* target = &process->behaviors;
    for (int column = 0; column < 4; ++column) {
        for (bool ascending : {true, false}) {
            for (bool offLock : {false, true}) {
                {
                    // Both ways start from the same order.
                    const auto guard = analyzer.Store().Read();
                    SortBehaviors(process->behaviors, (column + 1) % 4, ascending);
                }
                // The follower's side: how long it waits for the lock while the sort runs.
                std::atomic<bool> done{false};
                double longestWait = 0;
                std::thread prober([&] {
                    while (!done) {
                        const auto asked = Clock::now();
                        {
                            const auto guard = analyzer.Store().Read();
                            longestWait = std::max(longestWait, Seconds(Clock::now() - asked));
                        }
                        std::this_thread::sleep_for(std::chrono::microseconds(100));
                    }
                });
                const auto start = Clock::now();
                Clock::duration longestHold{};
                if (offLock) {
                    SortBehaviorsOffLock(analyzer.Store(), target, column, ascending, &longestHold);
                } else {
                    const auto guard = analyzer.Store().Read();
                    SortBehaviors(process->behaviors, column, ascending);
                }
                const double s = Seconds(Clock::now() - start);
                if (!offLock) {
                    longestHold = Clock::now() - start;
                }
                done = true;
                prober.join();
                std::printf(
                    "sort %zu behaviours by %-8s %s %s: %.1f ms, %.0f ns per element, longest "
                    "hold %.2f ms, longest wait for it %.2f ms\n",
                    count, names[column], ascending ? "up  " : "down",
                    offLock ? "off the lock" : "under it    ", s * 1e3,
                    s * 1e9 / static_cast<double>(count), Seconds(longestHold) * 1e3,
                    longestWait * 1e3);
            }
        }
    }
}

}  // namespace

int main() {
    Rebuild(10000);
    Rebuild(100000);
    Sort(1000000);
    return 0;
}
