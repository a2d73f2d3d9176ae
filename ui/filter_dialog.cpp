#include "ui/filter_dialog.h"

#include "res/resource.h"
#include "win/text.h"

namespace {

constexpr char kMessageCaption[] = "系统提示：";

}  // namespace

CFilterDialog::CFilterDialog() : Dialog(IDD_FILTER) {}

bool CFilterDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    const HWND box = Item(IDC_FILTER_TEXT).Handle();
    ::SetWindowTextW(box, win::Wide(pattern).c_str());
    ::SendMessageW(box, EM_SETSEL, 0, -1);
    Item(IDC_FILTER_CASE).Send(BM_SETCHECK, matchCase ? BST_CHECKED : BST_UNCHECKED);
    ::SetFocus(box);
    return false;  // the focus stays in the edit box
}

void CFilterDialog::Refuse(const char* text) {
    ::MessageBoxW(hwnd_, win::Wide(text).c_str(), win::Wide(kMessageCaption).c_str(),
                  MB_OK | MB_ICONWARNING);
    ::SetFocus(Item(IDC_FILTER_TEXT).Handle());
}

void CFilterDialog::OnOK() {
    // Read as UTF-16: the 8-bit text of the box would turn a character code page 936 lacks into
    // "?", a pattern that means something else.
    const HWND box = Item(IDC_FILTER_TEXT).Handle();
    std::wstring wide(static_cast<std::size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
    wide.resize(static_cast<std::size_t>(
        ::GetWindowTextW(box, wide.data(), static_cast<int>(wide.size()))));
    if (wide.empty()) {
        Refuse("请输入要筛选的内容。");
        return;
    }
    const std::optional<std::string> gbk = win::Narrow(wide);
    if (!gbk) {
        Refuse("筛选内容含有GBK编码无法表示的字符，请修改后再筛选。");
        return;
    }
    pattern = *gbk;
    matchCase = Item(IDC_FILTER_CASE).Send(BM_GETCHECK) == BST_CHECKED;
    EndModal(IDOK);
}
