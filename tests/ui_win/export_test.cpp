// 文件 > 导出... end to end: the real command writes the same bytes as vantrel-cli for the same
// log, a chosen process comes in its list's order and a branch as the document's shape, a failure
// says so and leaves neither a file under the name nor a temporary one, and a drop or closing the
// window cancels a running export cleanly. The save dialog itself is looked at too.
#include "tests/ui_win/main_window_run.h"

#include "res/resource.h"
#include "win/utf8.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using uitest::MainWindowRun;
using uitest::WaitUntil;

std::string SamplePath() {
    char source[MAX_PATH] = {};
    ::GetEnvironmentVariableA("VANTREL_SOURCE_DIR", source, sizeof(source));
    std::string path = std::string("Z:") + source + "/samples/sample.log";
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

std::wstring WidePath(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data{};
    const HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            names.insert(data.cFileName);
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    return names;
}

// A folder of its own for each test, so that a temporary file left behind would show.
std::string Folder(const std::string& name) {
    const std::string folder = uitest::TempFolder() + "\\" + name;
    ::CreateDirectoryA(folder.c_str(), nullptr);
    // An earlier run of the same process id may have left its files.
    for (const std::string& entry : Entries(folder)) {
        const std::string path = folder + "\\" + entry;
        if (entry != "." && entry != ".." && !::DeleteFileA(path.c_str())) {
            ::RemoveDirectoryA(path.c_str());
        }
    }
    return folder;
}

// What vantrel-cli prints for `arguments`.
std::string RunCli(const std::string& arguments) {
    const std::string out =
        uitest::TempFolder() + "\\cli-" + std::to_string(::GetTickCount()) + ".out";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const HANDLE file = ::CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    std::string command = std::string("\"") + VANTREL_CLI + "\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL created = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &process);
    ::CloseHandle(file);
    EXPECT_TRUE(created) << command;
    if (created) {
        ::WaitForSingleObject(process.hProcess, 60000);
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
    }
    std::string bytes = ReadBytes(out);
    ::DeleteFileA(out.c_str());
    return bytes;
}

constexpr char kDrive[] = "--drive C:=\\Device\\HarddiskVolume2 ";

// The save dialog as a test answers it, and what the window offered.
struct Answer {
    std::mutex mutex;
    std::optional<ExportChoice> next;
    int asked = 0;
    ExportOffer offer;
};

// Holds the export's thread until the test lets it go or the export is cancelled.
struct Hold {
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::atomic<int> entered{0};
};

MainWindowSeams Seams(const std::shared_ptr<Answer>& answer,
                      const std::shared_ptr<Hold>& hold = nullptr) {
    MainWindowSeams seams = MainWindowRun::TestSeams();
    seams.analyzer.drives =
        std::make_shared<DriveTable>(DriveTable{{"C:", "\\Device\\HarddiskVolume2"}});
    seams.exportDialog = [answer](const ExportOffer& offer) {
        std::lock_guard guard(answer->mutex);
        ++answer->asked;
        answer->offer = offer;
        return answer->next;
    };
    if (hold) {
        seams.exportPause = [hold](const std::atomic<bool>& cancel) {
            if (!hold->holding.load()) {
                return;
            }
            ++hold->entered;
            while (!cancel.load() && !hold->release.load()) {
                ::Sleep(5);
            }
        };
    }
    return seams;
}

// Exports through the menu's command and waits for its end in the status bar.
void Export(MainWindowRun& run, Answer& answer, const std::string& path, ExportFormat format,
            ExportChoiceScope scope, const char* status = "导出完成!") {
    {
        std::lock_guard guard(answer.mutex);
        answer.next = ExportChoice{WidePath(path), format, scope};
    }
    ::PostMessageA(run.window, WM_COMMAND, MAKEWPARAM(ID_EXPORT, 0), 0);
    EXPECT_TRUE(WaitUntil([&] { return run.Pane(1) == status; })) << run.Pane(1);
}

// The cells of an RFC 4180 text, row by row.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(std::move(cell));
            cell.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.back().push_back(std::move(cell));
            cell.clear();
            rows.emplace_back();
            ++i;
        } else {
            cell += c;
        }
    }
    rows.pop_back();  // after the last CR LF
    return rows;
}

