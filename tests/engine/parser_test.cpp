#include <gtest/gtest.h>

#include <string>

#include "engine/log_analyzer.h"

namespace {

class ParserTest : public ::testing::Test {
  protected:
    ParserTest()
        : analyzer(AnalyzerSeams{std::make_shared<DriveTable>(DriveTable{
              {"C:", "\\Device\\HarddiskVolume2"}, {"D:", "\\Device\\HarddiskVolume3"}})}) {}

    void Parse(std::string_view line) { analyzer.ParseLine(line); }
    ProcessRecord* Find(uint32_t id) { return analyzer.Store().FindProcess(id); }
    // A root process with `id`, created by a [PRO] line without a creator in the store.
    ProcessRecord* AddRoot(uint32_t id) {
        Parse("[PRO]|t0|x|999999|" + std::to_string(id) + "/" + std::to_string(id + 1000) +
              "/C:\\r.exe/r.exe/1/2/3|system");
        return Find(id);
    }
    std::size_t BehaviorCount() {
        std::size_t count = 0;
        analyzer.Store().Read().ForEachProcessInTreeOrder(
            [&](const ProcessRecord& p) { count += p.behaviors.size(); });
        return count;
    }

    LogAnalyzer analyzer;
};

}  // namespace

TEST_F(ParserTest, OrdinaryLinesAppendOneBehaviour) {
    ProcessRecord* p = AddRoot(12);
    ASSERT_NE(p, nullptr);
    Parse("[FILE_READ]|2020-01-01 10:00:00|x|12|C:\\a.txt|report");
    ASSERT_EQ(p->behaviors.size(), 1u);
    const BehaviorRecord& b = p->behaviors[0];
    EXPECT_EQ(b.time(), "2020-01-01 10:00:00");
    EXPECT_EQ(b.action(), "读文件");
    EXPECT_EQ(b.info(), "C:\\a.txt");
    EXPECT_EQ(b.detail(), "C:\\a.txt");
    EXPECT_EQ(b.handling(), "report");

    // Every ordinary tag with its label; the tag's case does not matter; paths stay as written.
    const struct {
        const char* tag;
        const char* label;
    } tags[] = {
        {"[PRO_OPEN]", "打开进程"},     {"[file_write]", "写文件"},   {"[File_Del]", "删文件"},
        {"[FILE_NEW]", "新建文件"},     {"[REG_OPEN]", "打开注册表"}, {"[REG_NEW]", "新建注册表"},
        {"[REG_READ]", "读注册表"},     {"[REG_WRITE]", "写注册表"},  {"[NET_CON]", "网络连接"},
        {"[NET_DATA]", "收发数据"},     {"[NET_DNS]", "DNS解析"},     {"[NET_URL]", "HTTP访问"},
        {"[NET_HTTP]", "NET_HTTP访问"}, {"[RTHREAD]", "注入线程"}};
    for (const auto& t : tags) {
        Parse(std::string(t.tag) + "xyz|t|x|12|\\Device\\HarddiskVolume2\\b|");
        EXPECT_EQ(p->behaviors.back().action(), t.label) << t.tag;
        EXPECT_EQ(p->behaviors.back().info(), "\\Device\\HarddiskVolume2\\b") << t.tag;
        EXPECT_EQ(p->behaviors.back().handling(), "") << t.tag;
    }
    EXPECT_EQ(p->behaviors.size(), 15u);
}

TEST_F(ParserTest, LinesThatChangeNothing) {
    ProcessRecord* p = AddRoot(12);
    const char* lines[] = {
        "[FILE_READ]|t|x|12|C:\\a.txt|report|extra",  // seven fields
        "[FILE_READ]|t|x|12|C:\\a.txt",               // five fields
        "[FILE_READ]|t|x|13|C:\\a.txt|report",        // no process 13
        "[FILE_READ]|t|x|12 |C:\\a.txt|report",       // not a number: id 0, absent
        " [FILE_READ]|t|x|12|C:\\a.txt|report",       // tag not at the start
        "[FILE_REA|t|x|12|C:\\a.txt|report",          // no tag
        "[UNKNOWN]|t|x|12|C:\\a.txt|report",
        "",
        "[PRO_DIE]|t|x|12|y|z|w",          // seven fields
        "[PRO]|t|x|12|1/2/C:\\a|h",        // three sub-fields
        "[PRO]|t|x|12|1/2/C:\\a/b/c/d|h",  // six sub-fields
        "[PRO]|t|x|12|1/2/C:\\a/b/c/d/e",  // five fields
    };
    for (const char* line : lines) {
        Parse(line);
    }
    EXPECT_EQ(BehaviorCount(), 0u);
    EXPECT_EQ(analyzer.Store().Read().roots().size(), 1u);
    EXPECT_TRUE(p->children.empty());
    EXPECT_EQ(p->state, 1u);
}

