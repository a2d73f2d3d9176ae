// vantrel-bench-window: the real main window with a big log, timed as an analyst uses it. It writes
// a log of many processes with the generator (or takes one), drops it on the window, waits for the
// analysis, then times real input (SendInput) from the moment it is sent until the window's thread
// has handled it and repainted both lists: a click on a row, arrow keys, Page Down, End and Home, a
// fold and an unfold by the box, F5; and, apart, the behaviour list following the focus row once
// the keys have settled. With --count it also counts the messages each action cost (a message hook
// slows every message down, so counts and times come from separate runs).
//
//   vantrel-bench-window [--processes 100000] [--mib 64] [--log LOG] [--count]
//                        [--only click|keys|fold|jump|F5] [--pause-ms MS]
#include "bench/log_generator.h"
#include "res/resource.h"
#include "ui/vantrel_dlg.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    uint32_t processes = 100000;
    uint64_t mib = 64;
    std::string log;
    bool count = false;
    // Empty runs every action; otherwise only "click", "keys", "fold", "jump" or "F5".
    std::string only;
    // A pause after loading, to attach a profiler to the window's thread.
    int pauseMs = 0;
    bool Runs(const char* action) const { return only.empty() || only == action; }
};

constexpr UINT kCallMessage = WM_APP + 1;

LRESULT CALLBACK CallerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCallMessage) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

// Messages of the window's thread, counted by a hook while an action runs, in all and by kind
// (message number, and the notification code of a WM_NOTIFY).
long g_messages = 0;
std::map<std::pair<UINT, UINT>, long> g_kinds;

void CountMessage(UINT message, LPARAM lParam) {
    ++g_messages;
    const UINT code = message == WM_NOTIFY ? reinterpret_cast<const NMHDR*>(lParam)->code : 0;
    ++g_kinds[{message, code}];
}

