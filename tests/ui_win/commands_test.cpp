// How the analyst drives the real main window: drops of one file, of several, of the same file
// again and of another; the progress display; F5 and the refresh command; the copy commands; the
// image folder; the context menu; the keys; the find dialog and the feature-code window.
#include "tests/ui_win/main_window_run.h"

#include "engine/log_file.h"
#include "res/resource.h"
#include "ui/folder_launch.h"
#include "win/handles.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

using uitest::BehaviorLine;
using uitest::MainWindowRun;
using uitest::ProLine;
using uitest::WaitUntil;

std::string ThreeProcessLog() {
    return ProLine(1, 0, 101, "C:\\R1.exe", "system", "0123456789abcdef0123456789abcdef") +
           ProLine(2, 1, 102, "C:\\工具\\安装程序.exe", "system",
                   "fedcba9876543210fedcba9876543210") +
           ProLine(3, 0, 103, "C:\\Program Files\\App\\app.exe") +
           BehaviorLine("[FILE_READ]", 1, "t1", "C:\\a.txt") +
           BehaviorLine("[FILE_READ]", 1, "t2", "C:\\b.txt");
}

void SendCommand(MainWindowRun& run, int id) {
    ::PostMessageA(run.window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

std::string LogPath(MainWindowRun& run) {
    std::string path;
    run.Call([&](CVantrelDlg& d) {
        const auto store = d.Analyzer().Store().Read();
        path = d.Analyzer().LogPath();
    });
    return path;
}

// A window of the main window's thread with this caption, other than the main window.
HWND FindDialog(MainWindowRun& run, const char* caption) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            const uitest::SeenBox box = run.WaitForBox(50);
            char text[128] = {};
            if (box.window != nullptr) {
                ::GetWindowTextA(box.window, text, sizeof(text));
            }
            found = std::string(text) == caption ? box.window : nullptr;
            return found != nullptr;
        },
        5000);
    return found;
}

TEST(Drop, SeveralFilesAtOnceAreRefusedAndChangeNothing) {
    MainWindowRun run;
    const std::string first = uitest::WriteFile("first.log", ThreeProcessLog());
    ASSERT_TRUE(run.DropAndWait(first));
    run.Click(run.CellPoint(run.tree, 0, 3));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == 3; }, 3000));
    ASSERT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 3000));
    const int rebuilds = run.Rebuilds();

    run.Drop({uitest::WriteFile("a.log", ProLine(7, 0, 7, "C:\\a.exe")),
              uitest::WriteFile("b.log", ProLine(8, 0, 8, "C:\\b.exe"))});
    const uitest::SeenBox box = run.WaitForBox();
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, "只能选择一个文件！");
    EXPECT_EQ(box.caption, "系统提示：");
    EXPECT_TRUE(box.informationIcon);
    EXPECT_EQ(box.owner, run.window);
    run.Dismiss(box);

    ::Sleep(1500);  // longer than a progress tick and a pass
    EXPECT_EQ(LogPath(run), first);
    EXPECT_EQ(run.Rebuilds(), rebuilds);
    EXPECT_EQ(run.ItemCount(run.tree), 3);
    EXPECT_EQ(run.ItemCount(run.behaviors), 3);
    EXPECT_EQ(run.Pane(1), "数据分析完成!");
}

TEST(Drop, TheSameFileGoesOnAnotherFileStartsAfresh) {
    MainWindowRun run;
    const std::string path = uitest::WriteFile("grows.log", ThreeProcessLog());
    ASSERT_TRUE(run.DropAndWait(path));
    ProcessRecord* before = nullptr;
    run.Call([&](CVantrelDlg& d) { before = d.Analyzer().Store().FindProcess(1); });

    uitest::AppendToFile(
        path, ProLine(4, 0, 104, "C:\\R4.exe") + BehaviorLine("[FILE_READ]", 1, "t3", "C:\\c.txt"));
    ASSERT_TRUE(run.DropAndWait(path));
    EXPECT_EQ(run.Column(run.tree, 0),
              (std::vector<std::string>{"R1.exe", "安装程序.exe", "app.exe", "R4.exe"}));
    ProcessRecord* after = nullptr;
    run.Call([&](CVantrelDlg& d) { after = d.Analyzer().Store().FindProcess(1); });
    EXPECT_EQ(after, before);  // the same record: the store was kept and read on
    run.Click(run.CellPoint(run.tree, 0, 3));
    EXPECT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == 4; }, 3000));

    // Another file: the behaviour list lets go of the old store before it is cleared.
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("other.log", ProLine(9, 0, 909, "C:\\x.exe"))));
    bool released = false;
    run.Call([&](CVantrelDlg& d) { released = d.SelectedBehaviors() == nullptr; });
    EXPECT_TRUE(released);
    EXPECT_EQ(run.ItemCount(run.behaviors), 0);
    EXPECT_EQ(run.Column(run.tree, 0), (std::vector<std::string>{"x.exe"}));
    EXPECT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 3000));
}

