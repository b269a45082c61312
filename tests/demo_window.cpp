// Windows to point winprobe at, each showing one rule of the report: a plain
// framed window, a hidden window lying above a visible one (the hidden one
// is reported), and a window partly off the left edge (negative
// coordinates). With --tour it also moves the mouse cursor from one to the
// next every few seconds and says on stderr what lies under it, so that the
// probe's own output keeps stdout.
#include <windows.h>

#include <stdio.h>
#include <string.h>

struct DemoStop {
    POINT pt;
    const char *pszWhat;
};

static DemoStop s_aStops[3];
static int s_iStop;

static LRESULT CALLBACK DemoWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(hwnd, uMsg, wParam, lParam);
}

// Wine moves the pointer asynchronously: repeat until it reads back.
static void PlaceCursor(POINT pt)
{
    for (int nTry = 0; nTry < 30; ++nTry) {
        POINT ptNow;
        MSG msg;
        SetCursorPos(pt.x, pt.y);
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(100);
        if (GetCursorPos(&ptNow) && ptNow.x == pt.x && ptNow.y == pt.y)
            return;
    }
}

static HWND CreateDemoWindow(const char *pszTitle, DWORD dwStyle, RECT rect)
{
    return CreateWindowExA(0, "WinprobeDemo", pszTitle, dwStyle, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

static void NextStop(void)
{
    const DemoStop &stop = s_aStops[s_iStop];
    PlaceCursor(stop.pt);
    fprintf(stderr, "demo: the cursor is at (%ld, %ld), on %s\n", stop.pt.x, stop.pt.y,
            stop.pszWhat);
    s_iStop = (s_iStop + 1) % (int)(sizeof s_aStops / sizeof s_aStops[0]);
}

int main(int argc, char *argv[])
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DemoWndProc;
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

    if (argc > 1 && strcmp(argv[1], "--tour") == 0) {
        NextStop();
        SetTimer(NULL, 0, 4000, NULL);
    }

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == NULL)
            NextStop();
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
