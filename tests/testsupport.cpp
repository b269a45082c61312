#include "testsupport.h"

#include "output.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

const char *SinkName(Sink sink)
{
    static const char *const s_apszNames[] = {"File", "Pipe", "Console"};
    return s_apszNames[sink];
}

static void RegisterTestClass(const char *pszClass)
{
    WNDCLASSEXA wc = {};
    HINSTANCE hInstance = GetModuleHandleA(NULL);

    if (GetClassInfoExA(hInstance, pszClass, &wc))
        return;
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = hInstance;
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = pszClass;
    RegisterClassExA(&wc);
}

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

std::vector<HWND> CreateWindows(const std::vector<TestWindow> &windows)
{
    std::vector<HWND> hwnds;
    for (const TestWindow &w : windows) {
        // Once the platform refuses one, the rest stay null.
        if (!hwnds.empty() && hwnds.back() == NULL) {
            hwnds.push_back(NULL);
            continue;
        }
        RegisterTestClass(w.pszClass);
        hwnds.push_back(CreateWindowExA(w.dwExStyle, w.pszClass, w.title.c_str(), w.dwStyle,
                                        w.rect.left, w.rect.top, w.rect.right - w.rect.left,
                                        w.rect.bottom - w.rect.top, NULL, NULL,
                                        GetModuleHandleA(NULL), NULL));
    }
    // Raising them from the last to the first leaves the first on top.
    for (size_t i = hwnds.size(); i-- > 0;)
        if (hwnds[i] != NULL)
            SetWindowPos(hwnds[i], HWND_TOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    PumpMessages(100);
    return hwnds;
}

void DestroyWindows(std::vector<HWND> *phwnds)
{
    for (HWND hwnd : *phwnds)
        DestroyWindow(hwnd);
    phwnds->clear();
    PumpMessages(50);
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
    POINT ptBefore;
    if (!GetCursorPos(&ptBefore))
        return "GetCursorPos fails (error " + std::to_string(GetLastError()) +
               "): another desktop has the input (a locked screen, a UAC prompt, a "
               "disconnected remote session)";
    // A point of our own; SetCursorPos wants a window on the calling thread.
    std::vector<HWND> hwnds =
        CreateWindows({{"WinprobeCursorCheck", "cursor check", WS_POPUP, 0, {0, 0, 4, 4}}});
    POINT pt = CenterPoint(7, 5);
    if (pt.x == ptBefore.x && pt.y == ptBefore.y)
        pt.x += 10;
    bool fMoved = PlaceCursor(pt);
    DestroyWindows(&hwnds);
    if (fMoved)
        return "";
    POINT ptNow = {};
    GetCursorPos(&ptNow);
    return "SetCursorPos(" + std::to_string(pt.x) + ", " + std::to_string(pt.y) +
           ") left the cursor at (" + std::to_string(ptNow.x) + ", " + std::to_string(ptNow.y) +
           "): this session is not interactive (a service, or a disconnected or locked "
           "session), and these tests must place the cursor on their windows";
}

struct HitSearch {
    POINT pt;
    bool fAll; // every window at the point, or the first only
    std::vector<HWND> hwnds;
};

static BOOL CALLBACK CollectAt(HWND hwnd, LPARAM lParam)
{
    HitSearch *pSearch = (HitSearch *)lParam;
    RECT rect;
    if (GetWindowRect(hwnd, &rect) && PtInRect(&rect, pSearch->pt)) {
        pSearch->hwnds.push_back(hwnd);
        return pSearch->fAll;
    }
    return TRUE;
}

static std::vector<HWND> SearchAt(POINT pt, bool fAll)
{
    HitSearch search = {pt, fAll, {}};
    EnumWindows(CollectAt, (LPARAM)&search);
    return search.hwnds;
}

HWND WindowAt(POINT pt)
{
    std::vector<HWND> hwnds = SearchAt(pt, false);
    return hwnds.empty() ? NULL : hwnds[0];
}

std::vector<HWND> WindowsAt(POINT pt)
{
    return SearchAt(pt, true);
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

static std::string Hex8(unsigned long ulValue)
{
    char sz[16];
    snprintf(sz, sizeof sz, "%08lX", ulValue);
    return sz;
}

static std::string HandleText(HWND hwnd)
{
    return Hex8(HandleToULong(hwnd));
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

static std::string RectText(const RECT &rect)
{
    return "(" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ")-(" +
           std::to_string(rect.right) + ", " + std::to_string(rect.bottom) + ")";
}

std::string Describe(HWND hwnd)
{
    WindowState ws = QueryWindow(hwnd);
    return HandleText(hwnd) + " " + ws.className + " " + RectText(ws.rect);
}

static std::string WithCrLf(const std::string &text)
{
    std::string out;
    for (char ch : text) {
        if (ch == '\n')
            out += '\r';
        out += ch;
    }
    return out;
}

std::string ExpectedBlock(HWND hwnd, int nCount)
{
    return ExpectedBlockOf(hwnd, QueryWindow(hwnd), nCount);
}

std::string ExpectedBlockOf(HWND hwnd, const WindowState &ws, int nCount)
{
    std::string text = "---\nnCount: " + std::to_string(nCount) + "\n";
    text += "HWND: " + HandleText(hwnd) + "\n";
    text += "ClassName: " + ws.className + "\n";
    text += "WindowText: " + ws.title + "\n";
    text += "Style: 0x" + Hex8(ws.style) + "\n";
    text += "ExStyle: 0x" + Hex8(ws.exStyle) + "\n";
    text += "IsEnabled: " + std::to_string(ws.enabled) + "\n";
    text += "IsVisible: " + std::to_string(ws.visible) + "\n";
    text += "WindowRect: " + RectText(ws.rect) + "\n";
    text += "NextWnd: " + HandleText(ws.next) + "\n";
    text += "PrevWnd: " + HandleText(ws.prev) + "\n";
    return WithCrLf(text);
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

HANDLE CreateConsoleSink(bool fInheritable)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, fInheritable};
    const DWORD dwAccess = GENERIC_READ | GENERIC_WRITE;
    const DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE hConsole =
        CreateConsoleScreenBuffer(dwAccess, dwShare, &sa, CONSOLE_TEXTMODE_BUFFER, NULL);
    if (hConsole == INVALID_HANDLE_VALUE) {
        // Wine gives a program started without a terminal a console that
        // cannot make screen buffers; a console of our own can.
        FreeConsole();
        AllocConsole();
        hConsole = CreateConsoleScreenBuffer(dwAccess, dwShare, &sa, CONSOLE_TEXTMODE_BUFFER, NULL);
    }
    COORD size = {320, 600};
    SetConsoleScreenBufferSize(hConsole, size);
    return hConsole;
}

std::string ReadConsoleText(HANDLE hConsole)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    std::string text;
    if (!GetConsoleScreenBufferInfo(hConsole, &info))
        return text;
    std::vector<char> row(info.dwSize.X);
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        COORD at = {0, y};
        DWORD cch = 0;
        ReadConsoleOutputCharacterA(hConsole, row.data(), info.dwSize.X, at, &cch);
        std::string line(row.data(), cch);
        line.erase(line.find_last_not_of(' ') + 1);
        text += line;
        if (y < info.dwCursorPosition.Y)
            text += "\r\n";
    }
    return text;
}

