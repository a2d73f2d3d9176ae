// The main window: the process tree above, the behaviours of the chosen process below, a splitter
// between them, a status bar, the menus, the file drop and the keys. It owns the analyzer and a
// refresh thread that turns each finished read pass into a rebuild of the process rows.
//
// The window is split by concern: start-up, layout and shutdown (vantrel_dlg.cpp), the process
// tree (vantrel_dlg_tree.cpp), the behaviour list (vantrel_dlg_behaviors.cpp), and the drop,
// commands, timer and keys (vantrel_dlg_commands.cpp).
#pragma once

#include "controls/list_ctrl_ex.h"
#include "controls/splitter_bar.h"
#include "engine/log_analyzer.h"
#include "ui/dlg_find_process.h"
#include "ui/find_process.h"
#include "ui/export_dialog.h"
#include "ui/export_job.h"
#include "ui/search_window.h"
#include "controls/status_bar.h"
#include "ui/tree_filter.h"
#include "ui/tree_rows.h"
#include "ui/com_apartment.h"
#include "win/dialog.h"
#include "win/dpi.h"
#include "win/handles.h"

#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <unordered_map>
#include <unordered_set>

// Sent by the refresh thread when a read pass has reached the end of the log. In the WM_APP range:
// the window is a dialog, whose class owns the WM_USER range.
inline constexpr UINT WM_REFRESH_TREE = WM_APP + 193;
// Posted by the window to itself on Ctrl+F, so the dialog opens after the key is processed.
inline constexpr UINT WM_SHOW_FIND = WM_APP + 194;
// Posted by the thread that searches the behaviours for a new filter when it is done (wParam: the
// number of its search).
inline constexpr UINT WM_FILTER_MATCHED = WM_APP + 195;
// The window's caption; a filter in force is named after it.
inline constexpr char kMainWindowCaption[] = "Tesk为分析器2.1";
// The one-second progress timer that runs from a drop until the pass is complete.
inline constexpr UINT_PTR kProgressTimer = 1001;
// Wakes the analyzer once more when a pass held the log's last line back for its writer, once the
// file has been quiet long enough for the line to count as finished.
inline constexpr UINT_PTR kHeldLineTimer = 1002;
// Started (again) whenever the focus row of the process list moves; when it fires, the behaviour
// list shows the focus row's process. Held keys repeat faster than it, so a held arrow key moves
// the highlight without reading and painting the behaviours of every row it passes.
inline constexpr UINT_PTR kFollowFocusTimer = 1003;
inline constexpr UINT kFollowFocusDelayMs = 100;
// While 自动刷新 is on: wakes the analyzer once a second (passes keep the analyzer's own spacing).
inline constexpr UINT_PTR kAutoRefreshTimer = 1004;

// While a pass the window asked for goes on: about once a second, the rows of what it read so far.
inline constexpr UINT_PTR kPassRowsTimer = 1005;
inline constexpr UINT kPassRowsPeriodMs = 1000;

// What the main window asks of its surroundings; an empty member means the real thing.
struct MainWindowSeams {
    AnalyzerSeams analyzer;
    // Starts the file browser with a command line; returns what WinExec returns.
    std::function<UINT(const std::string& commandLine)> launch;
    // The system-image-list index of a file type's icon; called on the user-interface thread,
    // never with the store's lock held.
    IconIndexCache::Lookup iconLookup;
    // The save dialog of 文件 > 导出... (tests answer it without a dialog).
    std::function<std::optional<ExportChoice>(const ExportOffer&)> exportDialog;
    // Called by the export's thread between two pieces (tests hold an export there).
    ExportJob::Pause exportPause;
    // Called by the thread that searches the behaviours for a new filter, before its first piece
    // and after each, with its cancel flag (tests hold a search there); returns soon once it is
    // set.
    std::function<void(const std::atomic<bool>& cancel)> filterMatchPause;
};

class CVantrelDlg : public win::Dialog, public ProcessSearch {
  public:
    using BehaviorSequence = decltype(ProcessRecord::behaviors);

    explicit CVantrelDlg(MainWindowSeams seams = {});
    ~CVantrelDlg() override;

    // What the program's tests and its screenshot and benchmark drivers look at.
    LogAnalyzer& Analyzer() { return analyzer; }
    CListCtrlEx& TreeList() { return treeList; }
    const win::Window& BehaviorList() const { return behaviorList; }
    CStatusBar& StatusBar() { return statusBar; }
    // How many rebuilds have finished, but for those during passes; for whoever waits for one
    // from another thread.
    int RebuildCount() const { return rebuildCount.load(); }
    // The last search, repeated by F3.
    const FindState& LastFind() const { return findState; }
    // The sequence the behaviour list shows, or null.
    const BehaviorSequence* SelectedBehaviors() const { return selectedBehaviors; }
    // The behaviour list's sort toggle.
    auto SortAscending() const { return sortAscending; }
    // The search window, once it was opened.
    CSearchWindow* SearchWindow() const { return searchWindow.get(); }