std::string Utf8(const std::string& gbk) {
    std::string out;
    win::AppendGbkAsUtf8(gbk, out);
    return out;
}

// The object of process `id` in a JSON document, brackets matched outside strings.
std::string ProcessObject(const std::string& json, uint32_t id) {
    const std::size_t start = json.find("{\"id\":" + std::to_string(id) + ",");
    if (start == std::string::npos) {
        return {};
    }
    int depth = 0;
    bool inString = false;
    for (std::size_t i = start; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return json.substr(start, i + 1 - start);
        }
    }
    return {};
}

TEST(Export, TheWholeLogIsWhatTheCliWrites) {
    auto answer = std::make_shared<Answer>();
    MainWindowRun run(Seams(answer));
    const std::string log = SamplePath();
    ASSERT_TRUE(run.DropAndWait(log));
    const std::string folder = Folder("whole");
    Export(run, *answer, folder + "\\all.csv", ExportFormat::Csv, ExportChoiceScope::WholeLog);
    EXPECT_FALSE(answer->offer.processChosen);  // no row chosen: only the whole log is offered
    Export(run, *answer, folder + "\\all.json", ExportFormat::Json, ExportChoiceScope::WholeLog);

    const std::string csv = ReadBytes(folder + "\\all.csv");
    EXPECT_EQ(csv.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_EQ(csv, RunCli(std::string("csv ") + kDrive + "\"" + log + "\""));
    EXPECT_EQ(ReadBytes(folder + "\\all.json"),
              RunCli(std::string("json ") + kDrive + "\"" + log + "\""));
    EXPECT_EQ(Entries(folder), (std::set<std::string>{".", "..", "all.csv", "all.json"}));
}

// Row 1 is 安装程序.exe (id 3), creator of svc升级.exe (4), creator of cmd.exe.
TEST(Export, AChosenProcessInItsListsOrderAndItsBranch) {
    auto answer = std::make_shared<Answer>();
    MainWindowRun run(Seams(answer));
    const std::string log = SamplePath();
    ASSERT_TRUE(run.DropAndWait(log));
    run.Click(run.CellPoint(run.tree, 1, 3));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) > 5; }, 3000));
    const std::string folder = Folder("chosen");

    // The branch before any sort: the CLI's document holds the same object for process 3.
    Export(run, *answer, folder + "\\branch.json", ExportFormat::Json, ExportChoiceScope::Branch);
    EXPECT_TRUE(answer->offer.processChosen);
    const std::string whole = RunCli(std::string("json ") + kDrive + "\"" + log + "\"");
    const std::string object = ProcessObject(whole, 3);
    ASSERT_FALSE(object.empty());
    EXPECT_EQ(ReadBytes(folder + "\\branch.json"),
              whole.substr(0, whole.find("\"processes\":[") + 13) + object + "]}\n");

    // Sorted by 信息 in the list: the export follows the list, not the log.
    const HWND header = ListView_GetHeader(run.behaviors);
    RECT column{};
    ::SendMessageA(header, HDM_GETITEMRECT, 3, reinterpret_cast<LPARAM>(&column));
    run.Click(run.OnScreen(
        header, POINT{(column.left + column.right) / 2, (column.top + column.bottom) / 2}));
    const std::vector<std::string> logOrder = [&] {
        std::vector<std::string> infos;
        for (const auto& row : ParseCsv(RunCli(std::string("csv ") + kDrive + "\"" + log + "\""))) {
            if (row.size() == 9 && row[3] == "3") {
                infos.push_back(row[7]);
            }
        }
        return infos;
    }();
    std::vector<std::string> listOrder;
    ASSERT_TRUE(WaitUntil([&] {
        listOrder.clear();
        for (const std::string& info : run.Column(run.behaviors, 3)) {
            listOrder.push_back(Utf8(info));
        }
        return listOrder != logOrder;
    }));
    Export(run, *answer, folder + "\\process.csv", ExportFormat::Csv, ExportChoiceScope::Process);
    const auto rows = ParseCsv(ReadBytes(folder + "\\process.csv"));
    ASSERT_EQ(rows.size(), listOrder.size() + 1);
    std::vector<std::string> exported;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 9u);
        EXPECT_EQ(rows[i][3], "3");
        exported.push_back(rows[i][7]);
    }
    EXPECT_EQ(exported, listOrder);
}

