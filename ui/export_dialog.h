// 文件 > 导出...: the save dialog with the file type (CSV or JSON) and, below the system's
// controls, the choice of what to export.
#pragma once

#include "engine/store_export.h"

#include <windows.h>

#include <optional>
#include <string>

// What the analyst may export; the window offers only what it can.
enum class ExportChoiceScope {
    Process,   // the chosen process's behaviours
    Branch,    // the chosen process and all its descendants
    WholeLog,  // everything
    Filtered,  // what the tree's filter keeps (offered once the window has a filter in force)
};

struct ExportOffer {
    // A process is chosen: Process and Branch are available.
    bool processChosen = false;
    // A filter is in force: Filtered is available.
    bool filterInForce = false;
    // Chosen first (when available), e.g. the last export's choice.
    ExportChoiceScope preferred = ExportChoiceScope::WholeLog;
};

struct ExportChoice {
    std::wstring path;
    ExportFormat format = ExportFormat::Csv;
    ExportChoiceScope scope = ExportChoiceScope::WholeLog;
};

// Shows the save dialog owned by `owner`; nothing when the analyst cancels it.
std::optional<ExportChoice> ShowExportDialog(HWND owner, const ExportOffer& offer);
