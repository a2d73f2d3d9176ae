// vantrel-cli: the engine for scripts and pipelines. Each command lives in a file of its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

using CliArgs = std::vector<std::string>;

// Each command takes the arguments after its name and returns the process's exit code.
int RunJsonCommand(const CliArgs& args);
int RunStatsCommand(const CliArgs& args);
int RunFeatureCodeCommand(const CliArgs& args);
int RunSignerCommand(const CliArgs& args);
int RunCsvCommand(const CliArgs& args);
int RunFollowCommand(const CliArgs& args);

// Exit codes, as command-line users expect them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// What json and stats say of a log longer than the engine reads.
inline constexpr const char* kCutAtReadCapText =
    "larger than 600 MiB: only its first 600 MiB were read, the rest is left out";

// Writes "vantrel-cli: " and the message to standard error.
void PrintError(std::string_view message);
