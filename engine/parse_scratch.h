// Buffers the parser reuses from line to line, so a line costs no allocation for its splitting.
#pragma once

#include <string_view>
#include <vector>

#include "engine/log_analyzer.h"

struct LogAnalyzer::ParseScratch {
    std::vector<std::string_view> fields;
    std::vector<std::string_view> subFields;
};
