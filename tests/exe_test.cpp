// winprobe.exe as a file: the program Windows is handed, whether or not it can
// run here. Checks the shipped 32-bit exe where WINPROBE_RELEASE_EXE names
// it, otherwise the exe under test, built for this program's architecture.
#include "peimage.h"
#include "probechild.h"

#include <gtest/gtest.h>

#include <algorithm>

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
