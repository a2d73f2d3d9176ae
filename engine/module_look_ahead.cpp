#include "engine/module_look_ahead.h"

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "engine/behavior_tag.h"
#include "engine/line_text.h"
#include "engine/platform.h"
#include "engine/text.h"

std::string_view ModuleFileToLookUp(std::string_view line) {
    const BehaviorTag* tag = MatchBehaviorTag(line);
    if (tag == nullptr || tag->handling != TagHandling::ModuleLoad) {
        return {};
    }
    std::string_view fields[kLineFields];
    if (SplitAtMost(line, '|', fields, kLineFields) != kLineFields) {
        return {};
    }
    std::string_view sub[kMostLoadSubFields];
    const std::size_t count = SplitLoadField(fields[4], sub);
    return count == 0 || LoadLineNamesSigner(count) ? std::string_view() : sub[0];
}

ModuleLookAhead::ModuleLookAhead(std::shared_ptr<LogFileSource> files, std::string path,
                                 uint64_t from, uint64_t limit, uint64_t ahead,
                                 SignerLookup& signer, DriveTableCache& drives)
    : files_(std::move(files)),
      path_(std::move(path)),
      from_(from),
      limit_(limit),
      ahead_(ahead),
      signer_(signer),
      drives_(drives),
      parserAt_(from),
      scannedTo_(from),
      thread_([this] { Run(); }) {}

ModuleLookAhead::~ModuleLookAhead() {
    stopping_ = true;
    {
        std::lock_guard guard(mutex_);
        quit_ = true;
    }
    moved_.notify_one();
    thread_.join();
}

void ModuleLookAhead::ParserAt(uint64_t offset) {
    {
        std::lock_guard guard(mutex_);
        parserAt_ = offset;
    }
    moved_.notify_one();
}

bool ModuleLookAhead::WaitForParser(uint64_t offset) {
    std::unique_lock guard(mutex_);
    moved_.wait(guard, [&] { return quit_ || offset <= parserAt_ + ahead_; });
    return !quit_;
}

bool ModuleLookAhead::FirstAskSinceAWhile(std::string_view file) {
    const auto now = std::chrono::steady_clock::now();
    if (now - askedSince_ >= kForgetAsked || asked_.size() >= kMostAsked) {
        asked_.clear();
        askedSince_ = now;
    }
    if (asked_.find(file) != asked_.end()) {
        return false;
    }
    asked_.emplace(file);
    return true;
}

void ModuleLookAhead::Run() {
    // Its work pays only where a processor is idle; where none is, the parser must not lose its
    // processor to this thread.
    LowerThreadPriority();
    try {
        LookAhead();
    } catch (const std::exception&) {
        // Out of memory, most likely: the parser asks for itself what is not asked here.
    }
}

void ModuleLookAhead::LookAhead() {
    const std::unique_ptr<LogFileReader> file = files_->Open(path_);
    if (!file || !file->Seek(from_)) {
        return;
    }
    std::vector<char> buffer(kReadSize);
    std::size_t kept = 0;     // bytes at the buffer's start not looked at yet: a line's start
    uint64_t offset = from_;  // where the buffer begins in the file
    // A line longer than the buffer is no module line the parser takes (a module file's path has
    // at most 259 bytes): its bytes are passed over up to its end, not kept.
    bool passingOver = false;
    std::string path;
    char name[kSignerNameSize];
    while (offset + kept < limit_ && WaitForParser(offset + kept)) {
        if (kept == buffer.size()) {
            offset += kept;
            kept = 0;
            passingOver = true;
        }
        const std::size_t got = file->Read(buffer.data() + kept, buffer.size() - kept);
        if (got == 0) {
            return;
        }
        const char* const begin = buffer.data();
        const char* const end = begin + kept + got;
        const char* line = begin;
        if (passingOver) {
            const auto* at = static_cast<const char*>(std::memchr(line, '\n', end - line));
            if (at == nullptr) {
                offset += static_cast<uint64_t>(end - begin);
                continue;
            }
            line = at + 1;
            passingOver = false;
        }
        // Only the lines that start with the module tag as the log writes it, which spares a
        // look at the tags of every other line; a module line in other letters is left to the
        // parser.
        for (const char* at; (at = static_cast<const char*>(std::memchr(line, '\n', end - line)));
             line = at + 1) {
            if (at - line > 6 && std::memcmp(line, "[MOD]|", 6) == 0 && at[-1] == '\r') {
                if (stopping_.load(std::memory_order_relaxed)) {
                    return;
                }
                const std::string_view file =
                    ModuleFileToLookUp(std::string_view(line, at - 1 - line));
                if (!file.empty() && FirstAskSinceAWhile(file)) {
                    path.assign(file);
                    drives_.Convert(path);
                    signer_.GetSystemPathSignerName(path, name);
                }
            }
        }
        kept = static_cast<std::size_t>(end - line);
        std::memmove(buffer.data(), line, kept);
        offset += static_cast<uint64_t>(line - begin);
        scannedTo_ = offset;
    }
    if (offset + kept >= limit_) {
        scannedTo_ = limit_;
    }
}
