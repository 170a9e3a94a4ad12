#pragma once
// The one process-wide product record: completed and published by start-up,
// read by everyone else.

#include "product/program_infos.h"

// Completes the working record from the switches' data and the system's
// sources, adds edition word and preview suffix, and publishes it. False when
// the product can't be identified (nothing is published then).
bool CompleteProgramInfos(ProgramInfos& working);

// A copy of the process-wide record. When nothing was published yet it is
// built from the updater's own version resource (the updater as a product's
// installer stub) or, failing that, from the system's sources.
ProgramInfos GetProgramInfos();
