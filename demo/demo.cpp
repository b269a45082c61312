// Windows to point winprobe at, each showing one rule of the report: a plain
// framed window, a hidden window lying above a visible one (the hidden one
// is reported), and a window partly off the left edge (negative
// coordinates). It runs winprobe.exe, from beside it, in its own console and
// ends when the probe ends: Ctrl+C there stops both.
//
// With --tour it also moves the mouse cursor from one window to the next
// every four seconds and says on stderr what lies under it. Where that is
// the probe's console, each narration line goes out in one write, as each of
// the probe's lines does, and the console applies every write whole: the two
// never split each other's lines, as two programs writing to one terminal
// would.
#include "support/child.h"

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

struct DemoStop {
    POINT pt;
    const char *pszWhat;
};

static DemoStop s_aStops[3];
static int s_iStop;

static HWND CreateDemoWindow(const char *pszTitle, DWORD dwStyle, RECT rect)
{
    return CreateWindowExA(0, "WinprobeDemo", pszTitle, dwStyle, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

// A whole line in a single write.
static void Say(const char *pszFormat, ...)
{
    char szLine[512];
    va_list args;
    DWORD cbWritten;

    va_start(args, pszFormat);
    int cch = vsnprintf(szLine, sizeof szLine - 2, pszFormat, args);
    va_end(args);
    if (cch < 0 || cch > (int)sizeof szLine - 3)
        cch = (int)sizeof szLine - 3;
    strcpy(szLine + cch, "\r\n");
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), szLine, (DWORD)cch + 2, &cbWritten, NULL);
}

static void NextStop(void)
{
    const DemoStop &stop = s_aStops[s_iStop];
    if (PlaceCursor(stop.pt))
        Say("demo: the cursor is at (%ld, %ld), on %s", stop.pt.x, stop.pt.y, stop.pszWhat);
    else
        Say("demo: the cursor did not move to (%ld, %ld)", stop.pt.x, stop.pt.y);
    s_iStop = (s_iStop + 1) % (int)(sizeof s_aStops / sizeof s_aStops[0]);
}

// winprobe.exe from this program's folder, sharing this console and its
// standard handles.
static BOOL StartProbe(PROCESS_INFORMATION *ppi)
{
    const std::string path = ProgramPath("winprobe.exe");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (CreateProcessA(path.c_str(), NULL, NULL, NULL, TRUE, 0, NULL, NULL, &si, ppi))
        return TRUE;
    Say("demo: %s does not start (error %lu)", path.c_str(), GetLastError());
    return FALSE;
}

// Ctrl+C, Ctrl+Break and closing the console reach the probe too: the demo
// waits for it to end rather than ending first.
static BOOL WINAPI OutliveProbe(DWORD dwCtrlType)
{
    return dwCtrlType == CTRL_C_EVENT || dwCtrlType == CTRL_BREAK_EVENT;
}

int main(int argc, char *argv[])
{
    const bool fTour = argc > 1 && strcmp(argv[1], "--tour") == 0;

    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = "WinprobeDemo";
    RegisterClassA(&wc);

    const LONG cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    const LONG xMid = cx / 2, yTop = cy / 8, yLow = cy / 2;
    const DWORD dwFramed = WS_OVERLAPPEDWINDOW | WS_VISIBLE;

    CreateDemoWindow("winprobe demo window", dwFramed, {xMid - 240, yTop, xMid + 240, yTop + 280});
    CreateDemoWindow("partly off the left edge", dwFramed, {-120, yLow, 240, yLow + 240});
    CreateDemoWindow("a visible window", dwFramed, {xMid - 200, yLow, xMid + 200, yLow + 240});
    // Created last, so it lies above the visible one: never drawn, still
    // reported where it holds the point.
    CreateDemoWindow("a hidden window above it", WS_POPUP,
                     {xMid - 100, yLow + 60, xMid + 300, yLow + 300});

    s_aStops[0] = {{xMid, yTop + 140}, "the plain framed window \"winprobe demo window\""};
    s_aStops[1] = {{xMid, yLow + 150},
                   "the visible window where a hidden one lies above it: the hidden one is "
                   "reported, IsVisible: 0"};
    s_aStops[2] = {{40, yLow + 120},
                   "the window partly off the left edge: its rectangle starts at x = -120"};

    SetConsoleCtrlHandler(OutliveProbe, TRUE);
    PROCESS_INFORMATION pi;
    if (!StartProbe(&pi))
        return 1;

    const DWORD dwStopMilliseconds = 4000;
    DWORD dwNextStop = GetTickCount();
    for (;;) {
        DWORD dwWait = INFINITE;
        if (fTour) {
            if ((LONG)(dwNextStop - GetTickCount()) <= 0) {
                NextStop();
                dwNextStop = GetTickCount() + dwStopMilliseconds;
            }
            LONG lLeft = (LONG)(dwNextStop - GetTickCount());
            dwWait = lLeft > 0 ? (DWORD)lLeft : 0;
        }
        if (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, dwWait, QS_ALLINPUT) == WAIT_OBJECT_0)
            break;
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    // Stopped from its console, the probe has done what it is for.
    DWORD dwExit = 0;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    return dwExit == (DWORD)STATUS_CONTROL_C_EXIT ? 0 : (int)dwExit;
}
