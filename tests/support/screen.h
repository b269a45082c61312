// Real top-level windows to probe (the helper programs' windows too), the
// cursor, what the platform says of a window, and the blocks the probe must
// print for it.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

// A top-level window to create. Windows in a list are given in the order
// EnumWindows is to present them: the first is on top.
struct TestWindow {
    const char *pszClass;
    std::string title;
    DWORD dwStyle, dwExStyle;
    RECT rect;
};

// A top-level window of its own class, which it registers where it must.
inline HWND CreateTopLevelWindow(const char *pszClass, const char *pszTitle, DWORD dwStyle,
                                 DWORD dwExStyle, RECT rect)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hbrBackground = (HBRUSH)(COLOR_DESKTOP + 1);
    wc.lpszClassName = pszClass;
    RegisterClassA(&wc); // fails harmlessly where the class exists
    return CreateWindowExA(dwExStyle, pszClass, pszTitle, dwStyle, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, NULL, NULL, wc.hInstance,
                           NULL);
}

// Serves the messages that are waiting.
inline void PumpWaiting()
{
    for (MSG msg; PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Points and rectangles placed from the primary screen's centre, so that a
// layout fits any screen from 1024x768 up (a hosted Windows runner has no
// more).
inline POINT CenterPoint(int dx, int dy)
{
    return {GetSystemMetrics(SM_CXSCREEN) / 2 + dx, GetSystemMetrics(SM_CYSCREEN) / 2 + dy};
}
inline RECT CenterRect(int dxLeft, int dyTop, int dxRight, int dyBottom)
{
    POINT ptTopLeft = CenterPoint(dxLeft, dyTop), ptBottomRight = CenterPoint(dxRight, dyBottom);
    return {ptTopLeft.x, ptTopLeft.y, ptBottomRight.x, ptBottomRight.y};
}

// cWindows hidden 6x6 windows of one class, tiled over the screen's top left
// (x below 490 and y below 330, away from the points the tests probe).
std::vector<TestWindow> SmallHiddenWindows(int cWindows, const char *pszClass);

// The windows of a list, stacked in list order above every window that is
// not the test's (in the topmost band: on a Windows desktop the taskbar and
// hidden tooltips are topmost), and destroyed with this object. Where the
// platform refuses a window, it and every later one are null.
class TestWindows
{
  public:
    explicit TestWindows(const std::vector<TestWindow> &windows);
    ~TestWindows();
    // Neither moved nor (so) copied: it owns its windows.
    TestWindows &operator=(TestWindows &&) = delete;

    HWND operator[](size_t i) const { return m_hwnds[i]; }
    const std::vector<HWND> &Handles() const { return m_hwnds; }
    size_t Made() const
    {
        return m_hwnds.size() - (size_t)std::count(m_hwnds.begin(), m_hwnds.end(), nullptr);
    }

  private:
    std::vector<HWND> m_hwnds;
};

void PumpMessages(DWORD dwMilliseconds);

// Moves the cursor and waits, up to twelve seconds, until GetCursorPos reads
// back the point as any other process reads it.
bool PlaceCursor(POINT pt);

// Every top-level window whose rectangle holds pt, in enumeration order, or
// the first.
std::vector<HWND> WindowsAt(POINT pt);
inline HWND WindowAt(POINT pt)
{
    std::vector<HWND> hwnds = WindowsAt(pt);
    return hwnds.empty() ? NULL : hwnds[0];
}

// A point on the primary screen that no top-level window holds. There is
// none on a Windows desktop, where the desktop window covers every point.
bool FindEmptyPoint(POINT *ppt);

// What the platform answers for a window, queried as the report queries it.
struct WindowState {
    std::string className, title;
    unsigned long style, exStyle;
    BOOL enabled, visible;
    RECT rect; // zero where it cannot be read
    HWND next, prev;
};
WindowState QueryWindow(HWND hwnd);

// "HWND class (rect)" for messages.
std::string Describe(HWND hwnd);

// The block the probe must print for hwnd as block number nBlock, with CR LF
// line ends, from what the platform answered for it.
std::string ExpectedBlockOf(HWND hwnd, const WindowState &ws, int nBlock);
// Empty where text is blocks nFirst, nFirst+1, ... of hwnd, else why not:
// each as the platform described hwnd, but that a neighbour line may name the
// neighbour from before (a window made or destroyed meanwhile moves them) as
// well as after; the last block may be cut short where fCut.
std::string StreamMismatch(const std::string &text, HWND hwnd, const WindowState &before,
                           const WindowState &after, int nFirst, bool fCut);

// The shape of the output every test holds the probe to, named here and
// nowhere else: a block of this many lines (ExpectedBlockOf writes them), and
// a file or pipe that receives the output in pieces of this many bytes, the
// stream's buffer, counted as written, before each LF becomes CR LF.
constexpr size_t kcLinesPerBlock = 12;
constexpr size_t kcbOutputPiece = 512;

// The blocks in a report, each beginning with its separator line.
std::vector<std::string> SplitBlocks(const std::string &text);
inline size_t CountLineFeeds(const std::string &text)
{
    return (size_t)std::count(text.begin(), text.end(), '\n');
}
// Blocks finished in text that holds no title with a line feed (a console's).
inline size_t CountBlocks(const std::string &text)
{
    return CountLineFeeds(text) / kcLinesPerBlock;
}
// Bytes of text as the probe wrote them, before CR LF translation.
inline size_t LogicalSize(const std::string &text)
{
    return text.size() - CountLineFeeds(text);
}
// The most blocks the probe prints before its first piece goes out: that
// many of the shortest block there is (empty texts, one-digit numbers).
size_t BlocksToFillPiece();
