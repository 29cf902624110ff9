#include "framework/FormatSettings.h"

#include <windows.h>

namespace {

char ReadDecimalSeparator() {
    char text[8] = {};
    const int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text);
    // The length counts the terminating NUL: 2 is a one-character separator.
    return length == 2 ? text[0] : '.';
}

char Separator = ReadDecimalSeparator();

} // namespace

char DecimalSeparator() {
    return Separator;
}

void ReadFormatSettings() {
    Separator = ReadDecimalSeparator();
}
