#include "ui/tree_rows.h"

#include <gtest/gtest.h>

#include <map>

#include "engine/log_analyzer.h"

namespace {

class TreeRowsTest : public ::testing::Test {
  protected:
    TreeRowsTest() : icons([this](const std::string& path) { return Lookup(path); }) {}

    int Lookup(const std::string& path) {
        ++lookups;
        return path.size() % 2 == 0 ? 7 : 8;
    }
    ProcessRecord* Add(uint32_t id, ProcessRecord* creator, const char* name = "p.exe",
                       uint32_t state = 1, const char* handling = "system") {
        auto record = std::make_unique<ProcessRecord>();
        record->id = id;
        record->state = state;
        record->handling = handling;
        std::snprintf(record->name, sizeof(record->name), "%s", name);
        std::snprintf(record->imagePath, sizeof(record->imagePath), "C:\\%s", name);
        return analyzer.InsertProcess(std::move(record), creator, nullptr);
    }
    void Rebuild() {
        rows.clear();
        const auto guard = analyzer.Store().Read();
        AppendSubtreeRows(rows, 0, analyzer.Store().SnapshotRoots(), icons);
    }
    std::vector<int32_t> Ids() const {
        std::vector<int32_t> ids;
        for (const ProcessRow& row : rows) {
            ids.push_back(row.id);
        }
        return ids;
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
    IconIndexCache icons;
    int lookups = 0;
    std::vector<ProcessRow> rows;
};

}  // namespace

TEST_F(TreeRowsTest, TreeBecomesIndentedRowsThatFoldAndUnfold) {
    ProcessRecord* r1 = Add(1, nullptr);
    ProcessRecord* r2 = Add(2, r1);
    Add(3, nullptr);
    Add(4, r2);
    Rebuild();
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2, 4, 3}));
    const int32_t indents[] = {0, 4, 8, 0};
    const ExpandState expand[] = {ExpandState::kExpanded, ExpandState::kExpanded,
                                  ExpandState::kNone, ExpandState::kNone};
    const int32_t descendants[] = {2, 1, 0, 0};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].indent, indents[i]) << i;
        EXPECT_EQ(rows[i].expandState, expand[i]) << i;
        EXPECT_EQ(rows[i].descendantCount, descendants[i]) << i;
    }

    const auto guard = analyzer.Store().Read();
    FoldRow(rows, 0, *r1);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(rows[0].expandState, ExpandState::kCollapsed);
    UnfoldRow(rows, 0, *r1, icons);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2, 4, 3}));

    // Fold the inner node, then the outer: one row, then one more; unfolding the outer brings the
    // inner back unfolded. Counts in column 6 never change.
    FoldRow(rows, RowOf(2), *r2);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2, 3}));
    FoldRow(rows, RowOf(1), *r1);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 3}));
    UnfoldRow(rows, 0, *r1, icons);
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 2, 4, 3}));
    EXPECT_EQ(rows[RowOf(2)].expandState, ExpandState::kExpanded);
    EXPECT_EQ(rows[0].descendantCount, 2);
    EXPECT_EQ(r1->shownDescendants, 2);
}

TEST_F(TreeRowsTest, ColoursMarkEndedProcessesAndUnusualHandling) {
    Add(1, nullptr, "a.exe", 0, "kill");
    Add(2, nullptr, "b.exe", 0, "Report");
    Add(3, nullptr, "c.exe", 1, "kill");
    Add(4, nullptr, "d.exe", 0, "");
    Rebuild();
    const uint32_t orange = 255 | (102 << 8) | (51 << 16);
    const uint32_t grey = 198 | (198 << 8) | (198 << 16);
    const uint32_t light = 230 | (230 << 8) | (230 << 16);
    EXPECT_EQ(rows[0].textColor, orange);
    EXPECT_EQ(rows[0].backColor, light);
    EXPECT_EQ(rows[1].textColor, grey);
    EXPECT_EQ(rows[1].backColor, light);
    EXPECT_EQ(rows[2].textColor, 0u);
    EXPECT_EQ(rows[2].backColor, 0u);
    EXPECT_EQ(rows[3].textColor, grey);
}

TEST_F(TreeRowsTest, IconsAreLookedUpOncePerExtension) {
    Add(1, nullptr, "a.exe");
    Add(2, nullptr, "b.EXE");
    Add(3, nullptr, "c.dll");
    Add(4, nullptr, "noextension");
    Add(5, nullptr, "d.exe");
    Rebuild();
    EXPECT_EQ(lookups, 3);
    EXPECT_EQ(rows[0].iconIndex, rows[1].iconIndex);
    EXPECT_EQ(rows[4].iconIndex, rows[0].iconIndex);
}

TEST_F(TreeRowsTest, ADeepChainRebuildsWithoutRecursion) {
    ProcessRecord* parent = nullptr;
    for (uint32_t id = 1; id <= 100000; ++id) {
        parent = Add(id, parent);
    }
    Rebuild();
    ASSERT_EQ(rows.size(), 100000u);
    EXPECT_EQ(rows.front().descendantCount, 99999);
    EXPECT_EQ(rows.back().indent, 4 * 99999);
    EXPECT_EQ(rows[50000].descendantCount, 49999);
}

