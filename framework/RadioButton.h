// TRadioButton: the system's radio button. The radio buttons of one parent form a group:
// checking one unchecks the others, and only the checked one is a tab stop, so Tab reaches
// the group at its choice. Clicking it (or its caption), or reaching it with an arrow key,
// checks it.
#pragma once

#include "framework/WinControl.h"

class TRadioButton : public TWinControl {
public:
    explicit TRadioButton(TComponent* owner);

    bool Checked() const { return FChecked; }
    void SetChecked(bool checked);

    void WndProc(TMessage& message) override;
    // A reader hears a radio button, its caption, whether it is checked; its action checks it.
    TAccessibleObject* CreateAccessibleObject() override;

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;

private:
    bool FChecked = false;
};