TEST(Drop, AFolderOrAnUnreadableFileLeavesTheLoadedLogAndSaysWhy) {
    MainWindowRun run;
    const std::string loaded = uitest::WriteFile("loaded.log", ThreeProcessLog());
    ASSERT_TRUE(run.DropAndWait(loaded));
    ASSERT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 3000));
    // Held open by another program that shares nothing.
    const std::string locked = uitest::WriteFile("locked.log", ThreeProcessLog());
    const win::FileHandle lock(::CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);
    struct Case {
        std::string path;
        std::string why;  // a part of the message
    };
    const Case cases[] = {
        {uitest::TempFolder(), "文件夹"},
        {uitest::TempFolder() + "\\no-such.log", "无法打开日志文件"},
        {locked, "无法打开日志文件"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const int rebuilds = run.Rebuilds();
        run.Drop({c.path});
        const uitest::SeenBox box = run.WaitForBox();
        ASSERT_NE(box.window, nullptr) << "no word of why";
        EXPECT_NE(box.text.find(c.why), std::string::npos) << box.text;
        EXPECT_EQ(box.owner, run.window);
        run.Dismiss(box);
        ::Sleep(1200);  // longer than a progress tick
        EXPECT_EQ(LogPath(run), loaded);
        EXPECT_EQ(run.Rebuilds(), rebuilds);
        EXPECT_EQ(run.ItemCount(run.tree), 3);
        EXPECT_EQ(run.Pane(1), "数据分析完成!");
    }
    // A file that is no log is still a file: it is followed, and reads as nothing.
    std::string binary;
    for (int i = 0; i < 200000; ++i) {
        binary += static_cast<char>((i * 7919) % 256);
    }
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("binary.bin", binary)));
    EXPECT_EQ(run.ItemCount(run.tree), 0);
    EXPECT_TRUE(run.NoBox());
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("after.log", ThreeProcessLog())));
    EXPECT_EQ(run.ItemCount(run.tree), 3);
}

TEST(Drop, ANameCodePage936CannotWriteIsStillOpened) {
    MainWindowRun run;
    const std::wstring folder = uitest::Wide(uitest::TempFolder());
    const std::wstring name = folder + L"\\\uBD84\uC11D \uB85C\uADF8.log";  // 분석 로그.log
    {
        const win::FileHandle file(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        const std::string log = ThreeProcessLog();
        DWORD written = 0;
        ::WriteFile(file.Get(), log.data(), static_cast<DWORD>(log.size()), &written, nullptr);
    }
    run.DropWide({name});
    EXPECT_TRUE(WaitUntil([&] { return run.ItemCount(run.tree) == 3; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 3000));
    EXPECT_TRUE(run.NoBox());
    EXPECT_EQ(run.Column(run.tree, 0),
              (std::vector<std::string>{"R1.exe", "安装程序.exe", "app.exe"}));
}

// The platform's files, except that a name with "never" in it never opens: the follower reads
// nothing of it, so a test can set the progress itself.
class NeverOpens : public LogFileSource {
  public:
    std::unique_ptr<LogFileReader> Open(const std::string& path) override {
        if (path.find("never") != std::string::npos) {
            return nullptr;
        }
        return platform_->Open(path);
    }

  private:
    std::shared_ptr<LogFileSource> platform_ = MakePlatformLogFileSource();
};

MainWindowSeams NeverOpensSeams() {
    MainWindowSeams seams = MainWindowRun::TestSeams();
    seams.analyzer.files = std::make_shared<NeverOpens>();
    return seams;
}

TEST(Progress, TwoDecimalsEverySecondUntilAPassOfTheFileHasEnded) {
    MainWindowRun run(NeverOpensSeams());
    run.Drop({uitest::WriteFile("never-read.log", ThreeProcessLog())});
    EXPECT_TRUE(WaitUntil([&] { return run.Pane(1) == "正在分析数据(0.00)..."; }, 3000));
    struct Step {
        double progress;
        const char* text;
    };
    const Step steps[] = {
        {37.5, "正在分析数据(37.50)..."},
        {200.0 / 3.0, "正在分析数据(66.67)..."},
        {100.5, "正在分析数据(100.50)..."},  // no pass of the file has ended yet
    };
    for (const Step& step : steps) {
        run.Call([&](CVantrelDlg& d) { d.Analyzer().progress = step.progress; });
        EXPECT_TRUE(WaitUntil([&] { return run.Pane(1) == step.text; }, 2500)) << step.text;
    }
    // The end of a pass.
    run.Call([&](CVantrelDlg& d) { d.Analyzer().SignalPassEnded(); });
    EXPECT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 2500));
    // The timer has stopped: nothing changes the pane any more.
    run.Call([&](CVantrelDlg& d) { d.Analyzer().progress = 12.0; });
    ::Sleep(1500);
    EXPECT_EQ(run.Pane(1), "数据分析完成!");
}

