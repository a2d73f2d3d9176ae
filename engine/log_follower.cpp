// The follower thread: reads the log in passes when woken, each from where the last one stopped.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/log_analyzer.h"
#include "engine/platform.h"
#include "engine/text.h"

namespace {

uint64_t NowMilliseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

void LogAnalyzer::SetLogPath(const std::string& path) {
    std::lock_guard guard(lock);
    if (!EqualsNoCaseMultibyte(path, logPath)) {
        ClearProcesses();
        readOffset = 0;
        heldLine_ = {};
        ++generation_;
    }
    logPath = path;
}

void LogAnalyzer::SetFileComplete(bool complete) {
    std::lock_guard guard(lock);
    fileComplete_ = complete;
}

uint64_t LogAnalyzer::Wake() {
    uint64_t ticket;
    {
        std::lock_guard guard(wakeMutex_);
        ticket = ++wakesRequested_;
    }
    wakeEvent.Set();
    return ticket;
}

bool LogAnalyzer::WaitForWake(uint64_t ticket) {
    std::unique_lock guard(wakeMutex_);
    wakeHandled_.wait(guard, [&] { return wakesHandled_ >= ticket || stopRequested; });
    return wakesHandled_ >= ticket;
}

void LogAnalyzer::FollowLoop() {
    while (!stopRequested) {
        wakeEvent.Wait();
        if (stopRequested) {
            break;
        }
        // Reset before reading: a wake that arrives during the pass causes one more pass.
        wakeEvent.Reset();
        uint64_t requested;
        {
            std::lock_guard guard(wakeMutex_);
            requested = wakesRequested_;
        }
        RunPass();
        {
            std::lock_guard guard(wakeMutex_);
            wakesHandled_ = std::max(wakesHandled_, requested);
        }
        wakeHandled_.notify_all();
        stopEvent_.WaitFor(seams_.throttle);
    }
}

bool LogAnalyzer::StorePosition(uint64_t generation, uint64_t offset) {
    std::lock_guard guard(lock);
    if (generation != generation_) {
        return false;
    }
    readOffset = offset;
    return true;
}

void LogAnalyzer::RunPass() {
    std::string path;
    uint64_t start;
    uint64_t generation;
    HeldLine held;
    bool complete;
    {
        std::lock_guard guard(lock);
        path = logPath;
        start = readOffset;
        generation = generation_;
        held = heldLine_;
        complete = fileComplete_;
    }
    std::unique_ptr<LogFileReader> file = seams_.files->Open(path);
    if (!file) {
        return;
    }
    uint64_t size = 0;
    if (!file->Size(size) || NoteShorterFile(generation, size) || start >= size) {
        return;  // nothing new: no pass, progress keeps its value, no signal
    }
    if (held.held && held.offset == start && size <= held.fileSize) {
        // Nothing new since a pass held the last line back. Once the file has stayed so for a
        // while, its writer has evidently finished the line without CR LF: parse it as it stands.
        const bool quiet =
            complete || (seams_.parseQuietHeldLine &&
                         std::chrono::steady_clock::now() - held.since >= kHeldLineQuietTime);
        if (quiet && start < kReadCap) {
            passGeneration_ = generation;
            ParseHeldLine(*file, start, size, generation);
            passGeneration_ = 0;
        }
        return;
    }
    passGeneration_ = generation;
    ReadPass(*file, start, size, generation);
    passGeneration_ = 0;
}

void LogAnalyzer::ParseHeldLine(LogFileReader& file, uint64_t start, uint64_t size,
                                uint64_t generation) {
    std::string line(static_cast<std::size_t>(size - start), '\0');
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
    progress = 0.0;
    ParseLine(line);
    {
        std::lock_guard guard(lock);
        if (generation != generation_) {
            return;
        }
        readOffset = start + got;
        heldLine_ = {};
    }
    progress = 100.0;
    doneEvent.Set();
}

void LogAnalyzer::ReadPass(LogFileReader& file, uint64_t start, uint64_t size,
                           uint64_t generation) {
    const uint64_t limit = std::min(size, kReadCap);
    if (!file.Seek(start)) {
        return;
    }
    progress = 0.0;
    if (start >= limit) {
        return;  // everything up to the read cap is read already
    }
    std::vector<char> buffer(kChunkSize);
    // Data read but not yet parsed. Lines are cut by moving `consumed` and the parsed front is
    // dropped once per chunk, so a pass stays linear in its bytes.
    std::string pending;
    uint64_t offset = start;
    bool reachedLimit = false;
    while (!reachedLimit && !stopRequested) {
        {
            std::lock_guard guard(lock);
            if (generation != generation_) {
                return;  // another file is followed now: this one's lines must not reach it
            }
        }
        const std::size_t got = file.Read(buffer.data(), buffer.size());
        if (got == 0) {
            break;  // the file shrank after its size was taken
        }
        // Only the new bytes (and the CR before them) can hold a CR LF not yet seen: a line with no
        // end in sight must not be searched again for every chunk.
        const std::size_t searchFrom = pending.empty() ? 0 : pending.size() - 1;
        pending.append(buffer.data(), got);
        const uint64_t ticks = NowMilliseconds();
        std::size_t consumed = 0;
        for (std::size_t end = pending.find("\r\n", searchFrom); end != std::string::npos;
             end = pending.find("\r\n", consumed)) {
            ParseLineBatched(std::string_view(pending).substr(consumed, end - consumed));
            consumed = end + 2;
        }
        FlushBatch();  // its lines point into `pending`
        pending.erase(0, consumed);
        const uint64_t elapsed = NowMilliseconds() - ticks;
        if (elapsed != 0) {
            char trace[4096];
            std::snprintf(trace, sizeof(trace), "useTime:%d", static_cast<int>(elapsed));
            WriteDebugTrace(trace);
        }
        offset += got;
        // The position stored is where the unparsed rest begins, so an interrupted pass or a held
        // line is read again, whole, by the next pass.
        if (!StorePosition(generation, offset - pending.size())) {
            return;
        }
        progress = static_cast<double>(offset) / static_cast<double>(limit) * 100.0;
        reachedLimit = offset >= limit;
    }
    if (!reachedLimit) {
        return;
    }
    // An unterminated last line: its writer may still be writing it, so it is left for the next
    // pass to read whole, unless the file is known to be complete. A line cut by the read cap is
    // neither parsed nor held: it lies beyond what is read.
    const bool endOfFile = offset >= size;
    bool parseRest = false;
    {
        std::lock_guard guard(lock);
        if (generation != generation_) {
            return;
        }
        const HeldLine before = heldLine_;
        heldLine_ = {};
        if (!pending.empty() && endOfFile) {
            parseRest = fileComplete_;
            if (!parseRest) {
                heldLine_ = {true, offset - pending.size(), std::max(size, offset),
                             std::chrono::steady_clock::now()};
                if (before.held && before.offset == heldLine_.offset &&
                    before.fileSize == heldLine_.fileSize) {
                    heldLine_.since = before.since;
                }
            }
        }
    }
    if (parseRest) {
        ParseLine(pending);
        StorePosition(generation, offset);
    }
    doneEvent.Set();
}
