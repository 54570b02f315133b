#include "support/update_tree.h"

#include "support/files.h"

namespace {

std::vector<std::wstring> foldersOf(const UpdateTree& tree)
{
    std::vector<std::wstring> folders;
    for (int chain = 0; chain < tree.chains; ++chain) {
        std::wstring folder = L"c" + std::to_wstring(chain);
        const int depth =
            chain == 0 && tree.firstChainDepth > 0 ? tree.firstChainDepth : tree.depth;
        for (int level = 0; level < depth; ++level) {
            folders.push_back(folder);
            folder += L"\\d" + std::to_wstring(level + 1);
        }
    }
    return folders;
}

} // namespace

std::vector<std::wstring> filesOf(const UpdateTree& tree)
{
    std::vector<std::wstring> files;
    for (const std::wstring& folder : foldersOf(tree)) {
        for (int file = 0; file < tree.filesPerFolder; ++file)
            files.push_back(folder + L"\\f" + std::to_wstring(file) + L".dat");
    }
    return files;
}

std::string contentOf(const UpdateTree& tree, const std::wstring& relative)
{
    std::string content(relative.begin(), relative.end()); // the tree's names are ASCII
    if (content.size() < tree.bytes)
        content.resize(tree.bytes, 'u');
    return content;
}

void layOut(const UpdateTree& tree, const std::wstring& updateDir, const std::wstring& root)
{
    for (const std::wstring& folder : foldersOf(tree)) {
        makeDirs(updateDir + L"\\" + folder);
        makeDirs(root + L"\\" + folder);
    }
    int index = 0;
    for (const std::wstring& file : filesOf(tree)) {
        writeFile(updateDir + L"\\" + file, contentOf(tree, file), tree.flushed);
        if (tree.oldCounterparts && index++ % 2 == 0)
            writeFile(root + L"\\" + file, "old", tree.flushed);
    }
}

Standing whereFilesStand(const UpdateTree& tree, const std::wstring& updateDir,
                         const std::wstring& root)
{
    Standing standing;
    for (const std::wstring& file : filesOf(tree)) {
        const std::string content = contentOf(tree, file);
        const bool installed = readFile(root + L"\\" + file) == content;
        const bool waiting = readFile(updateDir + L"\\" + file) == content;
        standing.installed += installed && !waiting;
        standing.waiting += waiting && !installed;
        standing.both += installed && waiting;
        standing.lost += !installed && !waiting;
    }
    return standing;
}
