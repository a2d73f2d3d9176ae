// The match rule shared by the search and the filter, the search over the store in pieces, and the
// processes a filter keeps.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/behavior_search.h"
#include "engine/behavior_sort.h"
#include "engine/log_analyzer.h"
#include "engine/text.h"

namespace {

// The rule as it reads, one character at a time, to check the fast one against.
bool ReferenceFoundIn(std::string_view text, std::string_view pattern, bool matchCase) {
    const auto charLength = GbkCharLength;
    for (std::size_t start = 0; start < text.size(); start += charLength(text, start)) {
        std::size_t t = start;
        std::size_t p = 0;
        while (p < pattern.size() && t < text.size()) {
            const std::size_t tl = charLength(text, t);
            const std::size_t pl = charLength(pattern, p);
            if (tl != pl || text.substr(t, tl) != pattern.substr(p, pl)) {
                const bool letters = tl == 1 && pl == 1 && !matchCase &&
                                     std::isalpha(static_cast<unsigned char>(text[t])) &&
                                     AsciiLower(text[t]) == AsciiLower(pattern[p]);
                if (!letters) {
                    break;
                }
            }
            t += tl;
            p += pl;
        }
        if (p == pattern.size()) {
            return true;
        }
    }
    return pattern.empty();
}

std::unique_ptr<ProcessRecord> Record(uint32_t id, const char* name = "") {
    auto record = std::make_unique<ProcessRecord>();
    record->id = id;
    CopyToBuffer(record->name, sizeof(record->name), name);
    return record;
}

BehaviorText Behavior(std::string_view action, std::string_view info,
                      std::string_view detail = {}) {
    return BehaviorText{"t", action, info, detail.empty() ? info : detail, "system"};
}

BehaviorQuery Query(std::string pattern, bool matchCase = false,
                    std::vector<std::string> actions = {}) {
    return BehaviorQuery{SearchPattern(std::move(pattern), matchCase), std::move(actions)};
}

// The hits as "process id:index:info".
std::vector<std::string> Describe(const std::vector<BehaviorHit>& hits) {
    std::vector<std::string> out;
    for (const BehaviorHit& hit : hits) {
        out.push_back(std::to_string(hit.process->id) + ":" + std::to_string(hit.index) + ":" +
                      std::string(hit.behavior.info()));
    }
    return out;
}

const auto kLongAgo = BehaviorSearch::Clock::time_point{};
const auto kNever = BehaviorSearch::Clock::time_point::max();

}  // namespace

