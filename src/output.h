// Standard output as the report writes it: CR LF line ends, buffering chosen
// from what stdout is, and every finished line kept when the console stops us.
#pragma once

// Puts stdout in text mode, makes it unbuffered on a console or other
// character device and fully buffered in one 512-byte block otherwise, and
// flushes it when a console control event ends the process.
void InitOutput(void);

// Formats one line and hands it to stdout in a single write.
void PrintLine(const char *pszFormat, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
