#include "tools/dlg_hash_tool.h"

#include "res/resource.h"
#include "tools/feature_code.h"

#include <vector>

CDlgHashTool::CDlgHashTool() : Dialog(IDD_HASH_TOOL) {}

void CDlgHashTool::DoDataExchange(win::DataExchange& exchange) {
    exchange.Text(IDC_FEATURE_CODE, codeText);
}

void CDlgHashTool::OnDropFiles(HDROP drop) {
    if (::DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
        // Sized to the name, so a long path is never cut into the name of some other file.
        const UINT length = ::DragQueryFileA(drop, 0, nullptr, 0);
        std::vector<char> path(static_cast<std::size_t>(length) + 1, '\0');
        const UINT copied = ::DragQueryFileA(drop, 0, path.data(), static_cast<UINT>(path.size()));
        std::string code = ComputeFeatureCode(std::string(path.data(), copied));
        for (char& c : code) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        codeText = std::move(code);
        UpdateData(false);
    }
    ::DragFinish(drop);
}

win::MessageWindow::Result CDlgHashTool::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_DROPFILES) {
        return {};
    }
    OnDropFiles(reinterpret_cast<HDROP>(wParam));
    return 0;  // the drop is released: nothing else may look at it
}
