// One row of the process list: copies of a process record's texts and how the row is drawn. The
// list control reads only the drawing fields and the handling; the owner fills everything.
#pragma once

#include "engine/text.h"

#include <cstdint>
#include <string>
#include <string_view>

// Whether a row shows a fold box, and which.
enum class ExpandState : int8_t {
    kNone = -1,      // no children: no box
    kCollapsed = 0,  // the plus box: its descendants are hidden
    kExpanded = 1,   // the minus box
};

struct ProcessRow {
    std::string name;         // column 0
    int32_t id = 0;           // the record's number in the log, column 9: the way back to the store
    int32_t pid = 0;          // column 1
    int32_t ppid = 0;         // column 2
    std::string imagePath;    // column 3
    std::string commandLine;  // column 4
    std::string startTime;    // column 7
    std::string handling;     // column 8; decides colours
    uint8_t state = 0;        // column 5: 1 running, 0 ended
    int32_t descendantCount = 0;  // column 6
    ExpandState expandState = ExpandState::kNone;
    int32_t indent = 0;      // in units of 8 pixels
    int32_t iconIndex = -1;  // in the system's small image list; -1 none
    uint32_t textColor = 0;  // 0x00BBGGRR like COLORREF; 0 means none
    uint32_t backColor = 0;  // 0 means none; custom colours need both
    // Processes among the descendants whose handling is not ordinary: a folded row hides them, and
    // its count in column 6 says so.
    int32_t unusualDescendants = 0;
};

// "system", "report" and the empty text, in any letter case, are ordinary handling; anything else
// marks the row.
inline bool IsOrdinaryHandling(std::string_view handling) {
    return handling.empty() || EqualsNoCaseMultibyte(handling, "system") ||
           EqualsNoCaseMultibyte(handling, "report");
}