    // The least height of each list: its header and three rows.
    int MinPaneHeight() const;
    // A length of `pixels` at 96 DPI, at the window's DPI.
    int Px(int pixels) const { return win::Scale(pixels, dpi); }

    // --- The process tree (vantrel_dlg_tree.cpp).

    // Replaces all rows by the store's tree, unfolded; the rows that were selected, the focus row
    // and the topmost visible row are kept by process id where their processes are still shown.
    LRESULT RebuildTree();
    // How many rebuilds were made during passes, to show the rows read so far.
    int PassRebuildCount() const { return passRebuildCount_; }
    // Inserts at `index` the rows of `list` and all their descendants, unfolded; returns how many.
    // Needs the store's lock, and then looks the icons up with it held: RebuildTree does not.
    int32_t AppendSubtreeRows(int index, const ProcessList& list);

    // --- Commands (vantrel_dlg_commands.cpp).

    // Follows the log at `path` and starts a pass and the progress display, as a drop does.
    void OpenLog(const std::string& path);
    // Asks for a pass over what was appended to the log; the tree is rebuilt at its end.
    void Refresh();
    // Turns 自动刷新 on or off: while on, the log is read once a second without F5.
    void SetAutoRefresh(bool on);
    bool AutoRefresh() const { return autoRefresh_; }
    // Finds the next shown process whose name starts with `text`, after the last hit or from the
    // topmost visible row down (direction 1) or up, and remembers the search for F3. A hit becomes
    // the only selected row and the focus row, and the behaviour list shows it. 1 when one was
    // found.
    int FindProcessByName(std::string text, int direction) override;

    // --- The behaviour list (vantrel_dlg_behaviors.cpp).

    // Shows the behaviours of the focus row's process now (the list keeps its place when that is
    // the process it shows already); nothing when there is no focus row or its process is gone.
    void ShowFocusedBehaviors();

    // --- Export (vantrel_dlg_export.cpp).

    // 文件 > 导出...: asks what to export and where, then writes it off this thread with its
    // progress in the status bar. Refused with a message while an export runs.
    void ExportFromMenu();
    bool ExportRunning() const { return exportJob_.Running(); }

    // --- The search window (vantrel_dlg_search.cpp).

    // Opens the search window, or brings it to the front.
    void ShowSearchWindow();
    // Brings this window forward and shows the hit: its ancestors unfolded, its process selected
    // and shown, and that very behaviour selected in the behaviour list, whatever its sort. False
    // when the process is no longer in the tree.
    bool JumpToHit(const BehaviorHit& hit);

    // --- The filter of the process tree (vantrel_dlg_filter.cpp).

    // Asks for a pattern ("筛选进程...", Ctrl+L) and filters the tree by it.
    void ShowFilterDialog();
    // Shows only the processes `filter` keeps (null: every process) and says so in the status bar
    // and the caption. The filter stays in force across rebuilds, until another log is opened.
    // A pattern filter first has every behaviour of the store searched off this thread, in pieces
    // of the store's lock, the status saying so; the rows change once that is done (a rebuild).
    // Another filter, 取消筛选, another log or closing the window drops a search under way.
    void SetFilter(std::unique_ptr<TreeFilter> filter);
    // True while a new filter's behaviours are being searched.
    bool FilterMatching() const { return matchingFilter_ != nullptr; }
    // Filters the tree to `processes` (the search window's hits) with their ancestors and
    // descendants; `label` names them in the caption.
    void ShowOnlyProcesses(std::vector<const ProcessRecord*> processes, std::string label);
    const TreeFilter* Filter() const { return filter_.get(); }

  protected:
    bool OnInitDialog() override;
    bool PreTranslateMessage(MSG& message) override;
    Result OnSize(UINT type, SIZE size) override;
    Result OnPaint() override;
    Result OnNotify(NMHDR* notice) override;
    Result OnCommand(UINT id, UINT code, HWND control) override;
    Result OnTimer(UINT_PTR id) override;
    Result OnDestroy() override;
    Result OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    // First of all members: the shell calls of the controls' construction need it.
    ComApartment com;
    HICON icon = nullptr;
    std::atomic<int32_t> refreshStop{0};
    CSplitterBar splitter;
    win::KernelHandle refreshThread;
    LogAnalyzer analyzer;
    CStatusBar statusBar;
    int32_t treeWidthTotal = 0;
    // The last search (lastFindText, lastFindDirection), repeated by F3.
    FindState findState;
    CListCtrlEx treeList;
    // The behaviours that list 1001 shows: a record's sequence in the store, or null. Given up
    // before the store is cleared.
    BehaviorSequence* selectedBehaviors = nullptr;
    win::Window behaviorList;
    // The sort toggle of list 1001, shared by all its columns and all processes.
    bool sortAscending = false;

