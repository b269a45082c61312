#include "report.h"

#include "output.h"

#include <stdio.h>

int nCount;
char szRect[100];

// Handles go out as eight upper-case hex digits through %08lX, which every
// C runtime renders alike; %p does not. Window handles are 32-bit significant
// on 64-bit Windows too, and one that comes from a 32-bit process reaches a
// 64-bit one sign-extended, so a 64-bit build prints the low 32 bits: the
// same text a 32-bit build prints for the same window.
static unsigned long HandleBits(HWND hwnd)
{
    return HandleToULong(hwnd);
}

// GetClassNameA and GetWindowTextA alike. The buffer is emptied first, so
// that a query that fails prints as an empty text.
static const char *QueryText(int(WINAPI *pfnQuery)(HWND, LPSTR, int), HWND hwnd, char *pszText,
                             int cchText)
{
    pszText[0] = '\0';
    pfnQuery(hwnd, pszText, cchText);
    pszText[cchText - 1] = '\0';
    return pszText;
}

const char *RectToString(const RECT *rect)
{
    snprintf(szRect, sizeof szRect, "(%ld, %ld)-(%ld, %ld)", rect->left, rect->top, rect->right,
             rect->bottom);
    return szRect;
}

void PrintWindowInfo(HWND hwnd)
{
    char szText[260];
    LONG lStyle;
    LONG lExStyle;
    RECT rect;

    PrintLine("---\n");
    PrintLine("nCount: %d\n", nCount);
    PrintLine("HWND: %08lX\n", HandleBits(hwnd));
    if (hwnd == NULL)
        return;

    PrintLine("ClassName: %s\n", QueryText(GetClassNameA, hwnd, szText, sizeof szText));
    PrintLine("WindowText: %s\n", QueryText(GetWindowTextA, hwnd, szText, sizeof szText));

    lStyle = GetWindowLongA(hwnd, GWL_STYLE);
    lExStyle = GetWindowLongA(hwnd, GWL_EXSTYLE);
    PrintLine("Style: 0x%08lX\n", (unsigned long)lStyle);
    PrintLine("ExStyle: 0x%08lX\n", (unsigned long)lExStyle);

    PrintLine("IsEnabled: %d\n", IsWindowEnabled(hwnd));
    PrintLine("IsVisible: %d\n", IsWindowVisible(hwnd));

    // A window destroyed since the hit test has no rectangle to show.
    if (!GetWindowRect(hwnd, &rect))
        SetRectEmpty(&rect);
    PrintLine("WindowRect: %s\n", RectToString(&rect));

    PrintLine("NextWnd: %08lX\n", HandleBits(GetWindow(hwnd, GW_HWNDNEXT)));
    PrintLine("PrevWnd: %08lX\n", HandleBits(GetWindow(hwnd, GW_HWNDPREV)));

    ++nCount;
}
