#include "ui/search_window.h"

#include "engine/behavior_tag.h"
#include "engine/log_analyzer.h"
#include "engine/text.h"
#include "res/resource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kCaption[] = "系统提示：";
// Well under the 10 ms the follower and the window may wait for the lock, also when the searching
// thread loses its processor in the middle of a piece.
constexpr auto kSlice = std::chrono::milliseconds(2);

struct Column {
    const char* title;
    int width;
};
constexpr Column kColumns[] = {{"进程", 120}, {"PID", 50},  {"时间", 130},
                               {"行为", 80},  {"处理", 60}, {"信息", 400}};

std::wstring WideOf(std::string_view gbk) {
    std::wstring wide(gbk.size() + 1, L'\0');
    const int length = ::MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()),
                                             wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return wide;
}

}  // namespace

CSearchWindow::CSearchWindow(LogAnalyzer& analyzer, std::function<void(const BehaviorHit&)> jump)
    : Dialog(IDD_SEARCH), analyzer_(analyzer), jump_(std::move(jump)) {}

CSearchWindow::~CSearchWindow() {
    CancelSearch();
    if (Handle() != nullptr) {
        ::DestroyWindow(Handle());
    }
}

void CSearchWindow::ShowFront(HWND owner) {
    if (Handle() == nullptr && !CreateModeless(owner)) {
        return;
    }
    Show(SW_SHOW);
    ::SetForegroundWindow(hwnd_);
    ::SetActiveWindow(hwnd_);
    ::SetFocus(Item(IDC_SEARCH_TEXT).Handle());
}

bool CSearchWindow::TranslateKeys(MSG& message) {
    if (hwnd_ == nullptr || !::IsWindowVisible(hwnd_) ||
        (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd))) {
        return false;
    }
    if (message.message == WM_KEYDOWN && message.wParam == 'C' &&
        (::GetKeyState(VK_CONTROL) & 0x8000) != 0 &&
        message.hwnd == Item(IDC_SEARCH_LIST).Handle()) {
        CopySelected();
        return true;
    }
    return ::IsDialogMessageA(hwnd_, &message) != FALSE;
}

bool CSearchWindow::OnInitDialog() {
    const HWND list = Item(IDC_SEARCH_LIST).Handle();
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<char*>(kColumns[i].title);
        ::SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(&column));
    }
    ListView_SetExtendedListViewStyle(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    const HWND actions = Item(IDC_SEARCH_ACTION).Handle();
    ::SendMessageA(actions, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("全部"));
    for (const BehaviorTag& tag : BehaviorTags()) {
        const std::string label(tag.label);
        if (!label.empty() && ::SendMessageA(actions, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(label.c_str())) == CB_ERR) {
            ::SendMessageA(actions, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
        }
    }
    ::SendMessageA(actions, CB_SETCURSEL, 0, 0);
    const RECT client = ClientRect();
    Layout(client.right, client.bottom);
    ShowStatus();
    return true;
}

void CSearchWindow::Layout(int cx, int cy) {
    const win::Window list = Item(IDC_SEARCH_LIST);
    const win::Window status = Item(IDC_SEARCH_STATUS);
    if (!list || !status) {
        return;
    }
    const RECT listRect = list.WindowRectIn(hwnd_);
    const int left = static_cast<int>(listRect.left);
    const int top = static_cast<int>(listRect.top);
    // The button keeps its size at the bottom right, beside the status line.
    int bottom = 26;
    int buttonWidth = 0;
    if (const win::Window button = Item(IDC_SEARCH_SHOW_ONLY)) {
        const RECT r = button.WindowRectIn(hwnd_);
        buttonWidth = static_cast<int>(r.right - r.left);
        const int height = static_cast<int>(r.bottom - r.top);
        bottom = std::max(bottom, height + 6);
        button.Move(cx - left - buttonWidth, cy - height - 3, buttonWidth, height);
        buttonWidth += 6;
    }
    list.Move(left, top, std::max(cx - 2 * left, 0), std::max(cy - top - bottom, 0));
    status.Move(left, cy - 22, std::max(cx - 2 * left - buttonWidth, 0), 18);
}

win::MessageWindow::Result CSearchWindow::OnSize(UINT type, SIZE size) {
    if (type != SIZE_MINIMIZED) {
        Layout(size.cx, size.cy);
    }
    return {};
}

bool CSearchWindow::PatternFromBox(std::string& gbk) {
    const HWND box = Item(IDC_SEARCH_TEXT).Handle();
    const int length = ::GetWindowTextLengthW(box);
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    wide.resize(static_cast<std::size_t>(
        ::GetWindowTextW(box, wide.data(), static_cast<int>(wide.size()))));
    if (wide.empty()) {
        ::MessageBoxA(hwnd_, "请输入要搜索的内容。", kCaption, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    BOOL usedDefault = FALSE;
    const int size =
        ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                              nullptr, 0, nullptr, &usedDefault);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                              out.data(), size, nullptr, &usedDefault);
    }
    if (size <= 0 || usedDefault) {
        ::MessageBoxA(hwnd_, "搜索内容含有GBK编码无法表示的字符，请修改后再搜索。", kCaption,
                      MB_OK | MB_ICONWARNING);
        return false;
    }
    gbk = std::move(out);
    return true;
}

