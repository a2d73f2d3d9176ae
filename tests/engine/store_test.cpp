#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>
#include <thread>

#include "engine/behavior_sort.h"
#include "engine/chunk_supply.h"
#include "engine/log_analyzer.h"

namespace {

std::unique_ptr<ProcessRecord> Record(uint32_t id) {
    auto record = std::make_unique<ProcessRecord>();
    record->id = id;
    return record;
}

std::vector<uint32_t> Ids(const ProcessList& list) {
    std::vector<uint32_t> ids;
    for (const ProcessRecord* p : list) {
        ids.push_back(p->id);
    }
    return ids;
}

class StoreTest : public ::testing::Test {
  protected:
    LogAnalyzer analyzer{AnalyzerSeams{std::make_shared<DriveTable>()}};
};

}  // namespace

TEST_F(StoreTest, InsertKeepsArrivalOrderAndTreeShape) {
    EXPECT_EQ(analyzer.Store().FindProcess(1), nullptr);
    ProcessRecord* r1 = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    ProcessRecord* r2 = analyzer.InsertProcess(Record(2), r1, nullptr);
    const ProcessList snapshot = analyzer.Store().SnapshotRoots();
    analyzer.InsertProcess(Record(3), nullptr, nullptr);
    const BehaviorText creation{"t", "a", "i", "d", "h"};
    ProcessRecord* r4 = analyzer.InsertProcess(Record(4), r2, &creation);

    EXPECT_EQ(Ids(analyzer.Store().Read().roots()), (std::vector<uint32_t>{1, 3}));
    EXPECT_EQ(Ids(r1->children), (std::vector<uint32_t>{2}));
    EXPECT_EQ(Ids(r2->children), (std::vector<uint32_t>{4}));
    EXPECT_EQ(r4->parent, r2);
    ASSERT_EQ(r2->behaviors.size(), 1u);
    EXPECT_EQ(r2->behaviors[0].detail(), "d");
    EXPECT_TRUE(r4->behaviors.empty());

    // A snapshot taken before R4 still finds it through R2, but not R3, added after it.
    EXPECT_EQ(analyzer.Store().FindProcess(4, snapshot), r4);
    EXPECT_EQ(analyzer.Store().FindProcess(3, snapshot), nullptr);
    EXPECT_EQ(analyzer.Store().FindProcess(4), r4);
    EXPECT_EQ(analyzer.Store().FindProcess(5), nullptr);
    EXPECT_EQ(analyzer.Store().FindProcess(1, ProcessList{}), nullptr);

    analyzer.Stop();
    for (uint32_t id : {1u, 2u, 3u, 4u}) {
        EXPECT_EQ(analyzer.Store().FindProcess(id), nullptr) << id;
    }
}

TEST_F(StoreTest, TheWalkGivesTreeOrderWithDepthsAndStopsWhenAsked) {
    // 1 (2 (4), 3), 5 (6): roots in their order, each before its children.
    ProcessRecord* r1 = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    ProcessRecord* r2 = analyzer.InsertProcess(Record(2), r1, nullptr);
    analyzer.InsertProcess(Record(3), r1, nullptr);
    analyzer.InsertProcess(Record(4), r2, nullptr);
    ProcessRecord* r5 = analyzer.InsertProcess(Record(5), nullptr, nullptr);
    analyzer.InsertProcess(Record(6), r5, nullptr);
    struct Case {
        uint32_t stopAt;  // 0: never
        std::vector<std::pair<uint32_t, int>> visited;
        bool completed;
    };
    const Case cases[] = {
        {0, {{1, 0}, {2, 1}, {4, 2}, {3, 1}, {5, 0}, {6, 1}}, true},
        {4, {{1, 0}, {2, 1}, {4, 2}}, false},
        {1, {{1, 0}}, false},
        {6, {{1, 0}, {2, 1}, {4, 2}, {3, 1}, {5, 0}, {6, 1}}, false},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<uint32_t, int>> visited;
        const bool completed = analyzer.Store().Read().ForEachProcessInTreeOrder(
            [&](const ProcessRecord& p, int depth) {
                visited.emplace_back(p.id, depth);
                return p.id != c.stopAt;
            });
        EXPECT_EQ(visited, c.visited) << c.stopAt;
        EXPECT_EQ(completed, c.completed) << c.stopAt;
    }
    // A visitor that takes the record alone sees the same order.
    std::vector<uint32_t> ids;
    analyzer.Store().Read().ForEachProcessInTreeOrder(
        [&](const ProcessRecord& p) { ids.push_back(p.id); });
    EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 4, 3, 5, 6}));
}

