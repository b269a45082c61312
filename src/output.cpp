#include "output.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>

// Long enough for the longest report line: a label and 259 characters of text.
#define CCH_LINE_MAX 320

static char s_achStdoutBlock[512];

// Runs on a thread of its own when Ctrl+C, Ctrl+Break or closing the console
// stops the process: the lines finished so far reach the file or pipe, and
// FALSE passes the event on to the default handler, which ends the process
// with the status a stopped console program has, so scripts see the stop.
// fflush takes the stream's lock, so a line the main thread is writing goes
// out whole.
static BOOL WINAPI FlushOnConsoleStop(DWORD dwCtrlType)
{
    (void)dwCtrlType;
    fflush(stdout);
    return FALSE;
}

void InitOutput(void)
{
    int fd = _fileno(stdout);
    HANDLE hStdout = (HANDLE)_get_osfhandle(fd);

    _setmode(fd, _O_TEXT);
    if (GetFileType(hStdout) == FILE_TYPE_CHAR)
        setvbuf(stdout, NULL, _IONBF, 0);
    else
        setvbuf(stdout, s_achStdoutBlock, _IOFBF, sizeof s_achStdoutBlock);
    SetConsoleCtrlHandler(FlushOnConsoleStop, TRUE);
}

// fwrite keeps to the stream's buffer on every C runtime; some runtimes'
// printf writes a buffered stream out at each line feed.
void PrintLine(const char *pszFormat, ...)
{
    char szLine[CCH_LINE_MAX];
    va_list args;
    int cch;

    va_start(args, pszFormat);
    cch = vsnprintf(szLine, sizeof szLine, pszFormat, args);
    va_end(args);
    if (cch < 0 || cch >= (int)sizeof szLine)
        cch = (int)sizeof szLine - 1;
    fwrite(szLine, 1, (size_t)cch, stdout);
}
