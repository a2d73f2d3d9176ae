// The filtered rows: which processes a filter keeps (matches, their ancestors and descendants, no
// siblings), matches by behaviour only, a filter kept across rebuilds of a growing store, and the
// count of unusual processes each row hides when folded.
#include "ui/tree_filter.h"

#include <gtest/gtest.h>

#include <atomic>

#include "engine/log_analyzer.h"

namespace {

class TreeFilterTest : public ::testing::Test {
  protected:
    ProcessRecord* Add(uint32_t id, ProcessRecord* creator, const char* name = "p.exe",
                       const char* handling = "system", const char* commandLine = "") {
        auto record = std::make_unique<ProcessRecord>();
        record->id = id;
        record->state = 1;
        record->handling = handling;
        record->commandLine = commandLine;
        std::snprintf(record->name, sizeof(record->name), "%s", name);
        std::snprintf(record->imagePath, sizeof(record->imagePath), "C:\\%s", name);
        return analyzer.InsertProcess(std::move(record), creator, nullptr);
    }
    void Behave(ProcessRecord* process, std::string_view info, std::string_view detail = {}) {
        const auto guard = analyzer.Store().Read();
        analyzer.AppendBehavior(process, BehaviorText{"09:00:00", "读文件", info,
                                                      detail.empty() ? info : detail, "system"});
    }
    // Rebuilds the rows as the window does, with `filter` in force when given.
    void Rebuild(TreeFilter* filter) {
        rows.clear();
        const auto guard = analyzer.Store().Read();
        const ProcessList roots = guard.SnapshotRoots();
        if (filter != nullptr) {
            filter->Update(roots);
        }
        AppendSubtreeRows(rows, 0, roots, icons, filter != nullptr ? &filter->Kept() : nullptr);
    }
    std::vector<int32_t> Ids() const {
        std::vector<int32_t> ids;
        for (const ProcessRow& row : rows) {
            ids.push_back(row.id);
        }
        return ids;
    }
    const ProcessRow& Row(int32_t id) const {
        for (const ProcessRow& row : rows) {
            if (row.id == id) {
                return row;
            }
        }
        ADD_FAILURE() << "no row " << id;
        return rows.front();
    }
    std::size_t RowOf(int32_t id) const {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].id == id) {
                return i;
            }
        }
        return SIZE_MAX;
    }

    LogAnalyzer analyzer{AnalyzerSeams{std::make_shared<DriveTable>()}};
    IconIndexCache icons{[](const std::string&) { return 1; }};
    std::vector<ProcessRow> rows;
};

// 1
// ├ 2
// │ ├ 3
// │ └ 4
// │   ├ 5 (the match)
// │   │ └ 6
// │   │   └ 7
// │   └ 8
// └ 9
// 10
TEST_F(TreeFilterTest, AMatchDeepInABranchKeepsItsAncestorsAndDescendantsNotItsSiblings) {
    ProcessRecord* p1 = Add(1, nullptr);
    ProcessRecord* p2 = Add(2, p1);
    Add(3, p2);
    ProcessRecord* p4 = Add(4, p2);
    ProcessRecord* p5 = Add(5, p4, "目标.exe");
    ProcessRecord* p6 = Add(6, p5, "x.exe");
    Add(7, p6);
    Add(8, p4);
    Add(9, p1);
    Add(10, nullptr);

    TreeFilter filter(SearchPattern("目标", false));
    Rebuild(&filter);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2, 4, 5, 6, 7}));
    struct Case {
        int32_t id;
        int32_t indent;
        int32_t descendants;
        ExpandState expand;
    };
    // Counts are of the kept rows: 1 has four kept descendants, not eight.
    constexpr ExpandState kOpen = ExpandState::kExpanded;
    const Case cases[] = {{1, 0, 5, kOpen},  {2, 4, 4, kOpen},  {4, 8, 3, kOpen},
                          {5, 12, 2, kOpen}, {6, 16, 1, kOpen}, {7, 20, 0, ExpandState::kNone}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(Row(c.id).indent, c.indent);
        EXPECT_EQ(Row(c.id).descendantCount, c.descendants);
        EXPECT_EQ(Row(c.id).expandState, c.expand);
    }
    EXPECT_EQ(filter.KeptCount(), 6u);
    EXPECT_EQ(filter.TotalCount(), 10u);
    EXPECT_EQ(FilterStatusText(filter), "筛选 6/10");
    EXPECT_EQ(filter.Label(), "目标");

    // Folding and unfolding work on the kept rows only.
    const auto guard = analyzer.Store().Read();
    FoldRow(rows, RowOf(2), *p2);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2}));
    UnfoldRow(rows, RowOf(2), *p2, icons, &filter.Kept());
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2, 4, 5, 6, 7}));
    EXPECT_EQ(p1->shownDescendants, 5);

    // Without the filter, every process again.
    rows.clear();
    AppendSubtreeRows(rows, 0, guard.SnapshotRoots(), icons);
    EXPECT_EQ(rows.size(), 10u);
}

