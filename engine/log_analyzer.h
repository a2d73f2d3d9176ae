// The engine object: the parser that fills the process and behaviour store, and the follower
// thread that reads the log. The store itself (process_store.h) is reached through Store().
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/device_path.h"
#include "engine/log_file.h"
#include "engine/manual_reset_event.h"
#include "engine/process_record.h"
#include "engine/signer_seam.h"
#include "engine/process_store.h"
#include "engine/text_arena.h"

struct BehaviorTag;
struct CutLine;

// Every read is one chunk; no pass reads beyond ReadCap (plus the chunk that crosses it).
inline constexpr std::size_t kChunkSize = 0x10000;
inline constexpr uint64_t kReadCap = 0x25800000;
// How long a file must stay as it is before its unterminated last line counts as finished. Passes
// are a throttle apart anyway; this keeps a writer that pauses mid-line safe from faster wakes.
inline constexpr std::chrono::milliseconds kHeldLineQuietTime{1000};

// What the engine asks of the platform; a null member means the platform's own.
struct AnalyzerSeams {
    std::shared_ptr<DriveDeviceSource> drives = nullptr;
    // Who signed a loaded module (the programs plug in the tools' cached lookup); null: nobody is
    // asked, and every module counts as signed by someone other than the system.
    std::shared_ptr<SignerLookup> signer = nullptr;
    std::shared_ptr<LogFileSource> files = nullptr;
    // The pause after every wake, which keeps passes at least this far apart.
    std::chrono::milliseconds throttle{1000};
    // How long a file must stay as it is before its unterminated last line counts as finished.
    std::chrono::milliseconds heldLineQuietTime = kHeldLineQuietTime;
    // No pass reads beyond this point of a file (plus the chunk that crosses it).
    uint64_t readCap = kReadCap;
    // The steady clock, for the age of the drive table; tests set their own so that none sleeps.
    DriveTableCache::Clock clock = nullptr;
    // False keeps an unterminated last line held however long the file stays as it is, until
    // SetFileComplete: for a reader that must never see a half-written line.
    bool parseQuietHeldLine = true;
};

class LogAnalyzer {
  public:
    explicit LogAnalyzer(AnalyzerSeams seams = {});
    ~LogAnalyzer();
    LogAnalyzer(const LogAnalyzer&) = delete;
    LogAnalyzer& operator=(const LogAnalyzer&) = delete;

    // --- The store. Readers hold its lock through a guard (Store().Read()); changes from outside
    // the parser go through these, each in one hold of the lock.

    ProcessStore& Store() { return store_; }
    const ProcessStore& Store() const { return store_; }
    // Takes ownership of `record`. Without a creator it becomes the last root; with one, the
    // creator's last child, and `creation` (if any) is appended to the creator's behaviours, all in
    // one hold of the lock.
    ProcessRecord* InsertProcess(std::unique_ptr<ProcessRecord> record, ProcessRecord* creator,
                                 const BehaviorText* creation);
    void AppendBehavior(ProcessRecord* record, const BehaviorText& behavior);
    // Destroys every record; references to records are invalid afterwards.
    void ClearProcesses();

    // Turns one log line (without its CR LF) into changes of the store; bad lines change nothing.
    void ParseLine(std::string_view line);

    // Lines handed to the parser since the store was last cleared, and those that changed nothing.
    struct ParseCounts {
        uint64_t lines = 0;
        uint64_t dropped = 0;
    };
    ParseCounts Counts() const { return {linesParsed_.load(), linesDropped_.load()}; }
    // The bytes the parser keeps from line to line for its own work (not the store's).
    std::size_t ScratchBytes() const;

    // --- The follower.

    // Follows `path` from now on. A path other than the current one (ASCII case ignored) clears
    // the store and starts reading it from its beginning. Starts no pass: call Wake().
    void SetLogPath(const std::string& path);
    // Says that nobody writes the file any more, so a last line without CR LF is parsed at once
    // rather than held back for its writer to finish it.
    void SetFileComplete(bool complete);
    // True once a pass over the current file stopped at kReadCap before the file's end: the store
    // lacks the rest of the file.
    bool StoppedAtReadCap();
    // Asks for a pass. Returns a ticket for WaitForWake.
    uint64_t Wake();
    // A followed file that became shorter than what was read has been started anew by its writer.
    // A pass that finds this reads no further and signals a pass's end; the store stays as it is
    // until the owner, who may point into it, calls RestartLog. True from then until RestartLog.
    bool LogRestarted();
    // Clears the store and has the next pass read the file from its beginning.
    void RestartLog();
    // Blocks until the wake with `ticket` has been handled, whether or not it found anything to
    // read. False when the analyzer stopped first.
    bool WaitForWake(uint64_t ticket);
    // Whether the wake with `ticket` has been handled, without waiting.
    bool WakeHandled(uint64_t ticket);

