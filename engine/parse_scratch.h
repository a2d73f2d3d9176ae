// Buffers the parser reuses from line to line, so a line costs no allocation for its splitting.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "engine/behavior_tag.h"
#include "engine/chunk_supply.h"
#include "engine/line_cutter.h"
#include "engine/log_analyzer.h"

// Nothing here grows with a line's length: a line is split into at most the fields its layout
// uses, in place.
struct LogAnalyzer::ParseScratch {
    // Ordinary lines waiting to be applied with others under one hold of the lock. Their views
    // point into the follower's read buffer.
    std::vector<CutLine> batch;
    // The arena's next chunk, made ready outside the lock: getting fresh memory from the system
    // can take milliseconds, which the window must not wait for.
    TextArena::Chunk spare = TextArena::Chunk::None();
    bool arenaWantsNext = false;  // as seen at the parser's last change
    // During a long pass, where the spare chunks come from: a thread that makes them ready ahead.
    std::unique_ptr<ChunkSupply> supply;
};
