// winprobe.exe as a file: the program Windows is handed, whether or not it can
// run here. Checks the shipped 32-bit exe where WINPROBE_RELEASE_EXE names
// it, otherwise the exe under test, built for this program's architecture.
#include "peimage.h"
#include "probechild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace
{

std::string CheckedExe()
{
    const char *pszExe = getenv("WINPROBE_RELEASE_EXE");
    return pszExe ? pszExe : ProbePath();
}

bool CheckedIs64Bit()
{
    return getenv("WINPROBE_RELEASE_EXE") == NULL && sizeof(void *) == 8;
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

// Windows' own DLLs only, so that the exe runs with nothing beside it; a
// Visual Studio build has its C runtime linked in and needs no msvcrt.
TEST_F(ExeImage, ImportsOnlyWindowsOwnDlls)
{
    std::vector<std::string> dlls = ImportedDlls(m_image);
    for (std::string &dll : dlls)
        std::transform(dll.begin(), dll.end(), dll.begin(), ::toupper);
    std::sort(dlls.begin(), dlls.end());
    std::string listed;
    for (const std::string &dll : dlls) {
        listed += dll + " ";
        EXPECT_TRUE(dll == "KERNEL32.DLL" || dll == "USER32.DLL" || dll == "MSVCRT.DLL") << dll;
    }
    EXPECT_TRUE(std::binary_search(dlls.begin(), dlls.end(), "KERNEL32.DLL")) << listed;
    EXPECT_TRUE(std::binary_search(dlls.begin(), dlls.end(), "USER32.DLL")) << listed;
}

TEST_F(ExeImage, IsAtMost48KiB)
{
    EXPECT_LE(m_image.bytes.size(), 48u * 1024);
}

// Nothing of the machine it was built on: the same commit gives the same
// bytes in any folder.
TEST_F(ExeImage, HoldsNoBuildPath)
{
    std::string bytes(m_image.bytes.begin(), m_image.bytes.end());
    for (const char *pszDir : {WINPROBE_SOURCE_DIR, WINPROBE_BINARY_DIR})
        EXPECT_EQ(std::string::npos, bytes.find(pszDir)) << pszDir;
}

#ifdef WINPROBE_PE_TIME_STAMP
TEST_F(ExeImage, IsStampedWithTheCommitTime)
{
    EXPECT_EQ((DWORD)WINPROBE_PE_TIME_STAMP, m_image.dwTimeDateStamp);
}
#endif

// Per-monitor DPI awareness, so that positions and rectangles are the
// screen's pixels on a scaled display; Windows 7 to 11; no elevation; and
// no activeCodePage, so that titles stay in the system's ANSI code page.
// Under Wine only its presence can be checked, not its effect.
class Manifest : public ExeImage
{
  protected:
    void SetUp() override
    {
        ExeImage::SetUp();
        m_manifest = ResourceBytes(m_image, 24 /* RT_MANIFEST */, 1);
        ASSERT_NE("", m_manifest) << "no application manifest in " << m_path;
    }

    // The text of the element, with runs of blanks folded, or "" where the
    // element is not there in that namespace.
    std::string Element(const std::string &name, const std::string &xmlns)
    {
        std::regex element("<" + name + "\\s+xmlns=\"" + xmlns + "\"\\s*>([^<]*)</" + name + ">");
        std::smatch m;
        if (!std::regex_search(m_manifest, m, element))
            return "";
        return std::regex_replace(m[1].str(), std::regex("\\s+"), " ");
    }

    std::string m_manifest;
};

TEST_F(Manifest, DeclaresPerMonitorDpiAwareness)
{
    EXPECT_EQ("PerMonitorV2, PerMonitor",
              Element("dpiAwareness", "http://schemas.microsoft.com/SMI/2016/WindowsSettings"));
    EXPECT_EQ("true/pm",
              Element("dpiAware", "http://schemas.microsoft.com/SMI/2005/WindowsSettings"));
}

TEST_F(Manifest, SupportsWindows7To11)
{
    const char *const apszIds[] = {
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
    };
    for (const char *pszId : apszIds) {
        EXPECT_NE(std::string::npos,
                  m_manifest.find("<supportedOS Id=\"" + std::string(pszId) + "\"/>"))
            << pszId;
    }
}

TEST_F(Manifest, RunsAsInvokerInTheAnsiCodePage)
{
    EXPECT_TRUE(std::regex_search(
        m_manifest,
        std::regex("<requestedExecutionLevel\\s+level=\"asInvoker\"\\s+uiAccess=\"false\"")))
        << m_manifest;
    EXPECT_EQ(std::string::npos, m_manifest.find("<activeCodePage"));
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
