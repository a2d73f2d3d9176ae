// The store's index from a process's log id to its record. Logs number their processes 1, 2, 3 and
// so on, so ids mostly fit a plain table indexed by id: one memory access where a hash map takes
// several. Ids far beyond the number of records go to a hash map, so a stray huge id costs no
// memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

struct ProcessRecord;

class IdIndex {
  public:
    ProcessRecord* Find(uint32_t id) const {
        if (id < dense_.size()) {
            return dense_[id];
        }
        const auto it = sparse_.find(id);
        return it == sparse_.end() ? nullptr : it->second;
    }

    // Keeps the first record added for an id.
    void Add(uint32_t id, ProcessRecord* record) {
        ++count_;
        if (id >= dense_.size() && id <= 2 * count_ + kDenseSlack) {
            dense_.resize(std::max<std::size_t>(id + 1, 2 * dense_.size()), nullptr);
            // Ids that now fall inside the table move into it.
            for (auto it = sparse_.begin(); it != sparse_.end();) {
                if (it->first < dense_.size()) {
                    dense_[it->first] = it->second;
                    it = sparse_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        if (id < dense_.size()) {
            if (dense_[id] == nullptr) {
                dense_[id] = record;
            }
        } else {
            sparse_.try_emplace(id, record);
        }
    }

    // Forgets `record` as the record of `id`, if it is.
    void Remove(uint32_t id, const ProcessRecord* record) {
        if (id < dense_.size()) {
            if (dense_[id] == record) {
                dense_[id] = nullptr;
            }
            return;
        }
        const auto it = sparse_.find(id);
        if (it != sparse_.end() && it->second == record) {
            sparse_.erase(it);
        }
    }

    void Clear() {
        dense_.clear();
        dense_.shrink_to_fit();
        sparse_.clear();
        count_ = 0;
    }

  private:
    static constexpr std::size_t kDenseSlack = 65536;
    std::vector<ProcessRecord*> dense_;
    std::unordered_map<uint32_t, ProcessRecord*> sparse_;
    std::size_t count_ = 0;
};
