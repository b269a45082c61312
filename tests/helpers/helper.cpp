// The processes the tests need beside their own, one subcommand each:
//   winprobe_helper churn SECONDS X Y
//   winprobe_helper console-event PID ctrl-c|ctrl-break|close
//   winprobe_helper desktop
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <utility>

static HWND CreateTopLevelWindow(const char *pszClass, const char *pszTitle, DWORD dwStyle,
                                 DWORD dwExStyle, RECT rect)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hbrBackground = (HBRUSH)(COLOR_DESKTOP + 1);
    wc.lpszClassName = pszClass;
    RegisterClassA(&wc); // fails harmlessly where the class exists
    return CreateWindowExA(dwExStyle, pszClass, pszTitle, dwStyle, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, NULL, NULL, wc.hInstance,
                           NULL);
}

static void PumpWaiting(void)
{
    for (MSG msg; PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);)
        DispatchMessageA(&msg);
}

static unsigned s_nSeed = 1;

static int Random(int nRange)
{
    s_nSeed = s_nSeed * 1103515245 + 12345;
    return (int)((s_nSeed >> 16) % (unsigned)nRange);
}

// Churns 16 top-level windows around the point as fast as it can: creates,
// moves, resizes, retitles, hides, shows, restacks and destroys them. Every
// rectangle is on the point's 8-pixel grid, often but not always over it,
// and every title is "churn N" or "churn N" and a second line. Prints the
// number of operations done; the exit code is 0.
static int Churn(DWORD dwMilliseconds, POINT pt)
{
    HWND ahwnd[16] = {};
    int cOperations = 0;
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < dwMilliseconds; ++cOperations) {
        HWND &hwnd = ahwnd[Random(16)];
        LONG x = pt.x - 8 * Random(50), y = pt.y - 8 * Random(50);
        LONG cx = 8 * (1 + Random(60)), cy = 8 * (1 + Random(60));
        char szTitle[64];
        snprintf(szTitle, sizeof szTitle, Random(5) ? "churn %d" : "churn %d\nsecond line",
                 Random(1000));
        int nOperation = hwnd == NULL ? -1 : Random(6);
        if (nOperation < 0)
            hwnd = CreateTopLevelWindow("WinprobeChurn", szTitle,
                                        WS_POPUP | (Random(2) ? WS_VISIBLE : 0), 0,
                                        {x, y, x + cx, y + cy});
        else if (nOperation == 0)
            SetWindowPos(hwnd, NULL, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
        else if (nOperation == 1)
            SetWindowTextA(hwnd, szTitle);
        else if (nOperation == 2)
            ShowWindow(hwnd, IsWindowVisible(hwnd) ? SW_HIDE : SW_SHOWNA);
        else if (nOperation == 3)
            SetWindowPos(hwnd, Random(2) ? HWND_TOP : HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        else
            DestroyWindow(std::exchange(hwnd, (HWND)NULL));
        PumpWaiting();
    }
    for (HWND hwnd : ahwnd)
        DestroyWindow(hwnd);
    printf("operations %d\n", cOperations);
    return 0;
}

static int LastError(void)
{
    DWORD dwError = GetLastError();
    return dwError ? (int)dwError : ERROR_GEN_FAILURE;
}

// Raises a console event in another process's console, as a user at that
// console would, so that the console the tests were started with (on a CI
// runner, the whole step's) never sees it. The exit code is 0 once it is
// raised, else the error that stopped it: ERROR_NOT_SUPPORTED for a close
// where the console is a pseudo-console.
static int RaiseConsoleEvent(DWORD dwProcessId, const char *pszEvent)
{
    // Ctrl+C reaches every process on the console, this one too.
    SetConsoleCtrlHandler(NULL, TRUE);
    FreeConsole();
    for (int nTry = 0; !AttachConsole(dwProcessId); ++nTry) {
        if (nTry == 50)
            return LastError();
        Sleep(50);
    }
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
        return hwndConsole && PostMessageA(hwndConsole, WM_CLOSE, 0, 0) ? 0 : LastError();
    }
    // Ctrl+Break goes to the probe's own process group, Ctrl+C to the console.
    BOOL fBreak = strcmp(pszEvent, "ctrl-break") == 0;
    BOOL fRaised = GenerateConsoleCtrlEvent(fBreak ? CTRL_BREAK_EVENT : CTRL_C_EVENT,
                                            fBreak ? dwProcessId : 0);
    return fRaised ? 0 : LastError();
}

// What a Windows session has on screen before any program starts, for the
// suite's "windows" desktop profile under Wine: the desktop window covering
// the whole screen at the bottom of the Z-order, a topmost taskbar along the
// bottom edge, and a hidden topmost tooltip that keeps the size and place it
// was last shown at. Prints "ready" once they stand, then serves them until
// it is ended.
static int PutUpDesktop(void)
{
    const DWORD dwShell = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    const int cyTaskbar = 48; // a 1024x768 runner has a 1024x720 work area
    HWND hwndDesktop = CreateTopLevelWindow(
        "Progman", "Program Manager", dwShell, WS_EX_TOOLWINDOW,
        {x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN), y + GetSystemMetrics(SM_CYVIRTUALSCREEN)});
    HWND hwndTaskbar =
        CreateTopLevelWindow("Shell_TrayWnd", "", dwShell, WS_EX_TOOLWINDOW | WS_EX_TOPMOST,
                             {0, cy - cyTaskbar, cx, cy});
    // Where the clock's tooltip was last shown, above the taskbar.
    HWND hwndTooltip =
        CreateTopLevelWindow("tooltips_class32", "", WS_POPUP, WS_EX_TOOLWINDOW | WS_EX_TOPMOST,
                             {cx - 300, cy - cyTaskbar - 30, cx - 20, cy - cyTaskbar - 6});
    printf("desktop %p, taskbar %p, tooltip %p on a %dx%d screen\n", (void *)hwndDesktop,
           (void *)hwndTaskbar, (void *)hwndTooltip, cx, cy);
    if (!hwndDesktop || !hwndTaskbar || !hwndTooltip)
        return 1;
    SetWindowPos(hwndDesktop, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    PumpWaiting();
    printf("ready\n");
    fflush(stdout);
    for (MSG msg; GetMessageA(&msg, NULL, 0, 0) > 0;)
        DispatchMessageA(&msg);
    return 0;
}

int main(int argc, char *argv[])
{
    const char *pszCommand = argc > 1 ? argv[1] : "";
    if (strcmp(pszCommand, "churn") == 0 && argc == 5)
        return Churn((DWORD)atoi(argv[2]) * 1000, {atol(argv[3]), atol(argv[4])});
    if (strcmp(pszCommand, "console-event") == 0 && argc == 4)
        return RaiseConsoleEvent(strtoul(argv[2], NULL, 10), argv[3]);
    if (strcmp(pszCommand, "desktop") == 0 && argc == 2)
        return PutUpDesktop();
    fprintf(stderr, "usage: winprobe_helper churn SECONDS X Y\n"
                    "       winprobe_helper console-event PID ctrl-c|ctrl-break|close\n"
                    "       winprobe_helper desktop\n");
    return ERROR_BAD_ARGUMENTS;
}
