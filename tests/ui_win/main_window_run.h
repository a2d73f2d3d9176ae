// The real main window on a thread of its own, driven from the test's thread the way a user and
// the shell drive it: real drops (an HDROP in WM_DROPFILES), real mouse and key input, message
// boxes read and answered, the lists read through their own messages.
#pragma once

#include "engine/log_file.h"
#include "ui/vantrel_dlg.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace uitest {

// Polls `done` every 10 ms for up to `milliseconds`; true once it held.
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 10000);

// A message box of the window's thread as the user sees it.
struct SeenBox {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    bool informationIcon = false;
};

class MainWindowRun {
  public:
    // Seams for tests: a short throttle between passes, no drive table, the real launcher.
    static MainWindowSeams TestSeams();

    explicit MainWindowRun(MainWindowSeams seams = TestSeams());
    ~MainWindowRun();
    MainWindowRun(const MainWindowRun&) = delete;
    MainWindowRun& operator=(const MainWindowRun&) = delete;

    HWND window = nullptr;
    HWND tree = nullptr;
    HWND behaviors = nullptr;
    HWND status = nullptr;

    // Runs `work` on the window's thread, between two of its messages, and waits for it.
    void Call(const std::function<void(CVantrelDlg&)>& work);

    // Posts a drop of these files, as the shell does.
    void Drop(const std::vector<std::string>& paths);
    // The same with UTF-16 names, as the shell drops names of any language.
    void DropWide(const std::vector<std::wstring>& paths);
    // Drops one log and waits for the rebuild at the end of its pass.
    bool DropAndWait(const std::string& path);
    int Rebuilds();
    bool WaitForRebuilds(int count, int milliseconds = 10000);

    // True while the window's modal run has not ended.
    bool Running() const { return !ended_.load(); }
    // Waits until the window's thread has ended, the window object destroyed with it.
    bool WaitForEnd(int milliseconds);

    // The lists, through their own messages.
    int ItemCount(HWND list);
    std::string Text(HWND list, int item, int subItem);
    std::vector<std::string> Column(HWND list, int subItem);
    int FirstSelected(HWND list);
    std::string Pane(int pane);
    // A row's label rectangle in the process list's client coordinates.
    RECT Label(int row);
    // Where row `row`'s plus or minus box lies by its indent (in the tree list's client area),
    // and its middle on the screen.
    RECT FoldBoxPlace(int row);
    POINT BoxPoint(int row);
    // The point of a list's client coordinates on the screen.
    POINT OnScreen(HWND hwnd, POINT client);
    // A point inside row `row`, in column `column`, on the screen.
    POINT CellPoint(HWND list, int row, int column);
    std::vector<ProcessRow> Rows();

    // Real input.
    void BringToFront();
    void Click(POINT screen, bool ctrl = false);
    void DoubleClick(POINT screen);
    void RightClick(POINT screen);
    void Key(WORD key, bool ctrl = false);
    // Waits until the window's thread has taken every input message from its queue and handled it.
    void WaitForInput();

    // The next message box of the window's thread; an empty window after the time-out.
    SeenBox WaitForBox(int milliseconds = 5000);
    void Dismiss(const SeenBox& box);
    // True when no message box of the window's thread is open.
    bool NoBox();

  private:
    // A press soon after another one near it would make a double click.
    void AwaitSingleClick(POINT screen);

    std::thread thread_;
    DWORD lastClickTime_ = 0;
    POINT lastClickPoint_{-1000, -1000};
    DWORD threadId_ = 0;
    HWND caller_ = nullptr;
    CVantrelDlg* dialog_ = nullptr;
    std::atomic<bool> ended_{false};
};

// A fresh folder of the test's own under the temporary folder, emptied when the program starts.
std::string TempFolder();
// Writes `content` (bytes as they are) into TempFolder()\name and returns the full path.
std::string WriteFile(const std::string& name, const std::string& content);
void AppendToFile(const std::string& path, const std::string& content);

// Log lines, CR LF ended. `creator` 0 means none.
std::string ProLine(uint32_t id, uint32_t creator, uint32_t pid, const std::string& path,
                    const std::string& handling = "system", const std::string& md5 = "",
                    const std::string& time = "2024-03-05 09:12:00");
std::string BehaviorLine(const char* tag, uint32_t actor, const std::string& time,
                         const std::string& info, const std::string& handling = "system");
std::string DieLine(uint32_t actor);

// The clipboard's UTF-16 text, and a marker put there before an action that should replace it.
std::wstring ClipboardText();
void SetClipboardMarker();
// GBK bytes as UTF-16, the way the clipboard should hold them.
std::wstring Wide(const std::string& gbk);

// The window as it is on the screen, frame included; saved as NAME.bmp into the folder that
// VANTREL_SHOT_DIR names, if it is set.
void KeepScreenshot(HWND window, const char* name);

// Reads of a log held back until a test lets them go: `allowed` reads may have been made (each
// waits up to 10 s for its turn), so a pass can be kept going for as long as a test needs.
struct ReadGate {
    std::atomic<int> allowed{0};
    std::atomic<int> reads{0};
};

class GatedReader : public LogFileReader {
  public:
    GatedReader(std::unique_ptr<LogFileReader> file, std::shared_ptr<ReadGate> gate)
        : file_(std::move(file)), gate_(std::move(gate)) {}
    bool Size(uint64_t& size) override { return file_->Size(size); }
    bool Seek(uint64_t offset) override { return file_->Seek(offset); }
    std::size_t Read(char* buffer, std::size_t size) override {
        for (int waited = 0; gate_->reads.load() >= gate_->allowed.load() && waited < 1000;
             ++waited) {
            ::Sleep(10);
        }
        ++gate_->reads;
        return file_->Read(buffer, size);
    }

  private:
    std::unique_ptr<LogFileReader> file_;
    std::shared_ptr<ReadGate> gate_;
};

class GatedSource : public LogFileSource {
  public:
    explicit GatedSource(std::shared_ptr<ReadGate> gate) : gate_(std::move(gate)) {}
    std::unique_ptr<LogFileReader> Open(const std::string& path) override {
        std::unique_ptr<LogFileReader> file = platform_->Open(path);
        return file ? std::make_unique<GatedReader>(std::move(file), gate_) : nullptr;
    }

  private:
    std::shared_ptr<LogFileSource> platform_ = MakePlatformLogFileSource();
    std::shared_ptr<ReadGate> gate_;
};

}  // namespace uitest
