// What winprobe costs, next to what the platform itself costs.
//   winprobe_bench [--windows N] [--cpu-seconds S] [--marks]
//       the tables, up to N windows (10000, Windows' default quota of USER
//       objects for one process, which it cannot quite reach: it reports
//       how many it got), and the probe process beside its two floor
//       processes for S seconds (60) at each of two window counts; with
//       --marks, lines "@cpu begin W" and "@cpu end W" around each of those
//       intervals, for scripts/bench.sh to read the three processes' CPU
//       from the kernel meanwhile
//   winprobe_bench --floor-bare
//       the probe's loop, hit test and all, without the report
//   winprobe_bench --floor-queries
//       the same, and the report's nine queries of the window found, but
//       nothing printed: what the platform charges for every block
//   winprobe_bench --alloc-phases K
//       K probe cycles, then K bare enumerations, marked with
//       OutputDebugString for a heap trace
#include "output.h"
#include "probe.h"
#include "report.h"
#include "support/capture.h"
#include "support/child.h"
#include "support/screen.h"

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

bool g_fMarks;

// Right of every screen, so that no window holds it and every hit test walks
// every window.
const POINT kptNowhere = {GetSystemMetrics(SM_XVIRTUALSCREEN) +
                              GetSystemMetrics(SM_CXVIRTUALSCREEN) + 1000,
                          GetSystemMetrics(SM_YVIRTUALSCREEN)};

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    static LARGE_INTEGER s_freq;
    if (s_freq.QuadPart == 0)
        QueryPerformanceFrequency(&s_freq);
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)s_freq.QuadPart;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename Fn> double TimeOnce(Fn fn)
{
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    fn();
    QueryPerformanceCounter(&t1);
    return Microseconds(t0, t1);
}

struct Walk {
    POINT pt;
    int cWalked;
    HWND hwndHit;
};

// The floor: an enumeration whose callback only reads the rectangle and
// tests the point.
BOOL CALLBACK FloorProc(HWND hwnd, LPARAM lParam)
{
    Walk *pWalk = (Walk *)lParam;
    RECT rect;
    ++pWalk->cWalked;
    if (GetWindowRect(hwnd, &rect) && PtInRect(&rect, pWalk->pt)) {
        pWalk->hwndHit = hwnd;
        return FALSE;
    }
    return TRUE;
}

// What the report asks of the window it shows, in the same calls; the
// answers are dropped, as nothing is printed.
void QueryAsReportDoes(HWND hwnd)
{
    char szText[260];
    RECT rect;
    GetClassNameA(hwnd, szText, sizeof szText);
    GetWindowTextA(hwnd, szText, sizeof szText);
    GetWindowLongA(hwnd, GWL_STYLE);
    GetWindowLongA(hwnd, GWL_EXSTYLE);
    IsWindowEnabled(hwnd);
    IsWindowVisible(hwnd);
    GetWindowRect(hwnd, &rect);
    GetWindow(hwnd, GW_HWNDNEXT);
    GetWindow(hwnd, GW_HWNDPREV);
}

// A floor process: the probe's loop, cursor, sleep and hit test, without
// the report; with fQueries, the report's queries still made.
int RunFloor(bool fQueries)
{
    for (;;) {
        Walk walk = {{0, 0}, 0, NULL};
        BOOL fCursorRead = GetCursorPos(&walk.pt);

        Sleep(1000);
        if (!fCursorRead)
            continue;
        EnumWindows(FloorProc, (LPARAM)&walk);
        if (fQueries && walk.hwndHit != NULL)
            QueryAsReportDoes(walk.hwndHit);
    }
}

// cTiles tiles with a visible target below them all, at the screen's centre:
// a hit test there walks every tile before it finds the target.
std::vector<TestWindow> TilesAboveTarget(int cTiles, const char *pszTitle)
{
    std::vector<TestWindow> windows = SmallHiddenWindows(cTiles, "WinprobeBench");
    windows.push_back({"WinprobeBenchTarget", pszTitle, WS_POPUP | WS_VISIBLE, 0,
                       CenterRect(-100, -80, 100, 80)});
    return windows;
}

BOOL CALLBACK CountProc(HWND, LPARAM lParam)
{
    ++*(int *)lParam;
    return TRUE;
}

struct EnumRow {
    int cAsked, cMade, cWalked;
    double usHitTest, usFloor, usPointQuery;
};

EnumRow MeasureEnumeration(int cWindows)
{
    // Up to cWindows tiles: Windows' default quota is 10,000 USER objects a
    // process, its windows among them, and TestWindows stops at a refusal.
    TestWindows windows(SmallHiddenWindows(cWindows, "WinprobeBench"));
    int cWalked = 0;
    EnumWindows(CountProc, (LPARAM)&cWalked);
    std::vector<double> hit, floor, query;
    ptCursor = kptNowhere;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    // Alternated, so that drift falls on both alike.
    do {
        hit.push_back(TimeOnce([] {
            hwndFound = NULL;
            EnumWindows(HitTestProc, 0);
        }));
        floor.push_back(TimeOnce([] {
            Walk walk = {kptNowhere, 0, NULL};
            EnumWindows(FloorProc, (LPARAM)&walk);
        }));
        query.push_back(TimeOnce([] { GetAncestor(WindowFromPoint(kptNowhere), GA_ROOT); }));
        QueryPerformanceCounter(&t1);
    } while (hit.size() < 21 || (Microseconds(t0, t1) < 3e6 && hit.size() < 20001));
    return {cWindows, (int)windows.Made(), cWalked, Median(hit), Median(floor), Median(query)};
}