TEST(Progress, RightAfterADropNothingIsCompleteBeforeAnythingWasRead) {
    MainWindowRun run(NeverOpensSeams());
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("first.log", ThreeProcessLog())));
    ASSERT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 3000));
    run.Drop({uitest::WriteFile("never-read-second.log", ThreeProcessLog())});
    // For longer than a progress tick, the pane never claims the second file is analysed.
    bool claimed = false;
    WaitUntil(
        [&] {
            claimed = claimed || run.Pane(1) == "数据分析完成!";
            return false;
        },
        2500);
    EXPECT_FALSE(claimed);
    EXPECT_EQ(run.Pane(1).rfind("正在分析数据(", 0), 0u) << run.Pane(1);
}

TEST(Dialogs, TheFeatureCodeAndAboutWindowsOpenCentredOnTheMainWindow) {
    // The find dialog opens beside the list instead, so that it leaves the rows in view.
    MainWindowRun run;
    ::SetWindowPos(run.window, nullptr, 30, 40, 900, 560, SWP_NOZORDER);
    struct Case {
        const char* caption;
        std::function<void()> open;
    };
    const Case cases[] = {
        {"特征码获取工具", [&] { SendCommand(run, ID_FEATURE_TOOL); }},
        {"关于 Vantrel", [&] { ::PostMessageA(run.window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0); }},
    };
    RECT main{};
    ::GetWindowRect(run.window, &main);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        c.open();
        const HWND dialog = FindDialog(run, c.caption);
        ASSERT_NE(dialog, nullptr);
        RECT r{};
        ::GetWindowRect(dialog, &r);
        EXPECT_NEAR((r.left + r.right) / 2, (main.left + main.right) / 2, 2);
        EXPECT_NEAR((r.top + r.bottom) / 2, (main.top + main.bottom) / 2, 2);
        ::PostMessageA(dialog, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }, 3000));
    }
}

