#include "tests/ui_win/main_window_run.h"

#include "res/resource.h"
#include "tests/win/gui_support.h"
#include "win/handles.h"

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

namespace uitest {
namespace {

constexpr UINT kCallMessage = WM_APP + 1;
constexpr char kCallerClass[] = "VantrelTestCaller";

LRESULT CALLBACK CallerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCallMessage) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND MakeCaller() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = CallerProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kCallerClass;
    ::RegisterClassA(&wc);  // fails harmlessly once registered
    return ::CreateWindowExA(0, kCallerClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             ::GetModuleHandleA(nullptr), nullptr);
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    ::SendInput(1, &input, sizeof(input));
}

void SendKey(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    ::SendInput(1, &input, sizeof(input));
}

struct BoxSearch {
    HWND mainWindow;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    char className[32] = {};
    ::GetClassNameA(hwnd, className, sizeof(className));
    if (hwnd != search->mainWindow && ::IsWindowVisible(hwnd) &&
        std::strcmp(className, "#32770") == 0) {
        search->found.push_back(hwnd);
    }
    return TRUE;
}

std::string WindowText(HWND hwnd) {
    char text[1024] = {};
    ::GetWindowTextA(hwnd, text, sizeof(text));
    return text;
}

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM data) {
    auto* box = reinterpret_cast<SeenBox*>(data);
    char className[32] = {};
    ::GetClassNameA(child, className, sizeof(className));
    if (std::strcmp(className, "Static") != 0) {
        return TRUE;
    }
    const HICON information = ::LoadIconA(nullptr, IDI_INFORMATION);
    if (reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0)) == information) {
        box->informationIcon = true;
    }
    const std::string text = WindowText(child);
    if (text.size() > box->text.size()) {
        box->text = text;
    }
    return TRUE;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (done()) {
            return true;
        }
        if (static_cast<int>(::GetTickCount() - start) > milliseconds) {
            return false;
        }
        ::Sleep(10);
    }
}

MainWindowSeams MainWindowRun::TestSeams() {
    MainWindowSeams seams;
    seams.analyzer.drives = std::make_shared<DriveTable>();
    seams.analyzer.throttle = std::chrono::milliseconds(50);
    return seams;
}

MainWindowRun::MainWindowRun(MainWindowSeams seams) {
    std::promise<void> ready;
    std::future<void> started = ready.get_future();
    thread_ = std::thread([this, &ready, seams = std::move(seams)]() mutable {
        threadId_ = ::GetCurrentThreadId();
        caller_ = MakeCaller();
        auto dialog = std::make_unique<CVantrelDlg>(std::move(seams));
        dialog_ = dialog.get();
        ready.set_value();
        dialog->DoModal(nullptr);
        // No call may reach the window object once it is going.
        ::DestroyWindow(caller_);
        dialog.reset();
        ended_ = true;
    });
    started.wait();
    WaitUntil([this] {
        Call([this](CVantrelDlg& d) { window = d.Handle(); });
        return window != nullptr && ::IsWindowVisible(window);
    });
    Call([this](CVantrelDlg& d) {
        tree = d.TreeList().Handle();
        behaviors = d.BehaviorList().Handle();
        status = d.StatusBar().Handle();
    });
    BringToFront();
}

MainWindowRun::~MainWindowRun() {
    if (Running()) {
        // Whatever is open over the window goes first, then the window itself.
        for (int i = 0; i < 5 && !NoBox(); ++i) {
            Dismiss(WaitForBox(100));
        }
        ::PostMessageA(window, WM_CLOSE, 0, 0);
    }
    if (!WaitForEnd(20000)) {
        ADD_FAILURE() << "the main window did not end";
        std::terminate();  // a window thread that does not end would hang the whole run
    }
    thread_.join();
}

void MainWindowRun::Call(const std::function<void(CVantrelDlg&)>& work) {
    if (ended_) {
        return;
    }
    const std::function<void()> bound = [&] { work(*dialog_); };
    ::SendMessageA(caller_, kCallMessage, 0, reinterpret_cast<LPARAM>(&bound));
}

void MainWindowRun::Drop(const std::vector<std::string>& paths) {
    std::string names;
    for (const std::string& path : paths) {
        names += path;
        names += '\0';
    }
    names += '\0';
    const HGLOBAL block =
        ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size());
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size());
    ::GlobalUnlock(block);
    ::PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
}

void MainWindowRun::DropWide(const std::vector<std::wstring>& paths) {
    std::wstring names;
    for (const std::wstring& path : paths) {
        names += path;
        names += L'\0';
    }
    names += L'\0';
    const std::size_t bytes = names.size() * sizeof(wchar_t);
    const HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + bytes);
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), bytes);
    ::GlobalUnlock(block);
    ::PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
}

int MainWindowRun::Rebuilds() {
    int count = 0;
    Call([&](CVantrelDlg& d) { count = d.RebuildCount(); });
    return count;
}

