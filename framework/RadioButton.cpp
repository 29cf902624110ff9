#include "framework/RadioButton.h"

#include "framework/Accessible.h"
#include "framework/ProgramText.h"

#include <algorithm>
#include <vector>

TRadioButton::TRadioButton(TComponent* owner) : TWinControl(owner) {
    SetBounds(0, 0, 113, 17);
}

void TRadioButton::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = "TRadioButton";
    p.SystemClass = "BUTTON";
    // Not the automatic kind: the group rule below is ours, so it holds for checks made in
    // code and from a stored layout as well as for clicks.
    p.Style |= BS_RADIOBUTTON;
}

void TRadioButton::CreateWnd() {
    TWinControl::CreateWnd();
    SendMessageA(WindowHandle(), BM_SETCHECK, FChecked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TRadioButton::SetChecked(bool checked) {
    if (checked == FChecked) return;
    FChecked = checked;
    SetTabStop(checked);
    if (HandleAllocated()) {
        SendMessageA(WindowHandle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        LONG_PTR style = GetWindowLongPtrA(WindowHandle(), GWL_STYLE);
        style = checked ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
        SetWindowLongPtrA(WindowHandle(), GWL_STYLE, style);
    }
    if (!checked || !Parent()) return;
    for (int i = 0; i < Parent()->ControlCount(); ++i)
        if (auto* other = dynamic_cast<TRadioButton*>(Parent()->Controls(i));
            other && other != this)
            other->SetChecked(false);
    Click();
}

void TRadioButton::WndProc(TMessage& m) {
    if (m.Msg == CN_COMMAND && HIWORD(m.WParam) == BN_CLICKED) {
        SetChecked(true);
        return;
    }
    if (m.Msg == WM_KEYDOWN && Parent() &&
        (m.WParam == VK_LEFT || m.WParam == VK_UP || m.WParam == VK_RIGHT || m.WParam == VK_DOWN)) {
        // As in a dialog: the arrows move through the group, checking as they go.
        std::vector<TRadioButton*> group;
        std::vector<TWinControl*> order;
        Parent()->GetTabOrderList(order);
        for (TWinControl* w : order)
            if (auto* radio = dynamic_cast<TRadioButton*>(w);
                radio && radio->Parent() == Parent() && radio->CanFocus())
                group.push_back(radio);
        const auto it = std::find(group.begin(), group.end(), this);
        if (it != group.end() && group.size() > 1) {
            const bool forward = m.WParam == VK_RIGHT || m.WParam == VK_DOWN;
            const size_t n = group.size(), i = static_cast<size_t>(it - group.begin());
            TRadioButton* next = group[forward ? (i + 1) % n : (i + n - 1) % n];
            next->SetChecked(true);
            next->SetFocus();
        }
        return;
    }
    TWinControl::WndProc(m);
}

TAccessibleObject* TRadioButton::CreateAccessibleObject() {
    return new TDescribedAccessible(
        WindowHandle(),
        [this](TAccessibleElement& e) {
            e.Role = ROLE_SYSTEM_RADIOBUTTON;
            e.Name = WithoutAccelerator(ToWide(Caption()));
            e.State =
                (FChecked ? STATE_SYSTEM_CHECKED : 0) | (Enabled() ? 0 : STATE_SYSTEM_UNAVAILABLE) |
                (CanFocus() ? STATE_SYSTEM_FOCUSABLE : 0) | (Focused() ? STATE_SYSTEM_FOCUSED : 0) |
                (Visible() ? 0 : STATE_SYSTEM_INVISIBLE);
            if (Enabled() && !FChecked) e.DefaultAction = ToWide("选中");
        },
        BM_CLICK);
}
