// Churns top-level windows around a point as fast as it can: creates, moves,
// resizes, retitles, hides, shows, restacks and destroys them.
//   winprobe_churn SECONDS X Y
// Every rectangle it sets has coordinates that are multiples of 8, and every
// title is "churn N" or "churn N" and a second line. The exit code is the
// number of operations done.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static const int kcWindowsMax = 16;
static const char kszClass[] = "WinprobeChurn";

static HWND s_ahwnd[kcWindowsMax];
static POINT s_pt;
static unsigned s_nSeed = 1;

static int Random(int nRange)
{
    s_nSeed = s_nSeed * 1103515245 + 12345;
    return (int)((s_nSeed >> 16) % (unsigned)nRange);
}

// On the 8-pixel grid, often but not always over the point.
static RECT RandomRect(void)
{
    RECT rect;
    rect.left = s_pt.x - 8 * Random(50);
    rect.top = s_pt.y - 8 * Random(50);
    rect.right = rect.left + 8 * (1 + Random(60));
    rect.bottom = rect.top + 8 * (1 + Random(60));
    return rect;
}

static void RandomTitle(char *pszTitle, size_t cch)
{
    int n = Random(1000);
    snprintf(pszTitle, cch, Random(5) == 0 ? "churn %d\nsecond line" : "churn %d", n);
}

static void Churn(int iWindow)
{
    HWND &hwnd = s_ahwnd[iWindow];
    char szTitle[64];
    RECT rect = RandomRect();

    if (hwnd == NULL) {
        RandomTitle(szTitle, sizeof szTitle);
        hwnd = CreateWindowExA(0, kszClass, szTitle, WS_POPUP | (Random(2) ? WS_VISIBLE : 0),
                               rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                               NULL, NULL, GetModuleHandleA(NULL), NULL);
        return;
    }
    switch (Random(6)) {
    case 0:
        SetWindowPos(hwnd, NULL, rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
        break;
    case 1:
        RandomTitle(szTitle, sizeof szTitle);
        SetWindowTextA(hwnd, szTitle);
        break;
    case 2:
        ShowWindow(hwnd, IsWindowVisible(hwnd) ? SW_HIDE : SW_SHOWNA);
        break;
    case 3:
        SetWindowPos(hwnd, Random(2) ? HWND_TOP : HWND_BOTTOM, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        break;
    default:
        DestroyWindow(hwnd);
        hwnd = NULL;
        break;
    }
}

int main(int argc, char *argv[])
{
    if (argc < 4) {
        fprintf(stderr, "usage: winprobe_churn SECONDS X Y\n");
        return 0;
    }
    DWORD dwMilliseconds = (DWORD)atoi(argv[1]) * 1000;
    s_pt.x = atoi(argv[2]);
    s_pt.y = atoi(argv[3]);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = kszClass;
    RegisterClassA(&wc);

    DWORD dwStart = GetTickCount();
    int cOperations = 0;
    while (GetTickCount() - dwStart < dwMilliseconds) {
        Churn(Random(kcWindowsMax));
        ++cOperations;
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    for (HWND hwnd : s_ahwnd)
        DestroyWindow(hwnd);
    return cOperations;
}
