// winprobe_churn SECONDS X Y
// Churns 16 top-level windows around the point as fast as it can: creates,
// moves, resizes, retitles, hides, shows, restacks and destroys them. Every
// rectangle is on the point's 8-pixel grid, often but not always over it,
// and every title is "churn N" or "churn N" and a second line. Prints the
// number of operations done; the exit code is 0.
#include "../support/screen.h"

#include <stdio.h>
#include <stdlib.h>

#include <utility>

int main(int argc, char *argv[])
{
    if (argc != 4) {
        fprintf(stderr, "usage: winprobe_churn SECONDS X Y\n");
        return ERROR_BAD_ARGUMENTS;
    }
    const DWORD dwMilliseconds = (DWORD)atoi(argv[1]) * 1000;
    const POINT pt = {atol(argv[2]), atol(argv[3])};
    HWND ahwnd[16] = {};
    int cOperations = 0;
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < dwMilliseconds; ++cOperations) {
        HWND &hwnd = ahwnd[rand() % 16];
        LONG x = pt.x - 8 * (rand() % 50), y = pt.y - 8 * (rand() % 50);
        LONG cx = 8 * (1 + rand() % 60), cy = 8 * (1 + rand() % 60);
        char szTitle[64];
        snprintf(szTitle, sizeof szTitle, rand() % 5 ? "churn %d" : "churn %d\nsecond line",
                 rand() % 1000);
        int nOperation = hwnd == NULL ? -1 : rand() % 6;
        if (nOperation < 0)
            hwnd = CreateTopLevelWindow("WinprobeChurn", szTitle,
                                        WS_POPUP | (rand() % 2 ? WS_VISIBLE : 0), 0,
                                        {x, y, x + cx, y + cy});
        else if (nOperation == 0)
            SetWindowPos(hwnd, NULL, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
        else if (nOperation == 1)
            SetWindowTextA(hwnd, szTitle);
        else if (nOperation == 2)
            ShowWindow(hwnd, IsWindowVisible(hwnd) ? SW_HIDE : SW_SHOWNA);
        else if (nOperation == 3)
            SetWindowPos(hwnd, rand() % 2 ? HWND_TOP : HWND_BOTTOM, 0, 0, 0, 0,
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
