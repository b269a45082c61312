// A window to point winprobe at: a framed window in the middle of the screen.
// With --cursor it also moves the mouse cursor into the window.
#include <windows.h>

#include <string.h>

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

int main(int argc, char *argv[])
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DemoWndProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = "WinprobeDemo";
    RegisterClassA(&wc);

    const int cx = 480, cy = 320;
    POINT ptCenter = {GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2};
    CreateWindowExA(0, wc.lpszClassName, "winprobe demo window", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                    ptCenter.x - cx / 2, ptCenter.y - cy / 2, cx, cy, NULL, NULL, wc.hInstance,
                    NULL);
    if (argc > 1 && strcmp(argv[1], "--cursor") == 0)
        PlaceCursor(ptCenter);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
