// Reading a pass's bytes and cutting them into lines, apart from applying them to the store. What a
// line needs before the store is touched (its tag and an ordinary line's fields) depends on its
// bytes alone, so a long pass does it on a thread of its own, a few chunks ahead of the follower,
// which applies the lines in their order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/behavior_tag.h"
#include "engine/log_file.h"

// One line as cut. The views point into the chunk's text that holds the line.
struct CutLine {
    const BehaviorTag* tag = nullptr;  // null: the line is dropped (no tag, or not its layout)
    std::string_view line;             // the whole line, what a special line is applied from
    // An ordinary line's acting process and the texts its behaviour keeps.
    uint32_t actor = 0;
    std::string_view time;
    std::string_view info;
    std::string_view handling;
};

CutLine CutLogLine(std::string_view line);

// Whole lines read in one step, with the bytes they point into.
struct CutChunk {
    // A chunk with lines has a read's worth of room or more, always on the heap: moving the chunk
    // (to and from the reading thread) moves the bytes' block, and the lines' views stay valid.
    std::string text;
    std::vector<CutLine> lines;
    // The file's offset just past the chunk's last CR LF (where the unparsed rest begins), and how
    // far the file is read.
    uint64_t parsedTo = 0;
    uint64_t readTo = 0;
    // The pass's first line had been parsed as it stood before (a provisional line): set by the
    // chunk where it is found to end, true when it ended there, as parsed.
    std::optional<bool> provisionalEnded;
};

// A pass's reading, one read at a time.
class PassReader {
  public:
    // Reads `file` from `offset` (already sought) up to `limit`, `pending` being the bytes before
    // `offset` not yet parsed. `provisionalLength`: the length of the pass's first line as parsed
    // provisionally, when it was.
    PassReader(LogFileReader& file, uint64_t offset, uint64_t limit, std::string pending,
               std::optional<uint64_t> provisionalLength, std::size_t readSize);

    // Reads once and cuts the lines that end in what is read into `chunk`, whose memory is reused.
    // A chunk may hold no line (a line longer than a read goes on). False once the limit is
    // reached or the file has no more bytes.
    bool Next(CutChunk& chunk);

    bool ReachedLimit() const { return offset_ >= limit_; }
    uint64_t Offset() const { return offset_; }
    bool ProvisionalOpen() const { return provisionalLength_.has_value(); }
    // The bytes after the last CR LF read.
    std::string& Pending() { return pending_; }

  private:
    LogFileReader& file_;
    uint64_t offset_;
    const uint64_t limit_;
    std::string pending_;
    std::optional<uint64_t> provisionalLength_;
    const std::size_t readSize_;
};

// A PassReader run on a thread of its own, up to `depth` chunks ahead of the caller.
class CutAhead {
  public:
    CutAhead(PassReader& reader, std::size_t depth);
    ~CutAhead();  // stops and joins the thread, also when the pass ends early
    CutAhead(const CutAhead&) = delete;
    CutAhead& operator=(const CutAhead&) = delete;

    // The next chunk, in order, waiting for it; `chunk`'s memory goes back for reuse. False once
    // the reader has ended; what the reader threw is thrown here, after the chunks before it.
    bool Next(CutChunk& chunk);

  private:
    void Run();

    PassReader& reader_;
    const std::size_t depth_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<CutChunk> ready_;
    std::vector<CutChunk> spare_;
    bool ended_ = false;
    bool quit_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};