    // The wake the window made by itself for a held last line since the last drop or refresh
    // (0: none yet).
    uint64_t heldLineWake_ = 0;

    // How many rebuilds have finished; for whoever waits for one from another thread.
    std::atomic<int> rebuildCount{0};

    // The DPI of the window's monitor; every pixel size of the layout is scaled to it.
    int dpi = win::kDesignDpi;
    // Where the splitter lies: its top as a share of the height the two lists share. Negative
    // until the window has its first size, which puts the splitter at its default place.
    double splitterShare = -1.0;
    // Created on first use; stopped before the store is cleared.
    std::unique_ptr<CSearchWindow> searchWindow;

    // Start-up and shutdown.
    static DWORD WINAPI RefreshThreadMain(void* self);
    void RefreshLoop();
    void StopRefreshThread();
    void SetUpTreeList();
    void SetUpBehaviorList();
    void SetUpStatusBar();
    void Layout(int cx, int cy);
    // Takes the splitter's place after a drag as its new share, kept inside the lists' minimums.
    void OnSplitterMoved();
    void OnGetMinMaxInfo(MINMAXINFO& info) const;
    // Scales every pixel size to `newDpi`: fonts, rows, columns, the layout.
    void ApplyDpi(int newDpi);
    void PaintMinimised();

    // The process tree. RebuildTree's work; during a pass the rows are made in pieces of the
    // store's lock, and the rows folded are kept folded.
    void RebuildRows(bool duringPass);
    // Wakes the analyzer for a pass, and has the rows rebuilt about once a second while it lasts.
    uint64_t WakeForPass();
    // kPassRowsTimer: a rebuild of the rows read so far when the pass goes on and read lines.
    void OnPassRowsTimer();
    // The process tree.
    Result OnTreeClick(const NMITEMACTIVATE& click);
    // A focus change (by mouse, keys or a program) restarts kFollowFocusTimer.
    Result OnTreeItemChanged(const NMLISTVIEW& change);
    Result OnTreeDisplayText(NMLVDISPINFOA& info);
    Result OnTreeDisplayTextW(NMLVDISPINFOW& info);
    std::string TreeCellText(int item, int subItem) const;
    // The record of a row, looked up by its id; null when it is gone. Needs the store's lock.
    ProcessRecord* RecordOfRow(int row);
    // The record the commands act on: the focus row's when it is selected (the row whose
    // behaviours are shown), otherwise the first selected row's; null when no row is selected.
    // Needs the store's lock.
    ProcessRecord* SelectedRecord();
    void ChooseBehaviors(BehaviorSequence* behaviors);

    // The behaviour list.
    Result OnBehaviorDisplayText(NMLVDISPINFOA& info);
    Result OnBehaviorDisplayTextW(NMLVDISPINFOW& info);
    std::string BehaviorCellText(int item, int subItem);
    Result OnBehaviorDoubleClick();
    Result OnBehaviorColumnClick(int column);
    // Shows in the behaviour list's header how the shown sequence was last sorted.
    void ShowSortMark();
    // Empties the behaviour list and gives up its sequence: the store is about to be cleared.
    void DropBehaviorList();
    // Ctrl+C: the selected behaviours, a line each, their columns tab-separated.
    void CopySelectedBehaviors();
    void SelectAllBehaviors();

    // Commands.
    void OnDropFiles(HDROP drop);
    void ShowContextMenu();
    void CopyProcessName();
    void CopyProcessMd5();
    void OpenImageFolder();
    void ShowMessage(const char* text);
    void ShowMessage(const std::wstring& text);
    // After a pass that found the log started anew: lets go of the store, has it cleared and the
    // file read from its beginning, and says so.
    void RestartFollowedLog();
    // After a pass: arms kHeldLineTimer if the pass held the last line back and this drop or
    // refresh has not woken the analyzer for it yet.
    void ArmHeldLineWake();
    // True while the held last line is still to come: the self-wake is armed or not yet handled.
    bool HeldLineToCome();
    // Column 0 is as wide as a whole time in the list's font; the others as designed, at the DPI.
    int BehaviorColumnWidth(int column);
    void ShowFindDialog();
    void ShowHashTool();
    // The store is about to be cleared: another log drops the filter, the same log started anew
    // keeps a pattern filter (the search window's processes go with the store).
    void FilterStoreClearing(bool otherLog);
    // Status pane 0, the caption and the menu's "取消筛选" as the filter in force says.
    void ShowFilterState();
    // Status pane 0: the row count, the filter's counts, or that a filter's search is under way.
    std::string RowCountText() const;
    // The search of a new pattern filter's behaviours: started on its own thread, taken in when
    // WM_FILTER_MATCHED comes, or dropped (the thread stopped and waited for).
    void StartFilterMatch(std::unique_ptr<TreeFilter> filter);
    void OnFilterMatched(WPARAM serial);
    void CancelFilterMatch();
    // After the store of the same log was cleared: starts again the search it dropped.
    void ResumeFilterMatch();

