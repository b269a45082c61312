#include "support/screen.h"

#include "support/capture.h"

#include <stdio.h>

std::vector<TestWindow> SmallHiddenWindows(int cWindows, const char *pszClass)
{
    std::vector<TestWindow> windows;
    for (int i = 0; i < cWindows; ++i) {
        LONG x = 8 + (i % 60) * 8, y = 8 + (i / 60 % 40) * 8;
        windows.push_back({pszClass, "tile", WS_POPUP, 0, {x, y, x + 6, y + 6}});
    }
    return windows;
}

TestWindows::TestWindows(const std::vector<TestWindow> &windows)
{
    // A console made after them would put its window above theirs.
    ReadyConsole();
    for (const TestWindow &w : windows)
        m_hwnds.push_back(
            m_hwnds.empty() || m_hwnds.back() != NULL
                ? CreateTopLevelWindow(w.pszClass, w.title.c_str(), w.dwStyle, w.dwExStyle, w.rect)
                : NULL);
    // Raising them from the last to the first leaves the first on top.
    for (size_t i = m_hwnds.size(); i-- > 0;)
        if (m_hwnds[i] != NULL)
            SetWindowPos(m_hwnds[i], HWND_TOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    PumpMessages(100);
}

TestWindows::~TestWindows()
{
    for (HWND hwnd : m_hwnds)
        DestroyWindow(hwnd);
    PumpMessages(50);
}

void PumpMessages(DWORD dwMilliseconds)
{
    DWORD dwStart = GetTickCount();
    do {
        PumpWaiting();
        Sleep(10);
    } while (GetTickCount() - dwStart < dwMilliseconds);
}

// Wine answers GetCursorPos from its server's copy of the position for
// 100 ms after that copy changes, and from the X pointer after; SetCursorPos
// moves the X pointer only when it changes that copy. The copy can hold a
// point the pointer has left: a mouse event another process handles late
// puts back an old position (seen on the Windows-like desktop: the point the
// previous test program left the cursor at, after this one had moved it).
// SetCursorPos to that point then moves nothing, and a read-back within the
// 100 ms sees the point while every other process, the probe among them,
// reads the pointer somewhere else. So the cursor goes to a neighbour first,
// which makes the move to pt a real one, and counts as placed only when two
// reads, each more than 100 ms after the last change, find it there. Wine
// may also land the move a second late on a busy machine, or need it again.
bool PlaceCursor(POINT pt)
{
    const DWORD dwPastServerCopy = 150;
    for (int nMove = 0; nMove < 20; ++nMove) {
        SetCursorPos(pt.x + (pt.x < CenterPoint(0, 0).x ? 1 : -1), pt.y);
        SetCursorPos(pt.x, pt.y);
        for (int nLook = 0, cHeld = 0; nLook < 4; ++nLook) {
            POINT ptNow;
            PumpMessages(dwPastServerCopy);
            cHeld = GetCursorPos(&ptNow) && ptNow.x == pt.x && ptNow.y == pt.y ? cHeld + 1 : 0;
            if (cHeld == 2)
                return true;
        }
    }
    return false;
}

static BOOL CALLBACK CollectAt(HWND hwnd, LPARAM lParam)
{
    auto pSearch = (std::pair<POINT, std::vector<HWND>> *)lParam;
    RECT rect;
    if (GetWindowRect(hwnd, &rect) && PtInRect(&rect, pSearch->first))
        pSearch->second.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> WindowsAt(POINT pt)
{
    std::pair<POINT, std::vector<HWND>> search = {pt, {}};
    EnumWindows(CollectAt, (LPARAM)&search);
    return search.second;
}

bool FindEmptyPoint(POINT *ppt)
{
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    // From the bottom right, furthest from the windows Wine keeps at the
    // origin; a window's right and bottom edges lie outside it.
    for (int y = cy - 8; y > 0; y -= 32)
        for (int x = cx - 8; x > 0; x -= 32)
            if (WindowAt({x, y}) == NULL) {
                *ppt = {x, y};
                return true;
            }
    return false;
}

WindowState QueryWindow(HWND hwnd)
{
    char szClass[260] = "", szTitle[260] = "";
    GetClassNameA(hwnd, szClass, sizeof szClass);
    GetWindowTextA(hwnd, szTitle, sizeof szTitle);
    RECT rect = {}; // zero where it cannot be read
    GetWindowRect(hwnd, &rect);
    return {szClass,
            szTitle,
            (unsigned long)GetWindowLongA(hwnd, GWL_STYLE),
            (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE),
            IsWindowEnabled(hwnd),
            IsWindowVisible(hwnd),
            rect,
            GetWindow(hwnd, GW_HWNDNEXT),
            GetWindow(hwnd, GW_HWNDPREV)};
}

std::string Describe(HWND hwnd)
{
    WindowState ws = QueryWindow(hwnd);
    char sz[400];
    snprintf(sz, sizeof sz, "%08lX %s (%ld, %ld)-(%ld, %ld)", HandleToULong(hwnd),
             ws.className.c_str(), ws.rect.left, ws.rect.top, ws.rect.right, ws.rect.bottom);
    return sz;
}

std::string ExpectedBlockOf(HWND hwnd, const WindowState &ws, int nBlock)
{
    char sz[1024]; // two texts of at most 259 characters and the rest
    snprintf(sz, sizeof sz,
             "---\nnCount: %d\nHWND: %08lX\nClassName: %s\nWindowText: %s\nStyle: 0x%08lX\n"
             "ExStyle: 0x%08lX\nIsEnabled: %d\nIsVisible: %d\nWindowRect: (%ld, %ld)-(%ld, %ld)\n"
             "NextWnd: %08lX\nPrevWnd: %08lX\n",
             nBlock, HandleToULong(hwnd), ws.className.c_str(), ws.title.c_str(), ws.style,
             ws.exStyle, ws.enabled, ws.visible, ws.rect.left, ws.rect.top, ws.rect.right,
             ws.rect.bottom, HandleToULong(ws.next), HandleToULong(ws.prev));
    std::string text = sz;
    // Line ends as a text-mode stream writes them, a title's own included.
    for (size_t ich = 0; (ich = text.find('\n', ich)) != std::string::npos; ich += 2)
        text.insert(ich, 1, '\r');
    return text;
}

std::string StreamMismatch(const std::string &text, HWND hwnd, const WindowState &before,
                           const WindowState &after, int nFirst, bool fCut)
{
    if (text.compare(0, 5, "---\r\n") != 0)
        return "no block at the start:\n" + text;
    const std::vector<std::string> blocks = SplitBlocks(text);
    for (size_t i = 0; i < blocks.size(); ++i) {
        // Only the last block may be cut short, and only where fCut.
        const size_t cb = fCut && i + 1 == blocks.size() ? blocks[i].size() : std::string::npos;
        std::string expected;
        for (int n = 0; n < 4 && expected.compare(0, cb, blocks[i]) != 0; ++n) {
            WindowState ws = after;
            ws.next = (n & 1 ? before : after).next;
            ws.prev = (n & 2 ? before : after).prev;
            expected = ExpectedBlockOf(hwnd, ws, nFirst + (int)i);
        }
        if (expected.compare(0, cb, blocks[i]) != 0)
            return "block " + std::to_string(i) + " is\n" + blocks[i] +
                   "where the platform said (neighbours from before)\n" + expected;
    }
    return "";
}

std::vector<std::string> SplitBlocks(const std::string &text)
{
    std::vector<std::string> blocks;
    for (size_t ich = text.find("---\r\n"), ichNext; ich != std::string::npos; ich = ichNext) {
        ichNext = text.find("\r\n---\r\n", ich);
        if (ichNext != std::string::npos)
            ichNext += 2; // the next block begins after this one's last line end
        blocks.push_back(text.substr(ich, ichNext - ich));
    }
    return blocks;
}

size_t BlocksToFillPiece()
{
    return kcbOutputPiece / LogicalSize(ExpectedBlockOf(NULL, WindowState{}, 0)) + 1;
}
