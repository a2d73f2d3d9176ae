// The feature-code window: a file dropped on it gets its feature code (the MD5 of its PE section
// table) shown in upper case; a file without one clears the box. It has no buttons: the close box,
// Enter and Esc close it.
#pragma once

#include "win/dialog.h"

#include <shellapi.h>

#include <string>

class CDlgHashTool : public win::Dialog {
  public:
    CDlgHashTool();

    // The text of edit 1005: the code of the last dropped file, or empty.
    std::string codeText;

    // Shows the code of the one file of `drop`, and releases the drop. A drop of several files (or
    // none) changes nothing.
    void OnDropFiles(HDROP drop);

  protected:
    void DoDataExchange(win::DataExchange& exchange) override;
    Result OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};
