#include "support/peimage.h"

#include <imagehlp.h>
#include <stdio.h>

static std::vector<BYTE> ReadWholeFile(const std::string &path)
{
    std::vector<BYTE> bytes;
    FILE *pf = fopen(path.c_str(), "rb");
    if (pf == NULL)
        return bytes;
    BYTE buf[4096];
    size_t cb;
    while ((cb = fread(buf, 1, sizeof buf, pf)) > 0)
        bytes.insert(bytes.end(), buf, buf + cb);
    fclose(pf);
    return bytes;
}

// The manifest as the loader finds it, from an image of either architecture.
static std::string ManifestOf(const std::string &path)
{
    HMODULE hModule = LoadLibraryExA(path.c_str(), NULL,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (hModule == NULL)
        return "";
    std::string manifest;
    HRSRC hResource = FindResourceA(hModule, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    HGLOBAL hData = hResource ? LoadResource(hModule, hResource) : NULL;
    if (hData != NULL)
        manifest.assign((const char *)LockResource(hData), SizeofResource(hModule, hResource));
    FreeLibrary(hModule);
    return manifest;
}

bool ReadPeImage(const std::string &path, PeImage *pImage)
{
    *pImage = PeImage();
    pImage->bytes = ReadWholeFile(path);
    if (pImage->bytes.size() < sizeof(IMAGE_DOS_HEADER))
        return false;
    // The file as it lies on disk, not mapped as an image.
    void *pvBase = pImage->bytes.data();
    PIMAGE_NT_HEADERS pNt = ImageNtHeader(pvBase);
    if (pNt == NULL)
        return false;
    pImage->wMachine = pNt->FileHeader.Machine;
    pImage->dwTimeDateStamp = pNt->FileHeader.TimeDateStamp;
    // Magic leads both optional headers; the subsystem's place differs.
    pImage->wMagic = pNt->OptionalHeader.Magic;
    if (pImage->wMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        pImage->wSubsystem = ((PIMAGE_NT_HEADERS32)pNt)->OptionalHeader.Subsystem;
    else if (pImage->wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        pImage->wSubsystem = ((PIMAGE_NT_HEADERS64)pNt)->OptionalHeader.Subsystem;
    else
        return false;

    ULONG cb = 0;
    auto pImport = (PIMAGE_IMPORT_DESCRIPTOR)ImageDirectoryEntryToDataEx(
        pvBase, FALSE, IMAGE_DIRECTORY_ENTRY_IMPORT, &cb, NULL);
    for (; pImport != NULL && pImport->Name != 0; ++pImport) {
        const char *pszDll = (const char *)ImageRvaToVa(pNt, pvBase, pImport->Name, NULL);
        pImage->dlls.push_back(pszDll ? pszDll : "");
    }
    pImage->manifest = ManifestOf(path);
    return true;
}