bool MainWindowRun::WaitForRebuilds(int count, int milliseconds) {
    return WaitUntil([&] { return Rebuilds() >= count; }, milliseconds);
}

bool MainWindowRun::DropAndWait(const std::string& path) {
    // A drop of another file rebuilds at once (the emptied store), and again after its pass.
    int before = Rebuilds();
    bool otherFile = false;
    Call([&](CVantrelDlg& d) { otherFile = d.Analyzer().LogPath() != path; });
    Drop({path});
    return WaitForRebuilds(before + (otherFile ? 2 : 1));
}

bool MainWindowRun::WaitForEnd(int milliseconds) {
    return WaitUntil([this] { return ended_.load(); }, milliseconds);
}

int MainWindowRun::ItemCount(HWND list) {
    return static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

std::string MainWindowRun::Text(HWND list, int item, int subItem) {
    std::vector<char> buffer(4096, '\0');
    LVITEMA request{};
    request.iSubItem = subItem;
    request.pszText = buffer.data();
    request.cchTextMax = static_cast<int>(buffer.size());
    ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                   reinterpret_cast<LPARAM>(&request));
    return std::string(request.pszText != nullptr ? request.pszText : "");
}

std::vector<std::string> MainWindowRun::Column(HWND list, int subItem) {
    std::vector<std::string> texts;
    const int count = ItemCount(list);
    for (int i = 0; i < count; ++i) {
        texts.push_back(Text(list, i, subItem));
    }
    return texts;
}

int MainWindowRun::FirstSelected(HWND list) {
    return static_cast<int>(::SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                           MAKELPARAM(LVNI_SELECTED, 0)));
}

std::string MainWindowRun::Pane(int pane) {
    char text[512] = {};
    const auto length = LOWORD(::SendMessageA(status, SB_GETTEXTLENGTHA, pane, 0));
    if (length >= sizeof(text)) {
        return "<too long>";
    }
    ::SendMessageA(status, SB_GETTEXTA, pane, reinterpret_cast<LPARAM>(text));
    return text;
}

