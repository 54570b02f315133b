#include "update/placement.h"

#include <gtest/gtest.h>

#include <string>

// Where a file may land, on final paths (as the file system gives them, one letter case
// for one folder): root C:\R, update folder C:\R\resources\update.
TEST(Placement, FilesLandBelowTheRootAndNeverOverTheUpdate)
{
    const struct {
        const wchar_t* dest;
        const wchar_t* updateFile;
        const char* refusal; // null: it may land
    } cases[] = {
        {L"C:\\R\\bin\\x.dll", L"C:\\R\\resources\\update\\bin\\x.dll", nullptr},
        {L"C:\\Rx\\x.dll", L"C:\\R\\resources\\update\\x.dll", "Outside of target, ignore it"},
        {L"C:\\R", L"C:\\R\\resources\\update\\x.dll", "Outside of target, ignore it"},
        {L"D:\\R\\x.dll", L"C:\\R\\resources\\update\\x.dll", "Outside of target, ignore it"},
        {L"C:\\R\\a.txt", L"c:\\r\\A.TXT", "Same file, ignore it"},
        {L"C:\\R\\resources\\update", L"C:\\R\\resources\\update\\update",
         "Inside the update folder, ignore it"},
        {L"C:\\R\\resources\\update\\x\\y.dll", L"C:\\R\\resources\\update\\y.dll",
         "Inside the update folder, ignore it"},
        {L"C:\\R\\resources\\updater.dll", L"C:\\R\\resources\\update\\updater.dll", nullptr},
    };
    for (const auto& c : cases) {
        const char* refusal =
            refusalOf({c.dest, L"C:\\R", c.updateFile, L"C:\\R\\resources\\update"});
        const std::string got = refusal ? refusal : "(lands)";
        const std::string expected = c.refusal ? c.refusal : "(lands)";
        EXPECT_EQ(got, expected) << c.dest << L" from " << c.updateFile;
    }
}
