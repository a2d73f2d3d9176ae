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
    // A block of memory for the arena, straight from the system.
    class Chunk {
      public:
        explicit Chunk(std::size_t size)
            : block_(static_cast<char*>(AllocateBulk(size))), size_(size) {
            if (block_ == nullptr) {
                throw std::bad_alloc();
            }
        }
        Chunk(Chunk&& other) noexcept : block_(other.block_), size_(other.size_) {
            other.block_ = nullptr;
        }
        Chunk& operator=(Chunk&& other) noexcept {
            std::swap(block_, other.block_);
            std::swap(size_, other.size_);
            return *this;
        }
        ~Chunk() { FreeBulk(block_, size_); }
        char* get() const { return block_; }
        std::size_t size() const { return size_; }
        explicit operator bool() const { return block_ != nullptr; }
        // A fresh block whose pages the system has already supplied, so that first use does not
        // wait for it: made without a lock held, used under one.
        static Chunk Prefaulted(std::size_t size) {
            Chunk chunk(size);
            for (std::size_t at = 0; at < size; at += 4096) {
                chunk.block_[at] = 0;
            }
            return chunk;
        }
        static Chunk None() { return Chunk(); }

      private:
        Chunk() = default;
        char* block_ = nullptr;
        std::size_t size_ = 0;
    };

    // The size of every chunk after the first.
    static constexpr std::size_t kChunk = std::size_t{2} << 20;

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
                // A small store (most of the tests', a short log) need not take megabytes.
                const bool first = chunks_.empty() && size + alignment <= kFirstChunk;
                chunks_.emplace_back(first ? kFirstChunk : kChunk);
            }
            cursor_ = chunks_.back().get();
            left_ = chunks_.back().size();
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
    // True once the current chunk is half full and no chunk to continue in is waiting.
    bool WantsNext() const {
        return !next_ && !chunks_.empty() && left_ < chunks_.back().size() / 2;
    }
    // The chunk to continue in once the current one is full, instead of one the arena would get
    // itself (at that moment, under its owner's lock).
    void SetNext(Chunk chunk) { next_ = std::move(chunk); }

  private:
    static constexpr std::size_t kFirstChunk = std::size_t{64} << 10;

    std::vector<Chunk> chunks_;
    std::vector<std::unique_ptr<char[]>> big_;
    Chunk next_ = Chunk::None();
    char* cursor_ = nullptr;
    std::size_t left_ = 0;
};
