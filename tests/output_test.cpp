// Standard output as winprobe sets it up, with this process's stdout on a
// file, a pipe or a console.
#include "output.h"
#include "support/capture.h"
#include "support/screen.h"

#include <gtest/gtest.h>

namespace
{

// The first cbLogical bytes of text as written before CR LF translation.
std::string TranslatedPrefix(const std::string &text, size_t cbLogical)
{
    size_t ich = 0;
    for (size_t cb = 0; cb < cbLogical && ich < text.size(); ++ich)
        cb += text[ich] != '\r';
    return text.substr(0, ich);
}

// What reaches the sink before anything flushes: nothing until a piece of
// kcbOutputPiece bytes fills, then exactly that piece, for a file or a pipe;
// every line at once for a console.
class StdoutBuffering : public testing::TestWithParam<Sink>
{
};

TEST_P(StdoutBuffering, FollowsWhatStdoutIs)
{
    StdoutCapture capture(GetParam());
    std::string printed;
    std::vector<std::pair<std::string, std::string>> steps;
    for (int n = 0; LogicalSize(printed) < kcbOutputPiece + kcbOutputPiece / 2; ++n) {
        PrintLine("line %d of the report: %s\n", n, "%d");
        printed += "line " + std::to_string(n) + " of the report: %d\r\n";
        steps.push_back({printed, capture.Reader().Collect()});
    }
    capture.Restore();
    EXPECT_EQ(printed, capture.Reader().Collect()) << "everything once flushed";

    for (const auto &step : steps) {
        const std::string &sofar = step.first, &seen = step.second;
        size_t cbLogical = LogicalSize(sofar);
        if (GetParam() == SinkConsole)
            EXPECT_EQ(sofar, seen) << "a console shows every line at once";
        else if (cbLogical < kcbOutputPiece)
            EXPECT_EQ("", seen) << cbLogical << " bytes are still in the block";
        else
            EXPECT_EQ(TranslatedPrefix(sofar, kcbOutputPiece), seen) << "one whole piece";
    }
}

INSTANTIATE_TEST_SUITE_P(Sinks, StdoutBuffering, testing::Values(SinkFile, SinkPipe, SinkConsole),
                         [](const testing::TestParamInfo<Sink> &paramInfo) {
                             return std::string(SinkName(paramInfo.param));
                         });

HANDLE s_hStopSeen;
DWORD s_dwStopThread;

// Installed before winprobe's handler, so it runs after it; keeps the test
// process alive.
BOOL WINAPI SwallowStop(DWORD dwCtrlType)
{
    (void)dwCtrlType;
    s_dwStopThread = GetCurrentThreadId();
    SetEvent(s_hStopSeen);
    return TRUE;
}

// The event SwallowStop sets and SwallowStop installed, both gone with this
// object, however the test ends; the process must not begin to exit while
// the thread made for the console event is still ending.
struct StopSwallowed {
    StopSwallowed()
    {
        s_hStopSeen = CreateEventA(NULL, TRUE, FALSE, NULL);
        fInstalled = SetConsoleCtrlHandler(SwallowStop, TRUE);
    }
    ~StopSwallowed()
    {
        HANDLE hStopThread = s_dwStopThread ? OpenThread(SYNCHRONIZE, FALSE, s_dwStopThread) : NULL;
        if (hStopThread != NULL) {
            WaitForSingleObject(hStopThread, 5000);
            CloseHandle(hStopThread);
        }
        if (fInstalled)
            SetConsoleCtrlHandler(SwallowStop, FALSE);
        CloseHandle(s_hStopSeen);
        s_hStopSeen = NULL;
    }
    BOOL fInstalled;
};

TEST(ConsoleStop, FlushesAndLeavesTheEventToTheNextHandler)
{
    // A console of this process's own to raise the event in: the one it was
    // started with may be shared with ctest and the CI runner's shell.
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    // Ctrl+C may have been handed down to us as ignored; then no handler
    // would run.
    SetConsoleCtrlHandler(NULL, FALSE);
    StopSwallowed swallowed;
    ASSERT_TRUE(s_hStopSeen != NULL && swallowed.fInstalled) << "error " << GetLastError();
    StdoutCapture capture(SinkFile);

    PrintLine("a finished line\n");
    EXPECT_EQ("", capture.Reader().Collect());
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << "error " << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(s_hStopSeen, 5000))
        << "winprobe's handler must pass the event on";
    EXPECT_EQ("a finished line\r\n", capture.Reader().Collect());
}

} // namespace
