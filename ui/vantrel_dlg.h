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
#include "tools/dlg_find_process.h"
#include "tools/find_process.h"
#include "ui/search_window.h"
#include "ui/status_bar.h"
#include "ui/tree_rows.h"
#include "win/dialog.h"
#include "win/handles.h"

#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Sent by the refresh thread when a read pass has reached the end of the log.
inline constexpr UINT WM_REFRESH_TREE = WM_USER + 193;
// Posted by the window to itself on Ctrl+F, so the dialog opens after the key is processed.
inline constexpr UINT WM_SHOW_FIND = WM_USER + 194;
// The one-second progress timer that runs from a drop until the pass is complete.
inline constexpr UINT_PTR kProgressTimer = 1001;

// What the main window asks of its surroundings; an empty member means the real thing.
struct MainWindowSeams {
    AnalyzerSeams analyzer;
    // Starts the file browser with a command line; returns what WinExec returns.
    std::function<UINT(const std::string& commandLine)> launch;
};

class CVantrelDlg : public win::Dialog, public ProcessSearch {
  public:
    using BehaviorSequence = decltype(ProcessRecord::behaviors);

    explicit CVantrelDlg(MainWindowSeams seams = {});
    ~CVantrelDlg() override;

    HICON icon = nullptr;
    // Held while the rows are edited; the user-interface thread's only, taken before
    // analyzer.lock.
    std::recursive_mutex treeLock;
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
    int32_t sortAscending = 0;

    // How many rebuilds have finished; for whoever waits for one from another thread.
    std::atomic<int> rebuildCount{0};

    // --- The process tree (vantrel_dlg_tree.cpp).

    // Replaces all rows by the store's tree, unfolded; the rows that were selected, the focus row
    // and the topmost visible row are kept by process id where their processes are still shown.
    LRESULT RebuildTree();
    // Inserts at `index` the rows of `list` and all their descendants, unfolded; returns how many.
    // Needs analyzer.lock.
    int32_t AppendSubtreeRows(int index, const ProcessList& list);

    // --- Commands (vantrel_dlg_commands.cpp).

    // Follows the log at `path` and starts a pass and the progress display, as a drop does.
    void OpenLog(const std::string& path);
    // Asks for a pass over what was appended to the log; the tree is rebuilt at its end.
    void Refresh();
    // Finds the next shown process whose name starts with `text`, from the topmost visible row
    // down (direction 1) or up, and remembers the search for F3. 1 when one was found.
    int FindProcessByName(std::string text, int direction) override;

    // --- The search window (vantrel_dlg_search.cpp).

    // Opens the search window, or brings it to the front.
    void ShowSearchWindow();
    // Brings this window forward and shows the hit: its ancestors unfolded, its process selected
    // and shown, and that very behaviour selected in the behaviour list, whatever its sort. False
    // when the process is no longer in the tree.
    bool JumpToHit(const BehaviorHit& hit);
    // Created on first use; stopped before the store is cleared.
    std::unique_ptr<CSearchWindow> searchWindow;

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
    // Start-up and shutdown.
    static DWORD WINAPI RefreshThreadMain(void* self);
    void RefreshLoop();
    void StopRefreshThread();
    void SetUpTreeList();
    void SetUpBehaviorList();
    void SetUpStatusBar();
    void Layout(int cx, int cy);
    void PaintMinimised();

    // The process tree.
    Result OnTreeClick(const NMITEMACTIVATE& click);
    Result OnTreeDisplayText(NMLVDISPINFOA& info);
    Result OnTreeDisplayTextW(NMLVDISPINFOW& info);
    std::string TreeCellText(int item, int subItem) const;
    // The record of a row, looked up by its id; null when it is gone. Needs analyzer.lock.
    ProcessRecord* RecordOfRow(int row);
    // The record of the first selected row, for the commands; null when there is none.
    ProcessRecord* SelectedRecord();
    void ChooseBehaviors(BehaviorSequence* behaviors);

    // The behaviour list.
    Result OnBehaviorDisplayText(NMLVDISPINFOA& info);
    Result OnBehaviorDisplayTextW(NMLVDISPINFOW& info);
    std::string BehaviorCellText(int item, int subItem);
    Result OnBehaviorDoubleClick();
    Result OnBehaviorColumnClick(int column);
    // Empties the behaviour list and gives up its sequence: the store is about to be cleared.
    void DropBehaviorList();

    // Commands.
    void OnDropFiles(HDROP drop);
    void ShowContextMenu();
    void CopyProcessName();
    void CopyProcessMd5();
    void OpenImageFolder();
    void ShowMessage(const char* text);
    void ShowFindDialog();
    void ShowHashTool();

    std::function<UINT(const std::string&)> launch_;
    IconIndexCache icons_;
    // The window the refresh thread sends to: set once the window exists, cleared when it closes.
    std::atomic<HWND> refreshTarget_{nullptr};
};
