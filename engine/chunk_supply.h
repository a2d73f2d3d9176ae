// Fresh chunks for the text arena, made ready on a thread of their own while the parser works.
// A fresh process's first pass over a big log spends about a third of its time in the system
// supplying and clearing new pages; on the follower's thread that is time the parse waits, on a
// second thread it overlaps the parse.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "engine/platform.h"
#include "engine/text_arena.h"

class ChunkSupply {
  public:
    // Keeps up to `depth` chunks of `size` bytes ready, their pages already supplied.
    ChunkSupply(std::size_t depth, std::size_t size)
        : depth_(depth), size_(size), thread_([this] { Run(); }) {}
    ~ChunkSupply() {
        stopping_ = true;
        {
            std::lock_guard guard(mutex_);
            quit_ = true;
        }
        wanted_.notify_one();
        thread_.join();
    }
    ChunkSupply(const ChunkSupply&) = delete;
    ChunkSupply& operator=(const ChunkSupply&) = delete;

    // A ready chunk; when none is ready yet, one made here and now, as without a supply: the
    // parser never waits for the supply's thread.
    TextArena::Chunk Take() {
        {
            std::lock_guard guard(mutex_);
            if (!ready_.empty()) {
                TextArena::Chunk chunk = std::move(ready_.back());
                ready_.pop_back();
                wanted_.notify_one();
                return chunk;
            }
        }
        return TextArena::Chunk::Prefaulted(size_);
    }

  private:
    void Run() {
        // Its work pays only where a processor is idle; where none is, the parser's own thread
        // (which holds the store's lock at times) must not lose its processor to this one.
        LowerThreadPriority();
        std::unique_lock guard(mutex_);
        while (!quit_) {
            if (ready_.size() >= depth_) {
                wanted_.wait(guard, [this] { return quit_ || ready_.size() < depth_; });
                continue;
            }
            guard.unlock();
            TextArena::Chunk chunk = TextArena::Chunk::None();
            try {
                chunk = TextArena::Chunk(size_);
            } catch (const std::bad_alloc&) {
                // The system refuses memory: the parser asks for its own and learns why.
            }
            // Page by page, looking up now and then: a pass that ends (a stop, another file)
            // joins this thread within a fraction of a millisecond, not a whole chunk later.
            char* const block = chunk ? chunk.get() : nullptr;
            for (std::size_t at = 0; block != nullptr && at < size_; at += kPage) {
                if (at % kLookEvery == 0 && stopping_.load(std::memory_order_relaxed)) {
                    return;
                }
                block[at] = 0;
            }
            guard.lock();
            if (!chunk) {
                return;
            }
            ready_.push_back(std::move(chunk));
        }
    }

    static constexpr std::size_t kPage = 4096;
    static constexpr std::size_t kLookEvery = std::size_t{256} << 10;

    const std::size_t depth_;
    const std::size_t size_;
    std::mutex mutex_;
    std::condition_variable wanted_;
    std::vector<TextArena::Chunk> ready_;  // guarded by mutex_
    bool quit_ = false;                    // guarded by mutex_
    std::atomic<bool> stopping_{false};    // quit_, as seen while a chunk is being made
    std::thread thread_;                   // last: it starts once everything above exists
};
