// The report: one numbered block of twelve lines about a window.
#pragma once

#include <windows.h>

// Blocks completed so far; the next block shows this number.
extern int nCount;

// The text RectToString hands back, valid until its next call.
extern char szRect[100];

// Prints the block for hwnd and advances nCount. A null hwnd prints only the
// separator, count and handle lines and leaves nCount as it was.
void PrintWindowInfo(HWND hwnd);

// Formats a rectangle as "(left, top)-(right, bottom)" into szRect.
const char *RectToString(const RECT *rect);
