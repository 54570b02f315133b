#pragma once

// The log as the tests read it: its lines worked out independently of the updater's
// own rendering (the labels are the product's own words), and checks on texts that
// show the whole text when they fail.

#include "helpers/sandbox.h"

// Whether `text` (a log, a record, a manifest) holds `part`; either way the message
// shows the part and the whole text:
//     EXPECT_TRUE(contains(run.log, "Killed"));   EXPECT_FALSE(contains(run.log, "Killed"));
testing::AssertionResult contains(const std::string& text, const std::string& part);
// Whether `text` ends with `end`, shown the same way.
testing::AssertionResult endsWith(const std::string& text, const std::string& end);
testing::AssertionResult startsWith(const std::string& text, const std::string& start);

// How many times `part` stands in `text`.
int countOf(const std::string& text, const std::string& part);

// The lines of a log as the file holds them: each one followed by CR LF.
std::string logLines(std::initializer_list<std::string> lines);
// The last line of a log, with its line end; the whole text when it has one line.
std::string lastLineOf(const std::string& log);
// A text as the log writes it, worked out here one character at a time (not with the
// updater's own conversion): in the system's ANSI code page, each character without an
// exact mapping, and each control character, as "?".
std::string loggedText(const std::wstring& text);
// A path as the log writes it: that text between quotes, backslashes and quotes escaped.
std::string logged(const std::wstring& path);

// The last lines of a complete run in `box`: with a line that says why no launcher
// started where the root has none.
std::string runEndLines(const Sandbox& box);

// Each "Sub path" block of a walk starts with this line.
std::string subPathLine(const std::wstring& path);

// The lines of a walk of the update folder (or of `folder` below it) as it is listed now,
// from its "Step" line: each entry in listing order, the updater's own two files skipped,
// every folder gone down into, every other file applied without obstacle to its place
// below the root. Worked out before the run, which moves what it applies.
std::string walkLines(const Sandbox& sandbox, const std::wstring& folder = {});
