#pragma once
// The one process-wide product record: completed and published by start-up,
// read by everyone else.

#include "product/program_infos.h"

// Completes the working record from what is known and publishes it.
// False when the data can't be completed (nothing is published then).
bool CompleteProgramInfos(ProgramInfos& working);

// A copy of the process-wide record (empty when nothing was published).
ProgramInfos GetProgramInfos();
