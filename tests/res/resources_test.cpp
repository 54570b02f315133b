#include "helpers/harness.h"

#include <gtest/gtest.h>

TEST(Resources, ManifestRunsAsInvokerOnWindows7To11WithLongPathsSharpOnEveryMonitor)
{
    HMODULE module = LoadLibraryExW(updaterBuild().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    const std::string manifest(data, SizeofResource(module, resource));
    FreeLibrary(module);

    EXPECT_TRUE(contains(manifest, "level=\"asInvoker\""));
    EXPECT_FALSE(contains(manifest, "requireAdministrator"));
    for (const char* os : {"8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",  // 10 and 11
                           "1f676c76-80e1-4239-95bb-83d0f6d0da78",  // 8.1
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",  // 8
                           "35138b9a-5d96-4fbd-8e2d-a2440225f93a"}) // 7
        EXPECT_TRUE(contains(manifest, os)) << os;
    EXPECT_TRUE(contains(manifest, ">true</longPathAware>"));
    EXPECT_TRUE(contains(manifest, ">PerMonitorV2, PerMonitor</dpiAwareness>"));
    EXPECT_TRUE(contains(manifest, ">true/pm</dpiAware>"));
    // No side-by-side dependency: nothing is probed beside the executable.
    EXPECT_FALSE(contains(manifest, "dependentAssembly"));
}