TEST(Progress, AFinishedLogsLastLineWithoutLineEndArrivesWithoutAnotherF5) {
    // The last line has no CR LF: the pass holds it back for its writer, and the window wakes the
    // analyzer once more by itself when the file has stayed quiet long enough.
    MainWindowSeams seams = MainWindowRun::TestSeams();
    seams.analyzer.heldLineQuietTime = std::chrono::milliseconds(300);
    MainWindowRun run(std::move(seams));
    std::string log = ThreeProcessLog() + ProLine(4, 0, 104, "C:\\last.exe");
    log.resize(log.size() - 2);
    run.Drop({uitest::WriteFile("no-last-crlf.log", log)});
    EXPECT_TRUE(WaitUntil([&] { return run.ItemCount(run.tree) == 4; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 3000));
    EXPECT_EQ(run.Pane(0), "4");
}

TEST(Progress, ALogThatCannotBeReadFurtherSaysSo) {
    // A log whose reading runs out of memory: the program goes on, and says so.
    class FailingFiles final : public LogFileSource {
      public:
        std::unique_ptr<LogFileReader> Open(const std::string&) override {
            return std::make_unique<Reader>();
        }

      private:
        class Reader final : public LogFileReader {
          public:
            bool Size(uint64_t& size) override {
                size = 1000;
                return true;
            }
            bool Seek(uint64_t) override { return true; }
            std::size_t Read(char*, std::size_t) override { throw std::bad_alloc(); }
        };
    };
    MainWindowSeams seams = MainWindowRun::TestSeams();
    seams.analyzer.files = std::make_shared<FailingFiles>();
    MainWindowRun run(std::move(seams));
    run.Drop({uitest::WriteFile("huge.log", "x")});
    EXPECT_TRUE(
        WaitUntil([&] { return run.Pane(1) == "日志无法继续读取，已读取的数据保留!"; }, 3000));
    uitest::KeepScreenshot(run.window, "log_not_read_further");
    EXPECT_TRUE(run.Running());
    EXPECT_TRUE(run.NoBox());
}

TEST(Refresh, F5AndTheCommandReadWhatWasAppendedWithoutTouchingTheProgressPane) {
    MainWindowRun run;
    // F5 with nothing dropped does nothing visible.
    run.Click(run.CellPoint(run.tree, 0, 3));
    run.Key(VK_F5);
    ::Sleep(500);
    EXPECT_EQ(run.Rebuilds(), 0);
    EXPECT_EQ(run.Pane(1), "状态");

    const std::string path = uitest::WriteFile("live.log", ThreeProcessLog());
    ASSERT_TRUE(run.DropAndWait(path));
    ASSERT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 3000));
    run.Call([](CVantrelDlg& d) { d.StatusBar().SetPaneText(1, "untouched"); });

    struct Way {
        const char* name;
        std::function<void()> refresh;
    };
    const Way ways[] = {
        {"F5", [&] { run.Key(VK_F5); }},
        {"command", [&] { SendCommand(run, ID_REFRESH); }},
    };
    int processes = 3;
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        ++processes;
        uitest::AppendToFile(path, ProLine(static_cast<uint32_t>(processes), 0, 500,
                                           "C:\\n" + std::to_string(processes) + ".exe"));
        const int before = run.Rebuilds();
        run.BringToFront();
        run.Click(run.CellPoint(run.tree, 0, 3));
        way.refresh();
        ASSERT_TRUE(run.WaitForRebuilds(before + 1));
        EXPECT_EQ(run.ItemCount(run.tree), processes);
        EXPECT_EQ(run.Pane(0), std::to_string(processes));
    }
    EXPECT_EQ(run.Pane(1), "untouched");
}

TEST(Commands, CopyTheNameOrMd5OfTheSelectedProcess) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("copy.log", ThreeProcessLog())));
    struct Case {
        int command;
        int row;
        std::string copied;
        const char* message;
    };
    const Case cases[] = {
        {ID_COPY_NAME, 1, "安装程序.exe",
         "此进程的名称己复制到剪切板，您可以直接去规则中粘贴使用。"},
        {ID_COPY_MD5, 0, "0123456789abcdef0123456789abcdef",
         "此进程的MD5信息己复制到剪切板，您可以直接去规则中粘贴使用。"},
        {ID_COPY_MD5, 2, "", "此进程的MD5信息己复制到剪切板，您可以直接去规则中粘贴使用。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        run.Click(run.CellPoint(run.tree, c.row, 3));
        uitest::SetClipboardMarker();
        SendCommand(run, c.command);
        const uitest::SeenBox box = run.WaitForBox();
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.text, c.message);
        EXPECT_EQ(box.caption, "系统提示：");
        EXPECT_TRUE(box.informationIcon);
        EXPECT_EQ(box.owner, run.window);
        EXPECT_EQ(uitest::ClipboardText(), uitest::Wide(c.copied));
        run.Dismiss(box);
    }

    // Without a selected row the commands do nothing and say nothing.
    run.Call(
        [](CVantrelDlg& d) { ListView_SetItemState(d.TreeList().Handle(), -1, 0, LVIS_SELECTED); });
    uitest::SetClipboardMarker();
    for (int command : {ID_COPY_NAME, ID_COPY_MD5, ID_OPEN_FOLDER}) {
        SendCommand(run, command);
    }
    EXPECT_EQ(run.WaitForBox(700).window, nullptr);
    EXPECT_EQ(uitest::ClipboardText(), L"marker");
}

