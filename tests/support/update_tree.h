#pragma once

// An update of many files described by its shape: it lays itself out below an update
// folder, with the root's folders beside it, and then tells where each file stands.
// The tests of large and interrupted updates and the benchmark build their trees so.

#include <string>
#include <vector>

struct UpdateTree {
    int chains = 1;          // folders below the update folder ("c0", "c1", ...)
    int depth = 1;           // each chain's folders nested so deep ("c0\d1\d2"), files in each
    int firstChainDepth = 0; // the first chain's depth where it differs (0: `depth`)
    int filesPerFolder = 1;  // "f0.dat", "f1.dat", ...
    size_t bytes = 0;        // of each file; at least its own relative path, which it begins with
    bool oldCounterparts = false; // every second file has an old version in the root
    bool flushed = false;         // each file on the disk before layOut returns
};

// The relative paths of the tree's files, in the order they are laid out.
std::vector<std::wstring> filesOf(const UpdateTree& tree);

// What the file at `relative` holds: its path, then filler up to the tree's size.
std::string contentOf(const UpdateTree& tree, const std::wstring& relative);

// Writes the tree's files into `updateDir`, makes its folders in `root` too, and puts
// "old" at every second file's place in the root where the tree asks for it.
void layOut(const UpdateTree& tree, const std::wstring& updateDir, const std::wstring& root);

// Where the tree's files stand after a run: each with its content in the root only
// (installed), in the update folder only (waiting), in both, or in neither (lost).
struct Standing {
    int installed = 0;
    int waiting = 0;
    int both = 0;
    int lost = 0;
};
Standing whereFilesStand(const UpdateTree& tree, const std::wstring& updateDir,
                         const std::wstring& root);
