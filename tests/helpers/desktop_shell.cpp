// What a Windows session has on screen before any program starts, for the
// suite's "windows" desktop profile under Wine: the desktop window covering
// the whole screen at the bottom of the Z-order, a topmost taskbar along the
// bottom edge, and a hidden topmost tooltip that keeps the size and place it
// was last shown at. Prints "ready" once they stand, then serves them until
// it is ended.
#include <windows.h>

#include <stdio.h>

static HWND CreateShellWindow(const char *pszClass, const char *pszTitle, DWORD dwStyle,
                              DWORD dwExStyle, RECT rect)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hbrBackground = (HBRUSH)(COLOR_DESKTOP + 1);
    wc.lpszClassName = pszClass;
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(dwExStyle, pszClass, pszTitle, dwStyle, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, NULL, NULL,
                                wc.hInstance, NULL);
    printf("%s: %s (%ld, %ld)-(%ld, %ld)\n", pszClass, hwnd ? "made" : "refused", rect.left,
           rect.top, rect.right, rect.bottom);
    return hwnd;
}

int main(void)
{
    const DWORD dwShell = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    const int cyTaskbar = 48; // a 1024x768 runner has a 1024x720 work area

    HWND hwndDesktop = CreateShellWindow(
        "Progman", "Program Manager", dwShell, WS_EX_TOOLWINDOW,
        {x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN), y + GetSystemMetrics(SM_CYVIRTUALSCREEN)});
    HWND hwndTaskbar =
        CreateShellWindow("Shell_TrayWnd", "", dwShell, WS_EX_TOOLWINDOW | WS_EX_TOPMOST,
                          {0, cy - cyTaskbar, cx, cy});
    // Where the clock's tooltip was last shown, above the taskbar.
    HWND hwndTooltip =
        CreateShellWindow("tooltips_class32", "", WS_POPUP, WS_EX_TOOLWINDOW | WS_EX_TOPMOST,
                          {cx - 300, cy - cyTaskbar - 30, cx - 20, cy - cyTaskbar - 6});
    if (!hwndDesktop || !hwndTaskbar || !hwndTooltip)
        return 1;
    SetWindowPos(hwndDesktop, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    printf("ready\n");
    fflush(stdout);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
