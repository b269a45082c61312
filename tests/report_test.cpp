// The report called directly, with this process's stdout on a file, a pipe or
// a console.
#include "report.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace
{

std::string Capture(HWND hwnd)
{
    return CaptureStdout([hwnd] { PrintWindowInfo(hwnd); });
}

// Rectangles, hidden and disabled windows need no place on the screen that
// the tests share: they are never under the cursor here.
HWND MakeWindow(const std::string &title, DWORD dwStyle, RECT rect)
{
    return CreateWindows({{"WinprobeReportTest", title, dwStyle, 0, rect}})[0];
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

TEST(PrintWindowInfo, PrintsWhatThePlatformSaysLiterally)
{
    const RECT rect = {-50, -40, 150, 60};
    HWND hwnd = MakeWindow("%s%n%x\nsecond\r\nthird", WS_POPUP | WS_DISABLED, rect);
    int nBefore = nCount;

    std::string text = Capture(hwnd);

    EXPECT_EQ(ExpectedBlock(hwnd, nBefore), text);
    EXPECT_EQ(nBefore + 1, nCount);
    // Renderings checked without the expected-block helper.
    EXPECT_EQ(0u, text.find("---\r\nnCount: " + std::to_string(nBefore) + "\r\nHWND: "));
    EXPECT_NE(std::string::npos,
              text.find("\r\nWindowText: %s%n%x\r\nsecond\r\r\nthird\r\nStyle: "));
    EXPECT_NE(std::string::npos, text.find("\r\nStyle: 0x8")) << "WS_POPUP is the top bit";
    EXPECT_NE(std::string::npos, text.find("\r\nIsEnabled: 0\r\nIsVisible: 0\r\n"));
    EXPECT_NE(std::string::npos, text.find("\r\nWindowRect: (-50, -40)-(150, 60)\r\n"));
    EXPECT_EQ(14u, CountLineFeeds(text)) << "twelve lines and two inside the title";
    DestroyWindow(hwnd);
}

TEST(PrintWindowInfo, CutsATitleTo259Characters)
{
    HWND hwnd = MakeWindow(std::string(300, 'T'), WS_POPUP, RECT{10, 10, 20, 20});
    std::string text = Capture(hwnd);
    EXPECT_NE(std::string::npos,
              text.find("\r\nWindowText: " + std::string(259, 'T') + "\r\nStyle: "));
    DestroyWindow(hwnd);
}

TEST(PrintWindowInfo, NullHandlePrintsThreeLinesAndKeepsTheCount)
{
    int nBefore = nCount;
    EXPECT_EQ("---\r\nnCount: " + std::to_string(nBefore) + "\r\nHWND: 00000000\r\n",
              Capture(NULL));
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
        std::string text = Capture((HWND)c.value);
        std::string head = "---\r\nnCount: " + std::to_string(nBefore) + "\r\nHWND: ";
        EXPECT_EQ(head + c.pszText + "\r\n", text.substr(0, head.size() + 10)) << c.pszText;
        EXPECT_EQ(nBefore + 1, nCount);
    }
}

TEST(PrintWindowInfo, DestroyedWindowShowsEmptyTextsAndAZeroRectangle)
{
    HWND hwnd = MakeWindow("gone", WS_POPUP, RECT{100, 100, 300, 300});
    DestroyWindow(hwnd);
    int nBefore = nCount;

    std::string text = Capture(hwnd);

    EXPECT_EQ(ExpectedBlock(hwnd, nBefore), text);
    EXPECT_NE(std::string::npos, text.find("\r\nClassName: \r\nWindowText: \r\n"));
    EXPECT_NE(std::string::npos, text.find("\r\nWindowRect: (0, 0)-(0, 0)\r\n"));
    EXPECT_EQ(nBefore + 1, nCount);
}

// Ours, where the platform lets a window below the desktop window; the
// desktop window itself where it keeps the bottom.
TEST(PrintWindowInfo, BottomWindowHasNoNextWindow)
{
    HWND hwnd = MakeWindow("bottom", WS_POPUP, RECT{10, 10, 20, 20});
    SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    HWND hwndBottom = GetWindow(hwnd, GW_HWNDLAST);
    ASSERT_EQ(NULL, GetWindow(hwndBottom, GW_HWNDNEXT)) << Describe(hwndBottom);
    ASSERT_TRUE(GetWindow(hwndBottom, GW_HWNDPREV) != NULL) << Describe(hwndBottom);
    std::string text = Capture(hwndBottom);
    EXPECT_NE(std::string::npos, text.find("\r\nNextWnd: 00000000\r\nPrevWnd: ")) << text;
    EXPECT_EQ(std::string::npos, text.find("\r\nPrevWnd: 00000000\r\n")) << text;
    DestroyWindow(hwnd);
}

} // namespace
