// winprobe.exe under load: windows churning under the cursor, a pipe reader
// that goes away, and thousands of windows.
#include "support/child.h"
#include "support/cursor_session.h"

#include <gtest/gtest.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <map>
#include <regex>

namespace
{

testing::Environment *const s_pCursorSession = testing::AddGlobalTestEnvironment(new CursorSession);

// Right of and below the screen's centre: clear of the console windows Wine
// puts at the top left, and of the tiles of hidden windows.
const POINT kpt = CenterPoint(GetSystemMetrics(SM_CXSCREEN) / 4, GetSystemMetrics(SM_CYSCREEN) / 8);
// A window around kpt.
const RECT krcAtPoint = {kpt.x - 40, kpt.y - 32, kpt.x + 60, kpt.y + 48};

int EnvInt(const char *pszName, int nDefault)
{
    const char *psz = getenv(pszName);
    return psz ? atoi(psz) : nDefault;
}

// What the probe holds, read from outside it; each figure is -1 where the
// platform will not tell (Wine gives no figures for another process).
struct Footprint {
    long long cbPrivate = -1;
    long long cHandles = -1;
    long long cUserObjects = -1;
    long long cGdiObjects = -1;
    long long cbClean = -1; // only from a figures file
};

// Where WINPROBE_FOOTPRINT_FILE names a figures file, its figures in place
// of the platform's: "PRIVATE_DIRTY_KIB PRIVATE_CLEAN_KIB DESCRIPTORS" of the
// Linux process that runs the probe under Wine, as scripts/churn.sh keeps it
// from /proc. Private dirty pages are what the probe wrote itself, as
// Windows' private bytes are; its open descriptors stand for its handles.
void ReadFiguresFile(Footprint *pfp)
{
    const char *pszPath = getenv("WINPROBE_FOOTPRINT_FILE");
    if (!pszPath)
        return;
    FILE *pf = fopen(pszPath, "r");
    if (!pf)
        return;
    long kibDirty, kibClean, cDescriptors;
    if (fscanf(pf, "%ld %ld %ld", &kibDirty, &kibClean, &cDescriptors) == 3) {
        pfp->cbPrivate = kibDirty * 1024LL;
        pfp->cbClean = kibClean * 1024LL;
        pfp->cHandles = cDescriptors;
    }
    fclose(pf);
}

// Entries of the system's handle list (SystemExtendedHandleInformation).
struct HandleEntry {
    PVOID pObject;
    ULONG_PTR dwProcessId, hValue;
    ULONG dwAccess;
    USHORT wCreator, wType;
    ULONG dwAttributes, dwReserved;
};

// The handles a process holds, from the system's list of every handle: Wine
// answers GetProcessHandleCount with 0. -1 where the list cannot be read.
long long HandlesInSystemList(DWORD dwProcessId)
{
    std::vector<ULONG_PTR> buffer(1 << 16);
    NTSTATUS status;
    while ((status = NtQuerySystemInformation((SYSTEM_INFORMATION_CLASS)64, buffer.data(),
                                              (ULONG)(buffer.size() * sizeof buffer[0]), NULL)) ==
           (NTSTATUS)0xC0000004) // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    const ULONG_PTR cEntries = buffer[0];
    const HandleEntry *pEntries = (const HandleEntry *)&buffer[2];
    return std::count_if(pEntries, pEntries + cEntries,
                         [=](const HandleEntry &e) { return e.dwProcessId == dwProcessId; });
}

// USER or GDI objects of a process, or -1 where the platform does not count
// them (Wine: ERROR_CALL_NOT_IMPLEMENTED). A console program may hold none.
long long GuiObjects(HANDLE hProcess, DWORD dwKind)
{
    SetLastError(ERROR_SUCCESS);
    DWORD c = GetGuiResources(hProcess, dwKind);
    return c != 0 || GetLastError() == ERROR_SUCCESS ? (long long)c : -1;
}

Footprint FootprintOf(HANDLE hProcess)
{
    Footprint fp;
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    // Both hold the commit charge; Windows 7 fills only PrivateUsage, Wine
    // only PagefileUsage.
    if (GetProcessMemoryInfo(hProcess, (PROCESS_MEMORY_COUNTERS *)&pmc, sizeof pmc) &&
        std::max(pmc.PagefileUsage, pmc.PrivateUsage) != 0)
        fp.cbPrivate = std::max(pmc.PagefileUsage, pmc.PrivateUsage);
    DWORD cHandles = 0;
    if (GetProcessHandleCount(hProcess, &cHandles) && cHandles != 0)
        fp.cHandles = cHandles;
    else
        fp.cHandles = HandlesInSystemList(GetProcessId(hProcess));
    fp.cUserObjects = GuiObjects(hProcess, GR_USEROBJECTS);
    fp.cGdiObjects = GuiObjects(hProcess, GR_GDIOBJECTS);
    ReadFiguresFile(&fp);
    return fp;
}

std::string Figure(long long n)
{
    return n < 0 ? "not given" : std::to_string(n);
}

void PrintFootprint(const char *pszWhen, const Footprint &fp)
{
    printf("probe %s: private bytes %s, handles %s, USER objects %s, GDI objects %s\n", pszWhen,
           Figure(fp.cbPrivate).c_str(), Figure(fp.cHandles).c_str(),
           Figure(fp.cUserObjects).c_str(), Figure(fp.cGdiObjects).c_str());
    if (fp.cbClean >= 0)
        printf("  (from the figures file: private dirty bytes, descriptors; private clean bytes "
               "%s, read in as code runs, not judged)\n",
               Figure(fp.cbClean).c_str());
}

// Handles, and memory where judged, must be given and must not have risen
// from fpFrom to fpTo by more than cSlack (pages, for memory); nor may USER
// and GDI objects where the platform counts them. Whether it counted them.
bool ExpectNoRise(const Footprint &fpFrom, const Footprint &fpTo, long long cSlack, bool fMemory)
{
    const struct {
        const char *pszName;
        long long Footprint::*pn;
        long long nUnit;
        bool fJudged, fRequired;
    } figures[] = {
        {"private bytes", &Footprint::cbPrivate, 4096, fMemory, true},
        {"handles", &Footprint::cHandles, 1, true, true},
        {"USER objects", &Footprint::cUserObjects, 1, true, false},
        {"GDI objects", &Footprint::cGdiObjects, 1, true, false},
    };
    bool fGuiCounted = true;
    for (const auto &f : figures) {
        if (!f.fJudged)
            continue;
        const long long nFrom = fpFrom.*f.pn, nTo = fpTo.*f.pn;
        if (nFrom >= 0 && nTo >= 0)
            EXPECT_LE(nTo - nFrom, cSlack * f.nUnit)
                << f.pszName << " rose from " << nFrom << " to " << nTo;
        else if (f.fRequired)
            ADD_FAILURE() << "no figure for the probe's " << f.pszName << ", so no check of them";
        else
            fGuiCounted = false;
    }
    return fGuiCounted;
}

// The windows that hold pt, as the platform answered for them then, by the
// low 32 bits of their handles, as a block shows them.
typedef std::map<unsigned long, std::pair<HWND, WindowState>> StandingWindows;

StandingWindows StandingAt(POINT pt)
{
    StandingWindows windows;
    for (HWND hwnd : WindowsAt(pt))
        windows[HandleToULong(hwnd)] = {hwnd, QueryWindow(hwnd)};
    return windows;
}

// A block of a window that was at the point before the churn began, such as
// the desktop window in a second when no churned window covers the point:
// exactly what the platform said of that window, but for its Z-order
// neighbours, which the churn moves.
testing::AssertionResult IsStandingBlock(const std::string &block, int nCount,
                                         const WindowState &ws, HWND hwnd)
{
    static const std::regex s_neighbours("NextWnd: [0-9A-F]{8}\r\nPrevWnd: [0-9A-F]{8}\r\n");
    std::string expected = ExpectedBlockOf(hwnd, ws, nCount);
    size_t ichBlock = block.rfind("NextWnd: "), ichExpected = expected.rfind("NextWnd: ");
    if (ichBlock == std::string::npos || block.compare(0, ichBlock, expected, 0, ichExpected) != 0)
        return testing::AssertionFailure()
               << "not what the platform said of " << Describe(hwnd) << ":\n"
               << expected;
    if (!std::regex_match(block.substr(ichBlock), s_neighbours))
        return testing::AssertionFailure() << "malformed";
    return testing::AssertionSuccess();
}

// A block as the probe prints it for a churned window. A window destroyed
// under the report shows empty texts and a zero rectangle; any other
// rectangle is one the churn set, on the 8-pixel grid anchored at pt.
testing::AssertionResult IsChurnBlock(const std::string &block, int nCount, POINT pt)
{
    static const std::regex s_shape(
        "---\r\nnCount: (-?\\d+)\r\n"
        "HWND: [0-9A-F]{8}\r\n"
        "ClassName: (WinprobeChurn|)\r\n"
        "WindowText: (|churn \\d+|churn \\d+\r\nsecond line)\r\n"
        "Style: 0x[0-9A-F]{8}\r\nExStyle: 0x[0-9A-F]{8}\r\n"
        "IsEnabled: [01]\r\nIsVisible: [01]\r\n"
        "WindowRect: \\((-?\\d+), (-?\\d+)\\)-\\((-?\\d+), (-?\\d+)\\)\r\n"
        "NextWnd: [0-9A-F]{8}\r\nPrevWnd: [0-9A-F]{8}\r\n");
    std::smatch m;
    if (!std::regex_match(block, m, s_shape))
        return testing::AssertionFailure() << "malformed";
    if (std::stoi(m[1]) != nCount)
        return testing::AssertionFailure()
               << "count " << m[1].str() << " where " << nCount << " was due";
    long al[4];
    for (int i = 0; i < 4; ++i)
        al[i] = std::stol(m[4 + i]);
    bool fZero = !al[0] && !al[1] && !al[2] && !al[3];
    bool fChurned = al[0] < al[2] && al[1] < al[3] && (al[0] - pt.x) % 8 == 0 &&
                    (al[1] - pt.y) % 8 == 0 && (al[2] - pt.x) % 8 == 0 && (al[3] - pt.y) % 8 == 0;
    if (!fZero && !fChurned)
        return testing::AssertionFailure()
               << "a rectangle the churn never set: not on the grid at " << pt.x << ", " << pt.y;
    return testing::AssertionSuccess();
}

// The handle a block names, or 0.
unsigned long BlockHandle(const std::string &block)
{
    static const std::regex s_head("---\r\nnCount: -?\\d+\r\nHWND: ([0-9A-F]{8})\r\n");
    std::smatch m;
    if (!std::regex_search(block, m, s_head, std::regex_constants::match_continuous))
        return 0;
    return std::stoul(m[1], NULL, 16);
}

TEST(Churn, EveryBlockIsWellFormedAndTheProbeLivesOn)
{
    const int cSeconds = EnvInt("WINPROBE_CHURN_SECONDS", 20);
    // The first figures after a minute, or a quarter of a shorter run. Under
    // churn the probe's memory still rises, by about a megabyte, in its first
    // twelve seconds or so (seen under Wine; without churn it holds still
    // from its second second): memory is judged only after a minute, and
    // cycle by cycle by Footprint.NothingGrowsCycleByCycle.
    const DWORD dwFirstLook = (DWORD)std::min(60, cSeconds / 4) * 1000;
    const bool fJudgeMemory = dwFirstLook == 60000;

    // SetCursorPos wants a window on the calling thread.
    TestWindows aside({{"WinprobeAside", "aside", WS_POPUP, 0, {8, 8, 16, 16}}});
    ASSERT_TRUE(CursorPlaced(kpt));
    ProbeChild probe(SinkFile);
    ASSERT_TRUE(probe.Start(CREATE_NEW_CONSOLE));
    SinkReader churnOut(SinkPipe, true);
    ChildProcess churn;
    ASSERT_TRUE(churn.Start(ProgramPath("winprobe_churn.exe"),
                            std::to_string(cSeconds) + " " + std::to_string(kpt.x) + " " +
                                std::to_string(kpt.y),
                            churnOut.WriteEnd(), 0));
    churnOut.CloseWriteEnd();

    PumpMessages(dwFirstLook);
    Footprint fpFirst = FootprintOf(probe.process.Handle());
    EXPECT_EQ(0u, churn.WaitForExit((cSeconds + 60) * 1000))
        << "the churn ended badly or not at all: " << churnOut.Collect();
    int cOperations = -1;
    sscanf(churnOut.Collect().c_str(), "operations %d", &cOperations);
    PumpMessages(1500); // the probe's last cycle over the churn
    Footprint fpLast = FootprintOf(probe.process.Handle());
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(probe.process.Handle(), 0))
        << "the probe died";
    // Every window at the point now stood there all along (the churn's are
    // gone), the probe's console window among them whenever it came.
    const StandingWindows standing = StandingAt(kpt);