// Empties a pipe as fast as it fills, until its writer closes it.
DWORD WINAPI DrainPipe(void *pvRead)
{
    char buf[4096];
    DWORD cb;
    while (ReadFile((HANDLE)pvRead, buf, sizeof buf, &cb, NULL))
        ;
    return 0;
}

double MeasureReport(Sink sink, HWND hwnd)
{
    StdoutCapture capture(sink);
    HANDLE hDrain = NULL;
    if (sink == SinkPipe)
        hDrain = CreateThread(NULL, 0, DrainPipe, capture.Reader().ReadEnd(), 0, NULL);
    std::vector<double> times;
    for (int i = 0; i < 301; ++i)
        times.push_back(TimeOnce([hwnd] { PrintWindowInfo(hwnd); }));
    capture.Restore(); // closes the pipe's last write end
    if (hDrain) {
        WaitForSingleObject(hDrain, INFINITE);
        CloseHandle(hDrain);
    }
    return Median(times);
}

void ReportExe()
{
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExA(ProbePath().c_str(), GetFileExInfoStandard, &fad)) {
        printf("winprobe.exe: not found at %s\n", ProbePath().c_str());
        return;
    }
    printf("winprobe.exe: %lu bytes (%.1f KiB)\n", fad.nFileSizeLow, fad.nFileSizeLow / 1024.0);
}

SIZE_T WorkingSetKiB(HANDLE hProcess)
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (!GetProcessMemoryInfo(hProcess, &pmc, sizeof pmc))
        return 0;
    return pmc.WorkingSetSize / 1024;
}

