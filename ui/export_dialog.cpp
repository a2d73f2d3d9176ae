#include "ui/export_dialog.h"

#include "res/resource.h"
#include "win/text.h"

#include <commdlg.h>

#include <iterator>
#include <vector>

namespace {

// The radio buttons in the order of ExportChoiceScope.
constexpr int kScopeButtons[] = {IDC_EXPORT_SCOPE_PROCESS, IDC_EXPORT_SCOPE_BRANCH,
                                 IDC_EXPORT_SCOPE_LOG, IDC_EXPORT_SCOPE_FILTER};

struct HookState {
    ExportOffer offer;
    ExportChoiceScope scope = ExportChoiceScope::WholeLog;
};

bool Available(const ExportOffer& offer, ExportChoiceScope scope) {
    switch (scope) {
        case ExportChoiceScope::Process:
        case ExportChoiceScope::Branch:
            return offer.processChosen;
        case ExportChoiceScope::Filtered:
            return offer.filterInForce;
        case ExportChoiceScope::WholeLog:
            return true;
    }
    return false;
}

// The hook of the dialog's own part: `dialog` is the child dialog made from IDD_EXPORT_OPTIONS.
UINT_PTR CALLBACK ExportHook(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* ofn = reinterpret_cast<const OPENFILENAMEW*>(lParam);
        auto* state = reinterpret_cast<HookState*>(ofn->lCustData);
        ::SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        for (std::size_t i = 0; i < std::size(kScopeButtons); ++i) {
            const auto scope = static_cast<ExportChoiceScope>(i);
            const HWND button = ::GetDlgItem(dialog, kScopeButtons[i]);
            if (scope == ExportChoiceScope::Filtered && !state->offer.filterInForce) {
                ::ShowWindow(button, SW_HIDE);  // no filter in the window: no such choice
            }
            ::EnableWindow(button, Available(state->offer, scope) ? TRUE : FALSE);
        }
        ::CheckRadioButton(dialog, kScopeButtons[0], kScopeButtons[std::size(kScopeButtons) - 1],
                           kScopeButtons[static_cast<int>(state->scope)]);
        return TRUE;
    }
    if (message != WM_NOTIFY) {
        return FALSE;
    }
    auto* state = reinterpret_cast<HookState*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
    const auto* notice = reinterpret_cast<const OFNOTIFYW*>(lParam);
    if (state == nullptr) {
        return FALSE;
    }
    switch (notice->hdr.code) {
        case CDN_TYPECHANGE:
            // The name gets the extension of the type chosen, not of the type the dialog began
            // with.
            ::SendMessageW(
                ::GetParent(dialog), CDM_SETDEFEXT, 0,
                reinterpret_cast<LPARAM>(notice->lpOFN->nFilterIndex == 2 ? L"json" : L"csv"));
            return FALSE;
        case CDN_FILEOK:
            for (std::size_t i = 0; i < std::size(kScopeButtons); ++i) {
                if (::IsDlgButtonChecked(dialog, kScopeButtons[i]) == BST_CHECKED) {
                    state->scope = static_cast<ExportChoiceScope>(i);
                }
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

std::optional<ExportChoice> ShowExportDialog(HWND owner, const ExportOffer& offer) {
    HookState state;
    state.offer = offer;
    state.scope = Available(offer, offer.preferred) ? offer.preferred : ExportChoiceScope::WholeLog;

    // Pairs of (description, pattern), each NUL-ended, the list ended by one more NUL.
    std::wstring filter = win::Wide("CSV 文件 (*.csv)") + L'\0' + L"*.csv" + L'\0' +
                          win::Wide("JSON 文件 (*.json)") + L'\0' + L"*.json" + L'\0';
    const std::wstring title = win::Wide("导出");
    std::vector<wchar_t> name(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.hInstance = ::GetModuleHandleW(nullptr);
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = L"csv";
    ofn.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE | OFN_ENABLESIZING |
                OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN | OFN_HIDEREADONLY;
    ofn.lpTemplateName = MAKEINTRESOURCEW(IDD_EXPORT_OPTIONS);
    ofn.lpfnHook = ExportHook;
    ofn.lCustData = reinterpret_cast<LPARAM>(&state);
    if (!::GetSaveFileNameW(&ofn)) {
        return std::nullopt;
    }
    ExportChoice choice;
    choice.path = name.data();
    choice.format = ofn.nFilterIndex == 2 ? ExportFormat::Json : ExportFormat::Csv;
    choice.scope = state.scope;
    return choice;
}
