// Display backlight and AC97 audio link power.
#pragma once

#include "platform/types.h"

// Mode 1: backlight off, the primary codec's link powered down, the AC-link
// shut off and the AC97 controller's clocks stopped. Any other mode: backlight
// on, nothing else.
void EnterLowPower(int32_t mode);