TEST(Commands, TheImageFolderOpensWithTheFileSelected) {
    std::mutex mutex;
    std::vector<std::string> launched;
    MainWindowSeams seams = MainWindowRun::TestSeams();
    seams.launch = [&](const std::string& line) -> UINT {
        std::lock_guard guard(mutex);
        launched.push_back(line);
        return 2;  // the file was not found: still no message
    };
    MainWindowRun run(std::move(seams));
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("folder.log", ThreeProcessLog())));
    run.Click(run.CellPoint(run.tree, 2, 3));
    SendCommand(run, ID_OPEN_FOLDER);
    WaitUntil([&] {
        std::lock_guard guard(mutex);
        return !launched.empty();
    });
    std::lock_guard guard(mutex);
    EXPECT_EQ(launched,
              (std::vector<std::string>{"explorer.exe /select,C:\\Program Files\\App\\app.exe"}));
    EXPECT_TRUE(run.NoBox());
}

struct BrowserSearch {
    std::string title;
    HWND found = nullptr;
};

BOOL CALLBACK FindBrowser(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<BrowserSearch*>(data);
    char className[64] = {};
    char title[MAX_PATH] = {};
    ::GetClassNameA(hwnd, className, sizeof(className));
    ::GetWindowTextA(hwnd, title, sizeof(title));
    DWORD process = 0;
    ::GetWindowThreadProcessId(hwnd, &process);
    if (::IsWindowVisible(hwnd) && process != ::GetCurrentProcessId() &&
        std::string(className) == "ExplorerWClass" && search->title == title) {
        search->found = hwnd;
    }
    return TRUE;
}

TEST(Commands, TheRealLaunchStartsTheFileBrowserOnTheImageFolder) {
    const std::string image = uitest::WriteFile("image.exe", "MZ");
    const std::string folder = uitest::TempFolder();
    const std::string folderName = folder.substr(folder.rfind('\\') + 1);
    EXPECT_GT(LaunchWithoutRedirection(FolderCommandLine(image)), 31u);
    BrowserSearch search{folderName};
    EXPECT_TRUE(WaitUntil(
        [&] {
            ::EnumWindows(FindBrowser, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        15000));
    if (search.found != nullptr) {
        ::PostMessageA(search.found, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(search.found); }, 5000));
    }
}

TEST(Commands, TheContextMenuOffersTheFiveCommandsWhereverTheClickWas) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("menu.log", ThreeProcessLog())));
    RECT client{};
    ::GetClientRect(run.tree, &client);
    struct Case {
        POINT place;
        bool onRow;
    };
    // Below the rows the click also leaves no row selected, so the command does nothing there.
    const Case cases[] = {{run.CellPoint(run.tree, 1, 0), true},
                          {run.OnScreen(run.tree, POINT{300, client.bottom - 20}), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.onRow);
        run.Click(run.CellPoint(run.tree, 1, 3));
        run.RightClick(c.place);
        HWND popup = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                popup = ::FindWindowA("#32768", nullptr);
                return popup != nullptr && ::IsWindowVisible(popup);
            },
            3000));
        const HMENU menu = reinterpret_cast<HMENU>(::SendMessageA(popup, MN_GETHMENU, 0, 0));
        ASSERT_EQ(::GetMenuItemCount(menu), 5);
        const int ids[] = {ID_REFRESH, ID_COPY_NAME, ID_COPY_MD5, ID_OPEN_FOLDER, ID_FIND};
        const char* texts[] = {"刷新数据", "复制进程名", "复制MD5", "定位到目录", "查找(Ctrl+F)"};
        for (int i = 0; i < 5; ++i) {
            char text[64] = {};
            ::GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
            EXPECT_EQ(::GetMenuItemID(menu, i), static_cast<UINT>(ids[i]));
            EXPECT_STREQ(text, texts[i]);
        }
        // The commands that act on a process are greyed while no row is selected.
        for (int i = 0; i < 5; ++i) {
            const bool needsRow = i >= 1 && i <= 3;
            const UINT state = ::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
            EXPECT_EQ((state & MF_GRAYED) != 0, needsRow && !c.onRow) << texts[i];
        }
        if (!c.onRow) {
            uitest::KeepScreenshot(popup, "context_menu_below_rows");
            run.Key(VK_ESCAPE);
            EXPECT_TRUE(WaitUntil([&] { return !::IsWindowVisible(popup); }, 3000));
            EXPECT_TRUE(run.NoBox());
            continue;
        }
        // "复制进程名", chosen with the mouse: it acts on the selected row.
        uitest::SetClipboardMarker();
        RECT item{};
        ASSERT_TRUE(::GetMenuItemRect(nullptr, menu, 1, &item));
        run.Click(POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2});
        const uitest::SeenBox box = run.WaitForBox(c.onRow ? 5000 : 700);
        EXPECT_EQ(box.window != nullptr, c.onRow);
        EXPECT_EQ(uitest::ClipboardText(), c.onRow ? uitest::Wide("安装程序.exe") : L"marker");
        run.Dismiss(box);
    }
}

