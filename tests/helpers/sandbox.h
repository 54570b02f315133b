#pragma once

// The scene of a test: a fresh launcher root with a copy of the updater in its
// resources\update, named after the test, and the skips of what a platform cannot make.

#include "common/unique_any.h"
#include "support/files.h"
#include "support/platform.h"
#include "support/processes.h"
#include "support/text.h"
#include "support/update_tree.h"
#include "support/waiting.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <initializer_list>
#include <iostream>
#include <string>
#include <vector>

std::wstring updaterBuild(); // the Updater.exe the build made

// A fresh tree for one test: <base>\root with root\resources\update holding a copy of
// Updater.exe. The base is named after the running test.
struct Sandbox {
    std::wstring base;
    std::wstring root;
    std::wstring updateDir;
    std::wstring updater; // the copy in updateDir
    std::wstring log;     // updateDir\Updater.log
};
Sandbox makeSandbox(const std::wstring& baseDir = {});

// The fixture of the tests that each work on a fresh sandbox of their own.
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override { box_ = makeSandbox(); }
    // Replaces the sandbox with a fresh one for a table's next row, beside the first
    // ("<base>-1", "<base>-2", ...), so that a failing row leaves its scene to look at.
    const Sandbox& nextRowSandbox();
    Sandbox box_;

private:
    std::wstring firstBase_;
    int rows_ = 0;
};

// A unique name for a named kernel object of this test process.
std::wstring uniqueName(const wchar_t* prefix);

// Skips the test, with the platform's reason, when `done` is false. `done` may set
// the string `why` that this macro declares:
//     SKIP_UNLESS(makeJunction(target, link, &why));
#define SKIP_UNLESS(done)                                                                          \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!(done))                                                                               \
            GTEST_SKIP() << why;                                                                   \
    } while (false)

// In a table's loop: whether to leave the row out, because `done` is false, with the
// platform's reason (`why`, which `done` may have set) on the console; the other rows
// still run:
//     std::string why;
//     if (rowLeftOut(makeJunction(target, link, &why), why))
//         continue;
bool rowLeftOut(bool done, const std::string& why);

// Declares `name`, a scratch folder on another volume than the build's, or skips the
// test with the platform's reason when there is none:
//     REQUIRE_OTHER_VOLUME(volume);
#define REQUIRE_OTHER_VOLUME(name)                                                                 \
    std::string name##Missing;                                                                     \
    const std::wstring name = otherVolume(&name##Missing);                                         \
    if (name.empty())                                                                              \
    GTEST_SKIP() << name##Missing
