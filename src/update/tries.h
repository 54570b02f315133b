#pragma once

// The tries given to a file that another program holds (a launcher that has not quite
// ended, an antivirus scan): the first and three more, half a second apart, each with
// its "File not writable!! Tries: N" line (N from 0); after the last, the update stops.

constexpr int lastTry = 3;

// Waits the half second between two tries, however early the sleep wakes.
void pauseBeforeNextTry();
