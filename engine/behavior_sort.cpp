#include "engine/behavior_sort.h"

#include <algorithm>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace {

template <std::string_view (BehaviorRecord::*Key)() const>
void SortBy(SegmentedArray<BehaviorRecord>& behaviors, bool ascending) {
    // string_view compares through char_traits<char>::compare, which is memcmp: unsigned bytes.
    if (ascending) {
        std::sort(behaviors.begin(), behaviors.end(),
                  [](const BehaviorRecord& a, const BehaviorRecord& b) {
                      return (a.*Key)() < (b.*Key)();
                  });
    } else {
        std::sort(behaviors.begin(), behaviors.end(),
                  [](const BehaviorRecord& a, const BehaviorRecord& b) {
                      return (b.*Key)() < (a.*Key)();
                  });
    }
}

using KeyOf = std::string_view (BehaviorRecord::*)() const;

KeyOf ColumnKey(int column) {
    switch (column) {
        case 0:
            return &BehaviorRecord::time;
        case 1:
            return &BehaviorRecord::action;
        case 2:
            return &BehaviorRecord::handling;
        case 3:
            return &BehaviorRecord::info;
        default:
            return nullptr;
    }
}

// A record with its key. std::sort moves elements by the outcomes of its comparisons alone, so
// sorting these by key reorders them exactly as SortBy reorders the records themselves, equal keys
// included.
struct Keyed {
    const char* key;
    std::size_t length;
    BehaviorRecord record;
};

// Key bytes a slice is expected to need (infos are long, the other keys short), made ready before
// the lock is taken: fresh memory first touched under the lock would keep the follower waiting
// while the system supplies it.
std::size_t SliceKeyBytes(int column) {
    return kSortSlice * (column == 3 ? 160 : 32);
}

// The store's lock for one hold, noting how long it was held when asked to.
class Hold {
  public:
    Hold(const ProcessStore& store, std::chrono::steady_clock::duration* longest)
        : reader_(store.Read()), longest_(longest) {
        if (longest_ != nullptr) {
            since_ = std::chrono::steady_clock::now();
        }
    }
    ~Hold() {
        if (longest_ != nullptr) {
            *longest_ = std::max(*longest_, std::chrono::steady_clock::now() - since_);
        }
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

  private:
    ProcessStore::Reader reader_;
    std::chrono::steady_clock::duration* longest_;
    std::chrono::steady_clock::time_point since_;
};

// One attempt of SortBehaviorsOffLock: 1 sorted, 0 nothing to do (the list was dropped), -1
// elements were taken away meanwhile, so the copy is no longer a prefix of the sequence.
int SortOnce(const ProcessStore& store, SegmentedArray<BehaviorRecord>* const& target, KeyOf key,
             int column, bool ascending, std::chrono::steady_clock::duration* longestHold) {
    SegmentedArray<BehaviorRecord>* behaviors = nullptr;
    std::size_t count = 0;
    std::size_t removals = 0;
    {
        Hold guard(store, longestHold);
        behaviors = target;
        if (behaviors == nullptr) {
            return 0;
        }
        count = behaviors->size();
        removals = behaviors->removals();
    }
    // The keys are copied, not viewed: the store may be cleared while they are sorted. Each slice
    // keeps its own key bytes, so that no hold of the lock copies the keys gathered before.
    std::vector<Keyed> keyed(count);
    std::deque<std::string> keys;
    std::vector<std::size_t> offsets(kSortSlice);
    for (std::size_t start = 0; start < count; start += kSortSlice) {
        const std::size_t end = std::min(count, start + kSortSlice);
        std::string& bytes = keys.emplace_back(SliceKeyBytes(column), '\0');
        bytes.clear();
        {
            Hold guard(store, longestHold);
            if (target != behaviors) {
                return 0;
            }
            if (behaviors->removals() != removals) {
                return -1;
            }
            for (std::size_t i = start; i < end; ++i) {
                const BehaviorRecord& record = (*behaviors)[i];
                const std::string_view text = (record.*key)();
                // The offset for now; the address once the bytes no longer move.
                offsets[i - start] = bytes.size();
                keyed[i] = Keyed{nullptr, text.size(), record};
                bytes.append(text);
            }
        }
        for (std::size_t i = start; i < end; ++i) {
            keyed[i].key = bytes.data() + offsets[i - start];
        }
    }
    const auto view = [](const Keyed& k) { return std::string_view(k.key, k.length); };
    if (ascending) {
        std::sort(keyed.begin(), keyed.end(),
                  [&view](const Keyed& a, const Keyed& b) { return view(a) < view(b); });
    } else {
        std::sort(keyed.begin(), keyed.end(),
                  [&view](const Keyed& a, const Keyed& b) { return view(b) < view(a); });
    }
    SegmentedArray<BehaviorRecord> sorted;
    for (const Keyed& k : keyed) {
        sorted.push_back(k.record);
    }
    {
        Hold guard(store, longestHold);
        if (target != behaviors) {
            return 0;
        }
        if (behaviors->removals() != removals) {
            return -1;
        }
        // Only what was appended meanwhile is copied under this hold.
        for (std::size_t i = count; i < behaviors->size(); ++i) {
            sorted.push_back((*behaviors)[i]);
        }
        std::swap(*behaviors, sorted);
    }
    // The old blocks are freed here, after the lock is released.
    return 1;
}

}  // namespace

void SortBehaviors(SegmentedArray<BehaviorRecord>& behaviors, int column, bool ascending) {
    switch (column) {
        case 0:
            SortBy<&BehaviorRecord::time>(behaviors, ascending);
            break;
        case 1:
            SortBy<&BehaviorRecord::action>(behaviors, ascending);
            break;
        case 2:
            SortBy<&BehaviorRecord::handling>(behaviors, ascending);
            break;
        case 3:
            SortBy<&BehaviorRecord::info>(behaviors, ascending);
            break;
        default:
            return;
    }
    behaviors.NoteReordered();
}

bool SortBehaviorsOffLock(const ProcessStore& store, SegmentedArray<BehaviorRecord>* const& target,
                          int column, bool ascending,
                          std::chrono::steady_clock::duration* longestHold) {
    const KeyOf key = ColumnKey(column);
    if (key == nullptr) {
        return false;
    }
    // A behaviour withdrawn meanwhile (a held line taken back) would leave the copy wrong: the
    // sort then starts again.
    for (;;) {
        const int outcome = SortOnce(store, target, key, column, ascending, longestHold);
        if (outcome >= 0) {
            return outcome == 1;
        }
    }
}