LRESULT CALLBACK CountSent(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        CountMessage(sent->message, sent->lParam);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK CountPosted(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        const auto* posted = reinterpret_cast<const MSG*>(lParam);
        CountMessage(posted->message, posted->lParam);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// The kinds of message an action cost most of, as "message[/code] x count".
std::string CommonestKinds() {
    std::vector<std::pair<long, std::pair<UINT, UINT>>> byCount;
    for (const auto& [kind, count] : g_kinds) {
        byCount.emplace_back(count, kind);
    }
    std::sort(byCount.rbegin(), byCount.rend());
    std::string text;
    for (std::size_t i = 0; i < byCount.size() && i < 4; ++i) {
        char item[64];
        const auto [message, code] = byCount[i].second;
        if (message == WM_NOTIFY) {
            std::snprintf(item, sizeof(item), " 0x%X/%d x%ld", message, static_cast<int>(code),
                          byCount[i].first);
        } else {
            std::snprintf(item, sizeof(item), " 0x%X x%ld", message, byCount[i].first);
        }
        text += item;
    }
    return text;
}

double Now() {
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

class Driver {
  public:
    Driver(CVantrelDlg& window, HWND caller, const Options& options)
        : window_(window), caller_(caller), options_(options) {}

    int Run();

  private:
    // Runs `work` on the window's thread between two of its messages.
    void Call(const std::function<void()>& work) {
        ::SendMessageA(caller_, kCallMessage, 0, reinterpret_cast<LPARAM>(&work));
    }
    // Waits until the window's thread has taken and handled all its input, then has it paint.
    void Settle() {
        for (int i = 0; i < 100000; ++i) {
            DWORD pending = 0;
            Call([&] { pending = HIWORD(::GetQueueStatus(QS_INPUT)); });
            if ((pending & QS_INPUT) == 0) {
                break;
            }
            ::Sleep(0);
        }
        Call([&] {
            ::UpdateWindow(tree_);
            ::UpdateWindow(behaviors_);
        });
    }
    void Mouse(DWORD flags, POINT at = {}) {
        INPUT input{};
        input.type = INPUT_MOUSE;
        input.mi.dwFlags = flags;
        if ((flags & MOUSEEVENTF_ABSOLUTE) != 0) {
            input.mi.dx = (at.x * 65536 + 32768) / ::GetSystemMetrics(SM_CXSCREEN);
            input.mi.dy = (at.y * 65536 + 32768) / ::GetSystemMetrics(SM_CYSCREEN);
        }
        ::SendInput(1, &input, sizeof(input));
    }
    void Key(WORD key) {
        INPUT inputs[2]{};
        inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
        inputs[0].ki.wVk = inputs[1].ki.wVk = key;
        inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, inputs, sizeof(INPUT));
    }
    // Puts the pointer on `screen` long enough after the last click that the next one is no
    // double click; not part of the time of the click.
    void PointAt(POINT screen) {
        ::Sleep(::GetDoubleClickTime() + 20);
        Mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, screen);
        Settle();
    }
    void Press() {
        Mouse(MOUSEEVENTF_LEFTDOWN);
        Mouse(MOUSEEVENTF_LEFTUP);
    }
    POINT CellPoint(int row, int column) {
        RECT r{};
        r.top = column;
        r.left = LVIR_LABEL;
        ::SendMessageA(tree_, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&r));
        POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ::ClientToScreen(tree_, &p);
        return p;
    }
    // Times one action: from sending its input until it is handled and painted.
    double Time(const char* name, const std::function<void()>& send) {
        long messages = 0;
        if (options_.count) {
            Call([&] {
                g_messages = 0;
                g_kinds.clear();
            });
        }
        const double start = Now();
        send();
        Settle();
        const double elapsed = Now() - start;
        if (options_.count) {
            std::string kinds;
            Call([&] {
                messages = g_messages;
                kinds = CommonestKinds();
            });
            std::printf("  %-10s %8.1f ms  %8ld messages:%s\n", name, elapsed, messages,
                        kinds.c_str());
        }
        samples_[name].push_back(elapsed);
        return elapsed;
    }
    void Report();

    CVantrelDlg& window_;
    HWND caller_;
    const Options& options_;
    HWND hwnd_ = nullptr;
    HWND tree_ = nullptr;
    HWND behaviors_ = nullptr;
    std::vector<std::pair<std::string, std::vector<double>>> order_;
    struct Samples {
        std::vector<std::pair<std::string, std::vector<double>>>& all;
        std::vector<double>& operator[](const std::string& name) {
            for (auto& [key, values] : all) {
                if (key == name) {
                    return values;
                }
            }
            all.emplace_back(name, std::vector<double>{});
            return all.back().second;
        }
    } samples_{order_};
};

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