// A target that cannot be written: a message, no file under the name, no temporary file left,
// and an earlier file of the name kept as it was.
TEST(Export, AFailureSaysSoAndLeavesNoFile) {
    auto answer = std::make_shared<Answer>();
    MainWindowRun run(Seams(answer));
    ASSERT_TRUE(run.DropAndWait(SamplePath()));
    const std::string folder = Folder("failures");
    ::CreateDirectoryA((folder + "\\a-folder.csv").c_str(), nullptr);
    struct Case {
        const char* name;
        std::string target;
    };
    const Case cases[] = {
        {"a folder that does not exist", folder + "\\missing\\out.csv"},
        // Written in full, then the rename over the name fails: the temporary must go.
        {"a folder of the name", folder + "\\a-folder.csv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::set<std::string> before = Entries(folder);
        {
            std::lock_guard guard(answer->mutex);
            answer->next =
                ExportChoice{WidePath(c.target), ExportFormat::Csv, ExportChoiceScope::WholeLog};
        }
        ::PostMessageA(run.window, WM_COMMAND, MAKEWPARAM(ID_EXPORT, 0), 0);
        const uitest::SeenBox box = run.WaitForBox();
        ASSERT_NE(box.window, nullptr);
        EXPECT_NE(box.text.find("导出失败"), std::string::npos) << box.text;
        EXPECT_NE(box.text.find(c.target), std::string::npos) << box.text;
        run.Dismiss(box);
        EXPECT_EQ(run.Pane(1), "导出失败!");
        EXPECT_EQ(Entries(folder), before);
    }
    EXPECT_FALSE(Exists(folder + "\\missing"));
    EXPECT_TRUE((::GetFileAttributesA((folder + "\\a-folder.csv").c_str()) &
                 FILE_ATTRIBUTE_DIRECTORY) != 0);
}

// While an export runs, a second one is refused; a drop of another log and closing the window
// cancel it, and nothing is left in the folder.
TEST(Export, ARunningExportIsCancelledCleanly) {
    auto answer = std::make_shared<Answer>();
    auto hold = std::make_shared<Hold>();
    hold->holding = true;
    MainWindowRun run(Seams(answer, hold));
    ASSERT_TRUE(run.DropAndWait(SamplePath()));
    const std::string folder = Folder("cancelled");
    const std::string target = folder + "\\held.csv";
    {
        std::lock_guard guard(answer->mutex);
        answer->next =
            ExportChoice{WidePath(target), ExportFormat::Csv, ExportChoiceScope::WholeLog};
    }
    ::PostMessageA(run.window, WM_COMMAND, MAKEWPARAM(ID_EXPORT, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return hold->entered.load() > 0; }));
    EXPECT_EQ(run.Pane(1), "正在导出(0%)...");

    ::PostMessageA(run.window, WM_COMMAND, MAKEWPARAM(ID_EXPORT, 0), 0);
    const uitest::SeenBox box = run.WaitForBox();
    EXPECT_NE(box.text.find("正在导出"), std::string::npos) << box.text;
    run.Dismiss(box);
    EXPECT_EQ(answer->asked, 1);

    const std::string other =
        uitest::WriteFile("other.log", uitest::ProLine(1, 0, 101, "C:\\other.exe"));
    ASSERT_TRUE(run.DropAndWait(other));
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(Entries(folder), (std::set<std::string>{".", ".."}));
    bool running = true;
    run.Call([&](CVantrelDlg& d) { running = d.ExportRunning(); });
    EXPECT_FALSE(running);

    const int entered = hold->entered.load();
    ::PostMessageA(run.window, WM_COMMAND, MAKEWPARAM(ID_EXPORT, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return hold->entered.load() > entered; }));
    ::PostMessageA(run.window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(run.WaitForEnd(10000));
    EXPECT_EQ(Entries(folder), (std::set<std::string>{".", ".."}));
}

