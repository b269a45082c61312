// winprobe.exe, and the test's helper programs, as child processes.
#pragma once

#include "testsupport.h"

#include <windows.h>

#include <string>

// A program built beside the test programs, by file name.
std::string ProgramPath(const char *pszExe);

// The exe under test: the one beside the test programs, or WINPROBE_EXE.
std::string ProbePath();

struct ProbeChild {
    PROCESS_INFORMATION pi = {};
    SinkReader reader;
    HANDLE hOut = NULL;
};

// The sink comes first: a console makes a window of its own, and the test's
// windows must then go above it.
void OpenProbeSink(Sink sink, ProbeChild *pChild);
// Starts winprobe.exe with its stdout on the sink opened before.
bool StartProbe(DWORD dwFlags, ProbeChild *pChild);
// Ends it by force and reads what reached the sink.
void StopProbe(ProbeChild *pChild);

// Starts a program with the given command line and its output on NUL.
bool StartProgram(const std::string &path, const std::string &args, PROCESS_INFORMATION *ppi);

// Waits, with the test's windows served, until the text that has reached the
// sink satisfies done or the time is up; returns the milliseconds taken.
template <typename Done> DWORD WaitForOutput(ProbeChild *pChild, DWORD dwTimeout, Done done)
{
    DWORD dwStart = GetTickCount();
    while (!done(Collect(&pChild->reader)) && GetTickCount() - dwStart < dwTimeout)
        PumpMessages(20);
    return GetTickCount() - dwStart;
}

size_t CountBlocks(const std::string &text);

// Raises Ctrl+C, Ctrl+Break or a console close in a child's own console, as
// a user at that console would, from a helper process: the console this
// process runs in never sees the event.
bool SendConsoleEvent(DWORD dwProcessId, DWORD dwEvent, DWORD *pdwError);

bool RunningOnWine();

// CPU time the process has used so far, in milliseconds.
ULONGLONG CpuMilliseconds(HANDLE hProcess);
