// The export writer: which processes each scope holds and in what order, the behaviour list's
// order within a process, the JSON document's shape for a branch, and an export that cannot write,
// is cancelled, or meets a sort between two holds of the lock.
#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "engine/behavior_sort.h"
#include "engine/log_analyzer.h"
#include "engine/store_export.h"
#include "engine/text.h"

namespace {

// The tests' texts are ASCII, the same bytes in UTF-8.
void AsIs(std::string_view bytes, std::string& out) {
    out.append(bytes);
}

// 1 a -> 2 b -> 4 d, 1 a -> 3 c; 5 e. Process 1's behaviours come in the order t3, t1, t2.
class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto add = [&](uint32_t id, uint32_t creator, const char* name) {
            auto record = std::make_unique<ProcessRecord>();
            record->id = id;
            record->pid = 100 + id;
            record->ppid = creator == 0 ? 0 : 100 + creator;
            CopyToBuffer(record->name, sizeof(record->name), name);
            ProcessRecord* parent = creator == 0 ? nullptr : byId[creator];
            byId[id] = analyzer.InsertProcess(std::move(record), parent, nullptr);
        };
        add(1, 0, "a");
        add(2, 1, "b");
        add(3, 1, "c");
        add(4, 2, "d");
        add(5, 0, "e");
        for (const char* time : {"t3", "t1", "t2"}) {
            Behave(1, time, "x");
        }
        for (const uint32_t id : {2u, 3u, 4u, 5u}) {
            Behave(id, "t9", "y,\"z\"");
        }
    }

    void Behave(uint32_t id, std::string_view time, std::string_view info) {
        analyzer.AppendBehavior(byId[id], BehaviorText{time, "act", info, info, "h"});
    }

    ReadStore Reader() {
        return [this](const StoreReadFunction& read) {
            ++holds;
            if (beforeHold) {
                beforeHold(holds);
            }
            const auto guard = analyzer.Store().Read();
            read(guard.roots());
        };
    }

    ExportOutcome Export(const ExportScope& scope, ExportFormat format, std::string& out) {
        ExportOutput output;
        output.write = [&](std::string_view bytes) {
            out.append(bytes);
            return true;
        };
        return ExportStore(Reader(), scope, format, "C:\\l.log", AsIs, output);
    }

    // The rows of a CSV export without the header, each cut to its first four cells.
    std::vector<std::string> Rows(const ExportScope& scope) {
        std::string out;
        EXPECT_EQ(Export(scope, ExportFormat::Csv, out), ExportOutcome::Written);
        std::string header;
        BehaviorCsv::AppendHeader(header);
        EXPECT_EQ(out.compare(0, header.size(), header), 0);
        std::vector<std::string> rows;
        for (std::size_t at = header.size(); at < out.size();) {
            const std::size_t end = out.find("\r\n", at);
            const std::string row = out.substr(at, end - at);
            std::size_t cut = 0;
            for (int cells = 0; cells < 5; ++cells) {
                cut = row.find(',', cut) + 1;
            }
            rows.push_back(row.substr(0, cut - 1));
            at = end + 2;
        }
        return rows;
    }

    LogAnalyzer analyzer;
    ProcessRecord* byId[6] = {};
    int holds = 0;
    std::function<void(int hold)> beforeHold;
};