TEST_F(StoreTest, TryReadFailsOnlyWhileAnotherThreadHoldsTheStore) {
    EXPECT_TRUE(analyzer.Store().TryRead().has_value());
    const auto held = analyzer.Store().Read();
    // The lock is the thread's own: it may read again.
    EXPECT_TRUE(analyzer.Store().TryRead().has_value());
    bool other = true;
    std::thread([&] { other = analyzer.Store().TryRead().has_value(); }).join();
    EXPECT_FALSE(other);
}

TEST_F(StoreTest, SecondRootWithAnExistingIdDoesNotHideTheFirst) {
    // Only while stopping does the parser add a record whose id exists; the first stays found.
    ProcessRecord* first = analyzer.InsertProcess(Record(7), nullptr, nullptr);
    analyzer.InsertProcess(Record(7), nullptr, nullptr);
    EXPECT_EQ(analyzer.Store().FindProcess(7), first);
}

TEST_F(StoreTest, ClearDestroysAChainThousandsDeep) {
    ProcessRecord* parent = analyzer.InsertProcess(Record(0), nullptr, nullptr);
    for (uint32_t id = 1; id < 200000; ++id) {
        parent = analyzer.InsertProcess(Record(id), parent, nullptr);
    }
    EXPECT_EQ(analyzer.Store().FindProcess(199999), parent);
    analyzer.ClearProcesses();
    EXPECT_TRUE(analyzer.Store().Read().roots().empty());
    EXPECT_EQ(analyzer.Store().FindProcess(5), nullptr);
    analyzer.InsertProcess(Record(5), nullptr, nullptr);
    EXPECT_NE(analyzer.Store().FindProcess(5), nullptr);
}