    // Why the followed file is not read (any more). The store keeps what was read before.
    enum class LogProblem {
        None,
        NotRegularFile,  // a folder, a pipe, a device: refused before any read
        ReadFailed,      // a pass failed (out of memory, say); the file is not read further
    };
    // `detail`, when given, gets what failed for ReadFailed.
    LogProblem Problem(std::string* detail = nullptr);
    // While a pass has left an unterminated last line for its writer to finish: how long until a
    // wake parses it as it stands (zero once it may). Nothing when no line waits so.
    std::optional<std::chrono::milliseconds> HeldLineWait();

    // The path followed, and where the next pass starts reading it.
    std::string LogPath() const;
    uint64_t ReadOffset() const;

    // --- A pass's end, signalled whenever a pass reaches the end of its limit (or fails, or finds
    // the log started anew), and kept signalled until reset: the window's refresh thread waits for
    // it, resets it, and rebuilds its rows.
    void WaitForPassEnd();
    bool PassEnded();
    void ResetPassEnded();
    // Signals it without a pass: wakes whoever waits, as the window does to stop its thread.
    void SignalPassEnded();

    // Ends the follower: lookups find nothing from now on, and no pass starts. The destructor
    // stops it too.
    void Stop();

    std::atomic<double> progress{0.0};  // percent of the current pass's limit read

  private:
    struct ParseScratch;

    // A line of any tag but the ordinary ones; true when it changed the store.
    bool ApplySpecialLine(const BehaviorTag& tag, std::string_view line);
    void CountLines(uint64_t parsed, uint64_t dropped);
    // What the follower does with each line: ordinary lines, most of a log, are gathered and
    // applied a batch at a time, so the lock is taken once per batch rather than once per line.
    // Lines are applied in their order. The batch's views point into the caller's buffer: it must
    // be flushed before the buffer changes.
    void ParseLineBatched(std::string_view line);
    void ApplyCutLine(const CutLine& cut);
    void FlushBatch();
    // The parser's side of keeping fresh memory out of the lock: without the lock, a chunk is made
    // ready once the arena's current one is half full; with it, the chunk is handed to the arena,
    // and whether the arena wants another is noted for next time.
    void PrepareSpareChunk();
    void UseSpareChunk();
    void NoteArenaNext();
    static constexpr std::size_t kBatchLines = 512;  // the lock is held well under a millisecond
    // A pass with at least this much to read has the arena's chunks made ready on a thread of
    // their own, up to kSupplyDepth of them ahead.
    static constexpr uint64_t kSupplyFrom = uint64_t{8} << 20;
    static constexpr std::size_t kSupplyDepth = 4;
    // How far ahead of the parser a long pass's module lookups go (ModuleLookAhead): far enough to
    // stay ahead while the parser runs, near enough that the signer cache (16,384 missing files)
    // still holds the answers when the parser comes to them, even in a log of module lines only.
    static constexpr uint64_t kLookAhead = uint64_t{2} << 20;
    // Such a pass's lines are read and cut on a thread of their own, in reads of this size (fewer
    // hand-overs) and up to this many reads ahead of the follower.
    static constexpr std::size_t kCutAheadRead = 4 * kChunkSize;
    static constexpr std::size_t kCutAheadDepth = 4;

    bool ParseProcessCreate(std::string_view line);
    bool ParseLoadLine(const std::string_view* fields, bool isModule);
    // The parser's lookup, with the store's lock held: nothing is found while stopping, nor for a
    // file that is no longer the one being followed (a pass over the old file may still be parsing
    // its last lines). The index gives what the pre-order walk of the roots would.
    ProcessRecord* FindActor(uint32_t id);
    bool IsStalePass() const;

