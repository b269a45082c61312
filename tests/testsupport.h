// Shared by the test programs: real windows to probe, the cursor, standard
// output on a file, a pipe or a console, and the blocks the platform says
// winprobe should print.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Where the report goes.
enum Sink { SinkFile, SinkPipe, SinkConsole };
const char *SinkName(Sink sink);

// A top-level window to create. Windows in a scenario are listed in the
// order EnumWindows is to present them: the first is on top.
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

// Creates the windows, stacked in list order above every window that is not
// the test's (in the topmost band: on a Windows desktop the taskbar and
// hidden tooltips are topmost), and pumps their messages. Where the platform
// refuses a window, it and every later one are null.
std::vector<HWND> CreateWindows(const std::vector<TestWindow> &windows);
void DestroyWindows(std::vector<HWND> *phwnds);
void PumpMessages(DWORD dwMilliseconds);

// Moves the cursor and waits until GetCursorPos reads back the point.
bool PlaceCursor(POINT pt);

// "" where this session can move the cursor and read it back; otherwise
// why not, in words a person at a CI log understands.
std::string WhyTheCursorCannotMove();

// The first top-level window, in enumeration order, whose rectangle holds pt.
HWND WindowAt(POINT pt);
// Every one, in enumeration order.
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

// The block the report must print for hwnd as block nCount, from the
// platform's own answers, with CR LF line ends.
std::string ExpectedBlock(HWND hwnd, int nCount);
// The same from answers the platform gave earlier.
std::string ExpectedBlockOf(HWND hwnd, const WindowState &ws, int nCount);

// Blocks nFirst, nFirst+1, ... for hwnd, up to at least cb bytes.
std::string ExpectedStream(HWND hwnd, int nFirst, size_t cb);

// The blocks in captured output, each beginning with its separator line.
std::vector<std::string> SplitBlocks(const std::string &text);

// A console for this process, and a fresh, wide screen buffer in it.
HANDLE CreateConsoleSink(bool fInheritable);
// The console rows with text, trailing blanks removed, joined by CR LF.
std::string ReadConsoleText(HANDLE hConsole);

// Where a sink's text is read from, and how much has arrived.
struct SinkReader {
    Sink sink;
    HANDLE hRead;
    std::string path;
    std::string text;
};
// Makes a sink and hands back the handle to write to (inheritable when the
// writer is a child process).
HANDLE OpenSink(Sink sink, bool fInheritable, SinkReader *pReader);
// Reads everything that has reached the sink so far into pReader->text.
const std::string &Collect(SinkReader *pReader);
void CloseSink(SinkReader *pReader);

// Standard output of this process moved onto hOut and set up as winprobe
// sets it up; RestoreStdout puts it back.
void RedirectStdout(HANDLE hOut);
// The same onto a new sink of this process's own.
void RedirectStdoutToSink(Sink sink, SinkReader *pReader);
void RestoreStdout();

// What fn prints, with this process's stdout on a file.
std::string CaptureStdout(const std::function<void()> &fn);

size_t CountLineFeeds(const std::string &text);