TEST_F(TreeFilterTest, WhatMatchesAProcess) {
    struct Case {
        const char* pattern;
        bool matchCase;
        std::vector<int32_t> kept;
    };
    // 1 by its command line, 2 by a behaviour's info only, 3 by a behaviour's detail only (its
    // info differs), 4 by its name; 5 never.
    Add(1, nullptr, "a.exe", "system", "a.exe --Secret-Flag");
    ProcessRecord* p2 = Add(2, nullptr, "b.exe");
    Behave(p2, "C:\\Users\\管理员\\payload.bin");
    ProcessRecord* p3 = Add(3, nullptr, "c.exe");
    Behave(p3, "HKLM\\Run", "HKLM\\Run\\Evil=C:\\dropper.exe");
    Add(4, nullptr, "Dropper.exe");
    ProcessRecord* p5 = Add(5, nullptr, "e.exe");
    Behave(p5, "nothing here");
    const Case cases[] = {
        {"secret-flag", false, {1}}, {"secret-flag", true, {}}, {"管理员\\PAYLOAD", false, {2}},
        {"DROPPER", false, {3, 4}},  {"Dropper", true, {4}},    {"evil", false, {3}},
        {"员", false, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        TreeFilter filter(SearchPattern(c.pattern, c.matchCase));
        Rebuild(&filter);
        EXPECT_EQ(Ids(), c.kept);
        EXPECT_EQ(filter.TotalCount(), 5u);
    }
}

TEST_F(TreeFilterTest, AFilterKeptAcrossRebuildsShowsProcessesAndBehavioursThatArriveAndMatch) {
    ProcessRecord* p1 = Add(1, nullptr);
    ProcessRecord* p2 = Add(2, p1, "match.exe");
    ProcessRecord* p3 = Add(3, p1);
    Add(4, nullptr);
    TreeFilter filter(SearchPattern("match", false));
    Rebuild(&filter);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(FilterStatusText(filter), "筛选 2/4");

    // A new process under a process that was left out, and a child of the match.
    ProcessRecord* p3child = Add(5, p3, "late-MATCH.exe");
    Add(6, p2);
    Add(7, p3child);
    Rebuild(&filter);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2, 6, 3, 5, 7}));
    EXPECT_EQ(FilterStatusText(filter), "筛选 6/7");

    // A behaviour that arrives later brings its process in, after its earlier ones were searched.
    ProcessRecord* p8 = Add(8, nullptr, "quiet.exe");
    Behave(p8, "C:\\a.txt");
    Rebuild(&filter);
    EXPECT_EQ(RowOf(8), SIZE_MAX);
    Behave(p8, "C:\\b.txt");
    Behave(p8, "C:\\matches\\c.txt");
    Rebuild(&filter);
    EXPECT_NE(RowOf(8), SIZE_MAX);
    Rebuild(&filter);  // once found, found for good
    EXPECT_NE(RowOf(8), SIZE_MAX);
}