TEST_F(ExportTest, EachScopeHoldsItsProcessesInTreeOrder) {
    const std::unordered_set<uint32_t> kept{1, 3, 5};
    struct Case {
        const char* name;
        ExportScope scope;
        std::vector<std::string> rows;
    };
    const std::vector<Case> cases = {
        {"whole log",
         {ExportScope::Kind::WholeLog, nullptr, nullptr},
         {"a,101,0,1,t3", "a,101,0,1,t1", "a,101,0,1,t2", "b,102,101,2,t9", "d,104,102,4,t9",
          "c,103,101,3,t9", "e,105,0,5,t9"}},
        {"branch of 2",
         {ExportScope::Kind::Branch, byId[2], nullptr},
         {"b,102,101,2,t9", "d,104,102,4,t9"}},
        {"branch of 1",
         {ExportScope::Kind::Branch, byId[1], nullptr},
         {"a,101,0,1,t3", "a,101,0,1,t1", "a,101,0,1,t2", "b,102,101,2,t9", "d,104,102,4,t9",
          "c,103,101,3,t9"}},
        {"process 1",
         {ExportScope::Kind::Process, byId[1], nullptr},
         {"a,101,0,1,t3", "a,101,0,1,t1", "a,101,0,1,t2"}},
        // A process left out hides its branch: 2's child 4 goes with it.
        {"whole log, kept 1 3 5",
         {ExportScope::Kind::WholeLog, nullptr, &kept},
         {"a,101,0,1,t3", "a,101,0,1,t1", "a,101,0,1,t2", "c,103,101,3,t9", "e,105,0,5,t9"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Rows(c.scope), c.rows) << c.name;
    }
}

// The user sorted the chosen process's list by time: its rows come in that order.
TEST_F(ExportTest, BehavioursComeInTheListsOrder) {
    {
        const auto guard = analyzer.Store().Read();
        SortBehaviors(byId[1]->behaviors, 0, true);
    }
    EXPECT_EQ(Rows({ExportScope::Kind::Process, byId[1], nullptr}),
              (std::vector<std::string>{"a,101,0,1,t1", "a,101,0,1,t2", "a,101,0,1,t3"}));
}

TEST_F(ExportTest, JsonOfABranchIsTheDocumentShapeHoldingThatSubtree) {
    std::string out;
    ASSERT_EQ(Export({ExportScope::Kind::Branch, byId[2], nullptr}, ExportFormat::Json, out),
              ExportOutcome::Written);
    std::string fields;
    for (const char* key :
         {"name", "imagePath", "commandLine", "md5", "fileSize", "fileTimestamp", "featureCode",
          "signSerial1", "signCompany1", "signSerial2", "signCompany2", "sign1CheckA",
          "sign1CheckB", "peSign1Check", "sign2CheckA", "sign2CheckB", "peSign2Check", "startTime",
          "handling"}) {
        fields += std::string(",\"") + key + "\":" + (key == std::string("name") ? "%" : "\"\"");
    }
    auto process = [&](const char* numbers, const char* name) {
        std::string text = std::string("{") + numbers + fields;
        text.replace(text.find('%'), 1, std::string("\"") + name + "\"");
        return text +
               ",\"behaviors\":[{\"time\":\"t9\",\"action\":\"act\",\"info\":\"y,\\\"z\\\"\","
               "\"detail\":\"y,\\\"z\\\"\",\"handling\":\"h\"}],\"children\":[";
    };
    EXPECT_EQ(out, "{\"log\":\"C:\\\\l.log\",\"processes\":[" +
                       process("\"id\":2,\"pid\":102,\"ppid\":101,\"state\":0", "b") +
                       process("\"id\":4,\"pid\":104,\"ppid\":102,\"state\":0", "d") + "]}]}]}\n");
}

TEST_F(ExportTest, JsonOfOneProcessHasNoChildren) {
    std::string out;
    ASSERT_EQ(Export({ExportScope::Kind::Process, byId[1], nullptr}, ExportFormat::Json, out),
              ExportOutcome::Written);
    EXPECT_NE(out.find("\"id\":1,"), std::string::npos);
    EXPECT_EQ(out.find("\"id\":2,"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 20), "}],\"children\":[]}]}\n");
}

TEST_F(ExportTest, AFailedWriteEndsTheExport) {
    for (int i = 0; i < 200000; ++i) {
        Behave(5, "t", std::string(40, 'x'));  // several pieces of output
    }
    int writes = 0;
    ExportOutput output;
    output.write = [&](std::string_view) { return ++writes < 2; };
    EXPECT_EQ(ExportStore(Reader(), {}, ExportFormat::Csv, "", AsIs, output),
              ExportOutcome::WriteFailed);
    EXPECT_EQ(writes, 2);
}

TEST_F(ExportTest, ACancelledExportStopsBetweenTwoHolds) {
    std::atomic<bool> cancel{false};
    beforeHold = [&](int hold) {
        if (hold == 3) {
            cancel = true;
        }
    };
    std::string out;
    ExportOutput output;
    output.write = [&](std::string_view bytes) {
        out.append(bytes);
        return true;
    };
    output.cancel = &cancel;
    EXPECT_EQ(ExportStore(Reader(), {}, ExportFormat::Csv, "", AsIs, output),
              ExportOutcome::Cancelled);
    EXPECT_EQ(holds, 3);
    EXPECT_TRUE(out.empty());  // nothing reached the file: it is thrown away anyway
}

// A process with more behaviours than one hold copies, sorted by the window between two holds:
// its rows are all in the new order, none twice, none missing.
TEST_F(ExportTest, ASortBetweenTwoHoldsStartsTheProcessAgain) {
    const std::size_t count = kExportSlice + 100;
    for (std::size_t i = 0; i < count; ++i) {
        char time[16];
        std::snprintf(time, sizeof(time), "%07zu", count - i);  // descending
        Behave(5, time, "x");
    }
    beforeHold = [&](int hold) {
        if (hold == 3) {  // 1: the list, 2: process 5's first slice
            const auto guard = analyzer.Store().Read();
            SortBehaviors(byId[5]->behaviors, 0, true);
        }
    };
    ExportScope scope{ExportScope::Kind::Process, byId[5], nullptr};
    const std::vector<std::string> rows = Rows(scope);
    ASSERT_EQ(rows.size(), count + 1);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_LT(rows[i - 1].substr(rows[i - 1].rfind(',') + 1),
                  rows[i].substr(rows[i].rfind(',') + 1))
            << i;
    }
    EXPECT_GE(holds, 4);
}

}  // namespace
