// TCustomLabel: a windowless caption painted on its parent's surface. It can size itself to
// its text, aligns the text in its box, shows an accelerator that moves the focus to another
// control, and is transparent (the parent's background shows under it) unless its opaque
// style flag is on. TLabel is the plain, usable kind.
#pragma once

#include "framework/WinControl.h"

#include <cstdint>
#include <string>

enum TTextLayout : uint8_t { tlTop, tlCenter, tlBottom };

class TCustomLabel : public TGraphicControl {
public:
    explicit TCustomLabel(TComponent* owner);

    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    // The alignment as drawn: left and right swapped for right-to-left reading.
    TAlignment EffectiveAlignment() const;
    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    TTextLayout Layout() const { return FLayout; }
    void SetLayout(TTextLayout value);
    bool Transparent() const { return (ControlStyle() & csOpaque) == 0; }
    void SetTransparent(bool value);
    // The control that the caption's accelerator focuses; cleared when it goes.
    TWinControl* FocusControl() const { return FFocusControl; }
    void SetFocusControl(TWinControl* control);

    void WndProc(TMessage& message) override;

protected:
    // The text to show; the caption as it is.
    virtual std::string GetLabelText() const { return Caption(); }
    // Draws (or with DT_CALCRECT measures into `rect`) the label's text with its font.
    virtual void DoDrawText(TRect& rect, UINT flags);
    // Sizes the label to its text when AutoSize is on.
    virtual void AdjustBounds();
    // DoDrawText on the screen's device context, for sizing outside of painting.
    void MeasureText(TRect& rect, UINT flags);

    void Paint() override;
    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    bool FAutoSize = true;
    TAlignment FAlignment = taLeftJustify;
    bool FShowAccelChar = true;
    bool FWordWrap = false;
    TTextLayout FLayout = tlTop;
    TWinControl* FFocusControl = nullptr;
};

class TLabel : public TCustomLabel {
public:
    using TCustomLabel::TCustomLabel;
};
