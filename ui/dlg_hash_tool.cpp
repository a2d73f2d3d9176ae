#include "ui/dlg_hash_tool.h"

#include "res/resource.h"
#include "tools/feature_code.h"
#include "win/handles.h"
#include "win/text.h"

#include <optional>
#include <vector>

std::string FeatureCodeReason(FeatureCodeError error) {
    switch (error) {
        case FeatureCodeError::kNone:
            return "";
        case FeatureCodeError::kUnreadable:
            return "无法读取此文件";
        case FeatureCodeError::kTooSmall:
            return "文件太小，不是PE文件（不足1024字节）";
        case FeatureCodeError::kNoMzSignature:
        case FeatureCodeError::kNtHeadersOutside:
        case FeatureCodeError::kNoPeSignature:
            return "不是PE文件";
        case FeatureCodeError::kUnsupportedMachine:
            return "不支持的机器类型（只支持i386、x64和IA-64）";
        case FeatureCodeError::kSectionCountOutOfRange:
            return "节的数目超出范围（1到25）";
        case FeatureCodeError::kSectionTablePastEnd:
            return "节表超出文件末尾";
        case FeatureCodeError::kSectionTablePastLimit:
            return "节表超出文件的前2 MiB";
    }
    return "";
}

namespace {

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

CDlgHashTool::CDlgHashTool() : Dialog(IDD_HASH_TOOL) {}

void CDlgHashTool::DoDataExchange(win::DataExchange& exchange) {
    exchange.Text(IDC_FEATURE_CODE, codeText);
    if (!exchange.Saving()) {
        const std::wstring note = win::Wide(noteText);
        ::SetDlgItemTextW(hwnd_, IDC_FEATURE_FILE, note.c_str());
    }
}

void CDlgHashTool::OnDropFiles(HDROP drop) {
    if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) != 1) {
        ::DragFinish(drop);
        noteText = "只能拖放一个文件";
        UpdateData(false);
        return;
    }
    const std::wstring path = win::DroppedFileName(drop, 0);
    ::DragFinish(drop);
    const std::string name = win::Narrow(FileNameOf(path)).value_or("?");

    codeText.clear();
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    const win::FileHandle file(
        attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
            ? INVALID_HANDLE_VALUE
            : ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD openError = ::GetLastError();
    const std::optional<std::string> narrow = win::NarrowPath(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        noteText = name + "：这是一个文件夹，不是PE文件";
    } else if (!file) {
        noteText = name + "：" + FeatureCodeReason(FeatureCodeError::kUnreadable) + "（" +
                   win::Narrow(win::ErrorMessage(openError)).value_or("?") + "）";
    } else if (!narrow) {
        noteText = name + "：" + FeatureCodeReason(FeatureCodeError::kUnreadable);
    } else {
        const FeatureCodeResult result = InspectFeatureCode(*narrow);
        if (result.error == FeatureCodeError::kNone) {
            for (const char c : result.code) {
                codeText += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            }
            noteText = name;
        } else {
            noteText = name + "：" + FeatureCodeReason(result.error);
        }
    }
    UpdateData(false);
}

win::MessageWindow::Result CDlgHashTool::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_DROPFILES) {
        return {};
    }
    OnDropFiles(reinterpret_cast<HDROP>(wParam));
    return 0;  // the drop is released: nothing else may look at it
}
