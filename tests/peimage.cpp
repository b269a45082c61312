#include "peimage.h"

#include <stdio.h>
#include <string.h>

// Copies a structure out of the file, or fails where it would run past it.
template <typename T> static bool ReadAt(const std::vector<BYTE> &bytes, size_t ib, T *pValue)
{
    if (ib > bytes.size() || bytes.size() - ib < sizeof(T))
        return false;
    memcpy(pValue, bytes.data() + ib, sizeof(T));
    return true;
}

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

// The optional header's fields that differ in place between PE32 and PE32+.
template <typename Optional>
static bool ReadOptional(const PeImage &image, size_t ib, WORD *pwSubsystem,
                         IMAGE_DATA_DIRECTORY *pImports, IMAGE_DATA_DIRECTORY *pResources)
{
    Optional opt;
    if (!ReadAt(image.bytes, ib, &opt))
        return false;
    *pwSubsystem = opt.Subsystem;
    if (opt.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_RESOURCE) {
        *pImports = opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        *pResources = opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    }
    return true;
}

bool ReadPeImage(const std::string &path, PeImage *pImage)
{
    *pImage = PeImage();
    pImage->bytes = ReadWholeFile(path);
    IMAGE_DOS_HEADER dos;
    DWORD dwSignature;
    IMAGE_FILE_HEADER file;
    const std::vector<BYTE> &bytes = pImage->bytes;
    if (!ReadAt(bytes, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    size_t ibNt = (size_t)dos.e_lfanew;
    if (!ReadAt(bytes, ibNt, &dwSignature) || dwSignature != IMAGE_NT_SIGNATURE ||
        !ReadAt(bytes, ibNt + 4, &file))
        return false;
    pImage->wMachine = file.Machine;
    pImage->dwTimeDateStamp = file.TimeDateStamp;

    size_t ibOptional = ibNt + 4 + sizeof file;
    if (!ReadAt(bytes, ibOptional, &pImage->wMagic))
        return false;
    bool fRead = false;
    if (pImage->wMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        fRead = ReadOptional<IMAGE_OPTIONAL_HEADER32>(*pImage, ibOptional, &pImage->wSubsystem,
                                                      &pImage->imports, &pImage->resources);
    else if (pImage->wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        fRead = ReadOptional<IMAGE_OPTIONAL_HEADER64>(*pImage, ibOptional, &pImage->wSubsystem,
                                                      &pImage->imports, &pImage->resources);
    if (!fRead)
        return false;

    size_t ibSection = ibOptional + file.SizeOfOptionalHeader;
    for (WORD i = 0; i < file.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section;
        if (!ReadAt(bytes, ibSection + i * sizeof section, &section))
            return false;
        pImage->sections.push_back(section);
    }
    return true;
}

// Where an address inside the loaded image lies in the file; 0 where no
// section holds it.
static size_t FileOffset(const PeImage &image, DWORD rva)
{
    for (const IMAGE_SECTION_HEADER &s : image.sections) {
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData)
            return rva - s.VirtualAddress + s.PointerToRawData;
    }
    return 0;
}

static std::string StringAt(const PeImage &image, DWORD rva)
{
    size_t ib = FileOffset(image, rva);
    std::string text;
    while (ib != 0 && ib < image.bytes.size() && image.bytes[ib] != 0)
        text += (char)image.bytes[ib++];
    return text;
}

std::vector<std::string> ImportedDlls(const PeImage &image)
{
    std::vector<std::string> dlls;
    size_t ib = FileOffset(image, image.imports.VirtualAddress);
    IMAGE_IMPORT_DESCRIPTOR desc;
    for (; ib != 0 && ReadAt(image.bytes, ib, &desc) && desc.Name != 0; ib += sizeof desc)
        dlls.push_back(StringAt(image, desc.Name));
    return dlls;
}

// The entry of a resource directory with the given id: its offset from the
// start of the resources, with the subdirectory bit; 0 where there is none.
// wId 0 takes the first entry.
static DWORD ResourceEntry(const PeImage &image, size_t ibResources, DWORD ibDirectory, WORD wId)
{
    IMAGE_RESOURCE_DIRECTORY dir;
    if (!ReadAt(image.bytes, ibResources + ibDirectory, &dir))
        return 0;
    size_t ibEntry = ibResources + ibDirectory + sizeof dir;
    for (int i = 0; i < dir.NumberOfNamedEntries + dir.NumberOfIdEntries; ++i) {
        IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
        if (!ReadAt(image.bytes, ibEntry + i * sizeof entry, &entry))
            return 0;
        if (wId == 0 || (!entry.NameIsString && entry.Id == wId))
            return entry.OffsetToData;
    }
    return 0;
}

std::string ResourceBytes(const PeImage &image, WORD wType, WORD wId)
{
    size_t ibResources = FileOffset(image, image.resources.VirtualAddress);
    if (ibResources == 0)
        return "";
    // Type, then id, then language: two subdirectories, then the data.
    DWORD dwEntry = 0;
    const WORD awPath[] = {wType, wId, 0};
    for (WORD wStep : awPath) {
        if (dwEntry != 0 && !(dwEntry & IMAGE_RESOURCE_DATA_IS_DIRECTORY))
            return "";
        dwEntry =
            ResourceEntry(image, ibResources, dwEntry & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY, wStep);
        if (dwEntry == 0)
            return "";
    }
    IMAGE_RESOURCE_DATA_ENTRY data;
    if ((dwEntry & IMAGE_RESOURCE_DATA_IS_DIRECTORY) ||
        !ReadAt(image.bytes, ibResources + dwEntry, &data))
        return "";
    size_t ib = FileOffset(image, data.OffsetToData);
    if (ib == 0 || ib + data.Size > image.bytes.size())
        return "";
    return std::string((const char *)image.bytes.data() + ib, data.Size);
}
