#include "framework/ProgressBar.h"

#include "framework/Accessible.h"
#include "framework/ProgramText.h"

#include <commctrl.h>

#include <algorithm>

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner) {
    SetBounds(0, 0, 150, 16);
}

void TProgressBar::CreateParams(TCreateParams& p) {
    static const bool initialised = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)initialised;
    TWinControl::CreateParams(p);
    p.ClassName = "TProgressBar";
    p.SystemClass = PROGRESS_CLASSA;
}

void TProgressBar::SendRange() {
    if (HandleAllocated())
        SendMessageA(WindowHandle(), PBM_SETRANGE32, static_cast<WPARAM>(FMin),
                     static_cast<LPARAM>(FMax));
}

void TProgressBar::CreateWnd() {
    TWinControl::CreateWnd();
    SendRange();
    SendMessageA(WindowHandle(), PBM_SETPOS, static_cast<WPARAM>(FPosition), 0);
}

void TProgressBar::SetMin(int min) {
    if (min == FMin) return;
    FMin = min;
    SendRange();
}

void TProgressBar::SetMax(int max) {
    if (max == FMax) return;
    FMax = max;
    SendRange();
}

int TProgressBar::Position() const {
    if (HandleAllocated()) return static_cast<int>(SendMessageA(WindowHandle(), PBM_GETPOS, 0, 0));
    return FPosition;
}

void TProgressBar::SetPosition(int position) {
    // Like the control: a position outside the range stands at its nearer end.
    FPosition = FMax >= FMin ? std::clamp(position, FMin, FMax) : FMin;
    if (HandleAllocated())
        SendMessageA(WindowHandle(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

TAccessibleObject* TProgressBar::CreateAccessibleObject() {
    return new TDescribedAccessible(WindowHandle(), [this](TAccessibleElement& e) {
        e.Role = ROLE_SYSTEM_PROGRESSBAR;
        e.State = STATE_SYSTEM_READONLY | (Visible() ? 0 : STATE_SYSTEM_INVISIBLE);
        const int range = FMax - FMin;
        const int percent = range > 0 ? MulDiv(Position() - FMin, 100, range) : 0;
        e.Value = DecimalText(std::clamp(percent, 0, 100)) + L"%";
    });
}
