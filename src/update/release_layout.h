#pragma once

#include "update/destination.h"

#include <string>
#include <vector>

// A signed release's own layout (a signed-updates build, a list of version 2): the
// folders it needs, made before the walk, and the files it drops, deleted after it.
// Both are the publisher's word alone. Every path is reached from the held root,
// element by element, each element held in turn and checked to be the folder of its
// own name there: never through a link, a junction or a short name that leads
// elsewhere. A run ended at any point leaves what the next run finishes: folders made
// stay, and a removal already done is passed over.

// Makes each listed folder that the root lacks, in the list's order (parents first),
// relative to its held parent: owned by Administrators with the access list that its
// parent passes on, as an installed file is; a "Folder made" line for each. Throws
// FileSystemError "create_directory" naming the first listed folder that is a link,
// leads elsewhere, is a file or cannot be made, and "root_folder" naming a parent that
// `root.boundBy` may not add to; nothing has been installed then.
void makeListedFolders(const Destination& root, const std::vector<std::wstring>& folders);

// Deletes each listed file that stands below the root as a plain file with one name at
// its own place, after a "remove" line naming it; one that is not there is passed over,
// and anything else (a link, a file with other names, a folder) is left alone, each
// with a line that says so. One that another program holds is tried as a held dest is
// ("File not writable!! Tries: N"), then FileLocked names it. Throws FileSystemError
// "remove" when a deletion fails otherwise, and "root_folder" naming a folder that
// `root.boundBy` may not delete from.
void removeListedFiles(const Destination& root, const std::vector<std::wstring>& removals);
