#include "ui/tree_rows.h"

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

// Sets shownDescendants of every record under `list` (and of the records themselves) to its
// descendant count, children before parents, with a stack of our own: a tree may be thousands of
// levels deep.
void CountAllDescendants(const ProcessList& list) {
    struct Frame {
        ProcessRecord* record;
        std::size_t next;
    };
    std::vector<Frame> stack;
    for (ProcessRecord* top : list) {
        top->shownDescendants = 0;
        stack.push_back({top, 0});
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.record->children.size()) {
                ProcessRecord* child = frame.record->children[frame.next++];
                child->shownDescendants = 0;
                stack.push_back({child, 0});
                continue;
            }
            const int32_t total = frame.record->shownDescendants;
            stack.pop_back();
            if (!stack.empty()) {
                stack.back().record->shownDescendants += total + 1;
            }
        }
    }
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

int32_t CountDescendants(const ProcessRecord& record) {
    int32_t count = 0;
    std::vector<const ProcessRecord*> stack{&record};
    while (!stack.empty()) {
        const ProcessRecord* p = stack.back();
        stack.pop_back();
        count += static_cast<int32_t>(p->children.size());
        stack.insert(stack.end(), p->children.begin(), p->children.end());
    }
    return count;
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
    row.expandState = record.children.empty() ? -1 : 1;
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

int32_t AppendSubtreeRows(std::vector<ProcessRow>& rows, std::size_t index, const ProcessList& list,
                          IconIndexCache& icons) {
    if (list.empty()) {
        return 0;
    }
    CountAllDescendants(list);
    // The records of one list share a parent, so they share a depth.
    const int32_t baseDepth = DepthOf(*list.front());
    std::vector<ProcessRow> made;
    struct Frame {
        const ProcessList* list;
        std::size_t next;
    };
    std::vector<Frame> stack{{&list, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.list->size()) {
            stack.pop_back();
            continue;
        }
        const ProcessRecord& record = *(*frame.list)[frame.next++];
        const int32_t depth = baseDepth + static_cast<int32_t>(stack.size()) - 1;
        made.push_back(MakeProcessRow(record, depth, record.shownDescendants, icons));
        if (!record.children.empty()) {
            stack.push_back({&record.children, 0});
        }
    }
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(index),
                std::make_move_iterator(made.begin()), std::make_move_iterator(made.end()));
    return static_cast<int32_t>(made.size());
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
    rows[row].expandState = 0;
}

void UnfoldRow(std::vector<ProcessRow>& rows, std::size_t row, ProcessRecord& record,
               IconIndexCache& icons) {
    const int32_t shown = AppendSubtreeRows(rows, row + 1, record.children, icons);
    record.shownDescendants = shown;
    for (ProcessRecord* a = record.parent; a != nullptr; a = a->parent) {
        a->shownDescendants += shown;
    }
    rows[row].expandState = 1;
}
