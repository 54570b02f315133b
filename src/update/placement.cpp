#include "update/placement.h"

#include "fs/path_text.h"
#include "log/log_words.h"

const char* refusalOf(const Placement& placement)
{
    if (!liesBelow(placement.dest, placement.root))
        return words::outsideTarget;
    // Moving the file onto itself would destroy it (a root folder that is the update
    // folder).
    if (sameFinalPath(placement.dest, placement.updateFile))
        return words::sameFile;
    if (liesWithin(placement.dest, placement.updateFolder))
        return words::insideUpdate;
    return nullptr;
}
