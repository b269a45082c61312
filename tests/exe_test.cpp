// winprobe.exe as a file: the program Windows is handed, whether or not it can
// run here. Checks the shipped 32-bit exe where WINPROBE_RELEASE_EXE names
// it, otherwise the exe under test, built for this program's architecture.
#include "support/child.h"

#include <gtest/gtest.h>
#include <imagehlp.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>

namespace
{

// An exe read as a file, for either architecture whatever this program is,
// through the platform's own image functions.
struct PeImage {
    std::string bytes;
    WORD wMachine = 0; // IMAGE_FILE_MACHINE_I386 or _AMD64
    DWORD dwTimeDateStamp = 0;
    WORD wMagic = 0;               // IMAGE_NT_OPTIONAL_HDR32_MAGIC or _HDR64_MAGIC
    WORD wSubsystem = 0;           // IMAGE_SUBSYSTEM_WINDOWS_CUI for a console program
    std::vector<std::string> dlls; // as its import directory names them
    std::string manifest;          // "" where it has none
};

// The manifest as the loader finds it, from an image of either architecture.
std::string ManifestOf(const std::string &path)
{
    HMODULE hModule = LoadLibraryExA(path.c_str(), NULL,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC hResource = hModule ? FindResourceA(hModule, MAKEINTRESOURCEA(1), RT_MANIFEST) : NULL;
    HGLOBAL hData = hResource ? LoadResource(hModule, hResource) : NULL;
    std::string manifest;
    if (hData != NULL)
        manifest.assign((const char *)LockResource(hData), SizeofResource(hModule, hResource));
    if (hModule != NULL)
        FreeLibrary(hModule);
    return manifest;
}

// False where the file cannot be read or is no PE image.
bool ReadPeImage(const std::string &path, PeImage *pImage)
{
    *pImage = PeImage();
    std::ifstream file(path, std::ios::binary);
    pImage->bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    // The file as it lies on disk, not mapped as an image.
    void *pvBase = &pImage->bytes[0];
    PIMAGE_NT_HEADERS pNt =
        pImage->bytes.size() < sizeof(IMAGE_DOS_HEADER) ? NULL : ImageNtHeader(pvBase);
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

std::string CheckedExe()
{
    const char *pszExe = getenv("WINPROBE_RELEASE_EXE");
    return pszExe ? pszExe : ProbePath();
}

// What each toolchain promises of the exe it links: the DLLs it may import
// (besides KERNEL32 and USER32, which every build imports) and its largest
// size. The shipped exe is the MinGW-w64 i686 one, on Windows' own msvcrt.
// MSYS2's UCRT64 and Visual Studio (the hybrid CRT: its own support code
// linked in, the C library from Windows) import the Universal CRT, a part
// of Windows 10 and 11, through its api-ms-win-crt-* DLLs.
struct ToolchainPromise {
    const char *pszName;
    std::vector<std::string> crtImports; // DLL names, or prefixes ending in '*'
    size_t cbMax;
};

const ToolchainPromise kMingwMsvcrt = {"MinGW-w64 on msvcrt", {"MSVCRT.DLL"}, 48 * 1024};
const ToolchainPromise kMingwUcrt = {
    "MinGW-w64 on the UCRT", {"API-MS-WIN-CRT-*", "UCRTBASE.DLL"}, 64 * 1024};
const ToolchainPromise kMsvcHybridCrt = {
    "Visual Studio, hybrid CRT", {"API-MS-WIN-CRT-*", "UCRTBASE.DLL"}, 64 * 1024};

// The exe under test was linked by the toolchain that built this program;
// the shipped exe always by the product's.
const ToolchainPromise &CheckedPromise()
{
    if (getenv("WINPROBE_RELEASE_EXE"))
        return kMingwMsvcrt;
#if defined(_MSC_VER)
    return kMsvcHybridCrt;
#elif defined(_UCRT)
    return kMingwUcrt;
#else
    return kMingwMsvcrt;
#endif
}

bool CheckedIs64Bit()
{
    return getenv("WINPROBE_RELEASE_EXE") == NULL && sizeof(void *) == 8;
}

std::string UpperCase(std::string text)
{
    for (char &ch : text)
        ch = (char)toupper((unsigned char)ch);
    return text;
}

bool IsAllowedImport(const std::string &dll, const ToolchainPromise &promise)
{
    if (dll == "KERNEL32.DLL" || dll == "USER32.DLL")
        return true;
    for (const std::string &allowed : promise.crtImports) {
        if (allowed.back() == '*'
                ? dll.compare(0, allowed.size() - 1, allowed, 0, allowed.size() - 1) == 0
                : dll == allowed)
            return true;
    }
    return false;
}

class ExeImage : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_path = CheckedExe();
        ASSERT_TRUE(ReadPeImage(m_path, &m_image)) << m_path << " is no PE image";
    }

    std::string m_path;
    PeImage m_image;
};

TEST_F(ExeImage, IsAConsoleProgramForItsArchitecture)
{
    if (CheckedIs64Bit()) {
        EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, m_image.wMachine);
        EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, m_image.wMagic) << "PE32+";
    } else {
        EXPECT_EQ(IMAGE_FILE_MACHINE_I386, m_image.wMachine);
        EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, m_image.wMagic) << "PE32";
    }
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_CUI, m_image.wSubsystem);
}