bool CSearchWindow::StartSearch() {
    std::string pattern;
    if (!PatternFromBox(pattern)) {
        return false;
    }
    CancelSearch();
    hits_.clear();
    processes_.clear();
    sortColumn_ = -1;
    ListView_SetItemCountEx(Item(IDC_SEARCH_LIST).Handle(), 0, 0);

    BehaviorQuery query;
    const bool matchCase =
        ::SendMessageA(Item(IDC_SEARCH_CASE).Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
    searched_ = pattern;
    query.pattern = SearchPattern(std::move(pattern), matchCase);
    const HWND actions = Item(IDC_SEARCH_ACTION).Handle();
    const auto choice = static_cast<int>(::SendMessageA(actions, CB_GETCURSEL, 0, 0));
    if (choice > 0) {
        char label[64] = {};
        if (::SendMessageA(actions, CB_GETLBTEXTLEN, static_cast<WPARAM>(choice), 0) <
            static_cast<LRESULT>(sizeof(label))) {
            ::SendMessageA(actions, CB_GETLBTEXT, static_cast<WPARAM>(choice),
                           reinterpret_cast<LPARAM>(label));
            query.actions.push_back(label);
        }
    }
    {
        totalBehaviors_ = 0;
        analyzer_.Store().Read().ForEachProcessInTreeOrder(
            [&](const ProcessRecord& p) { totalBehaviors_ += p.behaviors.size(); });
    }
    const uint64_t serial = ++serial_;
    cancel_ = false;
    searchedBehaviors_ = 0;
    running_ = true;
    const HWND target = hwnd_;
    worker_ = std::thread([this, serial, target, query = std::move(query)]() mutable {
        BehaviorSearch search(std::move(query));
        SearchInSlices(analyzer_, search, kSlice, cancel_, [&](std::vector<BehaviorHit>& piece) {
            searchedBehaviors_ = search.BehaviorsSearched();
            {
                std::lock_guard pending(pendingMutex_);
                pending_.insert(pending_.end(), piece.begin(), piece.end());
            }
            ::PostMessageA(target, WM_SEARCH_HITS, static_cast<WPARAM>(serial), 0);
        });
        ::PostMessageA(target, WM_SEARCH_HITS, static_cast<WPARAM>(serial), 1);
    });
    ShowStatus();
    return true;
}

void CSearchWindow::CancelSearch() {
    if (!worker_.joinable()) {
        return;
    }
    // The thread checks the flag every few hundred behaviours, and never waits for this one.
    cancel_ = true;
    ++serial_;
    worker_.join();
    running_ = false;
    std::lock_guard pending(pendingMutex_);
    pending_.clear();
}

void CSearchWindow::StoreClearing() {
    CancelSearch();
    hits_.clear();
    processes_.clear();
    if (hwnd_ != nullptr) {
        ListView_SetItemCountEx(Item(IDC_SEARCH_LIST).Handle(), 0, 0);
        ShowStatus();
    }
}

void CSearchWindow::TakePendingHits(uint64_t serial) {
    if (serial != serial_.load()) {
        return;  // a cancelled search's
    }
    std::vector<BehaviorHit> batch;
    {
        std::lock_guard pending(pendingMutex_);
        batch.swap(pending_);
    }
    for (const BehaviorHit& hit : batch) {
        processes_.insert(hit.process);
    }
    const std::size_t old = hits_.size();
    hits_.insert(hits_.end(), batch.begin(), batch.end());
    if (sortColumn_ >= 0 && !batch.empty()) {
        const int column = sortColumn_;
        sortAscending_ = !sortAscending_;  // SortBy flips it back
        SortBy(column);
    }
    if (hits_.size() != old) {
        ListView_SetItemCountEx(Item(IDC_SEARCH_LIST).Handle(), static_cast<int>(hits_.size()),
                                LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    }
}

void CSearchWindow::ShowStatus() {
    char text[160];
    const int written = std::snprintf(text, sizeof(text), "找到 %zu 条，%zu 个进程", hits_.size(),
                                      processes_.size());
    if (running_ && written > 0) {
        const uint64_t done = searchedBehaviors_.load();
        const double percent = totalBehaviors_ == 0
                                   ? 100.0
                                   : std::min(100.0, 100.0 * static_cast<double>(done) /
                                                         static_cast<double>(totalBehaviors_));
        std::snprintf(text + written, sizeof(text) - static_cast<std::size_t>(written),
                      "  正在搜索(%.0f%%)...", percent);
    }
    ::SetWindowTextA(Item(IDC_SEARCH_STATUS).Handle(), text);
    ::EnableWindow(Item(IDC_SEARCH_SHOW_ONLY).Handle(), processes_.empty() ? FALSE : TRUE);
}

void CSearchWindow::ShowOnlyHitProcesses() {
    if (processes_.empty() || !showOnlyProcesses) {
        return;
    }
    // The hits found so far, while a search still runs.
    showOnlyProcesses(std::vector<const ProcessRecord*>(processes_.begin(), processes_.end()),
                      "搜索“" + searched_ + "”的结果");
}

win::MessageWindow::Result CSearchWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_SEARCH_HITS) {
        return {};
    }
    TakePendingHits(static_cast<uint64_t>(wParam));
    if (lParam == 1 && static_cast<uint64_t>(wParam) == serial_.load() && worker_.joinable()) {
        worker_.join();
        running_ = false;
    }
    ShowStatus();
    return 0;
}

