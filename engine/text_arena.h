// Append-only storage for the store's texts: one allocation per megabyte instead of one per text,
// freed all at once when the store is cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

class TextArena {
  public:
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
            chunks_.push_back(std::unique_ptr<char[]>(new char[kChunk]));
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
        cursor_ = nullptr;
        left_ = 0;
    }

  private:
    static constexpr std::size_t kChunk = 1 << 20;
    std::vector<std::unique_ptr<char[]>> chunks_;
    std::vector<std::unique_ptr<char[]>> big_;
    char* cursor_ = nullptr;
    std::size_t left_ = 0;
};
