// Dialogs from resource templates: data exchange with the controls, and a modal run with a message
// loop of its own, so that a dialog sees every message before it is dispatched (its keys included),
// which DialogBoxParam cannot offer.
#pragma once

#include "win/window.h"

#include <string>

namespace win {

// One transfer between a dialog's controls and its members, in the direction Saving() tells.
class DataExchange {
  public:
    DataExchange(HWND dialog, bool saving) : dialog_(dialog), saving_(saving) {}

    bool Saving() const { return saving_; }
    // False once a control could not be found.
    bool Ok() const { return ok_; }

    // The text of an edit control and an 8-bit string in the system code page.
    void Text(int controlId, std::string& value);

  private:
    HWND dialog_;
    bool saving_;
    bool ok_ = true;
};

class Dialog : public MessageWindow {
  public:
    explicit Dialog(int templateId) : templateId_(templateId) {}

    // Runs the dialog modally with `parent` disabled; returns the EndModal value, -1 when the
    // dialog could not be created or a quit message ended the run (the quit is posted again for the
    // loops outside).
    INT_PTR DoModal(HWND parent);
    // Creates the dialog without running it (the caller's loop dispatches its messages).
    bool CreateModeless(HWND parent);
    // Ends the modal run after the current message; a modeless dialog is hidden.
    void EndModal(INT_PTR result);
    // Moves control values into the members (save) or members into the controls.
    bool UpdateData(bool save);
    // Centres the dialog on its owner, kept inside the work area of the owner's monitor. A dialog
    // without a visible owner stays where it is.
    void CenterOnOwner();

  protected:
    // The default centres the dialog on its owner and transfers the members to the controls; true
    // lets the dialog manager set the focus.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(DataExchange&) {}
    // Sees each message of the modal loop before the dialog manager; true swallows it.
    virtual bool PreTranslateMessage(MSG&) { return false; }
    virtual void OnOK();
    virtual void OnCancel();

    Result Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
    Result OnCommand(UINT id, UINT code, HWND control) override;

  private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    HWND CreateFromTemplate(HWND parent);

    int templateId_;
    bool modal_ = false;
    bool ended_ = false;
    INT_PTR result_ = IDCANCEL;
};

}  // namespace win