TEST(Keys, EnterDoesNothingAndEscEndsTheProgram) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("keys.log", ThreeProcessLog())));
    const HWND lists[] = {run.tree, run.behaviors};
    for (HWND list : lists) {
        run.Call([&](CVantrelDlg&) { ::SetFocus(list); });
        run.Key(VK_RETURN);
        EXPECT_TRUE(run.Running());
        EXPECT_TRUE(run.NoBox());
    }
    run.Key(VK_ESCAPE);
    EXPECT_TRUE(run.WaitForEnd(5000));
}

TEST(Keys, ExitFromTheMenuBarEndsTheProgram) {
    MainWindowRun run;
    SendCommand(run, ID_EXIT);
    EXPECT_TRUE(run.WaitForEnd(5000));
}

TEST(Find, CtrlFAndTheMenuOpenTheFindDialogAndF3RepeatsTheSearch) {
    std::string log;
    for (uint32_t id = 1; id <= 40; ++id) {
        log += ProLine(id, 0, id,
                       id % 10 == 0 ? "C:\\svchost.exe" : "C:\\p" + std::to_string(id) + ".exe");
    }
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("find.log", log)));

    // F3 before any search: there is nothing to repeat, so nothing moves.
    ::SendMessageA(run.tree, LVM_ENSUREVISIBLE, 39, FALSE);
    ::SendMessageA(run.tree, LVM_ENSUREVISIBLE, 5, FALSE);
    const int top = static_cast<int>(::SendMessageA(run.tree, LVM_GETTOPINDEX, 0, 0));
    ASSERT_GT(top, 0);
    run.Click(run.CellPoint(run.tree, top, 3));
    run.Key(VK_F3);
    ::Sleep(200);
    EXPECT_EQ(::SendMessageA(run.tree, LVM_GETTOPINDEX, 0, 0), top);
    EXPECT_EQ(
        ::SendMessageA(run.tree, LVM_GETITEMSTATE, static_cast<WPARAM>(top - 1), LVIS_SELECTED), 0);

    struct Way {
        const char* name;
        std::function<void()> open;
    };
    const Way ways[] = {
        {"Ctrl+F", [&] { run.Key('F', true); }},
        {"menu", [&] { SendCommand(run, ID_FIND); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        ::SendMessageA(run.tree, LVM_ENSUREVISIBLE, 0, FALSE);
        run.BringToFront();
        run.Click(run.CellPoint(run.tree, 0, 3));
        way.open();
        const HWND dialog = FindDialog(run, "查找进程");
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(::GetWindow(dialog, GW_OWNER), run.window);
        ::SetDlgItemTextA(dialog, IDC_FIND_TEXT, "SVC");
        uitest::KeepScreenshot(dialog, "find_dialog");
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }, 3000));
        EXPECT_EQ(::SendMessageA(run.tree, LVM_GETTOPINDEX, 0, 0), 9);
        EXPECT_EQ(run.Text(run.tree, 9, 0), "svchost.exe");
    }
    // F3 goes on downwards with the same text.
    run.Key(VK_F3);
    EXPECT_TRUE(
        WaitUntil([&] { return ::SendMessageA(run.tree, LVM_GETTOPINDEX, 0, 0) == 19; }, 2000));
    std::string lastText;
    int lastDirection = 0;
    run.Call([&](CVantrelDlg& d) {
        lastText = d.LastFind().lastFindText;
        lastDirection = d.LastFind().lastFindDirection;
    });
    EXPECT_EQ(lastText, "SVC");
    EXPECT_EQ(lastDirection, 1);
}

