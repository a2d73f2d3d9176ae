// A growable array in fixed blocks: appending never moves what is stored, so growing a sequence of
// millions of elements never copies it (under the store's lock, a copy would stall the window).
// Indexable and sortable in place like a vector.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

// Memory for a SegmentedArray's blocks from elsewhere (the store's arena, whose chunks are made
// ready ahead of use), kept by the source until it is cleared as a whole.
class BlockSource {
  public:
    virtual ~BlockSource() = default;
    // Room for `bytes`, aligned to `alignment`, valid until the source is cleared.
    virtual void* TakeBlock(std::size_t bytes, std::size_t alignment) = 0;
    // A block of `bytes` taken earlier that its array no longer uses: the source may hand it out
    // again.
    virtual void GiveBlock(void* block, std::size_t bytes) = 0;
};

template <typename T, std::size_t BlockShift = 10>
class SegmentedArray {
    static constexpr std::size_t kBlock = std::size_t{1} << BlockShift;
    static constexpr std::size_t kMask = kBlock - 1;

  public:
    template <typename Owner, typename Value>
    class Iterator {
      public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = Value*;
        using reference = Value&;

        Iterator() = default;
        Iterator(Owner* array, std::size_t index) : array_(array), index_(index) {}
        // A const iterator from a mutable one.
        template <typename O, typename V>
        Iterator(const Iterator<O, V>& other) : array_(other.array_), index_(other.index_) {}

        reference operator*() const { return (*array_)[index_]; }
        pointer operator->() const { return &(*array_)[index_]; }
        reference operator[](difference_type n) const {
            return (*array_)[index_ + static_cast<std::size_t>(n)];
        }
        Iterator& operator++() { return ++index_, *this; }
        Iterator& operator--() { return --index_, *this; }
        Iterator operator++(int) { return Iterator(array_, index_++); }
        Iterator operator--(int) { return Iterator(array_, index_--); }
        Iterator& operator+=(difference_type n) {
            index_ += static_cast<std::size_t>(n);
            return *this;
        }
        Iterator& operator-=(difference_type n) {
            index_ -= static_cast<std::size_t>(n);
            return *this;
        }
        friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
        friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
        friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const Iterator& a, const Iterator& b) {
            return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
        }
        friend bool operator==(const Iterator& a, const Iterator& b) {
            return a.index_ == b.index_;
        }
        friend auto operator<=>(const Iterator& a, const Iterator& b) {
            return a.index_ <=> b.index_;
        }

      private:
        template <typename, typename>
        friend class Iterator;
        Owner* array_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = Iterator<SegmentedArray, T>;
    using const_iterator = Iterator<const SegmentedArray, const T>;

    std::size_t size() const { return size_; }
    // Changes whenever elements are taken away (erase, clear), never when they are only added: a
    // copy taken earlier is then still a prefix of the array if this has not changed.
    std::size_t removals() const { return removals_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return blocks_[i >> BlockShift][i & kMask]; }
    const T& operator[](std::size_t i) const { return blocks_[i >> BlockShift][i & kMask]; }
    T& back() { return (*this)[size_ - 1]; }
    const T& back() const { return (*this)[size_ - 1]; }
    const T& front() const { return (*this)[0]; }

    void push_back(const T& value) {
        if (next_ == limit_) {
            Grow(nullptr);
        }
        *next_++ = value;
        ++size_;
    }
    // The same, with the blocks that growing needs taken from `blocks` (see BlockSource), which
    // keeps them: the array never frees them.
    void push_back(const T& value, BlockSource& blocks) {
        static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
        if (next_ == limit_) {
            Grow(&blocks);
        }
        ::new (static_cast<void*>(next_++)) T(value);
        ++size_;
    }
    // Removes the element at `i`, moving those after it one place down.
    void erase(std::size_t i) {
        for (; i + 1 < size_; ++i) {
            (*this)[i] = (*this)[i + 1];
        }
        if (next_ == blocks_.back().get()) {
            // The last block is empty: the end moves back to the full block before it.
            blocks_.pop_back();
            limit_ = blocks_.back().get() + (blocks_.size() == 1 ? firstCapacity_ : kBlock);
            next_ = limit_;
        }
        --next_;
        --size_;
        ++removals_;
    }
    void clear() {
        ++removals_;
        blocks_.clear();
        size_ = 0;
        firstCapacity_ = 0;
        next_ = limit_ = nullptr;
    }

    // How often the sequence was reordered in place (its owner says so after a sort), so that a
    // reader who walks it in pieces, letting go of the lock in between, knows when a position no
    // longer holds the element it held.
    uint64_t Reorders() const { return reorders_; }
    void NoteReordered() { ++reorders_; }

    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, size_); }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size_); }

  private:
    // A block, and whether the array owns it (else a BlockSource does).
    struct BlockFree {
        bool owned = true;
        void operator()(T* block) const {
            if (owned) {
                delete[] block;
            }
        }
    };
    using Block = std::unique_ptr<T[], BlockFree>;

    static Block NewBlock(std::size_t capacity, BlockSource* source) {
        if (source == nullptr) {
            return Block(new T[capacity], BlockFree{true});
        }
        return Block(static_cast<T*>(source->TakeBlock(capacity * sizeof(T), alignof(T))),
                     BlockFree{false});
    }

    // Makes room for one more element. The first block grows like a vector (the many short
    // sequences stay small); every later block is whole at once and never moves.
    void Grow(BlockSource* source) {
        if (blocks_.size() == 1 && firstCapacity_ < kBlock) {
            const std::size_t capacity =
                std::min(kBlock, std::max<std::size_t>(4, firstCapacity_ + firstCapacity_ / 2));
            Block bigger = NewBlock(capacity, source);
            std::copy(blocks_[0].get(), blocks_[0].get() + size_, bigger.get());
            if (!blocks_[0].get_deleter().owned) {
                // Another sequence growing through this size takes it next.
                source->GiveBlock(blocks_[0].release(), firstCapacity_ * sizeof(T));
            }
            blocks_[0] = std::move(bigger);
            firstCapacity_ = capacity;
            next_ = blocks_[0].get() + size_;
            limit_ = blocks_[0].get() + capacity;
            return;
        }
        const std::size_t capacity = blocks_.empty() ? 4 : kBlock;
        blocks_.push_back(NewBlock(capacity, source));
        if (blocks_.size() == 1) {
            firstCapacity_ = capacity;
        }
        next_ = blocks_.back().get();
        limit_ = next_ + capacity;
    }

    std::vector<Block> blocks_;
    std::size_t size_ = 0;
    std::size_t removals_ = 0;
    std::size_t firstCapacity_ = 0;
    T* next_ = nullptr;   // where the next element goes
    T* limit_ = nullptr;  // the end of the last block
    uint64_t reorders_ = 0;
};
