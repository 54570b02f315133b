#include "helpers/harness.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::wstring versionString(const std::vector<BYTE>& block, const wchar_t* name)
{
    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &size) ||
        size < sizeof(Translation))
        return L"<no translation>";
    wchar_t query[128];
    swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
             translation->codePage, name);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &size))
        return L"<missing>";
    return value;
}

} // namespace

TEST(Resources, VersionBlockNamesTheProductAndVersion)
{
    const std::wstring exe = updaterBuild();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));

    EXPECT_EQ(versionString(block, L"FileDescription"), L"Qorvath Launcher Updater");
    EXPECT_EQ(versionString(block, L"ProductName"), L"Qorvath Launcher Updater");
    EXPECT_EQ(versionString(block, L"FileVersion"), L"1.0.0.0");
    EXPECT_EQ(versionString(block, L"ProductVersion"), L"1.0.0.0");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
}

TEST(Resources, ManifestRunsAsInvokerOnWindows7To11WithLongPaths)
{
    HMODULE module = LoadLibraryExW(updaterBuild().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    const std::string manifest(data, SizeofResource(module, resource));
    FreeLibrary(module);

    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
    for (const char* os : {"8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",  // 10 and 11
                           "1f676c76-80e1-4239-95bb-83d0f6d0da78",  // 8.1
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",  // 8
                           "35138b9a-5d96-4fbd-8e2d-a2440225f93a"}) // 7
        EXPECT_NE(manifest.find(os), std::string::npos) << os;
    EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos);
    // No side-by-side dependency: nothing is probed beside the executable.
    EXPECT_EQ(manifest.find("dependentAssembly"), std::string::npos);
}
