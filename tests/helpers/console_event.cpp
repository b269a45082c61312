// Raises a console event in another process's console, as a user at that
// console would, from a process of its own, so that the console the tests
// were started with (on a CI runner, the whole step's) never sees it.
//   winprobe_console_event PID ctrl-c|ctrl-break|close
// The exit code is 0 once the event is raised, else the error that stopped it:
// ERROR_NOT_SUPPORTED for a close where the console is a pseudo-console.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

static DWORD Failed(void)
{
    DWORD dwError = GetLastError();
    return dwError ? dwError : ERROR_GEN_FAILURE;
}

int main(int argc, char *argv[])
{
    if (argc < 3)
        return ERROR_BAD_ARGUMENTS;
    DWORD dwProcessId = strtoul(argv[1], NULL, 10);
    const char *pszEvent = argv[2];

    // Ctrl+C reaches every process on the console, this one too.
    SetConsoleCtrlHandler(NULL, TRUE);
    FreeConsole();
    BOOL fAttached = FALSE;
    for (int nTry = 0; nTry < 50 && !fAttached; ++nTry) {
        fAttached = AttachConsole(dwProcessId);
        if (!fAttached)
            Sleep(50);
    }
    if (!fAttached)
        return (int)Failed();

    if (strcmp(pszEvent, "close") == 0) {
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
        return hwndConsole && PostMessageA(hwndConsole, WM_CLOSE, 0, 0) ? 0 : (int)Failed();
    }
    BOOL fBreak = strcmp(pszEvent, "ctrl-break") == 0;
    // Ctrl+Break goes to the probe's own process group, Ctrl+C to the console.
    if (!GenerateConsoleCtrlEvent(fBreak ? CTRL_BREAK_EVENT : CTRL_C_EVENT,
                                  fBreak ? dwProcessId : 0))
        return (int)Failed();
    return 0;
}