TEST_F(StoreTest, AppendWaitsForAReaderHoldingTheLock) {
    ProcessRecord* process = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    std::atomic<bool> appended{false};
    std::thread writer;
    {
        const auto reader = analyzer.Store().Read();
        writer = std::thread([&] {
            analyzer.AppendBehavior(process, BehaviorText{"t", "a", "i", "i", "h"});
            appended = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(appended);
        EXPECT_TRUE(process->behaviors.empty());
    }
    writer.join();
    EXPECT_TRUE(appended);
    EXPECT_EQ(process->behaviors.size(), 1u);
}

TEST_F(StoreTest, BehaviourTextsOfEveryLengthComeBackWhole) {
    // Lengths around the steps of the stored length encoding, and texts holding NUL and 0x80 bytes.
    ProcessRecord* process = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    std::vector<std::array<std::string, 3>> cases;
    for (const std::size_t n : {0u, 1u, 127u, 128u, 16383u, 16384u, 70000u, 2100000u}) {
        std::string text(n, '\x80');
        for (std::size_t i = 0; i < n; i += 7) {
            text[i] = static_cast<char>(i % 3 == 0 ? 0 : 'a' + i % 26);
        }
        cases.push_back({text, text + "i", text + "d"});  // detail differs from info
        cases.push_back({"t", text, text});               // detail is the info
    }
    for (const auto& [time, info, detail] : cases) {
        analyzer.AppendBehavior(process, BehaviorText{time, "a", info, detail, "h"});
    }
    ASSERT_EQ(process->behaviors.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const BehaviorRecord& b = process->behaviors[i];
        EXPECT_EQ(b.time(), cases[i][0]) << i;
        EXPECT_EQ(b.info(), cases[i][1]) << i;
        EXPECT_EQ(b.detail(), cases[i][2]) << i;
        EXPECT_EQ(b.action(), "a");
        EXPECT_EQ(b.handling(), "h");
    }
    EXPECT_EQ(BehaviorRecord().info(), "");
    EXPECT_EQ(BehaviorRecord().detail(), "");
}

TEST_F(StoreTest, BehavioursSortInPlaceByUnsignedBytes) {
    ProcessRecord* process = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    const BehaviorText texts[] = {
        {"12:00:02", "打开进程", "b", "B", "system"},
        {"12:00:01", "创建进程", "a", "A", "report"},
        {"9:00:00", "读文件", "c", "c", ""},
        {"12:00:03", "DNS解析", "ab", "ab", "system"},
    };
    for (const BehaviorText& t : texts) {
        analyzer.AppendBehavior(process, t);
    }
    const auto column = [&](int k) {
        std::vector<std::string> keys;
        for (const BehaviorRecord& b : process->behaviors) {
            const std::string_view parts[] = {b.time(), b.action(), b.handling(), b.info()};
            keys.emplace_back(parts[k]);
        }
        return keys;
    };
    SortBehaviors(process->behaviors, 0, true);
    EXPECT_EQ(column(0), (std::vector<std::string>{"12:00:01", "12:00:02", "12:00:03", "9:00:00"}));
    SortBehaviors(process->behaviors, 3, false);
    EXPECT_EQ(column(3), (std::vector<std::string>{"c", "b", "ab", "a"}));
    // GBK codes: ASCII first, then 创 (B4 B4) before 打 (B4 F2) before 读 (B6 C1).
    SortBehaviors(process->behaviors, 1, true);
    EXPECT_EQ(column(1), (std::vector<std::string>{"DNS解析", "创建进程", "打开进程", "读文件"}));
    // Each element keeps its own texts through the moves.
    EXPECT_EQ(process->behaviors[1].detail(), "A");
    EXPECT_EQ(process->behaviors[2].detail(), "B");
    // A later append comes after the sorted ones.
    analyzer.AppendBehavior(process, BehaviorText{"0", "A", "0", "0", "x"});
    EXPECT_EQ(process->behaviors.back().action(), "A");
}

TEST_F(StoreTest, IdsOfAnySizeAreFound) {
    // Small ids go to a table, huge ones to a map; an id first too big for the table moves into
    // it when the table grows.
    const uint32_t ids[] = {5, 4000000000u, 3, 70000, 0, 200000, 4294967295u};
    std::vector<ProcessRecord*> records;
    for (uint32_t id : ids) {
        records.push_back(analyzer.InsertProcess(Record(id), nullptr, nullptr));
    }
    // Dense ids grow the table past 70000 and 200000.
    for (uint32_t id = 10; id < 150000; ++id) {
        if (id != 70000) {
            analyzer.InsertProcess(Record(id), nullptr, nullptr);
        }
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(analyzer.Store().FindProcess(ids[i]), records[i]) << ids[i];
    }
    EXPECT_EQ(analyzer.Store().FindProcess(4), nullptr);
    EXPECT_EQ(analyzer.Store().FindProcess(4000000001u), nullptr);
    EXPECT_EQ(analyzer.Store().FindProcess(149999)->id, 149999u);
    EXPECT_EQ(analyzer.Store().FindProcess(150000), nullptr);
}

TEST_F(StoreTest, SortOffTheLockGivesTheOrderOfTheSortUnderIt) {
    // Equal keys are many (few distinct times, actions and handlings), so an order that differs
    // from the in-place sort's among equals shows; the larger sizes cross the insertion-sort
    // threshold and the slices the records are gathered in.
    struct Case {
        std::size_t count;
        uint32_t distinct;  // distinct times and infos
    };
    const Case cases[] = {
        {0, 1}, {1, 1}, {2, 1}, {17, 3}, {300, 5}, {3000, 1000}, {kSortSlice + 7, 40}};
    const char* actions[] = {"读文件", "写文件", "A", "加载模块"};
    const char* handlings[] = {"system", "", "阻止"};
    uint32_t process = 0;
    for (const Case& c : cases) {
        ProcessRecord* record = analyzer.InsertProcess(Record(++process), nullptr, nullptr);
        uint32_t state = 12345;
        for (std::size_t i = 0; i < c.count; ++i) {
            state = state * 1103515245u + 12345u;
            const std::string time = "09:" + std::to_string(state % c.distinct);
            const std::string info = "C:\\file" + std::to_string((state >> 8) % c.distinct);
            analyzer.AppendBehavior(record, BehaviorText{time, actions[(state >> 4) % 4], info,
                                                         info, handlings[(state >> 12) % 3]});
        }
        for (int column = -1; column <= 4; ++column) {
            for (bool ascending : {true, false}) {
                SegmentedArray<BehaviorRecord> expected;
                for (const BehaviorRecord& b : record->behaviors) {
                    expected.push_back(b);
                }
                SortBehaviors(expected, column, ascending);
                SegmentedArray<BehaviorRecord>* target = &record->behaviors;
                EXPECT_EQ(SortBehaviorsOffLock(analyzer.Store(), target, column, ascending),
                          column >= 0 && column <= 3);
                ASSERT_EQ(record->behaviors.size(), expected.size());
                for (std::size_t i = 0; i < expected.size(); ++i) {
                    // The very same records: their texts are at the same addresses.
                    ASSERT_EQ(record->behaviors[i].time().data(), expected[i].time().data())
                        << c.count << " column " << column << " up " << ascending << " at " << i;
                    ASSERT_EQ(record->behaviors[i].action().data(), expected[i].action().data());
                }
            }
        }
    }
}

TEST_F(StoreTest, SortOffTheLockLeavesADroppedListAlone) {
    ProcessRecord* process = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    for (const char* time : {"3", "1", "2"}) {
        analyzer.AppendBehavior(process, BehaviorText{time, "a", "i", "i", "h"});
    }
    SegmentedArray<BehaviorRecord>* target = nullptr;
    EXPECT_FALSE(SortBehaviorsOffLock(analyzer.Store(), target, 0, true));
    EXPECT_EQ(process->behaviors[0].time(), "3");
}

TEST_F(StoreTest, SortOffTheLockKeepsAppendsThatComeMeanwhile) {
    // A follower appending throughout: every behaviour is kept, the ones present at the start
    // come first, sorted.
    ProcessRecord* process = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    const std::size_t start = 3 * kSortSlice;
    for (std::size_t i = 0; i < start; ++i) {
        analyzer.AppendBehavior(process,
                                BehaviorText{std::to_string(start - i), "a", "i", "i", "h"});
    }
    std::atomic<bool> done{false};
    std::size_t appended = 0;
    std::thread follower([&] {
        while (!done) {
            analyzer.AppendBehavior(process, BehaviorText{"x", "a", "i", "i", "h"});
            ++appended;
        }
    });
    SegmentedArray<BehaviorRecord>* target = &process->behaviors;
    const bool sorted = SortBehaviorsOffLock(analyzer.Store(), target, 0, true);
    done = true;
    follower.join();
    EXPECT_TRUE(sorted);
    const auto guard = analyzer.Store().Read();
    ASSERT_EQ(process->behaviors.size(), start + appended);
    std::size_t firstAppended = 0;
    while (firstAppended < process->behaviors.size() &&
           process->behaviors[firstAppended].time() != "x") {
        ++firstAppended;
    }
    EXPECT_GE(firstAppended, start);
    for (std::size_t i = 1; i < firstAppended; ++i) {
        ASSERT_LE(process->behaviors[i - 1].time(), process->behaviors[i].time()) << i;
    }
    for (std::size_t i = firstAppended; i < process->behaviors.size(); ++i) {
        ASSERT_EQ(process->behaviors[i].time(), "x") << i;
    }
}

namespace {

// Blocks from its own storage: notes what was taken and given back, and frees everything itself.
class CountingBlocks final : public BlockSource {
  public:
    void* TakeBlock(std::size_t bytes, std::size_t) override {
        storage.push_back(std::make_unique<std::byte[]>(bytes));
        taken.push_back(bytes);
        return storage.back().get();
    }
    void GiveBlock(void* block, std::size_t bytes) override {
        EXPECT_NE(std::find_if(storage.begin(), storage.end(),
                               [&](const auto& b) { return b.get() == block; }),
                  storage.end());
        given.push_back(bytes);
    }
    std::vector<std::unique_ptr<std::byte[]>> storage;
    std::vector<std::size_t> taken;
    std::vector<std::size_t> given;
};

}  // namespace

TEST(SegmentedArrayTest, EraseKeepsTheOrderAcrossBlocks) {
    // Sizes around the first block's growth and the boundary between whole blocks, with blocks
    // from the heap and from a source.
    for (const bool fromSource : {false, true}) {
        for (const std::size_t size : {1u, 4u, 5u, 1024u, 1025u, 2048u, 2049u}) {
            for (const std::size_t at : {std::size_t{0}, size / 2, size - 1}) {
                CountingBlocks blocks;
                SegmentedArray<int> array;
                std::vector<int> model;
                const auto append = [&](int value) {
                    fromSource ? array.push_back(value, blocks) : array.push_back(value);
                    model.push_back(value);
                };
                for (std::size_t i = 0; i < size; ++i) {
                    append(static_cast<int>(i));
                }
                array.erase(at);
                model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
                // Growing again after the erase reuses the room it left.
                for (int i = 0; i < 3; ++i) {
                    append(-i);
                }
                ASSERT_EQ(array.size(), model.size()) << size << " " << at;
                EXPECT_TRUE(std::equal(model.begin(), model.end(), array.begin()))
                    << size << " " << at;
            }
        }
    }
}

TEST(SegmentedArrayTest, BlocksFromASourceAreGivenBackOnlyWhenOutgrown) {
    CountingBlocks blocks;
    std::vector<int> model;
    {
        SegmentedArray<int> array;
        for (int i = 0; i < 3000; ++i) {
            array.push_back(i, blocks);
            model.push_back(i);
        }
        EXPECT_TRUE(std::equal(model.begin(), model.end(), array.begin()));
        // The first block grew through its sizes, each outgrown one given back; then whole blocks.
        std::vector<std::size_t> grown;
        for (std::size_t capacity = 4; capacity < 1024; capacity += capacity / 2) {
            grown.push_back(capacity * sizeof(int));
        }
        EXPECT_EQ(blocks.given, grown);
        std::vector<std::size_t> taken(grown.begin() + 1, grown.end());
        taken.insert(taken.begin(), 4 * sizeof(int));
        taken.insert(taken.end(), {1024 * sizeof(int), 1024 * sizeof(int), 1024 * sizeof(int)});
        EXPECT_EQ(blocks.taken, taken);
    }  // the array frees none of them (the heap checker of the sanitizer builds would say so)
    EXPECT_EQ(blocks.storage.size(), blocks.taken.size());
}

TEST_F(StoreTest, SequencesGrowingSideBySideKeepEachTheirOwnBehaviours) {
    // Blocks outgrown by one sequence are handed to the others that grow through their sizes.
    constexpr uint32_t kProcesses = 40;
    std::vector<ProcessRecord*> processes;
    for (uint32_t id = 1; id <= kProcesses; ++id) {
        processes.push_back(analyzer.InsertProcess(Record(id), nullptr, nullptr));
    }
    // Four groups start a few appends apart: a later group takes the sizes an earlier one gave
    // back, several of them at once.
    const auto start = [](uint32_t p) { return static_cast<int>(p % 4) * 3; };
    for (int n = 0; n < 1100; ++n) {
        for (uint32_t p = 0; p < kProcesses; ++p) {
            if (n >= start(p)) {
                const std::string info = std::to_string(p) + "/" + std::to_string(n);
                analyzer.AppendBehavior(processes[p], BehaviorText{"t", "a", info, info, "h"});
            }
        }
    }
    for (uint32_t p = 0; p < kProcesses; ++p) {
        const auto& behaviors = processes[p]->behaviors;
        ASSERT_EQ(behaviors.size(), static_cast<std::size_t>(1100 - start(p)));
        for (std::size_t i = 0; i < behaviors.size(); ++i) {
            ASSERT_EQ(behaviors[i].info(), std::to_string(p) + "/" + std::to_string(start(p) + i))
                << p << " " << i;
        }
    }
}

TEST_F(StoreTest, SortOffTheLockStartsAgainWhenABehaviourIsWithdrawnMeanwhile) {
    // A held line's behaviour taken back while the sort runs: the sort must neither bring it back
    // nor lose a behaviour that stays.
    ProcessRecord* process = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    const std::size_t start = 3 * kSortSlice;
    for (std::size_t i = 0; i < start; ++i) {
        analyzer.AppendBehavior(process,
                                BehaviorText{std::to_string(start - i), "a", "i", "i", "h"});
    }
    // The held line's behaviour is there when the sort starts and taken back while it runs.
    analyzer.AppendBehavior(process, BehaviorText{"x", "a", "i", "i", "h"});
    std::atomic<bool> done{false};
    std::thread follower([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto guard = analyzer.Store().Read();
        for (std::size_t i = process->behaviors.size(); i-- > 0;) {
            if (process->behaviors[i].time() == "x") {
                process->behaviors.erase(i);
                break;
            }
        }
    });
    SegmentedArray<BehaviorRecord>* target = &process->behaviors;
    EXPECT_TRUE(SortBehaviorsOffLock(analyzer.Store(), target, 0, true));
    done = true;
    follower.join();
    const auto guard = analyzer.Store().Read();
    std::vector<std::string> times;
    for (const BehaviorRecord& b : process->behaviors) {
        times.emplace_back(b.time());
    }
    EXPECT_EQ(times.size(), start);
    EXPECT_EQ(std::count(times.begin(), times.end(), "x"), 0);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
}

TEST(ChunkSupply, HandsOutDistinctZeroedChunksAndStopsWhileFull) {
    std::vector<TextArena::Chunk> taken;
    {
        ChunkSupply supply(2, 64 << 10);
        // More than it keeps ready: the rest are made on the spot.
        for (int i = 0; i < 5; ++i) {
            taken.push_back(supply.Take());
        }
        // Left full (two ready, its thread waiting): the destructor ends and joins it.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (std::size_t i = 0; i < taken.size(); ++i) {
        ASSERT_TRUE(taken[i]);
        EXPECT_EQ(taken[i].size(), std::size_t{64} << 10);
        const char* p = taken[i].get();
        EXPECT_TRUE(std::all_of(p, p + taken[i].size(), [](char c) { return c == 0; }));
        for (std::size_t j = 0; j < i; ++j) {
            EXPECT_NE(taken[i].get(), taken[j].get());
        }
    }
}
