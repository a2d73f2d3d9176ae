// The signers of the module files a long pass is about to meet, asked on a thread of its own a
// little ahead of the parser. A log read far from the machine that wrote it names tens of
// thousands of module files that are not there; the first look at each is a system call, and in a
// fresh process's first pass those looks cost the parser about a third of its time. Asked ahead,
// the parser finds each answer in the signer's cache. Nothing the parser does depends on this
// thread: it asks the signer itself as before, and a look-ahead that cannot read the file, or
// falls behind, only leaves the asking to the parser.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "engine/device_path.h"
#include "engine/log_file.h"
#include "engine/signer_seam.h"

// The module file a [MOD] line asks the signer of, as the line gives it (its drive not converted
// yet); empty when the line is no module load of a layout the parser takes, or names its signer.
std::string_view ModuleFileToLookUp(std::string_view line);

class ModuleLookAhead {
  public:
    // Opens `path` with `files` (on its own thread) and reads it from `from` (a line start) up to
    // `limit`, at most `ahead` bytes beyond the place the parser last gave (ParserAt; `from` until
    // then); converts each module file's path with `drives` and asks `signer`, which must be safe
    // to call from several threads. `signer` and `drives` must outlive this.
    ModuleLookAhead(std::shared_ptr<LogFileSource> files, std::string path, uint64_t from,
                    uint64_t limit, uint64_t ahead, SignerLookup& signer, DriveTableCache& drives);
    // Stops the thread and waits for it: at most one module lookup and one read later.
    ~ModuleLookAhead();
    ModuleLookAhead(const ModuleLookAhead&) = delete;
    ModuleLookAhead& operator=(const ModuleLookAhead&) = delete;

    // The parser has parsed the file up to `offset`.
    void ParserAt(uint64_t offset);
    // How far the look-ahead has asked about every module line (a line start or `limit`).
    uint64_t ScannedTo() const { return scannedTo_.load(); }

  private:
    void Run();
    void LookAhead();
    // Waits until the bytes from `offset` are no more than `ahead_` beyond the parser; false when
    // stopping.
    bool WaitForParser(uint64_t offset);

    // Whether `file` was not asked about in the last while. Most module lines of a log name a few
    // hundred files: the parser finds those in the signer's cache anyway, and asking again would
    // only make it wait for the cache's mutex. Forgotten well within the cache's second.
    bool FirstAskSinceAWhile(std::string_view file);

    static constexpr std::size_t kReadSize = std::size_t{256} << 10;
    static constexpr std::chrono::milliseconds kForgetAsked{250};
    static constexpr std::size_t kMostAsked = 4096;

    std::shared_ptr<LogFileSource> files_;
    const std::string path_;
    const uint64_t from_;
    const uint64_t limit_;
    const uint64_t ahead_;
    SignerLookup& signer_;
    DriveTableCache& drives_;
    std::mutex mutex_;
    std::condition_variable moved_;
    uint64_t parserAt_;  // guarded by mutex_, as is quit_
    bool quit_ = false;
    std::atomic<bool> stopping_{false};  // quit_, as seen between two lines
    std::atomic<uint64_t> scannedTo_;
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view path) const {
            return std::hash<std::string_view>()(path);
        }
    };
    // The look-ahead thread's own.
    std::unordered_set<std::string, PathHash, std::equal_to<>> asked_;
    std::chrono::steady_clock::time_point askedSince_;
    std::thread thread_;  // last: it starts once everything above exists
};