TEST_F(TreeFilterTest, ASearchInPiecesBeforeTheFirstRebuildLeavesItOnlyTheBehavioursThatCameSince) {
    // 1 ┬ 2 (a match in its second behaviour of three)
    //   └ 3 (no match)
    // 4 (a match in its last behaviour)
    // 5 (no behaviours yet)
    ProcessRecord* p1 = Add(1, nullptr);
    ProcessRecord* p2 = Add(2, p1);
    ProcessRecord* p3 = Add(3, p1);
    ProcessRecord* p4 = Add(4, nullptr);
    ProcessRecord* p5 = Add(5, nullptr);
    Behave(p1, "C:\\one.txt");
    for (const char* info : {"C:\\a.txt", "C:\\Secret\\b.txt", "C:\\c.txt"}) {
        Behave(p2, info);
    }
    Behave(p3, "C:\\d.txt");
    Behave(p3, "C:\\e.txt");
    Behave(p4, "C:\\f.txt");
    Behave(p4, "C:\\SECRET.txt");

    TreeFilter filter(SearchPattern("secret", false));
    std::vector<BehaviorSearch::SearchedProcess> searched;
    std::atomic<bool> cancel{false};
    int pieces = 0;
    ASSERT_TRUE(SearchFilterBehaviors(analyzer, filter.BehaviorMatchQuery(),
                                      std::chrono::milliseconds(5), cancel, searched,
                                      [&] { ++pieces; }));
    EXPECT_GE(pieces, 2);  // before the first piece and after the last
    // Every process with behaviours once, in tree order; a match ends its process's search.
    struct Seen {
        uint32_t id;
        std::size_t searched;
        bool found;
    };
    const Seen expected[] = {{1, 1, false}, {2, 3, true}, {3, 2, false}, {4, 2, true}};
    ASSERT_EQ(searched.size(), std::size(expected));
    for (std::size_t i = 0; i < searched.size(); ++i) {
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(searched[i].process->id, expected[i].id);
        EXPECT_EQ(searched[i].searched, expected[i].searched);
        EXPECT_EQ(searched[i].found, expected[i].found);
    }

    // What came after the search: a behaviour of a process it passed, and a process's first.
    Behave(p3, "C:\\f.txt");
    Behave(p5, "C:\\secret\\g.txt");
    filter.TakeSearched(searched);
    Rebuild(&filter);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2, 4, 5}));
    EXPECT_EQ(filter.BehaviorsSearched(), 2u);  // p3's third and p5's first, nothing again

    // Later rebuilds search what arrives since, as before.
    Behave(p3, "C:\\h.txt");
    Rebuild(&filter);
    EXPECT_EQ(filter.BehaviorsSearched(), 3u);

    // A filter without the search's report finds the same processes, searching everything.
    TreeFilter plain(SearchPattern("secret", false));
    Rebuild(&plain);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2, 4, 5}));
    EXPECT_EQ(plain.BehaviorsSearched(), 10u);
}

TEST_F(TreeFilterTest, AFilterOfGivenProcessesKeepsThemWithAncestorsAndDescendants) {
    ProcessRecord* p1 = Add(1, nullptr);
    Add(2, p1);
    ProcessRecord* p3 = Add(3, p1);
    Add(4, p3);
    Add(5, nullptr);
    TreeFilter filter(std::vector<const ProcessRecord*>{p3}, "hits");
    EXPECT_TRUE(filter.ByProcesses());
    Rebuild(&filter);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 3, 4}));
    Add(6, p3);  // started later by a given process
    Rebuild(&filter);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 3, 4, 6}));
    filter.StoreClearing();
    Rebuild(&filter);
    EXPECT_TRUE(rows.empty());
}

TEST_F(TreeFilterTest, EachRowCountsTheUnusualProcessesAFoldWouldHide) {
    // 1 ─ 2 (kill) ─ 3 (Report)
    //   └ 4 ─ 5 (阻止)
    //        └ 6 ("")
    // 7 (kill), a root without children
    ProcessRecord* p1 = Add(1, nullptr);
    Add(3, Add(2, p1, "b.exe", "kill"), "c.exe", "Report");
    ProcessRecord* p4 = Add(4, p1);
    Add(5, p4, "e.exe", "阻止");
    Add(6, p4, "f.exe", "");
    Add(7, nullptr, "g.exe", "kill");
    Rebuild(nullptr);
    const std::pair<int32_t, int32_t> cases[] = {{1, 2}, {2, 0}, {3, 0}, {4, 1},
                                                 {5, 0}, {6, 0}, {7, 0}};
    for (const auto& [id, unusual] : cases) {
        EXPECT_EQ(Row(id).unusualDescendants, unusual) << id;
    }
    // A fold keeps the count on the folded row, which is what the list draws from.
    {
        const auto guard = analyzer.Store().Read();
        FoldRow(rows, RowOf(1), *p1);
    }
    EXPECT_EQ(rows[0].expandState, ExpandState::kCollapsed);
    EXPECT_EQ(rows[0].unusualDescendants, 2);

    // Filtered, only the kept descendants count.
    TreeFilter filter(SearchPattern("f.exe", false));
    Rebuild(&filter);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 4, 6}));
    EXPECT_EQ(Row(1).unusualDescendants, 0);
}

}  // namespace