TEST_F(TreeRowsTest, RowsMadeInPiecesTakeWhatArrivesAheadOfTheWalkAndLeaveWhatArrivesBehindIt) {
    // 200 families of a root and its child: 1 ─ 2, 3 ─ 4, ..., 399 ─ 400.
    std::vector<ProcessRecord*> roots;
    for (uint32_t id = 1; id < 400; id += 2) {
        roots.push_back(Add(id, nullptr));
        Add(id + 1, roots.back());
    }
    const ProcessList& live = analyzer.Store().Read().roots();
    SubtreeRowMaker maker(rows, live, icons);
    std::size_t pieces = 0;
    bool done = false;
    while (!done) {
        maker.MakeRoom();
        const auto guard = analyzer.Store().Read();
        // A deadline already passed: each piece makes a few dozen rows only.
        done = maker.Continue(SubtreeRowMaker::Clock::now() - std::chrono::seconds(1));
        if (++pieces == 1) {
            ASSERT_FALSE(done);
            ASSERT_LT(maker.Made(), 100u);
            Add(1001, roots.front());  // behind the walk: the next rebuild shows it
            Add(1002, nullptr);        // a new root, ahead of it
            Add(1003, roots.back());   // a child of a family still ahead
        }
    }
    EXPECT_GT(pieces, 3u);
    std::vector<int32_t> expected;
    for (int32_t id = 1; id <= 400; ++id) {
        expected.push_back(id);
    }
    expected.push_back(1003);
    expected.push_back(1002);
    EXPECT_EQ(Ids(), expected);
    EXPECT_EQ(rows[0].descendantCount, 1);    // its rows: 1001 has none yet
    EXPECT_EQ(rows[398].descendantCount, 2);  // 399: 400 and 1003
    EXPECT_EQ(rows.back().expandState, ExpandState::kNone);

    // The same store in one hold, as at a pass's end: everything.
    Rebuild();
    EXPECT_EQ(rows.size(), 403u);
    EXPECT_EQ(rows[0].descendantCount, 2);
    EXPECT_EQ(RowOf(1001), 2u);
}

// Unfolding moves back the rows the fold took away; rows folded among them come back unfolded,
// as a fresh unfold shows them, whatever the order of the folds.
TEST_F(TreeRowsTest, KeptRowsUnfoldAsAFreshUnfoldWould) {
    ProcessRecord* r1 = Add(1, nullptr);
    ProcessRecord* r2 = Add(2, r1);
    ProcessRecord* r5 = Add(5, r2);
    Add(6, r5);
    Add(4, r2);
    Add(7, r1);
    Add(3, nullptr);
    const std::map<int32_t, ProcessRecord*> records{{1, r1}, {2, r2}, {5, r5}};
    const auto recordOf = [&](int32_t id) -> ProcessRecord* {
        const auto it = records.find(id);
        return it != records.end() ? it->second : nullptr;
    };
    struct Case {
        std::vector<int32_t> folds;  // in this order, by the box
        int32_t unfold;
        std::vector<int32_t> ids;
    };
    const Case cases[] = {
        {{1}, 1, {1, 2, 5, 6, 4, 7, 3}},
        {{5, 1}, 1, {1, 2, 5, 6, 4, 7, 3}},
        {{5, 2, 1}, 1, {1, 2, 5, 6, 4, 7, 3}},
        {{2, 1}, 1, {1, 2, 5, 6, 4, 7, 3}},
        {{5, 2}, 2, {1, 2, 5, 6, 4, 7, 3}},
        {{2, 5}, 2, {1, 2, 5, 6, 4, 7, 3}},  // 5 is out of sight when 2 is folded: no box
    };
    for (const Case& c : cases) {
        Rebuild();
        const std::vector<ProcessRow> fresh = rows;
        const auto guard = analyzer.Store().Read();
        KeptFolds kept;
        for (const int32_t id : c.folds) {
            const std::size_t at = RowOf(id);
            if (at == SIZE_MAX) {
                continue;
            }
            kept[id] = FoldRowKeeping(rows, at, *recordOf(id));
        }
        ASSERT_TRUE(UnfoldRowFromKept(rows, RowOf(c.unfold), *recordOf(c.unfold), kept, recordOf));
        EXPECT_EQ(Ids(), c.ids) << c.unfold;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].expandState, fresh[i].expandState) << c.unfold << " row " << i;
            EXPECT_EQ(rows[i].descendantCount, fresh[i].descendantCount) << i;
        }
        EXPECT_EQ(r1->shownDescendants, 5) << c.unfold;
        EXPECT_EQ(r2->shownDescendants, 3) << c.unfold;
        EXPECT_EQ(r5->shownDescendants, 1) << c.unfold;
        EXPECT_TRUE(kept.empty()) << c.unfold;
    }
}

// A row folded inside whose rows were not kept (folded by a rebuild): nothing changes, and the
// caller unfolds afresh.
TEST_F(TreeRowsTest, UnfoldFromKeptRefusesWhenAnInnerFoldWasNotKept) {
    ProcessRecord* r1 = Add(1, nullptr);
    ProcessRecord* r2 = Add(2, r1);
    Add(4, r2);
    Add(3, nullptr);
    Rebuild();
    const auto guard = analyzer.Store().Read();
    FoldRow(rows, RowOf(2), *r2);
    KeptFolds kept;
    kept[1] = FoldRowKeeping(rows, RowOf(1), *r1);
    const auto recordOf = [&](int32_t id) { return id == 1 ? r1 : id == 2 ? r2 : nullptr; };
    EXPECT_FALSE(UnfoldRowFromKept(rows, RowOf(1), *r1, kept, recordOf));
    EXPECT_EQ(Ids(), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(kept.count(1), 1u);
    EXPECT_EQ(rows[0].expandState, ExpandState::kCollapsed);
}