TEST_F(ParserTest, ShortLayoutProcessLine) {
    ProcessRecord* creator = AddRoot(1);
    Parse(
        "[PRO]|2020-01-01 10:00:01|x|1|100/4321/\\Device\\HarddiskVolume2\\Windows\\notepad.exe/"
        "notepad.exe /p x.txt/1024/5E8F0000/d41d8cd98f00b204e9800998ecf8427e|system");
    ProcessRecord* p = Find(100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->parent, creator);
    EXPECT_EQ(p->state, 1u);
    EXPECT_EQ(p->pid, 4321u);
    EXPECT_EQ(p->ppid, 1001u);
    EXPECT_STREQ(p->name, "notepad.exe");
    EXPECT_STREQ(p->imagePath, "C:\\Windows\\notepad.exe");
    EXPECT_EQ(p->commandLine, "notepad.exe /p x.txt");
    EXPECT_EQ(p->fileSize, "1024");
    EXPECT_EQ(p->fileTimestamp, "5E8F0000");
    EXPECT_EQ(p->md5, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(p->featureCode, "");
    EXPECT_EQ(p->startTime, "2020-01-01 10:00:01");
    EXPECT_EQ(p->handling, "system");
    EXPECT_TRUE(p->behaviors.empty());

    ASSERT_EQ(creator->behaviors.size(), 1u);
    const BehaviorRecord& b = creator->behaviors[0];
    EXPECT_EQ(b.action(), "创建进程");
    EXPECT_EQ(b.time(), "2020-01-01 10:00:01");
    EXPECT_EQ(b.handling(), "system");
    EXPECT_EQ(b.info(),
              "路径：C:\\Windows\\notepad.exe  PID：4321  特征码：  "
              "MD5：d41d8cd98f00b204e9800998ecf8427e  大小：1024  ");
    EXPECT_EQ(b.detail(),
              "路径：C:\\Windows\\notepad.exe  PID：4321  特征码：  "
              "MD5：d41d8cd98f00b204e9800998ecf8427e  大小：1024  时间戳：5E8F0000  "
              "命令行：notepad.exe /p x.txt");
}

TEST_F(ParserTest, LayoutFollowsTheSubFieldCount) {
    AddRoot(1);
    const struct {
        const char* descriptor;
        const char* commandLine;
        const char* fileSize;
        const char* md5;
        const char* featureCode;
        const char* peSign2Check;
    } cases[] = {
        {"5/6/C:\\a.exe/cmd/S/T/M", "cmd", "S", "M", "", ""},
        {"5/6/C:\\a.exe/c/m/d/S/T/M", "c/m/d", "S", "M", "", ""},
        // Twelve sub-fields: read as the medium layout, whatever the command line meant.
        {"5/6/C:\\a.exe/c/1/2/3/4/S/T/M/F", "c", "1", "3", "4", ""},
        {"5/6/C:\\a.exe/cmd/S/T/M/F/s1/c1/s2/c2", "cmd", "S", "M", "F", ""},
        {"5/6/C:\\a.exe/a/b/S/T/M/F/s1/c1/s2/c2", "a/b", "S", "M", "F", ""},
        {"5/6/C:\\a.exe/cmd/S/T/M/F/s1/c1/s2/c2/1/1/1/1/1/P", "cmd", "S", "M", "F", "P"},
        {"5/6/C:\\a.exe/x//y/S/T/M/F/s1/c1/s2/c2/1/1/1/1/1/P", "x//y", "S", "M", "F", "P"},
    };
    for (const auto& c : cases) {
        Parse(std::string("[PRO]|t|x|1|") + c.descriptor + "|h");
        ProcessRecord* p = Find(5);
        ASSERT_NE(p, nullptr) << c.descriptor;
        EXPECT_EQ(p->commandLine, c.commandLine) << c.descriptor;
        EXPECT_EQ(p->fileSize, c.fileSize) << c.descriptor;
        EXPECT_EQ(p->md5, c.md5) << c.descriptor;
        EXPECT_EQ(p->featureCode, c.featureCode) << c.descriptor;
        EXPECT_EQ(p->peSign2Check, c.peSign2Check) << c.descriptor;
    }
}

TEST_F(ParserTest, DescriptorMayContainBars) {
    AddRoot(1);
    Parse("[PRO]|t|x|1|5/6/C:\\a.exe/cmd a|b/S/T/M|handling");
    ProcessRecord* p = Find(5);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->commandLine, "cmd a|b");
    EXPECT_EQ(p->md5, "M");
    EXPECT_EQ(p->handling, "handling");
    EXPECT_EQ(Find(1)->behaviors.back().handling(), "handling");
}

