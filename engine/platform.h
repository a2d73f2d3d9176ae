// The engine's few system facilities besides files and drives.
#pragma once

#include <cstddef>

// Enables a privilege (such as "SeDebugPrivilege") in the process's own token; true when it is now
// enabled. Off Windows there are none to enable: false.
bool EnablePrivilege(const char* name);

// Writes one line to the debugger's output (Windows); elsewhere it goes nowhere.
void WriteDebugTrace(const char* text);

// Zeroed memory for the store's bulk storage, straight from the system: `size` bytes, page
// aligned, backed by large pages where the system offers them without privileges, so that filling
// hundreds of megabytes does not cost a page fault per 4 KiB. Null when the system refuses.
void* AllocateBulk(std::size_t size);
// Returns a block from AllocateBulk, with the size it was asked for.
void FreeBulk(void* block, std::size_t size);

// Lowers the calling thread's priority below the process's others: for a helper whose work only
// pays when a processor is idle, and which must not take one from the thread it helps.
void LowerThreadPriority();