std::string CSearchWindow::CellText(int item, int subItem) {
    if (item < 0 || static_cast<std::size_t>(item) >= hits_.size()) {
        return {};
    }
    const BehaviorHit& hit = hits_[static_cast<std::size_t>(item)];
    // The name and pid may change with a later line for the process: read them under the lock.
    // The behaviour's texts never change until the store is cleared.
    switch (subItem) {
        case 0: {
            const auto store = analyzer_.Store().Read();
            return hit.process->name;
        }
        case 1: {
            const auto store = analyzer_.Store().Read();
            return std::to_string(hit.process->pid);
        }
        case 2:
            return std::string(hit.behavior.time());
        case 3:
            return std::string(hit.behavior.action());
        case 4:
            return std::string(hit.behavior.handling());
        case 5:
            return std::string(hit.behavior.info());
        default:
            return {};
    }
}

void CSearchWindow::SortBy(int column) {
    sortAscending_ = column == sortColumn_ ? !sortAscending_ : true;
    sortColumn_ = column;
    const bool ascending = sortAscending_;
    auto key = [&](const BehaviorHit& hit) -> std::string {
        switch (column) {
            case 0:
                return hit.process->name;
            case 2:
                return std::string(hit.behavior.time());
            case 3:
                return std::string(hit.behavior.action());
            case 4:
                return std::string(hit.behavior.handling());
            default:
                return std::string(hit.behavior.info());
        }
    };
    {
        const auto store = analyzer_.Store().Read();
        if (column == 1) {
            std::stable_sort(hits_.begin(), hits_.end(), [&](const auto& a, const auto& b) {
                return ascending ? a.process->pid < b.process->pid
                                 : b.process->pid < a.process->pid;
            });
        } else {
            std::stable_sort(hits_.begin(), hits_.end(), [&](const auto& a, const auto& b) {
                return ascending ? key(a) < key(b) : key(b) < key(a);
            });
        }
    }
    Item(IDC_SEARCH_LIST).Invalidate(true);
}

