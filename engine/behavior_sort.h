// The behaviour list's column sort: reorders a process's own behaviours in place.
#pragma once

#include <thread>

#include "engine/process_record.h"
#include "engine/process_store.h"

// Sorts by column 0 time, 1 action, 2 handling or 3 info (any other column: nothing happens),
// ascending or descending, comparing the texts as unsigned bytes: no case folding, no locale, no
// reading of numbers, a prefix before the longer text. Elements with equal keys may change places.
// Notes the reordering in the sequence (Reorders()). Needs the store's lock.
void SortBehaviors(SegmentedArray<BehaviorRecord>& behaviors, int column, bool ascending);

// How many behaviours one hold of the lock copies while SortBehaviorsOffLock gathers them.
inline constexpr std::size_t kSortSlice = 8192;

// The same order as SortBehaviors, equal keys included, for a sequence others may append to
// meanwhile: the records and copies of their keys are taken under short holds of the store's lock,
// a slice at a time, sorted without it, and the sorted sequence replaces the old one in one quick
// hold. Behaviours appended meanwhile follow the sorted ones, as if they had come just after the
// sort. `target` is read under each hold; when it no longer names the sequence it named at the
// start (the list was dropped), nothing is changed. Call without the lock held. Returns whether the
// sequence was replaced. `longestHold`, when given, is raised to the longest hold of the lock.
bool SortBehaviorsOffLock(const ProcessStore& store, SegmentedArray<BehaviorRecord>* const& target,
                          int column, bool ascending,
                          std::chrono::steady_clock::duration* longestHold = nullptr);
