// winprobe: prints, once a second, which top-level window is under the mouse
// cursor. It reads no arguments and runs until it is stopped from outside.
#include "output.h"
#include "probe.h"

int main(int argc, char *argv[])
{
    (void)argc;
    (void)argv;
    InitOutput();
    RunProbe();
}
