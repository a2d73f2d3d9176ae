// 文件 > 导出...: the save dialog's answer turned into an export of the store, written on a thread
// of its own with its progress in the status bar, and stopped before anything clears the store.
#include "ui/vantrel_dlg.h"

#include "res/resource.h"
#include "win/text.h"
#include "win/utf8.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kMessageCaption[] = "系统提示：";

}  // namespace

std::optional<std::unordered_set<uint32_t>> CVantrelDlg::FilterKeptIds() {
    if (!filter_) {
        return std::nullopt;
    }
    // By id: the export's thread reads the store in slices and must not hold record pointers
    // across them.
    std::unordered_set<uint32_t> ids;
    const auto store = analyzer.Store().Read();
    ids.reserve(filter_->Kept().size());
    for (const ProcessRecord* record : filter_->Kept()) {
        ids.insert(record->id);
    }
    return ids;
}

void CVantrelDlg::ExportFromMenu() {
    if (exportJob_.Running()) {
        ShowMessage("正在导出，请等待当前导出完成后再导出。");
        return;
    }
    // The process the commands act on: the behaviour list shows it by now.
    ShowFocusedBehaviors();
    ExportOffer offer;
    {
        const auto store = analyzer.Store().Read();
        offer.processChosen = SelectedRecord() != nullptr;
    }
    std::optional<std::unordered_set<uint32_t>> kept = FilterKeptIds();
    offer.filterInForce = kept.has_value();
    offer.preferred = lastExportScope_;
    const std::optional<ExportChoice> choice = exportDialog_(offer);
    if (!choice || choice->path.empty()) {
        return;
    }
    lastExportScope_ = choice->scope;

    ExportJob::Request request;
    request.target = choice->path;
    request.format = choice->format;
    {
        // Looked up again: the dialog ran a message loop, in which the log may have been started
        // anew or the selection changed.
        const auto store = analyzer.Store().Read();
        const ProcessRecord* chosen = SelectedRecord();
        switch (choice->scope) {
            case ExportChoiceScope::Process:
            case ExportChoiceScope::Branch:
                request.scope.kind = choice->scope == ExportChoiceScope::Process
                                         ? ExportScope::Kind::Process
                                         : ExportScope::Kind::Branch;
                request.scope.chosen = chosen;
                break;
            case ExportChoiceScope::Filtered:
                kept = FilterKeptIds();
                if (kept) {
                    exportKeptIds_ = std::move(*kept);
                    request.scope.keptIds = &exportKeptIds_;
                }
                break;
            case ExportChoiceScope::WholeLog:
                break;
        }
        win::AppendGbkAsUtf8(analyzer.LogPath(), request.logPathUtf8);
    }
    if (request.scope.kind != ExportScope::Kind::WholeLog && request.scope.chosen == nullptr) {
        ShowMessage("请先在进程列表中选择一个进程。");
        return;
    }
    if (choice->scope == ExportChoiceScope::Filtered && request.scope.keptIds == nullptr) {
        ShowMessage("没有正在使用的筛选。");
        return;
    }
    request.readStore = [this](const StoreReadFunction& read) {
        const auto store = analyzer.Store().Read();
        read(store.roots());
    };
    if (!exportJob_.Start(hwnd_, std::move(request), exportPause_)) {
        return;
    }
    if (const HMENU menu = ::GetMenu(hwnd_)) {
        ::EnableMenuItem(menu, ID_EXPORT, MF_BYCOMMAND | MF_GRAYED);
    }
    if (statusBar) {
        statusBar.SetPaneText(1, "正在导出(0%)...");
    }
}

void CVantrelDlg::OnExportProgress(WPARAM permille) {
    if (!exportJob_.Running() || !statusBar) {
        return;
    }
    char text[64];
    std::snprintf(text, sizeof(text), "正在导出(%u%%)...", static_cast<unsigned>(permille / 10));
    statusBar.SetPaneText(1, text);
}

void CVantrelDlg::OnExportDone(WPARAM number) {
    if (number != exportJob_.Number() || !exportJob_.Running()) {
        return;  // an export cancelled since: its end was said already
    }
    const ExportJob::Result result = exportJob_.Finish();
    if (const HMENU menu = ::GetMenu(hwnd_)) {
        ::EnableMenuItem(menu, ID_EXPORT, MF_BYCOMMAND | MF_ENABLED);
    }
    switch (result.outcome) {
        case ExportOutcome::Written:
            if (statusBar) {
                statusBar.SetPaneText(1, "导出完成!");
            }
            return;
        case ExportOutcome::Cancelled:
            if (statusBar) {
                statusBar.SetPaneText(1, "导出已取消");
            }
            return;
        case ExportOutcome::WriteFailed:
            if (statusBar) {
                statusBar.SetPaneText(1, "导出失败!");
            }
            const std::wstring caption = win::Wide(kMessageCaption);
            const std::wstring text = win::Wide("导出失败，没有写入文件：") + L"\n" +
                                      result.target + L"\n" + win::ErrorMessage(result.error);
            ::MessageBoxW(hwnd_, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
            return;
    }
}

void CVantrelDlg::CancelExport() {
    if (!exportJob_.Cancel()) {
        return;
    }
    if (const HMENU menu = ::GetMenu(hwnd_)) {
        ::EnableMenuItem(menu, ID_EXPORT, MF_BYCOMMAND | MF_ENABLED);
    }
    if (statusBar) {
        statusBar.SetPaneText(1, "导出已取消");
    }
}
