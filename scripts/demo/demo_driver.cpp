// vantrel-demo: the real main window with a log dropped on it, for a look at the program on a
// machine without a user at the screen. It shows the window, drops the log the way the shell does
// (an HDROP in WM_DROPFILES), waits for the analysis, clicks the process with the most behaviours,
// saves a screenshot of the whole window as a 24-bit BMP, prints its path and closes the window.
//
//   vantrel-demo LOG SHOT.bmp [--drive C:=\Device\HarddiskVolume2]... [--hold SECONDS]
#include "ui/vantrel_dlg.h"

#include "res/resource.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    std::string log;
    std::string shot;
    std::shared_ptr<DriveTable> drives;
    int holdSeconds = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--drive" && i + 1 < argc) {
            const std::string mapping = argv[++i];
            const std::size_t equals = mapping.find('=');
            if (equals == std::string::npos) {
                return false;
            }
            if (!options.drives) {
                options.drives = std::make_shared<DriveTable>();
            }
            options.drives->Add(mapping.substr(0, equals), mapping.substr(equals + 1));
        } else if (arg == "--hold" && i + 1 < argc) {
            options.holdSeconds = std::atoi(argv[++i]);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        return false;
    }
    options.log = positional[0];
    options.shot = positional[1];
    return true;
}

bool WaitFor(const std::function<bool()>& done, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 20) {
        if (done()) {
            return true;
        }
        ::Sleep(20);
    }
    return done();
}

void PostDrop(HWND window, const std::string& path) {
    std::string names = path;
    names.append(2, '\0');
    const HGLOBAL block =
        ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size());
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size());
    ::GlobalUnlock(block);
    ::PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
}

void SendMouse(DWORD flags, POINT at = {}) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    if ((flags & MOUSEEVENTF_ABSOLUTE) != 0) {
        input.mi.dx = at.x * 65536 / ::GetSystemMetrics(SM_CXSCREEN);
        input.mi.dy = at.y * 65536 / ::GetSystemMetrics(SM_CYSCREEN);
    }
    ::SendInput(1, &input, sizeof(input));
}

// The row of the process with the most behaviours, read through the list and the store's lock.
int BusiestRow(CVantrelDlg& window, HWND list) {
    const int count = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int best = -1;
    std::size_t most = 0;
    for (int row = 0; row < count; ++row) {
        char id[32] = {};
        LVITEMA item{};
        item.iSubItem = 9;
        item.pszText = id;
        item.cchTextMax = sizeof(id);
        ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&item));
        const auto store = window.Analyzer().Store().Read();
        const ProcessRecord* record =
            store.FindProcess(static_cast<uint32_t>(std::strtoul(id, nullptr, 10)));
        if (record != nullptr && (best < 0 || record->behaviors.size() > most)) {
            best = row;
            most = record->behaviors.size();
        }
    }
    return best;
}

bool SaveWindow(HWND window, const std::string& path) {
    RECT r{};
    ::GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as the file wants it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + rowBytes * static_cast<DWORD>(height);
    bool saved = false;
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        saved = std::fwrite(&file, sizeof(file), 1, out) == 1 &&
                std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
                std::fwrite(bits, rowBytes * static_cast<DWORD>(height), 1, out) == 1;
        saved = std::fclose(out) == 0 && saved;
    }
    ::SelectObject(memory, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return saved;
}

// Drives the window from a thread of its own, as a user would; returns the process's exit code.
int Drive(CVantrelDlg& window, const Options& options) {
    // Found the way any other program would find it: the window belongs to the other thread.
    HWND hwnd = nullptr;
    if (!WaitFor(
            [&] {
                hwnd = ::FindWindowA("#32770", "Tesk为分析器2.1");
                return hwnd != nullptr && ::IsWindowVisible(hwnd);
            },
            10000)) {
        std::fprintf(stderr, "vantrel-demo: the main window did not appear\n");
        return 1;
    }
    const HWND list = ::GetDlgItem(hwnd, IDC_TREE_LIST);
    ::SetForegroundWindow(hwnd);
    PostDrop(hwnd, options.log);
    const bool analysed = WaitFor(
        [&] { return window.RebuildCount() >= 2 && window.Analyzer().progress.load() >= 100.0; },
        120000);
    ::Sleep(1300);  // one tick of the progress display
    if (!analysed) {
        std::fprintf(stderr, "vantrel-demo: %s was not analysed\n", options.log.c_str());
    }
    const int row = BusiestRow(window, list);
    if (row >= 0) {
        RECT cell{};
        cell.top = 3;
        cell.left = LVIR_LABEL;
        ::SendMessageA(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&cell));
        POINT at{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
        ::ClientToScreen(list, &at);
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, at);
        SendMouse(MOUSEEVENTF_LEFTDOWN);
        SendMouse(MOUSEEVENTF_LEFTUP);
        // Off the lists, so no tooltip or hot row covers them.
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, POINT{0, 0});
        ::Sleep(800);
    }
    const bool saved = SaveWindow(hwnd, options.shot);
    if (saved) {
        std::printf("%s\n", options.shot.c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "vantrel-demo: cannot write %s\n", options.shot.c_str());
    }
    ::Sleep(static_cast<DWORD>(options.holdSeconds) * 1000);
    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return saved && analysed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: vantrel-demo LOG SHOT.bmp [--drive C:=\\Device\\HarddiskVolume2]... "
                     "[--hold SECONDS]\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
    ::InitCommonControlsEx(&controls);
    MainWindowSeams seams;
    seams.analyzer.drives = options.drives;
    CVantrelDlg window(std::move(seams));
    int result = 1;
    std::thread driver([&] { result = Drive(window, options); });
    window.DoModal(nullptr);
    driver.join();
    return result;
}