    DWORD dwError = 0;
    EXPECT_TRUE(SendConsoleEvent(probe.process.Id(), CTRL_C_EVENT, &dwError)) << dwError;
    WaitForSingleObject(probe.process.Handle(), 5000);
    probe.Stop();

    std::vector<std::string> blocks = SplitBlocks(probe.Text());
    printf("%d s of churn: %d operations, %lu blocks\n", cSeconds, cOperations,
           (unsigned long)blocks.size());
    PrintFootprint(dwFirstLook == 60000 ? "after a minute" : "a quarter in", fpFirst);
    PrintFootprint("at the end", fpLast);
    size_t cChurned = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        auto it = standing.find(BlockHandle(blocks[i]));
        if (it == standing.end()) {
            ++cChurned;
            EXPECT_TRUE(IsChurnBlock(blocks[i], (int)i, kpt)) << blocks[i];
        } else {
            EXPECT_TRUE(IsStandingBlock(blocks[i], (int)i, it->second.second, it->second.first))
                << blocks[i];
        }
    }
    printf("%lu blocks of churned windows, %lu of the %lu that stood at the point before\n",
           (unsigned long)cChurned, (unsigned long)(blocks.size() - cChurned),
           (unsigned long)standing.size());
    EXPECT_GT(cOperations, 1000) << churnOut.Text();
    EXPECT_GE(cChurned, (size_t)cSeconds / 4) << "the churn was seldom under the cursor";
    if (!fJudgeMemory)
        printf("private bytes not judged: the run is shorter than four minutes\n");
    ExpectNoRise(fpFirst, fpLast, 0, fJudgeMemory);
}