TEST(SearchPattern, ContainsWalksCodePage936Characters) {
    // 癮 is B0 61 and 癆 is B0 41: their trail bytes are the letters 'a' and 'A'. 啊 is B0 A1 and
    // “ is A1 B0, which the bytes of 啊啊 hold across their middle.
    ASSERT_STREQ("癮", "\xB0\x61");
    ASSERT_STREQ("癆", "\xB0\x41");
    ASSERT_STREQ("“", "\xA1\xB0");
    const struct {
        std::string text;
        std::string pattern;
        bool matchCase;
        bool found;
    } cases[] = {
        {"C:\\Windows\\System32\\SVCHOST.exe", "svchost", false, true},
        {"C:\\Windows\\System32\\SVCHOST.exe", "svchost", true, false},
        {"C:\\Windows\\System32\\SVCHOST.exe", "SVCHOST", true, true},
        {"C:\\Users\\管理员\\Desktop\\安装程序.exe", "管理员", false, true},
        {"C:\\Users\\管理员\\Desktop\\安装程序.exe", "管理員", false, false},
        {"C:\\Users\\管理员\\Desktop\\安装程序.exe", "员\\desktop\\安装", false, true},
        {"HKLM\\Run\\更新服务=C:\\svc更新.exe", "SVC更新", false, true},
        {"HKLM\\Run\\更新服务=C:\\svc更新.exe", "SVC更新", true, false},
        // A trail byte that is a letter is part of its character: never a match of its own...
        {"癮", "a", false, false},
        {"癮", "A", false, false},
        {"癮", "a", true, false},
        {"x癮", "xa", false, false},
        // ...and never folded: 癆 is not 癮 in any case.
        {"癆", "癮", false, false},
        {"a癮", "癮", false, true},
        {"A癮", "a癮", false, true},
        {"癮癮", "癮", true, true},
        // No match starts inside a double-byte character.
        {"啊啊", "“", false, false},
        {"啊“", "“", false, true},
        {"\x81\x81\x81"
         "a",
         "a", false, false},  // 81 81 | 81 61: the 'a' is a trail
        {"\x81\x81"
         "a",
         "a", false, true},  // 81 81 | 61
        {"\x81\x81"
         "A",
         "a", false, true},
        {std::string(300, '\xB0') + "a", "a", false, true},
        {std::string(301, '\xB0') + "a", "a", false, false},
        // A lead byte at the very end is a character of its own.
        {"ab\x81", "\x81", false, true},
        {"ab\x81", "b\x81", false, true},
        // A pattern that ends with a lone lead byte would cover half of a character.
        {"\x81\x40", "\x81", false, false},
        // Bytes 0x80 and 0xFF are characters of one byte.
        {"\x80"
         "a\xFF"
         "b",
         "a\xFF"
         "B",
         false, true},
        {"", "a", false, false},
        {"ab", "abc", false, false},
        {"x", "", false, true},
        {"Path: C:\\Temp\\x.dll", "c:\\temp\\", false, true},
        {"端口 443 -> 203.0.113.7:443", "113.7:4", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " / " + c.pattern);
        EXPECT_EQ(SearchPattern(c.pattern, c.matchCase).FoundIn(c.text), c.found);
        EXPECT_EQ(ReferenceFoundIn(c.text, c.pattern, c.matchCase), c.found);
    }
}

TEST(SearchPattern, AgreesWithTheRuleOnRandomTexts) {
    // Few byte values, so that matches, near misses and lead-byte runs are frequent.
    const unsigned char alphabet[] = {'a', 'A', 'b', 'B', '\\', '.', 0x81, 0xB0, 0x61, 0x41, 0xA1};
    std::mt19937 random(17);
    auto randomText = [&](std::size_t maxLength) {
        std::string text(random() % (maxLength + 1), '\0');
        for (char& c : text) {
            c = static_cast<char>(alphabet[random() % std::size(alphabet)]);
        }
        return text;
    };
    for (int i = 0; i < 200000; ++i) {
        // Up to 80 bytes: several blocks of sixteen places and a tail after them.
        const std::string text = randomText(i % 4 == 0 ? 80 : 24);
        const std::string pattern = randomText(4);
        const bool matchCase = (i & 1) != 0;
        ASSERT_EQ(SearchPattern(pattern, matchCase).FoundIn(text),
                  ReferenceFoundIn(text, pattern, matchCase))
            << i;
    }
}

