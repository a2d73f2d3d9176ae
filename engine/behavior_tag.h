// The line tags of the behaviour log, in the order the parser tests them.
#pragma once

#include <span>
#include <string_view>

enum class TagHandling {
    ProcessCreate,  // [PRO]
    ProcessEnd,     // [PRO_DIE]
    Ordinary,       // one behaviour with the line's details
    ModuleLoad,     // [MOD]
    DriverLoad,     // [SYS]
};

struct BehaviorTag {
    std::string_view tag;
    std::string_view label;  // action label of the behaviour; empty for [PRO_DIE]
    TagHandling handling;
};

std::span<const BehaviorTag> BehaviorTags();

// The first tag of the table that `line` begins with (ASCII case ignored), or null.
const BehaviorTag* MatchBehaviorTag(std::string_view line);