std::string FindLog() {
    std::string log;
    for (uint32_t id = 1; id <= 40; ++id) {
        log += ProLine(id, 0, id,
                       id == 1        ? "C:\\explorer.exe"
                       : id % 10 == 0 ? "C:\\svchost.exe"
                                      : "C:\\p" + std::to_string(id) + ".exe");
        log += BehaviorLine("[FILE_READ]", id, "t", "of " + std::to_string(id));
    }
    return log;
}

int SelectedCount(MainWindowRun& run) {
    return static_cast<int>(::SendMessageA(run.tree, LVM_GETSELECTEDCOUNT, 0, 0));
}

int FocusRow(MainWindowRun& run) {
    return static_cast<int>(::SendMessageA(run.tree, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                           MAKELPARAM(LVNI_FOCUSED, 0)));
}

// Types `text` into the open find dialog and presses OK.
void SearchFromDialog(MainWindowRun& run, const char* text, int direction = 1) {
    run.BringToFront();
    run.Key('F', true);
    const HWND dialog = FindDialog(run, "查找进程");
    ASSERT_NE(dialog, nullptr);
    ::SetDlgItemTextA(dialog, IDC_FIND_TEXT, text);
    ::SendMessageA(::GetDlgItem(dialog, IDC_FIND_DOWN), BM_SETCHECK,
                   direction == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    ::SendMessageA(::GetDlgItem(dialog, IDC_FIND_UP), BM_SETCHECK,
                   direction == 1 ? BST_UNCHECKED : BST_CHECKED, 0);
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }, 3000));
}

TEST(Find, AHitIsTheOnlySelectedRowTheFocusAndTheNextSearchGoesOnAfterIt) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("find-hit.log", FindLog())));
    // Two rows picked by the user before.
    run.Click(run.CellPoint(run.tree, 3, 3));
    run.Click(run.CellPoint(run.tree, 5, 3), true);
    ASSERT_EQ(SelectedCount(run), 2);

    // The top row itself is compared when there was no hit yet.
    ASSERT_EQ(::SendMessageA(run.tree, LVM_GETTOPINDEX, 0, 0), 0);
    SearchFromDialog(run, "explorer");
    EXPECT_EQ(SelectedCount(run), 1);
    EXPECT_EQ(run.FirstSelected(run.tree), 0);
    EXPECT_EQ(FocusRow(run), 0);
    EXPECT_TRUE(WaitUntil([&] { return run.Text(run.behaviors, 0, 3) == "of 1"; }, 2000));

    // Each F3 goes on after the last hit, to the end of the list and no further: the last one,
    // which the view cannot bring to the top, is not found again and again.
    const int hits[] = {9, 19, 29, 39};
    SearchFromDialog(run, "SVC");
    for (std::size_t i = 0; i < std::size(hits); ++i) {
        SCOPED_TRACE(hits[i]);
        if (i > 0) {
            run.Key(VK_F3);
        }
        EXPECT_TRUE(WaitUntil([&] { return FocusRow(run) == hits[i]; }, 2000));
        EXPECT_EQ(SelectedCount(run), 1);
        EXPECT_EQ(run.FirstSelected(run.tree), hits[i]);
        EXPECT_EQ(run.Text(run.behaviors, 0, 3), "of " + std::to_string(hits[i] + 1));
        // In view.
        const int top = static_cast<int>(::SendMessageA(run.tree, LVM_GETTOPINDEX, 0, 0));
        const int perPage = static_cast<int>(::SendMessageA(run.tree, LVM_GETCOUNTPERPAGE, 0, 0));
        EXPECT_TRUE(hits[i] >= top && hits[i] < top + perPage);
    }
    int again = -1;
    run.Call([&](CVantrelDlg& d) { again = d.FindProcessByName("svc", 1); });
    EXPECT_EQ(again, 0);
    EXPECT_EQ(FocusRow(run), 39);
    // Upwards from the last hit.
    run.Call([&](CVantrelDlg& d) { again = d.FindProcessByName("svc", -1); });
    EXPECT_EQ(again, 1);
    EXPECT_EQ(FocusRow(run), 29);
    EXPECT_EQ(SelectedCount(run), 1);
}

