#include "tools/dlg_find_process.h"

#include "res/resource.h"

CDlgFindProcess::CDlgFindProcess() : Dialog(IDD_FIND_PROCESS) {}

bool CDlgFindProcess::OnInitDialog() {
    Dialog::OnInitDialog();
    ::SetFocus(Item(IDC_FIND_TEXT).Handle());
    Item(IDC_FIND_DOWN).Send(BM_SETCHECK, BST_CHECKED);
    return false;  // the focus stays in the edit box
}

void CDlgFindProcess::DoDataExchange(win::DataExchange& exchange) {
    exchange.Text(IDC_FIND_TEXT, processName);
}

void CDlgFindProcess::OnOK() {
    if (!UpdateData(true)) {
        return;
    }
    const int direction = Item(IDC_FIND_DOWN).Send(BM_GETCHECK) == BST_CHECKED ? 1 : -1;
    // Two bytes at least: one Chinese character passes, one Latin letter would match far too much.
    if (processName.size() >= 2 && mainDialog != nullptr &&
        mainDialog->FindProcessByName(processName, direction) != 0) {
        EndModal(IDOK);
        return;
    }
    ::MessageBoxA(hwnd_, "未找到相关进程", "系统提示:", MB_OK | MB_ICONINFORMATION);
}
