// [MOD] and [SYS] lines: module and driver loads.
#include "engine/log_analyzer.h"

void LogAnalyzer::ParseLoadLine(const std::vector<std::string_view>& fields, bool isModule) {
    // Not read yet: the signer lookup that filters module loads is still to come.
    (void)fields;
    (void)isModule;
}
