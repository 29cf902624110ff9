#include "framework/HighContrast.h"

#include <windows.h>

namespace {

bool SystemHighContrast() {
    HIGHCONTRASTW setting{sizeof setting, 0, nullptr};
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
           (setting.dwFlags & HCF_HIGHCONTRASTON);
}

int Known = -1; // not read yet

} // namespace

bool HighContrast() {
    if (Known < 0) Known = SystemHighContrast() ? 1 : 0;
    return Known == 1;
}

bool RefreshHighContrast() {
    const int before = Known;
    Known = SystemHighContrast() ? 1 : 0;
    return before >= 0 && before != Known;
}
