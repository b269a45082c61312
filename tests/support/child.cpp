#include "support/child.h"

#include <tlhelp32.h>

std::string ProgramPath(const char *pszExe)
{
    char szPath[MAX_PATH];
    std::string path(szPath, GetModuleFileNameA(NULL, szPath, sizeof szPath));
    return path.substr(0, path.find_last_of("\\/") + 1) + pszExe;
}

bool ChildProcess::Start(const std::string &path, const std::string &args, HANDLE hStdout,
                         DWORD dwFlags)
{
    End();
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hStdout;
    std::string cmdline = "\"" + path + "\"" + (args.empty() ? "" : " " + args);
    if (!CreateProcessA(path.c_str(), &cmdline[0], NULL, NULL, TRUE, dwFlags, NULL, NULL, &si,
                        &m_pi))
        m_pi = {};
    return m_pi.hProcess != NULL;
}

void ChildProcess::End()
{
    if (m_pi.hProcess == NULL)
        return;
    // Fails harmlessly where it has ended already.
    TerminateProcess(m_pi.hProcess, 1);
    WaitForSingleObject(m_pi.hProcess, 5000);
    CloseHandle(m_pi.hProcess);
    CloseHandle(m_pi.hThread);
    m_pi = {};
}

DWORD ChildProcess::WaitForExit(DWORD dwTimeout)
{
    DWORD dwExit = WAIT_TIMEOUT;
    if (WaitForSingleObject(m_pi.hProcess, dwTimeout) == WAIT_OBJECT_0)
        GetExitCodeProcess(m_pi.hProcess, &dwExit);
    return dwExit;
}

bool ProbeChild::Start(DWORD dwFlags)
{
    // A process started with Ctrl+C ignored (CREATE_NEW_PROCESS_GROUP, start
    // /b: how the suite was started is not ours to know) hands that on to
    // its children, and the probe would never see a Ctrl+C. Handed on from
    // here: Ctrl+C is processed.
    SetConsoleCtrlHandler(NULL, FALSE);
    bool fStarted = process.Start(ProbePath(), "", reader.WriteEnd(), dwFlags);
    // The probe holds its own copy: a pipe ends when the probe does.
    reader.CloseWriteEnd();
    return fStarted;
}

bool SendConsoleEvent(DWORD dwProcessId, DWORD dwEvent, DWORD *pdwError)
{
    ChildProcess sender;
    // Without a console of its own until it attaches to the probe's.
    const bool fStarted = sender.Start(ProgramPath("winprobe_console_event.exe"),
                                       std::to_string(dwProcessId) + " " + std::to_string(dwEvent),
                                       NULL, DETACHED_PROCESS);
    *pdwError = fStarted ? sender.WaitForExit(10000) : GetLastError();
    return fStarted && *pdwError == 0;
}

static ULONGLONG Ticks(FILETIME ft)
{
    return (ULONGLONG)ft.dwHighDateTime << 32 | ft.dwLowDateTime;
}

ProcessCpu CpuOf(DWORD dwProcessId)
{
    ProcessCpu cpu = {0, 0};
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return cpu;
    THREADENTRY32 te = {};
    te.dwSize = sizeof te;
    for (BOOL fMore = Thread32First(hSnapshot, &te); fMore; fMore = Thread32Next(hSnapshot, &te)) {
        if (te.th32OwnerProcessID != dwProcessId)
            continue;
        HANDLE hThread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, te.th32ThreadID);
        FILETIME ftCreation, ftExit, ftKernel, ftUser;
        if (hThread != NULL && GetThreadTimes(hThread, &ftCreation, &ftExit, &ftKernel, &ftUser)) {
            cpu.ticks += Ticks(ftKernel) + Ticks(ftUser);
            ++cpu.cThreads;
        }
        if (hThread != NULL)
            CloseHandle(hThread);
    }
    CloseHandle(hSnapshot);
    return cpu;
}
