// The feature-code window: a file dropped on it gets its feature code (the MD5 of its PE section
// table) shown in upper case, with the file's name below; a file without one clears the box and
// the line below says why. It has no buttons: the close box, Enter and Esc close it.
#pragma once

#include "win/dialog.h"

#include <shellapi.h>

#include <string>

enum class FeatureCodeError;

// Why a file has no feature code, as the window says it (code page 936).
std::string FeatureCodeReason(FeatureCodeError error);

class CDlgHashTool : public win::Dialog {
  public:
    CDlgHashTool();

    // The text of edit 1005: the code of the last dropped file, or empty.
    std::string codeText;
    // The line under it (code page 936): the name of the file whose code is shown, or why a drop
    // gave none.
    std::string noteText;

    // Shows the code of the one file of `drop`, and releases the drop. A drop of several files (or
    // none) keeps the code and says that one file is needed.
    void OnDropFiles(HDROP drop);

  protected:
    void DoDataExchange(win::DataExchange& exchange) override;
    Result OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};