TEST_F(ParserTest, LongLayoutCreationTexts) {
    AddRoot(1);
    Parse(
        "[PRO]|t|x|1|7/70/\\??\\D:\\app\\a.exe/a.exe -x/100/TS/MD/FC/SER1/CO1/SER2/CO2/"
        "1/1/1/1/1/1|report");
    ProcessRecord* p = Find(7);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->imagePath, "D:\\app\\a.exe");
    EXPECT_EQ(p->signSerial1, "SER1");
    EXPECT_EQ(p->signCompany1, "CO1");
    EXPECT_EQ(p->signSerial2, "SER2");
    EXPECT_EQ(p->signCompany2, "CO2");
    EXPECT_EQ(p->sign1CheckA, "1");
    const BehaviorRecord& b = Find(1)->behaviors.back();
    EXPECT_EQ(b.info(),
              "路径：D:\\app\\a.exe  PID：70  特征码：FC  MD5：MD  大小：100  "
              "签名公司名：CO1  签名通过  PE通过  签名公司名2：CO2  签名通过  PE通过  ");
    EXPECT_EQ(b.detail(),
              "路径：D:\\app\\a.exe  PID：70  特征码：FC  MD5：MD  大小：100  时间戳：TS  "
              "签名序列号：SER1  签名公司名：CO1  签名1校验通过  PE签名1校验通过  "
              "签名序列号2：SER2  签名公司名2：CO2  签名2校验通过  PE签名2校验通过  "
              "命令行：a.exe -x");
}

TEST_F(ParserTest, SignatureTextsNeedSerialAndCompanyAndExactFlags) {
    AddRoot(1);
    // Signature 1 without a serial; signature 2 with flags "01", " 1" and "1".
    Parse("[PRO]|t|x|1|7/70/C:\\a.exe/c/S/T/M/F//CO1/SER2/CO2/1/1/1/01/ 1/1|h");
    const BehaviorRecord& b = Find(1)->behaviors.back();
    EXPECT_EQ(b.info(),
              "路径：C:\\a.exe  PID：70  特征码：F  MD5：M  大小：S  "
              "签名公司名2：CO2  PE通过  ");
    EXPECT_EQ(b.detail(),
              "路径：C:\\a.exe  PID：70  特征码：F  MD5：M  大小：S  时间戳：T  "
              "签名序列号2：SER2  签名公司名2：CO2  PE签名2校验通过  命令行：c");
}

TEST_F(ParserTest, RepeatedProcessLineUpdatesInPlace) {
    ProcessRecord* a = AddRoot(1);
    ProcessRecord* b = AddRoot(2);
    Parse("[PRO]|t1|x|1|5/50/C:\\x\\first.exe/c1/1/2/3|h1");
    ProcessRecord* p = Find(5);
    ASSERT_EQ(p->parent, a);
    Parse("[FILE_READ]|t|x|5|f|h");
    Parse("[PRO]|t2|x|2|5/51/C:\\y\\second.exe/c2/4/5/6|h2");
    EXPECT_EQ(Find(5), p);
    EXPECT_EQ(p->parent, a);
    EXPECT_EQ(a->children.size(), 1u);
    EXPECT_TRUE(b->children.empty());
    EXPECT_TRUE(b->behaviors.empty());
    EXPECT_EQ(a->behaviors.size(), 1u);
    EXPECT_EQ(p->behaviors.size(), 1u);
    EXPECT_EQ(p->pid, 51u);
    EXPECT_EQ(p->ppid, b->pid);
    EXPECT_STREQ(p->name, "second.exe");
    EXPECT_EQ(p->startTime, "t2");
    EXPECT_EQ(p->handling, "h2");

    // Without a creator in the store the update sets ppid to 0; an ended process runs again.
    Parse("[PRO_DIE]|t|x|5|y|z");
    EXPECT_EQ(p->state, 0u);
    Parse("[PRO]|t3|x|77|5/52/C:\\z.exe/c3/7/8/9|h3");
    EXPECT_EQ(p->ppid, 0u);
    EXPECT_EQ(p->state, 1u);
    EXPECT_EQ(analyzer.Store().Read().roots().size(), 2u);
}

TEST_F(ParserTest, NonNumericIdsDenoteProcessZero) {
    Parse("[PRO]|t|x|none|abc/1/C:\\zero.exe/c/1/2/3|h");
    ProcessRecord* zero = Find(0);
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(zero->parent, nullptr);
    EXPECT_STREQ(zero->name, "zero.exe");
    // A line acting for "x1" acts for process 0.
    Parse("[REG_OPEN]|t|x|x1|HKLM\\k|h");
    EXPECT_EQ(zero->behaviors.size(), 1u);
}