    // A last line without CR LF that a pass left for its writer to finish: where it starts, the
    // file's size then, and when. Parsed as it stands once a wake finds the file no larger at least
    // the quiet time later. Its bytes are kept, so that they are read from the file only once.
    struct HeldLine {
        bool held = false;
        uint64_t offset = 0;
        uint64_t fileSize = 0;
        std::chrono::steady_clock::time_point since;
        std::string text;
    };
    // A held line parsed as it stands while its writer may yet go on: what parsing it changed, so
    // that the change can be withdrawn when the line turns out longer. A line changes at most one
    // process's place, one behaviour and one process's fields.
    struct ProvisionalLine {
        uint64_t offset = 0;  // where the line starts; readOffset stays there
        uint64_t length = 0;  // its bytes as parsed
        ProcessRecord* inserted = nullptr;
        ProcessRecord* appendedTo = nullptr;
        const void* appended = nullptr;  // the appended behaviour's identity
        ProcessRecord* updated = nullptr;
        std::unique_ptr<ProcessFields> before;  // the updated record's fields before the line
        ParseCounts counted;                    // what the line added to the counts
    };
    // The store's side of a provisional line, with the store's lock held; cheap unless one is being
    // parsed.
    void NoteInserted(ProcessRecord* record) {
        if (recording_ != nullptr) {
            recording_->inserted = record;
        }
    }
    void NoteAppended(ProcessRecord* record) {
        if (recording_ != nullptr) {
            recording_->appendedTo = record;
            recording_->appended = record->behaviors.back().Identity();
        }
    }
    void NoteUpdating(ProcessRecord* record) {
        if (recording_ != nullptr && recording_->updated == nullptr) {
            recording_->updated = record;
            recording_->before = std::make_unique<ProcessFields>(*record);
        }
    }
    // Undoes what the provisional line changed, with the store's lock held.
    void WithdrawProvisional();

    void FollowLoop();
    void RunPass();
    void FailPass(const char* what);
    void ReadPass(LogFileReader& file, const std::string& path, uint64_t start, uint64_t size,
                  uint64_t generation, std::string pending,
                  std::optional<uint64_t> provisionalLength);
    void ParseHeldLine(LogFileReader& file, uint64_t start, uint64_t size, uint64_t generation,
                       std::string text, bool provisional);
    bool StorePosition(uint64_t generation, uint64_t offset);

    AnalyzerSeams seams_;
    // Every path the parser converts goes through it; each pass starts by renewing it.
    DriveTableCache drives_;
    ProcessStore store_;
    ProcessRecord* lastActor_ = nullptr;  // the parser's last lookup
    std::atomic<uint64_t> linesParsed_{0};
    std::atomic<uint64_t> linesDropped_{0};
    std::unique_ptr<ParseScratch> scratch_;

    // The follower's bookkeeping is guarded by the store's lock, so that a change of file and the
    // clearing of the store are one step for every reader and for the parser.
    std::string logPath_;      // guarded by the store's lock
    uint64_t readOffset_ = 0;  // guarded by the store's lock
    std::atomic<bool> stopRequested_{false};
    ManualResetEvent wakeEvent_;
    ManualResetEvent doneEvent_;  // set when a pass reaches the end of its limit

    // Changes whenever the followed file does; a pass parses for the generation it started with.
    uint64_t generation_ = 1;                  // guarded by the store's lock
    std::atomic<uint64_t> passGeneration_{0};  // the running pass's, 0 outside passes
    bool fileComplete_ = false;                // guarded by the store's lock
    bool stoppedAtReadCap_ = false;            // guarded by the store's lock
    HeldLine heldLine_;                        // guarded by the store's lock
    // Null but for the few passes between a held line's provisional parse and the pass that sees
    // how its writer went on.
    std::unique_ptr<ProvisionalLine> provisional_;  // guarded by the store's lock
    ProvisionalLine* recording_ = nullptr;          // the follower's, set while one is parsed
    LogProblem problem_ = LogProblem::None;         // guarded by the store's lock
    std::string problemDetail_;                     // guarded by the store's lock
    // The generation in which a pass found the file shorter than what was read; 0 for none.
    uint64_t restartedGeneration_ = 0;  // guarded by the store's lock
    // With the store's lock held: notes a file shorter than the read offset (log_restart.cpp).
    bool NoteShorterFile(uint64_t generation, uint64_t size);
    // With the store's lock held or not: clears the store and everything known of the followed
    // file, so the next pass reads it from its beginning.
    void ReadFromStart();

    std::mutex wakeMutex_;
    std::condition_variable wakeHandled_;
    uint64_t wakesRequested_ = 0;  // guarded by wakeMutex_
    uint64_t wakesHandled_ = 0;    // guarded by wakeMutex_
    ManualResetEvent stopEvent_;   // cuts the throttle short when stopping

    std::thread followerThread;  // last: it starts once everything above exists
};
