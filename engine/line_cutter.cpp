#include "engine/line_cutter.h"

#include <utility>

#include "engine/line_text.h"
#include "engine/text.h"

CutLine CutLogLine(std::string_view line) {
    CutLine cut;
    cut.line = line;
    const BehaviorTag* tag = MatchBehaviorTag(line);
    if (tag == nullptr) {
        return cut;
    }
    if (tag->handling != TagHandling::Ordinary) {
        cut.tag = tag;  // parsed where it is applied: its layout is its own
        return cut;
    }
    std::string_view fields[kLineFields];
    if (SplitAtMost(line, '|', fields, kLineFields) != kLineFields) {
        return cut;
    }
    cut.tag = tag;
    cut.actor = ParseNumber(fields[3]);
    cut.time = fields[1];
    cut.info = fields[4];
    cut.handling = fields[5];
    return cut;
}

PassReader::PassReader(LogFileReader& file, uint64_t offset, uint64_t limit, std::string pending,
                       std::optional<uint64_t> provisionalLength, std::size_t readSize)
    : file_(file),
      offset_(offset),
      limit_(limit),
      pending_(std::move(pending)),
      provisionalLength_(provisionalLength),
      readSize_(readSize) {}

bool PassReader::Next(CutChunk& chunk) {
    chunk.lines.clear();
    chunk.provisionalEnded.reset();
    if (offset_ >= limit_) {
        return false;
    }
    // Only the new bytes (and the CR before them) can hold a CR LF not yet seen: a line with no end
    // in sight must not be searched again for every read.
    const std::size_t searchFrom = pending_.empty() ? 0 : pending_.size() - 1;
    const std::size_t had = pending_.size();
    // Read straight behind what is pending; the bytes the read does not fill are cut off again.
    pending_.resize(had + readSize_);
    const std::size_t got = file_.Read(pending_.data() + had, readSize_);
    pending_.resize(had + got);
    if (got == 0) {
        return false;  // the file shrank after its size was taken
    }
    offset_ += got;
    chunk.readTo = offset_;
    std::size_t consumed = 0;
    std::size_t end = pending_.find("\r\n", searchFrom);
    if (provisionalLength_ && end != std::string::npos) {
        // Ended where it was parsed: nothing to do again. Else the whole line replaces it.
        const bool asParsed = end == *provisionalLength_;
        chunk.provisionalEnded = asParsed;
        provisionalLength_.reset();
        if (asParsed) {
            consumed = end + 2;
            end = pending_.find("\r\n", consumed);
        }
    }
    if (end != std::string::npos || consumed != 0) {
        // The lines go with the chunk; the rest, less than a read, stays. The chunk's old memory
        // becomes the pending bytes', so that a pass allocates nothing per read.
        chunk.text.swap(pending_);
        const std::string_view text = chunk.text;
        for (; end != std::string::npos; end = text.find("\r\n", consumed)) {
            chunk.lines.push_back(CutLogLine(text.substr(consumed, end - consumed)));
            consumed = end + 2;
        }
        pending_.assign(text.substr(consumed));
        if (pending_.capacity() > 4 * readSize_ && pending_.size() < readSize_) {
            pending_.shrink_to_fit();  // a huge line is behind: its memory goes with it
        }
    }
    chunk.parsedTo = offset_ - pending_.size();
    return true;
}

CutAhead::CutAhead(PassReader& reader, std::size_t depth)
    : reader_(reader), depth_(depth), thread_([this] { Run(); }) {}

CutAhead::~CutAhead() {
    {
        std::lock_guard guard(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool CutAhead::Next(CutChunk& chunk) {
    std::unique_lock guard(mutex_);
    spare_.push_back(std::move(chunk));
    changed_.notify_all();
    changed_.wait(guard, [this] { return !ready_.empty() || ended_; });
    if (ready_.empty()) {
        if (failure_) {
            std::rethrow_exception(std::exchange(failure_, nullptr));
        }
        return false;
    }
    chunk = std::move(ready_.front());
    ready_.pop_front();
    return true;
}

void CutAhead::Run() {
    std::unique_lock guard(mutex_);
    while (!quit_) {
        if (ready_.size() >= depth_) {
            changed_.wait(guard, [this] { return quit_ || ready_.size() < depth_; });
            continue;
        }
        CutChunk chunk;
        if (!spare_.empty()) {
            chunk = std::move(spare_.back());
            spare_.pop_back();
        }
        guard.unlock();
        bool more = false;
        std::exception_ptr failure;
        try {
            more = reader_.Next(chunk);
        } catch (...) {
            // No memory for a huge line, say: the follower fails the pass where it has got to.
            failure = std::current_exception();
        }
        guard.lock();
        if (!more) {
            ended_ = true;
            failure_ = failure;
            changed_.notify_all();
            return;
        }
        ready_.push_back(std::move(chunk));
        changed_.notify_all();
    }
}
