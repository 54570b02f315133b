#include "fs/path_text.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const wchar_t* a;
    const wchar_t* b;
    const wchar_t* expected;
};

} // namespace

TEST(PathAlgebra, StemOfAFileName)
{
    const Case cases[] = {
        {L"Updater.exe", nullptr, L"Updater"},
        {L"Updater.log", nullptr, L"Updater"},
        {L"Updater", nullptr, L"Updater"},
        {L"Updater.", nullptr, L"Updater"},
        {L".Updater", nullptr, L".Updater"},
        {L"Updater.tar.gz", nullptr, L"Updater.tar"},
        {L"updater.exe", nullptr, L"updater"},
        {L".", nullptr, L"."},
        {L"..", nullptr, L".."},
        {L"a..", nullptr, L"a."},
        {L"..b", nullptr, L"."},
        {L"x", nullptr, L"x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fileStem(c.a), c.expected) << c.a;
}

TEST(PathAlgebra, FileNameIsTheLastElement)
{
    EXPECT_EQ(fileName(L"C:\\a\\b.txt"), L"b.txt");
    EXPECT_EQ(fileName(L"C:/a/b"), L"b");
    EXPECT_EQ(fileName(L"C:b"), L"b");
    EXPECT_EQ(fileName(L"C:\\a\\"), L"");
    EXPECT_EQ(fileName(L"name"), L"name");
}

TEST(PathAlgebra, PlainAppendOfAName)
{
    const Case cases[] = {
        {L"d:", L"x", L"d:x"},
        {L"1:", L"x", L"1:\\x"},
        {L"C:\\R", L"bin\\x.dll", L"C:\\R\\bin\\x.dll"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(appendPath(c.a, c.b), c.expected) << c.a << L" + " << c.b;
}

// A final path and its verbatim form, both ways: the names exactly as they stand.
TEST(PathAlgebra, VerbatimFormOfAFinalPathAndBack)
{
    const Case cases[] = {
        {L"C:\\a.\\...\\b ", L"", L"\\\\?\\C:\\a.\\...\\b "},
        {L"\\\\server\\share\\a.", L"", L"\\\\?\\UNC\\server\\share\\a."},
        {L"\\\\?\\C:\\a", L"", L"\\\\?\\C:\\a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(verbatimOfFinal(c.a), c.expected) << c.a;
        EXPECT_EQ(shownPath(c.expected), shownPath(c.a)) << c.expected;
    }
}

TEST(PathAlgebra, JoinOfRootAndRelativePathBothBranches)
{
    const Case cases[] = {
        // plain relative paths
        {L"C:\\R", L"bin\\x.dll", L"C:\\R\\bin\\x.dll"},
        {L"C:\\R\\", L"a.txt", L"C:\\R\\a.txt"},
        {L"X:", L"a.txt", L"X:a.txt"},
        {L"", L"a.txt", L"a.txt"},
        {L"..\\..", L"a.txt", L"..\\..\\a.txt"},
        // the general rules
        {L"C:\\R", L"", L"C:\\R\\"},
        {L"C:\\R\\", L"", L"C:\\R\\"},
        {L"C:\\R", L"D:\\x", L"D:\\x"},
        {L"C:\\R", L"D:x", L"D:x"},
        {L"C:\\R", L"\\x", L"C:\\x"},
        {L"C:\\R", L"/x", L"C:/x"},
        {L"C:\\R", L"C:x", L"C:\\R\\x"},
        {L"C:", L"C:x", L"C:x"},
        {L"\\\\srv\\share", L"\\x", L"\\\\srv\\x"},
        {L"C:\\R", L"\\\\srv\\s\\x", L"\\\\srv\\s\\x"},
        {L"rel", L"\\x", L"\\x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(joinPath(c.a, c.b), c.expected) << c.a << L" / " << c.b;
}

TEST(PathAlgebra, LexicallyRelativeForm)
{
    const Case cases[] = {
        {L"C:\\U\\up\\bin\\x.dll", L"C:\\U\\up", L"bin\\x.dll"},
        {L"C:\\U\\up\\a.txt", L"C:\\U\\up", L"a.txt"},
        {L"C:/U/up/a.txt", L"C:\\U\\up", L"a.txt"},
        {L"C:\\U\\other\\a.txt", L"C:\\U\\up", L"..\\other\\a.txt"},
        {L"C:\\a.txt", L"C:\\U\\up", L"..\\..\\a.txt"},
        {L"C:\\U\\up", L"C:\\U\\up", L"."},
        {L"D:\\U\\up\\a.txt", L"C:\\U\\up", L""},
        {L"C:\\U\\Up\\a.txt", L"C:\\U\\up", L"..\\Up\\a.txt"},
        {L"a\\b", L"C:\\U", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lexicallyRelative(c.a, c.b), c.expected) << c.a << L" from " << c.b;
}

TEST(PathAlgebra, OnlyPlainRelativePathsStayBelowTheRoot)
{
    for (const wchar_t* below : {L"a.txt", L"bin\\x.dll", L"a/b", L".hidden", L"a..b"})
        EXPECT_TRUE(staysBelowLexically(below)) << below;
    for (const wchar_t* outside : {L"", L".", L"..\\a.txt", L"a\\..\\..\\b", L"\\a", L"/a", L"C:a",
                                   L"C:\\a", L"\\\\srv\\s\\a", L"a\\.\\b"})
        EXPECT_FALSE(staysBelowLexically(outside)) << outside;
}
