#include "helpers/harness.h"

#include <gtest/gtest.h>

class RunSequence : public SandboxTest {};

// The command line as the log's first lines give it, and the run's end: no argument (an old
// log emptied first), the root alone (with a backslash at its end too: no separator is
// doubled), further arguments (logged, never removed), a backslash before a closing quote
// (a literal quote: the quoted text runs on), and a relative root (kept as given,
// resolved against the update folder).
TEST_F(RunSequence, CommandLineIsLoggedAsSplitAndTheRunEndsAsItMust)
{
    const struct {
        std::wstring args;         // "<root>" stands for the sandbox's root
        const wchar_t* refusedFor; // the failure message names it; null: no message
        DWORD exitCode;
        std::string head;  // "<root>" and "<update>": the sandbox's folders as logged, unquoted
        std::string later; // a part further on; none: the head is the whole log
    } cases[] = {
        {L"", nullptr, 1, "No args, exit 1\r\n", ""},
        {L"\"<root>\"", nullptr, 0, "targetDir = \"<root>\"\r\nupdateDir = \"<update>\"\r\n",
         "All done, exiting\r\n"},
        {L"\"<root>\\\\\"", nullptr, 0, "targetDir = \"<root>\\\\\"\r\n",
         "dest=\"<root>\\\\a.txt\"\r\n"},
        {L"C:\\Games\\Root \"old file.dll\" bin\\x.dll", L"C:\\Games\\Root", 1,
         "targetDir = \"C:\\\\Games\\\\Root\"\r\nFile to remove: old file.dll\r\n"
         "File to remove: bin\\x.dll\r\nupdateDir = \"<update>\"\r\n",
         "Exception: weakly_canonical: "},
        {L"\"C:\\Games\\Root\\\" next", L"C:\\Games\\Root\" next", 1,
         "targetDir = \"C:\\\\Games\\\\Root\\\" next\"\r\n", "Exception: weakly_canonical: "},
        {L"..\\..", nullptr, 0, "targetDir = \"..\\\\..\"\r\n", "dest=\"..\\\\..\\\\a.txt\"\r\n"},
    };
    for (const auto& c : cases) {
        nextRowSandbox();
        SCOPED_TRACE(testing::PrintToString(c.args));
        writeFile(box_.log, std::string(5000, 'x') + "\r\nold line\r\n");
        writeFile(box_.updateDir + L"\\a.txt", "new");
        std::wstring args = c.args;
        if (args.find(L"<root>") != std::wstring::npos)
            args.replace(args.find(L"<root>"), 6, box_.root);
        const auto marked = [this](std::string text) {
            for (const auto& [mark, path] :
                 {std::make_pair(std::string("<root>"), box_.root),
                  std::make_pair(std::string("<update>"), box_.updateDir)}) {
                const std::string quoted = logged(path);
                for (size_t at; (at = text.find(mark)) != std::string::npos;)
                    text.replace(at, mark.size(), quoted.substr(1, quoted.size() - 2));
            }
            return text;
        };
        const std::string head = marked(c.head);
        const RunResult run =
            c.refusedFor ? runRefused(box_, args, c.refusedFor) : runUpdater(box_, args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.log;
        if (c.later.empty()) {
            EXPECT_EQ(run.log, head);
        } else {
            EXPECT_TRUE(startsWith(run.log, head));
            EXPECT_TRUE(contains(run.log.substr(head.size()), marked(c.later)));
        }
        EXPECT_EQ(readFile(box_.root + L"\\a.txt"), c.exitCode == 0 ? "new" : "<missing>");
    }
}

// A log that cannot be opened, held without sharing or read-only (Wine run by root
// ignores the attribute: the suite runs this test as an ordinary user too), loses its
// lines, not the run: both ends of a run as without it, the log as it was. Where the
// completion mark cannot take the run's end either, the run stops before anything moves
// and starts no launcher: the launcher would start it again for ever.
TEST_F(RunSequence, LogHeldOrReadOnlyLosesTheLinesNotTheRun)
{
    const struct {
        const char* what;
        bool readOnly;
        bool markAFolder;
    } rows[] = {{"held without sharing", false, false},
                {"read-only", true, false},
                {"held without sharing, the completion mark a folder", false, true}};
    for (const auto& row : rows) {
        const bool readOnly = row.readOnly;
        SCOPED_TRACE(row.what);
        nextRowSandbox();
        writeFile(box_.log, "kept");
        UniqueFileHandle holder;
        std::string why;
        if (readOnly) {
            if (rowLeftOut(makeReadOnly(box_.log, &why), why))
                continue;
        } else {
            holder.reset(CreateFileW(box_.log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(holder);
        }
        writeFile(box_.updateDir + L"\\a.txt", "new");
        EXPECT_EQ(runUpdater(box_, L"").exitCode, 1u);
        if (row.markAFolder) {
            makeDirs(box_.updateDir + L"\\Updater.done");
            EXPECT_EQ(runRefused(box_, inQuotes(box_.root), box_.log).exitCode, 1u);
            EXPECT_FALSE(exists(box_.root + L"\\a.txt"));
        } else {
            EXPECT_EQ(runUpdater(box_, inQuotes(box_.root)).exitCode, 0u);
            EXPECT_EQ(readFile(box_.root + L"\\a.txt"), "new");
        }
        holder.reset();
        EXPECT_EQ(readFile(box_.log), "kept");
        SetFileAttributesW(box_.log.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

namespace {

// A drive letter that leads nowhere on this machine.
std::wstring missingDrive()
{
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
        const std::wstring drive = std::wstring(1, letter) + L":";
        if (GetDriveTypeW((drive + L"\\").c_str()) == DRIVE_NO_ROOT_DIR)
            return drive;
    }
    return {};
}

} // namespace

// A root that cannot be reached (a mapped drive that the elevated instance does not
// see, or none given) stops at the first file that needs it: nothing applied, and the
// run says so rather than ending as complete. The message names the root, or, when
// none was given, the update folder.
TEST_F(RunSequence, RootThatLeadsNowhereStopsTheRunNamingIt)
{
    const std::wstring drive = missingDrive();
    ASSERT_FALSE(drive.empty()) << "every drive letter is in use";
    writeFile(box_.updateDir + L"\\a.txt", "new");
    for (const std::wstring& root : {drive + L"\\Games\\Qorvath", std::wstring()}) {
        SCOPED_TRACE(testing::PrintToString(root));
        Started started = startWithoutParent(box_, inQuotes(root));
        answerMessageBoxShowing(started.pid, failureText(root.empty() ? box_.updateDir : root));
        EXPECT_EQ(exitCodeOf(started.updater.get()), 1u);
        const std::string log = readFile(box_.log);
        const std::string lastLine = lastLineOf(log);
        EXPECT_TRUE(startsWith(lastLine, "Exception: weakly_canonical: "));
        if (!root.empty()) {
            EXPECT_EQ(lastLine.substr(lastLine.size() - logged(root).size() - 2),
                      logged(root) + "\r\n");
        }
        EXPECT_FALSE(contains(log, "Remove it"));
        EXPECT_EQ(readFile(box_.updateDir + L"\\a.txt"), "new");
    }
}
