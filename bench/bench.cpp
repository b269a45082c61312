// What winprobe costs, next to what the platform itself costs.
//   winprobe_bench [--windows N] [--cpu-seconds S]
//       the tables, up to N windows (10000, Windows' default quota of USER
//       objects for one process, which it cannot quite reach: it reports
//       how many it got) and with an S-second CPU run (60)
//   winprobe_bench --alloc-phases K
//       K probe cycles, then K bare enumerations, marked with
//       OutputDebugString for a heap trace
#include "output.h"
#include "peimage.h"
#include "probe.h"
#include "probechild.h"
#include "report.h"
#include "testsupport.h"

#include <psapi.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

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

// The floor: an enumeration whose callback only reads the rectangle and
// tests the point.
BOOL CALLBACK FloorProc(HWND hwnd, LPARAM lParam)
{
    RECT rect;
    return !(GetWindowRect(hwnd, &rect) && PtInRect(&rect, *(const POINT *)lParam));
}

// Up to cWindows tiles: CreateWindows stops at the first the platform
// refuses (Windows' default quota is 10,000 USER objects a process, its
// windows among them), and the list keeps only those made.
std::vector<HWND> MakeWindows(int cWindows)
{
    std::vector<HWND> hwnds = CreateWindows(SmallHiddenWindows(cWindows, "WinprobeBench"));
    hwnds.erase(std::remove(hwnds.begin(), hwnds.end(), (HWND)NULL), hwnds.end());
    return hwnds;
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
    std::vector<HWND> hwnds = MakeWindows(cWindows);
    int cWalked = 0;
    EnumWindows(CountProc, (LPARAM)&cWalked);
    std::vector<double> hit, floor, query;
    ptCursor = kptNowhere;
    POINT pt = kptNowhere;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    // Alternated, so that drift falls on both alike.
    do {
        hit.push_back(TimeOnce([] {
            hwndFound = NULL;
            EnumWindows(HitTestProc, 0);
        }));
        floor.push_back(TimeOnce([&pt] { EnumWindows(FloorProc, (LPARAM)&pt); }));
        query.push_back(TimeOnce([&pt] { GetAncestor(WindowFromPoint(pt), GA_ROOT); }));
        QueryPerformanceCounter(&t1);
    } while (hit.size() < 21 || (Microseconds(t0, t1) < 3e6 && hit.size() < 20001));
    int cMade = (int)hwnds.size();
    DestroyWindows(&hwnds);
    return {cWindows, cMade, cWalked, Median(hit), Median(floor), Median(query)};
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
    SinkReader reader;
    RedirectStdoutToSink(sink, &reader);
    HANDLE hDrain = NULL;
    if (sink == SinkPipe)
        hDrain = CreateThread(NULL, 0, DrainPipe, reader.hRead, 0, NULL);
    std::vector<double> times;
    for (int i = 0; i < 301; ++i)
        times.push_back(TimeOnce([hwnd] { PrintWindowInfo(hwnd); }));
    RestoreStdout(); // closes the pipe's last write end
    if (hDrain) {
        WaitForSingleObject(hDrain, INFINITE);
        CloseHandle(hDrain);
    }
    CloseSink(&reader);
    return Median(times);
}

void ReportExe()
{
    PeImage image;
    ReadPeImage(ProbePath(), &image);
    std::string dlls;
    for (const std::string &dll : ImportedDlls(image))
        dlls += (dlls.empty() ? "" : ", ") + dll;
    printf("winprobe.exe: %lu bytes (%.1f KiB), imports %s\n", (unsigned long)image.bytes.size(),
           image.bytes.size() / 1024.0, dlls.c_str());
}

// The probe as a user runs it, beside 100 windows, the cursor on one of them.
void ReportProbeCpu(int cSeconds)
{
    std::vector<HWND> hwnds = MakeWindows(99);
    std::vector<HWND> target =
        CreateWindows({{"WinprobeBenchTarget", "target", WS_POPUP | WS_VISIBLE, 0,
                        CenterRect(-100, -80, 100, 80)}});
    PlaceCursor(CenterPoint(0, 0));
    ProbeChild probe;
    OpenProbeSink(SinkFile, &probe);
    StartProbe(0, &probe);
    PumpMessages(2000);
    ULONGLONG msStart = CpuMilliseconds(probe.pi.hProcess);
    PumpMessages(cSeconds * 1000);
    ULONGLONG msCpu = CpuMilliseconds(probe.pi.hProcess) - msStart;
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    BOOL fMemory = GetProcessMemoryInfo(probe.pi.hProcess, &pmc, sizeof pmc) && pmc.WorkingSetSize;
    StopProbe(&probe);
    DestroyWindows(&hwnds);
    DestroyWindows(&target);

    double msPerHour = msCpu * 3600.0 / cSeconds;
    printf("probe at 100 windows, over %d s: %lu ms CPU, so %.1f s an hour, %.3f%% of one core\n",
           cSeconds, (unsigned long)msCpu, msPerHour / 1000, msPerHour / 36000.0);
    if (fMemory)
        printf("probe working set: %lu KiB\n", (unsigned long)(pmc.WorkingSetSize / 1024));
    else
        printf("probe working set: not given by this platform for another process\n");
}

// For a heap trace: the probe's cycle and the bare enumeration, K times
// each, between markers.
void AllocPhases(int k)
{
    std::vector<HWND> hwnds = MakeWindows(99);
    std::vector<HWND> target = CreateWindows(
        {{"WinprobeBenchTarget", "target", WS_POPUP, 0, CenterRect(-100, -80, 100, 80)}});
    SinkReader reader;
    RedirectStdoutToSink(SinkFile, &reader);
    ptCursor = CenterPoint(0, 0);
    POINT pt = ptCursor;
    for (int i = 0; i < 3; ++i)
        ProbeCycle(TRUE); // past the first-time work
    OutputDebugStringA("winprobe-bench: probe cycles begin");
    for (int i = 0; i < k; ++i)
        ProbeCycle(TRUE);
    OutputDebugStringA("winprobe-bench: probe cycles end");
    OutputDebugStringA("winprobe-bench: floor begins");
    for (int i = 0; i < k; ++i)
        EnumWindows(FloorProc, (LPARAM)&pt);
    OutputDebugStringA("winprobe-bench: floor ends");
    RestoreStdout();
    CloseSink(&reader);
    DestroyWindows(&hwnds);
    DestroyWindows(&target);
}

} // namespace

int main(int argc, char *argv[])
{
    int cMostWindows = 10000, cCpuSeconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--alloc-phases") {
            AllocPhases(atoi(argv[i + 1]));
            return 0;
        }
        if (option == "--windows")
            cMostWindows = atoi(argv[i + 1]);
        else if (option == "--cpu-seconds")
            cCpuSeconds = atoi(argv[i + 1]);
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

    std::vector<HWND> target = CreateWindows({{"WinprobeBenchTarget", "a title of ordinary length",
                                               WS_POPUP, 0, CenterRect(-100, -80, 100, 80)}});
    printf("\n(d) one report block, median in microseconds\n");
    for (Sink sink : {SinkFile, SinkPipe, SinkConsole})
        printf("%8s %12.1f\n", SinkName(sink), MeasureReport(sink, target[0]));
    DestroyWindows(&target);

    printf("\n");
    ReportExe();
    ReportProbeCpu(cCpuSeconds);
    return 0;
}
