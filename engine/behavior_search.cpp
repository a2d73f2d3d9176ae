#include "engine/behavior_search.h"

#include <algorithm>

#include "engine/log_analyzer.h"

namespace {

// Looking at the clock costs more than searching a behaviour: it is looked at every so many.
constexpr std::size_t kBehaviorsPerCheck = 256;
constexpr uint64_t kProcessesPerCheck = 64;
// Long enough for a woken thread to be scheduled on a busy machine; the search still goes on when
// others keep asking for the lock.
constexpr auto kLetInLimit = std::chrono::milliseconds(20);

// Behaviours of one process lie scattered through the store's texts, among those of every other
// process: reading each one's texts is a wait for memory unless it was asked for early.
constexpr std::size_t kPrefetchAhead = 16;

inline void Prefetch(const void* at) {
#if defined(__GNUC__)
    if (at != nullptr) {
        __builtin_prefetch(at);
        __builtin_prefetch(static_cast<const char*>(at) + 64);
    }
#else
    (void)at;
#endif
}

bool TimeUp(BehaviorSearch::Clock::time_point deadline, const std::atomic<bool>* cancel) {
    return (cancel != nullptr && cancel->load(std::memory_order_relaxed)) ||
           BehaviorSearch::Clock::now() >= deadline;
}

}  // namespace

BehaviorSearch::BehaviorSearch(BehaviorQuery query) : query_(std::move(query)) {}

bool BehaviorSearch::KeepsAction(std::string_view action) {
    if (query_.actions.empty()) {
        return true;
    }
    if (action.data() != lastAction_) {
        lastAction_ = action.data();
        lastActionKept_ = query_.KeepsAction(action);
    }
    return lastActionKept_;
}

void BehaviorSearch::LeaveCurrent() {
    if (searched_ == nullptr || current_ == nullptr) {
        return;
    }
    const auto& behaviors = current_->behaviors;
    if (behaviors.empty() && behaviors.removals() == 0) {
        return;  // nothing to search, now or later: most processes of a big log
    }
    searched_->push_back({current_, next_, removals_, reorders_, !currentHits_.empty()});
}

bool BehaviorSearch::NextProcess(const ProcessList& roots) {
    LeaveCurrent();
    while (!stack_.empty()) {
        Frame& top = stack_.back();
        const ProcessList& list = top.owner != nullptr ? top.owner->children : roots;
        if (top.next == list.size()) {
            stack_.pop_back();
            continue;
        }
        current_ = list[top.next++];
        stack_.push_back({current_, 0});
        next_ = 0;
        reorders_ = current_->behaviors.Reorders();
        removals_ = current_->behaviors.removals();
        currentHits_.clear();
        reported_.clear();
        rescanning_ = false;
        ++processesSearched_;
        return true;
    }
    current_ = nullptr;
    return false;
}

bool BehaviorSearch::SearchCurrent(std::vector<BehaviorHit>& hits, Clock::time_point deadline,
                                   const std::atomic<bool>* cancel) {
    auto& behaviors = current_->behaviors;
    if (firstHitOnly_ && !currentHits_.empty()) {
        return true;  // answered; a sort keeps the hit
    }
    if (behaviors.Reorders() != reorders_) {
        // Sorted since the last piece: search it again, reporting only what is new.
        reorders_ = behaviors.Reorders();
        next_ = 0;
        rescanning_ = true;
        reported_.insert(currentHits_.begin(), currentHits_.end());
    }
    std::size_t sinceCheck = 0;
    const std::size_t size = behaviors.size();
    for (std::size_t i = next_; i < std::min(size, next_ + kPrefetchAhead); ++i) {
        Prefetch(behaviors[i].Identity());
    }
    while (next_ < size) {
        if (next_ + kPrefetchAhead < size) {
            Prefetch(behaviors[next_ + kPrefetchAhead].Identity());
        }
        const BehaviorRecord& behavior = behaviors[next_];
        if (KeepsAction(behavior.action())) {
            const std::string_view info = behavior.info();
            bool found = query_.pattern.FoundIn(info);
            if (!found) {
                const std::string_view detail = behavior.detail();
                found = detail.data() != info.data() && query_.pattern.FoundIn(detail);
            }
            if (found && (!rescanning_ || reported_.insert(behavior.Identity()).second)) {
                currentHits_.push_back(behavior.Identity());
                hits.push_back({current_, next_, behavior});
            }
            if (found && firstHitOnly_) {
                // Its other behaviours cannot change the answer, those to come neither.
                behaviorsSearched_ += size - next_;
                next_ = size;
                return true;
            }
        }
        ++next_;
        ++behaviorsSearched_;
        if (++sinceCheck == kBehaviorsPerCheck) {
            sinceCheck = 0;
            if (next_ < size && TimeUp(deadline, cancel)) {
                return false;
            }
        }
    }
    return true;
}

bool BehaviorSearch::Continue(const ProcessList& roots, std::vector<BehaviorHit>& hits,
                              Clock::time_point deadline, const std::atomic<bool>* cancel) {
    if (!started_) {
        started_ = true;
        stack_.push_back({nullptr, 0});
    }
    if (done_) {
        return true;
    }
    if (cancel != nullptr && cancel->load()) {
        return false;
    }
    // No look at the clock before some work is done: every piece makes progress.
    uint64_t sinceCheck = 0;
    for (;;) {
        if (current_ != nullptr) {
            if (!SearchCurrent(hits, deadline, cancel)) {
                return false;
            }
            // Sequences may still grow: the process is left once searched to its current end.
        }
        if (!NextProcess(roots)) {
            done_ = true;
            return true;
        }
        if (++sinceCheck == kProcessesPerCheck) {
            sinceCheck = 0;
            if (TimeUp(deadline, cancel)) {
                return false;
            }
        }
    }
}

bool SearchInSlices(LogAnalyzer& analyzer, BehaviorSearch& search,
                    BehaviorSearch::Clock::duration slice, const std::atomic<bool>& cancel,
                    const std::function<void(std::vector<BehaviorHit>& hits)>& afterSlice,
                    SliceStats* stats) {
    std::vector<BehaviorHit> hits;
    for (;;) {
        bool finished = false;
        {
            const ProcessStore::Reader store = analyzer.Store().Read();
            const auto taken = BehaviorSearch::Clock::now();
            finished = search.Continue(store.roots(), hits, taken + slice, &cancel);
            if (stats != nullptr) {
                const auto held = BehaviorSearch::Clock::now() - taken;
                ++stats->slices;
                if (held > stats->longestHold) {
                    stats->longestHold = held;
                }
            }
        }
        if (cancel.load()) {
            return false;
        }
        if (afterSlice) {
            afterSlice(hits);
        }
        hits.clear();
        if (finished) {
            return true;
        }
        // Whoever waits for the lock gets it before the next piece takes it again.
        analyzer.Store().LetWaitersIn(kLetInLimit);
    }
}

std::unordered_set<const ProcessRecord*> KeptProcesses(const ProcessList& roots,
                                                       const SearchPattern& pattern) {
    std::unordered_set<const ProcessRecord*> kept;
    KeepMatchingBranches(
        roots, [&pattern](const ProcessRecord& p) { return ProcessMatches(p, pattern); }, kept);
    return kept;
}
