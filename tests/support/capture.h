// Where a report goes (a file, a pipe or a console) and how its text is read
// back; and this process's own stdout moved onto such a sink and set up as
// winprobe sets it up.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

enum Sink { SinkFile, SinkPipe, SinkConsole };
inline const char *SinkName(Sink sink)
{
    return sink == SinkFile ? "File" : sink == SinkPipe ? "Pipe" : "Console";
}

// Gives this process a console that can make screen buffers, once: Wine
// gives a program started without a terminal one that cannot. Its window,
// if it makes one, then comes before any test window.
void ReadyConsole();

// A sink and both of its ends, all closed (the file deleted) with it.
class SinkReader
{
  public:
    // The write end is inheritable where a child process is to write.
    SinkReader(Sink sink, bool fInheritable);
    ~SinkReader();
    // Neither moved nor (so) copied: it owns its ends.
    SinkReader &operator=(SinkReader &&) = delete;

    HANDLE WriteEnd() const { return m_hWrite; }
    HANDLE ReadEnd() const { return m_hRead; }
    // Once the writer holds its own copy, so that a pipe ends with it.
    void CloseWriteEnd() { CloseOnce(&m_hWrite); }
    // The write end, for the new owner to close.
    HANDLE TakeWriteEnd() { return std::exchange(m_hWrite, (HANDLE)NULL); }
    // The reader goes away.
    void CloseReadEnd() { CloseOnce(&m_hRead); }
    // Everything that has reached the sink so far.
    const std::string &Collect();
    const std::string &Text() const { return m_text; }

  private:
    static void CloseOnce(HANDLE *ph)
    {
        if (*ph != NULL && *ph != INVALID_HANDLE_VALUE)
            CloseHandle(*ph);
        *ph = NULL;
    }

    Sink m_sink;
    HANDLE m_hRead = NULL, m_hWrite = NULL;
    std::string m_text;
};

// This process's stdout on a new sink, in text mode and buffered as winprobe
// sets it up, until Restore or the end of this object's life.
class StdoutCapture
{
  public:
    explicit StdoutCapture(Sink sink);
    ~StdoutCapture() { Restore(); }

    // Flushes what stdout holds into the sink and puts stdout back.
    void Restore();
    SinkReader &Reader() { return m_reader; }
    // The stdout from before the capture that holds it now, or -1: where a
    // failure's text must go to be seen.
    static int RealStdout() { return s_fdReal; }

  private:
    SinkReader m_reader;
    int m_fdSaved = -1;
    inline static int s_fdReal = -1;
};

// What fn prints, with this process's stdout on a file.
std::string CaptureStdout(const std::function<void()> &fn);
