// For test programs that place the cursor and run the probe: one check
// before any test runs, so that a session that cannot move it fails at
// once, saying why, rather than every test failing its comparisons; and the
// waits of such tests, which fail saying what they waited for.
#pragma once

#include "support/child.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

inline testing::AssertionResult CursorPlaced(POINT pt)
{
    if (PlaceCursor(pt))
        return testing::AssertionSuccess();
    POINT ptNow = {};
    BOOL fRead = GetCursorPos(&ptNow);
    return testing::AssertionFailure()
           << "the cursor is at (" << ptNow.x << ", " << ptNow.y
           << ") twelve seconds after SetCursorPos(" << pt.x << ", " << pt.y << ")"
           << (fRead ? "" : ", or unread: GetCursorPos fails, error ")
           << (fRead ? "" : std::to_string(GetLastError()));
}

// After a run whose block names a window that is not at pt: whether the
// cursor is still at pt, or, as the probe read it then, somewhere else.
inline testing::AssertionResult CursorStillAt(POINT pt)
{
    POINT ptNow = {};
    if (GetCursorPos(&ptNow) && ptNow.x == pt.x && ptNow.y == pt.y)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the cursor left (" << pt.x << ", " << pt.y << ") for ("
                                       << ptNow.x << ", " << ptNow.y << ")";
}

struct CursorSession : testing::Environment {
    void SetUp() override
    {
        // SetCursorPos wants a window on the calling thread.
        TestWindows aside({{"WinprobeCursorCheck", "cursor check", WS_POPUP, 0, {0, 0, 4, 4}}});
        POINT pt = {};
        GetCursorPos(&pt);
        testing::AssertionResult placed =
            CursorPlaced(CenterPoint(pt.x == CenterPoint(7, 5).x ? 17 : 7, 5));
        if (placed)
            return;
        printf("cannot run these tests here: %s. Either another desktop has the input (a locked "
               "screen, a UAC prompt, a disconnected remote session) or this session is not "
               "interactive (a service), and these tests must place the cursor on their "
               "windows\n",
               placed.message());
        // GoogleTest reports the tests after a failed global set-up as
        // skipped and the run as passed, so the program ends here, failed.
        fflush(stdout);
        exit(1);
    }
};

// Until the probe's output satisfies done, up to dwTimeout milliseconds, with
// the test's windows served; *pdwTaken, where given, is the milliseconds it
// took.
template <typename Done>
testing::AssertionResult OutputCame(ProbeChild &child, const char *pszWhat, DWORD dwTimeout,
                                    Done done, DWORD *pdwTaken = NULL)
{
    const DWORD dwStart = GetTickCount();
    bool fDone = done(child.reader.Collect());
    for (; !fDone && GetTickCount() - dwStart < dwTimeout; fDone = done(child.reader.Collect()))
        PumpMessages(20);
    if (pdwTaken)
        *pdwTaken = GetTickCount() - dwStart;
    if (fDone)
        return testing::AssertionSuccess();
    DWORD dwExit = child.process.WaitForExit(0);
    return testing::AssertionFailure()
           << "no " << pszWhat << " within " << dwTimeout << " ms; the probe "
           << (dwExit == WAIT_TIMEOUT ? "runs" : "ended, status " + std::to_string(dwExit))
           << "; it printed:\n"
           << child.Text();
}

// Waits derived from the probe's pace: Wine may take seconds to start it on a
// busy machine, then it prints a block a second, which a busy machine may
// stretch to two.
constexpr DWORD kdwProbeStartAllowed = 10000;
constexpr DWORD kdwCycleAllowed = 2000;
// For cBlocks blocks more, the probe's start included.
inline DWORD BlocksWait(size_t cBlocks)
{
    return kdwProbeStartAllowed + (DWORD)cBlocks * kdwCycleAllowed;
}

// Until the first piece reaches a file or pipe: a larger buffer than
// kcbOutputPiece fails here, saying so, rather than outlasting the test.
inline testing::AssertionResult FirstPieceCame(ProbeChild &child)
{
    const size_t cBlocks = BlocksToFillPiece();
    const std::string what = "first " + std::to_string(kcbOutputPiece) + "-byte write (due by " +
                             std::to_string(cBlocks) + " blocks of the shortest kind)";
    return OutputCame(child, what.c_str(), BlocksWait(cBlocks),
                      [](const std::string &t) { return !t.empty(); });
}
