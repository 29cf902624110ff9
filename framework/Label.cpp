#include "framework/Label.h"

#include "framework/Form.h"

#include <cctype>

TCustomLabel::TCustomLabel(TComponent* owner) : TGraphicControl(owner) {
    SetBounds(0, 0, 65, 17);
}

void TCustomLabel::SetAutoSize(bool value) {
    if (value == FAutoSize) return;
    FAutoSize = value;
    AdjustBounds();
}

void TCustomLabel::SetAlignment(TAlignment value) {
    if (value == FAlignment) return;
    FAlignment = value;
    Invalidate();
}

TAlignment TCustomLabel::EffectiveAlignment() const {
    if (!UseRightToLeftAlignment()) return FAlignment;
    if (FAlignment == taLeftJustify) return taRightJustify;
    if (FAlignment == taRightJustify) return taLeftJustify;
    return FAlignment;
}

void TCustomLabel::SetShowAccelChar(bool value) {
    if (value == FShowAccelChar) return;
    FShowAccelChar = value;
    AdjustBounds();
    Invalidate();
}

void TCustomLabel::SetWordWrap(bool value) {
    if (value == FWordWrap) return;
    FWordWrap = value;
    AdjustBounds();
    Invalidate();
}

void TCustomLabel::SetLayout(TTextLayout value) {
    if (value == FLayout) return;
    FLayout = value;
    Invalidate();
}

void TCustomLabel::SetTransparent(bool value) {
    if (value == Transparent()) return;
    SetControlStyle(value ? ControlStyle() & ~csOpaque : ControlStyle() | csOpaque);
    Invalidate();
}

void TCustomLabel::SetFocusControl(TWinControl* control) {
    if (control == FFocusControl) return;
    FFocusControl = control;
    if (control) control->FreeNotification(this);
}

void TCustomLabel::Notification(TComponent* component, TOperation operation) {
    TGraphicControl::Notification(component, operation);
    if (operation == TOperation::opRemove && component == FFocusControl) FFocusControl = nullptr;
}

void TCustomLabel::DoDrawText(TRect& rect, UINT flags) {
    std::string text = GetLabelText();
    // Nothing to measure would give an empty box that cannot be found again on the form.
    if ((flags & DT_CALCRECT) && (text.empty() || (FShowAccelChar && text == "&")))
        text = std::string(1, ' ');
    if (!FShowAccelChar) flags |= DT_NOPREFIX;
    if (UseRightToLeftReading()) flags |= DT_RTLREADING;
    TCanvas& canvas = Canvas();
    canvas.Font().Assign(Font());
    if (!Enabled() && !(flags & DT_CALCRECT)) canvas.Font().SetColor(clGrayText);
    canvas.DrawTextFormatted(text, rect, flags);
}

void TCustomLabel::MeasureText(TRect& rect, UINT flags) {
    // The screen's context is borrowed for this one measurement only.
    struct TScreenDC {
        HDC DC = GetDC(nullptr);
        ~TScreenDC() { ReleaseDC(nullptr, DC); }
    } screen;
    TCanvasHandleScope scope(Canvas(), screen.DC);
    DoDrawText(rect, flags);
}

void TCustomLabel::AdjustBounds() {
    if (Loading() || !FAutoSize) return;
    TRect r = ClientRect();
    MeasureText(r, DT_CALCRECT | DT_EXPANDTABS | (FWordWrap ? DT_WORDBREAK : 0));
    int x = Left();
    if (EffectiveAlignment() == taRightJustify) x += Width() - r.Right;
    SetBounds(x, Top(), r.Right, r.Bottom);
}

void TCustomLabel::Paint() {
    TCanvas& canvas = Canvas();
    if (!Transparent()) {
        canvas.Brush().SetColor(Color());
        canvas.FillRect(ClientRect());
    }
    canvas.Brush().SetStyle(TBrushStyle::bsClear);
    static const UINT alignFlags[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
    const UINT flags =
        alignFlags[EffectiveAlignment()] | DT_EXPANDTABS | (FWordWrap ? DT_WORDBREAK : 0);
    TRect r = ClientRect();
    if (FLayout != tlTop) {
        TRect m = r;
        DoDrawText(m, flags | DT_CALCRECT);
        const int d = r.Height() - m.Height();
        r = r.Offset(0, FLayout == tlBottom ? d : d / 2);
    }
    DoDrawText(r, flags);
}

void TCustomLabel::Loaded() {
    TGraphicControl::Loaded();
    AdjustBounds();
}

void TCustomLabel::WndProc(TMessage& m) {
    switch (m.Msg) {
    case CM_TEXTCHANGED:
        // Screen readers hear the new text (the label has no window of its own to say so).
        if (auto* form = dynamic_cast<TForm*>(Parent())) form->AccessibleTextChanged(this);
        [[fallthrough]];
    case CM_FONTCHANGED:
        Invalidate();
        AdjustBounds();
        return;
    case CM_DIALOGCHAR: {
        const char key = AcceleratorOf(Caption());
        if (FFocusControl && FShowAccelChar && Enabled() && Visible() && key != 0 &&
            std::toupper(static_cast<unsigned char>(key)) ==
                std::toupper(static_cast<unsigned char>(m.WParam)) &&
            FFocusControl->CanFocus()) {
            FFocusControl->SetFocus();
            m.Result = 1;
        }
        return;
    }
    }
    TGraphicControl::WndProc(m);
}
