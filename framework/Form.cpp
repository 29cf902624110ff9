#include "framework/Form.h"

#include "framework/Application.h"

#include <algorithm>

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    SetColor(clBtnFace);
    SetBounds(0, 0, 320, 240);
}

TForm::~TForm() {
    if (OnDestroy) OnDestroy(this);
    if (Application().MainForm() == this) Application().SetMainForm(nullptr);
}

void TForm::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    p.ClassName = "TForm";
    p.Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    p.WndParent = nullptr;
}

TRect TForm::ClientRect() const {
    if (!HandleAllocated()) return TWinControl::ClientRect();
    RECT r;
    GetClientRect(WindowHandle(), &r);
    return FromRECT(r);
}

void TForm::SetClientSize(int width, int height) {
    TCreateParams p;
    CreateParams(p);
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, p.Style, FALSE, p.ExStyle);
    SetBounds(Left(), Top(), r.right - r.left, r.bottom - r.top);
}

void TForm::SetActiveControl(TWinControl* control) {
    if (control && (!control->CanFocus() || control->ParentForm() != this)) return;
    FActiveControl = control;
    if (!HandleAllocated()) return;
    ::SetFocus(control ? control->Handle() : WindowHandle());
}

void TForm::FocusControlChanged(TWinControl* control) {
    FActiveControl = control;
    Perform(CM_FOCUSCHANGED, 0, reinterpret_cast<LPARAM>(control));
}

void TForm::DefocusControl(TWinControl* control, bool removing) {
    bool holds = false;
    for (TControl* c = FActiveControl; c; c = c->Parent())
        if (c == control) holds = true;
    if (!holds) return;
    if (removing)
        FActiveControl = nullptr;
    else
        SetActiveControl(nullptr);
}

void TForm::SelectNext(TWinControl* current, bool forward) {
    std::vector<TWinControl*> all, stops;
    GetTabOrderList(all);
    for (TWinControl* w : all)
        if (w == current || (w->TabStop() && w->CanFocus())) stops.push_back(w);
    if (stops.empty()) return;
    auto it = std::find(stops.begin(), stops.end(), current);
    const int n = static_cast<int>(stops.size());
    int i = it == stops.end() ? (forward ? -1 : n) : static_cast<int>(it - stops.begin());
    for (int step = 0; step < n; ++step) {
        i = ((forward ? i + 1 : i - 1) + n) % n;
        if (stops[i] != current || n == 1) break;
    }
    if (stops[i]->TabStop() && stops[i]->CanFocus()) SetActiveControl(stops[i]);
}

void TForm::Show() {
    HandleNeeded();
    if (!FShown) {
        FShown = true;
        if (OnShow) OnShow(this);
    }
    ShowWindow(Handle(), SW_SHOW);
}

void TForm::Close() {
    if (Application().MainForm() == this)
        Application().Terminate();
    else if (HandleAllocated())
        ShowWindow(WindowHandle(), SW_HIDE);
}

void TForm::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CM_DIALOGKEY:
        if (m.WParam == VK_TAB && !(KeyboardShiftState() & (ssCtrl | ssAlt))) {
            SelectNext(FActiveControl, !(KeyboardShiftState() & ssShift));
            m.Result = 1;
            return;
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(m.WParam) != WA_INACTIVE) {
            // The focus goes back where it was, or to the first tab stop.
            if (FActiveControl && FActiveControl->CanFocus())
                SetActiveControl(FActiveControl);
            else
                SelectNext(nullptr, true);
            m.Result = 0;
            return;
        }
        break;
    case WM_SETFOCUS:
        if (FActiveControl && FActiveControl->CanFocus()) {
            ::SetFocus(FActiveControl->Handle());
            return;
        }
        // The form itself holds the focus now: that is a focus change too.
        FocusControlChanged(nullptr);
        break;
    case WM_CLOSE:
        Close();
        return;
    }
    TWinControl::WndProc(m);
}
