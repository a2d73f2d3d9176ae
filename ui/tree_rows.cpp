#include "ui/tree_rows.h"

#include <algorithm>
#include <iterator>
#include <cstring>

#include "engine/text.h"

namespace {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) {
    return r | (g << 8) | (b << 16);
}

int32_t DepthOf(const ProcessRecord& record) {
    int32_t depth = 0;
    for (const ProcessRecord* p = record.parent; p != nullptr; p = p->parent) {
        ++depth;
    }
    return depth;
}

}  // namespace

int IconIndexCache::IndexFor(std::string_view imagePath) {
    const std::size_t slash = imagePath.rfind('\\');
    const std::string_view name =
        slash == std::string_view::npos ? imagePath : imagePath.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    std::string extension(dot == std::string_view::npos ? std::string_view() : name.substr(dot));
    for (char& c : extension) {
        c = AsciiLower(c);
    }
    const auto it = byExtension_.find(extension);
    if (it != byExtension_.end()) {
        return it->second;
    }
    const int index = lookup_ ? lookup_(std::string(imagePath)) : -1;
    byExtension_.emplace(std::move(extension), index);
    return index;
}

ProcessRow MakeProcessRow(const ProcessRecord& record, int32_t depth, int32_t descendants,
                          IconIndexCache& icons) {
    ProcessRow row;
    row.name = record.name;
    row.id = static_cast<int32_t>(record.id);
    row.pid = static_cast<int32_t>(record.pid);
    row.ppid = static_cast<int32_t>(record.ppid);
    row.imagePath = record.imagePath;
    row.commandLine = record.commandLine;
    row.startTime = record.startTime;
    row.handling = record.handling;
    row.state = static_cast<uint8_t>(record.state);
    row.descendantCount = descendants;
    row.expandState = record.children.empty() ? ExpandState::kNone : ExpandState::kExpanded;
    row.indent = 4 * depth;
    row.iconIndex = icons.IndexFor(row.imagePath);
    if (record.state == 0) {
        row.textColor = Rgb(198, 198, 198);
        row.backColor = Rgb(230, 230, 230);
        if (!IsOrdinaryHandling(record.handling)) {
            row.textColor = Rgb(255, 102, 51);
        }
    }
    return row;
}

SubtreeRowMaker::SubtreeRowMaker(std::vector<ProcessRow>& rows, const ProcessList& list,
                                 IconIndexCache& icons, const KeptProcessSet* kept)
    : rows_(rows), list_(list), icons_(icons), kept_(kept), first_(rows.size()) {
    stack_.push_back({nullptr, 0, 0, 0});
}

bool SubtreeRowMaker::Continue(Clock::time_point deadline) {
    // Rows are made in one pre-order pass at the end of the table; a record's descendant count is
    // the number of rows made for its subtree, known when the walk leaves it, and so is the number
    // of unusual processes among them.
    constexpr unsigned kRowsPerCheck = 64;  // the clock may cost more than a row
    unsigned sinceCheck = 0;
    while (!stack_.empty()) {
        Frame& frame = stack_.back();
        const ProcessList& list = frame.owner != nullptr ? frame.owner->children : list_;
        if (frame.next >= list.size()) {
            if (frame.owner != nullptr) {
                const auto descendants = static_cast<int32_t>(rows_.size() - frame.ownerRow - 1);
                frame.owner->shownDescendants = descendants;
                ProcessRow& ownerRow = rows_[frame.ownerRow];
                ownerRow.descendantCount = descendants;
                ownerRow.unusualDescendants = unusualMade_ - frame.unusualBefore;
                if (descendants == 0) {
                    ownerRow.expandState = ExpandState::kNone;  // the filter left out every child
                }
            }
            stack_.pop_back();
            continue;
        }
        if (stopWhenFull_ && rows_.size() == rows_.capacity()) {
            return false;
        }
        ProcessRecord& record = *list[frame.next++];
        // A process the filter leaves out has no kept descendant either: its subtree is skipped.
        if (kept_ != nullptr && kept_->count(&record) == 0) {
            continue;
        }
        if (baseDepth_ < 0) {
            baseDepth_ = DepthOf(record);  // the records of one list share a parent
        }
        const int32_t depth = baseDepth_ + static_cast<int32_t>(stack_.size()) - 1;
        record.shownDescendants = 0;
        rows_.push_back(MakeProcessRow(record, depth, 0, icons_));
        if (!IsOrdinaryHandling(record.handling)) {
            ++unusualMade_;
        }
        if (!record.children.empty()) {
            stack_.push_back({&record, 0, rows_.size() - 1, unusualMade_});
        }
        if (++sinceCheck == kRowsPerCheck) {
            sinceCheck = 0;
            if (Clock::now() >= deadline) {
                return stack_.empty();
            }
        }
    }
    return true;
}

void SubtreeRowMaker::MakeRoom() {
    if (rows_.size() == rows_.capacity()) {
        rows_.reserve(std::max<std::size_t>(1024, 2 * rows_.capacity()));
    }
}

int32_t AppendSubtreeRows(std::vector<ProcessRow>& rows, std::size_t index, const ProcessList& list,
                          IconIndexCache& icons, const KeptProcessSet* kept) {
    const std::size_t first = rows.size();
    SubtreeRowMaker maker(rows, list, icons, kept);
    maker.stopWhenFull_ = false;  // in one hold anyway
    maker.Continue(SubtreeRowMaker::Clock::time_point::max());
    // The new rows are rotated into position when they belong elsewhere: no row is copied twice.
    if (index < first) {
        std::rotate(rows.begin() + static_cast<std::ptrdiff_t>(index),
                    rows.begin() + static_cast<std::ptrdiff_t>(first), rows.end());
    }
    return static_cast<int32_t>(rows.size() - first);
}