TEST(StdoutFaults, ProbeOutlivesItsPipeReaderWithoutSpinning)
{
    ProbeChild probe(SinkPipe);
    TestWindows piped({{"WinprobePiped", "piped", WS_POPUP | WS_VISIBLE, 0, krcAtPoint}});
    ASSERT_TRUE(CursorPlaced(kpt));
    ASSERT_TRUE(probe.Start());
    ASSERT_TRUE(FirstPieceCame(probe));

    // Milliseconds of CPU, or -1 where no thread of the probe could be read.
    auto cpuOverTenCycles = [&probe] {
        ProcessCpu before = CpuOf(probe.process.Id());
        PumpMessages(10000);
        ProcessCpu after = CpuOf(probe.process.Id());
        if (before.cThreads == 0 || after.cThreads == 0)
            return -1LL;
        return (long long)(after.ticks - before.ticks) / 10000;
    };
    long long msRead = cpuOverTenCycles();
    probe.reader.CloseReadEnd();
    long long msUnread = cpuOverTenCycles(); // five 512-byte writes that fail
    ASSERT_TRUE(msRead >= 0 && msUnread >= 0) << "the probe's threads could not be read";
    printf("CPU over ten cycles: %lld ms with a reader, %lld ms after it left\n", msRead, msUnread);

    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(probe.process.Handle(), 0))
        << "the probe ended";
    EXPECT_LT(msUnread, 2 * msRead + 100) << "the probe spins";
}