TEST(BehaviorQuery, InfoOrDetailAndTheActionFilter) {
    LogAnalyzer analyzer{AnalyzerSeams{std::make_shared<DriveTable>()}};
    ProcessRecord* p = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    analyzer.AppendBehavior(p, Behavior("读文件", "C:\\a.txt"));
    analyzer.AppendBehavior(p,
                            Behavior("创建进程", "路径：C:\\b.exe", "路径：C:\\b.exe 命令行：-x"));
    analyzer.AppendBehavior(p, Behavior("写文件", "C:\\A.TXT"));
    const auto store = analyzer.Store().Read();
    const auto& b = p->behaviors;
    const struct {
        BehaviorQuery query;
        std::vector<bool> matches;
    } cases[] = {
        {Query("a.txt"), {true, false, true}},
        {Query("a.txt", true), {true, false, false}},
        {Query("命令行：-X"), {false, true, false}},  // in the detail only
        {Query("a.txt", false, {"写文件"}), {false, false, true}},
        {Query("a.txt", false, {"写文件", "读文件"}), {true, false, true}},
        {Query("c:\\", false, {"加载模块"}), {false, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.pattern.Bytes());
        for (std::size_t i = 0; i < b.size(); ++i) {
            EXPECT_EQ(c.query.Matches(b[i]), c.matches[i]) << i;
        }
    }
}

class SearchTest : public ::testing::Test {
  protected:
    LogAnalyzer analyzer{AnalyzerSeams{std::make_shared<DriveTable>()}};

    // Runs a search to its end in pieces that each stop at their first look at the clock.
    std::vector<BehaviorHit> RunInPieces(BehaviorSearch& search, std::size_t* pieces = nullptr) {
        std::vector<BehaviorHit> hits;
        std::size_t count = 0;
        for (bool done = false; !done; ++count) {
            const auto store = analyzer.Store().Read();
            done = search.Continue(analyzer.Store().Read().roots(), hits, kLongAgo);
            EXPECT_LT(count, 100000u);
        }
        if (pieces != nullptr) {
            *pieces = count;
        }
        return hits;
    }
};

TEST_F(SearchTest, HitsComeInTreeOrderThenLogOrder) {
    // 1 ─ 2 ─ 4
    //   └ 3
    // 5
    ProcessRecord* p1 = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    ProcessRecord* p2 = analyzer.InsertProcess(Record(2), p1, nullptr);
    ProcessRecord* p5 = analyzer.InsertProcess(Record(5), nullptr, nullptr);
    ProcessRecord* p3 = analyzer.InsertProcess(Record(3), p1, nullptr);
    ProcessRecord* p4 = analyzer.InsertProcess(Record(4), p2, nullptr);
    analyzer.AppendBehavior(p5, Behavior("读文件", "x5"));
    analyzer.AppendBehavior(p4, Behavior("读文件", "x4"));
    analyzer.AppendBehavior(p3, Behavior("读文件", "x3a"));
    analyzer.AppendBehavior(p3, Behavior("读文件", "y3"));
    analyzer.AppendBehavior(p3, Behavior("读文件", "x3b"));
    analyzer.AppendBehavior(p1, Behavior("读文件", "X1"));
    analyzer.AppendBehavior(p2, Behavior("读文件", "y2"));

    BehaviorSearch search(Query("x"));
    std::vector<BehaviorHit> hits;
    {
        const auto store = analyzer.Store().Read();
        EXPECT_TRUE(search.Continue(analyzer.Store().Read().roots(), hits, kNever));
    }
    EXPECT_EQ(Describe(hits),
              (std::vector<std::string>{"1:0:X1", "4:0:x4", "3:0:x3a", "3:2:x3b", "5:0:x5"}));
    EXPECT_EQ(search.BehaviorsSearched(), 7u);
    EXPECT_EQ(search.ProcessesSearched(), 5u);
}

TEST_F(SearchTest, PiecesFindWhatOneRunFindsAndWhatArrivesMeanwhile) {
    ProcessRecord* big = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    for (int i = 0; i < 3000; ++i) {
        analyzer.AppendBehavior(big, Behavior("读文件", i % 7 == 0 ? "hit" : "miss"));
    }
    for (uint32_t id = 2; id < 300; ++id) {
        analyzer.InsertProcess(Record(id), big, nullptr);
    }
    BehaviorSearch whole(Query("HIT"));
    std::vector<BehaviorHit> expected;
    {
        const auto store = analyzer.Store().Read();
        ASSERT_TRUE(whole.Continue(analyzer.Store().Read().roots(), expected, kNever));
    }
    ASSERT_EQ(expected.size(), 429u);

    BehaviorSearch pieces(Query("HIT"));
    std::size_t count = 0;
    const std::vector<BehaviorHit> found = RunInPieces(pieces, &count);
    EXPECT_EQ(Describe(found), Describe(expected));
    EXPECT_GT(count, 10u);

    // A piece, then the log grows: behaviours of the process under way and a process not reached
    // yet are found; the search goes on where it stopped.
    BehaviorSearch growing(Query("hit"));
    std::vector<BehaviorHit> hits;
    {
        const auto store = analyzer.Store().Read();
        ASSERT_FALSE(growing.Continue(analyzer.Store().Read().roots(), hits, kLongAgo));
    }
    analyzer.AppendBehavior(big, Behavior("读文件", "late hit"));
    ProcessRecord* late = analyzer.InsertProcess(Record(400), nullptr, nullptr);
    analyzer.AppendBehavior(late, Behavior("读文件", "hit of a late process"));
    for (bool done = false; !done;) {
        const auto store = analyzer.Store().Read();
        done = growing.Continue(analyzer.Store().Read().roots(), hits, kLongAgo);
    }
    ASSERT_EQ(hits.size(), 431u);
    EXPECT_EQ(Describe(hits)[429], "1:3000:late hit");
    EXPECT_EQ(Describe(hits)[430], "400:0:hit of a late process");
}

TEST_F(SearchTest, ASortBetweenPiecesLosesAndRepeatsNothing) {
    ProcessRecord* p = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    std::set<std::string> expected;
    for (int i = 0; i < 2000; ++i) {
        const std::string info = (i % 3 == 0 ? "hit " : "miss ") + std::to_string(10000 - i);
        analyzer.AppendBehavior(p, Behavior("读文件", info));
        if (i % 3 == 0) {
            expected.insert(info);
        }
    }
    BehaviorSearch search(Query("hit"));
    std::vector<BehaviorHit> hits;
    int sorts = 0;
    for (int piece = 1, done = false; !done; ++piece) {
        const auto store = analyzer.Store().Read();
        done = search.Continue(analyzer.Store().Read().roots(), hits, kLongAgo);
        // The analyst sorts the list by info, one way then the other, between pieces.
        if (!done && piece % 2 == 1 && sorts < 3) {
            SortBehaviors(p->behaviors, 3, sorts % 2 == 0);
            ++sorts;
        }
    }
    EXPECT_EQ(sorts, 3);
    std::multiset<std::string> found;
    for (const BehaviorHit& hit : hits) {
        found.insert(std::string(hit.behavior.info()));
    }
    EXPECT_EQ(found.size(), expected.size());
    EXPECT_EQ(std::set<std::string>(found.begin(), found.end()), expected);
}

TEST_F(SearchTest, InSlicesTheLockIsFreeBetweenPiecesAndACancelStopsIt) {
    ProcessRecord* p = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    for (int i = 0; i < 20000; ++i) {
        analyzer.AppendBehavior(p, Behavior("读文件", "C:\\Windows\\System32\\kernel32.dll"));
    }
    BehaviorSearch search(Query("KERNEL32"));
    std::atomic<bool> cancel{false};
    std::size_t slices = 0;
    std::size_t hits = 0;
    SliceStats stats;
    EXPECT_TRUE(SearchInSlices(
        analyzer, search, std::chrono::microseconds(0), cancel,
        [&](std::vector<BehaviorHit>& piece) {
            // Called without the lock: another thread could take it here.
            std::thread other([&] { const auto store = analyzer.Store().Read(); });
            other.join();
            hits += piece.size();
            ++slices;
        },
        &stats));
    EXPECT_EQ(hits, 20000u);
    EXPECT_GT(slices, 10u);
    EXPECT_EQ(stats.slices, slices);

    BehaviorSearch cancelled(Query("KERNEL32"));
    std::size_t calls = 0;
    EXPECT_FALSE(SearchInSlices(analyzer, cancelled, std::chrono::microseconds(0), cancel,
                                [&](std::vector<BehaviorHit>&) {
                                    if (++calls == 3) {
                                        cancel = true;
                                    }
                                }));
    EXPECT_EQ(calls, 3u);
    EXPECT_FALSE(cancelled.Done());
}

TEST_F(SearchTest, AThreadWaitingForTheLockGetsItBetweenTwoPieces) {
    // The lock is not fair: a search that takes it again at once after each piece would keep a
    // waiting window or follower out until the whole search is done.
    ProcessRecord* p = analyzer.InsertProcess(Record(1), nullptr, nullptr);
    for (int i = 0; i < 400000; ++i) {
        analyzer.AppendBehavior(p, Behavior("读文件", "C:\\Windows\\System32\\kernel32.dll"));
    }
    std::atomic<bool> cancel{false};
    std::atomic<bool> over{false};
    std::atomic<int> served{0};
    std::thread other([&] {
        while (!over.load()) {
            { const auto store = analyzer.Store().Read(); }
            ++served;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int servedBefore = 0;
    int pieces = 0;
    int piecesWhileWaiting = 0;
    int mostPiecesWhileWaiting = 0;
    for (int run = 0; run < 10; ++run) {
        BehaviorSearch search(Query("no such text"));
        EXPECT_TRUE(SearchInSlices(analyzer, search, std::chrono::microseconds(200), cancel,
                                   [&](std::vector<BehaviorHit>&) {
                                       ++pieces;
                                       // The same wait goes on while nobody was let in since the
                                       // last piece.
                                       const bool waiting = analyzer.Store().Waiting() > 0;
                                       piecesWhileWaiting = !waiting ? 0
                                                            : served.load() == servedBefore
                                                                ? piecesWhileWaiting + 1
                                                                : 1;
                                       servedBefore = served.load();
                                       mostPiecesWhileWaiting =
                                           std::max(mostPiecesWhileWaiting, piecesWhileWaiting);
                                   }));
    }
    over = true;
    other.join();
    // Without letting it in, a wait lasts to the end of a search. With it, a wait spans a piece,
    // more only when the woken thread takes longer than the search waits for it to run.
    EXPECT_GT(pieces, 50);
    EXPECT_LT(mostPiecesWhileWaiting, pieces / 4) << pieces;
}

TEST_F(SearchTest, TheFilterKeepsMatchesWithTheirAncestorsAndDescendants) {
    // 1 ─ 2 ─ 3 ─ 4
    //   │   └ 5
    //   └ 6
    // 7 ─ 8
    // 9
    std::vector<ProcessRecord*> p(10, nullptr);
    const uint32_t parents[] = {0, 0, 1, 2, 3, 2, 1, 0, 7, 0};
    const char* names[] = {"",        "explorer.exe", "setup.exe",    "svc.exe",     "unknown",
                           "cmd.exe", "notepad.exe",  "services.exe", "svchost.exe", "lsass.exe"};
    for (uint32_t id = 1; id < 10; ++id) {
        p[id] = analyzer.InsertProcess(Record(id, names[id]), p[parents[id]], nullptr);
    }
    p[8]->commandLine = "svchost.exe -k 更新服务";
    analyzer.AppendBehavior(p[9], Behavior("读文件", "C:\\Users\\管理员\\secret.txt"));
    auto keptIds = [&](std::string pattern, bool matchCase) {
        const auto store = analyzer.Store().Read();
        const auto kept = KeptProcesses(analyzer.Store().Read().roots(),
                                        SearchPattern(std::move(pattern), matchCase));
        std::set<uint32_t> ids;
        for (const ProcessRecord* r : kept) {
            ids.insert(r->id);
        }
        return ids;
    };
    // Deep in a branch: its ancestors come along, its descendants too, its siblings do not.
    EXPECT_EQ(keptIds("SVC.EXE", false), (std::set<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(keptIds("SVC.EXE", true), (std::set<uint32_t>{}));
    EXPECT_EQ(keptIds("setup", false), (std::set<uint32_t>{1, 2, 3, 4, 5}));
    // A match on a behaviour only, and on a command line only.
    EXPECT_EQ(keptIds("管理员", false), (std::set<uint32_t>{9}));
    EXPECT_EQ(keptIds("更新服务", false), (std::set<uint32_t>{7, 8}));
    // Two matches in one branch.
    EXPECT_EQ(keptIds("notepad", false), (std::set<uint32_t>{1, 6}));
    EXPECT_EQ(keptIds("zzz", false), (std::set<uint32_t>{}));
}