int Driver::Run() {
    for (int i = 0; i < 500 && hwnd_ == nullptr; ++i) {
        Call([&] { hwnd_ = window_.Handle(); });
        ::Sleep(20);
    }
    if (hwnd_ == nullptr) {
        std::fprintf(stderr, "vantrel-bench-window: the window did not appear\n");
        return 1;
    }
    tree_ = ::GetDlgItem(hwnd_, IDC_TREE_LIST);
    behaviors_ = ::GetDlgItem(hwnd_, IDC_BEHAVIOR_LIST);
    Call([&] { ::SetForegroundWindow(hwnd_); });

    const double loadStart = Now();
    PostDrop(hwnd_, options_.log);
    for (int i = 0; i < 6000; ++i) {
        if (window_.RebuildCount() >= 2 && window_.Analyzer().progress.load() >= 100.0) {
            break;
        }
        ::Sleep(50);
    }
    const int rows = static_cast<int>(::SendMessageA(tree_, LVM_GETITEMCOUNT, 0, 0));
    std::printf("log %s: %d rows, loaded in %.1f s\n", options_.log.c_str(), rows,
                (Now() - loadStart) / 1000.0);
    if (rows < 100) {
        std::fprintf(stderr, "vantrel-bench-window: too few rows\n");
        return 1;
    }
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(options_.pauseMs));
    if (options_.count) {
        Call([&] {
            ::SetWindowsHookExA(WH_CALLWNDPROC, CountSent, nullptr, ::GetCurrentThreadId());
            ::SetWindowsHookExA(WH_GETMESSAGE, CountPosted, nullptr, ::GetCurrentThreadId());
        });
    }

    // A click in the middle of the view chooses a row and gives the list the keys.
    for (int i = 0; i < 5; ++i) {
        PointAt(CellPoint(4 + i, 3));
        Time("click", [&] { Press(); });
    }
    // Keys that never reached the list would time nothing: say where the focus row went.
    const auto focusRow = [&] {
        int row = -1;
        Call([&] { row = ListView_GetNextItem(tree_, -1, LVNI_FOCUSED); });
        return row;
    };
    const int focusBefore = focusRow();
    bool listHasKeys = false;
    Call([&] {
        listHasKeys = ::GetFocus() == tree_;
        char focusClass[64] = {};
        ::GetClassNameA(::GetFocus(), focusClass, sizeof(focusClass));
        std::printf(
            "after the clicks: focus %p (%s), active %p, foreground %p, window %p, list %p\n",
            static_cast<void*>(::GetFocus()), focusClass, static_cast<void*>(::GetActiveWindow()),
            static_cast<void*>(::GetForegroundWindow()), static_cast<void*>(hwnd_),
            static_cast<void*>(tree_));
    });
    for (int i = 0; i < 10 && options_.Runs("keys"); ++i) {
        Time("down", [&] { Key(VK_DOWN); });
    }
    if (options_.Runs("keys")) {
        std::printf(
            "keys: the list %s the keyboard focus; 10 x down moved the focus row %d -> %d\n",
            listHasKeys ? "has" : "has NOT", focusBefore, focusRow());
    }
    for (int i = 0; i < 10 && options_.Runs("keys"); ++i) {
        Time("up", [&] { Key(VK_UP); });
    }
    for (int i = 0; i < 3 && options_.Runs("keys"); ++i) {
        Time("page down", [&] { Key(VK_NEXT); });
    }
    if (options_.Runs("keys")) {
        Time("end", [&] { Key(VK_END); });
        Time("home", [&] { Key(VK_HOME); });
    }
    // The behaviour list follows once the keys settle.
    for (int i = 0; i < 5 && options_.Runs("keys"); ++i) {
        Call([&] {
            const double start = Now();
            window_.ShowFocusedBehaviors();
            ::UpdateWindow(behaviors_);
            samples_["follow"].push_back(Now() - start);
        });
        Key(VK_DOWN);
        Settle();
    }

    // Fold and unfold the visible row with the biggest subtree whose box is inside column 0.
    int best = -1;
    int biggest = 0;
    const int top = static_cast<int>(::SendMessageA(tree_, LVM_GETTOPINDEX, 0, 0));
    const int perPage = static_cast<int>(::SendMessageA(tree_, LVM_GETCOUNTPERPAGE, 0, 0));
    const int column0 = ListView_GetColumnWidth(tree_, 0);
    Call([&] {
        for (int i = top; i < std::min(rows, top + perPage); ++i) {
            const ProcessRow& row = window_.TreeList().rows[static_cast<std::size_t>(i)];
            if (row.expandState == ExpandState::kExpanded && row.indent * 8 + 40 < column0 &&
                row.descendantCount > biggest) {
                best = i;
                biggest = row.descendantCount;
            }
        }
    });
    if (best >= 0 && options_.Runs("fold")) {
        RECT label{};
        label.left = LVIR_LABEL;
        ::SendMessageA(tree_, LVM_GETITEMRECT, static_cast<WPARAM>(best),
                       reinterpret_cast<LPARAM>(&label));
        int indent = 0;
        Call([&] { indent = window_.TreeList().rows[static_cast<std::size_t>(best)].indent; });
        POINT box{label.left + 8 * indent - 12, (label.top + label.bottom) / 2 - 1};
        ::ClientToScreen(tree_, &box);
        std::printf("fold: row %d with %d descendants\n", best, biggest);
        for (int i = 0; i < 3; ++i) {
            PointAt(box);
            Time("fold", [&] { Press(); });
            PointAt(box);
            Time("unfold", [&] { Press(); });
        }
    }
    // Find (Ctrl+F's next hit) and the search window's jump, to rows far down the list, with a
    // row selected before each, as an analyst has.
    for (int i = 0; i < 3 && options_.Runs("jump"); ++i) {
        std::string name;
        BehaviorHit hit;
        Call([&] {
            const auto& rows = window_.TreeList().rows;
            const std::size_t deep = rows.size() - 1 - static_cast<std::size_t>(i) * 7;
            name = rows[deep].name;
            const auto store = window_.Analyzer().Store().Read();
            hit.process = store.FindProcess(static_cast<uint32_t>(rows[deep / 2].id));
        });
        PointAt(CellPoint(4 + i, 3));
        Press();
        Settle();
        Time("find", [&] { Call([&] { window_.FindProcessByName(name, 1); }); });
        if (hit.process != nullptr) {
            Time("jump", [&] { Call([&] { window_.JumpToHit(hit); }); });
        }
    }
    for (int i = 0; i < 2 && options_.Runs("F5"); ++i) {
        const int before = window_.RebuildCount();
        Time("F5", [&] {
            Key(VK_F5);
            for (int k = 0; k < 2000 && window_.RebuildCount() == before; ++k) {
                ::Sleep(1);
            }
        });
    }
    Report();
    ::PostMessageA(hwnd_, WM_CLOSE, 0, 0);
    return 0;
}

