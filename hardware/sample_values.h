// Converter codes to volts, and a synthetic test tone in the record layout.
// Neither touches hardware or keeps state.
#pragma once

#include "platform/types.h"

// `code` holds a 24-bit two's-complement converter code in its low 24 bits;
// zero- and sign-extended forms give the same voltage.
double AdcCodeToVolts(int32_t code);

// Writes a 10 kHz sine of amplitude 50000 into the first `count` elements of
// `values`. A sampling rate of 0 writes nothing and returns false.
bool FillTestTone(int32_t count, int32_t samplesPerSecond, int32_t* values);
