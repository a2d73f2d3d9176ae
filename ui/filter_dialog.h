// The dialog "筛选进程": the pattern the process tree is filtered by, and "区分大小写". Its inputs
// and outputs are plain members; the main window puts the filter in force after OK.
#pragma once

#include "win/dialog.h"

#include <string>

class CFilterDialog : public win::Dialog {
  public:
    CFilterDialog();

    // Code page 936. Shown when the dialog opens; after OK, the pattern accepted: never empty, and
    // written exactly as typed (a pattern code page 936 cannot write is refused, not approximated).
    std::string pattern;
    bool matchCase = false;

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    void Refuse(const char* text);
};
