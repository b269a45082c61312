// winprobe.exe, and the test's helper programs, as child processes that are
// ended when the test lets go of them.
#pragma once

#include "support/capture.h"
#include "support/screen.h"

#include <stdlib.h>

// A program built beside the test programs, by file name.
std::string ProgramPath(const char *pszExe);
// The exe under test: the one beside the test programs, or WINPROBE_EXE.
inline std::string ProbePath()
{
    const char *pszExe = getenv("WINPROBE_EXE");
    return pszExe ? pszExe : ProgramPath("winprobe.exe");
}

// A child process, ended by force (if it still runs) and its handles closed
// at the end of this object's life.
class ChildProcess
{
  public:
    ~ChildProcess() { End(); }
    // Neither moved nor (so) copied: it owns the process's handles.
    ChildProcess &operator=(ChildProcess &&) = delete;

    // The program with the command line's arguments and its stdout on
    // hStdout (NULL for none).
    bool Start(const std::string &path, const std::string &args, HANDLE hStdout, DWORD dwFlags);
    void End();
    HANDLE Handle() const { return m_pi.hProcess; }
    DWORD Id() const { return m_pi.dwProcessId; }
    // Exit code once it has ended within dwTimeout, else WAIT_TIMEOUT.
    DWORD WaitForExit(DWORD dwTimeout);

  private:
    PROCESS_INFORMATION m_pi = {};
};

// winprobe.exe with its stdout on a sink of its own.
struct ProbeChild {
    explicit ProbeChild(Sink sink) : reader(sink, true) {}

    bool Start(DWORD dwFlags = 0);
    // Ends it by force and reads what reached the sink.
    void Stop()
    {
        process.End();
        reader.Collect();
    }
    const std::string &Text() const { return reader.Text(); }

    SinkReader reader;
    ChildProcess process; // after reader: ended before the sink closes
};

// Raises Ctrl+C, Ctrl+Break or a console close in a child's own console, as
// a user at that console would, from a helper process: the console this
// process runs in never sees the event. On failure *pdwError says why:
// ERROR_NOT_SUPPORTED for a close of a pseudo-console.
bool SendConsoleEvent(DWORD dwProcessId, DWORD dwEvent, DWORD *pdwError);

// The CPU time a process's threads have used so far, in 100 ns ticks, and
// how many threads it has. Wine answers GetProcessTimes for another process
// with the caller's own times, but reads a thread's times from that thread;
// on Windows the sum is the process's own figure while none of its threads
// has ended.
struct ProcessCpu {
    ULONGLONG ticks;
    int cThreads;
};
ProcessCpu CpuOf(DWORD dwProcessId);
