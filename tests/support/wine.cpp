#include "support/wine.h"

#include <windows.h>

#include <stdlib.h>

std::string WineVersion()
{
    typedef const char *(CDECL * WINEGETVERSION)(void);
    WINEGETVERSION pfnGetVersion =
        (WINEGETVERSION)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version");
    return pfnGetVersion ? pfnGetVersion() : "";
}

int WineMajor()
{
    return atoi(WineVersion().c_str());
}
