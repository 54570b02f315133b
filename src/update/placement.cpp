#include "update/placement.h"

#include "fs/path_text.h"

const char* refusalOf(const Placement& placement)
{
    if (!liesBelow(placement.dest, placement.root))
        return "Outside of target, ignore it";
    // Moving the file onto itself would destroy it (a root folder that is the update
    // folder).
    if (sameFinalPath(placement.dest, placement.updateFile))
        return "Same file, ignore it";
    if (liesWithin(placement.dest, placement.updateFolder))
        return "Inside the update folder, ignore it";
    return nullptr;
}