    // Export: the thread's progress and end; a running export stopped (no file is left) before the
    // store is cleared or the window closes.
    void OnExportProgress(WPARAM permille);
    void OnExportDone(WPARAM number);
    void CancelExport();
    // The ids of the processes the tree's filter keeps (with their ancestors), or nothing when no
    // filter is in force; offered to export as its own scope.
    std::optional<std::unordered_set<uint32_t>> FilterKeptIds();

    // Fills in the icons of rows [first, last) that were made under the store's lock, with
    // the first path of each type they need in `paths`.
    void ResolveIcons(std::size_t first, std::size_t last, const std::vector<std::string>& paths);

    std::function<UINT(const std::string&)> launch_;
    // The menu's keys (F6); loaded with the window.
    HACCEL accelerators_ = nullptr;
    bool autoRefresh_ = false;
    // The find dialog while it is open, so that a second Ctrl+F brings it forward.
    CDlgFindProcess* findDialog_ = nullptr;
    // How each sequence was last sorted (column, ascending), for the header's arrow. Sequences
    // live in the store: emptied whenever the behaviour list lets go of the store.
    struct SortMark {
        int column = -1;
        bool ascending = true;
    };
    std::unordered_map<const BehaviorSequence*, SortMark> sortMarks_;
    // Columns 0 to 2 of the behaviour list and room for its scroll bar; column 3 gets the rest.
    int behaviorFixedWidth_ = 0;
    IconIndexCache icons_;
    // The rows each fold by the box took away, so that unfolding it again moves them back instead
    // of making every row again; valid until the next rebuild, which drops them.
    KeptFolds keptFolds_;
    // The lists' font at the window's DPI, once the DPI differs from the one it was created at.
    win::Font listFont_;
    int fontDpi_ = win::kDesignDpi;
    // Passes ended since the program started, and at the last drop: the status says the analysis
    // is complete only once a pass of the dropped file has ended.
    int passesEnded_ = 0;
    int passesAtDrop_ = 0;
    // The window the refresh thread sends to: set once the window exists, cleared when it closes.
    std::atomic<HWND> refreshTarget_{nullptr};
    // The filter of the rows while one is in force; the user-interface thread's.
    std::unique_ptr<TreeFilter> filter_;
    // A new filter while its behaviours are searched (filter_ stays as it was meanwhile), the
    // thread that searches them, its cancel flag and number, and what it found.
    std::unique_ptr<TreeFilter> matchingFilter_;
    std::thread filterMatchThread_;
    std::atomic<bool> filterMatchCancel_{false};
    uint64_t filterMatchSerial_ = 0;
    std::vector<BehaviorSearch::SearchedProcess> filterMatchFound_;  // the thread's until joined
    std::function<void(const std::atomic<bool>& cancel)> filterMatchPause_;
    // The last wake for a pass, and whether kPassRowsTimer runs for it.
    uint64_t passWake_ = 0;
    bool passRowsTimerOn_ = false;
    // Lines parsed at the last rebuild: a pass that parsed none since needs no rebuild.
    uint64_t linesAtRebuild_ = 0;
    // The last rebuild was made during a pass (the one at its end keeps the folds too).
    bool rowsDuringPass_ = false;
    int passRebuildCount_ = 0;
    // A new filter whose search the clearing of the store dropped, to be searched again after.
    std::unique_ptr<TreeFilter> restartedMatch_;
    std::function<std::optional<ExportChoice>(const ExportOffer&)> exportDialog_;
    ExportJob::Pause exportPause_;
    ExportChoiceScope lastExportScope_ = ExportChoiceScope::WholeLog;
    // The filter's kept ids the running export reads; kept here for as long as it runs.
    std::unordered_set<uint32_t> exportKeptIds_;
    // After every member it reads, so that it stops first.
    ExportJob exportJob_;
};
