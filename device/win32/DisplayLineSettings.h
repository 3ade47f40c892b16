#pragma once

#include <windows.h>

namespace brintel {

// Turns the DCB read from the driver into the display's: 9600 8N1, no flow
// control of any kind, DTR on, RTS off, abort on error. Every field not named
// here (XonLim, the special characters, fTXContinueOnXoff, fErrorChar, ...)
// keeps what the driver had.
void ApplyDisplayLineSettings(DCB& dcb);

// The port's time-outs: a read returns at once with what is queued, and a
// single write that the driver does not complete returns after a second.
COMMTIMEOUTS DisplayLineTimeouts();

}  // namespace brintel
