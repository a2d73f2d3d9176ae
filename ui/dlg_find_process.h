// The find dialog: asks for the start of a process name and a direction, and has the main window
// search its list. It stays open after a miss, so the text can be changed and tried again.
#pragma once

#include "win/dialog.h"

#include <string>

// What the find dialog needs of the window whose list it searches.
class ProcessSearch {
  public:
    // 1 when a row whose name starts with `text` was found (and shown), 0 otherwise. `direction`
    // is 1 for down, -1 for up.
    virtual int FindProcessByName(std::string text, int direction) = 0;

  protected:
    ~ProcessSearch() = default;
};

class CDlgFindProcess : public win::Dialog {
  public:
    CDlgFindProcess();

    // Set by the opener before the run; not owned. Without it nothing is ever found.
    ProcessSearch* mainDialog = nullptr;
    // The text of edit 1002 as typed, fetched when OK is pressed.
    std::string processName;
    // Screen areas set by the opener: the dialog opens beside `besideArea` (the list searched) when
    // the screen has room, otherwise anywhere off `keepClear` (the list's top rows, where hits
    // appear). Empty: where the system puts it.
    RECT besideArea{};
    RECT keepClear{};

  protected:
    bool OnInitDialog() override;
    void DoDataExchange(win::DataExchange& exchange) override;
    void OnOK() override;
};
