// The follower thread: reads the log in passes when woken, each from where the last one stopped.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/line_cutter.h"
#include "engine/log_analyzer.h"
#include "engine/module_look_ahead.h"
#include "engine/parse_scratch.h"
#include "engine/platform.h"
#include "engine/text.h"

namespace {

uint64_t NowMilliseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// The held line's quiet time is timed by the clock seam, so that tests need not wait for it.
std::chrono::steady_clock::time_point SeamNow(const AnalyzerSeams& seams) {
    return seams.clock ? seams.clock() : std::chrono::steady_clock::now();
}

}  // namespace

void LogAnalyzer::SetLogPath(const std::string& path) {
    const auto hold = store_.Hold();
    if (!EqualsNoCaseMultibyte(path, logPath_)) {
        ReadFromStart();
    }
    logPath_ = path;
}

void LogAnalyzer::ReadFromStart() {
    const auto hold = store_.Hold();
    ClearProcesses();
    readOffset_ = 0;
    heldLine_ = {};
    stoppedAtReadCap_ = false;
    problem_ = LogProblem::None;
    problemDetail_.clear();
    // A new generation: a pass still reading what came before adds nothing to the cleared store
    // and stores no position.
    ++generation_;
}

void LogAnalyzer::SetFileComplete(bool complete) {
    const auto hold = store_.Hold();
    fileComplete_ = complete;
}

LogAnalyzer::LogProblem LogAnalyzer::Problem(std::string* detail) {
    const auto hold = store_.Hold();
    if (detail != nullptr) {
        *detail = problemDetail_;
    }
    return problem_;
}

