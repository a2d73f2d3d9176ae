// A text image of a whole store, for comparing two stores in tests.
#pragma once

#include <string>

#include "engine/log_analyzer.h"

inline std::string DumpStore(LogAnalyzer& analyzer) {
    std::lock_guard guard(analyzer.lock);
    std::string out;
    struct Frame {
        const ProcessRecord* record;
        int depth;
    };
    std::vector<Frame> stack;
    for (auto it = analyzer.roots.rbegin(); it != analyzer.roots.rend(); ++it) {
        stack.push_back({*it, 0});
    }
    while (!stack.empty()) {
        const auto [p, depth] = stack.back();
        stack.pop_back();
        out += std::string(static_cast<std::size_t>(depth), ' ') + std::to_string(p->id) + " " +
               std::to_string(p->pid) + " " + std::to_string(p->ppid) + " " +
               std::to_string(p->state) + " " + p->name + "|" + p->imagePath + "|" +
               p->commandLine + "|";
        for (const ProcessAttribute& attribute : kProcessAttributes) {
            out += p->*attribute.field + "|";
        }
        out += p->startTime + "|" + p->handling + "\n";
        for (const BehaviorRecord& b : p->behaviors) {
            out += std::string(static_cast<std::size_t>(depth), ' ') + "  - " +
                   std::string(b.time()) + "|" + std::string(b.action()) + "|" +
                   std::string(b.info()) + "|" + std::string(b.detail()) + "|" +
                   std::string(b.handling()) + "\n";
        }
        for (auto it = p->children.rbegin(); it != p->children.rend(); ++it) {
            stack.push_back({*it, depth + 1});
        }
    }
    return out;
}
