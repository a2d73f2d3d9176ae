// A log started anew in the same file: its writer truncated it and began again, so what was read
// belongs to an earlier log. The store may be pointed into by its owner (the window's behaviour
// list), so the follower only notes the restart and reads no further; the owner clears.
#include "engine/log_analyzer.h"

bool LogAnalyzer::NoteShorterFile(uint64_t generation, uint64_t size) {
    const auto hold = store_.Hold();
    if (generation != generation_) {
        return true;  // another file is followed now: this pass has nothing to do
    }
    if (restartedGeneration_ == generation) {
        return true;  // noted already; the owner has not restarted yet
    }
    if (size >= readOffset_) {
        return false;
    }
    restartedGeneration_ = generation;
    // The owner's refresh thread waits for this signal, and learns of the restart with it.
    doneEvent_.Set();
    return true;
}

bool LogAnalyzer::LogRestarted() {
    const auto hold = store_.Hold();
    return restartedGeneration_ == generation_;
}

void LogAnalyzer::RestartLog() {
    // The restart is no longer pending once the generation moves on.
    ReadFromStart();
}
