// TProgressBar: the common controls' progress bar (msctls_progress32), horizontal, in its
// classic segmented look. The range and position live here too, so they hold before the
// window exists and are handed to it when it is made.
#pragma once

#include "framework/WinControl.h"

class TProgressBar : public TWinControl {
public:
    explicit TProgressBar(TComponent* owner);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    // The same value again does nothing; otherwise the range becomes Min..max.
    void SetMin(int min);
    void SetMax(int max);
    // Always handed to the control, which keeps it inside the range.
    int Position() const;
    void SetPosition(int position);

    // A reader hears a progress bar and its value in per cent.
    TAccessibleObject* CreateAccessibleObject() override;

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;

private:
    void SendRange();

    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
};
