// The modeless window "搜索行为": a pattern, "区分大小写", an action choice and the hits of a
// search over every behaviour of the store. The search runs on a thread of its own and holds the
// store's lock only in pieces of a few milliseconds; its hits reach the window batch by batch.
#pragma once

#include "engine/behavior_search.h"
#include "win/dialog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

class LogAnalyzer;

// Posted by the search thread: new hits wait in the window's pending batch (wParam: the search).
inline constexpr UINT WM_SEARCH_HITS = WM_APP + 40;

class CSearchWindow : public win::Dialog {
  public:
    // `jump` shows a hit in the main window.
    CSearchWindow(LogAnalyzer& analyzer, std::function<void(const BehaviorHit&)> jump);
    ~CSearchWindow() override;

    // "只显示这些进程": filters the main window's tree to the processes with hits; the label names
    // the search in the main window's caption.
    std::function<void(std::vector<const ProcessRecord*> processes, std::string label)>
        showOnlyProcesses;

    // Creates the window the first time, shows it and brings it to the front.
    void ShowFront(HWND owner);
    // The store is about to be cleared (another log): stops the search and drops every hit.
    void StoreClearing();
    // Dialog keys (Tab, Enter, Esc) of this window; the main window's loop calls it.
    bool TranslateKeys(MSG& message);

    // For tests and the jump: the hits in the order shown.
    const std::vector<BehaviorHit>& Hits() const { return hits_; }
    bool Searching() const { return worker_.joinable(); }

    // Starts a search for `pattern` (code page 936) as the controls set it; false with a message
    // when the pattern is empty.
    bool StartSearch();
    void CancelSearch();

  protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    Result OnCommand(UINT id, UINT code, HWND control) override;
    Result OnNotify(NMHDR* notice) override;
    Result OnSize(UINT type, SIZE size) override;
    Result OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    Result OnDestroy() override;

  private:
    void TakePendingHits(uint64_t serial);
    void ShowStatus();
    std::string CellText(int item, int subItem);
    void SortBy(int column);
    void CopySelected();
    void JumpToSelected();
    void ShowOnlyHitProcesses();
    void Layout(int cx, int cy);
    // Reads the pattern box as Unicode and converts it; false with a message when it cannot.
    bool PatternFromBox(std::string& gbk);

    LogAnalyzer& analyzer_;
    std::function<void(const BehaviorHit&)> jump_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    std::atomic<uint64_t> serial_{0};
    std::mutex pendingMutex_;
    std::vector<BehaviorHit> pending_;  // guarded by pendingMutex_
    std::atomic<uint64_t> searchedBehaviors_{0};
    uint64_t totalBehaviors_ = 0;
    bool running_ = false;

    std::vector<BehaviorHit> hits_;
    std::unordered_set<const ProcessRecord*> processes_;
    // The pattern of the search the hits are from.
    std::string searched_;
    int sortColumn_ = -1;
    bool sortAscending_ = true;
};
