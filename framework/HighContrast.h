// Whether the user asked Windows for high contrast: then the styled controls draw in the
// system's colours, flat, as Windows' own controls do. Read once when first asked and again
// whenever a form hears that the setting or the system colours changed.
#pragma once

bool HighContrast();
// Reads the setting again; true when it changed.
bool RefreshHighContrast();
