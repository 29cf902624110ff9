// TForm: a top-level window that hosts controls. It knows its active control and announces
// every focus change to its controls, moves the focus with Tab and Shift+Tab through the tab
// order, offers Enter, Escape and accelerator characters to its controls (the default and
// cancel buttons take them), and carries a modal result.
#pragma once

#include "framework/WinControl.h"

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    TWinControl* ActiveControl() const { return FActiveControl; }
    // Gives `control` the focus (null: the form itself).
    void SetActiveControl(TWinControl* control);
    // Moves the focus to the next (or previous) focusable tab stop after `current`.
    void SelectNext(TWinControl* current, bool forward);
    // Takes the focus away from `control` (and what it holds); `removing` when it goes.
    void DefocusControl(TWinControl* control, bool removing);
    // Called when a control of this form received the focus.
    void FocusControlChanged(TWinControl* control);

    int ModalResult() const { return FModalResult; }
    void SetModalResult(int result) { FModalResult = result; }

    TRect ClientRect() const override;
    void SetClientSize(int width, int height);

    void Show();
    void Close();

    TNotifyEvent OnShow;
    TNotifyEvent OnDestroy;

    void WndProc(TMessage& message) override;

protected:
    void CreateParams(TCreateParams& params) override;

private:
    TWinControl* FActiveControl = nullptr;
    int FModalResult = 0;
    bool FShown = false;
};
