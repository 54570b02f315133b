#include "fs/fs_error.h"
#include "helpers/harness.h"

#include <gtest/gtest.h>

TEST(FileSystemError, MessageIsOperationAndSystemDescriptionOnOneLine)
{
    const std::string message = FileSystemError("rename", ERROR_PATH_NOT_FOUND, L"C:\\a").what();
    EXPECT_EQ(message, "rename: " + systemMessage(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << message;
    EXPECT_NE(message.back(), ' ');
}

// The log names the path of every failure but a move's or a removal's, whose "dest="
// line stands just before.
TEST(FileSystemError, LogShowsThePathOfEveryFailureButAMoveOrARemoval)
{
    const struct {
        const char* operation;
        const wchar_t* path;
        bool shown;
    } cases[] = {
        {operation::rename, L"C:\\a", false},         {operation::remove, L"C:\\a", false},
        {operation::weaklyCanonical, L"C:\\a", true}, {operation::signedList, L"C:\\a", true},
        {operation::listFolder, L"C:\\a", true},      {operation::weaklyCanonical, L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileSystemError(c.operation, ERROR_ACCESS_DENIED, c.path).pathShownInLog(),
                  c.shown)
            << c.operation << " " << testing::PrintToString(std::wstring(c.path));
}

TEST(FileSystemError, DescriptionComesFromTheSystemForEachCode)
{
    EXPECT_NE(systemMessage(ERROR_ACCESS_DENIED), systemMessage(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(systemMessage(ERROR_ACCESS_DENIED).find('\n'), std::string::npos);
    // A code the system has no text for still gives a readable line.
    EXPECT_FALSE(systemMessage(0x2FFFFFFF).empty());
}
