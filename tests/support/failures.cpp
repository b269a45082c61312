// Two rules for every test program, which each links in: a failure's text is
// seen even while stdout is captured, and a run that runs no test fails.
#include "support/capture.h"

#include <gtest/gtest.h>
#include <io.h>
#include <stdlib.h>

namespace
{

// GoogleTest prints a failure's text on stdout. While a test has stdout on a
// sink, that text would go into the output under test and never be seen: it
// is written on the real stdout as well.
struct FailuresOnTheRealStdout : testing::EmptyTestEventListener {
    void OnTestPartResult(const testing::TestPartResult &result) override
    {
        std::string text = std::string(result.file_name() ? result.file_name() : "") + ":" +
                           std::to_string(result.line_number()) +
                           ": Failure, while stdout was captured\n" + result.message() + "\n";
        if (result.failed() && StdoutCapture::RealStdout() >= 0)
            _write(StdoutCapture::RealStdout(), text.data(), (unsigned)text.size());
    }
};

// A filter that matches no test (a test renamed under a caller that names it)
// would otherwise pass having checked nothing: GoogleTest 1.12 exits 0 and has
// no flag against it. A failure outside any test fails the whole run. One
// shard of a sharded run may rightly hold no test.
struct NoTestRunFails : testing::EmptyTestEventListener {
    void OnTestIterationStart(const testing::UnitTest &unitTest, int) override
    {
        if (unitTest.test_to_run_count() == 0 && getenv("GTEST_TOTAL_SHARDS") == NULL)
            ADD_FAILURE() << "no test to run: the filter \"" << GTEST_FLAG_GET(filter)
                          << "\" matches none of the " << unitTest.total_test_count()
                          << " tests of this program";
    }
};

[[maybe_unused]] const bool s_fInstalled =
    (testing::UnitTest::GetInstance()->listeners().Append(new FailuresOnTheRealStdout),
     testing::UnitTest::GetInstance()->listeners().Append(new NoTestRunFails), true);

} // namespace
