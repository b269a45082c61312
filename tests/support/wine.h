// Which Wine the tests run under, read from Wine's own ntdll, so that a test
// checks the behaviour of the Wine it meets rather than guessing.
#pragma once

#include <string>

// Wine's version ("10.0", "8.0"), or "" on Windows.
std::string WineVersion();

// Its major number: 10 for "10.0"; 0 on Windows.
int WineMajor();

// The first Wine seen here doing as Windows does; below it, what Wine 8.0
// was seen doing. A Wine in between that already behaves so makes the test
// fail, saying to lower the number.
const int kWineRaisesCtrlBreak = 10; // GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, group)
