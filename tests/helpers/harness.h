#pragma once

// Everything a test of the updater uses, by what it serves: the sandbox, runs of the
// updater, the log's vocabulary and the helper programs.

#include "helpers/helper_programs.h"
#include "helpers/log_vocabulary.h"
#include "helpers/sandbox.h"
#include "helpers/updater_runs.h"