// Memory and handles, and USER and GDI objects where the platform counts
// them, over the twenty cycles after the tenth. Wine 10 touches a new page
// now and then as it settles (seen on Debian 13: up to four pages in the
// first twenty cycles, at most one after the tenth; Wine 8 holds still), so
// each figure may rise by two. A leak of a handle a cycle rises by twenty,
// one of a kilobyte a cycle by five pages or more.
TEST(Footprint, NothingGrowsCycleByCycle)
{
    const size_t kiSettled = 1;
    const long long kcSlack = 2;
    ProbeChild probe(SinkConsole);
    TestWindows under({{"WinprobeCounted", "counted", WS_POPUP | WS_VISIBLE, 0, krcAtPoint}});
    ASSERT_TRUE(CursorPlaced(kpt));
    ASSERT_TRUE(probe.Start());
    std::vector<Footprint> fps;
    for (size_t cBlocks : {1, 10, 20, 30}) {
        const std::string when = "after block " + std::to_string(cBlocks - 1);
        ASSERT_TRUE(
            OutputCame(probe, when.c_str(), BlocksWait(cBlocks),
                       [cBlocks](const std::string &t) { return CountBlocks(t) >= cBlocks; }));
        fps.push_back(FootprintOf(probe.process.Handle()));
        PrintFootprint(when.c_str(), fps.back());
    }
    if (!ExpectNoRise(fps[kiSettled], fps.back(), kcSlack, true) && !HasFailure())
        GTEST_SKIP() << "memory and handles checked, and neither rose by more than two; USER "
                        "and GDI objects not: the platform does not count them (Wine)";
}

