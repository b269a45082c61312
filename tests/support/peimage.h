// An exe read as a file, for either architecture whatever this process is,
// through the platform's own image functions: its headers, the DLLs it
// imports and its application manifest.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct PeImage {
    std::vector<BYTE> bytes;
    WORD wMachine = 0; // IMAGE_FILE_MACHINE_I386 or _AMD64
    DWORD dwTimeDateStamp = 0;
    WORD wMagic = 0;               // IMAGE_NT_OPTIONAL_HDR32_MAGIC or _HDR64_MAGIC
    WORD wSubsystem = 0;           // IMAGE_SUBSYSTEM_WINDOWS_CUI for a console program
    std::vector<std::string> dlls; // as its import directory names them
    std::string manifest;          // "" where it has none
};

// False where the file cannot be read or is no PE image.
bool ReadPeImage(const std::string &path, PeImage *pImage);
