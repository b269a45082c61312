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
    void SetUp() override
    {
        POINT ptBefore = {}, ptNow = {};
        BOOL fRead = GetCursorPos(&ptBefore);
        DWORD dwError = GetLastError();
        POINT pt = CenterPoint(ptBefore.x == CenterPoint(7, 5).x ? 17 : 7, 5);
        // SetCursorPos wants a window on the calling thread.
        TestWindows aside({{"WinprobeCursorCheck", "cursor check", WS_POPUP, 0, {0, 0, 4, 4}}});
        if (fRead && PlaceCursor(pt))
            return;
        GetCursorPos(&ptNow);
        if (!fRead)
            printf("cannot run these tests here: GetCursorPos fails (error %lu): another desktop "
                   "has the input (a locked screen, a UAC prompt, a disconnected remote session)\n",
                   dwError);
        else
            printf("cannot run these tests here: SetCursorPos(%ld, %ld) left the cursor at (%ld, "
                   "%ld): this session is not interactive (a service, or a disconnected or locked "
                   "session), and these tests must place the cursor on their windows\n",
                   pt.x, pt.y, ptNow.x, ptNow.y);
        // GoogleTest reports the tests after a failed global set-up as
        // skipped and the run as passed, so the program ends here, failed.
        fflush(stdout);
        exit(1);
    }
};
