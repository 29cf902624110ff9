// The user's number formats as the program uses them: the decimal separator, read when the
// program starts and again whenever the system announces a change of regional settings.
#pragma once

// The user's decimal separator when it is one character long, else '.'.
char DecimalSeparator();
// Reads the regional settings again (the application does this on WM_SETTINGCHANGE).
void ReadFormatSettings();
