// Whether the platform draws controls with visual styles. The program carries no manifest that
// opts into them, so its windows keep the classic look and the themed drawing of the styled
// controls stays off; the query is kept so that those controls choose their path in one place.
#pragma once

inline bool ThemeServicesEnabled() {
    return false;
}