HANDLE OpenSink(Sink sink, bool fInheritable, SinkReader *pReader)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, fInheritable};
    const DWORD dwShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE hWrite = NULL;

    pReader->sink = sink;
    pReader->text.clear();
    if (sink == SinkFile) {
        char szDir[MAX_PATH], szPath[MAX_PATH];
        GetTempPathA(sizeof szDir, szDir);
        GetTempFileNameA(szDir, "wpb", 0, szPath);
        pReader->path = szPath;
        hWrite = CreateFileA(szPath, GENERIC_WRITE, dwShareAll, &sa, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
        pReader->hRead = CreateFileA(szPath, GENERIC_READ, dwShareAll, NULL, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, NULL);
    } else if (sink == SinkPipe) {
        // Large enough that the writer never waits for the reader.
        CreatePipe(&pReader->hRead, &hWrite, &sa, 1 << 20);
        SetHandleInformation(pReader->hRead, HANDLE_FLAG_INHERIT, 0);
    } else {
        pReader->hRead = CreateConsoleSink(fInheritable);
        DuplicateHandle(GetCurrentProcess(), pReader->hRead, GetCurrentProcess(), &hWrite, 0,
                        fInheritable, DUPLICATE_SAME_ACCESS);
    }
    return hWrite;
}

const std::string &Collect(SinkReader *pReader)
{
    char buf[4096];
    DWORD cb = 0;

    switch (pReader->sink) {
    case SinkFile:
        pReader->text.clear();
        SetFilePointer(pReader->hRead, 0, NULL, FILE_BEGIN);
        while (ReadFile(pReader->hRead, buf, sizeof buf, &cb, NULL) && cb > 0)
            pReader->text.append(buf, cb);
        break;
    case SinkPipe:
        for (;;) {
            DWORD cbAvail = 0;
            if (!PeekNamedPipe(pReader->hRead, NULL, 0, NULL, &cbAvail, NULL) || cbAvail == 0)
                break;
            if (!ReadFile(pReader->hRead, buf, sizeof buf, &cb, NULL))
                break;
            pReader->text.append(buf, cb);
        }
        break;
    case SinkConsole:
        pReader->text = ReadConsoleText(pReader->hRead);
        break;
    }
    return pReader->text;
}

void CloseSink(SinkReader *pReader)
{
    CloseHandle(pReader->hRead);
    if (!pReader->path.empty())
        DeleteFileA(pReader->path.c_str());
    pReader->path.clear();
}

static int s_fdSavedStdout = -1;

void RedirectStdout(HANDLE hOut)
{
    HANDLE hDup;
    DuplicateHandle(GetCurrentProcess(), hOut, GetCurrentProcess(), &hDup, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    fflush(stdout);
    s_fdSavedStdout = _dup(1);
    int fd = _open_osfhandle((intptr_t)hDup, _O_TEXT);
    _dup2(fd, 1);
    _close(fd);
    InitOutput();
}

void RedirectStdoutToSink(Sink sink, SinkReader *pReader)
{
    HANDLE hOut = OpenSink(sink, false, pReader);
    RedirectStdout(hOut);
    CloseHandle(hOut);
}

void RestoreStdout()
{
    fflush(stdout);
    if (s_fdSavedStdout >= 0) {
        _dup2(s_fdSavedStdout, 1);
        _close(s_fdSavedStdout);
        s_fdSavedStdout = -1;
    }
    setvbuf(stdout, NULL, _IONBF, 0);
}

std::string CaptureStdout(const std::function<void()> &fn)
{
    SinkReader reader;
    RedirectStdoutToSink(SinkFile, &reader);
    fn();
    RestoreStdout();
    std::string text = Collect(&reader);
    CloseSink(&reader);
    return text;
}

size_t CountLineFeeds(const std::string &text)
{
    size_t n = 0;
    for (char ch : text)
        n += ch == '\n';
    return n;
}
