// The behaviour list's column sort: reorders a process's own behaviours in place.
#pragma once

#include "engine/process_record.h"

// Sorts by column 0 time, 1 action, 2 handling or 3 info (any other column: nothing happens),
// ascending or descending, comparing the texts as unsigned bytes: no case folding, no locale, no
// reading of numbers, a prefix before the longer text. Elements with equal keys may change places.
// Notes the reordering in the sequence (Reorders()). Needs the analyzer's lock.
void SortBehaviors(SegmentedArray<BehaviorRecord>& behaviors, int column, bool ascending);
