// Append-only storage for the store's texts: one allocation per few megabytes instead of one per
// text, freed all at once when the store is cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/platform.h"

class TextArena {
  public:
    // A block of kChunk bytes for the arena.
    class Chunk {
      public:
        Chunk() : block_(static_cast<char*>(AllocateBulk(kChunk))) {
            if (block_ == nullptr) {
                throw std::bad_alloc();
            }
        }
        Chunk(Chunk&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
        Chunk& operator=(Chunk&& other) noexcept {
            std::swap(block_, other.block_);
            return *this;
        }
        ~Chunk() { FreeBulk(block_, kChunk); }
        char* get() const { return block_; }
        explicit operator bool() const { return block_ != nullptr; }
        // A fresh block whose pages the system has already supplied, so that first use does not
        // wait for it: made without a lock held, used under one.
        static Chunk Prefaulted() {
            Chunk chunk;
            for (std::size_t at = 0; at < kChunk; at += 4096) {
                chunk.block_[at] = 0;
            }
            return chunk;
        }
        static Chunk None() { return Chunk(nullptr); }

      private:
        explicit Chunk(char* block) : block_(block) {}
        char* block_;
    };

    // Room for `size` bytes aligned to `alignment`, valid until Clear.
    char* Allocate(std::size_t size, std::size_t alignment = 1) {
        std::size_t pad =
            (alignment - reinterpret_cast<std::uintptr_t>(cursor_) % alignment) % alignment;
        if (size + pad > left_) {
            if (size > kChunk / 4) {
                // A large text gets a block of its own, so the chunk in use is not abandoned.
                big_.push_back(std::unique_ptr<char[]>(new char[size + alignment]));
                char* p = big_.back().get();
                return p +
                       (alignment - reinterpret_cast<std::uintptr_t>(p) % alignment) % alignment;
            }
            if (next_) {
                chunks_.push_back(std::move(next_));
                next_ = Chunk::None();
            } else {
                chunks_.emplace_back();
            }
            cursor_ = chunks_.back().get();
            left_ = kChunk;
            pad = (alignment - reinterpret_cast<std::uintptr_t>(cursor_) % alignment) % alignment;
        }
        char* p = cursor_ + pad;
        cursor_ = p + size;
        left_ -= size + pad;
        return p;
    }

    std::string_view Copy(std::string_view text) {
        if (text.empty()) {
            return {};
        }
        char* p = Allocate(text.size());
        std::memcpy(p, text.data(), text.size());
        return {p, text.size()};
    }

    void Clear() {
        chunks_.clear();
        big_.clear();
        next_ = Chunk::None();
        cursor_ = nullptr;
        left_ = 0;
    }

    // Whether a chunk to continue in is waiting; see SetNext.
    bool HasNext() const { return static_cast<bool>(next_); }
    // The chunk to continue in once the current one is full, instead of one the arena would get
    // itself (at that moment, under its owner's lock).
    void SetNext(Chunk chunk) { next_ = std::move(chunk); }

  private:
    // One large page, where the system backs the chunk with large pages.
    static constexpr std::size_t kChunk = std::size_t{2} << 20;

    std::vector<Chunk> chunks_;
    std::vector<std::unique_ptr<char[]>> big_;
    Chunk next_ = Chunk::None();
    char* cursor_ = nullptr;
    std::size_t left_ = 0;
};
