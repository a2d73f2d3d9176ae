#include "engine/platform.h"

bool EnablePrivilege(const char*) {
    return false;
}

void WriteDebugTrace(const char*) {}
