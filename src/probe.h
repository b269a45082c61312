// The probe: once a second, the top-level window under the cursor.
#pragma once

#include <windows.h>

// The cursor position sampled at the start of the cycle.
extern POINT ptCursor;

// The window the current cycle's hit test selected, or null.
extern HWND hwndFound;

// EnumWindows callback: stops at the first window whose rectangle holds
// ptCursor and stores it in hwndFound.
BOOL CALLBACK HitTestProc(HWND hwnd, LPARAM lParam);

// The part of a cycle after the sleep: hit-tests ptCursor and reports the
// window found. fCursorRead is what GetCursorPos returned before the sleep; a
// position that could not be read is not tested at all.
void ProbeCycle(BOOL fCursorRead);

// Samples, sleeps, tests and reports, once a second, forever.
[[noreturn]] void RunProbe(void);