// Thousands of windows, none over the point but the lowest of them, then
// two more over it: the probe walks them all and keeps to enumeration order.
TEST(Scale, FindsTheRightWindowAmongThousands)
{
    const int cWindows = EnvInt("WINPROBE_SCALE_WINDOWS", 2000);
    std::vector<TestWindow> layout = SmallHiddenWindows(cWindows, "WinprobeMany");
    layout.push_back({"WinprobeBottom", "bottom", WS_POPUP | WS_VISIBLE, 0, krcAtPoint});
    TestWindows hwnds(layout);
    size_t cCreated = hwnds.Made();
    printf("%lu top-level windows made by this process\n", (unsigned long)cCreated);
    ASSERT_EQ(layout.size(), cCreated);
    HWND hwndBottom = hwnds.Handles().back();
    // Below every tile, and above every window that is not the test's.
    ASSERT_EQ(hwnds[cWindows - 1], GetWindow(hwndBottom, GW_HWNDPREV));
    ASSERT_TRUE(CursorPlaced(kpt));

    auto probeOnce = [](HWND hwndExpected) {
        ASSERT_EQ(hwndExpected, WindowAt(kpt)) << Describe(WindowAt(kpt));
        const WindowState before = QueryWindow(hwndExpected);
        ProbeChild probe(SinkFile);
        ASSERT_TRUE(probe.Start());
        ASSERT_TRUE(FirstPieceCame(probe));
        probe.Stop();
        EXPECT_TRUE(CursorStillAt(kpt)) << "the probe reports the window at the cursor";
        EXPECT_EQ("", StreamMismatch(probe.Text(), hwndExpected, before, QueryWindow(hwndExpected),
                                     0, true));
    };
    probeOnce(hwndBottom);

    // Over the point too, without changing the Z-order: the higher one wins.
    HWND hwndHigh = hwnds[cWindows / 4], hwndLow = hwnds[cWindows / 2];
    for (HWND hwnd : {hwndHigh, hwndLow})
        SetWindowPos(hwnd, NULL, kpt.x - 80, kpt.y - 72, 200, 200, SWP_NOZORDER | SWP_NOACTIVATE);
    probeOnce(hwndHigh);
}

} // namespace
