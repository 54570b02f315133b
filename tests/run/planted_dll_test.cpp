#include "helpers/harness.h"

#include <gtest/gtest.h>

namespace {

const wchar_t* const plantedNames[] = {
    L"version",        L"uxtheme",        L"dwmapi",      L"userenv",         L"cryptbase",
    L"libgcc_s_seh-1", L"libgcc_s_dw2-1", L"libstdc++-6", L"libwinpthread-1", L"shfolder",
    L"profapi",        L"propsys",        L"bcrypt",
};

// Wine takes its DLL overrides from the Linux environment it was started with, so the
// test command sets them for these tests: a DLL of each planted name beside a program
// is preferred to Wine's own, as Windows would take one it does not know.
void expectWineToPreferPlantedDlls()
{
    wchar_t overrides[4096] = {};
    GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
    const std::wstring text = overrides;
    for (const wchar_t* name : plantedNames)
        ASSERT_NE(text.find(name), std::wstring::npos) << "WINEDLLOVERRIDES lacks " << name;
}

} // namespace

TEST(PlantedDlls, NoneBesideTheExecutableIsEverLoaded)
{
    const Sandbox box = makeSandbox();
    const std::wstring canary = binDir() + L"\\canary.dll";
    // Wine's own user32 imports version.dll (Windows' does not), so Wine loads a planted
    // one beside the program before the program's first instruction; it is planted on
    // Windows only.
    const auto planted = [](const wchar_t* name) {
        return !runningUnderWine() || std::wstring(name) != L"version";
    };
    for (const wchar_t* name : plantedNames)
        if (planted(name))
            copyFile(canary, box.updateDir + L"\\" + name + L".dll");

    // The canary works: loaded, it leaves its mark.
    const std::wstring control = box.base + L"\\control.dll";
    copyFile(canary, control);
    HMODULE loaded = LoadLibraryW(control.c_str());
    ASSERT_NE(loaded, nullptr);
    FreeLibrary(loaded);
    ASSERT_TRUE(exists(control + L".loaded"));

    expectWineToPreferPlantedDlls();
    // Run as the launcher would, with a file to apply and a launcher to start.
    writeFile(box.updateDir + L"\\a.txt", "new");
    copyFile(binDir() + L"\\recorder.exe", box.root + L"\\Qorvath Launcher.exe");
    const RunResult run = runUpdater(box, inQuotes(box.root));

    EXPECT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_EQ(readFile(box.root + L"\\a.txt"), "new");
    // A mark left in the update folder would be applied like any file.
    for (const wchar_t* name : plantedNames)
        for (const std::wstring& folder : {box.updateDir, box.root})
            EXPECT_FALSE(exists(folder + L"\\" + name + L".dll.loaded")) << name;
}

namespace {

// Runs the probe from a folder that holds a planted shfolder.dll; gives whether the
// planted one was loaded.
bool plantedLoaded(const Sandbox& box, const wchar_t* mode)
{
    const std::wstring planted = box.base + L"\\shfolder.dll";
    const std::wstring probe = box.base + L"\\library_probe.exe";
    copyFile(binDir() + L"\\canary.dll", planted);
    copyFile(binDir() + L"\\library_probe.exe", probe);
    DeleteFileW((planted + L".loaded").c_str());

    const StartedProcess started =
        startProcess(probe, L"\"" + probe + L"\" " + mode + L" shfolder.dll", 0, box.base);
    if (!started.process)
        return false;
    exitCodeOf(started.process.get());
    return exists(planted + L".loaded");
}

} // namespace

// Nothing in a run of Updater.exe under Wine loads a library by name at run time, so
// the test above cannot fail there; this one shows that the search restriction the
// updater makes first is what keeps a planted DLL out.
TEST(PlantedDlls, RestrictedSearchTakesNoLibraryFromTheProgramsFolder)
{
    expectWineToPreferPlantedDlls();
    const Sandbox box = makeSandbox();
    EXPECT_TRUE(plantedLoaded(box, L"plain")) << "the planted DLL is not even found";
    EXPECT_FALSE(plantedLoaded(box, L"restricted"));
}