TEST_F(ParserTest, ProcessEndKeepsEverything) {
    ProcessRecord* root = AddRoot(1);
    Parse("[PRO]|t|x|1|5/50/C:\\c.exe/c/1/2/3|h");
    Parse("[PRO]|t|x|5|6/60/C:\\d.exe/d/1/2/3|h");
    Parse("[FILE_NEW]|t|x|5|f|h");
    Parse("[PRO_DIE]|t|x|5|y|z");
    Parse("[PRO_DIE]|t|x|42|y|z");
    ProcessRecord* p = Find(5);
    EXPECT_EQ(p->state, 0u);
    EXPECT_EQ(root->children.front(), p);
    EXPECT_EQ(p->children.size(), 1u);
    EXPECT_EQ(p->behaviors.size(), 2u);
    EXPECT_EQ(BehaviorCount(), 3u);
}

TEST_F(ParserTest, SplittingIsByteWise) {
    AddRoot(1);
    // 0xC4 0x7C is one GBK character whose trail byte is "|": it splits the line there.
    Parse("[FILE_READ]|t|x|1|a\xC4|b|h");
    EXPECT_TRUE(Find(1)->behaviors.empty());
    // 0xC4 0x5C ends its trail byte in "\": the name starts after it.
    Parse("[PRO]|t|x|1|5/50/C:\\dir\\ab\xC4\\cd.exe/c/1/2/3|h");
    EXPECT_STREQ(Find(5)->name, "cd.exe");
}

TEST_F(ParserTest, LongPathsAreCutOnACharacterBoundary) {
    AddRoot(1);
    std::string dir = "C:\\";
    while (dir.size() < 300) {
        dir += "\xB6\xC1";  // a double-byte character
    }
    const std::string path = dir + "\\" + std::string(270, 'n') + ".exe";
    Parse("[PRO]|t|x|1|5/50/" + path + "/c/1/2/3|h");
    ProcessRecord* p = Find(5);
    ASSERT_NE(p, nullptr);
    // "C:\" and 128 characters of two bytes fill 259 bytes exactly: 3 + 256.
    EXPECT_EQ(std::string(p->imagePath), path.substr(0, 259));
    dir = "C:\\a";
    while (dir.size() < 300) {
        dir += "\xB6\xC1";
    }
    Parse("[PRO]|t|x|1|6/60/" + dir + "/c/1/2/3|h");
    // "C:\a" and 127 characters make 258 bytes; the next would end past 259.
    EXPECT_EQ(std::string(Find(6)->imagePath), dir.substr(0, 258));
    // The name comes from the whole path, then is cut itself.
    EXPECT_EQ(std::string(p->name), std::string(259, 'n'));
    // The creation texts quote the whole path.
    EXPECT_NE(Find(1)->behaviors[0].info().find(path), std::string::npos);
}

TEST_F(ParserTest, CountsTellUsedLinesFromDroppedOnes) {
    const char* used[] = {
        "[PRO]|t|x|0|1/10/C:\\a.exe/a/1/2/3|h",  // a root
        "[PRO]|t|x|1|2/20/C:\\b.exe/b/1/2/3|h",  // a child
        "[PRO]|t|x|0|1/11/C:\\a.exe/a/1/2/3|h",  // an update
        "[FILE_READ]|t|x|2|f|h",
        "[PRO_DIE]|t|x|2|x|y",
    };
    const char* dropped[] = {"", "[FILE_READ]|t|x|9|f|h", "[PRO_DIE]|t|x|9|x|y", "junk",
                             "[PRO]|t|x|1|2/20|h"};
    for (const char* line : used) {
        Parse(line);
    }
    for (const char* line : dropped) {
        Parse(line);
    }
    const LogAnalyzer::ParseCounts counts = analyzer.Counts();
    EXPECT_EQ(counts.lines, 10u);
    EXPECT_EQ(counts.dropped, 5u);
}

TEST_F(ParserTest, LinesFullOfSeparatorsLeaveNoScratchBehind) {
    AddRoot(1);
    const std::string many(1 << 20, '|');
    const std::string slashes(1 << 20, '/');
    const std::string lines[] = {
        "[PRO_DIE]|" + many,
        "[PRO]|" + many,
        "[PRO]|t|x|1|" + slashes + "|h",
        "[PRO]|t|x|1|" + slashes + many,
        "[MOD]|" + many,
        "[MOD]|t|x|1|" + slashes + "|h",
        "[SYS]|t|x|1|" + slashes + "|h",
        "[FILE_READ]|" + many,
    };
    for (const std::string& line : lines) {
        Parse(line);
        EXPECT_LT(analyzer.ScratchBytes(), 64u << 10) << line.substr(0, 20);
    }
}
