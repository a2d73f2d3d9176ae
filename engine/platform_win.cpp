#include <windows.h>

#include "engine/platform.h"

bool EnablePrivilege(const char* name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
        return false;
    }
    bool enabled = false;
    TOKEN_PRIVILEGES privileges{};
    if (LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) {
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        // A token without the privilege still "succeeds", with ERROR_NOT_ALL_ASSIGNED.
        SetLastError(ERROR_SUCCESS);
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        enabled = GetLastError() == ERROR_SUCCESS;
    }
    CloseHandle(token);
    return enabled;
}

void WriteDebugTrace(const char* text) {
    OutputDebugStringA(text);
}

void* AllocateBulk(std::size_t size) {
    // Large pages need the "lock pages in memory" right, which analysts do not have: small pages.
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void LowerThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

void FreeBulk(void* block, std::size_t) {
    if (block != nullptr) {
        VirtualFree(block, 0, MEM_RELEASE);
    }
}
