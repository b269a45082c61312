#include "support/screen.h"

#include "support/capture.h"

#include <stdarg.h>
#include <stdio.h>

POINT CenterPoint(int dx, int dy)
{
    return {GetSystemMetrics(SM_CXSCREEN) / 2 + dx, GetSystemMetrics(SM_CYSCREEN) / 2 + dy};
}

RECT CenterRect(int dxLeft, int dyTop, int dxRight, int dyBottom)
{
    POINT ptTopLeft = CenterPoint(dxLeft, dyTop), ptBottomRight = CenterPoint(dxRight, dyBottom);
    return {ptTopLeft.x, ptTopLeft.y, ptBottomRight.x, ptBottomRight.y};
}

std::vector<TestWindow> SmallHiddenWindows(int cWindows, const char *pszClass)
{
    std::vector<TestWindow> windows;
    for (int i = 0; i < cWindows; ++i) {
        LONG x = 8 + (i % 60) * 8, y = 8 + (i / 60 % 40) * 8;
        windows.push_back({pszClass, "tile", WS_POPUP, 0, {x, y, x + 6, y + 6}});
    }
    return windows;
}

static void RegisterTestClass(const char *pszClass)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = pszClass;
    RegisterClassA(&wc); // fails harmlessly where the class exists
}

TestWindows::TestWindows(const std::vector<TestWindow> &windows)
{
    // A console made after them would put its window above theirs.
    ReadyConsole();
    for (const TestWindow &w : windows) {
        if (!m_hwnds.empty() && m_hwnds.back() == NULL) {
            m_hwnds.push_back(NULL);
            continue;
        }
        RegisterTestClass(w.pszClass);
        m_hwnds.push_back(CreateWindowExA(w.dwExStyle, w.pszClass, w.title.c_str(), w.dwStyle,
                                          w.rect.left, w.rect.top, w.rect.right - w.rect.left,
                                          w.rect.bottom - w.rect.top, NULL, NULL,
                                          GetModuleHandleA(NULL), NULL));
    }
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

size_t TestWindows::Made() const
{
    size_t c = 0;
    for (HWND hwnd : m_hwnds)
        c += hwnd != NULL;
    return c;
}

void PumpMessages(DWORD dwMilliseconds)
{
    DWORD dwStart = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - dwStart < dwMilliseconds);
}

// Wine moves the pointer asynchronously and may need the call repeated.
bool PlaceCursor(POINT pt)
{
    for (int nTry = 0; nTry < 50; ++nTry) {
        POINT ptNow;
        if (nTry % 10 == 0)
            SetCursorPos(pt.x, pt.y);
        PumpMessages(50);
        if (GetCursorPos(&ptNow) && ptNow.x == pt.x && ptNow.y == pt.y)
            return true;
    }
    return false;
}

