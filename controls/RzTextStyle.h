// The text effects shared by the styled button and the styled label: plain, embossed (light
// above, dark below), engraved (the other way round), or a drop shadow.
#pragma once

#include <cstdint>

enum TTextStyle : uint8_t { tsNormal, tsRaised, tsRecessed, tsShadow };
