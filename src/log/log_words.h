#pragma once

// The log's words, each spelled once: the label of every line of "Updater.log" (a label
// is followed by at most one value, as the comment shows) and the names of the log and
// of the completion mark. Readers of earlier logs, and their tools, match these: the
// lines of earlier versions stay as they were.
namespace words {
// The run
constexpr char noArgs[] = "No args, exit 1";
constexpr char targetDir[] = "targetDir = ";        // the root, as given
constexpr char fileToRemove[] = "File to remove: "; // a further argument
constexpr char updateDir[] = "updateDir = ";        // the update folder
constexpr char haveParent[] = "Have parent, killing";
constexpr char killed[] = "Killed";
constexpr char exception[] = "Exception: "; // the operation and the system's words
constexpr char preparing[] = "Preparing for exe launch";
constexpr char launcherNotStarted[] = "Launcher not started: "; // why, and the launcher
constexpr char launched[] = "Launched";
constexpr char allDone[] = "All done, exiting";
// The walk
constexpr char step[] = "Step";        // a folder listed
constexpr char subPath[] = "Sub path"; // one of its entries
constexpr char directory[] = "It's a directory, go down";
constexpr char alreadyWalked[] = "Already walked, skip it";
constexpr char ownFile[] = "This is our exe or log, ignore it";
constexpr char relativePath[] = "relativePath=";
constexpr char outsideTarget[] = "Outside of target, ignore it";
constexpr char notSigned[] = "Not in the signed list, ignore it";
constexpr char dest[] = "dest=";
constexpr char sameFile[] = "Same file, ignore it";
constexpr char insideUpdate[] = "Inside the update folder, ignore it";
constexpr char removeIt[] = "Remove it";
constexpr char moveIt[] = "Move it";
constexpr char notWritable[] = "File not writable!! Tries: "; // the try, from 0
// A signed release's layout
constexpr char folderMade[] = "Folder made=";
constexpr char remove[] = "remove="; // a file the release drops; one of the three below
constexpr char removed[] = "Removed it";
constexpr char notThere[] = "Not there, nothing to do";
constexpr char notPlain[] = "Not a plain file with one name, leave it";
} // namespace words

constexpr wchar_t logFileName[] = L"Updater.log"; // in the update folder
// Written only where the log could not be: that the last run's walk was done.
constexpr wchar_t completionMarkName[] = L"Updater.done";
