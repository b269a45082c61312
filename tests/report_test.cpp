// The report called directly, with this process's stdout on a file, a pipe or
// a console.
#include "report.h"
#include "support/capture.h"
#include "support/screen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

namespace
{

// The report of hwnd, made once, and what the platform said of hwnd just
// before and just after it. In a fresh prefix Wine's own programs are still
// making windows, so a neighbour line may name the neighbour from before the
// report or the one after it, and nothing else. Among the windows that stood
// throughout, the report must move nothing.
struct Report {
    std::string text;
    WindowState before, after;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam)
{
    ((std::vector<HWND> *)lParam)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> hwnds;
    EnumWindows(CollectWindow, (LPARAM)&hwnds);
    return hwnds;
}

// The windows below and above hwnd in list, of those that other holds too.
std::pair<HWND, HWND> SteadyNeighbours(HWND hwnd, const std::vector<HWND> &list,
                                       const std::vector<HWND> &other)
{
    std::vector<HWND> steady;
    for (HWND h : list)
        if (std::find(other.begin(), other.end(), h) != other.end())
            steady.push_back(h);
    auto it = std::find(steady.begin(), steady.end(), hwnd);
    if (it == steady.end())
        return {NULL, NULL};
    return {it + 1 == steady.end() ? NULL : it[1], it == steady.begin() ? NULL : it[-1]};
}

testing::AssertionResult Capture(HWND hwnd, Report *pReport)
{
    pReport->before = QueryWindow(hwnd);
    const std::vector<HWND> hwndsBefore = TopLevelWindows();
    pReport->text = CaptureStdout([hwnd] { PrintWindowInfo(hwnd); });
    pReport->after = QueryWindow(hwnd);
    const std::vector<HWND> hwndsAfter = TopLevelWindows();
    if (SteadyNeighbours(hwnd, hwndsBefore, hwndsAfter) !=
        SteadyNeighbours(hwnd, hwndsAfter, hwndsBefore))
        return testing::AssertionFailure()
               << "the report moved " << Describe(hwnd) << " in the Z-order";
    return testing::AssertionSuccess();
}

// The report is block nBlock of hwnd, and nothing else.
testing::AssertionResult IsBlockOf(const Report &report, HWND hwnd, int nBlock)
{
    std::string why = StreamMismatch(report.text, hwnd, report.before, report.after, nBlock, false);
    if (why.empty() && SplitBlocks(report.text).size() != 1)
        why = "more than one block:\n" + report.text;
    if (why.empty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << why;
}

// Rectangles, hidden and disabled windows need no place on the screen that
// the tests share: they are never under the cursor here.
TestWindow ReportWindow(const std::string &title, DWORD dwStyle, RECT rect)
{
    return {"WinprobeReportTest", title, dwStyle, 0, rect};
}

// The text after label on its line, or "(no such line)".
std::string LineValue(const std::string &text, const std::string &label)
{
    size_t ich = text.find("\r\n" + label);
    if (ich == std::string::npos)
        return "(no such line)";
    ich += 2 + label.size();
    return text.substr(ich, text.find("\r\n", ich) - ich);
}

// A handle line: eight upper-case hex digits naming the platform's handle.
testing::AssertionResult IsHandleText(const std::string &text, HWND hwnd)
{
    if (text.size() != 8 || text.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return testing::AssertionFailure() << "'" << text << "' is not eight hex digits";
    if (strtoul(text.c_str(), NULL, 16) != HandleToULong(hwnd))
        return testing::AssertionFailure()
               << "'" << text << "' names another handle than " << HandleToULong(hwnd);
    return testing::AssertionSuccess();
}

// A block written out whole, for a window whose every printed property the
// test sets, so that a formatting fault shared by the report and the
// expected-block helper still shows; then the same block against what the
// platform says. The platform adds WS_CLIPSIBLINGS to every top-level
// window, and the test's windows are topmost. The title's line feeds go out
// as CR LF, its own CR LF as CR CR LF.
TEST(PrintWindowInfo, PrintsThisBlockLiterally)
{
    TestWindows windows({{"WinprobeLiteral", "%s%n%x\nsecond\r\nthird", WS_POPUP | WS_DISABLED,
                          WS_EX_TOOLWINDOW, RECT{-50, -40, 150, 60}}});
    HWND hwnd = windows[0];
    nCount = 41;

    Report report;
    ASSERT_TRUE(Capture(hwnd, &report));
    const std::string &text = report.text;

    const char *const apszLines[] = {
        "---",
        "nCount: 41",
        "HWND: ",
        "ClassName: WinprobeLiteral",
        "WindowText: %s%n%x",
        "second\r",
        "third",
        "Style: 0x8C000000",
        "ExStyle: 0x00000088",
        "IsEnabled: 0",
        "IsVisible: 0",
        "WindowRect: (-50, -40)-(150, 60)",
        "NextWnd: ",
        "PrevWnd: ",
        "",
    };
    std::string rest = text;
    for (const char *pszLine : apszLines) {
        size_t ichEnd = rest.find("\r\n");
        std::string line = rest.substr(0, ichEnd);
        rest = ichEnd == std::string::npos ? "" : rest.substr(ichEnd + 2);
        if (strlen(pszLine) > 0 && pszLine[strlen(pszLine) - 1] == ' ')
            EXPECT_EQ(pszLine, line.substr(0, strlen(pszLine))) << text;
        else
            EXPECT_EQ(pszLine, line) << text;
    }
    EXPECT_TRUE(IsHandleText(LineValue("\r\n" + text, "HWND: "), hwnd));
    // The neighbours, and the rest again, as the platform said them.
    EXPECT_TRUE(IsBlockOf(report, hwnd, 41));
    EXPECT_EQ(42, nCount);
}

struct RectCase {
    RECT rect;
    const char *pszText;
};

TEST(RectToString, WritesBothCornersWithTheirSigns)
{
    const RectCase cases[] = {
        {{0, 0, 0, 0}, "(0, 0)-(0, 0)"},
        {{-50, -40, 150, 60}, "(-50, -40)-(150, 60)"},
        {{INT_MIN, INT_MIN, INT_MAX, INT_MAX},
         "(-2147483648, -2147483648)-(2147483647, 2147483647)"},
    };
    for (const RectCase &c : cases) {
        const char *pszGot = RectToString(&c.rect);
        EXPECT_STREQ(c.pszText, pszGot);
        EXPECT_EQ(szRect, pszGot) << "the text lives in szRect";
    }
}

TEST(PrintWindowInfo, CutsATitleTo259Characters)
{
    TestWindows windows({ReportWindow(std::string(300, 'T'), WS_POPUP, RECT{10, 10, 20, 20})});
    Report report;
    ASSERT_TRUE(Capture(windows[0], &report));
    EXPECT_EQ(std::string(259, 'T'), LineValue(report.text, "WindowText: "));
}

TEST(PrintWindowInfo, NullHandlePrintsThreeLinesAndKeepsTheCount)
{
    int nBefore = nCount;
    Report report;
    ASSERT_TRUE(Capture(NULL, &report));
    EXPECT_EQ("---\r\nnCount: " + std::to_string(nBefore) + "\r\nHWND: 00000000\r\n", report.text);
    EXPECT_EQ(nBefore, nCount);
}

// A 64-bit build prints the low 32 bits of a handle, so a handle that a
// 32-bit process handed over sign-extended, or one with other upper bits set,
// prints as a 32-bit build prints it.
TEST(PrintWindowInfo, PrintsTheLowThirtyTwoBitsOfAHandle)
{
    struct HandleCase {
        UINT_PTR value;
        const char *pszText;
    };
    const HandleCase cases[] = {
        {(UINT_PTR)(INT_PTR)(LONG)0x8765ABCD, "8765ABCD"}, // sign-extended on 64-bit
        {0x0001005C, "0001005C"},
#ifdef _WIN64
        {(UINT_PTR)0x123456780000ABCDull, "0000ABCD"},
#endif
    };
    for (const HandleCase &c : cases) {
        int nBefore = nCount;
        Report report;
        ASSERT_TRUE(Capture((HWND)c.value, &report));
        std::string head = "---\r\nnCount: " + std::to_string(nBefore) + "\r\nHWND: ";
        EXPECT_EQ(head + c.pszText + "\r\n", report.text.substr(0, head.size() + 10)) << c.pszText;
        EXPECT_EQ(nBefore + 1, nCount);
    }
}

TEST(PrintWindowInfo, DestroyedWindowShowsEmptyTextsAndAZeroRectangle)
{
    TestWindows windows({ReportWindow("gone", WS_POPUP, RECT{100, 100, 300, 300})});
    HWND hwnd = windows[0];
    DestroyWindow(hwnd);
    int nBefore = nCount;

    Report report;
    ASSERT_TRUE(Capture(hwnd, &report));
    const std::string &text = report.text;

    EXPECT_TRUE(IsBlockOf(report, hwnd, nBefore));
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "\r\nClassName: \r\nWindowText: \r\n", text);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "\r\nWindowRect: (0, 0)-(0, 0)\r\n", text);
    EXPECT_EQ(nBefore + 1, nCount);
}

// Ours, where the platform lets a window below the desktop window; the
// desktop window itself where it keeps the bottom.
TEST(PrintWindowInfo, BottomWindowHasNoNextWindow)
{
    TestWindows windows({ReportWindow("bottom", WS_POPUP, RECT{10, 10, 20, 20})});
    SetWindowPos(windows[0], HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    HWND hwndBottom = GetWindow(windows[0], GW_HWNDLAST);
    ASSERT_EQ(NULL, GetWindow(hwndBottom, GW_HWNDNEXT)) << Describe(hwndBottom);
    ASSERT_TRUE(GetWindow(hwndBottom, GW_HWNDPREV) != NULL) << Describe(hwndBottom);
    Report report;
    ASSERT_TRUE(Capture(hwndBottom, &report));
    EXPECT_EQ("00000000", LineValue(report.text, "NextWnd: ")) << report.text;
    EXPECT_NE("00000000", LineValue(report.text, "PrevWnd: ")) << report.text;
}

} // namespace