// Windows' own DLLs only, so that the exe runs with nothing beside it.
TEST_F(ExeImage, ImportsOnlyWindowsOwnDlls)
{
    const ToolchainPromise &promise = CheckedPromise();
    std::vector<std::string> dlls;
    std::string listed;
    for (const std::string &dll : m_image.dlls) {
        dlls.push_back(UpperCase(dll));
        listed += dlls.back() + " ";
    }
    std::sort(dlls.begin(), dlls.end());
    for (const std::string &dll : dlls)
        EXPECT_TRUE(IsAllowedImport(dll, promise)) << dll << " is not " << promise.pszName << "'s";
    EXPECT_TRUE(std::binary_search(dlls.begin(), dlls.end(), "KERNEL32.DLL")) << listed;
    EXPECT_TRUE(std::binary_search(dlls.begin(), dlls.end(), "USER32.DLL")) << listed;
}

TEST_F(ExeImage, IsNoLargerThanItsToolchainPromises)
{
    const ToolchainPromise &promise = CheckedPromise();
    EXPECT_LE(m_image.bytes.size(), promise.cbMax) << promise.pszName;
}

// Nothing of the machine it was built on: the same commit gives the same
// bytes in any folder.
TEST_F(ExeImage, HoldsNoBuildPath)
{
    for (const char *pszDir : {WINPROBE_SOURCE_DIR, WINPROBE_BINARY_DIR})
        EXPECT_EQ(std::string::npos, m_image.bytes.find(pszDir)) << pszDir;
}

#ifdef WINPROBE_PE_TIME_STAMP
TEST_F(ExeImage, IsStampedWithTheCommitTime)
{
    EXPECT_EQ((DWORD)WINPROBE_PE_TIME_STAMP, m_image.dwTimeDateStamp);
}
#endif

// A manifest element as a tool may have written it: with or without a
// namespace prefix, and an empty one as <a/> or as <a></a> (Microsoft's
// manifest tool writes the second).
struct ManifestElement {
    std::string prefix, attributes, text;
};

std::vector<ManifestElement> ManifestElements(const std::string &manifest,
                                              const std::string &localName)
{
    const std::string name = "(?:[A-Za-z_][\\w.-]*:)?" + localName;
    const std::regex element("<(?:([A-Za-z_][\\w.-]*):)?" + localName +
                             "((?:\\s[^>]*?)?)\\s*(?:/>|>([^<]*)</" + name + "\\s*>)");
    std::vector<ManifestElement> elements;
    for (auto it = std::sregex_iterator(manifest.begin(), manifest.end(), element);
         it != std::sregex_iterator(); ++it) {
        std::string text = std::regex_replace((*it)[3].str(), std::regex("\\s+"), " ");
        text = std::regex_replace(text, std::regex("^ | $"), "");
        elements.push_back({(*it)[1].str(), (*it)[2].str(), text});
    }
    return elements;
}

// The attribute's value, or "" where the element has none.
std::string Attribute(const ManifestElement &element, const std::string &name)
{
    std::smatch m;
    if (!std::regex_search(element.attributes, m,
                           std::regex("(?:^|\\s)" + name + "\\s*=\\s*\"([^\"]*)\"")))
        return "";
    return m[1].str();
}

// The text of the one element of that name that declares the namespace for
// itself, as the DPI settings must; "(none)" or "(several)" otherwise.
std::string ElementText(const std::string &manifest, const std::string &localName,
                        const std::string &xmlns)
{
    std::vector<std::string> texts;
    for (const ManifestElement &element : ManifestElements(manifest, localName)) {
        std::string declared = element.prefix.empty() ? "xmlns" : "xmlns:" + element.prefix;
        if (Attribute(element, declared) == xmlns)
            texts.push_back(element.text);
    }
    if (texts.size() != 1)
        return texts.empty() ? "(none)" : "(several)";
    return texts[0];
}

const char kDpiAwarenessNs[] = "http://schemas.microsoft.com/SMI/2016/WindowsSettings";
const char kDpiAwareNs[] = "http://schemas.microsoft.com/SMI/2005/WindowsSettings";