size_t CountOf(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

struct CpuRow {
    int cMade, cWalked;
    double secInterval;
    SIZE_T kibProbe, kibBare, kibQueries;
    size_t cBlocks, cBlocksOnTarget;
};

// The probe and its two floors at once, beside cWindows windows of the
// bench's, the cursor on the bottom one, for cSeconds. Their CPU is not read
// here: Wine gives another process's CPU in 10 ms steps, more than a whole
// cycle at 100 windows, so scripts/bench.sh reads it from the kernel
// between the marks. False where a window or a process could not be made,
// or a process ended.
bool RunBesideFloors(int cWindows, int cSeconds, CpuRow *pRow)
{
    TestWindows windows(TilesAboveTarget(cWindows - 1, "target"));
    HWND hwndTarget = windows.Handles().back();
    if (hwndTarget == NULL) {
        printf("%8d: the platform refused some of the windows\n", cWindows);
        return false;
    }
    POINT ptTarget = CenterPoint(0, 0);
    Walk walk = {ptTarget, 0, NULL};
    EnumWindows(FloorProc, (LPARAM)&walk);
    if (!PlaceCursor(ptTarget) || walk.hwndHit != hwndTarget) {
        printf("%8d: the cursor is not on the bench's bottom window\n", cWindows);
        return false;
    }

    ProbeChild probe(SinkFile);
    ChildProcess bare, queries;
    const std::string self = ProgramPath("winprobe_bench.exe");
    // A third of a second apart: their hit tests then do not queue at the
    // wineserver behind each other's, and each cycle stands apart in time.
    bool fStarted = probe.Start();
    if (fStarted) {
        PumpMessages(333);
        fStarted = bare.Start(self, "--floor-bare", NULL, 0);
    }
    if (fStarted) {
        PumpMessages(333);
        fStarted = queries.Start(self, "--floor-queries", NULL, 0);
    }
    if (!fStarted) {
        printf("%8d: a process did not start (error %lu)\n", cWindows, GetLastError());
        return false;
    }
    // Past each process's start and first cycle.
    PumpMessages(3000);
    HANDLE ahProcess[] = {probe.process.Handle(), bare.Handle(), queries.Handle()};
    if (g_fMarks)
        printf("@cpu begin %d\n", cWindows);
    ULONGLONG msTickStart = GetTickCount64();
    PumpMessages((DWORD)cSeconds * 1000);
    if (g_fMarks)
        printf("@cpu end %d\n", cWindows);
    pRow->secInterval = (double)(GetTickCount64() - msTickStart) / 1000.0;
    pRow->kibProbe = WorkingSetKiB(ahProcess[0]);
    pRow->kibBare = WorkingSetKiB(ahProcess[1]);
    pRow->kibQueries = WorkingSetKiB(ahProcess[2]);

    DWORD adwExit[3] = {};
    for (int i = 0; i < 3; ++i)
        GetExitCodeProcess(ahProcess[i], &adwExit[i]);
    probe.Stop();
    const std::string &text = probe.Text();
    if (adwExit[0] != STILL_ACTIVE || adwExit[1] != STILL_ACTIVE || adwExit[2] != STILL_ACTIVE) {
        printf("%8d: a process ended during the run\n", cWindows);
        return false;
    }

    // A block the stop cut short counts only up to its last whole line.
    std::string lines = text.substr(0, text.rfind('\n') + 1);
    char szHwndLine[32];
    snprintf(szHwndLine, sizeof szHwndLine, "HWND: %08lX\r\n", HandleToULong(hwndTarget));
    pRow->cMade = (int)windows.Made();
    pRow->cWalked = walk.cWalked;
    pRow->cBlocks = CountOf(lines, "HWND: ");
    pRow->cBlocksOnTarget = CountOf(lines, szHwndLine);
    return true;
}

void ReportBesideFloors(int cSeconds)
{
    printf("\nthe probe process beside its two floors, three processes at once under one "
           "wineserver,\nthe cursor on the bench's bottom window (probe: winprobe.exe, stdout "
           "on a file;\nfloor-bare: its loop without the report; floor-queries: the same and "
           "the report's\nqueries); the probe's blocks, those about the bottom window, and "
           "working sets at the\nend (0: not given for another process)\n");
    printf("%8s %8s %6s %8s %10s %10s %10s %10s\n", "windows", "walked", "s", "blocks", "on target",
           "probe KiB", "bare KiB", "query KiB");
    for (int cWindows : {100, 1000}) {
        CpuRow row;
        if (!RunBesideFloors(cWindows, cSeconds, &row))
            continue;
        printf("%8d %8d %6.1f %8lu %10lu %10lu %10lu %10lu\n", row.cMade, row.cWalked,
               row.secInterval, (unsigned long)row.cBlocks, (unsigned long)row.cBlocksOnTarget,
               (unsigned long)row.kibProbe, (unsigned long)row.kibBare,
               (unsigned long)row.kibQueries);
    }
}

// For a heap trace: the probe's cycle and the bare enumeration, K times
// each, between markers.
void AllocPhases(int k)
{
    TestWindows windows(TilesAboveTarget(99, "target"));
    StdoutCapture capture(SinkFile);
    ptCursor = CenterPoint(0, 0);
    for (int i = 0; i < 3; ++i)
        ProbeCycle(TRUE); // past the first-time work
    OutputDebugStringA("winprobe-bench: probe cycles begin");
    for (int i = 0; i < k; ++i)
        ProbeCycle(TRUE);
    OutputDebugStringA("winprobe-bench: probe cycles end");
    OutputDebugStringA("winprobe-bench: floor begins");
    for (int i = 0; i < k; ++i) {
        Walk walk = {ptCursor, 0, NULL};
        EnumWindows(FloorProc, (LPARAM)&walk);
    }
    OutputDebugStringA("winprobe-bench: floor ends");
}

int Usage()
{
    fprintf(stderr, "usage: winprobe_bench [--windows N] [--cpu-seconds S] [--marks]\n"
                    "       winprobe_bench --floor-bare | --floor-queries | --alloc-phases K\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    int cMostWindows = 10000, cCpuSeconds = 60;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--floor-bare")
            return RunFloor(false);
        if (option == "--floor-queries")
            return RunFloor(true);
        if (option == "--marks") {
            g_fMarks = true;
            continue;
        }
        if (i + 1 == argc)
            return Usage();
        int nValue = atoi(argv[++i]);
        if (nValue <= 0)
            return Usage();
        if (option == "--alloc-phases") {
            AllocPhases(nValue);
            return 0;
        }
        if (option == "--windows")
            cMostWindows = nValue;
        else if (option == "--cpu-seconds")
            cCpuSeconds = nValue;
        else
            return Usage();
    }
    setvbuf(stdout, NULL, _IONBF, 0);

    printf("hit test, medians in microseconds; no window holds the point, so every one "
           "is walked\n");
    printf("windows asked for, made by the bench, and walked (with the platform's own)\n");
    printf("%8s %8s %8s %12s %12s %10s %14s\n", "asked", "made", "walked", "(a) probe", "(b) floor",
           "(a)/(b)", "(c) point+root");
    for (int cWindows : {10, 100, 1000, cMostWindows}) {
        EnumRow row = MeasureEnumeration(cWindows);
        printf("%8d %8d %8d %12.1f %12.1f %10.3f %14.1f\n", row.cAsked, row.cMade, row.cWalked,
               row.usHitTest, row.usFloor, row.usHitTest / row.usFloor, row.usPointQuery);
        if (row.cMade < row.cAsked)
            printf("the platform refused window %d of %d\n", row.cMade + 1, row.cAsked);
    }

    {
        TestWindows target({{"WinprobeBenchTarget", "a title of ordinary length", WS_POPUP, 0,
                             CenterRect(-100, -80, 100, 80)}});
        printf("\n(d) one report block, median in microseconds\n");
        for (Sink sink : {SinkFile, SinkPipe, SinkConsole})
            printf("%8s %12.1f\n", SinkName(sink), MeasureReport(sink, target[0]));
    }

    printf("\n");
    ReportExe();
    ReportBesideFloors(cCpuSeconds);
    return 0;
}
