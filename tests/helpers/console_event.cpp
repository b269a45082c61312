// winprobe_console_event PID EVENT
// Raises console event EVENT, by its value (0 CTRL_C_EVENT, 1
// CTRL_BREAK_EVENT, 2 CTRL_CLOSE_EVENT), in another process's console, as a
// user at that console would, so that the console the tests were started
// with (on a CI runner, the whole step's) never sees it. The exit code is 0 once it is
// raised, else the error that stopped it: ERROR_NOT_SUPPORTED for a close
// where the console is a pseudo-console.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int LastError()
{
    DWORD dwError = GetLastError();
    return dwError ? (int)dwError : ERROR_GEN_FAILURE;
}

int main(int argc, char *argv[])
{
    const char *pszEvent = argc == 3 ? argv[2] : "";
    if (pszEvent[0] < '0' || pszEvent[0] > '2' || pszEvent[1] != '\0') {
        fprintf(stderr, "usage: winprobe_console_event PID 0|1|2 (Ctrl+C, Ctrl+Break, close)\n");
        return ERROR_BAD_ARGUMENTS;
    }
    const DWORD dwProcessId = strtoul(argv[1], NULL, 10), dwEvent = (DWORD)(pszEvent[0] - '0');
    // Ctrl+C reaches every process on the console, this one too.
    SetConsoleCtrlHandler(NULL, TRUE);
    FreeConsole();
    for (int nTry = 0; !AttachConsole(dwProcessId); ++nTry) {
        if (nTry == 50)
            return LastError();
        Sleep(50);
    }
    if (dwEvent == CTRL_CLOSE_EVENT) {
        // As a user closes the console window; detached first, so that the
        // close event does not end this process instead.
        HWND hwndConsole = GetConsoleWindow();
        FreeConsole();
        // Where Windows Terminal hosts the console, this is a hidden
        // stand-in window that ignores WM_CLOSE: nothing would be closed.
        char szClass[64] = "";
        GetClassNameA(hwndConsole, szClass, sizeof szClass);
        if (strcmp(szClass, "PseudoConsoleWindow") == 0)
            return ERROR_NOT_SUPPORTED;
        return hwndConsole && PostMessageA(hwndConsole, WM_CLOSE, 0, 0) ? 0 : LastError();
    }
    // Ctrl+Break goes to the probe's own process group, Ctrl+C to the console.
    DWORD dwGroup = dwEvent == CTRL_BREAK_EVENT ? dwProcessId : 0;
    return GenerateConsoleCtrlEvent(dwEvent, dwGroup) ? 0 : LastError();
}
