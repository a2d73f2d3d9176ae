// Standard output with its failures kept: a command whose output was lost (a full disk, a closed
// pipe) must not end as a success.
#pragma once

#include <string_view>

// Writes `bytes` to standard output; false once any write has failed, which is remembered.
bool WriteOutput(std::string_view bytes);
// True when a write has failed so far: a command may stop producing output nobody receives.
bool OutputFailed();
// Flushes and closes standard output. Returns `exitCode` when everything written arrived;
// otherwise says so on standard error and returns kExitFailure.
int FinishOutput(int exitCode);
