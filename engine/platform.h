// The engine's few system facilities besides files and drives.
#pragma once

// Enables a privilege (such as "SeDebugPrivilege") in the process's own token; true when it is now
// enabled. Off Windows there are none to enable: false.
bool EnablePrivilege(const char* name);

// Writes one line to the debugger's output (Windows); elsewhere it goes nowhere.
void WriteDebugTrace(const char* text);