RECT MainWindowRun::Label(int row) {
    RECT r{};
    r.left = LVIR_LABEL;
    ::SendMessageA(tree, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    return r;
}

RECT MainWindowRun::FoldBoxPlace(int row) {
    RECT box{};
    Call([&](CVantrelDlg& d) { box = d.TreeList().FoldBoxPlace(row); });
    return box;
}

POINT MainWindowRun::BoxPoint(int row) {
    const RECT box = FoldBoxPlace(row);
    return OnScreen(tree, POINT{(box.left + box.right) / 2, (box.top + box.bottom) / 2});
}

POINT MainWindowRun::OnScreen(HWND hwnd, POINT client) {
    ::ClientToScreen(hwnd, &client);
    return client;
}

POINT MainWindowRun::CellPoint(HWND list, int row, int column) {
    RECT r{};
    r.top = column;
    r.left = LVIR_LABEL;
    ::SendMessageA(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&r));
    return OnScreen(list, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

std::vector<ProcessRow> MainWindowRun::Rows() {
    std::vector<ProcessRow> rows;
    Call([&](CVantrelDlg& d) { rows = d.TreeList().rows; });
    return rows;
}

void MainWindowRun::BringToFront() {
    Call([](CVantrelDlg& d) {
        ::SetForegroundWindow(d.Handle());
        ::SetActiveWindow(d.Handle());
    });
    ::Sleep(50);
}

void MainWindowRun::AwaitSingleClick(POINT screen) {
    const int slackX = ::GetSystemMetrics(SM_CXDOUBLECLK);
    const int slackY = ::GetSystemMetrics(SM_CYDOUBLECLK);
    if (std::abs(screen.x - lastClickPoint_.x) <= slackX &&
        std::abs(screen.y - lastClickPoint_.y) <= slackY) {
        const DWORD since = ::GetTickCount() - lastClickTime_;
        const DWORD needed = ::GetDoubleClickTime() + 50;
        if (since < needed) {
            ::Sleep(needed - since);
        }
    }
    lastClickPoint_ = screen;
    lastClickTime_ = ::GetTickCount();
}

void MainWindowRun::Click(POINT screen, bool ctrl) {
    AwaitSingleClick(screen);
    guitest::MouseMoveTo(screen);
    if (ctrl) {
        SendKey(VK_CONTROL, false);
    }
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
    if (ctrl) {
        SendKey(VK_CONTROL, true);
    }
    WaitForInput();
}

void MainWindowRun::DoubleClick(POINT screen) {
    AwaitSingleClick(screen);
    lastClickPoint_ = POINT{-1000, -1000};
    guitest::MouseMoveTo(screen);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
    WaitForInput();
}

void MainWindowRun::RightClick(POINT screen) {
    AwaitSingleClick(screen);
    guitest::MouseMoveTo(screen);
    SendMouse(MOUSEEVENTF_RIGHTDOWN);
    SendMouse(MOUSEEVENTF_RIGHTUP);
    WaitForInput();
}

void MainWindowRun::Key(WORD key, bool ctrl) {
    if (ctrl) {
        SendKey(VK_CONTROL, false);
    }
    SendKey(key, false);
    SendKey(key, true);
    if (ctrl) {
        SendKey(VK_CONTROL, true);
    }
    WaitForInput();
}

void MainWindowRun::WaitForInput() {
    ::Sleep(30);
    WaitUntil(
        [this] {
            DWORD pending = 0;
            Call([&](CVantrelDlg&) { pending = HIWORD(::GetQueueStatus(QS_INPUT)); });
            return (pending & QS_INPUT) == 0;
        },
        3000);
    Call([](CVantrelDlg&) {});
}

SeenBox MainWindowRun::WaitForBox(int milliseconds) {
    SeenBox box;
    WaitUntil(
        [&] {
            BoxSearch search{window, {}};
            ::EnumThreadWindows(threadId_, CollectBox, reinterpret_cast<LPARAM>(&search));
            if (search.found.empty()) {
                return false;
            }
            box.window = search.found.front();
            return true;
        },
        milliseconds);
    if (box.window != nullptr) {
        ::Sleep(50);  // let it finish laying out its texts
        box.owner = ::GetWindow(box.window, GW_OWNER);
        box.caption = WindowText(box.window);
        ::EnumChildWindows(box.window, ReadBoxChild, reinterpret_cast<LPARAM>(&box));
    }
    return box;
}

void MainWindowRun::Dismiss(const SeenBox& box) {
    if (box.window == nullptr) {
        return;
    }
    ::PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ::PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    WaitUntil([&] { return !::IsWindow(box.window); }, 3000);
}

bool MainWindowRun::NoBox() {
    BoxSearch search{window, {}};
    ::EnumThreadWindows(threadId_, CollectBox, reinterpret_cast<LPARAM>(&search));
    return search.found.empty();
}

std::string TempFolder() {
    static const std::string folder = [] {
        char base[MAX_PATH] = {};
        ::GetTempPathA(sizeof(base), base);
        std::string path =
            std::string(base) + "vantrel-ui-" + std::to_string(::GetCurrentProcessId());
        ::CreateDirectoryA(path.c_str(), nullptr);
        return path;
    }();
    return folder;
}

std::string WriteFile(const std::string& name, const std::string& content) {
    const std::string path = TempFolder() + "\\" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    return path;
}

void AppendToFile(const std::string& path, const std::string& content) {
    FILE* f = std::fopen(path.c_str(), "ab");
    if (f != nullptr) {
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
}

std::string ProLine(uint32_t id, uint32_t creator, uint32_t pid, const std::string& path,
                    const std::string& handling, const std::string& md5, const std::string& time) {
    const std::size_t slash = path.rfind('\\');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return "[PRO]|" + time + "|0|" + std::to_string(creator) + "|" + std::to_string(id) + "/" +
           std::to_string(pid) + "/" + path + "/" + name + " -run/4096/5E8F1A2B/" + md5 + "|" +
           handling + "\r\n";
}

std::string BehaviorLine(const char* tag, uint32_t actor, const std::string& time,
                         const std::string& info, const std::string& handling) {
    return std::string(tag) + "|" + time + "|0|" + std::to_string(actor) + "|" + info + "|" +
           handling + "\r\n";
}

std::string DieLine(uint32_t actor) {
    return "[PRO_DIE]|2024-03-05 10:00:00|0|" + std::to_string(actor) + "||system\r\n";
}

std::wstring ClipboardText() {
    std::wstring text = L"<no text>";
    for (int attempt = 0; attempt < 50 && !::OpenClipboard(nullptr); ++attempt) {
        ::Sleep(20);
    }
    if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
            text = chars;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

void SetClipboardMarker() {
    for (int attempt = 0; attempt < 50 && !::OpenClipboard(nullptr); ++attempt) {
        ::Sleep(20);
    }
    ::EmptyClipboard();
    const wchar_t marker[] = L"marker";
    const HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, sizeof(marker));
    std::memcpy(::GlobalLock(block), marker, sizeof(marker));
    ::GlobalUnlock(block);
    ::SetClipboardData(CF_UNICODETEXT, block);
    ::CloseClipboard();
}

std::wstring Wide(const std::string& gbk) {
    std::wstring wide(gbk.size() + 1, L'\0');
    const int length = ::MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()),
                                             wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return wide;
}

void KeepScreenshot(HWND window, const char* name) {
    RECT r{};
    ::GetWindowRect(window, &r);
    win::WindowDc screen(nullptr);
    guitest::Pixels::OfDc(screen.Get(), r).Keep(name);
}

}  // namespace uitest
