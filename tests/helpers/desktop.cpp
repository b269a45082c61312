// winprobe_desktop
// What a Windows session has on screen before any program starts, for the
// suite's "windows" desktop profile under Wine: the desktop window covering
// the whole screen at the bottom of the Z-order, a topmost taskbar along the
// bottom edge, and a hidden topmost tooltip that keeps the size and place it
// was last shown at. Fits any screen size. Prints "ready" once they stand,
// then serves them until it is ended.
#include "../support/screen.h"

#include <stdio.h>

int main()
{
    const DWORD dwShell = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    // The taskbar's height: 48 pixels on a 96-DPI screen (a 1024x768 runner
    // has a 1024x720 work area), scaled to this screen's DPI.
    HDC hdc = GetDC(NULL);
    const int cyTaskbar = MulDiv(48, GetDeviceCaps(hdc, LOGPIXELSY), 96);
    ReleaseDC(NULL, hdc);
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
    printf("desktop %p, taskbar %p (%d high), tooltip %p on a %dx%d screen\n", (void *)hwndDesktop,
           (void *)hwndTaskbar, cyTaskbar, (void *)hwndTooltip, cx, cy);
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
