// For test programs that place the cursor: one check before any test runs,
// so that a session that cannot move it fails at once, saying why, rather
// than every test failing its comparisons.
#pragma once

#include "support/screen.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

class CursorSession : public testing::Environment
{
  public:
    // GoogleTest reports the tests after a failed global set-up as skipped
    // and the run as passed, so the program ends here, failed.
    void SetUp() override
    {
        std::string why = WhyTheCursorCannotMove();
        if (why.empty())
            return;
        printf("cannot run these tests here: %s\n", why.c_str());
        fflush(stdout);
        exit(1);
    }
};
