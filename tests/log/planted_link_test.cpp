#include "helpers/harness.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class PlantedLogLink : public SandboxTest {};

} // namespace

// A name planted where the log goes, leading to a file elsewhere that the user cannot
// write: the run completes and the file it leads to stays as it was (a dangling link's
// target is never made, which a truncating create would do wherever the link points, as
// administrator). Where a log is written it is a file of its own: a hard link is
// replaced; Windows opens a symbolic link itself and removes its name. Wine always
// follows a Linux link, even to delete it, so there the updater leaves such a name alone
// and runs without a log.
TEST_F(PlantedLogLink, NameLeadingElsewhereIsNeverWrittenThroughAndTheRunCompletes)
{
    const struct {
        const char* what;
        std::function<bool(const Sandbox&, const std::wstring& victim, std::string* why)> plant;
        bool dangling;
        bool logEverywhere; // else only where the platform opens a link itself
    } rows[] = {
        {"a hard link",
         [](const Sandbox& box, const std::wstring& victim, std::string* why) {
             *why = "no hard link";
             return CreateHardLinkW(box.log.c_str(), victim.c_str(), nullptr) != FALSE;
         },
         false, true},
        {"a symbolic link",
         [](const Sandbox& box, const std::wstring& victim, std::string* why) {
             return makeFileLink(victim, box.log, why);
         },
         false, false},
        {"a symbolic link whose target is gone",
         [](const Sandbox& box, const std::wstring& victim, std::string* why) {
             return makeFileLink(victim, box.log, why) && DeleteFileW(victim.c_str());
         },
         true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Sandbox& box = nextRowSandbox();
        const std::wstring victim = box.base + L"\\victim.txt";
        const std::string content = "a file elsewhere that the user cannot write";
        writeFile(victim, content);
        std::string why;
        if (rowLeftOut(row.plant(box, victim, &why), why))
            continue;
        if (!row.dangling) {
            ASSERT_EQ(readFile(box.log), content) << "the name leads elsewhere";
        }
        writeFile(box.updateDir + L"\\a.txt", "new");
        const RunResult run = runUpdater(box, inQuotes(box.root));
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(readFile(box.root + L"\\a.txt"), "new");
        EXPECT_EQ(readFile(victim), row.dangling ? "<missing>" : content);
        if (!row.logEverywhere && runningUnderWine())
            continue;
        EXPECT_TRUE(startsWith(run.log, "targetDir = "));
        EXPECT_TRUE(endsWith(run.log, runEndLines(box)));
        const UniqueFileHandle log(CreateFileW(box.log.c_str(), 0, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                               nullptr));
        BY_HANDLE_FILE_INFORMATION info = {};
        ASSERT_TRUE(log && GetFileInformationByHandle(log.get(), &info));
        EXPECT_EQ(info.nNumberOfLinks, 1u);
        EXPECT_EQ(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    }
}
