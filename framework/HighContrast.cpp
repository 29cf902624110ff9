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

THighContrastQuery HighContrastQuery = SystemHighContrast;

bool HighContrast() {
    if (Known < 0) Known = HighContrastQuery() ? 1 : 0;
    return Known == 1;
}

bool RefreshHighContrast() {
    const int before = Known;
    Known = HighContrastQuery() ? 1 : 0;
    return before >= 0 && before != Known;
}