std::string WhyTheCursorCannotMove()
{
    POINT ptBefore, ptNow = {};
    if (!GetCursorPos(&ptBefore))
        return "GetCursorPos fails (error " + std::to_string(GetLastError()) +
               "): another desktop has the input (a locked screen, a UAC prompt, a "
               "disconnected remote session)";
    POINT pt = CenterPoint(ptBefore.x == CenterPoint(7, 5).x ? 17 : 7, 5);
    // SetCursorPos wants a window on the calling thread.
    TestWindows aside({{"WinprobeCursorCheck", "cursor check", WS_POPUP, 0, {0, 0, 4, 4}}});
    if (PlaceCursor(pt))
        return "";
    GetCursorPos(&ptNow);
    return "SetCursorPos(" + std::to_string(pt.x) + ", " + std::to_string(pt.y) +
           ") left the cursor at (" + std::to_string(ptNow.x) + ", " + std::to_string(ptNow.y) +
           "): this session is not interactive (a service, or a disconnected or locked "
           "session), and these tests must place the cursor on their windows";
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

HWND WindowAt(POINT pt)
{
    std::vector<HWND> hwnds = WindowsAt(pt);
    return hwnds.empty() ? NULL : hwnds[0];
}

bool FindEmptyPoint(POINT *ppt)
{
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    // From the bottom right, furthest from the windows Wine keeps at the
    // origin; a window's right and bottom edges lie outside it.
    for (int y = cy - 8; y > 0; y -= 32) {
        for (int x = cx - 8; x > 0; x -= 32) {
            POINT pt = {x, y};
            if (WindowAt(pt) == NULL) {
                *ppt = pt;
                return true;
            }
        }
    }
    return false;
}

WindowState QueryWindow(HWND hwnd)
{
    WindowState ws = {};
    char szText[260] = "";
    GetClassNameA(hwnd, szText, sizeof szText);
    ws.className = szText;
    szText[0] = '\0';
    GetWindowTextA(hwnd, szText, sizeof szText);
    ws.title = szText;
    ws.style = (unsigned long)GetWindowLongA(hwnd, GWL_STYLE);
    ws.exStyle = (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE);
    ws.enabled = IsWindowEnabled(hwnd);
    ws.visible = IsWindowVisible(hwnd);
    GetWindowRect(hwnd, &ws.rect);
    ws.next = GetWindow(hwnd, GW_HWNDNEXT);
    ws.prev = GetWindow(hwnd, GW_HWNDPREV);
    return ws;
}

static std::string Format(const char *pszFormat, ...)
{
    char sz[512];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(sz, sizeof sz, pszFormat, args);
    va_end(args);
    return sz;
}

std::string Describe(HWND hwnd)
{
    WindowState ws = QueryWindow(hwnd);
    return Format("%08lX %s (%ld, %ld)-(%ld, %ld)", HandleToULong(hwnd), ws.className.c_str(),
                  ws.rect.left, ws.rect.top, ws.rect.right, ws.rect.bottom);
}

std::string ExpectedBlock(HWND hwnd, int nCount)
{
    return ExpectedBlockOf(hwnd, QueryWindow(hwnd), nCount);
}

std::string ExpectedBlockOf(HWND hwnd, const WindowState &ws, int nCount)
{
    std::string text =
        Format("---\nnCount: %d\nHWND: %08lX\nClassName: ", nCount, HandleToULong(hwnd)) +
        ws.className + "\nWindowText: " + ws.title + "\n" +
        Format("Style: 0x%08lX\nExStyle: 0x%08lX\nIsEnabled: %d\nIsVisible: %d\n"
               "WindowRect: (%ld, %ld)-(%ld, %ld)\nNextWnd: %08lX\nPrevWnd: %08lX\n",
               ws.style, ws.exStyle, ws.enabled, ws.visible, ws.rect.left, ws.rect.top,
               ws.rect.right, ws.rect.bottom, HandleToULong(ws.next), HandleToULong(ws.prev));
    std::string crlf;
    for (char ch : text)
        crlf += ch == '\n' ? "\r\n" : std::string(1, ch);
    return crlf;
}

std::string ExpectedStream(HWND hwnd, int nFirst, size_t cb)
{
    std::string text;
    for (int n = nFirst; text.size() < cb; ++n)
        text += ExpectedBlock(hwnd, n);
    return text;
}

std::vector<std::string> SplitBlocks(const std::string &text)
{
    static const std::string s_sep = "---\r\n";
    std::vector<std::string> blocks;
    size_t ich = text.find(s_sep);
    while (ich != std::string::npos) {
        size_t ichNext = text.find("\r\n" + s_sep, ich);
        if (ichNext != std::string::npos)
            ichNext += 2;
        blocks.push_back(text.substr(ich, ichNext - ich));
        ich = ichNext;
    }
    return blocks;
}

size_t CountLineFeeds(const std::string &text)
{
    size_t n = 0;
    for (char ch : text)
        n += ch == '\n';
    return n;
}
