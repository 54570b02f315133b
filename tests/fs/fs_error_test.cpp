#include "fs/fs_error.h"
#include "helpers/harness.h"

#include <gtest/gtest.h>

TEST(FileSystemError, MessageIsOperationAndSystemDescriptionOnOneLine)
{
    const FileSystemError error("rename", ERROR_PATH_NOT_FOUND, L"C:\\a");
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("rename: ", 0), 0u) << message;
    EXPECT_GT(message.size(), std::string("rename: ").size());
    EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << message;
    EXPECT_NE(message.back(), ' ');
    // The path travels with the error but stays out of its message.
    EXPECT_FALSE(contains(message, "C:\\a"));
    EXPECT_EQ(error.code(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(error.operation(), "rename");
    EXPECT_EQ(error.path(), L"C:\\a");
}

TEST(FileSystemError, DescriptionComesFromTheSystemForEachCode)
{
    EXPECT_NE(systemMessage(ERROR_ACCESS_DENIED), systemMessage(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(systemMessage(ERROR_ACCESS_DENIED).find('\n'), std::string::npos);
    // A code the system has no text for still gives a readable line.
    EXPECT_FALSE(systemMessage(0x2FFFFFFF).empty());
}