void CSearchWindow::CopySelected() {
    const HWND list = Item(IDC_SEARCH_LIST).Handle();
    std::wstring text;
    for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(list, i, LVNI_SELECTED)) {
        for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
            if (column > 0) {
                text += L'\t';
            }
            text += WideOf(CellText(i, column));
        }
        text += L"\r\n";
    }
    if (text.empty() || !::OpenClipboard(hwnd_)) {
        return;
    }
    ::EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* memory = ::GlobalLock(block)) {
            std::memcpy(memory, text.c_str(), bytes);
            ::GlobalUnlock(block);
            if (::SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
                ::GlobalFree(block);
            }
        } else {
            ::GlobalFree(block);
        }
    }
    ::CloseClipboard();
}

void CSearchWindow::JumpToSelected() {
    const int selected =
        ListView_GetNextItem(Item(IDC_SEARCH_LIST).Handle(), -1, LVNI_FOCUSED | LVNI_SELECTED);
    if (selected >= 0 && static_cast<std::size_t>(selected) < hits_.size() && jump_) {
        const BehaviorHit hit = hits_[static_cast<std::size_t>(selected)];
        jump_(hit);
    }
}

void CSearchWindow::OnOK() {
    // Enter: in the hit list it jumps, anywhere else it searches.
    if (::GetFocus() == Item(IDC_SEARCH_LIST).Handle()) {
        JumpToSelected();
    } else {
        StartSearch();
    }
}

void CSearchWindow::OnCancel() {
    // Esc stops a running search; with none running it closes the window, which keeps its hits.
    if (worker_.joinable()) {
        CancelSearch();
        ShowStatus();
        return;
    }
    Show(SW_HIDE);
}

win::MessageWindow::Result CSearchWindow::OnCommand(UINT id, UINT code, HWND control) {
    if (id == IDC_SEARCH_TEXT && code == EN_CHANGE) {
        if (worker_.joinable()) {
            CancelSearch();
            ShowStatus();
        }
        return 0;
    }
    if (id == IDC_SEARCH_GO && code == BN_CLICKED) {
        StartSearch();
        return 0;
    }
    if (id == IDC_SEARCH_SHOW_ONLY && code == BN_CLICKED) {
        ShowOnlyHitProcesses();
        return 0;
    }
    return Dialog::OnCommand(id, code, control);
}

win::MessageWindow::Result CSearchWindow::OnNotify(NMHDR* notice) {
    if (notice->idFrom != IDC_SEARCH_LIST) {
        return {};
    }
    switch (notice->code) {
        case LVN_GETDISPINFOA: {
            LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(notice)->item;
            if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
                CopyToBuffer(item.pszText, static_cast<std::size_t>(item.cchTextMax),
                             CellText(item.iItem, item.iSubItem));
            }
            return 0;
        }
        case LVN_GETDISPINFOW: {
            LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(notice)->item;
            if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
                const std::string text = CellText(item.iItem, item.iSubItem);
                if (::MultiByteToWideChar(936, 0, text.c_str(), -1, item.pszText,
                                          item.cchTextMax) == 0) {
                    item.pszText[item.cchTextMax - 1] = L'\0';
                }
            }
            return 0;
        }
        case LVN_COLUMNCLICK:
            SortBy(reinterpret_cast<NMLISTVIEW*>(notice)->iSubItem);
            return 0;
        case NM_DBLCLK:
            JumpToSelected();
            return 0;
        default:
            return {};
    }
}

win::MessageWindow::Result CSearchWindow::OnDestroy() {
    CancelSearch();
    return {};
}