std::optional<std::chrono::milliseconds> LogAnalyzer::HeldLineWait() {
    const auto hold = store_.Hold();
    if (!heldLine_.held) {
        return std::nullopt;
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(SeamNow(seams_) - heldLine_.since);
    return std::max(std::chrono::milliseconds(0), seams_.heldLineQuietTime - waited);
}

uint64_t LogAnalyzer::Wake() {
    uint64_t ticket;
    {
        std::lock_guard guard(wakeMutex_);
        ticket = ++wakesRequested_;
    }
    wakeEvent_.Set();
    return ticket;
}

bool LogAnalyzer::WaitForWake(uint64_t ticket) {
    std::unique_lock guard(wakeMutex_);
    wakeHandled_.wait(guard, [&] { return wakesHandled_ >= ticket || stopRequested_; });
    return wakesHandled_ >= ticket;
}

bool LogAnalyzer::WakeHandled(uint64_t ticket) {
    std::lock_guard guard(wakeMutex_);
    return wakesHandled_ >= ticket;
}

void LogAnalyzer::FollowLoop() {
    while (!stopRequested_) {
        wakeEvent_.Wait();
        if (stopRequested_) {
            break;
        }
        // Reset before reading: a wake that arrives during the pass causes one more pass.
        wakeEvent_.Reset();
        uint64_t requested;
        {
            std::lock_guard guard(wakeMutex_);
            requested = wakesRequested_;
        }
        // Whatever a pass throws (no memory for a huge line, say) ends that file's reading, not
        // the program: the store keeps what it holds.
        try {
            RunPass();
        } catch (const std::exception& e) {
            FailPass(e.what());
        } catch (...) {
            FailPass("unknown exception");
        }
        {
            std::lock_guard guard(wakeMutex_);
            wakesHandled_ = std::max(wakesHandled_, requested);
        }
        wakeHandled_.notify_all();
        stopEvent_.WaitFor(seams_.throttle);
    }
}

bool LogAnalyzer::StorePosition(uint64_t generation, uint64_t offset) {
    const auto hold = store_.Hold();
    if (generation != generation_) {
        return false;
    }
    readOffset_ = offset;
    return true;
}

void LogAnalyzer::FailPass(const char* what) {
    const uint64_t generation = passGeneration_.exchange(0);
    recording_ = nullptr;
    scratch_->batch.clear();  // its views point into the failed pass's text
    {
        const auto hold = store_.Hold();
        if (generation != generation_) {
            return;
        }
        // Where the pass stopped, lines may have been parsed whose position was never stored:
        // reading on would parse them twice.
        problem_ = LogProblem::ReadFailed;
        problemDetail_ = what;
        heldLine_ = {};
    }
    // The window shows what the store holds.
    doneEvent_.Set();
}

void LogAnalyzer::RunPass() {
    drives_.Renew();  // a pass reads the drive table once, at its first path
    std::string path;
    uint64_t start;
    uint64_t generation;
    HeldLine held;
    std::optional<uint64_t> provisionalLength;
    bool complete;
    {
        const auto hold = store_.Hold();
        if (problem_ == LogProblem::ReadFailed) {
            return;
        }
        path = logPath_;
        start = readOffset_;
        generation = generation_;
        held.held = heldLine_.held;
        held.offset = heldLine_.offset;
        held.fileSize = heldLine_.fileSize;
        held.since = heldLine_.since;
        if (provisional_ && provisional_->offset == start) {
            provisionalLength = provisional_->length;
        }
        complete = fileComplete_;
    }
    LogOpenFailure failure = LogOpenFailure::None;
    std::unique_ptr<LogFileReader> file = seams_.files->OpenChecked(path, failure);
    {
        // Asked again on every wake: the path may name a regular file by now.
        const auto hold = store_.Hold();
        if (generation == generation_) {
            problem_ = failure == LogOpenFailure::NotRegularFile ? LogProblem::NotRegularFile
                                                                 : LogProblem::None;
        }
    }
    if (!file) {
        return;
    }
    uint64_t size = 0;
    if (!file->Size(size) || NoteShorterFile(generation, size) || start >= size) {
        return;  // nothing new: no pass, progress keeps its value, no signal
    }
    if (provisionalLength && size <= start + *provisionalLength) {
        return;  // the provisional line is still the last, as it was: nothing new
    }
    // The held line's bytes, when they are still the file's: a pass need not read them again.
    const auto takeHeldText = [&] {
        const auto hold = store_.Hold();
        std::string text;
        if (generation == generation_ && heldLine_.held && heldLine_.offset == start &&
            heldLine_.text.size() == heldLine_.fileSize - start && size >= heldLine_.fileSize) {
            text = std::move(heldLine_.text);
            heldLine_.text = {};
        }
        return text;
    };
    // Left set if the pass throws, for FailPass to see whose pass it was.
    passGeneration_ = generation;
    if (held.held && held.offset == start && size <= held.fileSize) {
        // Nothing new since a pass held the last line back. Once the file has stayed so for a
        // while, its writer has evidently finished the line without CR LF: parse it as it stands,
        // provisionally unless the file is known to be complete.
        const bool quiet = complete || (seams_.parseQuietHeldLine &&
                                        SeamNow(seams_) - held.since >= seams_.heldLineQuietTime);
        if (quiet && start < seams_.readCap) {
            ParseHeldLine(*file, start, size, generation, takeHeldText(), !complete);
        }
    } else {
        ReadPass(*file, path, start, size, generation, takeHeldText(), provisionalLength);
    }
    passGeneration_ = 0;
}

void LogAnalyzer::ParseHeldLine(LogFileReader& file, uint64_t start, uint64_t size,
                                uint64_t generation, std::string text, bool provisional) {
    std::string line = std::move(text);
    if (line.size() != size - start) {
        line.assign(static_cast<std::size_t>(size - start), '\0');
        std::size_t got = 0;
        if (file.Seek(start)) {
            while (got < line.size()) {
                const std::size_t n = file.Read(line.data() + got, line.size() - got);
                if (n == 0) {
                    break;
                }
                got += n;
            }
        }
        line.resize(got);
    }
    progress = 0.0;
    ProvisionalLine change;
    change.offset = start;
    change.length = line.size();
    const ParseCounts before = Counts();
    if (provisional) {
        recording_ = &change;
    }
    ParseLine(line);
    recording_ = nullptr;
    {
        const auto hold = store_.Hold();
        if (generation != generation_) {
            return;
        }
        heldLine_ = {};
        if (provisional) {
            // The read offset stays at the line's start: the next pass that finds more reads it
            // again.
            const ParseCounts after = Counts();
            change.counted = {after.lines - before.lines, after.dropped - before.dropped};
            provisional_ = std::make_unique<ProvisionalLine>(std::move(change));
        } else {
            readOffset_ = start + line.size();
        }
    }
    progress = 100.0;
    doneEvent_.Set();
}

void LogAnalyzer::ReadPass(LogFileReader& file, const std::string& path, uint64_t start,
                           uint64_t size, uint64_t generation, std::string pending,
                           std::optional<uint64_t> provisionalLength) {
    const uint64_t limit = std::min(size, seams_.readCap);
    // `pending`: data read but not yet parsed, the held line's bytes. The reader goes on from them.
    uint64_t offset = start + pending.size();
    if (!file.Seek(offset)) {
        return;
    }
    progress = 0.0;
    if (start >= limit) {
        return;  // everything up to the read cap is read already
    }
    // A long pass fills many of the arena's chunks: their fresh pages are supplied on a second
    // thread, ahead of use, while this one parses. A short pass (a few lines followed) makes its
    // own, so that following a quiet log costs no thread and no memory ahead.
    struct SupplyForPass {
        ParseScratch& scratch;
        ~SupplyForPass() { scratch.supply.reset(); }  // stops and joins its thread
    } supplyForPass{*scratch_};
    if (limit - offset >= kSupplyFrom) {
        scratch_->supply = std::make_unique<ChunkSupply>(kSupplyDepth, TextArena::kChunk);
    }
    // And its module files are looked at ahead, on a third thread. It reads the file itself, from
    // the system: reads through the seams are the parser's alone.
    std::unique_ptr<ModuleLookAhead> lookAhead;
    if (limit - offset >= kSupplyFrom && seams_.signer) {
        lookAhead = std::make_unique<ModuleLookAhead>(MakePlatformLogFileSource(), path, start,
                                                      limit, kLookAhead, *seams_.signer, drives_);
    }
    // A long pass reads and cuts its lines on a thread of its own, a few chunks ahead, while this
    // one applies them in order. A short one does both here: following a quiet log costs no thread.
    const bool cutAhead = limit - offset >= kSupplyFrom;
    PassReader reader(file, offset, limit, std::move(pending), provisionalLength,
                      cutAhead ? kCutAheadRead : kChunkSize);
    std::optional<CutAhead> ahead;
    if (cutAhead) {
        ahead.emplace(reader, kCutAheadDepth);
    }
    const auto settleProvisional = [&](bool asParsed) {
        const auto hold = store_.Hold();
        if (generation != generation_) {
            return;
        }
        if (asParsed) {
            provisional_.reset();  // its writer ended it there: what it changed stands
        } else {
            WithdrawProvisional();
        }
    };
    CutChunk chunk;
    bool ended = false;  // every chunk the reader made is applied
    while (!stopRequested_) {
        {
            const auto hold = store_.Hold();
            if (generation != generation_) {
                return;  // another file is followed now: this one's lines must not reach it
            }
        }
        if (!(ahead ? ahead->Next(chunk) : reader.Next(chunk))) {
            ended = true;
            break;
        }
        const uint64_t ticks = NowMilliseconds();
        if (chunk.provisionalEnded) {
            settleProvisional(*chunk.provisionalEnded);
        }
        for (const CutLine& line : chunk.lines) {
            ApplyCutLine(line);
        }
        FlushBatch();  // its lines point into the chunk
        const uint64_t elapsed = NowMilliseconds() - ticks;
        if (elapsed != 0) {
            char trace[4096];
            std::snprintf(trace, sizeof(trace), "useTime:%d", static_cast<int>(elapsed));
            WriteDebugTrace(trace);
        }
        if (lookAhead) {
            lookAhead->ParserAt(chunk.parsedTo);
        }
        // The position stored is where the unparsed rest begins, so an interrupted pass or a held
        // line is read again, whole, by the next pass.
        if (!StorePosition(generation, chunk.parsedTo)) {
            return;
        }
        progress = static_cast<double>(chunk.readTo) / static_cast<double>(limit) * 100.0;
    }
    ahead.reset();
    offset = reader.Offset();
    std::string& rest = reader.Pending();
    if (!ended || !reader.ReachedLimit()) {
        return;
    }
    if (reader.ProvisionalOpen()) {
        // The line goes on, with no end yet, or past the cap: it is no longer the line parsed.
        settleProvisional(false);
    }
    // An unterminated last line: its writer may still be writing it, so it is left for the next
    // pass to read whole, unless the file is known to be complete. A line cut by the read cap is
    // neither parsed nor held: it lies beyond what is read, and so does the position stored, so
    // that later passes read nothing.
    const bool endOfFile = offset >= size;
    bool parseRest = false;
    {
        const auto hold = store_.Hold();
        if (generation != generation_) {
            return;
        }
        stoppedAtReadCap_ = stoppedAtReadCap_ || limit < size;
        HeldLine before = std::move(heldLine_);
        heldLine_ = {};
        if (!endOfFile) {
            readOffset_ = offset;
        } else if (!rest.empty()) {
            parseRest = fileComplete_;
            if (!parseRest) {
                heldLine_.held = true;
                heldLine_.offset = offset - rest.size();
                heldLine_.fileSize = std::max(size, offset);
                heldLine_.since = SeamNow(seams_);
                if (before.held && before.offset == heldLine_.offset &&
                    before.fileSize == heldLine_.fileSize) {
                    heldLine_.since = before.since;
                }
                if (heldLine_.fileSize == offset) {
                    heldLine_.text = std::move(rest);
                }
            }
        }
    }
    if (parseRest) {
        ParseLine(rest);
        StorePosition(generation, offset);
    }
    doneEvent_.Set();
}