TEST(Find, ATextOfOneByteIsRefusedAsTooShort) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("find-short.log", FindLog())));
    run.Key('F', true);
    const HWND dialog = FindDialog(run, "查找进程");
    ASSERT_NE(dialog, nullptr);
    for (const char* text : {"e", ""}) {
        SCOPED_TRACE(text);
        ::SetDlgItemTextA(dialog, IDC_FIND_TEXT, text);
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        uitest::SeenBox box;
        WaitUntil(
            [&] {
                box = run.WaitForBox(50);
                return box.window != nullptr && box.window != dialog;
            },
            3000);
        ASSERT_NE(box.window, dialog);
        EXPECT_EQ(box.text, "请至少输入两个字节（一个汉字或两个字母）");
        EXPECT_EQ(box.caption, "系统提示:");
        run.Dismiss(box);
        EXPECT_TRUE(::IsWindow(dialog));  // still open for another try
    }
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }, 3000));
}

struct DialogCount {
    DWORD thread;
    int count = 0;
};

BOOL CALLBACK CountFindDialogs(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<DialogCount*>(data);
    char text[64] = {};
    ::GetWindowTextA(hwnd, text, sizeof(text));
    if (std::string(text) == "查找进程" &&
        ::GetWindowThreadProcessId(hwnd, nullptr) == search->thread) {
        ++search->count;
    }
    return TRUE;
}

TEST(Find, TheDialogOpensBesideTheListOnceAndNeverOverItsTopRows) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("find-place.log", FindLog())));
    // Two Ctrl+F before the first dialog has the keys: one dialog, brought forward.
    ::PostMessageA(run.window, WM_SHOW_FIND, 0, 0);
    ::PostMessageA(run.window, WM_SHOW_FIND, 0, 0);
    const HWND dialog = FindDialog(run, "查找进程");
    ASSERT_NE(dialog, nullptr);
    ::Sleep(300);
    DialogCount count{::GetWindowThreadProcessId(run.window, nullptr)};
    ::EnumWindows(CountFindDialogs, reinterpret_cast<LPARAM>(&count));
    EXPECT_EQ(count.count, 1);
    EXPECT_EQ(::GetForegroundWindow(), dialog);

    // The list's header and its top six rows stay uncovered.
    RECT list{};
    ::GetWindowRect(run.tree, &list);
    RECT row{};
    row.left = LVIR_BOUNDS;
    ::SendMessageA(run.tree, LVM_GETITEMRECT, 5, reinterpret_cast<LPARAM>(&row));
    POINT sixthRowBottom{0, row.bottom};
    ::ClientToScreen(run.tree, &sixthRowBottom);
    const RECT topRows{list.left, list.top, list.right, sixthRowBottom.y};
    RECT placed{};
    ::GetWindowRect(dialog, &placed);
    RECT overlap{};
    EXPECT_FALSE(::IntersectRect(&overlap, &placed, &topRows))
        << placed.left << "," << placed.top << " " << placed.right << "," << placed.bottom;
    RECT screen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    EXPECT_TRUE(::IntersectRect(&overlap, &placed, &screen) && ::EqualRect(&overlap, &placed));
    uitest::KeepScreenshot(run.window, "find_dialog_placed_window");
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }, 3000));
    EXPECT_TRUE(run.Running());
}

TEST(Tools, TheFeatureCodeWindowOpensFromTheMenuBar) {
    MainWindowRun run;
    SendCommand(run, ID_FEATURE_TOOL);
    const HWND tool = FindDialog(run, "特征码获取工具");
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(::GetWindow(tool, GW_OWNER), run.window);
    EXPECT_NE(::GetDlgItem(tool, IDC_FEATURE_CODE), nullptr);
    uitest::KeepScreenshot(tool, "feature_code_window");
    ::PostMessageA(tool, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(tool); }, 3000));
    EXPECT_TRUE(run.Running());
}

}  // namespace
