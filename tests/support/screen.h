// Real top-level windows to probe, the cursor, what the platform says of a
// window, and the blocks the probe must print for it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A top-level window to create. Windows in a list are given in the order
// EnumWindows is to present them: the first is on top.
struct TestWindow {
    const char *pszClass;
    std::string title;
    DWORD dwStyle;
    DWORD dwExStyle;
    RECT rect;
};

// Points and rectangles placed from the primary screen's centre, so that a
// layout fits any screen from 1024x768 up (a hosted Windows runner has no
// more).
POINT CenterPoint(int dx, int dy);
RECT CenterRect(int dxLeft, int dyTop, int dxRight, int dyBottom);

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
    TestWindows(const TestWindows &) = delete;
    TestWindows &operator=(const TestWindows &) = delete;

    HWND operator[](size_t i) const { return m_hwnds[i]; }
    const std::vector<HWND> &Handles() const { return m_hwnds; }
    size_t Made() const;

  private:
    std::vector<HWND> m_hwnds;
};

void PumpMessages(DWORD dwMilliseconds);

// Moves the cursor and waits until GetCursorPos reads back the point.
bool PlaceCursor(POINT pt);

// "" where this session can move the cursor and read it back; otherwise
// why not, in words a person reading a CI log understands.
std::string WhyTheCursorCannotMove();

// The first top-level window, in enumeration order, whose rectangle holds
// pt, or every one.
HWND WindowAt(POINT pt);
std::vector<HWND> WindowsAt(POINT pt);

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

// The block the probe must print for hwnd as block nCount, with CR LF line
// ends: from the platform's answers now, or from ones it gave earlier.
std::string ExpectedBlock(HWND hwnd, int nCount);
std::string ExpectedBlockOf(HWND hwnd, const WindowState &ws, int nCount);
// Blocks nFirst, nFirst+1, ... for hwnd, up to at least cb bytes.
std::string ExpectedStream(HWND hwnd, int nFirst, size_t cb);

// The blocks in a report, each beginning with its separator line.
std::vector<std::string> SplitBlocks(const std::string &text);
size_t CountLineFeeds(const std::string &text);
