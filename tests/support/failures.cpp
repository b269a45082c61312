// GoogleTest prints a failure's text on stdout. While a test has stdout on a
// sink, that text would go into the output under test and never be seen: it
// is written on the real stdout as well. Built into every test program.
#include "support/capture.h"

#include <gtest/gtest.h>
#include <io.h>

namespace
{

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

[[maybe_unused]] const bool s_fInstalled =
    (testing::UnitTest::GetInstance()->listeners().Append(new FailuresOnTheRealStdout), true);

} // namespace
