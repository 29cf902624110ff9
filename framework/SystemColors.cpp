// System colours come from the system, read each time they are used.
#include "framework/Colors.h"

#include <windows.h>

TColor SystemColorRGB(int index) {
    return static_cast<TColor>(GetSysColor(index));
}