struct DialogSearch {
    HWND owner;
    HWND found = nullptr;
};

BOOL CALLBACK FindSaveDialog(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<DialogSearch*>(data);
    char className[32] = {};
    ::GetClassNameA(hwnd, className, sizeof(className));
    if (std::string(className) == "#32770" && ::IsWindowVisible(hwnd) &&
        ::GetWindow(hwnd, GW_OWNER) == search->owner) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForSaveDialog(HWND owner) {
    DialogSearch search{owner};
    WaitUntil([&] {
        ::EnumWindows(FindSaveDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    return search.found;
}

struct ButtonSearch {
    int id;
    HWND found = nullptr;
};

BOOL CALLBACK FindButton(HWND child, LPARAM data) {
    auto* f = reinterpret_cast<ButtonSearch*>(data);
    if (::GetDlgCtrlID(child) == f->id && f->found == nullptr) {
        char className[32] = {};
        ::GetClassNameA(child, className, sizeof(className));
        if (std::string(className) == "Button") {
            f->found = child;
        }
    }
    return TRUE;
}

// A control of the dialog's own part, whatever window holds it.
HWND Control(HWND dialog, int id) {
    ButtonSearch find{id};
    ::EnumChildWindows(dialog, FindButton, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

// The real save dialog: the scopes a process needs are unavailable until one is chosen.
TEST(Export, TheSaveDialogOffersTheScopesThereAre) {
    MainWindowSeams seams = MainWindowRun::TestSeams();
    MainWindowRun run(std::move(seams));
    ASSERT_TRUE(run.DropAndWait(SamplePath()));
    run.Call([](CVantrelDlg& d) {
        ListView_SetItemState(d.TreeList().Handle(), 1, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        d.ShowFocusedBehaviors();
    });
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) > 5; }, 3000));
    for (const bool chosen : {true, false}) {
        SCOPED_TRACE(chosen ? "a process chosen" : "no process chosen");
        if (!chosen) {
            run.Call([](CVantrelDlg& d) {
                ListView_SetItemState(d.TreeList().Handle(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
            });
        }
        ::PostMessageA(run.window, WM_COMMAND, MAKEWPARAM(ID_EXPORT, 0), 0);
        const HWND dialog = WaitForSaveDialog(run.window);
        ASSERT_NE(dialog, nullptr);
        ::Sleep(300);  // laid out and painted
        char title[64] = {};
        ::GetWindowTextA(dialog, title, sizeof(title));
        EXPECT_STREQ(title, "导出");
        const HWND process = Control(dialog, IDC_EXPORT_SCOPE_PROCESS);
        const HWND branch = Control(dialog, IDC_EXPORT_SCOPE_BRANCH);
        const HWND whole = Control(dialog, IDC_EXPORT_SCOPE_LOG);
        const HWND filter = Control(dialog, IDC_EXPORT_SCOPE_FILTER);
        ASSERT_NE(process, nullptr);
        ASSERT_NE(branch, nullptr);
        ASSERT_NE(whole, nullptr);
        EXPECT_EQ(::IsWindowEnabled(process) != 0, chosen);
        EXPECT_EQ(::IsWindowEnabled(branch) != 0, chosen);
        EXPECT_TRUE(::IsWindowEnabled(whole));
        EXPECT_EQ(::SendMessageA(whole, BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_FALSE(filter != nullptr && ::IsWindowVisible(filter));  // no filter in the window
        uitest::KeepScreenshot(dialog, chosen ? "export_dialog_chosen" : "export_dialog");
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }));
    }
}

}  // namespace
