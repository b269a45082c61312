// An exe read as a file, for either architecture whatever this process is:
// its headers, the DLLs it imports and its resources.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct PeImage {
    std::vector<BYTE> bytes;
    WORD wMachine = 0; // IMAGE_FILE_MACHINE_I386 or _AMD64
    DWORD dwTimeDateStamp = 0;
    WORD wMagic = 0;     // IMAGE_NT_OPTIONAL_HDR32_MAGIC or _HDR64_MAGIC
    WORD wSubsystem = 0; // IMAGE_SUBSYSTEM_WINDOWS_CUI for a console program
    IMAGE_DATA_DIRECTORY imports = {};
    IMAGE_DATA_DIRECTORY resources = {};
    std::vector<IMAGE_SECTION_HEADER> sections;
};

// Reads and checks the headers; false where the file is no PE image.
bool ReadPeImage(const std::string &path, PeImage *pImage);

// The DLLs the image imports, as its import directory names them.
std::vector<std::string> ImportedDlls(const PeImage &image);

// The bytes of a resource by type and numeric id, in its first language;
// empty where the image has none.
std::string ResourceBytes(const PeImage &image, WORD wType, WORD wId);
