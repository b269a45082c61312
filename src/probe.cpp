#include "probe.h"

#include "report.h"

POINT ptCursor;
HWND hwndFound;

BOOL CALLBACK HitTestProc(HWND hwnd, LPARAM lParam)
{
    RECT rect;

    (void)lParam;
    // A window destroyed since it was enumerated has no rectangle to test.
    if (!GetWindowRect(hwnd, &rect))
        return TRUE;
    if (!PtInRect(&rect, ptCursor))
        return TRUE;
    hwndFound = hwnd;
    return FALSE;
}

void ProbeCycle(BOOL fCursorRead)
{
    hwndFound = NULL;
    // Testing the previous position would report a window that may not be
    // under the cursor at all.
    if (!fCursorRead)
        return;
    EnumWindows(HitTestProc, 0);
    if (hwndFound != NULL)
        PrintWindowInfo(hwndFound);
}

void RunProbe(void)
{
    for (;;) {
        BOOL fCursorRead = GetCursorPos(&ptCursor);

        Sleep(1000);
        ProbeCycle(fCursorRead);
    }
}
