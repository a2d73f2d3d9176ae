// The process tree as rows of the process list: a depth-first listing of the store, with folding.
// Portable, so that it is tested and measured on any platform; the main window calls it with the
// store's lock held as each function says.
#pragma once

// steady_clock comes with <thread>; the whole <chrono> does not compile for the GBK build.
#include <thread>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "controls/process_row.h"
#include "engine/process_record.h"

// The system-image-list index of the icon for a file of imagePath's type. The shell is asked by
// type only, so the answer depends on the extension alone: it is asked once per extension.
class IconIndexCache {
  public:
    using Lookup = std::function<int(const std::string& imagePath)>;
    explicit IconIndexCache(Lookup lookup) : lookup_(std::move(lookup)) {}
    int IndexFor(std::string_view imagePath);

  private:
    Lookup lookup_;
    std::unordered_map<std::string, int> byExtension_;
};

// The processes a filter keeps (ui/tree_filter.h); a kept process has every ancestor kept.
using KeptProcessSet = std::unordered_set<const ProcessRecord*>;

// Inserts, at `index`, one row for every record of `list` and for all their descendants, unfolded,
// in depth-first pre-order; sets each record's shownDescendants to its descendant count and each
// row's unusualDescendants. With `kept`, only the records it holds get rows (a row whose children
// are all left out has no box). Returns the number of rows inserted. Needs the store's lock.
// Linear in the rows it makes.
int32_t AppendSubtreeRows(std::vector<ProcessRow>& rows, std::size_t index, const ProcessList& list,
                          IconIndexCache& icons, const KeptProcessSet* kept = nullptr);

// The rows of a whole tree made in pieces, as AppendSubtreeRows makes them at the end of `rows`, so
// that the store's lock need not be held for all of a big tree at once. Between two pieces the
// parser may add processes: a child of a process whose rows are still being made gets its row,
// one added under a process already left waits for the next rebuild; the rows and their counts
// stay consistent with each other either way. The store must not be cleared between pieces.
// How long a rebuild during a pass holds the store's lock per piece: well under the 10 ms the
// follower may wait for it.
inline constexpr std::chrono::milliseconds kRowPieceTime{5};

class SubtreeRowMaker {
  public:
    using Clock = std::chrono::steady_clock;

    // `list` and `kept` must outlive the maker; `list` may grow between pieces.
    SubtreeRowMaker(std::vector<ProcessRow>& rows, const ProcessList& list, IconIndexCache& icons,
                    const KeptProcessSet* kept = nullptr);
    // Goes on with the store's lock held by the caller until the rows are made (true) or
    // `deadline` has passed (false); also false when the table is full, so that the caller makes
    // it room without the lock (MakeRoom): moving a big table takes longer than a piece.
    bool Continue(Clock::time_point deadline);
    // Between pieces, without the lock: room for more rows when the table is full.
    void MakeRoom();
    // The rows made so far.
    std::size_t Made() const { return rows_.size() - first_; }

  private:
    struct Frame {
        ProcessRecord* owner;  // whose children are walked; null for the list itself
        std::size_t next;
        std::size_t ownerRow;
        int32_t unusualBefore;  // unusual rows made before the owner's children
    };
    std::vector<ProcessRow>& rows_;
    const ProcessList& list_;
    IconIndexCache& icons_;
    const KeptProcessSet* kept_;
    std::size_t first_;
    int32_t baseDepth_ = -1;
    int32_t unusualMade_ = 0;
    std::vector<Frame> stack_;
    bool stopWhenFull_ = true;
    friend int32_t AppendSubtreeRows(std::vector<ProcessRow>&, std::size_t, const ProcessList&,
                                     IconIndexCache&, const KeptProcessSet*);
};

// The row of one record as the list shows it.
ProcessRow MakeProcessRow(const ProcessRecord& record, int32_t depth, int32_t descendants,
                          IconIndexCache& icons);

// Folds row `row` of `record` (its expandState is 1): removes the rows of its shown descendants and
// takes them off every ancestor's count. Needs the store's lock.
void FoldRow(std::vector<ProcessRow>& rows, std::size_t row, ProcessRecord& record);
// Folds as FoldRow does and hands back the rows it took away, in order, for UnfoldRowWith.
std::vector<ProcessRow> FoldRowKeeping(std::vector<ProcessRow>& rows, std::size_t row,
                                       ProcessRecord& record);
// Rows FoldRowKeeping took away, by the id of the folded row.
using KeptFolds = std::unordered_map<int32_t, std::vector<ProcessRow>>;
// Unfolds row `row` of `record` as UnfoldRow does, with the rows FoldRowKeeping took away instead
// of rows made again: rows folded among them come back unfolded too, from `kept` as well, and
// leave it. Only while the rows are those of those folds (no rebuild and no other unfold since).
// False, with nothing changed, when a row folded there has no rows in `kept`.
bool UnfoldRowFromKept(std::vector<ProcessRow>& rows, std::size_t row, ProcessRecord& record,
                       KeptFolds& kept, const std::function<ProcessRecord*(int32_t id)>& recordOf);
// Unfolds row `row` of `record` (expandState 0): its whole subtree comes back unfolded, only the
// records of `kept` when given.
void UnfoldRow(std::vector<ProcessRow>& rows, std::size_t row, ProcessRecord& record,
               IconIndexCache& icons, const KeptProcessSet* kept = nullptr);
