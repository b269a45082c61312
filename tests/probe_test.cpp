// The hit test and one probe cycle, called directly against real windows.
#include "probe.h"
#include "report.h"
#include "support/capture.h"
#include "support/screen.h"

#include <gtest/gtest.h>

namespace
{

const POINT kptShared = CenterPoint(0, 0);

// A hidden window above a visible one, both holding kptShared, and a third
// window elsewhere.
class ProbeTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(m_hwnds[0], WindowAt(kptShared)) << Describe(WindowAt(kptShared));
    }

    TestWindows m_hwnds{{
        {"WinprobeProbeTest", "hidden", WS_POPUP, 0, CenterRect(-150, -150, 150, 150)},
        {"WinprobeProbeTest", "shown", WS_POPUP | WS_VISIBLE, 0, CenterRect(-50, -50, 250, 250)},
        {"WinprobeProbeTest", "aside", WS_POPUP | WS_VISIBLE, 0, CenterRect(300, -250, 400, -150)},
    }};
};

TEST_F(ProbeTest, HitTestStopsAtTheFirstWindowHoldingTheCursor)
{
    ptCursor = kptShared;
    hwndFound = NULL;
    EXPECT_EQ(TRUE, HitTestProc(m_hwnds[2], 0));
    EXPECT_EQ(NULL, hwndFound);
    EXPECT_EQ(FALSE, HitTestProc(m_hwnds[1], 0));
    EXPECT_EQ(m_hwnds[1], hwndFound);

    hwndFound = NULL;
    EnumWindows(HitTestProc, 0);
    EXPECT_EQ(m_hwnds[0], hwndFound) << "hidden windows are not passed over";
}

// Leaves the stack below the caller full of rectangles that hold kptShared,
// in one of four rotations, where an unwritten RECT of the next call would
// lie.
#ifdef _MSC_VER
#define NOINLINE __declspec(noinline)
#else
#define NOINLINE __attribute__((noinline))
#endif

NOINLINE void PoisonStack(int nRotation)
{
    const LONG alValues[4] = {kptShared.x - 1, kptShared.y - 1, kptShared.x + 1, kptShared.y + 1};
    [[maybe_unused]] volatile LONG alStack[256];
    for (int i = 0; i < 256; ++i)
        alStack[i] = alValues[(i + nRotation) % 4];
}

// A window of this test, made and destroyed, so that the handle is certain to
// name no window: GetWindowRect leaves the RECT unwritten, and the stack
// holds rectangles around the point where it lies, so a hit test that used
// it would take the window.
TEST_F(ProbeTest, HitTestPassesOverADestroyedWindow)
{
    HWND hwndGone = m_hwnds[0];
    ASSERT_TRUE(DestroyWindow(hwndGone)) << "error " << GetLastError();
    RECT rect = {};
    ASSERT_FALSE(IsWindow(hwndGone));
    ASSERT_FALSE(GetWindowRect(hwndGone, &rect)) << "the destroyed window has a rectangle";
    ptCursor = kptShared;
    for (int nRotation = 0; nRotation < 4; ++nRotation) {
        hwndFound = NULL;
        PoisonStack(nRotation);
        EXPECT_EQ(TRUE, HitTestProc(hwndGone, 0)) << "rotation " << nRotation;
        EXPECT_EQ(NULL, hwndFound);
    }
}

TEST_F(ProbeTest, CycleReportsTheFirstWindowUnderTheCursor)
{
    int nBefore = nCount;
    ptCursor = kptShared;
    const WindowState before = QueryWindow(m_hwnds[0]);
    std::string text = CaptureStdout([] { ProbeCycle(TRUE); });
    EXPECT_EQ(m_hwnds[0], hwndFound);
    EXPECT_EQ("",
              StreamMismatch(text, m_hwnds[0], before, QueryWindow(m_hwnds[0]), nBefore, false));
    EXPECT_EQ(1u, SplitBlocks(text).size()) << text;
    EXPECT_EQ(nBefore + 1, nCount);
}

// Only where the screen has such a point: on a Windows desktop the desktop
// window itself covers every point.
TEST_F(ProbeTest, CycleWithNoWindowAtThePointPrintsNothing)
{
    if (!FindEmptyPoint(&ptCursor))
        GTEST_SKIP() << "every point of this screen lies in some top-level window";
    int nBefore = nCount;
    EXPECT_EQ("", CaptureStdout([] { ProbeCycle(TRUE); }));
    EXPECT_EQ(NULL, hwndFound);
    EXPECT_EQ(nBefore, nCount);
}

TEST_F(ProbeTest, CycleWithAnUnreadCursorTestsAndPrintsNothing)
{
    int nBefore = nCount;
    ptCursor = kptShared;
    hwndFound = m_hwnds[2];
    EXPECT_EQ("", CaptureStdout([] { ProbeCycle(FALSE); }));
    EXPECT_EQ(NULL, hwndFound);
    EXPECT_EQ(nBefore, nCount);
}

} // namespace
