#include "update/list_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string digest(64, 'a');
const std::string v1 = "Qorvath Launcher update list 1\nrelease 7\n";
const std::string v2 = "Qorvath Launcher update list 2\nrelease 7\n";

std::string fileLine(const std::string& path)
{
    return digest + " 5 " + path + "\n";
}

} // namespace

// The signed part of a list, row by row: what is taken, and every malformed form. A
// malformed list stops the run before anything moves.
TEST(ListText, EveryMalformedFormIsRefused)
{
    const struct {
        const char* name;
        std::string text;
        bool taken;
    } rows[] = {
        {"version 1, one file", v1 + fileLine("bin\\x.dll"), true},
        {"version 2, folders and removals",
         v2 + "folder locale\nfolder locale\\de\n" + fileLine("locale\\de\\a.txt") +
             "remove bin\\old.dll\n",
         true},
        {"no release", "Qorvath Launcher update list 1\n" + fileLine("x"), false},
        {"release no number", "Qorvath Launcher update list 1\nrelease 7a\n", false},
        {"another header", "Qorvath Launcher update list 3\nrelease 7\n", false},
        {"CRLF line ends", "Qorvath Launcher update list 1\r\nrelease 7\r\n", false},
        {"a path twice", v1 + fileLine("a.txt") + fileLine("a.txt"), false},
        {"a path twice, in another case", v1 + fileLine("bin\\a.txt") + fileLine("BIN\\A.TXT"),
         false},
        {"a file removed too", v2 + fileLine("a.txt") + "remove a.txt\n", false},
        {"a short digest", v1 + digest.substr(2) + " 5 x\n", false},
        {"folder in version 1", v1 + "folder locale\n", false},
        {"remove in version 1", v1 + "remove x.dll\n", false},
        {"parent element", v2 + "remove ..\\x.dll\n", false},
        {"parent element inside", v2 + "folder a\\..\\..\\b\n", false},
        {"dot element", v2 + "folder .\\a\n", false},
        {"drive", v2 + "remove C:\\x.dll\n", false},
        {"stream", v2 + "remove x.dll::$DATA\n", false},
        {"leading separator", v2 + "remove \\x.dll\n", false},
        {"empty element", v2 + "folder a\\\\b\n", false},
        {"slash", v2 + "remove a/x.dll\n", false},
        {"empty path", v2 + "folder \n", false},
        {"in the update folder", v2 + "remove Resources\\UPDATE\\a.txt\n", false},
        {"the update folder", v2 + "folder resources\\update\n", false},
        {"an own file", v2 + "remove bin\\Updater.exe\n", false},
        {"resources itself", v2 + "folder resources\n", true},
    };
    for (const auto& row : rows) {
        ListContent content;
        EXPECT_EQ(parseListText(row.text, content), row.taken) << row.name;
    }
    ListContent content;
    ASSERT_TRUE(parseListText(rows[1].text, content));
    EXPECT_EQ(content.release, 7u);
    EXPECT_EQ(content.folders, (std::vector<std::wstring>{L"locale", L"locale\\de"}));
    EXPECT_EQ(content.removals, std::vector<std::wstring>{L"bin\\old.dll"});
    EXPECT_EQ(content.files.count(L"locale\\de\\a.txt"), 1u);
}

// The signature's line is the text's last, a whole line of 128 hex digits.
TEST(ListText, SignatureIsTheLastWholeLine)
{
    const std::string signature = "signature " + std::string(128, '0') + "\n";
    const struct {
        const char* name;
        std::string text;
        bool split;
    } rows[] = {
        {"signed", v1 + signature, true},
        {"no final line end", v1 + signature.substr(0, signature.size() - 1), false},
        {"not at a line's start", v1 + "x" + signature, false},
        {"a digit short", v1 + "signature " + std::string(127, '0') + "\n", false},
        {"upper-case digits", v1 + "signature " + std::string(128, 'A') + "\n", false},
        {"no signature", v1, false},
    };
    for (const auto& row : rows) {
        std::string signedPart;
        std::array<unsigned char, list_text::signatureBytes> bytes;
        EXPECT_EQ(splitSignature(row.text, signedPart, bytes), row.split) << row.name;
        if (row.split) {
            EXPECT_EQ(signedPart, v1) << row.name;
        }
    }
}