void Driver::Report() {
    std::printf("%-10s %9s %9s %9s  (ms, from input sent to painted)\n", "action", "best", "median",
                "worst");
    for (auto& [name, values] : order_) {
        std::sort(values.begin(), values.end());
        std::printf("%-10s %9.1f %9.1f %9.1f\n", name.c_str(), values.front(),
                    values[values.size() / 2], values.back());
    }
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--processes" && i + 1 < argc) {
            options.processes = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--mib" && i + 1 < argc) {
            options.mib = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--log" && i + 1 < argc) {
            options.log = argv[++i];
        } else if (arg == "--count") {
            options.count = true;
        } else if (arg == "--only" && i + 1 < argc) {
            options.only = argv[++i];
        } else if (arg == "--pause-ms" && i + 1 < argc) {
            options.pauseMs = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    return options.processes > 0 && options.mib > 0;
}

bool WriteLog(const Options& options, const std::string& path) {
    LogShape shape;
    shape.bytes = options.mib << 20;
    shape.processes = options.processes;
    LogGenerator generator(shape);
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    std::string chunk;
    bool more = true;
    while (more) {
        chunk.clear();
        while (chunk.size() < (1 << 20) && (more = generator.Next(chunk))) {
        }
        std::fwrite(chunk.data(), 1, chunk.size(), out);
    }
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: vantrel-bench-window [--processes N] [--mib M] [--log LOG] "
                     "[--count] [--only click|keys|fold|jump|F5] [--pause-ms MS]\n");
        return 2;
    }
    std::string written;
    if (options.log.empty()) {
        char folder[MAX_PATH] = {};
        ::GetTempPathA(sizeof(folder), folder);
        written =
            std::string(folder) + "vantrel-bench-" + std::to_string(options.processes) + ".log";
        const double start = Now();
        if (!WriteLog(options, written)) {
            std::fprintf(stderr, "vantrel-bench-window: cannot write %s\n", written.c_str());
            return 1;
        }
        std::printf("wrote %s in %.1f s\n", written.c_str(), (Now() - start) / 1000.0);
        options.log = written;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
    ::InitCommonControlsEx(&controls);
    WNDCLASSA wc{};
    wc.lpfnWndProc = CallerProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "VantrelBenchCaller";
    ::RegisterClassA(&wc);
    const HWND caller = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, wc.hInstance, nullptr);
    int result = 1;
    {
        CVantrelDlg window;
        Driver driver(window, caller, options);
        std::thread thread([&] { result = driver.Run(); });
        window.DoModal(nullptr);
        thread.join();
    }
    ::DestroyWindow(caller);
    if (!written.empty()) {
        ::DeleteFileA(written.c_str());
    }
    return result;
}
