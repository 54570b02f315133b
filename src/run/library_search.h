#pragma once

// Takes every library that is loaded from now on from the system folder only: we run
// as administrator from a folder that ordinary users can write to, and a DLL planted
// there (or in the current folder) must never be loaded. Called first in wWinMain.
void restrictLibrarySearchToSystem();