void FoldRow(std::vector<ProcessRow>& rows, std::size_t row, ProcessRecord& record) {
    const int32_t shown = record.shownDescendants;
    const auto first = rows.begin() + static_cast<std::ptrdiff_t>(row) + 1;
    const std::size_t available = rows.size() - row - 1;
    rows.erase(first, first + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                  static_cast<std::size_t>(shown), available)));
    for (ProcessRecord* a = record.parent; a != nullptr; a = a->parent) {
        a->shownDescendants -= shown;
    }
    rows[row].expandState = ExpandState::kCollapsed;
}

std::vector<ProcessRow> FoldRowKeeping(std::vector<ProcessRow>& rows, std::size_t row,
                                       ProcessRecord& record) {
    const std::size_t first = row + 1;
    const std::size_t count = std::min<std::size_t>(
        static_cast<std::size_t>(std::max(record.shownDescendants, 0)), rows.size() - first);
    const auto begin = rows.begin() + static_cast<std::ptrdiff_t>(first);
    const auto end = begin + static_cast<std::ptrdiff_t>(count);
    if (count <= rows.size() - count) {
        std::vector<ProcessRow> kept(std::make_move_iterator(begin), std::make_move_iterator(end));
        FoldRow(rows, row, record);
        return kept;
    }
    // The subtree is most of the table: it keeps the table's storage and the few rows around it
    // move to a new one. Fresh memory for a table of 100,000 rows costs more (under Wine, tens of
    // ms of page faults) than the fold itself.
    std::vector<ProcessRow> around;
    around.reserve(rows.size() - count);
    around.insert(around.end(), std::make_move_iterator(rows.begin()),
                  std::make_move_iterator(begin));
    around.insert(around.end(), std::make_move_iterator(end), std::make_move_iterator(rows.end()));
    rows.erase(end, rows.end());
    rows.erase(rows.begin(), begin);
    std::vector<ProcessRow> kept = std::move(rows);
    rows = std::move(around);
    for (ProcessRecord* a = record.parent; a != nullptr; a = a->parent) {
        a->shownDescendants -= record.shownDescendants;  // as FoldRow does
    }
    rows[row].expandState = ExpandState::kCollapsed;
    return kept;
}

bool UnfoldRowFromKept(std::vector<ProcessRow>& rows, std::size_t row, ProcessRecord& record,
                       KeptFolds& kept, const std::function<ProcessRecord*(int32_t id)>& recordOf) {
    // First make sure every fold inside has its rows and record, so that a failure changes nothing.
    std::vector<int32_t> pending{rows[row].id};
    while (!pending.empty()) {
        const int32_t id = pending.back();
        pending.pop_back();
        const auto it = kept.find(id);
        if (it == kept.end() || (id != rows[row].id && recordOf(id) == nullptr)) {
            return false;
        }
        for (const ProcessRow& inner : it->second) {
            if (inner.expandState == ExpandState::kCollapsed) {
                pending.push_back(inner.id);
            }
        }
    }
    const auto own = kept.find(rows[row].id);
    std::vector<ProcessRow> subtree = std::move(own->second);
    kept.erase(own);
    // Rows folded inside get theirs right after them; the walk then goes through those too.
    for (std::size_t i = 0; i < subtree.size(); ++i) {
        if (subtree[i].expandState != ExpandState::kCollapsed) {
            continue;
        }
        const auto inner = kept.find(subtree[i].id);
        std::vector<ProcessRow> innerRows = std::move(inner->second);
        kept.erase(inner);
        ProcessRecord* innerRecord = recordOf(subtree[i].id);
        const auto shown = static_cast<int32_t>(innerRows.size());
        innerRecord->shownDescendants = shown;
        for (ProcessRecord* a = innerRecord->parent; a != nullptr && a != &record; a = a->parent) {
            a->shownDescendants += shown;
        }
        subtree[i].expandState = ExpandState::kExpanded;
        subtree.insert(subtree.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                       std::make_move_iterator(innerRows.begin()),
                       std::make_move_iterator(innerRows.end()));
    }
    const auto shown = static_cast<int32_t>(subtree.size());
    const auto at = static_cast<std::ptrdiff_t>(row) + 1;
    if (rows.capacity() < rows.size() + subtree.size() &&
        subtree.capacity() >= rows.size() + subtree.size()) {
        // The kept rows hold the storage of the table before the fold: the rows around them go
        // back into it rather than into fresh memory.
        subtree.insert(subtree.begin(), std::make_move_iterator(rows.begin()),
                       std::make_move_iterator(rows.begin() + at));
        subtree.insert(subtree.end(), std::make_move_iterator(rows.begin() + at),
                       std::make_move_iterator(rows.end()));
        rows = std::move(subtree);
    } else {
        rows.insert(rows.begin() + at, std::make_move_iterator(subtree.begin()),
                    std::make_move_iterator(subtree.end()));
    }
    record.shownDescendants = shown;
    for (ProcessRecord* a = record.parent; a != nullptr; a = a->parent) {
        a->shownDescendants += shown;
    }
    rows[row].expandState = ExpandState::kExpanded;
    return true;
}

void UnfoldRow(std::vector<ProcessRow>& rows, std::size_t row, ProcessRecord& record,
               IconIndexCache& icons, const KeptProcessSet* kept) {
    const int32_t shown = AppendSubtreeRows(rows, row + 1, record.children, icons, kept);
    record.shownDescendants = shown;
    for (ProcessRecord* a = record.parent; a != nullptr; a = a->parent) {
        a->shownDescendants += shown;
    }
    rows[row].expandState = ExpandState::kExpanded;
}
