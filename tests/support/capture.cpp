#include "support/capture.h"

#include "output.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

static HANDLE NewScreenBuffer(bool fInheritable)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, fInheritable};
    return CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                     CONSOLE_TEXTMODE_BUFFER, NULL);
}

void ReadyConsole()
{
    static bool s_fReady;
    if (std::exchange(s_fReady, true))
        return;
    HANDLE hTry = NewScreenBuffer(false);
    if (hTry != INVALID_HANDLE_VALUE) {
        CloseHandle(hTry);
        return;
    }
    FreeConsole();
    AllocConsole();
}

SinkReader::SinkReader(Sink sink, bool fInheritable) : m_sink(sink)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, fInheritable};
    const DWORD dwShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (sink == SinkFile) {
        char szDir[MAX_PATH], szPath[MAX_PATH];
        GetTempPathA(sizeof szDir, szDir);
        GetTempFileNameA(szDir, "wpb", 0, szPath);
        // Gone once every end is closed, the writer's own copies included.
        m_hWrite = CreateFileA(szPath, GENERIC_WRITE, dwShareAll, &sa, CREATE_ALWAYS,
                               FILE_FLAG_DELETE_ON_CLOSE, NULL);
        m_hRead = CreateFileA(szPath, GENERIC_READ, dwShareAll, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    } else if (sink == SinkPipe) {
        // Large enough that the writer never waits for the reader.
        CreatePipe(&m_hRead, &m_hWrite, &sa, 1 << 20);
        SetHandleInformation(m_hRead, HANDLE_FLAG_INHERIT, 0);
    } else {
        ReadyConsole();
        m_hRead = NewScreenBuffer(fInheritable);
        SetConsoleScreenBufferSize(m_hRead, {320, 600});
        DuplicateHandle(GetCurrentProcess(), m_hRead, GetCurrentProcess(), &m_hWrite, 0,
                        fInheritable, DUPLICATE_SAME_ACCESS);
    }
}

SinkReader::~SinkReader()
{
    CloseWriteEnd();
    CloseReadEnd();
}

const std::string &SinkReader::Collect()
{
    char buf[4096];
    DWORD cb = 0, cbAvail = 0;
    if (m_hRead == NULL)
        return m_text;
    if (m_sink == SinkFile) {
        m_text.clear();
        SetFilePointer(m_hRead, 0, NULL, FILE_BEGIN);
        while (ReadFile(m_hRead, buf, sizeof buf, &cb, NULL) && cb > 0)
            m_text.append(buf, cb);
    } else if (m_sink == SinkPipe) {
        while (PeekNamedPipe(m_hRead, NULL, 0, NULL, &cbAvail, NULL) && cbAvail > 0 &&
               ReadFile(m_hRead, buf, sizeof buf, &cb, NULL))
            m_text.append(buf, cb);
    } else {
        // The rows with text, trailing blanks removed, joined by CR LF.
        CONSOLE_SCREEN_BUFFER_INFO info;
        m_text.clear();
        if (!GetConsoleScreenBufferInfo(m_hRead, &info))
            return m_text;
        std::string row(info.dwSize.X, ' ');
        for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
            DWORD cch = 0;
            ReadConsoleOutputCharacterA(m_hRead, &row[0], info.dwSize.X, {0, y}, &cch);
            std::string line = row.substr(0, cch);
            line.erase(line.find_last_not_of(' ') + 1);
            m_text += line;
            if (y < info.dwCursorPosition.Y)
                m_text += "\r\n";
        }
    }
    return m_text;
}

StdoutCapture::StdoutCapture(Sink sink) : m_reader(sink, false)
{
    fflush(stdout);
    s_fdReal = m_fdSaved = _dup(1);
    // Only stdout holds the write end now: a pipe ends when it lets go.
    int fd = _open_osfhandle((intptr_t)m_reader.TakeWriteEnd(), _O_TEXT);
    _dup2(fd, 1);
    _close(fd);
    InitOutput();
}

void StdoutCapture::Restore()
{
    if (m_fdSaved < 0)
        return;
    fflush(stdout);
    _dup2(m_fdSaved, 1);
    _close(m_fdSaved);
    s_fdReal = m_fdSaved = -1;
    setvbuf(stdout, NULL, _IONBF, 0);
}

std::string CaptureStdout(const std::function<void()> &fn)
{
    StdoutCapture capture(SinkFile);
    fn();
    capture.Restore();
    return capture.Reader().Collect();
}