TEST(ManifestReader, FindsAnElementInEveryFormAToolWrites)
{
    const struct {
        const char *pszXml;
        const char *pszId; // of the first supportedOS, or "" for none
        const char *pszDpiAware;
    } cases[] = {
        {"<supportedOS Id=\"{a}\"/>", "{a}", "(none)"},
        {"<supportedOS Id=\"{a}\" />", "{a}", "(none)"},
        {"<supportedOS Id=\"{a}\"></supportedOS>", "{a}", "(none)"},
        {"<x:supportedOS Id=\"{a}\"></x:supportedOS>", "{a}", "(none)"},
        {"<supportedOSX Id=\"{a}\"/>", "", "(none)"},
        {"<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">\n true/pm "
         "</dpiAware>",
         "", "true/pm"},
        {"<ws:dpiAware xmlns:ws=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">"
         "true/pm</ws:dpiAware>",
         "", "true/pm"},
        {"<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
         "true/pm</dpiAware>",
         "", "(none)"},
        {"<dpiAware>true/pm</dpiAware>", "", "(none)"},
    };
    for (const auto &c : cases) {
        std::vector<ManifestElement> os = ManifestElements(c.pszXml, "supportedOS");
        EXPECT_EQ(c.pszId, os.empty() ? "" : Attribute(os[0], "Id")) << c.pszXml;
        EXPECT_EQ(c.pszDpiAware, ElementText(c.pszXml, "dpiAware", kDpiAwareNs)) << c.pszXml;
    }
}

// Per-monitor DPI awareness, so that positions and rectangles are the
// screen's pixels on a scaled display; Windows 10 and 11; no elevation; and
// no activeCodePage, so that titles stay in the system's ANSI code page.
// Under Wine only its presence can be checked, not its effect.
class Manifest : public ExeImage
{
  protected:
    void SetUp() override
    {
        ExeImage::SetUp();
        m_manifest = m_image.manifest;
        ASSERT_NE("", m_manifest) << "no application manifest in " << m_path;
    }

    std::string m_manifest;
};

TEST_F(Manifest, DeclaresPerMonitorDpiAwareness)
{
    EXPECT_EQ("PerMonitorV2, PerMonitor", ElementText(m_manifest, "dpiAwareness", kDpiAwarenessNs))
        << m_manifest;
    EXPECT_EQ("true/pm", ElementText(m_manifest, "dpiAware", kDpiAwareNs)) << m_manifest;
}

// Windows 10 and 11 and nothing older: what the read-mes and the winget
// manifest promise, and all that per-monitor awareness is declared for.
TEST_F(Manifest, DeclaresWindows10And11Only)
{
    std::vector<std::string> ids;
    for (const ManifestElement &element : ManifestElements(m_manifest, "supportedOS"))
        ids.push_back(Attribute(element, "Id"));
    const std::vector<std::string> expected = {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"};
    EXPECT_EQ(expected, ids) << m_manifest;
}

TEST_F(Manifest, RunsAsInvokerInTheAnsiCodePage)
{
    std::vector<ManifestElement> levels = ManifestElements(m_manifest, "requestedExecutionLevel");
    ASSERT_EQ(1u, levels.size()) << m_manifest;
    EXPECT_EQ("asInvoker", Attribute(levels[0], "level"));
    EXPECT_EQ("false", Attribute(levels[0], "uiAccess"));
    EXPECT_EQ(0u, ManifestElements(m_manifest, "activeCodePage").size()) << m_manifest;
}

// A test program that compares positions and rectangles with the probe's
// must read them in the same DPI awareness: on a scaled display an unaware
// one would read scaled values.
TEST(TestProgramManifest, DeclaresTheProbesDpiAwareness)
{
    std::string path = ProgramPath("winprobe_e2e_tests.exe");
    PeImage image;
    ASSERT_TRUE(ReadPeImage(path, &image)) << path;
    const std::string &manifest = image.manifest;
    EXPECT_EQ("PerMonitorV2, PerMonitor", ElementText(manifest, "dpiAwareness", kDpiAwarenessNs))
        << path << "\n"
        << manifest;
    EXPECT_EQ("true/pm", ElementText(manifest, "dpiAware", kDpiAwareNs)) << path;
}

TEST(VersionResource, NamesTheProductAndItsVersion)
{
    std::string path = CheckedExe();
    DWORD dwHandle = 0;
    std::vector<char> info(GetFileVersionInfoSizeA(path.c_str(), &dwHandle));
    ASSERT_FALSE(info.empty()) << path;
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, (DWORD)info.size(), info.data()));

    auto value = [&](const char *pszName) {
        char *psz = NULL;
        UINT cch = 0;
        std::string key = std::string("\\StringFileInfo\\040904B0\\") + pszName;
        VerQueryValueA(info.data(), key.c_str(), (void **)&psz, &cch);
        return std::string(psz ? psz : "");
    };
    EXPECT_EQ("winprobe", value("ProductName"));
    EXPECT_EQ("winprobe.exe", value("OriginalFilename"));
    EXPECT_EQ(WINPROBE_VERSION, value("ProductVersion"));
    EXPECT_EQ(WINPROBE_VERSION, value("FileVersion"));
    EXPECT_NE("", value("FileDescription"));

    VS_FIXEDFILEINFO *pFixed = NULL;
    UINT cb = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&pFixed, &cb));
    char szFixed[32];
    snprintf(szFixed, sizeof szFixed, "%u.%u.%u", (unsigned)HIWORD(pFixed->dwFileVersionMS),
             (unsigned)LOWORD(pFixed->dwFileVersionMS), (unsigned)HIWORD(pFixed->dwFileVersionLS));
    EXPECT_EQ(WINPROBE_VERSION, std::string(szFixed));
}

} // namespace
