// The shared ground of the styled controls: colour arithmetic, frames, the gradient fill and
// the blink scheduler.
#pragma once

#include "controls/RzBlinkList.h"
#include "controls/RzColorMath.h"
#include "controls/RzFrames.h"
#include "controls/RzGraphics.h"
