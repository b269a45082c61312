#include "probechild.h"

std::string ProgramPath(const char *pszExe)
{
    char szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameA(NULL, szPath, sizeof szPath);
    std::string path(szPath, cch);
    return path.substr(0, path.find_last_of("\\/") + 1) + pszExe;
}

std::string ProbePath()
{
    if (const char *pszExe = getenv("WINPROBE_EXE"))
        return pszExe;
    return ProgramPath("winprobe.exe");
}

void OpenProbeSink(Sink sink, ProbeChild *pChild)
{
    pChild->hOut = OpenSink(sink, true, &pChild->reader);
}

static bool StartWithStdout(const std::string &path, const std::string &args, HANDLE hOut,
                            DWORD dwFlags, PROCESS_INFORMATION *ppi)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hOut;
    std::string cmdline = "\"" + path + "\"" + (args.empty() ? "" : " " + args);
    return CreateProcessA(path.c_str(), &cmdline[0], NULL, NULL, TRUE, dwFlags, NULL, NULL, &si,
                          ppi) != FALSE;
}

bool StartProbe(DWORD dwFlags, ProbeChild *pChild)
{
    // A process started with Ctrl+C ignored (CREATE_NEW_PROCESS_GROUP, start
    // /b: how the suite was started is not ours to know) hands that on to
    // its children, and the probe would never see a Ctrl+C. Handed on from
    // here: Ctrl+C is processed.
    SetConsoleCtrlHandler(NULL, FALSE);
    bool fStarted = StartWithStdout(ProbePath(), "", pChild->hOut, dwFlags, &pChild->pi);
    CloseHandle(pChild->hOut);
    return fStarted;
}

void StopProbe(ProbeChild *pChild)
{
    TerminateProcess(pChild->pi.hProcess, 1);
    WaitForSingleObject(pChild->pi.hProcess, 5000);
    Collect(&pChild->reader);
    CloseHandle(pChild->pi.hProcess);
    CloseHandle(pChild->pi.hThread);
    CloseSink(&pChild->reader);
}

bool StartProgram(const std::string &path, const std::string &args, PROCESS_INFORMATION *ppi)
{
    return StartWithStdout(path, args, NULL, 0, ppi);
}

size_t CountBlocks(const std::string &text)
{
    return SplitBlocks(text).size();
}

bool SendConsoleEvent(DWORD dwProcessId, DWORD dwEvent, DWORD *pdwError)
{
    const char *pszEvent = dwEvent == CTRL_CLOSE_EVENT   ? "close"
                           : dwEvent == CTRL_BREAK_EVENT ? "ctrl-break"
                                                         : "ctrl-c";
    PROCESS_INFORMATION pi;
    // Without a console of its own until it attaches to the probe's.
    if (!StartWithStdout(ProgramPath("winprobe_console_event.exe"),
                         std::to_string(dwProcessId) + " " + pszEvent, NULL, DETACHED_PROCESS,
                         &pi)) {
        *pdwError = GetLastError();
        return false;
    }
    DWORD dwExit = ERROR_TIMEOUT;
    if (WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &dwExit);
    else
        TerminateProcess(pi.hProcess, ERROR_TIMEOUT);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    *pdwError = dwExit;
    return dwExit == 0;
}

bool RunningOnWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
}

ULONGLONG CpuMilliseconds(HANDLE hProcess)
{
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    GetProcessTimes(hProcess, &ftCreation, &ftExit, &ftKernel, &ftUser);
    ULARGE_INTEGER kernel = {{ftKernel.dwLowDateTime, ftKernel.dwHighDateTime}};
    ULARGE_INTEGER user = {{ftUser.dwLowDateTime, ftUser.dwHighDateTime}};
    return (kernel.QuadPart + user.QuadPart) / 10000;
}
